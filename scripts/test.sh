#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every test twice,
# once plainly and once under AddressSanitizer + UndefinedBehaviorSanitizer. Between the two,
# the fuzz targets are built and each runs briefly from its seed corpus, so a target that no
# longer builds or crashes at once fails the suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)

./scripts/build.sh plain
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 120

echo "fuzz targets, ${TOBREL_CI_FUZZ_SECONDS:-15} s each:"
FUZZ_JOBS=${FUZZ_JOBS:-4} ./scripts/fuzz.sh "${TOBREL_CI_FUZZ_SECONDS:-15}"

./scripts/build.sh asan
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 300
