# The signed release through the real main window (Tidestart.exe in the
# product's build, product_build: the first line says which) under Wine,
# driven by the robot: a manifest changed by one byte after signing and one
# without a signature are refused at the Install click
# ("Notice" box with the error icon naming the manifest and what was wrong,
# exit code 1; screenshots refused_tampered.png and refused_unsigned.png in
# $TIDE_SCREENSHOT_DIR, default build/native/screenshots/signature): nothing
# requested beyond the manifest and its signature, nothing in the install
# directory but the run log that records the refusal (no installer copy), no
# uninstall entry; unattended, the same refusal ends with exit code 3. Then a
# signed release that announces an older installer than the running one
# installs with the running installer, which reads its own version (every
# request carries it in the agent name): its DOWNLOADER file is never
# requested. Last, the release serial: a newer release (serial 3) installed
# unattended raises the serial kept in the product's key; the older signed
# release served again (serial 1, its own valid signature) is refused at the
# Install click with both serials named, and nothing changes: the kept
# serial, the installed version, the local manifest copy.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/e2e.sh"
e2e_begin

shots=${TIDE_SCREENSHOT_DIR:-$TIDE_NATIVE_BUILD/screenshots/signature}
mkdir -p "$shots"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell'
requests_since() { tail -n +"$1" "$NGINX_ACCESS_LOG" | grep -o '"GET [^ ]*' | cut -c6- | tr '\n' ' '; }
# A copy of the release at served/NAME, pointed at itself and signed.
release_copy() {  # NAME
  rm -rf "${served:?}/$1"
  cp -a "$rel" "$served/$1"
  e2e_point "$served/$1"
}

# refused NAME TEXT: Install with served/NAME/downloader.ini shows TEXT (\n
# for line breaks, as the robot writes them) and the program ends.
refused() {
  local url=$NGINX_URL/$1/downloader.ini from box rc frame
  e2e_forget
  from=$(( $(wc -l < "$NGINX_ACCESS_LOG") + 1 ))
  e2e_start /i "$url"
  agree_and_type 'C:\Tidewell\'
  e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
  # What the administrator sees: a screenshot of the box while it is up.
  frame=$(e2e_R window --title Notice --class '#32770' --timeout 60 | head -1) || fail "$1: no \"Notice\" box: $(requests_since "$from")"
  sleep 0.3
  import -window root -crop "$(awk -F'|' '{split($4, r, ","); printf "%dx%d+%d+%d", r[3], r[4], r[1], r[2]}' <<< "$frame")" +repage \
    "$shots/refused_$1.png" || fail "no screenshot of the $1 box"
  box=$(e2e_R expect --caption Notice --timeout 60) || fail "$1: no \"Notice\" box: $(requests_since "$from")"
  [ "$box" = "Notice|${2//URL/$url}|error" ] || fail "$1: the box: $box"
  rc=0; wait "$E2E_PID" || rc=$?
  [ "$rc" = 1 ] || fail "$1: Tidestart.exe ended with $rc, not 1"
  [ "$(requests_since "$from")" = "/$1/downloader.ini /$1/downloader.ini.sig " ] ||
    fail "$1: requested: $(requests_since "$from")"
  # Nothing but the folder's mark (made with the folder at the click) and
  # the run log, which tells why.
  [ -d "$E2E_INST" ] && [ "$(ls -A "$E2E_INST" | tr '\n' ' ')" = "Tidestart.id Tidestart.log " ] ||
    fail "$1: the install directory holds: $(ls -A "$E2E_INST" 2>&1)"
  grep -qF "The release manifest $url was refused" "$E2E_INST/Tidestart.log" || fail "$1: the refusal is not in the run log"
  ! wine_run 30 reg query "$uninstall_key" /reg:64 </dev/null >/dev/null 2>&1 || fail "$1: the uninstall entry was written"
  [ -z "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Version)" ] || fail "$1: a Version was recorded"
}

