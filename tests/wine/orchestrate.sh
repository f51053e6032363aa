#!/usr/bin/env bash
# One installation from the Install click to the browser under Wine (x86_64
# build), with every real step: the stand-in release and the stand-in
# Tidewell archive served by nginx, downloaded by the component downloader,
# the stand-in runtime installer waited for, the server base, Tomcat and
# the application unpacked and configured, the service created and started
# through the service manager, the shortcuts made, the countdown, and the
# calendar's address handed to the browser (a recorder registered as Wine's
# http handler). Ports 80 and 8080 are held busy, so the server gets 9080.
# Before it: unusable install paths are refused and nothing is saved.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
exe=$W64/orchestrate_test.exe
[ -f "$exe" ] || { echo "skip: $exe not built"; exit 77; }
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

want() { <<<"$out" grep -qxF "$1" || fail "$2: expected '$1' in:
$out"; }

# --- the release: stand-in server distribution plus Tidewell 4.2.1 ----------
serve_tidewell_release 4.2.1 x64

# --- the prefix's state for the test, put back afterwards -------------------
svc_key='HKLM\SYSTEM\CurrentControlSet\Services\Tidewell'
folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
http_cmd='HKCR\http\shell\open\command'
old_programs=$(reg_query 64 "$folders" Programs)
old_http=$(wine_run 30 reg query "$http_cmd" /ve 2>/dev/null | tr -d '\r' | awk '$1=="(Default)" || $1=="<NO" {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}')
wine_run 30 sc query Tidewell </dev/null >/dev/null 2>&1 && fail "a service Tidewell is already installed in $WINEPREFIX"
on_exit "wine_run 30 reg add '$folders' /v Programs /d '$old_programs' /f >/dev/null 2>&1"
on_exit "wine_run 30 reg add '$http_cmd' /ve /d '${old_http//\'/}' /f >/dev/null 2>&1"
on_exit "wine_run 30 reg delete 'HKLM\\Software\\Quorvan Labs' /f /reg:64 >/dev/null 2>&1"
on_exit "wine_run 30 reg delete 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell' /f /reg:64 >/dev/null 2>&1"
on_exit "wine_run 30 reg delete 'HKLM\\Software\\JavaSoft' /f /reg:64 >/dev/null 2>&1"
on_exit "remove_service Tidewell"
on_exit "rm -rf '$WINEPREFIX/drive_c/Program Files/Java/jre-standin'"
wine_run 30 reg delete 'HKLM\Software\Quorvan Labs' /f /reg:64 >/dev/null 2>&1 || true
wine_run 30 reg delete 'HKLM\Software\JavaSoft' /f /reg:64 >/dev/null 2>&1 || true
mkdir -p "$TEST_TMP/Programs" "$TEST_TMP/browser"
wine_run 30 reg add "$folders" /v Programs /d "$(winpath "$TEST_TMP/Programs")" /f >/dev/null
# The browser: the stand-in's recorder (as java.exe it appends its command
# line to java.args beside itself).
cp "$W64/standin_jre_setup.exe" "$TEST_TMP/browser/java.exe"
wine_run 30 reg add "$http_cmd" /ve /d "\"$(winpath "$TEST_TMP/browser/java.exe")\" \"%1\"" /f >/dev/null

run() {  # path: the program's output (servers it starts keep stderr: into a file)
  wine_run 600 "$exe" /i "$manifest" "$1" </dev/null >"$TEST_TMP/run.out" 2>"$TEST_TMP/run.err" || true
  tr -d "\r" < "$TEST_TMP/run.out" | tee -a "${TIDE_ORCH_LOG:-/dev/null}"
}

# --- unusable paths: the message, nothing saved ------------------------------
for p in 'Tidewell' 'C:\' 'C:\windows' '\\server\share\Tidewell' 'C:Tidewell'; do
  out=$(run "$p")
  want "box=Error Creating Directory|Error Creating Directory $p. Verify path is valid!|warning" "path $p"
  want "setting-AppPath=" "path $p"
  [ "$(echo "$out" | grep -c '^event=')" = 0 ] || fail "path $p changed the window: $out"
done
[ ! -e "$WINEPREFIX/drive_c/Tidewell" ] || fail "a folder C:\\Tidewell was made"
pass "unusable paths (bare name, C:\\, the Windows folder, UNC, C:Tidewell): \"Error Creating Directory\" with the warning icon, nothing saved, the window unchanged"

# --- the installation: ports 80 and 8080 busy --------------------------------
hold_ports 80 8080
expect_port=9080
held 9080 && { expect_port=10080; echo "note: 9080 is held by another process; expecting 10080"; }

inst="$TEST_TMP/inst/Quorvan Labs/Tidewell"
I=$(winpath "$inst")
t0=$(date +%s%N)
out=$(run "  $I\\  ")
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
echo "$out" | grep -E '^(stage|install-phase-done|countdown-done|box|error)='
echo "(the whole run took $ms ms)"
! <<<"$out" grep -q '^box=' || fail "message boxes during the installation: $(echo "$out" | grep '^box=')"
! <<<"$out" grep -q '^error=' || fail "$(echo "$out" | grep '^error=')"
stages=$(echo "$out" | sed -n 's/^stage=\([0-9]\) .*/\1/p' | tr -d '\n')
[ "$stages" = 12345 ] || fail "stages in order 1..5, got '$stages'"
want "components=JREx64,UNZIP,CATALINA_BASE,TOMCATx64,TW" "downloaded list"
want "setting-AppPath=$I\\" "AppPath with one backslash"
want "setting-Port=$expect_port" "the server's port"
want "setting-Version=4.2.1" "installed version"
want "setting-Arch=x64" "installed architecture"
want "setting-ServiceInstalled=Y" "service"
want "setting-ShortcutsOffered=Y" "shortcuts offered"
want "uninstall-enabled=1" "Uninstall button"
want "closed=1" "window closed"
url="http://localhost:$expect_port/calendar/"
want "url=$url" "server address"
for f in UNZIP.EXE catalina_base.zip apache-tomcat-standin-x64.zip tidewell-4.2.1.zip jre-standin-x64-setup.exe; do
  cmp -s "$rel/$f" "$inst/$f" || fail "$f not downloaded intact"
done
for c in UNZIP.EXE catalina_base.zip apache-tomcat-standin-x64.zip tidewell-4.2.1.zip jre-standin-x64-setup.exe; do
  grep -q "GET /release/$c " "$NGINX_ACCESS_LOG" || fail "$c was not fetched from nginx"
done
pass "cbInstallClick to the end: stages 1 to 5 in order, every component fetched from nginx, AppPath, Port $expect_port, Version 4.2.1, Arch x64, ServiceInstalled Y, ShortcutsOffered Y, Uninstall enabled, window closed"

state=$(wine_run 30 sc query Tidewell </dev/null 2>/dev/null | tr -d '\r' | awk '$1=="STATE" {print $4}')
[ "$state" = RUNNING ] || fail "service state: '$state'"
page=$(curl -s --max-time 10 --noproxy '*' "http://127.0.0.1:$expect_port/calendar/") || true
<<<"$page" grep -q '<h1>Tidewell 4.2.1</h1>' || fail "the calendar page from port $expect_port: '$page'"
pass "service Tidewell RUNNING; curl fetches the Tidewell 4.2.1 page from http://127.0.0.1:$expect_port/calendar/"

# The shell starts the browser on its own, maybe after the program ended.
for i in $(seq 1 100); do [ -s "$TEST_TMP/browser/java.args" ] && break; sleep 0.1; done
[ -s "$TEST_TMP/browser/java.args" ] || fail "the browser was not started"
grep -qF "$url" "$TEST_TMP/browser/java.args" || fail "browser command line: $(cat "$TEST_TMP/browser/java.args")"
tail=$(echo "$out" | grep '^status-line=' | tail -n 2)
[ "$(echo "$tail" | tail -n 1)" = "status-line=Launching Browser" ] || fail "last status: $tail"
<<<"$out" grep -q '^status-line=Waiting [0-9]* seconds for Tidewell to Start\.\.\.$' || fail "no countdown text"
pass "ShellExecuteW(open, $url) reached the registered http handler; the countdown texts, then \"Launching Browser\""

F="$TEST_TMP/Programs/Tidewell Web Calendar"
[ -e "$F/Start Tidewell Service.lnk" ] && [ -e "$F/Stop Tidewell Service.lnk" ] || fail "service shortcuts: $(ls "$F" 2>&1)"
[ -n "$(reg_query 64 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell' DisplayVersion)" ] \
  || fail "no uninstall entry"
[ -f "$inst/Tidestart.EXE" ] || fail "no installer copy in the install directory"
pass "shortcuts in the Programs folder ($(ls "$F" | tr '\n' ',' )), uninstall entry and Tidestart.EXE written by the self-registration"

# --- the entry in the list of installed programs, read back ------------------
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell'
for v in DisplayIcon InstallDate QuietUninstallString EstimatedSize; do
  echo "  $v = $(reg_query 64 "$entry" $v)"
done
[ "$(reg_query 64 "$entry" DisplayIcon)" = "$I\\Tidestart.EXE,0" ] || fail "DisplayIcon"
[ "$(reg_query 64 "$entry" InstallDate)" = "$(date +%Y%m%d)" ] || fail "InstallDate (today here: $(date +%Y%m%d))"
[ "$(reg_query 64 "$entry" QuietUninstallString)" = "\"$I\\Tidestart.EXE\" /UNINSTALL /SILENT" ] || fail "QuietUninstallString"
kib=$(( $(reg_query 64 "$entry" EstimatedSize) ))
# du over the folder's files (apparent sizes, hard links each counted): the
# entry counts bytes in files, rounded up to KiB once for the whole tree.
size_matches "$inst" "$kib" || fail "EstimatedSize $kib KiB, the folder's files $SIZE_BYTES bytes, $SIZE_LOG_BYTES of them logs"
pass "the entry's DisplayIcon, InstallDate $(date +%Y%m%d), QuietUninstallString, and EstimatedSize $kib KiB = the install folder's files by du ($SIZE_BYTES bytes, $SIZE_LOG_BYTES of them logs that may have grown since)"
