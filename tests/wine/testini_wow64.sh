# The product itself, the 32-bit Tidestart.exe, in the verification mode
# under WOW64 (slow to start here: about a minute under qemu).
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
need_wine32
source "$TIDE_SOURCE_DIR/tests/wine/harness/testini_fixture.sh"
start_wine_desktop
make_testini_fixture "$TEST_TMP"
grep -q 'PE32 executable (GUI) Intel 80386' <(file "$W32/Tidestart.exe") || fail "not the 32-bit GUI product"
out=$(wine_run 400 "$W64/robot.exe" run --timeout 380 -- "$(winpath "$W32/Tidestart.exe")" /testini \
        "$(winpath "$TEST_TMP/mixed.ini")" "$(winpath "$TEST_TMP/files")" | tr -d '\r') ||
  fail "robot or program failed: $out"
echo "$out"
[ "$out" = "$TESTINI_MIXED_EXPECTED" ] || fail "expected:
$TESTINI_MIXED_EXPECTED"
pass "32-bit Tidestart.exe /testini"
