#!/usr/bin/env python3
"""Runs one of the program benchmarks against this build and other builds of the kestio program,
taking turns round by round (in the opposite order every other round), so that every build
meets the same load, and prints each counter for each build (the median of the rounds) and as a
ratio to the first build (the median of the rounds' ratios, with their range). The other builds
are named by their program's path or by a commit, which bench/baseline_build.sh builds first.
The machine's load is printed with each round.

  bench/take_turns.py --bench build/dev/bench/bench_app_playing_cpu --against 49cbb42 \
      --rounds 3 [--cpus 0-3] [--env KESTIO_BENCH_SECONDS=20] [-- benchmark arguments]
"""
import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile


def program_of(build, here):
    path = pathlib.Path(build)
    if path.is_file() and os.access(path, os.X_OK):
        return str(path.resolve())
    result = subprocess.run([str(here / "baseline_build.sh"), build], check=True,
                            stdout=subprocess.PIPE, text=True)
    return result.stdout.strip().splitlines()[-1]


def run_once(bench, program, cpus, env, arguments):
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        command = [bench, "--benchmark_format=console", "--benchmark_out_format=json",
                   "--benchmark_out=" + out.name] + arguments
        if cpus:
            command = ["taskset", "-c", cpus] + command
        environment = dict(os.environ, **env)
        if program:
            environment["KESTIO_BENCH_PROGRAM"] = program
        else:
            environment.pop("KESTIO_BENCH_PROGRAM", None)
        completed = subprocess.run(command, env=environment, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True)
        sys.stderr.write(completed.stdout)
        try:
            report = json.load(open(out.name))
        except (OSError, ValueError):
            return {}
    counters = {}
    skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads",
            "iterations", "real_time", "cpu_time", "time_unit", "family_index",
            "per_family_instance_index", "error_occurred", "error_message", "label"}
    for benchmark in report.get("benchmarks", []):
        if benchmark.get("error_occurred"):
            sys.stderr.write("skipped: %s: %s\n" % (benchmark["name"],
                                                    benchmark.get("error_message")))
            continue
        for key, value in benchmark.items():
            if key not in skip and isinstance(value, (int, float)):
                counters[benchmark["run_name"] + " " + key] = float(value)
    return counters


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bench", required=True, help="the benchmark executable of this build")
    parser.add_argument("--against", action="append", default=[],
                        help="another build: a kestio program's path or a commit")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cpus", default="", help="taskset's list of processors, e.g. 0-3")
    parser.add_argument("--env", action="append", default=[], help="NAME=VALUE for each run")
    parser.add_argument("arguments", nargs="*", help="further arguments for the benchmark")
    options = parser.parse_args()
    here = pathlib.Path(__file__).resolve().parent
    env = dict(item.split("=", 1) for item in options.env)
    builds = [("this", None)] + [(name, program_of(name, here)) for name in options.against]

    rounds = {name: [] for name, _ in builds}
    for round_index in range(options.rounds):
        # The builds swap places every round: a build that always went first would meet a
        # machine that the previous round's last run left in another state.
        order = builds if round_index % 2 == 0 else builds[::-1]
        for name, program in order:
            load = open("/proc/loadavg").read().split()[:3]
            print("round %d, %s, load %s" % (round_index + 1, name, " ".join(load)), flush=True)
            rounds[name].append(run_once(options.bench, program, options.cpus, env,
                                         options.arguments))

    keys = sorted({key for results in rounds.values() for result in results for key in result})
    header = "%-70s" % "counter" + "".join("%14s" % name for name, _ in builds)
    header += "".join("%26s" % ("ratio " + name) for name, _ in builds[1:])
    print(header)
    for key in keys:
        line = "%-70s" % key
        for name, _ in builds:
            values = [result[key] for result in rounds[name] if key in result]
            line += "%14.3f" % statistics.median(values) if values else "%14s" % "-"
        first = rounds[builds[0][0]]
        for name, _ in builds[1:]:
            # This build over the other, round by round.
            ratios = [mine[key] / other[key] for mine, other in zip(first, rounds[name])
                      if key in mine and key in other and other[key] != 0]
            if ratios:
                line += "%26s" % ("%.2f (%.2f-%.2f)" % (statistics.median(ratios), min(ratios),
                                                        max(ratios)))
            else:
                line += "%26s" % "-"
        print(line)


if __name__ == "__main__":
    main()