# --- one byte changed after signing ------------------------------------------
release_copy tampered
cp "$served/tampered/downloader.ini" "$TEST_TMP/signed.ini"
sed -i 's/^FILE_VERSION=4\.2\.1/FILE_VERSION=4.2.2/' "$served/tampered/downloader.ini"
[ "$(cmp -l "$TEST_TMP/signed.ini" "$served/tampered/downloader.ini" | wc -l)" = 1 ] || fail "fixture: not one byte changed"
refused tampered 'The release manifest URL was refused: its signature URL.sig does not match it.\n\nThe manifest may have been changed after the publisher signed it. Nothing was installed.'
pass "a manifest changed by one byte after signing: refused (\"signature does not match\", error icon, exit 1), only the manifest and its signature requested, only the folder's mark and the run log in the install directory, no uninstall entry"

# --- no signature ---------------------------------------------------------------
release_copy unsigned
rm "$served/unsigned/downloader.ini.sig"
refused unsigned 'The release manifest URL was refused: it has no signature (URL.sig was not found).\n\nThis installer accepts only a manifest signed by the publisher. Nothing was installed.'
grep -q '"GET /unsigned/downloader.ini.sig HTTP/1.1" 404 ' "$NGINX_ACCESS_LOG" || fail "the missing signature was not asked for"
pass "a manifest without a signature: refused (\"no signature\", error icon, exit 1), nothing requested beyond it and its signature (404), only the folder's mark and the run log in the install directory"

# --- unattended, the same refusal: no box, the manifest's exit code ---------
log=$TEST_TMP/unattended.log
from=$(( $(wc -l < "$NGINX_ACCESS_LOG") + 1 ))
rc=0; wine_run 120 "$E2E_EXE" /silent /acceptlicense /i "$NGINX_URL/tampered/downloader.ini" '/dir=C:\Tidewell\' "/log=$(winpath "$log")" </dev/null >/dev/null 2>&1 || rc=$?
[ "$rc" = 3 ] || fail "unattended, tampered: exit code $rc, not 3: $(tail -n 5 "$log" 2>&1)"
grep -q 'message: "Notice": The release manifest .* was refused: its signature .* does not match it' "$log" || fail "unattended: the refusal is not in the log: $(cat "$log")"
[ "$(requests_since "$from")" = "/tampered/downloader.ini /tampered/downloader.ini.sig " ] || fail "unattended: requested: $(requests_since "$from")"
pass "unattended, the tampered manifest: exit 3, the refusal in the log, nothing requested beyond the manifest and its signature"

# --- signed, announcing an older installer: installed by the running one -------
own=$(wine_run 30 "$W64/exe_version.exe" "$(winpath "$E2E_EXE")" </dev/null 2>/dev/null | tr -d '\r' | head -1 | cut -d'|' -f2)
[[ $own =~ ^([0-9]+\.[0-9]+\.[0-9]+)\.([1-9][0-9]*)$ ]] || fail "the running installer's version: '$own'"
older="${BASH_REMATCH[1]}.$(( BASH_REMATCH[2] - 1 ))"
release_copy older
cp "$W64/standin_tomcat7w.exe" "$served/older/Tidestart-old.exe"
printf '%s\r\n' '' '[DOWNLOADER]' 'FILE_NAME=Tidestart-old.exe' "FILE_VERSION=$older" >> "$served/older/downloader.ini"
"$TIDE_NATIVE_BUILD/tiderelease" make-manifest "$served/older/downloader.ini" "$served/older" >/dev/null ||
  fail "manifest of older not completed"
sign_manifest "$served/older/downloader.ini"
e2e_forget
from=$(( $(wc -l < "$NGINX_ACCESS_LOG") + 1 ))
e2e_start /i "$NGINX_URL/older/downloader.ini"
agree_and_type 'C:\Tidewell\'
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
rc=0; wait "$E2E_PID" || rc=$?
[ "$rc" = 0 ] || fail "older: Tidestart.exe ended with $rc: $(requests_since "$from")"
fetched=$(requests_since "$from")
echo "requested: $fetched"
grep -q 'Tidestart-old.exe' <<< "$fetched" && fail "the older installer was requested: $fetched"
[ -z "$(tail -n +"$from" "$NGINX_ACCESS_LOG" | grep -vF "ua=\"Tidewell Downloader V $own\"")" ] ||
  fail "older: requests without the agent name of $own: $(tail -n +"$from" "$NGINX_ACCESS_LOG")"
for f in downloader.ini downloader.ini.sig UNZIP.EXE catalina_base.zip tidewell-4.2.1.zip; do
  grep -q "/older/$f " <<< "$fetched" || fail "older: /older/$f not requested: $fetched"
