# A whole installation through the real main window (Tidestart.exe in the
# product's build, product_build: the first line says which) under Wine,
# driven by the robot, cancelled while the server base downloads (that one
# file served slowly, ports 80 and 8080 held): what
# arrived is installed, the configuration and shortcut steps run, and
# Uninstall is enabled.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/e2e.sh"
e2e_begin

e2e_start /i "$manifest"
# --- ports 80 and 8080 busy: the server gets 9080 ----------------------------
hold_ports 80 8080
held 9080 && fail "port 9080 is held by another process"

# --- Cancel while the server base downloads: what arrived is installed -----
# Only catalina_base.zip (the third component) is served slowly, so the
# runtime installer and UNZIP.EXE arrive and the server base does not.
nginx_slow() {  # [URL-PATH RATE]: that one file slowed, or none
  local d; d=$(dirname "$NGINX_ACCESS_LOG")
  sed -i '/^    location = /d' "$d/nginx.conf"
  [ -z "${1:-}" ] || sed -i "s|^    access_log .*|&\n    location = $1 { limit_rate $2; }|" "$d/nginx.conf"
  /usr/sbin/nginx -p "$d" -c "$d/nginx.conf" -s reload 2>>"$d/error.log" || fail "nginx reload: $(cat "$d/error.log")"
  sleep 0.5
}
nginx_slow /release/catalina_base.zip 200
agree_and_type 'C:\Tidewell\'
e2e_watch
t_click=$(e2e_ms)
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
for i in $(seq 1 300); do grep -q 'GET /release/UNZIP.EXE HTTP[^"]*" 200' "$NGINX_ACCESS_LOG" && break; sleep 0.1; done
grep -q 'GET /release/UNZIP.EXE' "$NGINX_ACCESS_LOG" || fail "UNZIP.EXE not fetched: $(cat "$NGINX_ACCESS_LOG")"
e2e_wait_watch '\|status\|.*catalina_base' 20 >/dev/null || fail "the server base does not download: $(e2e_status_texts "$t_click")"
e2e_R click --title "$E2E_TITLE" --text "&Cancel" >/dev/null
boxes=""
for c in "Notice" "Tomcat Running?"; do  # 8080 is held
  b=$(e2e_R expect --caption "$c" --timeout 60) || fail "no \"$c\" box after Cancel: $(e2e_status_texts "$t_click")"
  boxes+="$b"$'\n'
done
e2e_R window --title "$E2E_TITLE" --until "enabled:&Uninstall" --timeout 30 >/dev/null || fail "Uninstall not enabled after Cancel"
texts=$(e2e_status_texts "$t_click" | cut -d'|' -f2-)
for t in "Configuring System" "Starting Apache Tomcat"; do
  <<<"$texts" grep -qxF "$t" || fail "no status \"$t\" after Cancel: $texts"
done
# "Download aborted" stands in the status line only until the next step's
# text replaces it, often within one sample of the watch (wine.componentdl
# reads it from the downloader itself); the log records the cancel.
grep -q 'failed: the download was cancelled' "$E2E_INST/Tidestart.log" ||
  fail "the log does not record the cancelled download: $(tail -5 "$E2E_INST/Tidestart.log")"
order=$(e2e_bold_times "$t_click" | cut -d'|' -f1 | tr -d '\n')
[ "$order" = 12345 ] || fail "stage labels bold in order 1..5 after Cancel: '$order'"
[ -f "$E2E_INST/UNZIP.EXE" ] || fail "UNZIP.EXE not in the install directory"
[ -n "$(reg_query 64 'HKLM\Software\JavaSoft\Java Runtime Environment' CurrentVersion)" ] || fail "the runtime installer did not run"
[ ! -e "$E2E_INST/TCBase" ] && [ -z "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Version)" ] ||
  fail "a component that had not arrived was installed: $(ls "$E2E_INST")"
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' ShortcutsOffered)" = Y ] || fail "ShortcutsOffered not Y after Cancel"
e2e_R click --title "$E2E_TITLE" --text "&Cancel" >/dev/null
wait "$E2E_PID" || fail "Tidestart.exe ended with $? after Cancel"
pass "Cancel while catalina_base.zip downloads: the cancel logged, the runtime installer ran and UNZIP.EXE is there, no server base and no Version; then $(echo "$texts" | grep -xE 'Configuring System|Starting Apache Tomcat' | tr '\n' ',' ) the boxes: $(echo "$boxes" | tr '\n' ' '), ShortcutsOffered Y, Uninstall enabled (read by the robot), Cancel closes the window"

