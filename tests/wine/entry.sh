# The entry's quit requests with the real ports (x86_64 build): a quit
# requested by a second thread ends the main message loop, also when it
# comes while a message box is up (held until the box is answered).
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
