#!/usr/bin/env bash
# Measures AutoBackup.exe under Wine for docs/performance.md, on both Windows builds:
#   1. stripped size beside the smallest static C++ program with exceptions (-Os -s);
#   2. one whole check against the real registry beside a bare loop of the same Win32 calls;
#   3. CPU time and resident memory over 60 checks beside a bare message-loop program, and beside
#      the same loop making the Win32 calls of a check on every tick.
# usage: scripts/bench-wine.sh [win64|win32 ...]   (default both)
# BENCH_BUILD_ROOT (default build) holds the builds, one per preset. Everything runs at the
# lowest CPU priority; the figures land in BENCH_BUILD_ROOT/bench-wine-<preset>.txt as well.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 win32)
builds=${BENCH_BUILD_ROOT:-build}
mkdir -p "$builds"
builds=$(cd "$builds" && pwd)

kib() { awk -v b="$(stat -c %s "$1")" 'BEGIN {printf "%.1f", b / 1024}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

# CPU time of all the threads of a process, in nanoseconds (the clock-tick counts of
# /proc/PID/stat are 10 ms coarse, about what 60 checks cost).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%d", s}'; }
status_kib() { awk -v f="$2:" '$1 == f {print $2}' "/proc/$1/status"; }

# The wineserver of a prefix: the one whose environment names it.
wineserver_pid() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" != "" ] || continue
    case "$(readlink "$p/exe")" in */wineserver*) ;; *) continue ;; esac
    if tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$1"; then
      basename "$p"
      return
    fi
  done
}

# Starts a Windows program in the background and samples it over the 60 ticks after the
# settling delay (seconds 14 to 74 of its life). Leaves pid, cpu and server (nanoseconds in the
# window), rss and hwm (KiB at its end).
measure_program() {  # loader exe [args]
  local loader=$1 c0 s0 server_pid
  shift
  nice -n 19 "$loader" "$@" &
  pid=$!
  sleep 14
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "bench-wine: $* ended before its first check" >&2
    exit 1
  fi
  server_pid=$(wineserver_pid "$WINEPREFIX")
  c0=$(cpu_ns "$pid")
  s0=$(cpu_ns "$server_pid")
  sleep 60
  cpu=$(($(cpu_ns "$pid") - c0))
  server=$(($(cpu_ns "$server_pid") - s0))
  rss=$(status_kib "$pid" VmRSS)
  hwm=$(status_kib "$pid" VmHWM)
}

for preset in "${presets[@]}"; do
  case "$preset" in
    win64) arch=64 triple=x86_64-w64-mingw32 flags=() loader=/usr/lib/wine/wine64 checks=2000 ;;
    win32) arch=32 triple=i686-w64-mingw32 flags=(-msse2 -mfpmath=sse) loader=/usr/lib/wine/wine checks=200 ;;
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
  } | tee "$out"

  # 2. One check against the real registry beside the bare calls.
  echo "== $preset: check cost"
  nice -n 19 scripts/wine-run "$build" "$arch" "$build/bench/wine/check_cost.exe" measure \
    "$checks" 15 | tee -a "$out"

  # 3. CPU and memory over 60 checks. The same environment as scripts/wine-run, but the loader
  # is started here so that its process can be sampled.
  echo "== $preset: 60 checks"
  export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" QEMU_RESERVED_VA=0x81000000
  nice -n 19 scripts/wine-run "$build" "$arch" "$build/bench/wine/check_cost.exe" setup
  # A persistent server of its own, so that both programs meet the same one: wait until the
  # one that served the set-up has gone.
  /usr/lib/wine/wineserver -w
  /usr/lib/wine/wineserver -p
  measure_program "$loader" "$build/app/AutoBackup.exe"
  app_cpu=$cpu app_srv=$server app_rss=$rss app_hwm=$hwm
  # Take one schedule value away: the next check ends the program with exit code 0.
  nice -n 19 scripts/wine-run "$build" "$arch" "$build/bench/wine/check_cost.exe" remove
  code=0
  wait "$pid" || code=$?
  measure_program "$loader" "$build/bench/wine/bare_loop.exe" 76
  bare_cpu=$cpu bare_srv=$server bare_rss=$rss bare_hwm=$hwm
  wait "$pid" || true
  measure_program "$loader" "$build/bench/wine/bare_loop.exe" 76 calls
  calls_cpu=$cpu calls_srv=$server calls_rss=$rss calls_hwm=$hwm
  wait "$pid" || true
  /usr/lib/wine/wineserver -k || true
  ms() { awk -v n="$1" 'BEGIN {printf "%.1f", n / 1e6}'; }
  {
    echo "60 checks: AutoBackup.exe cpu $(ms "$app_cpu") ms (wineserver $(ms "$app_srv") ms), rss $app_rss KiB, peak $app_hwm KiB, exit code $code"
    echo "60 ticks:  bare_loop.exe  cpu $(ms "$bare_cpu") ms (wineserver $(ms "$bare_srv") ms), rss $bare_rss KiB, peak $bare_hwm KiB"
    echo "60 ticks:  bare_loop.exe with the calls of a check  cpu $(ms "$calls_cpu") ms (wineserver $(ms "$calls_srv") ms), rss $calls_rss KiB, peak $calls_hwm KiB"
    echo "ratio to the bare loop: cpu $(ratio "$app_cpu" "$bare_cpu"), cpu with wineserver $(ratio "$((app_cpu + app_srv))" "$((bare_cpu + bare_srv))"), rss $(ratio "$app_rss" "$bare_rss")"
    echo "ratio to the bare loop with the calls: cpu $(ratio "$app_cpu" "$calls_cpu"), cpu with wineserver $(ratio "$((app_cpu + app_srv))" "$((calls_cpu + calls_srv))"), rss $(ratio "$app_rss" "$calls_rss")"
  } | tee -a "$out"
  unset WINEPREFIX
done
