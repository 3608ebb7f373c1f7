#!/usr/bin/env bash
# Soak: a master and two slaves through the module simulator with
# --loss 0.1 --corrupt 0.01, for the given minutes (default 10), driven
# through the feature classes; prints the table of what was sent, what
# arrived and what was reported, and the resident memory. Then two
# rava2-station processes run a link test through a simulator with the same
# faults and its figures are printed.
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
cmake --build "$build" -j2 --target bench_soak rava2-sim rava2-station >/dev/null
# A small quarantine, so that the resident memory shows the tool's own use
# rather than freed blocks the sanitizer holds back.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=4:thread_local_quarantine_size_kb=64}
# A hang shows as the watchdog's exit 3; this is the last line of defence.
limit=$(( minutes * 60 + 300 ))
timeout --signal=KILL "$limit" "$build/bin/bench_soak" --minutes "$minutes" --seed "$seed"

# The link test under the same faults: 60 probes per minute of soak.
work=$(mktemp -d)
"$build/bin/rava2-sim" --dir "$work" --loss 0.1 --corrupt 0.01 --seed "$seed" \
    a=master:0 b=slave:7 >"$work/sim.out" 2>&1 </dev/null &
simpid=$!
trap 'kill "$simpid" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do grep -q ready "$work/sim.out" && break; sleep 0.05; done
"$build/bin/rava2-station" echo --slave --port "$work/b" --quiet &
echopid=$!
sleep 0.5
echo "link test, --loss 0.1 --corrupt 0.01:"
"$build/bin/rava2-station" linktest --port "$work/a" --remote 7 --count $(( minutes * 60 ))
kill -INT "$echopid" 2>/dev/null || true
wait "$echopid" 2>/dev/null || true