done
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Version)" = 4.2.1 ] || fail "older: Version not 4.2.1"
[ -f "$E2E_INST/tidewell-4.2.1/index.html" ] || fail "older: Tidewell 4.2.1 not unpacked: $(ls "$E2E_INST")"
[ -f "$E2E_INST/TCBase/bin/catalina.bat" ] || fail "older: the server base not unpacked"
cmp -s "$E2E_EXE" "$E2E_INST/Tidestart.EXE" || fail "older: the install directory's installer is not the running one"
cmp -s "$served/older/downloader.ini" "$E2E_INST/downloader.ini" || fail "older: the local copy is not the signed manifest"
e2e_browser_wait 10 || fail "older: the browser was not asked for the calendar"
pass "a signed release announcing installer $older (running: $own, its agent name on every request): Tidestart-old.exe never requested, the components downloaded and installed by the running installer (Version 4.2.1, its copy in the install directory), the signed manifest is the local copy"

# --- an older signed release served again: refused by its serial ---------------
settings='HKLM\Software\Quorvan Labs\Tidewell'
[ "$(reg_query 64 "$settings" ReleaseSerial)" = 1 ] || fail "older: ReleaseSerial not 1: '$(reg_query 64 "$settings" ReleaseSerial)'"
release_copy newer
"$TIDE_NATIVE_BUILD/tiderelease" sign --serial 3 "$served/newer/downloader.ini" "$TIDE_TEST_RELEASE_KEY" >/dev/null || fail "newer not signed"
grep -q $'^RELEASE_SERIAL=3\r$' "$served/newer/downloader.ini" || fail "newer: no RELEASE_SERIAL=3 in the manifest"
rc=0; wine_run 180 "$E2E_EXE" /silent /acceptlicense /i "$NGINX_URL/newer/downloader.ini" '/dir=C:\Tidewell\' </dev/null >/dev/null 2>&1 || rc=$?
[ "$rc" = 0 ] || fail "newer: exit code $rc: $(tail -n 5 "$E2E_INST/Tidestart.log")"
[ "$(reg_query 64 "$settings" ReleaseSerial)" = 3 ] || fail "newer: ReleaseSerial not 3"
cp "$E2E_INST/downloader.ini" "$TEST_TMP/installed.ini"
cmp -s "$TEST_TMP/installed.ini" "$served/newer/downloader.ini" || fail "newer: the local copy is not its manifest"
from=$(( $(wc -l < "$NGINX_ACCESS_LOG") + 1 ))
url=$NGINX_URL/older/downloader.ini
e2e_start /i "$url"
agree_and_type 'C:\Tidewell\'
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
box=$(e2e_R expect --caption Notice --timeout 60) || fail "replay: no \"Notice\" box: $(requests_since "$from")"
[ "$box" = "Notice|The release manifest $url was refused: it is release 1, older than release 3, which this computer has already accepted.\n\nAn older release may have been served again to install components with known faults. Nothing was installed.|error" ] ||
  fail "replay: the box: $box"
rc=0; wait "$E2E_PID" || rc=$?
[ "$rc" = 1 ] || fail "replay: Tidestart.exe ended with $rc, not 1"
[ "$(requests_since "$from")" = "/older/downloader.ini /older/downloader.ini.sig " ] || fail "replay: requested: $(requests_since "$from")"
[ "$(reg_query 64 "$settings" ReleaseSerial)" = 3 ] || fail "replay: ReleaseSerial changed to $(reg_query 64 "$settings" ReleaseSerial)"
[ "$(reg_query 64 "$settings" Version)" = 4.2.1 ] || fail "replay: Version changed"
cmp -s "$TEST_TMP/installed.ini" "$E2E_INST/downloader.ini" || fail "replay: the local manifest copy changed"
grep -qF "The release manifest $url was refused: it is release 1, older than release 3" "$E2E_INST/Tidestart.log" ||
  fail "replay: the refusal is not in the run log"
pass "the older signed release served again after release 3 was installed: refused naming both serials (error icon, exit 1), only its manifest and signature requested; ReleaseSerial 3, Version 4.2.1 and the local manifest copy unchanged"
