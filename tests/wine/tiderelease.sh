#!/usr/bin/env bash
# The release tool, native build and Windows build (x86_64 under wine64),
# on copies of the test release: make-manifest fills in sizes and digests
# and keeps everything else byte for byte; verify names each failing file.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
native=$TIDE_NATIVE_BUILD/tiderelease
win=$W64/tiderelease.exe
[ -x "$native" ] && [ -f "$win" ] || { echo "skip: tiderelease not built"; exit 77; }
fixture=$TIDE_SOURCE_DIR/tools/fixtures/release

for build in native windows; do
  dir=$TEST_TMP/$build
  mkdir -p "$dir"
  cp "$fixture"/* "$dir/"
  if [ $build = native ]; then tr() { "$native" "$@"; }; m=$dir/downloader.ini; f=$dir;
  else tr() { wine_run 60 "$win" "$@" | command tr -d '\r'; return "${PIPESTATUS[0]}"; }; m=$(winpath "$dir/downloader.ini"); f=$(winpath "$dir"); fi

  # The committed manifest is what the tool makes of the folder: no change.
  set +e; out=$(tr make-manifest "$m" "$f"); rc=$?; set -e
  [ $rc = 0 ] || fail "$build: make-manifest on the fixture: exit $rc: $out"
  cmp -s "$fixture/downloader.ini" "$dir/downloader.ini" || fail "$build: the fixture manifest is not up to date"

  # FILE_SHA256 is written without being asked for: a manifest that lacks
  # it gets it back in every section, after FILE_MD5SUM, as committed.
  sed -i '/^FILE_SHA256=/d' "$dir/downloader.ini"
  set +e; out=$(tr make-manifest "$m" "$f"); rc=$?; set -e
  [ $rc = 0 ] || fail "$build: make-manifest without FILE_SHA256: exit $rc: $out"
  cmp -s "$fixture/downloader.ini" "$dir/downloader.ini" || { diff <(cat -A "$fixture/downloader.ini") <(cat -A "$dir/downloader.ini") || true; fail "$build: make-manifest did not write FILE_SHA256"; }
  pass "$build: make-manifest writes FILE_SHA256 unasked"

  # Stale facts, a lost FILE_SIZE, a comment and a section whose file is
  # missing; only the facts change.
  sed -i -e 's/^FILE_SIZE=232\r$/FILE_SIZE=1\r/' -e 's/^FILE_MD5SUM=2171740E.*\r$/FILE_MD5SUM=stale\r/' -e '/^FILE_NAME=tidewell-3.4.16.zip/{n;d}' "$dir/downloader.ini"
  printf '; added by the test\r\n[EXTRA]\r\nFILE_NAME=not-here.zip\r\nFILE_SIZE=5\r\n' >> "$dir/downloader.ini"
  cp "$dir/downloader.ini" "$TEST_TMP/edited.ini"
  set +e; out=$(tr make-manifest "$m" "$f"); rc=$?; set -e
  [ $rc = 2 ] || fail "$build: expected exit 2 with a missing file, got $rc: $out"
  <<<"$out" grep -qx 'missing: \[EXTRA\] not-here.zip is not in .*' || fail "$build: missing file not named: $out"
  { cat "$fixture/downloader.ini"; printf '; added by the test\r\n[EXTRA]\r\nFILE_NAME=not-here.zip\r\nFILE_SIZE=5\r\n'; } > "$TEST_TMP/want.ini"
  grep -q '^FILE_SIZE=1.$' "$TEST_TMP/edited.ini" && grep -q '^FILE_MD5SUM=stale' "$TEST_TMP/edited.ini" || fail "test set-up"
  cmp -s "$TEST_TMP/want.ini" "$dir/downloader.ini" || { diff <(cat -A "$TEST_TMP/want.ini") <(cat -A "$dir/downloader.ini") || true; fail "$build: make-manifest changed more than the facts"; }
  pass "$build: make-manifest keeps comments, order and keys; names the missing file"

  # verify: a good folder passes; a changed and a shortened file fail.
  sed -i '/^; added by the test/,$d' "$dir/downloader.ini"
  set +e; out=$(tr verify "$m" "$f" 2>/dev/null); rc=$?; set -e
  [ $rc = 0 ] && [ -z "$out" ] || fail "$build: verify of a good folder: exit $rc: $out"
  printf 'X' | dd of="$dir/apache-tomcat-7.0.50.zip" bs=1 seek=10 conv=notrunc 2>/dev/null
  truncate -s 100 "$dir/catalina_base.zip"
  rm "$dir/jre-setup.exe"
  set +e; out=$(tr verify "$m" "$f" 2>/dev/null); rc=$?; set -e
  echo "$out"
  [ $rc = 1 ] || fail "$build: verify with bad files exited $rc"
  [ "$(echo "$out" | wc -l)" = 3 ] || fail "$build: expected 3 lines: $out"
  <<<"$out" grep -qx 'jre-setup.exe \[JRE\]: missing: expected 61 bytes, actual no such file' || fail "$build: missing file line: $out"
  <<<"$out" grep -qx 'catalina_base.zip \[CATALINA_BASE\]: size and MD5 differ: expected 203 bytes [0-9A-F]\{32\}, actual 100 bytes [0-9A-F]\{32\}' || fail "$build: short file line: $out"
  <<<"$out" grep -qx 'apache-tomcat-7.0.50.zip \[TOMCAT\]: MD5 differs: expected [0-9A-F]\{32\}, actual [0-9A-F]\{32\}' || fail "$build: changed file line: $out"
  set +e; tr verify "$m.absent" "$f" >/dev/null 2>&1; rc=$?; set -e
  [ $rc = 1 ] || fail "$build: verify of a missing manifest exited $rc"
  pass "$build: verify names each failing file and exits 1"
done
cmp -s "$TEST_TMP/native/downloader.ini" "$TEST_TMP/windows/downloader.ini" || fail "native and Windows builds wrote different manifests"
pass "native and Windows builds agree"

# Signatures: Ed25519 is deterministic, so the Windows build (the MinGW
# libsodium) must sign the test manifest exactly as the native one does; and
# its keygen writes hex key files of the documented lengths.
key=$TIDE_SOURCE_DIR/tools/fixtures/release-key/release-key
cp "$TIDE_SOURCE_DIR/tools/fixtures/release/downloader.ini" "$TEST_TMP/sign-native.ini"
cp "$TIDE_SOURCE_DIR/tools/fixtures/release/downloader.ini" "$TEST_TMP/sign-windows.ini"
# The signed bytes carry the release serial: without one (and no --serial)
# nothing is signed.
set +e; "$native" sign "$TEST_TMP/sign-native.ini" "$key" >/dev/null 2>&1; rc=$?; set -e
[ $rc = 1 ] && [ ! -e "$TEST_TMP/sign-native.ini.sig" ] || fail "sign without a release serial exited $rc"
"$native" sign --serial 7 "$TEST_TMP/sign-native.ini" "$key" >/dev/null || fail "native sign failed"
wine_run 60 "$win" sign --serial 7 "$(winpath "$TEST_TMP/sign-windows.ini")" "$(winpath "$key")" >/dev/null || fail "Windows sign failed"
grep -q $'^RELEASE_SERIAL=7\r$' "$TEST_TMP/sign-native.ini" && cmp -s "$TEST_TMP/sign-native.ini" "$TEST_TMP/sign-windows.ini" ||
  fail "RELEASE_SERIAL=7 not written alike: $(grep -i serial "$TEST_TMP"/sign-*.ini)"
grep -qx '[0-9a-f]\{128\}' "$TEST_TMP/sign-native.ini.sig" || fail "signature file: $(cat "$TEST_TMP/sign-native.ini.sig")"
cmp -s "$TEST_TMP/sign-native.ini.sig" "$TEST_TMP/sign-windows.ini.sig" || fail "native and Windows signatures differ"
wine_run 60 "$win" keygen "$(winpath "$TEST_TMP/wkey")" >/dev/null || fail "Windows keygen failed"
grep -qx '[0-9a-f]\{128\}' "$TEST_TMP/wkey" && grep -qx '[0-9a-f]\{64\}' "$TEST_TMP/wkey.pub" || fail "Windows key files"
set +e; wine_run 60 "$win" keygen "$(winpath "$TEST_TMP/wkey")" >/dev/null 2>&1; rc=$?; set -e
[ $rc = 1 ] || fail "keygen over an existing key exited $rc"
pass "sign: refused without a release serial; --serial written alike; native and Windows signatures identical; keygen writes hex keys and never overwrites"

# SHA-256 (the MinGW libsodium): make-manifest (--add-sha256 still
# accepted) writes the digests coreutils computes, and verify then passes.
mkdir -p "$TEST_TMP/sha"
cp "$TIDE_SOURCE_DIR"/tools/fixtures/release/* "$TEST_TMP/sha/"
wine_run 60 "$win" make-manifest --add-sha256 "$(winpath "$TEST_TMP/sha/downloader.ini")" "$(winpath "$TEST_TMP/sha")" >/dev/null ||
  fail "Windows make-manifest --add-sha256 failed"
for f in $(tr -d '\r' < "$TEST_TMP/sha/downloader.ini" | sed -n 's/^FILE_NAME=//p'); do
  want=$(sha256sum < "$TEST_TMP/sha/$f" | cut -d' ' -f1)
  grep -qx "FILE_SHA256=$want" <(tr -d '\r' < "$TEST_TMP/sha/downloader.ini" | grep -A3 -x "FILE_NAME=$f") || fail "FILE_SHA256 of $f is not $want"
done
"$native" verify "$TEST_TMP/sha/downloader.ini" "$TEST_TMP/sha" 2>/dev/null || fail "verify after --add-sha256"
pass "Windows make-manifest --add-sha256 writes the SHA-256 that sha256sum computes; verify passes"
