# Whole installations through the real main window (Tidestart.exe, x86_64
# build) under Wine, driven by the robot as a person would: unusable paths
# refused with nothing saved, then one installation from a stand-in
# release served by nginx with ports 80 and 8080 busy, so the browser is
# asked for port 9080.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/e2e.sh"
for f in "$E2E_EXE" "$E2E_ROBOT" "$W64/standin_tomcat7w.exe"; do
  [ -f "$f" ] || { echo "skipped: $f not built"; exit 77; }
done
start_wine_desktop
held() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

served=$TEST_TMP/served
rel=$served/release
e2e_release "$rel" 4.2.1 x64
e2e_serve "$served"
e2e_point "$rel"
manifest=$NGINX_URL/release/downloader.ini
e2e_forget
on_exit e2e_forget
e2e_browser

agree_and_type() {  # PATH
  e2e_R click --title "$E2E_TITLE" --text "I agree to the terms of the license." >/dev/null
  e2e_R window --title "$E2E_TITLE" --until "enabled:&Install" --timeout 20 >/dev/null || fail "Install not enabled"
  e2e_R type --title "$E2E_TITLE" --class-of-control Edit --text "$1" >/dev/null || fail "cannot type '$1'"
}

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
python3 - 80 8080 <<'PY' >"$TEST_TMP/listen.out" 2>&1 &
import select, socket, sys
socks = []
for p in map(int, sys.argv[1:]):
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try: s.bind(("127.0.0.1", p)); s.listen(16); socks.append(s)
    except OSError as e: print(f"port {p}: {e}", flush=True)
print("ready", flush=True)
while socks:
    for s in select.select(socks, [], [])[0]:
        c, _ = s.accept(); c.close()
PY
on_exit "kill $! 2>/dev/null"
for i in $(seq 1 50); do grep -q ready "$TEST_TMP/listen.out" && break; sleep 0.1; done
held 80 && held 8080 || fail "ports 80 and 8080 could not be made busy: $(cat "$TEST_TMP/listen.out")"
held 9080 && fail "port 9080 is held by another process"

agree_and_type 'C:\Tidewell\'
e2e_watch
t_click=$(e2e_ms)
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
wait "$E2E_PID" || fail "Tidestart.exe ended with $?"
url=http://localhost:9080/calendar/
[ "$(tr -d '\r"' < "$E2E_BROWSER_ARGS" 2>/dev/null)" = "$url" ] || fail "the browser was asked for: $(cat "$E2E_BROWSER_ARGS" 2>&1); status line: $(e2e_status_texts "$t_click" | tr '\n' ' '); program: $(tail -5 "$TEST_TMP/tidestart.out"); install dir: $(ls "$E2E_INST" 2>&1 | tr '\n' ' '); requests: $(grep -c GET "$NGINX_ACCESS_LOG") $(tail -3 "$NGINX_ACCESS_LOG")"
order=$(e2e_bold_times "$t_click" | cut -d'|' -f1 | tr -d '\n')
[ "$order" = 12345 ] || fail "stage labels bold in order 1..5: '$order'"
e2e_status_texts "$t_click" | grep -qx '[0-9.]*|Waiting 1 seconds for Tidewell to Start\.\.\.' || fail "no countdown: $(e2e_status_texts "$t_click")"
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Port)" = 9080 ] || fail "Port not 9080"
page=$(curl -s --max-time 10 --noproxy '*' http://127.0.0.1:9080/calendar/) || true
echo "$page" | grep -q '<h1>Tidewell 4.2.1</h1>' || fail "the calendar page on 9080: '$page'"
pass "ports 80 and 8080 busy: installed from the window in $(( ($(e2e_ms) - t_click) / 1000 )) s, stage labels bold in order, \"Waiting 1 seconds for Tidewell to Start...\", the browser asked for $url, curl gets Tidewell 4.2.1 there"
