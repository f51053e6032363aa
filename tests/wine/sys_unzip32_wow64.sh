# The unzip tool a release ships, the 32-bit UNZIP.EXE, run through the
# command runner: nested folders, an existing file replaced, true. (The
# runner is the 64-bit test program; the one 32-bit start takes about a
# minute here.)
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
need_wine32
# Not for boxes: so that a Wine session this test happens to start gets a
# desktop that can show windows for the tests after it.
need_display
unzip32=${TIDE_DEPS_DIR:-/opt/tidestart/deps}/unzip/UNZIP.EXE
[ -s "$unzip32" ] || { echo "no $unzip32: run scripts/setup.sh"; exit 77; }
grep -q 'PE32 executable (console) Intel 80386' <(file "$unzip32") || fail "not a 32-bit program: $unzip32"
mkdir -p "$TEST_TMP/src/top/mid/deep" "$TEST_TMP/app"
echo "new readme" > "$TEST_TMP/src/top/readme.txt"
echo "leaf" > "$TEST_TMP/src/top/mid/deep/leaf.txt"
(cd "$TEST_TMP/src" && zip -qr "$TEST_TMP/nested.zip" top)
cp "$unzip32" "$TEST_TMP/app/UNZIP.EXE"
out=$(wine_run 400 "$W64/sys_runner_test.exe" unzip "$(winpath "$TEST_TMP")" "$(winpath "$TEST_TMP/app")" | tr -d '\r') \
  || { echo "$out"; fail "32-bit unzip through the runner"; }
echo "$out"
<<<"$out" grep -q '^0 failure(s)$' || fail "no verdict"
