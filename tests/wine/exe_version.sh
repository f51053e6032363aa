# ExeVersionString reads the four-part file version from the version
# resource of the real product (0.1.0.1, both builds) and gives empty text
# for a file without one; the agent name of such a program ends in "V ".
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
w32=$(winpath "$W32/Tidestart.exe"); w64=$(winpath "$W64/Tidestart.exe")
plain=$(winpath "$W64/robot.exe"); missing=$(winpath "$TEST_TMP/none.exe")
cp "$TIDE_SOURCE_DIR/CMakeLists.txt" "$TEST_TMP/text.exe"
text=$(winpath "$TEST_TMP/text.exe")
out=$(wine_run 60 "$W64/exe_version.exe" "$w32" "$w64" "$plain" "$missing" "$text" | tr -d '\r') ||
  fail "exe_version.exe failed: $out"
echo "$out"
expected="$w32|0.1.0.1
$w64|0.1.0.1
$plain|
$missing|
$text|
agent|Tidewell Downloader V "
[ "$out" = "$expected" ] || fail "expected:
$expected"
pass "version resource read, empty without one"
