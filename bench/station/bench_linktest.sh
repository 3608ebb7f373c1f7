#!/usr/bin/env bash
# The link test's own figures through the module simulator without faults,
# at 115200 and 9600 baud: the round trip it reports against what the wire
# and the simulator take (probe and answer at the line's speed on both
# hops, the simulator's frame gap after each write, its latency), the
# payload rate against the line's ideal, and the CPU each station used.
#
#   bench/station/bench_linktest.sh [count at 115200] [count at 9600] [size]
#
# The runs last some 15 s and 30 s by default, long enough that starting
# the program does not weigh on its CPU share.
#
# BUILD=dir picks the build directory (default build).
set -euo pipefail
cd "$(dirname "$0")/../.."
count115200=${1:-1000}
count9600=${2:-200}
size=${3:-32}
build=${BUILD:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target rava2-station rava2-sim >/dev/null
station=$build/bin/rava2-station
sim=$build/bin/rava2-sim
work=$(mktemp -d)
simpid=
cleanup() {
    [ -n "$simpid" ] && kill "$simpid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

field() { # json key: the first number after "key":
    grep -o "\"$2\":[0-9.eE+-]*" <<<"$1" | head -n 1 | cut -d: -f2
}

printf '%-7s %6s %9s %9s %9s %9s %9s %7s %9s %9s\n' baud probes "rtt min" median p99 \
    expected "error" ratio "cpu test" "cpu echo"
for baud in 115200 9600; do
    line="$baud,none,8,1"
    count=$count115200
    [ "$baud" = 9600 ] && count=$count9600
    mkdir -p "$work/$baud"
    "$sim" --dir "$work/$baud" --baud "$baud" a=master:0 b=slave:7 >"$work/sim.out" 2>&1 </dev/null &
    simpid=$!
    for _ in $(seq 100); do grep -q ready "$work/sim.out" && break; sleep 0.05; done
    TIMEFORMAT='%U %S %R'
    { time "$station" echo --slave --port "$work/$baud/b" --line "$line" --quiet \
        >/dev/null 2>&1; } 2>"$work/echo.time" &
    echopid=$!
    sleep 0.5
    { time "$station" linktest --port "$work/$baud/a" --remote 7 --line "$line" \
        --count "$count" --size "$size" --json >"$work/test.json"; } 2>"$work/test.time"
    kill -INT "$(pgrep -P "$echopid" -x rava2-station || echo 0)" 2>/dev/null || true
    wait "$echopid" 2>/dev/null || true
    kill "$simpid" 2>/dev/null || true
    wait "$simpid" 2>/dev/null || true
    simpid=
    json=$(cat "$work/test.json")
    read -r tu ts tr <"$work/test.time"
    read -r eu es er <"$work/echo.time"
    awk -v baud="$baud" -v size="$size" -v n="$(field "$json" received)" \
        -v min="$(field "$json" min)" -v med="$(field "$json" median)" \
        -v p99="$(field "$json" p99)" -v ratio="$(field "$json" throughput_ratio)" \
        -v tu="$tu" -v ts="$ts" -v tr="$tr" -v eu="$eu" -v es="$es" -v er="$er" 'BEGIN {
        char = 10000.0 / baud                 # ms per character, 8N1
        gap = 35000.0 / baud; if (gap < 2) gap = 2
        # master -> module: size+1; module -> echo: size; echo -> module:
        # size; module -> master: size+1; a frame gap after each write.
        expected = (4 * size + 2) * char + 2 * gap
        printf "%-7s %6d %9.2f %9.2f %9.2f %9.2f %9.2f %7.3f %8.2f%% %8.2f%%\n",
            baud, n, min, med, p99, expected, med - expected, ratio,
            100 * (tu + ts) / tr, 100 * (eu + es) / er
    }'
done
echo "rtt in ms; error = median - expected; ratio = payload both ways / the line's ideal;"
echo "cpu = user+system time over the run's wall time, one core = 100 %"
