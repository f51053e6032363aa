# Tidestart.exe /testini under Wine, driven by the dialog robot: one
# "Error checking file" box per failing file in manifest order, then the
# closing box; all-good folders pass; a missing file fails even when its
# FILE_SIZE is 0; an unreadable manifest is an error naming it. The main window never appears. (64-bit build for speed; the
# product itself runs in testini_wow64.sh.)
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/testini_fixture.sh"
start_wine_desktop
make_testini_fixture "$TEST_TMP"

run_testini() {  # exe manifest folder -> robot lines
  wine_run 120 "$W64/robot.exe" run --timeout 90 -- "$(winpath "$1")" /testini "$2" "$3" | tr -d '\r' ||
    echo "robot failed with code $?"
}
check() {  # name actual expected
  echo "$2"
  [ "$2" = "$3" ] || fail "$1; expected:
$3"
  pass "$1"
}

check "failing files in manifest order, then the closing box" \
  "$(run_testini "$W64/Tidestart.exe" "$(winpath "$TEST_TMP/mixed.ini")" "$(winpath "$TEST_TMP/files")")" \
  "$TESTINI_MIXED_EXPECTED"

check "all files good, folder with trailing backslash" \
  "$(run_testini "$W64/Tidestart.exe" "$(winpath "$TEST_TMP/good.ini")" "$(winpath "$TEST_TMP/files")\\")" \
  'Notice|All Files Passed Verification|information
exit|0'

check "mode word in capitals, manifest naming no file" \
  "$(wine_run 120 "$W64/robot.exe" run --timeout 90 -- "$(winpath "$W64/Tidestart.exe")" /TESTINI \
       "$(winpath "$TEST_TMP/nofiles.ini")" "$(winpath "$TEST_TMP/files")" | tr -d '\r' || echo "robot failed")" \
  'Notice|All Files Passed Verification|information
exit|0'

check "missing file with FILE_SIZE 0 fails, empty file with FILE_SIZE 0 passes" \
  "$(run_testini "$W64/Tidestart.exe" "$(winpath "$TEST_TMP/zero.ini")" "$(winpath "$TEST_TMP/files")")" \
  "$TESTINI_ZERO_EXPECTED"

missing=$(winpath "$TEST_TMP/no such manifest.ini")
check "missing manifest is an error naming it" \
  "$(run_testini "$W64/Tidestart.exe" "$missing" "$(winpath "$TEST_TMP/files")")" \
  "Error|Cannot read manifest file: $missing|warning
exit|0"
