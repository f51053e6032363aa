#!/usr/bin/env bash
# The component downloader with every real port under Wine (x86_64 build):
# UNZIP, CATALINA_BASE, TOMCAT and TW from nginx on 127.0.0.1 serving the
# test release, a second run, Alt_Path, a failing component, an abort of a
# trickling transfer and its resume, a manifest whose FILE_NAME climbs out
# of the install directory, a partial file completed from Alt_Path, an empty
# file of unknown size fetched again, and an abort while the connect hangs
# (a listener that never accepts), and junk of the right size beside the
# installer and in the install directory. The manifests come from the fault
# server, so nginx's access log holds component requests only.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
exe=$W64/componentdl_wine.exe
tool=$TIDE_NATIVE_BUILD/tiderelease
[ -f "$exe" ] && [ -x "$tool" ] || { echo "skip: $exe or $tool not built"; exit 77; }

served=$TEST_TMP/served
rel=$served/release
mkdir -p "$rel"
cp "$TIDE_SOURCE_DIR"/tools/fixtures/release/* "$rel/"
# A TW archive big enough to be caught mid-transfer by the trickling server.
head -c 307200 /dev/urandom > "$rel/tidewell-3.4.16.zip"
"$tool" make-manifest "$rel/downloader.ini" "$rel" > /dev/null || fail "tiderelease make-manifest failed"
"$tool" verify "$rel/downloader.ini" "$rel" || fail "tiderelease verify failed"
start_nginx "$served"
start_faultserver "$served"
manifest() {  # name, BINARY_BASE, sed script for further edits
  sed -e "s|^BINARY_BASE=.*|BINARY_BASE=$2|" -e "${3:-}" "$rel/downloader.ini" > "$served/$1.ini"
  sign_manifest "$served/$1.ini"
  echo "$FAULT_URL/$1.ini"
}
normal=$(manifest normal "$NGINX_URL/release/")
fail2=$(manifest fail2 "$NGINX_URL/release/" 's|^FILE_NAME=catalina_base.zip|FILE_NAME=not-on-the-server.zip|')
trickle=$(manifest trickle "$FAULT_URL/trickle/2048/100/release/")
evil=$(manifest evil "$NGINX_URL/release/" 's|^FILE_NAME=UNZIP.EXE|FILE_NAME=..\\evil.exe|')
deaf=$(manifest deaf "$FAULT_DEAF_URL/release/")
nosize=$(manifest nosize "$NGINX_URL/release/" '/^FILE_SIZE=307200/d')
! grep -q '^FILE_SIZE=307200' "$served/nosize.ini" || fail "nosize.ini still gives the size of TW"
four=UNZIP,CATALINA_BASE,TOMCAT,TW
files=(UNZIP.EXE catalina_base.zip apache-tomcat-7.0.50.zip tidewell-3.4.16.zip)
lines() { wc -l < "$NGINX_ACCESS_LOG"; }
run() {  # manifest-url dir alt components abort-ms
  wine_run 120 "$exe" /i "$1" "$(winpath "$2")" "$3" "$4" "$5" 2>&1 | tr -d '\r' || fail "componentdl_wine.exe failed"
}
want() { <<<"$out" grep -qxF "$1" || fail "$2: expected '$1' in:
$out"; }
same_files() { local f; for f in "${files[@]}"; do cmp -s "$rel/$f" "$1/$f" || fail "$1/$f differs from the release"; done; }

# 1. Fresh install directory (created with its parents): all four fetched.
app=$TEST_TMP/inst/one/app
out=$(run "$normal" "$app" - "$four" -1)
echo "$out"
want "status=DOWNLOAD_SUCCEEDED" "first run"
want "downloaded=UNZIP,CATALINA_BASE,TOMCAT,TW" "first run"
same_files "$app"
[ "$(lines)" = 4 ] || fail "expected 4 requests: $(cat "$NGINX_ACCESS_LOG")"
for f in "${files[@]}"; do grep -q "GET /release/$f HTTP/1.1\" 200 " "$NGINX_ACCESS_LOG" || fail "no request for $f"; done
pass "UNZIP, CATALINA_BASE, TOMCAT, TW fetched in order"

# 2. Second run: everything complete, nothing fetched, empty list.
out=$(run "$normal" "$app" - "$four" -1)
want "status=DOWNLOAD_SUCCEEDED" "second run"
want "downloaded=" "second run"
[ "$(lines)" = 4 ] || fail "second run reached nginx: $(tail -n +5 "$NGINX_ACCESS_LOG")"
pass "second run: no request, empty list"

# 3. Alt_Path holds every file: copied, all listed, nginx untouched.
app=$TEST_TMP/inst/alt
out=$(run "$normal" "$app" "$(winpath "$rel")\\" "$four" -1)
want "status=DOWNLOAD_SUCCEEDED" "Alt_Path"
want "downloaded=UNZIP,CATALINA_BASE,TOMCAT,TW" "Alt_Path"
same_files "$app"
[ "$(lines)" = 4 ] || fail "Alt_Path run reached nginx: $(tail -n +5 "$NGINX_ACCESS_LOG")"
pass "Alt_Path: every file copied and listed, no request"

# 4. The second of three fails: only the first listed, the third never asked.
app=$TEST_TMP/inst/fail
out=$(run "$fail2" "$app" - UNZIP,CATALINA_BASE,TOMCAT -1)
echo "$out"
want "status=DOWNLOAD_FAILED" "failing second"
want "downloaded=UNZIP" "failing second"
<<<"$out" grep -q '^box=Error Dowloading|An error happened downloading .*not-on-the-server.zip' || fail "no failure box: $out"
! grep -q 'apache-tomcat-7.0.50.zip' <(tail -n +5 "$NGINX_ACCESS_LOG") || fail "the third was requested"
pass "second of three fails: DOWNLOAD_FAILED, first listed, third never requested"

# 5. Abort while TW trickles in; the partial file stays.
app=$TEST_TMP/inst/abort
out=$(run "$trickle" "$app" - TW 1500)
echo "$out"
want "status-after-abort=ABORT_PENDING" "abort"
want "status=DOWNLOAD_ABORTED" "abort"
want "last-text=Download aborted" "abort"
want "downloaded=" "abort"
ms=$(echo "$out" | sed -n 's/^abort-latency-ms=//p')
[ -n "$ms" ] && [ "$ms" -lt 1000 ] || fail "abort took ${ms:-?} ms"
part=$(stat -c %s "$app/tidewell-3.4.16.zip" 2>/dev/null || echo 0)
[ "$part" -gt 0 ] && [ "$part" -lt 307200 ] || fail "partial file has $part bytes"
cmp -s -n "$part" "$rel/tidewell-3.4.16.zip" "$app/tidewell-3.4.16.zip" || fail "partial file is not the start of TW"
pass "abort of a trickling download: ABORTED in $ms ms, 'Download aborted', $part bytes kept"

# 6. The next run resumes it from nginx with a range request.
before=$(lines)
out=$(run "$normal" "$app" - TW -1)
want "status=DOWNLOAD_SUCCEEDED" "resume"
want "downloaded=TW" "resume"
cmp -s "$rel/tidewell-3.4.16.zip" "$app/tidewell-3.4.16.zip" || fail "resumed file differs"
l=$(tail -n +$((before + 1)) "$NGINX_ACCESS_LOG")
[ "$(echo "$l" | wc -l)" = 1 ] && <<<"$l" grep -qF "\"GET /release/tidewell-3.4.16.zip HTTP/1.1\" 206 $((307200 - part)) range=\"bytes=$part-307200\"" \
  || fail "resume: nginx saw: $l"
pass "next run resumed at byte $part (Range: bytes=$part-307200)"

# 7. FILE_NAME "..\evil.exe": refused, nothing written outside.
app=$TEST_TMP/inst/evil/app
out=$(run "$evil" "$app" - UNZIP,TW -1)
echo "$out"
want "status=DOWNLOAD_FAILED" "evil"
want "downloaded=" "evil"
<<<"$out" grep -q '^box=Notice|.*component UNZIP.*\.\.\\evil\.exe' || fail "the refusal does not name the component: $out"
[ -z "$(find "$TEST_TMP/inst/evil" -iname 'evil*' -type f)" ] || fail "evil.exe was written: $(find "$TEST_TMP/inst" -iname 'evil*')"
[ -z "$(find "$TEST_TMP/inst/evil/app" -type f ! -name downloader.ini)" ] || fail "files written: $(find "$TEST_TMP/inst/evil/app" -type f)"
! grep -qi evil "$NGINX_ACCESS_LOG" || fail "evil.exe was requested"
pass "FILE_NAME ..\\evil.exe refused: nothing written outside the install directory"

# 8. A partial TW in the install directory (an interrupted run) and the whole
# file in Alt_Path: the copy replaces the partial file; no network.
app=$TEST_TMP/inst/altpartial
mkdir -p "$app"
head -c 1000 "$rel/tidewell-3.4.16.zip" > "$app/tidewell-3.4.16.zip"
before=$(lines)
out=$(run "$normal" "$app" "$(winpath "$rel")\\" TW -1)
echo "$out"
want "status=DOWNLOAD_SUCCEEDED" "partial file, Alt_Path copy"
want "downloaded=TW" "partial file, Alt_Path copy"
! <<<"$out" grep -q '^box=' || fail "partial file, Alt_Path copy: a message box: $out"
cmp -s "$rel/tidewell-3.4.16.zip" "$app/tidewell-3.4.16.zip" || fail "partial file, Alt_Path copy: TW differs"
[ "$(lines)" = "$before" ] || fail "partial file, Alt_Path copy: nginx was asked: $(tail -n +$((before + 1)) "$NGINX_ACCESS_LOG")"
pass "partial file in the install directory replaced by the Alt_Path copy, no request"

# 9. TW without FILE_SIZE and an empty TW left by a failed run: fetched
# again, not taken as complete.
app=$TEST_TMP/inst/nosize
mkdir -p "$app"
: > "$app/tidewell-3.4.16.zip"
out=$(run "$nosize" "$app" - TW -1)
echo "$out"
want "status=DOWNLOAD_SUCCEEDED" "no FILE_SIZE"
want "downloaded=TW" "no FILE_SIZE"
cmp -s "$rel/tidewell-3.4.16.zip" "$app/tidewell-3.4.16.zip" || fail "no FILE_SIZE: TW differs"
pass "empty file of unknown size fetched again"

# 10. The host of the server accepts no connection: the connect hangs. The
# abort ends it at once, and the destructor (run on the window thread by
# the installer) does not wait for the network.
app=$TEST_TMP/inst/deaf
out=$(run "$deaf" "$app" - TW 1500)
echo "$out"
want "status-after-abort=ABORT_PENDING" "abort of a hanging connect"
want "status=DOWNLOAD_ABORTED" "abort of a hanging connect"
want "last-text=Download aborted" "abort of a hanging connect"
! <<<"$out" grep -q '^box=' || fail "abort of a hanging connect: a message box: $out"
ms=$(echo "$out" | sed -n 's/^abort-latency-ms=//p')
gone=$(echo "$out" | sed -n 's/^destroyed-ms=//p')
[ -n "$ms" ] && [ "$ms" -lt 1000 ] || fail "abort of a hanging connect took ${ms:-?} ms"
[ -n "$gone" ] && [ "$gone" -lt 1000 ] || fail "destroying the downloader took ${gone:-?} ms after the abort"
echo "latency: hanging connect: ABORTED $ms ms after the abort, destructor done $gone ms after it"
pass "abort of a hanging connect: ABORTED in $ms ms, destroyed in $gone ms, no box"

# 11. Junk of the right size: UNZIP.EXE beside the installer (Alt_Path) and
# catalina_base.zip in the install directory. Neither is taken, listed or
# kept: both are fetched from the server, whole (no range), and the files
# are the release's. The file beside the installer is left as it was.
app=$TEST_TMP/inst/junk
alt=$TEST_TMP/downloads
mkdir -p "$app" "$alt"
head -c "$(stat -c %s "$rel/UNZIP.EXE")" /dev/zero > "$alt/UNZIP.EXE"
head -c "$(stat -c %s "$rel/catalina_base.zip")" /dev/zero | tr '\0' 'j' > "$app/catalina_base.zip"
cp "$alt/UNZIP.EXE" "$TEST_TMP/junk-unzip"
before=$(lines)
out=$(run "$normal" "$app" "$(winpath "$alt")\\" UNZIP,CATALINA_BASE -1)
echo "$out"
want "status=DOWNLOAD_SUCCEEDED" "junk of the right size"
want "downloaded=UNZIP,CATALINA_BASE" "junk of the right size"
! <<<"$out" grep -q '^box=' || fail "junk of the right size: a message box: $out"
cmp -s "$rel/UNZIP.EXE" "$app/UNZIP.EXE" || fail "junk of the right size: UNZIP.EXE is not the release's"
cmp -s "$rel/catalina_base.zip" "$app/catalina_base.zip" || fail "junk of the right size: catalina_base.zip is not the release's"
cmp -s "$TEST_TMP/junk-unzip" "$alt/UNZIP.EXE" || fail "the file beside the installer was changed"
l=$(tail -n +$((before + 1)) "$NGINX_ACCESS_LOG")
[ "$(echo "$l" | wc -l)" = 2 ] && <<<"$l" grep -qF '"GET /release/UNZIP.EXE HTTP/1.1" 200 ' &&
  <<<"$l" grep -qF '"GET /release/catalina_base.zip HTTP/1.1" 200 ' || fail "junk of the right size: nginx saw: $l"
pass "junk UNZIP.EXE beside the installer and junk catalina_base.zip in place: both fetched whole, no box"
