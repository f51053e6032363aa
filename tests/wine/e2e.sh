# Whole installations through the real main window (Tidestart.exe: the
# shipped i686 build where 32-bit programs start here, else the x86_64 one;
# the first line says which) under Wine, driven by the robot as a person would: unusable paths
# refused with nothing saved, then one installation from a stand-in
# release served by nginx with ports 80 and 8080 busy, so the browser is
# asked for port 9080; then a second run against a release in which only
# TW changed, with something already answering on the server's port.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/e2e.sh"
e2e_begin

# --- unusable paths: the message, nothing saved, the window unchanged -------
e2e_start /i "$manifest"
for p in 'Tidewell' '\\server\share\Tidewell' '  ' 'Q:\Tidewell' 'C:\'; do
  agree_and_type "$p"
  t=$(echo "$p" | sed 's/^ *//; s/ *$//')
  e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
  box=$(e2e_R expect --caption "Error Creating Directory" --timeout 30) || fail "path '$p': no \"Error Creating Directory\" box"
  [ "$box" = "Error Creating Directory|Error Creating Directory $t.\\nVerify path is valid!|warning" ] || fail "path '$p': $box"
  [ -z "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' AppPath)" ] || fail "path '$p': AppPath saved"
  e2e_R window --title "$E2E_TITLE" --until "visible:I agree to the terms of the license." --timeout 10 >/dev/null ||
    fail "path '$p': the window changed"
done
grep -q 'GET /release/downloader.ini' "$NGINX_ACCESS_LOG" && fail "the manifest was fetched for an unusable path"
pass "unusable paths (bare name, UNC, blanks only (empty once trimmed), drive Q: that does not exist, C:\\): \"Error Creating Directory\" with the warning icon, no AppPath, no manifest fetched, the licence still shown"

# --- ports 80 and 8080 busy: the server gets 9080 ----------------------------
hold_ports 80 8080
held 9080 && fail "port 9080 is held by another process"

