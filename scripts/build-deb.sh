#!/usr/bin/env bash
# Installs what is missing, builds the tool, the station and the simulator for release and
# makes the Debian package build-deb/rava2-demo_<version>_<arch>.deb.
# Install it with:  apt-get install ./build-deb/rava2-demo_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# Only what the package holds is built: packing installs without building
# everything else first (the tests and benchmarks are not packed).
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DRAVA2_SANITIZE=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build build-deb -j"$(nproc)" --target rava2-demo rava2-sim rava2-station rava2_user_guide
(cd build-deb && cpack -G DEB)
ls -1 build-deb/*.deb
