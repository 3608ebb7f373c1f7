#!/usr/bin/env bash
# Builds the tool if needed and saves a picture of each of its seven tabs to
# docs/screenshots/tab-N-<caption>.png. Runs without a display.
#   BUILD_DIR   build folder to use (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build="${BUILD_DIR:-build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j"$(nproc)" --target rava2-demo

out="docs/screenshots"
mkdir -p "$out"
rm -f "$out"/tab-*.png
# Fixed resolution and scale, so the pictures do not depend on the machine.
QT_QPA_PLATFORM=offscreen QT_FONT_DPI=96 QT_SCALE_FACTOR=1 \
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" \
    RAVA2_SCREENSHOTS="$out" "$build/bin/rava2-demo"
ls -1 "$out"/tab-*.png
