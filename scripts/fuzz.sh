#!/usr/bin/env bash
# Builds the fuzz targets (fuzz preset) and runs each in turn for SECONDS, at the lowest CPU
# priority and with one worker, on a working corpus that starts from the committed seeds.
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets: decide calendar check; default all)
# FUZZ_BUILD_DIR (default build/fuzz) holds the build, the working corpora, the logs and any
# input that broke a property (artifacts/). Prints one "fuzz TARGET: passed|failed" line each
# and exits non-zero when a target failed. FUZZ_SEED, when set, fixes libFuzzer's random seed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decide calendar check)
build=${FUZZ_BUILD_DIR:-build/fuzz}
mkdir -p "$build"

if ! { cmake --preset fuzz -B "$build" >"$build-configure.log" 2>&1 &&
  cmake --build "$build" -j 2 --target "${targets[@]/%/_fuzzer}"; }; then
  [ -f "$build-configure.log" ] && tail -n 20 "$build-configure.log"
  for t in "${targets[@]}"; do echo "fuzz $t: failed (build)"; done
  exit 1
fi
build=$(cd "$build" && pwd)

# FUZZ_TOGETHER=1 runs the targets side by side instead of in turn (the test command's short run).
run_target() {
  local t=$1 work=$build/fuzz-work/$1 result runs
  mkdir -p "$work/corpus" "$build/artifacts"
  # -jobs=1 runs the fuzzer in a child whose output goes to fuzz-0.log in the current folder.
  (cd "$work" && nice -n 19 "$build/fuzz/${t}_fuzzer" -max_total_time="$seconds" -timeout=10 \
    -workers=1 -jobs=1 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
    ${FUZZ_SEED:+-seed="$FUZZ_SEED"} \
    corpus "$root/fuzz/corpus/$t" >/dev/null 2>&1)
  result=$?
  cp "$work/fuzz-0.log" "$build/fuzz-$t.log" 2>/dev/null
  runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$build/fuzz-$t.log" | grep -Eo '[0-9]+$')
  if [ "$result" -eq 0 ]; then
    echo "fuzz $t: passed (${seconds} s, ${runs:-?} inputs)"
  else
    echo "fuzz $t: failed, see $build/fuzz-$t.log"
    grep -E 'broken property|runtime error|ERROR: (Address|libFuzzer)' "$build/fuzz-$t.log" | head -n 3
    return 1
  fi
}

status=0
if [ "${FUZZ_TOGETHER:-0}" = 1 ]; then
  for t in "${targets[@]}"; do run_target "$t" >"$build/fuzz-$t.result" & done
  wait
  for t in "${targets[@]}"; do
    cat "$build/fuzz-$t.result"
    grep -q "^fuzz $t: passed" "$build/fuzz-$t.result" || status=1
  done
else
  for t in "${targets[@]}"; do run_target "$t" || status=1; done
fi
exit $status
