#!/usr/bin/env bash
# The 32-bit ARM (Debian armhf) build and its whole test suite under the user-mode emulator:
# installs what is missing (scripts/install-deps-armhf.sh), cross-builds into build-armhf/ with
# cmake/toolchain-armhf.cmake (no benchmarks: they are not measured under emulation), and runs
# every test through the emulator. Extra arguments go to ctest, e.g. -R link.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps-armhf.sh
jobs=$(nproc)

cmake -S . -B build-armhf -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-armhf.cmake" -DTOBREL_WITH_BENCH=OFF >/dev/null
cmake --build build-armhf -j "$jobs"
ctest --test-dir build-armhf -j "$jobs" --output-on-failure --timeout 300 "$@"
