#!/usr/bin/env bash
# Builds AutoBackup for Windows and runs it on a demo schedule under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
for preset in win64 win32; do
  cmake --preset "$preset" >"build-$preset-configure.log" 2>&1 || { cat "build-$preset-configure.log"; exit 1; }
  cmake --build --preset "$preset"
done
rm -f build-win64-configure.log build-win32-configure.log
echo "demo: built every Windows target; the program itself is not assembled yet."
