#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: the host build under the
# sanitizers, the 64-bit and the 32-bit Windows builds under Wine, the benchmarks' build, and a
# short run of every fuzz target.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1

passed=0
failed=0
skipped=0
failures=()
skips=()
jobs=$(nproc 2>/dev/null || echo 2)

count_results() {  # ctest's closing line: "NN% tests passed, F tests failed out of T"
  local line total bad skip
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  [ -n "$line" ] || return 1
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  # ctest counts a skipped test among the passed ones and lists it as "(Skipped)".
  skip=$(grep -c -E '^\s+[0-9]+ - .* \(Skipped\)$' "$1")
  passed=$((passed + total - bad - skip))
  failed=$((failed + bad))
  skipped=$((skipped + skip))
}

# Each build's tests run in the background while the next build compiles and the fuzz targets
# run: the Windows builds' tests spend most of their time waiting (the whole-program scenarios
# wait for the program's settling delay of about 14 s), so the cores are better used building.
# Their output is shown, build by build, once all have ended.
tested=()
for preset in native win64 win32; do
  mkdir -p build
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" >"build/$preset-configure.log" 2>&1; then
    cat "build/$preset-configure.log"
    failures+=("$preset: configure")
    continue
  fi
  if ! cmake --build --preset "$preset" -j "$jobs"; then
    failures+=("$preset: build")
    continue
  fi
  echo "== $preset: tests started (build/$preset-test.log)"
  # The Windows builds' presets run four tests at once: the scenarios, each in its own prefix,
  # mostly wait.
  case "$preset" in
    win*) parallel=() ;;
    *) parallel=(-j "$jobs") ;;
  esac
  rm -f "build/$preset-test.status"
  (
    ctest --preset "$preset" "${parallel[@]}" >"build/$preset-test.log" 2>&1
    echo $? >"build/$preset-test.status"
  ) &
  tested+=("$preset")
done

echo "== bench: build"
if ! { cmake --preset bench >build/bench-configure.log 2>&1 && cmake --build --preset bench -j "$jobs"; }; then
  failures+=("bench: build")
fi

# Each fuzz target counts as one item: its seeds, then FUZZ_SECONDS (default 30) of fuzzing, the
# targets side by side. A fixed random seed (FUZZ_SEED, default 1) makes the short run repeat
# itself; the long runs that look for new findings are in docs/fuzzing.md.
echo "== fuzz: build, then a short run of the targets (build/fuzz.log)"
FUZZ_TOGETHER=1 FUZZ_SEED="${FUZZ_SEED:-1}" bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}" >build/fuzz.log 2>&1

wait
echo "== fuzz"
while IFS= read -r line; do
  echo "$line"
  case "$line" in
    "fuzz "*": passed"*) passed=$((passed + 1)) ;;
    "fuzz "*": failed"*)
      failed=$((failed + 1))
      failures+=("$line")
      ;;
  esac
done <build/fuzz.log
for preset in "${tested[@]}"; do
  log=build/$preset-test.log
  echo "== $preset: tests"
  cat "$log"
  if [ "$(cat "build/$preset-test.status" 2>/dev/null)" != 0 ]; then
    failures+=("$preset: tests")
  fi
  count_results "$log" || failures+=("$preset: no test results")
  # Each skipped test, and each check skipped inside a test program that passed, printed its
  # reason as "skipped: NAME: REASON".
  while IFS= read -r reason; do skips+=("$preset: ${reason#skipped: }"); done < <(
    grep -h '^skipped: ' "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null)
done

echo
echo "== summary"
for s in "${skips[@]}"; do echo "SKIPPED: $s"; done
for f in "${failures[@]}"; do echo "FAILED: $f"; done
inside=$((${#skips[@]} - skipped))
[ "$inside" -gt 0 ] && echo "($inside of the skips above are checks inside test programs that passed)"
echo "all: $passed passed, $failed failed, $skipped skipped"
[ ${#failures[@]} -eq 0 ] && [ "$failed" -eq 0 ]
