#!/usr/bin/env bash
# Soak: a master and two slaves through the module simulator with
# --loss 0.1 --corrupt 0.01, for the given minutes (default 10), driven
# through the feature classes; prints the table of what was sent, what
# arrived and what was reported, and the resident memory.
#
#   bench/soak/soak.sh [minutes] [seed]
#
# An hour: bench/soak/soak.sh 60. The build directory is build-test (the
# sanitizer build, so a memory fault ends the run); BUILD=dir picks another.
set -euo pipefail
cd "$(dirname "$0")/../.."
minutes=${1:-10}
seed=${2:-1}
build=${BUILD:-build-test}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DRAVA2_SANITIZE=ON >/dev/null
fi
cmake --build "$build" -j2 --target bench_soak rava2-sim >/dev/null
# A small quarantine, so that the resident memory shows the tool's own use
# rather than freed blocks the sanitizer holds back.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=4:thread_local_quarantine_size_kb=64}
# A hang shows as the watchdog's exit 3; this is the last line of defence.
limit=$(( minutes * 60 + 300 ))
timeout --signal=KILL "$limit" "$build/bin/bench_soak" --minutes "$minutes" --seed "$seed"
