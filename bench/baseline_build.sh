#!/usr/bin/env bash
# Builds the kestio program as it was at an earlier commit, to measure it beside this build
# (see take_turns.py). The commit's files are taken with git archive into a folder of their
# own (nothing in the repository or its work trees changes), configured as the release build
# and compiled through ccache, so a second run costs little. Prints the program's path.
#   bench/baseline_build.sh COMMIT [FOLDER]     (FOLDER: build/baseline under the work tree)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$here" rev-parse --short=7 "${1:?which commit}^{commit}")
root=${2:-$here/build/baseline}
source=$root/$commit/source
build=$root/$commit/build
if [[ ! -f $source/CMakeLists.txt ]]; then
    rm -rf "$source"
    mkdir -p "$source"
    git -C "$here" archive "$commit" | tar -x -C "$source"
fi
export CCACHE_DIR=${CCACHE_DIR:-/work/.ccache} CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work}
export CCACHE_NOHASHDIR=true
cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >&2
cmake --build "$build" -j"${JOBS:-3}" --target kestio >&2
echo "$build/src/app/kestio"
