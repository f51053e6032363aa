# The INI reader agrees with Wine's GetPrivateProfileStringW on quotes,
# blanks, letter case, 2047-character values, byte-order marks, comments,
# duplicates and a missing file.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
out=$(wine_run 60 "$W64/ini_crosscheck.exe" "$(winpath "$TEST_TMP")" | tr -d '\r') || { echo "$out"; fail "the readers disagree"; }
echo "$out"
<<<"$out" grep -q '^0 disagreement(s)$' || fail "no verdict"
pass "INI reader agrees with GetPrivateProfileStringW"