# --- the whole installation, the server on 9080 --------------------------
agree_and_type 'C:\Tidewell\'
e2e_watch
t_click=$(e2e_ms)
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
wait "$E2E_PID" || fail "Tidestart.exe ended with $?"
url=http://localhost:9080/calendar/
e2e_browser_wait 10
[ "$(tr -d '\r"' < "$E2E_BROWSER_ARGS" 2>/dev/null)" = "$url" ] || fail "the browser was asked for: $(cat "$E2E_BROWSER_ARGS" 2>&1); status line: $(e2e_status_texts "$t_click" | tr '\n' ' '); program: $(tail -5 "$TEST_TMP/tidestart.out"); install dir: $(ls "$E2E_INST" 2>&1 | tr '\n' ' '); requests: $(grep -c GET "$NGINX_ACCESS_LOG") $(tail -3 "$NGINX_ACCESS_LOG")"
order=$(e2e_bold_times "$t_click" | cut -d'|' -f1 | tr -d '\n')
[ "$order" = 12345 ] || fail "stage labels bold in order 1..5: '$order'"
grep -qx '[0-9.]*|Waiting 1 seconds for Tidewell to Start\.\.\.' <(e2e_status_texts "$t_click") || fail "no countdown: $(e2e_status_texts "$t_click")"
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Port)" = 9080 ] || fail "Port not 9080"
page=$(curl -s --max-time 10 --noproxy '*' http://127.0.0.1:9080/calendar/) || true
<<<"$page" grep -q '<h1>Tidewell 4.2.1</h1>' || fail "the calendar page on 9080: '$page'"
pass "ports 80 and 8080 busy: installed from the window in $(( ($(e2e_ms) - t_click) / 1000 )) s, stage labels bold in order, \"Waiting 1 seconds for Tidewell to Start...\", the browser asked for $url, curl gets Tidewell 4.2.1 there"
e2e_road
pass "the road of the $PRODUCT_BUILD build on this 64-bit prefix"

# --- a second run against a release in which only TW changed, while ---------
# something already answers on the server's port: only the application is
# fetched and installed, its migration runs, the old folder and the service
# stay; "Tomcat Running?" instead of a countdown, and no browser.
e2e_upgrade_release
wine_run 30 sc stop Tidewell </dev/null >/dev/null 2>&1 || fail "the service does not stop"
for i in $(seq 1 100); do held 9080 || break; sleep 0.2; done
held 9080 && fail "the stopped service still answers on 9080"
python3 - 9080 <<'PY' >"$TEST_TMP/listen2.out" 2>&1 &
import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(16)
print("ready", flush=True)
while True:
    c, _ = s.accept(); c.close()
PY
on_exit "kill $! 2>/dev/null"
for i in $(seq 1 50); do grep -q ready "$TEST_TMP/listen2.out" && break; sleep 0.1; done
held 9080 || fail "nothing answers on 9080: $(cat "$TEST_TMP/listen2.out")"
cp "$W64/standin_jre_setup.exe" "$E2E_INST/java.exe"   # the migration's java records into java.args beside it
rm -f "$E2E_INST/java.args" "$E2E_BROWSER_ARGS"
log_from=$(( $(wc -l < "$NGINX_ACCESS_LOG") + 1 ))
WINEPATH='C:\Tidewell' e2e_start /i "$NGINX_URL/release2/downloader.ini"
agree_and_type 'C:\Tidewell\'
e2e_watch
t_click=$(e2e_ms)
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
box=$(e2e_R expect --caption "Tomcat Running?" --timeout 60) || fail "no \"Tomcat Running?\" box: $(e2e_status_texts "$t_click")"
[ "$box" = 'Tomcat Running?|Jakarta Tomcat appears to be running already.\n\nIf not, check to see if another application is using port 8080.|information' ] ||
  fail "the box: $box"
e2e_R window --title "$E2E_TITLE" --until "enabled:&Uninstall" --timeout 30 >/dev/null || fail "Uninstall not enabled"
sleep 2  # a countdown would have ticked by now
texts=$(e2e_status_texts "$t_click")
<<<"$texts" grep -q 'Waiting' && fail "a countdown ran: $texts"
e2e_R click --title "$E2E_TITLE" --text "&Cancel" >/dev/null
wait "$E2E_PID" || fail "Tidestart.exe ended with $?"
[ ! -e "$E2E_BROWSER_ARGS" ] || fail "the browser was asked for: $(cat "$E2E_BROWSER_ARGS")"
fetched=$(tail -n +"$log_from" "$NGINX_ACCESS_LOG" | grep -o '"GET [^ ]*' | cut -c6- | tr '\n' ' ')
[ "$fetched" = "/release2/downloader.ini /release2/downloader.ini.sig /release2/tidewell-4.3.0.zip " ] || fail "fetched in the second run: $fetched"
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Version)" = 4.3.0 ] || fail "Version not 4.3.0"
[ -f "$E2E_INST/tidewell-4.3.0/index.html" ] || fail "tidewell-4.3.0 not unpacked"
[ -f "$E2E_INST/tidewell-4.2.1/index.html" ] || fail "the folder of 4.2.1 is gone"
grep -qxF -- '-cp ..\lib\tidewell.jar;..\classes com.quorvanlabs.tidewell.support.update.WinUpdate "C:\Tidewell\tidewell-4.2.1" "C:\Tidewell\tidewell-4.3.0"' <(tr -d '\r' 2>/dev/null < "$E2E_INST/java.args") ||
  fail "the migration's java did not run: $(cat "$E2E_INST/java.args" 2>&1)"
wine_run 30 sc query Tidewell </dev/null >/dev/null 2>&1 || fail "the service is gone"
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' ServiceInstalled)" = Y ] || fail "ServiceInstalled not Y"
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell'
kib=$(( $(reg_query 64 "$entry" EstimatedSize) ))
size_matches "$E2E_INST" "$kib" ||
  fail "EstimatedSize after the upgrade: $kib KiB, the folder's files (by du) $SIZE_BYTES bytes, $SIZE_LOG_BYTES of them logs"
pass "second run, only TW changed (4.2.1 to 4.3.0), something answering on 9080: fetched only $fetched; Version 4.3.0, EstimatedSize $kib KiB (both versions' folders, by du), the migration ran (java.args: WinUpdate from tidewell-4.2.1 to tidewell-4.3.0), tidewell-4.2.1 kept, the service kept (sc query, ServiceInstalled Y); \"Tomcat Running?\" with the information icon, Uninstall enabled, no \"Waiting\" in the status line, no browser"
