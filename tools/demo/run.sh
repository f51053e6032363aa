#!/usr/bin/env bash
# The main job, until the installation pipeline lands: the product checks a sample release folder against its manifest under Wine
# ("Tidestart.exe /testini downloader.ini folder"), and the dialog robot
# answers each message box like a person would and prints what it said.
# Expects the trees built by scripts/build.sh (scripts/demo.sh does both).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
root=${TIDE_BUILD_ROOT:-$here/build}
export TIDE_SOURCE_DIR=$here TIDE_NATIVE_BUILD=$root/native TIDE_WIN32_BUILD=$root/win32 TIDE_WIN64_BUILD=$root/win64
bash "$here/tests/wine/harness/start.sh"
on_stop() { bash "$here/tests/wine/harness/stop.sh"; }
source "$here/tests/wine/harness/lib.sh"
on_exit on_stop
start_wine_desktop

release=$here/tools/fixtures/sample_release
# The product is the 32-bit build. It runs here when the 32-bit Wine is
# installed and this machine runs i386 programs natively; otherwise the
# x86_64 build of the same sources runs (under qemu a 32-bit start takes
# about a minute; TIDE_DEMO_BUILD=win32 runs the product all the same).
choice=${TIDE_DEMO_BUILD:-}
if [ -z "$choice" ]; then
  if [ ! -x /usr/lib/wine/wine ]; then
    choice=win64; why="the 32-bit Wine is not installed on this machine"
  elif [ "$(i386_mode)" = qemu ]; then
    choice=win64; why="this machine runs i386 programs only through qemu (about a minute a start)"
  else
    choice=win32; why="this machine runs i386 programs natively"
  fi
else
  why="TIDE_DEMO_BUILD=$choice"
fi
if [ "$choice" = win32 ]; then exe=$W32/Tidestart.exe; label="the 32-bit product (build/win32)"
else exe=$W64/Tidestart.exe; label="the x86_64 build of the same sources (build/win64), not the 32-bit product"; fi
echo
echo "== The product: $label, because $why"
file "$exe"
echo
echo "== The release manifest ($release/downloader.ini)"
tr -d '\r' < "$release/downloader.ini" | grep -E '^\[|FILE_NAME|FILE_SIZE'
echo
echo "== The files in the folder"
(cd "$release" && stat -c '%8s  %n' $(ls | grep -v downloader.ini))
echo
echo "== Tidestart.exe /testini under Wine ($choice)"
start=$(date +%s)
out=$(wine_run 420 "$W64/robot.exe" run --timeout 400 -- "$(winpath "$exe")" /testini \
        "$(winpath "$release/downloader.ini")" "$(winpath "$release")" | tr -d '\r') || fail "robot: $out"
echo "message boxes, as caption|text|icon, each answered with OK:"
echo "$out" | sed 's/^/  /'
echo "($(( $(date +%s) - start )) s)"
echo "$out" | grep -q '^window|' && fail "a window other than the message boxes appeared"
expected='Error|Error checking file: tidewell-4.2.1.war|none
Error|One or more files failed testing. Check size, and MD5SUM|warning
exit|0'
[ "$out" = "$expected" ] || fail "unexpected boxes"
echo
echo "demo done ($choice build): the one file of the wrong size was reported, then the closing box; no main window."
