#!/usr/bin/env bash
# Two Rava 2 Demo stations on one desktop, joined by the module simulator.
#
#   scripts/demo.sh [simulator options]      e.g.  scripts/demo.sh --baud 9600 --loss 0.05
#
# Starts rava2-sim with a master module (address 0) and a slave module
# (address 7), links in a private temporary directory, then one window per
# module with COM 1 pointing at that module, side by side: the left window is
# the master station, the right one the slave station. Lines typed into this
# terminal go to the simulator's console (prog NAME on|off, baud NAME N,
# loss P, corrupt P, latency MS, stats; the modules are named M and S).
# Ctrl+C, or closing both windows, stops everything and removes the directory.
#
# Programs (override with the environment):
#   RAVA2_DEMO  window program   (default: build/bin/rava2-demo)
#   RAVA2_SIM   module simulator (default: rava2-sim beside the window program)
#
# One station by hand against the simulator (any directory of yours will do):
#   mkdir -p /tmp/rava2 && build/bin/rava2-sim --dir /tmp/rava2 M=master:0 S=slave:7 P=prog:5 &
#   RAVA2_COM1=/tmp/rava2/M build/bin/rava2-demo
# and, to play the other side without a second window, open /tmp/rava2/S with
# any serial terminal at 115200 8N1, e.g.  picocom -b 115200 /tmp/rava2/S
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
demo=${RAVA2_DEMO:-$root/build/bin/rava2-demo}
sim=${RAVA2_SIM:-$(dirname "$demo")/rava2-sim}

for program in "$sim" "$demo"; do
    if [[ ! -x $program ]]; then
        echo "demo: $program is missing or not executable (build the project first)" >&2
        exit 1
    fi
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/rava2-demo.XXXXXX")
sim_pid=
window_pids=()

cleanup() {
    trap - EXIT INT TERM
    local pid pids=("${window_pids[@]}" $sim_pid)
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    # Give them 3 s to end on their own, then make sure.
    for _ in $(seq 30); do
        local left=0
        for pid in "${pids[@]}"; do
            kill -0 "$pid" 2>/dev/null && left=1
        done
        ((left)) || break
        sleep 0.1
    done
    for pid in "${pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'echo; echo "demo: stopping"; exit 130' INT
trap 'exit 143' TERM

# The simulator reads this terminal as its console; its answers are shown
# here and kept in sim.out, where the script looks for "ready".
"$sim" --dir "$dir" "$@" M=master:0 S=slave:7 <&0 > >(tee "$dir/sim.out") &
sim_pid=$!

for _ in $(seq 100); do
    grep -qx ready "$dir/sim.out" 2>/dev/null && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: the simulator did not start" >&2
        exit 1
    fi
    sleep 0.1
done
if ! grep -qx ready "$dir/sim.out"; then
    echo "demo: the simulator did not get ready" >&2
    exit 1
fi

# Side by side when the screen is wide enough (the window is about 800 pixels
# wide), overlapping by an offset otherwise.
screen_width=$(xdpyinfo 2>/dev/null | awk '/dimensions:/ { split($2, d, "x"); w = d[1] } END { print w }' || true)
screen_width=${screen_width:-1600}
if ((screen_width >= 1610)); then
    right_x=810
else
    right_x=$((screen_width > 860 ? screen_width - 800 : 60))
fi

RAVA2_COM1="$dir/M" "$demo" --remote 7 -qwindowgeometry +0+0 &
window_pids+=($!)
RAVA2_COM1="$dir/S" "$demo" --slave -qwindowgeometry "+$right_x+40" &
window_pids+=($!)

cat <<TEXT
demo: left window  (at +0+0):       MASTER station, module M, address 0, COM 1 = $dir/M
demo: right window (at +$right_x+40): SLAVE station,  module S, address 7, COM 1 = $dir/S
demo: the master sends to address 7 and the slave is in slave mode already: try a transfer.
demo: type simulator commands here (stats, loss 0.1, ...); Ctrl+C ends the demo.
TEXT

while :; do
    alive=0
    for pid in "${window_pids[@]}"; do
        kill -0 "$pid" 2>/dev/null && alive=$((alive + 1))
    done
    if ((alive == 0)); then
        echo "demo: both windows closed"
        break
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: the simulator ended" >&2
        break
    fi
    sleep 0.5
done
