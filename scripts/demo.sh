#!/usr/bin/env bash
# Builds AutoBackup.exe for 64-bit Windows and shows it at work under Wine: a daily schedule that
# is due now, a stand-in for the backup application beside the program, twenty seconds of running.
# Everything happens in the build folder's private Wine prefix and a private virtual display;
# nothing is left running afterwards. AUTOBACKUP_DEMO_BUILD names another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath -m "${AUTOBACKUP_DEMO_BUILD:-build/win64}")
seconds=20
demo=$build/demo
tool=$build/e2e/tools/schedule_tool.exe
box_tool=$build/e2e/tools/box_tool.exe
wineserver=/usr/lib/wine/wineserver

bash scripts/setup.sh
if [ ! -f "$build/build.ninja" ]; then
  mkdir -p "$build"
  cmake --preset win64 -B "$build" >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log"
    exit 1
  }
fi
echo "demo: building AutoBackup.exe, the stand-in and the test tools in $build"
cmake --build "$build" --target AutoBackup autobackup_standin autobackup_schedule_tool \
  autobackup_box_tool >/dev/null

xvfb_pid=
program_pid=
finish() {
  # Stops every Wine process of the private prefix, the program included, then the display.
  WINEPREFIX=$build/wineprefix timeout -k 5 60 "$wineserver" -k 2>/dev/null || true
  if [ -n "$program_pid" ]; then wait "$program_pid" 2>/dev/null || true; fi
  WINEPREFIX=$build/wineprefix timeout -k 5 60 "$wineserver" -w 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap finish EXIT

rm -rf "$demo"
mkdir -p "$demo"
cp "$build/app/AutoBackup.exe" "$build/e2e/standin/TarvikEmailBackup.exe" "$demo/"

# A display of our own: a message box, should one appear, shows there and not on the desktop.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$demo/display" >"$demo/xvfb.txt" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  grep -q . "$demo/display" 2>/dev/null && break
  sleep 0.1
done
grep -q . "$demo/display" || { echo "demo: Xvfb did not start (see $demo/xvfb.txt)" >&2; exit 1; }
export DISPLAY=:$(tr -d '\n' <"$demo/display")

run_tool() { scripts/wine-run "$build" 64 "$tool" "$@" | tr -d '\r'; }
# The readable date from a "date NAME bytes HEX text YYYY-MM-DD hh:mm:ss.mmm" line.
date_text() { sed -n 's/^date .* text //p'; }

if [ ! -f "$build/wineprefix/system.reg" ]; then
  echo "demo: preparing the private Wine prefix $build/wineprefix (once, about 20 s)"
fi
# Daily, every day, last run thirty hours ago: due at the first check.
before=$(run_tool delete-key put-date LastBackupDate now-1.25 put-date BackupTime now \
  put-dword BackupPeriod 1 put-dword BackupInterval 1 show-date LastBackupDate | date_text)
echo
echo "Schedule in HKEY_CURRENT_USER\\Software\\Tarvik Tools\\TarvikEmailBackup:"
echo "  a backup every day; the last one on $before, 30 hours ago, so one is due now."
echo "Running $demo/AutoBackup.exe under Wine for $seconds seconds"
echo "(it waits about 14 seconds after starting, then checks the schedule once a second) ..."

WINE_RUN_TIMEOUT=$((seconds + 60)) scripts/wine-run "$build" 64 "$demo/AutoBackup.exe" \
  >"$demo/wine-output.txt" 2>&1 &
program_pid=$!
for _ in $(seq "$seconds"); do
  sleep 1
  printf '.'
done
echo
still_running=no
if kill -0 "$program_pid" 2>/dev/null; then still_running=yes; fi

after=$(run_tool show-date LastBackupDate | date_text)
boxes=$(scripts/wine-run "$build" 64 "$box_tool" count | tr -d '\r' |
  sed -n 's/^open-title \(.*\)$/  "\1"/p')
log=$demo/TarvikEmailBackup.log

echo
echo "What happened:"
ok=yes
if [ -s "$log" ]; then
  starts=$(grep -c '^run ' "$log" || true)
  echo "- AutoBackup started the backup application (here its stand-in) $starts time(s)."
  echo "  The stand-in's log, $log:"
  tr -d '\r' <"$log" | sed 's/^/    /'
  echo "  (\"arg /auto\" is the one argument it received.)"
else
  echo "- The backup application was NOT started."
  ok=no
fi
echo "- LastBackupDate before: $before"
echo "  LastBackupDate after:  $after"
if [ "$before" = "$after" ]; then
  echo "  It did not move."
  ok=no
else
  echo "  It moved on by whole days and kept its time of day."
fi
if [ -n "$boxes" ]; then
  echo "- A message box is showing:"
  echo "$boxes"
  ok=no
fi
if [ "$still_running" = yes ]; then
  echo "- AutoBackup.exe was still running after $seconds seconds, waiting for the next backup;"
  echo "  the demo has stopped it now."
else
  echo "- AutoBackup.exe had ended within $seconds seconds (see $demo/wine-output.txt)."
  ok=no
fi
[ "$ok" = yes ]
