#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DRAVA2_SANITIZE=ON
cmake --build build-test -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
cd build-test
ctest --output-on-failure --timeout 300 -j2
