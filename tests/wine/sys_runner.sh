# The command runner on Windows (64-bit build): cmd.exe scripts, output
# lines and characters, start failures, the Info-ZIP unzip tool on real
# archives, and a window that keeps handling messages during long waits.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
unzip64=${TIDE_DEPS_DIR:-/opt/tidestart/deps}/unzip/x86_64/UNZIP.EXE
[ -s "$unzip64" ] || { echo "no $unzip64: run scripts/setup.sh"; exit 77; }
need_display

# Archives: nested folders, and one whose data is damaged.
mkdir -p "$TEST_TMP/src/top/mid/deep" "$TEST_TMP/app" "$TEST_TMP/bad"
echo "new readme" > "$TEST_TMP/src/top/readme.txt"
echo "leaf" > "$TEST_TMP/src/top/mid/deep/leaf.txt"
(cd "$TEST_TMP/src" && zip -qr "$TEST_TMP/nested.zip" top)
# Incompressible data, damaged in the middle: unzip finds a bad CRC (exit 2).
head -c 20000 /dev/urandom > "$TEST_TMP/bad/big.bin"
(cd "$TEST_TMP/bad" && zip -q "$TEST_TMP/corrupt.zip" big.bin)
printf 'garbage!' | dd of="$TEST_TMP/corrupt.zip" bs=1 seek=1000 conv=notrunc status=none
cp "$unzip64" "$TEST_TMP/app/UNZIP.EXE"

out=$(wine_run 180 "$W64/sys_runner_test.exe" all "$(winpath "$TEST_TMP")" "$(winpath "$TEST_TMP/app")" | tr -d '\r') \
  || { echo "$out"; fail "sys_runner_test reported failures"; }
echo "$out"
<<<"$out" grep -q '^0 failure(s)$' || fail "no verdict"

# The real message box of a start failure, read by the dialog robot.
expected="Notice|$(wine_run 30 "$W64/sys_runner_test.exe" message 3 | tr -d '\r')|warning"
expected2="Notice|$(wine_run 30 "$W64/sys_runner_test.exe" message 2 | tr -d '\r')|warning"
start_wine_desktop
boxes=$(wine_run 120 "$W64/robot.exe" run --timeout 60 -- "$(winpath "$W64/sys_runner_test.exe")" missing | tr -d '\r')
echo "$boxes"
first=${boxes%%$'\n'*}
[ "$(printf '%s\n' "$boxes" | wc -l)" = 2 ] || fail "expected one box and the exit line"
[ "$first" = "$expected" ] || [ "$first" = "$expected2" ] || fail "box: $first; expected $expected2"
[ "${boxes##*$'\n'}" = "exit|1" ] || fail "RunCommand did not return false"
pass "missing program: one Notice box with the system's text, result false"
