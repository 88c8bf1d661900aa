#!/usr/bin/env bash
# Measures AutoBackup.exe under Wine for docs/performance.md, on both Windows builds:
#   1. stripped size beside the smallest static C++ program with exceptions (-Os -s), and where
#      its bytes go (scripts/size_report.py);
#   2. one whole check against the real registry beside a bare loop of the same Win32 calls;
#   3. CPU time and resident memory over 60 checks beside a bare message-loop program, and beside
#      the same loop making the Win32 calls of a check on every tick.
# usage: scripts/bench-wine.sh [win64|win32 ...]   (default both)
# BENCH_BUILD_ROOT (default build) holds the builds, one per preset; BENCH_RUNS (default 3) is
# how often step 3 runs, its medians reported. Everything runs at the lowest CPU priority; the
# figures land in BENCH_BUILD_ROOT/bench-wine-<preset>.txt as well.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 win32)
builds=${BENCH_BUILD_ROOT:-build}
runs=${BENCH_RUNS:-3}
mkdir -p "$builds"
builds=$(cd "$builds" && pwd)

ms() { awk -v n="$1" 'BEGIN {printf "%.1f", n / 1e6}'; }
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
kib() { awk -v b="$(stat -c %s "$1")" 'BEGIN {printf "%.1f", b / 1024}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

# CPU time of all the threads of a process, in nanoseconds (the clock-tick counts of
# /proc/PID/stat are 10 ms coarse, about what 60 checks cost).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%d", s}'; }
status_kib() { awk -v f="$2:" '$1 == f {print $2}' "/proc/$1/status"; }

# Starts a Windows program in the background and samples it over the 60 ticks after the
# settling delay (seconds 14 to 74 of its life). Leaves pid, cpu (nanoseconds in the window),
# rss and hwm (KiB at its end). The wineserver's share is left out: it serves the prefix's other
# processes as well, and varies more between runs than the programs differ.
measure_program() {  # loader exe [args]
  local loader=$1 c0
  shift
  nice -n 19 "$loader" "$@" &
  pid=$!
  sleep 14
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "bench-wine: $* ended before its first check" >&2
    exit 1
  fi
  c0=$(cpu_ns "$pid")
  sleep 60
  cpu=$(($(cpu_ns "$pid") - c0))
  rss=$(status_kib "$pid" VmRSS)
  hwm=$(status_kib "$pid" VmHWM)
}

for preset in "${presets[@]}"; do
  case "$preset" in
    win64) arch=64 triple=x86_64-w64-mingw32 flags=() loader=/usr/lib/wine/wine64 checks=2000 ;;
    win32) arch=32 triple=i686-w64-mingw32 flags=(-msse2 -mfpmath=sse) loader=/usr/lib/wine/wine checks=1000 ;;
    *) echo "bench-wine: unknown preset $preset" >&2; exit 2 ;;
  esac
  build=$builds/$preset
  out=$builds/bench-wine-$preset.txt
  echo "== $preset: build"
  cmake --preset "$preset" -B "$build" >"$build-configure.log" 2>&1
  nice -n 19 cmake --build "$build" -j 2 --target AutoBackup check_cost bare_loop >/dev/null

  # 1. Size.
  "$triple-strip" -o "$build/AutoBackup-stripped.exe" "$build/app/AutoBackup.exe"
  "$triple-g++-posix" "${flags[@]}" -Os -s -static -o "$build/minimal_exceptions.exe" \
    bench/wine/minimal_exceptions.cpp
  size_app=$(kib "$build/AutoBackup-stripped.exe")
  size_min=$(kib "$build/minimal_exceptions.exe")
  {
    echo "preset $preset"
    echo "size: AutoBackup.exe stripped $size_app KiB; minimal C++ with exceptions (-Os -s) $size_min KiB; ratio $(ratio "$size_app" "$size_min")"
    python3 scripts/size_report.py "$build"
  } | tee "$out"

  # 2. One check against the real registry beside the bare calls.
  echo "== $preset: check cost"
  nice -n 19 scripts/wine-run "$build" "$arch" "$build/bench/wine/check_cost.exe" measure \
    "$checks" 15 | tee -a "$out"

  # 3. CPU and memory over 60 checks, BENCH_RUNS times in turn. The same environment as
  # scripts/wine-run, but the loader is started here so that its process can be sampled.
  echo "== $preset: 60 checks, $runs runs"
  export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" QEMU_RESERVED_VA=0x81000000
  app_cpus=() bare_cpus=() calls_cpus=() app_rsss=() bare_rsss=() calls_rsss=()
  for run in $(seq "$runs"); do
    nice -n 19 scripts/wine-run "$build" "$arch" "$build/bench/wine/check_cost.exe" setup
    # A persistent server of its own, so that the three programs meet the same one: wait until
    # the one that served the set-up has gone.
    /usr/lib/wine/wineserver -w
    /usr/lib/wine/wineserver -p
    measure_program "$loader" "$build/app/AutoBackup.exe"
    line="run $run: AutoBackup.exe cpu $(ms "$cpu") ms, rss $rss KiB (peak $hwm);"
    app_cpus+=("$cpu") app_rsss+=("$rss")
    # Take one schedule value away: the next check ends the program with exit code 0.
    nice -n 19 scripts/wine-run "$build" "$arch" "$build/bench/wine/check_cost.exe" remove
    code=0
    wait "$pid" || code=$?
    line+=" exit code $code;"
    measure_program "$loader" "$build/bench/wine/bare_loop.exe" 76
    wait "$pid" || true
    line+=" bare loop cpu $(ms "$cpu") ms, rss $rss KiB;"
    bare_cpus+=("$cpu") bare_rsss+=("$rss")
    measure_program "$loader" "$build/bench/wine/bare_loop.exe" 76 calls
    wait "$pid" || true
    line+=" with the calls cpu $(ms "$cpu") ms, rss $rss KiB"
    calls_cpus+=("$cpu") calls_rsss+=("$rss")
    /usr/lib/wine/wineserver -k || true
    echo "$line" | tee -a "$out"
  done
  app_cpu=$(median "${app_cpus[@]}") bare_cpu=$(median "${bare_cpus[@]}")
  calls_cpu=$(median "${calls_cpus[@]}") app_rss=$(median "${app_rsss[@]}")
  bare_rss=$(median "${bare_rsss[@]}") calls_rss=$(median "${calls_rsss[@]}")
  {
    echo "median of $runs: AutoBackup.exe cpu $(ms "$app_cpu") ms, rss $app_rss KiB; bare loop cpu $(ms "$bare_cpu") ms, rss $bare_rss KiB; bare loop with the calls cpu $(ms "$calls_cpu") ms, rss $calls_rss KiB"
    echo "ratio to the bare loop: cpu $(ratio "$app_cpu" "$bare_cpu"), rss $(ratio "$app_rss" "$bare_rss")"
    echo "ratio to the bare loop with the calls: cpu $(ratio "$app_cpu" "$calls_cpu"), rss $(ratio "$app_rss" "$calls_rss")"
  } | tee -a "$out"
  unset WINEPREFIX
done
