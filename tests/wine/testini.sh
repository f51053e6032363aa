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

# The command line exactly as this program's callers write it (handed to
# CreateProcessW unchanged): quoted paths with a blank, the folder ending in
# a backslash, which stays an ordinary character before the closing quote.
spaced="$TEST_TMP/my files"
make_testini_fixture "$spaced"
exe_q="\"$(winpath "$W64/Tidestart.exe")\""
folder_q="\"$(winpath "$spaced/files")\\\""
check "quoted folder with a blank, ending in a backslash, is the folder read" \
  "$(wine_run 120 "$W64/robot.exe" run --timeout 90 \
       --command-line "$exe_q /testini \"$(winpath "$spaced/good.ini")\" $folder_q" | tr -d '\r' || echo "robot failed")" \
  'Notice|All Files Passed Verification|information
exit|0'
check "argument 2 quoted and ending in a backslash arrives as it was written" \
  "$(wine_run 120 "$W64/robot.exe" run --timeout 90 --command-line "$exe_q /testini $folder_q $folder_q" |
       tr -d '\r' || echo "robot failed")" \
  "Error|Cannot read manifest file: $(winpath "$spaced/files")\\|warning
exit|0"
