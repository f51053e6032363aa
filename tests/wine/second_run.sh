# The second run against the real program (the build product_build picks)
# under Wine: Tidewell 4.2.1 is installed unattended and given calendar data
# of its own; that state is kept. An uninterrupted unattended upgrade to
# 4.3.0 (only the application changed; its archive padded and served slowly
# enough to be caught downloading) makes the reference. Then, each row from
# the kept state again, the upgrade is killed (SIGKILL to the process that
# runs Tidestart.exe, as TerminateProcess ends it) at one stage, seen in the
# files or in the run log, and run once more to its end. After that rerun
# the installation must equal the reference: every file of the install
# directory by MD5 (what the running server writes and the run logs aside),
# the product's settings, the uninstall entry (its size aside: the logs
# count in it), the service running, the calendar answering as 4.3.0; and
# the 4.2.1 folder with its data as the first installation left it. One
# line per row.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/e2e.sh"
e2e_begin
t_begin=$(e2e_ms)
key='HKLM\Software\Quorvan Labs\Tidewell'
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell'
# The migration's java: the stand-in beside the installation, which records
# its arguments in java.args.
export WINEPATH='C:\Tidewell'

run_bg() {  # MANIFEST LOG: an unattended run in the background; $RUN_PID is timeout's
  timeout --kill-after=5 200 "$WINE64" "$E2E_EXE" /SILENT /AcceptLicense /i "$1" '/dir=C:\Tidewell\' "/log=$(winpath "$2")" \
    </dev/null >>"$TEST_TMP/tidestart.out" 2>&1 &
  RUN_PID=$!
  on_exit "kill $RUN_PID 2>/dev/null"
}
run_to_end() {  # MANIFEST LOG: prints the exit code
  local rc=0
  run_bg "$1" "$2"
  wait "$RUN_PID" || rc=$?
  echo "$rc"
}

# --- the first installation, with data of its own ----------------------------
rc=$(run_to_end "$manifest" "$TEST_TMP/first.log")
[ "$rc" = 0 ] || fail "first installation: exit $rc; log: $(tail -5 "$TEST_TMP/first.log")"
old=$E2E_INST/tidewell-4.2.1
mkdir -p "$old/WEB-INF/sql/DERBY/calendardb/seg0"
printf 'calendar data of the first installation\r\n' > "$old/WEB-INF/sql/DERBY/calendardb/seg0/c10.dat"
cp "$W64/standin_jre_setup.exe" "$E2E_INST/java.exe"
port=$(reg_query 64 "$key" Port)

# --- 4.3.0, its download slowed to a few seconds ----------------------------
e2e_upgrade_release 3072
manifest2=$NGINX_URL/release2/downloader.ini
tw_size=$(stat -c %s "$rel2/tidewell-4.3.0.zip")
d=$(dirname "$NGINX_ACCESS_LOG")
sed -i "s|^    root \(.*\);|    root \1; limit_rate 1m;|" "$d/nginx.conf"
/usr/sbin/nginx -p "$d" -c "$d/nginx.conf" -s reload 2>>"$d/error.log" || fail "nginx reload: $(cat "$d/error.log")"
sleep 0.5

# --- the kept state: the first installation, its server stopped ---------------
stop_server() {
  wine_run 30 sc stop Tidewell </dev/null >/dev/null 2>&1 || true  # stopped already
  local i
  for i in $(seq 1 100); do held "$port" || return 0; sleep 0.1; done
  fail "the server still answers on $port"
}
stop_server
cp -a "$E2E_INST" "$TEST_TMP/kept"
wine_run 30 reg export "$key" "$(winpath "$TEST_TMP/kept-key.reg")" /reg:64 /y </dev/null >/dev/null || fail "cannot export $key"
wine_run 30 reg export "$entry" "$(winpath "$TEST_TMP/kept-entry.reg")" /reg:64 /y </dev/null >/dev/null || fail "cannot export $entry"
restore() {
  stop_server
  rm -rf "$E2E_INST"
  cp -a "$TEST_TMP/kept" "$E2E_INST"
  local k f
  for k in key entry; do
    [ $k = key ] && f=$key || f=$entry
    wine_run 30 reg delete "$f" /f /reg:64 </dev/null >/dev/null 2>&1 || true
    wine_run 30 reg import "$(winpath "$TEST_TMP/kept-$k.reg")" /reg:64 </dev/null >/dev/null 2>&1 || fail "cannot import $f"
  done
}
folder_md5() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum); }
old_kept=$(folder_md5 "$TEST_TMP/kept/tidewell-4.2.1")
# What an installation is, one line per fact.
state() {
  (cd "$E2E_INST" && find . -type f ! -name Tidestart.log ! -name java.args ! -path './TCBase/logs/*' \
     ! -path './TCBase/work/*' ! -path './TCBase/temp/*' -print0 | sort -z | xargs -0 md5sum)
  wine_run 30 reg query "$key" /reg:64 </dev/null | tr -d '\r' | grep REG_ | sed 's/^ */setting /'
  wine_run 30 reg query "$entry" /reg:64 </dev/null | tr -d '\r' | grep REG_ | grep -v EstimatedSize | sed 's/^ */entry /'
  echo "service $(wine_run 30 sc query Tidewell </dev/null | tr -d '\r' | awk '$1 == "STATE" {print $4}')"
  echo "calendar $(curl -s --max-time 10 --noproxy '*' "http://127.0.0.1:$port/calendar/" | grep -o '<h1>[^<]*</h1>')"
}

