# Unattended runs of Tidestart.exe under Wine (the build product_build
# chooses: the shipped i686 one under WOW64 where 32-bit programs start):
# refused arguments and a refused licence change nothing; "/silent
# /acceptlicense" installs from the stand-in release without a window, on
# the 64-bit road, and the server answers; the run log holds every run,
# appended; the registered quiet uninstall command removes everything, both
# stages unattended, the second one the same program.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/e2e.sh"
e2e_begin
key='HKLM\Software\Quorvan Labs\Tidewell'
uninst='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell'
log=$TEST_TMP/silent.log
L=$(winpath "$log")
wintemp=$(wine_run 30 cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')
hosttemp=$(wine_run 30 winepath -u "$wintemp" </dev/null 2>/dev/null | tr -d '\r')
[ -n "$hosttemp" ] && [ -d "$hosttemp" ] || fail "no temporary folder: '$wintemp'"
ulog=$hosttemp/Tidestart-uninstall.log
rm -f "$ulog"
on_exit "rm -f '$hosttemp/Tideclean.EXE' '$ulog'"
silent() {  # ARGS...: Tidestart.exe ARGS; prints its exit code
  local rc=0
  wine_run 280 "$E2E_EXE" "$@" </dev/null >>"$TEST_TMP/tidestart.out" 2>&1 || rc=$?
  echo "$rc"
}
nothing_installed() {  # WHAT
  [ ! -e "$E2E_INST" ] || fail "$1: $E2E_INST was made"
  wine_run 30 reg query "$key" /reg:64 >/dev/null 2>&1 && fail "$1: $key written"
  [ ! -s "$NGINX_ACCESS_LOG" ] || fail "$1: requests were made: $(cat "$NGINX_ACCESS_LOG")"
}

# --- arguments an unattended run cannot act on, and no licence --------------
for a in '/dir=' '/dri=C:\Tidewell\'; do
  rc=$(silent /silent /acceptlicense /i "$manifest" "$a" "/log=$L")
  [ "$rc" = 1 ] || fail "/silent with $a: exit code $rc, not 1"
  nothing_installed "$a"
done
rc=$(silent /silent /acceptlicense /i "$manifest" '/dir=C:\' "/log=$L")
[ "$rc" = 6 ] || fail "/dir=C:\\: exit code $rc, not 6"
nothing_installed '/dir=C:\'
rc=$(silent /silent /i "$manifest" '/dir=C:\Tidewell\' "/log=$L" /proxypassword=s3cret)
[ "$rc" = 2 ] || fail "without /acceptlicense: exit code $rc, not 2"
nothing_installed "without /acceptlicense"
grep -q 'run: the licence was not accepted' "$log" || fail "the log does not say why: $(cat "$log")"
grep -q 's3cret' "$log" && fail "the password is in the log"
grep -q 'command line: .*/proxypassword=\*\*\*\*\*$' <(tr -d '\r' < "$log") || fail "no masked password in the log: $(cat "$log")"
pass "/dir= empty and an unknown /dri=: exit 1; /dir=C:\\: exit 6; no /acceptlicense: exit 2, the log says why and masks /proxypassword=; nothing made (no $E2E_INST, no $key, no request in the nginx log)"

# --- a manifest that cannot be fetched ---------------------------------------
rc=$(silent /silent /acceptlicense /i "$NGINX_URL/release/missing.ini" '/dir=C:\Tidewell\' "/log=$L")
[ "$rc" = 3 ] || fail "a missing manifest: exit code $rc, not 3"
grep -q 'message: "Error Download Files": An error happened downloading a file.* -> OK (unattended)$' <(tr -d '\r' < "$log") ||
  fail "the download advice is not in the log: $(tail -5 "$log")"
e2e_forget
: > "$NGINX_ACCESS_LOG"  # the installation's requests alone (e2e_road reads them)
pass "a manifest that cannot be fetched: exit 3, the download advice in the log"

# --- the unattended installation --------------------------------------------
# Through the robot, which prints every window and box the program shows.
t0=$(e2e_ms)
out=$(wine_run 280 "$E2E_ROBOT" run --timeout 250 -- "$E2E_EXE" /SILENT /i "$manifest" /AcceptLicense '/dir=C:\Tidewell\' "/log=$L" </dev/null | tr -d '\r')
secs=$(( ($(e2e_ms) - t0) / 1000 ))
[ "$out" = 'exit|0' ] || fail "unattended install: $out; log: $(tail -20 "$log")"
port=$(reg_query 64 "$key" Port)
page=$(curl -s --max-time 10 --noproxy '*' "http://127.0.0.1:$port/calendar/") || true
<<<"$page" grep -q '<h1>Tidewell 4.2.1</h1>' || fail "the calendar on port $port: '$page'"
sleep 1
[ ! -e "$E2E_BROWSER_ARGS" ] || fail "the browser was asked for: $(cat "$E2E_BROWSER_ARGS")"
[ ! -e "$E2E_INST/Tidestart.log" ] || fail "the log went beside the manifest although /log= named one"
# Every kind of entry, each with its time.
tr -d '\r' < "$log" > "$TEST_TMP/log.txt"
# log_has FILE RE...: every RE (extended) matches a line of FILE.
log_has() {
  local f=$1 re; shift
  for re in "$@"; do grep -Eq "$re" "$f" || fail "no log line /$re/ in: $(cat "$f")"; done
}
zip_size=$(stat -c %s "$rel"/tidewell-4.2.1.zip)
log_has "$TEST_TMP/log.txt" \
  '^$' \
  'Z run: Tidestart [0-9.]+, mode install, unattended$' \
  'Z run: test build: it trusts the public test release key, whose secret key anyone can read; not for release$' \
  'Z run: command line: .*/SILENT .*/AcceptLicense' \
  'Z step: install directory C:\\Tidewell\\ created and recorded$' \
  'Z step: SelfUpdateAndRegister: ok$' \
  'Z step: stage: Downloading Files$' \
  "Z url: GET http://127\\.0\\.0\\.1:[0-9]+/release/downloader\\.ini: status 200, [1-9][0-9]* bytes$" \
  "Z url: GET http://127\\.0\\.0\\.1:[0-9]+/release/tidewell-4\\.2\\.1\\.zip: status 200, $zip_size bytes$" \
  'Z step: download finished$' \
  'Z program: ended with exit code 0: .*' \
  'Z step: InstallTomcat\(TOMCAT(x64)?\): ok$' \
  'Z step: ConfigureServerBase: ok$' \
  'Z step: InstallApplication: ok$' \
  'Z step: InstallServerService: ok$' \
  'Z step: start the server: ok$' \
  'Z registry: write value "AppPath" in HKLM\\Software\\Quorvan Labs\\Tidewell.*: ok$' \
  "Z step: the server answers at http://localhost(:$port)?/calendar/\$" \
  'Z run: result: done$' \
  'Z run: exit code 0$'
grep -Eqv '^$|^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z [a-z]+: ' "$TEST_TMP/log.txt" &&
  fail "a log line without time and kind: $(grep -Ev '^$|^[0-9-]{10}T[0-9:.]{12}Z [a-z]+: ' "$TEST_TMP/log.txt" | head -3)"
runs=$(grep -c 'Z run: Tidestart ' "$TEST_TMP/log.txt")
[ "$runs" = 6 ] || fail "the log holds $runs run headers, not 6 (appended)"
pass "unattended install in $secs s: exit 0 with no window or box, the calendar answers on port $port, no browser; the log ($(wc -l < "$TEST_TMP/log.txt") lines) has the header, step lines with results, URL lines with status and bytes ($zip_size for the application), program exit codes, registry writes, and all 6 runs appended"

e2e_road
pass "the 64-bit road of the unattended installation ($PRODUCT_BUILD build)"

# --- the quiet uninstall, exactly as it is registered -----------------------
out=$(wine_run 200 "$E2E_ROBOT" run --timeout 150 --command-line "\"C:\\Tidewell\\Tidestart.EXE\" /UNINSTALL /SILENT" </dev/null | tr -d '\r')
[ "$out" = 'exit|0' ] || fail "quiet uninstall: $out"
for i in $(seq 1 120); do [ -e "$E2E_INST" ] || break; sleep 0.5; done
[ ! -e "$E2E_INST" ] || fail "install directory left: $(ls -A "$E2E_INST"); log: $(tail -20 "$ulog")"
wine_run 30 sc query Tidewell </dev/null >/dev/null 2>&1 && fail "service Tidewell still there"
for v in 32 64; do
  for k in "$key" "$uninst" 'HKLM\System\CurrentControlSet\Services\Tidewell'; do
    wine_run 30 reg query "$k" "/reg:$v" >/dev/null 2>&1 && fail "$k left in the $v-bit view"
  done
done
tr -d '\r' < "$ulog" > "$TEST_TMP/ulog.txt"
log_has "$TEST_TMP/ulog.txt" 'Z run: Tidestart [0-9.]+, mode uninstall, unattended$' \
  'Z message: "Uninstall Tidewell": .* -> OK \(unattended\)$' \
  'Z registry: delete key HKLM.*Uninstall\\Tidewell.*: ok$' \
  'Z run: Tidestart [0-9.]+, mode uninstall \(second stage\), unattended$' \
  'Z run: command line: .*/DOUNINSTALL .* /SILENT "/log=' \
  'Z step: the folder C:\\Tidewell\\ is removed$'
cmp -s "$hosttemp/Tideclean.EXE" "$E2E_EXE" || fail "the second stage's Tideclean.EXE is not the $PRODUCT_BUILD program"
# Kept for a person to read.
logs=${TIDE_LOG_DIR:-$TIDE_NATIVE_BUILD/logs/silent}
mkdir -p "$logs" && cp "$log" "$logs/install.log" && cp "$ulog" "$logs/uninstall.log"
sleep 1
[ ! -e "$E2E_BROWSER_ARGS" ] || fail "the exit survey was opened: $(cat "$E2E_BROWSER_ARGS")"
pass "\"C:\\Tidewell\\Tidestart.EXE\" /UNINSTALL /SILENT: exit 0, no box; install directory, service (and its key), product key and uninstall entry gone in both views; both stages in $wintemp\\Tidestart-uninstall.log, the second one Tideclean.EXE, the $PRODUCT_BUILD program ($(file -b "$E2E_EXE" | cut -d, -f1)); no exit survey"
