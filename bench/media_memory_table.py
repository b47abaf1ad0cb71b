#!/usr/bin/env python3
"""Runs the memory cases of bench_media_memory one per process on four cores (taskset -c 0-3)
and prints ours, the ffmpeg command's and the ratio for each, with the goal.

Usage: bench/media_memory_table.py <build dir>/bench/bench_media_memory [height ...]
"""
import json
import subprocess
import sys

CASES = ["BM_ReadyItemInPlayer", "BM_OnePlayingItem", "BM_LoopingRange",
         "BM_TwoPlayingOnePreloaded"]


def run(program, case, height):
    out = subprocess.run(
        ["taskset", "-c", "0-3", program, f"--benchmark_filter=^{case}/{height}/",
         "--benchmark_format=json"],
        check=True, capture_output=True, text=True).stdout
    found = json.loads(out)["benchmarks"]
    if not found or "error_message" in found[0]:
        raise SystemExit(f"{case}/{height} failed: {found}")
    return found[0]


def goal(case, figures, results, height):
    peak = figures["peak_MB"]
    if height != "2160":
        return "(goals are set at 2160p)", None
    if case == "BM_ReadyItemInPlayer":
        return "under 200 MB", peak < 200
    if case == "BM_OnePlayingItem":
        return "under 1.1x the peer", figures["ratio"] < 1.1
    if case == "BM_LoopingRange":
        one = results["BM_OnePlayingItem"]["peak_MB"]
        return f"under 1.3x one playing ({peak / one:.2f}x)", peak < 1.3 * one
    return "under 700 MB", peak < 700


def main():
    program = sys.argv[1]
    heights = sys.argv[2:] or ["2160"]
    for height in heights:
        results = {case: run(program, case, height) for case in CASES}
        print(f"{height}p H.264 29.97, growth of resident memory (MB)")
        print(f"{'case':28} {'peak':>7} {'end':>7} {'ffmpeg':>7} {'ratio':>6}  goal")
        for case in CASES:
            f = results[case]
            text, met = goal(case, f, results, height)
            print(f"{case:28} {f['peak_MB']:7.0f} {f['MB']:7.0f} {f['peer_MB']:7.0f} "
                  f"{f['ratio']:6.2f}  {text}{'' if met is None else ': met' if met else ': NOT met'}")


main()