# --- the reference: the upgrade run once, to its end ------------------------------
t0=$(e2e_ms)
rc=$(run_to_end "$manifest2" "$TEST_TMP/reference.log")
[ "$rc" = 0 ] || fail "uninterrupted upgrade: exit $rc; log: $(tail -5 "$TEST_TMP/reference.log")"
state > "$TEST_TMP/reference.state"
grep -qx 'calendar <h1>Tidewell 4.3.0</h1>' "$TEST_TMP/reference.state" || fail "reference: $(tail -2 "$TEST_TMP/reference.state")"
grep -qx 'service RUNNING' "$TEST_TMP/reference.state" || fail "reference: the service does not run"
[ "$(cat "$E2E_INST/tidewell-4.3.0/WEB-INF/sql/DERBY/calendardb/seg0/c10.dat" 2>&1)" = "$(cat "$old/WEB-INF/sql/DERBY/calendardb/seg0/c10.dat")" ] ||
  fail "reference: the data was not carried over"
echo "reference: the uninterrupted upgrade to 4.3.0 in $(( ($(e2e_ms) - t0) / 1000 )) s, $(grep -c '^[0-9a-f]\{32\} ' "$TEST_TMP/reference.state") files, the data carried over, the service running, the calendar answering as 4.3.0"

# --- the rows -------------------------------------------------------------------
# Each trigger is a test run while the upgrade runs (every 20 ms).
downloading() {
  local f=$E2E_INST/tidewell-4.3.0.zip s
  [ -f "$f" ] || return 1
  s=$(stat -c %s "$f")
  [ "$s" -gt 0 ] && [ "$s" -lt "$tw_size" ]
}
unpacking() { grep -q 'program: started: .*UNZIP\.EXE.*tidewell-4\.3\.0\.zip' <(tr -d '\r' 2>/dev/null < "$row_log"); }
migrating() { grep -qi 'program: started: .*winupdate\.bat' <(tr -d '\r' 2>/dev/null < "$row_log"); }
# Where the kill landed, from the run log and the settings.
landed() {
  local l; l=$(tr -d '\r' < "$row_log")
  if ! <<<"$l" grep -q 'step: download finished'; then
    echo "downloading ($(stat -c %s "$E2E_INST/tidewell-4.3.0.zip" 2>/dev/null || echo 0) of $tw_size bytes)"
  elif ! <<<"$l" grep -q 'step: InstallApplication:'; then
    if <<<"$l" grep -qi 'winupdate\.bat'; then echo "in the migration"; else echo "in the application step"; fi
    echo " (Version $(reg_query 64 "$key" Version))"
  else echo "after the application step"; fi
}
faults=0
rows=0
for row in "during the download:downloading" "during the application step:unpacking" "during the migration:migrating"; do
  name=${row%%:*} trigger=${row##*:}
  rows=$((rows + 1))
  restore
  row_log=$TEST_TMP/row$rows.log
  run_bg "$manifest2" "$row_log"
  caught=
  for i in $(seq 1 1500); do
    if $trigger; then caught=1; break; fi
    kill -0 "$RUN_PID" 2>/dev/null || break
    sleep 0.02
  done
  [ -n "$caught" ] || fail "$name: the run never got there (log: $(tail -3 "$row_log"))"
  pid=$(pgrep -P "$RUN_PID" | head -1)
  [ -n "$pid" ] || fail "$name: no process to kill"
  kill -KILL "$pid"
  wait "$RUN_PID" 2>/dev/null || true
  sleep 1  # what the killed run had started (the unzip tool, the script) ends by itself
  where=$(landed | tr -d '\n')
  rc=$(run_to_end "$manifest2" "$TEST_TMP/rerun$rows.log")
  state > "$TEST_TMP/row$rows.state"
  differs=$(diff "$TEST_TMP/reference.state" "$TEST_TMP/row$rows.state" | grep '^[<>]' || true)
  [ "$(folder_md5 "$old")" = "$old_kept" ] || differs="$differs tidewell-4.2.1 changed"
  if [ "$rc" = 0 ] && [ -z "$differs" ]; then
    echo "row: killed $name (landed: $where); rerun exit 0, the installation equals the uninterrupted upgrade, tidewell-4.2.1 untouched"
  else
    faults=$((faults + 1))
    echo "row: killed $name (landed: $where); rerun exit $rc; FAULT: $(echo "$differs" | head -8 | tr '\n' ' ')"
  fi
done
echo "second run: $rows rows, $faults faults, $(( ($(e2e_ms) - t_begin) / 1000 )) s"
[ "$faults" = 0 ] || fail "$faults rows differ from the uninterrupted upgrade"
pass "each kill (download, application step, migration) then a rerun ends as the uninterrupted upgrade"
