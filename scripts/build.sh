#!/usr/bin/env bash
# Configures and builds one tree: `build.sh` (build/) or `build.sh asan` (build-asan/, ASan+UBSan).
# Extra arguments go to CMake, e.g. -DTOBREL_WITH_VOICE=OFF to build one part alone.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-plain}; [ $# -gt 0 ] && shift
case "$kind" in
  plain) dir=build; flags=() ;;
  asan)  dir=build-asan; flags=(-DTOBREL_SANITIZE=ON -DTOBREL_WITH_BENCH=OFF) ;;
  *) echo "usage: $0 [plain|asan] [cmake args...]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
