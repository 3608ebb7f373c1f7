#!/usr/bin/env bash
# Installs what is missing, builds the tool and the module simulator, and
# starts the two-station demo. Without a display it runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVA2_SANITIZE=OFF
cmake --build build -j"$(nproc)" --target rava2-demo rava2-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running the demo under Xvfb."
    exec xvfb-run -a -s "-screen 0 1700x700x24" bash scripts/demo.sh "$@"
fi
exec bash scripts/demo.sh "$@"
