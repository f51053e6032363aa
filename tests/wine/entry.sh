# The entry's quit requests and last handler with the real ports (x86_64
# build): a quit requested by a second thread ends the main message loop,
# also when it comes while a message box is up (held until the box is
# answered); an error that escapes a mode, or a timer handler inside the
# message loop, is shown in a "Notice" box with the error icon and ends the
# program with exit code 1.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
exe=$W64/entry_wine.exe
robot=$W64/robot.exe
[ -f "$exe" ] && [ -f "$robot" ] || { echo "skip: $exe or $robot not built"; exit 77; }
start_wine_desktop

out=$(wine_run 60 "$exe" quit-from-thread | tr -d '\r') || fail "quit from a second thread: $out"
echo "$out"
pass "quit requested by a second thread ends the main loop"

robo() { wine_run 120 "$robot" run --timeout 60 "$@" | tr -d '\r' || echo "robot failed with code $?"; }
check() {  # name actual expected
  echo "$2"
  [ "$2" = "$3" ] || fail "$1; expected:
$3"
  pass "$1"
}
# (The program's own result lines come through the robot's output too; exit
# code 0 says none failed.)
check "quit from a second thread while a box is up: held until the box is answered" \
  "$(robo --answers No -- "$(winpath "$exe")" held-quit | grep -F '|')" \
  'Held|A quit is requested while this box is up.|none
exit|0'
check "an error escaping the mode: Notice box with the error icon, exit code 1" \
  "$(robo -- "$(winpath "$exe")" throw-in-mode)" \
  'Notice|Cannot write Z:\Tidewell\downloader.ini|error
exit|1'
check "an error in a timer handler ends the message loop and is shown the same way" \
  "$(robo -- "$(winpath "$exe")" throw-in-timer)" \
  'Notice|FILE_SIZE of section [TW] is not a number.|error
exit|1'
