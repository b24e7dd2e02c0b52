#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer, in
# build-fuzz/) and runs each for SECONDS (default 60), starting from its seed corpus in
# fuzz/corpus/<target>/ and from what earlier runs added in build-fuzz/corpus/<target>/.
# Prints, per target, the runs, the coverage and any crash, whose input is saved under
# build-fuzz/findings/<target>/. Exits non-zero when a target does not build or crashes.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      e.g. scripts/fuzz.sh 600 link params
#   FUZZ_JOBS=N      targets run at once (default 1; each is one process)
#   FUZZ_BUILD_JOBS  compile jobs (default: every core)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
./scripts/install-deps.sh >/dev/null

root=$PWD
build=$root/build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOBREL_FUZZ=ON \
  -DBUILD_TESTING=OFF -DTOBREL_WITH_PLUGINS=OFF -DTOBREL_WITH_BENCH=OFF -DTOBREL_WITH_DEVICEBUS=OFF >/dev/null
cmake --build "$build" --target fuzzers -j "${FUZZ_BUILD_JOBS:-$(nproc)}"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for src in fuzz/*_fuzz.cc; do name=$(basename "$src" _fuzz.cc); targets+=("$name"); done
fi

# One target: its output goes to build-fuzz/findings/<target>.log; the summary line is printed.
run_target() {
  local name=$1 bin=$build/fuzz/$1_fuzz
  local work=$build/corpus/$name findings=$build/findings/$name log=$build/findings/$name.log
  mkdir -p "$work" "$findings"
  local extra=()
  if [ -f "fuzz/$name.options" ]; then
    while read -r flag; do
      [ -n "$flag" ] && extra+=("${flag/-dict=/-dict=$root/fuzz/}")
    done < "fuzz/$name.options"
  fi
  local status=0
  # Inputs go to the work corpus; the seeds in the tree are only read.
  "$bin" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/" \
    "${extra[@]}" "$work" "$root/fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  local runs cov ft
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n1 || true)
  local artifact
  artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n1)
  if [ $status -eq 0 ] && [ -z "$artifact" ]; then
    printf '%-15s ok     runs %-10s %s\n' "$name" "${runs:-?}" "${cov:-no coverage line}"
  else
    printf '%-15s CRASH  runs %-10s %s  input: %s  log: %s\n' "$name" "${runs:-?}" "${cov:-}" \
      "${artifact:-none saved}" "$log"
    grep -m1 -E 'ERROR: |runtime error|Assertion|fuzz target exited' "$log" | sed 's/^/             /' || true
    return 1
  fi
}

failed=0
jobs=${FUZZ_JOBS:-1}
running=0
for name in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/${name}_fuzz" ]; then
    echo "$name: no such fuzz target" >&2
    failed=1
    continue
  fi
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed
