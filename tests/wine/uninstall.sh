#!/usr/bin/env bash
# The uninstaller under Wine after an installation made by the real install
# steps (orchestrate_test.exe with the stand-in release, as in
# orchestrate.sh), whose installer copy is then the product; both programs
# of the build product_build chooses (the shipped i686 one under WOW64
# where 32-bit programs start):
# "/UNINSTALL" from the registered UninstallString declined and accepted,
# the Uninstall button of the main window, a run from outside the install
# directory (which leaves a file the installer did not put there), and the
# folders it must refuse; the installer's own refusals (a folder holding
# other files, a character the scripts cannot carry) and the access list
# of the folder it creates. Every folder it may delete lies in this test's
# scratch folder.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
product_build
exe=$PRODUCT_DIR/orchestrate_test.exe prod=$PRODUCT_DIR/Tidestart.exe
[ -f "$exe" ] && [ -f "$prod" ] || { echo "skip: $PRODUCT_BUILD build missing"; exit 77; }
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
export XDG_DATA_HOME=$TEST_TMP/xdg   # Wine's recycle bin: $XDG_DATA_HOME/Trash
mkdir -p "$XDG_DATA_HOME"
start_wine_desktop
shots=${TIDE_SCREENSHOT_DIR:-$TIDE_NATIVE_BUILD/screenshots/uninstall}
mkdir -p "$shots"
robot() { wine_run 200 "$W64/robot.exe" "$@" </dev/null | tr -d '\r'; }

serve_tidewell_release 4.2.1 "$PRODUCT_RELEASE_ARCH"

folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
ufolders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
http_cmd='HKCR\http\shell\open\command'
pending='HKLM\System\CurrentControlSet\Control\Session Manager'
uninst='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell'
key='HKLM\Software\Quorvan Labs\Tidewell' svc='HKLM\System\CurrentControlSet\Services\Tidewell'
apps='HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths'
dsns='HKLM\SOFTWARE\ODBC\ODBC.INI\ODBC Data Sources' dsn='HKLM\SOFTWARE\ODBC\ODBC.INI\TIDEWELL'
# The program's own registry view and the other one.
if [ "$PRODUCT_BUILD" = win32 ]; then own=32 other=64; else own=64 other=32; fi
old_programs=$(reg_query 64 "$folders" Programs)
old_uprograms=$(reg_query 64 "$ufolders" Programs)
old_http=$(wine_run 30 reg query "$http_cmd" /ve 2>/dev/null | tr -d '\r' | awk '$1=="(Default)" || $1=="<NO" {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}')
wine_run 30 sc query Tidewell </dev/null >/dev/null 2>&1 && fail "a service Tidewell is already installed in $WINEPREFIX"
on_exit "wine_run 30 reg add '$folders' /v Programs /d '$old_programs' /f >/dev/null 2>&1"
on_exit "wine_run 30 reg add '$ufolders' /v Programs /t REG_EXPAND_SZ /d '$old_uprograms' /f >/dev/null 2>&1"
on_exit "wine_run 30 reg add '$http_cmd' /ve /d '${old_http//\'/}' /f >/dev/null 2>&1"
for v in 32 64; do
  on_exit "wine_run 30 reg delete 'HKLM\\Software\\Quorvan Labs' /f /reg:$v >/dev/null 2>&1"
  on_exit "wine_run 30 reg delete '$uninst' /f /reg:$v >/dev/null 2>&1"
  on_exit "wine_run 30 reg delete '$dsn' /f /reg:$v >/dev/null 2>&1"
  on_exit "wine_run 30 reg delete '$dsns' /v TIDEWELL /f /reg:$v >/dev/null 2>&1"
done
on_exit "wine_run 30 reg delete 'HKCU\\Software\\Quorvan Labs' /f >/dev/null 2>&1"
on_exit "wine_run 30 reg delete '$pending' /v PendingFileRenameOperations /f >/dev/null 2>&1"
on_exit "wine_run 30 reg delete 'HKLM\\Software\\JavaSoft' /f /reg:64 >/dev/null 2>&1"
on_exit "remove_service Tidewell"
on_exit "rm -rf '$WINEPREFIX/drive_c/Program Files/Java/jre-standin' '$WINEPREFIX/drive_c/tide-uninstall-test'"
wine_run 30 reg delete 'HKLM\Software\Quorvan Labs' /f /reg:64 >/dev/null 2>&1 || true
wine_run 30 reg delete "$pending" /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
mkdir -p "$TEST_TMP/Programs" "$TEST_TMP/browser"
# Both records of the Programs folder name the test's (the shortcuts go by
# Shell Folders, SHGetSpecialFolderPathW by User Shell Folders).
wine_run 30 reg add "$folders" /v Programs /d "$(winpath "$TEST_TMP/Programs")" /f >/dev/null
wine_run 30 reg add "$ufolders" /v Programs /t REG_EXPAND_SZ /d "$(winpath "$TEST_TMP/Programs")" /f >/dev/null
cp "$W64/standin_jre_setup.exe" "$TEST_TMP/browser/java.exe"
wine_run 30 reg add "$http_cmd" /ve /d "\"$(winpath "$TEST_TMP/browser/java.exe")\" \"%1\"" /f >/dev/null
old_https=$(wine_run 30 reg query "${http_cmd/http/https}" /ve 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}')
echo "$old_https" > "$TEST_TMP/https.handler"
on_exit "wine_run 30 reg add '${http_cmd/http/https}' /ve /d \"\$(cat '$TEST_TMP/https.handler')\" /f >/dev/null 2>&1"
wine_run 30 reg add "${http_cmd/http/https}" /ve /d "\"$(winpath "$TEST_TMP/browser/java.exe")\" \"%1\"" /f >/dev/null
wintemp=$(wine_run 30 cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')
hosttemp=$(wine_run 30 winepath -u "$wintemp" </dev/null 2>/dev/null | tr -d '\r')
[ -n "$hosttemp" ] && [ -d "$hosttemp" ] || fail "no temporary folder: '$wintemp'"
ulog=$hosttemp/Tidestart-uninstall.log
rm -f "$ulog"
on_exit "rm -f '$hosttemp/Tideclean.EXE' '$ulog'"

# install DIR: the real install steps into DIR, then the product as the
# installer copy, and the keys of an older installation planted.
install() {
  local inst=$1 I
  I=$(winpath "$inst")
  wine_run 600 "$exe" /i "$manifest" "$I" </dev/null >"$TEST_TMP/install.out" 2>"$TEST_TMP/install.err" || true
  grep -q '^url=http' <(tr -d '\r' <"$TEST_TMP/install.out") || fail "installation into $I: $(cat "$TEST_TMP/install.out")"
  local i state
  for i in $(seq 1 30); do
    state=$(wine_run 30 sc query Tidewell </dev/null 2>/dev/null | tr -d '\r' | awk '$1=="STATE" {print $4}')
    [ "$state" = RUNNING ] && break
    sleep 0.5
  done
  [ "$state" = RUNNING ] || fail "service not running 15 s after the installation (state '$state'): $(tr -d '\r' <"$TEST_TMP/install.out")"
  # The product key and the uninstall entry, in the 64-bit view only also
  # when a 32-bit program wrote them: from there the uninstall removes them.
  for k in "$key" "$uninst"; do
    wine_run 30 reg query "$k" /reg:64 >/dev/null 2>&1 && ! wine_run 30 reg query "$k" /reg:32 >/dev/null 2>&1 ||
      fail "$k is not in the 64-bit view only after the installation"
  done
  cp "$prod" "$inst/Tidestart.EXE"
  echo "calendar data" > "$inst/tidewell-4.2.1/data.txt"
  for v in 32 64; do
    wine_run 30 reg add "$dsns" /v TIDEWELL /d 'Microsoft Access Driver (*.mdb)' /f /reg:$v >/dev/null
    wine_run 30 reg add "$dsn" /v DBQ /d "C:\\x$v.mdb" /f /reg:$v >/dev/null
  done
  for e in Tidelink Tideclean Tidestart; do
    wine_run 30 reg add "$apps\\$e.exe" /ve /d "C:\\$e.exe" /f /reg:32 >/dev/null
  done
  wine_run 30 reg add 'HKCU\Software\Quorvan Labs\Tidelink' /v Server /d x /f >/dev/null
  wine_run 30 reg add 'HKLM\Software\Quorvan Labs\Othercal' /v Keep /d yes /f /reg:64 >/dev/null
}
# snapshot DIR: what an uninstall that is declined or refused could change,
# and nothing that changes by itself while the installation's server runs:
# - every path under DIR with its type, and the MD5 of every file, except
#   what lies in TCBase\logs, which the server writes at each start, request
#   and stop (the folder itself is listed); folder sizes are not taken, as
#   they follow the entries that are listed;
# - the shortcut folder in the test's Programs folder;
# - in both registry views, the keys the uninstall deletes or empties: the
#   product's vendor key, the uninstall entry, the data source (key and
#   list), the synch program's App Paths; the user's vendor key;
# - whether the service Tidewell exists and its state.
# The uninstall's run log in the temporary folder is not in it (written by
# every run, refused ones included).
snapshot() {
  (cd "$1" && find . -path ./TCBase/logs/\* -prune -o -printf '%y %p\n' | sort &&
    find . -path ./TCBase/logs -prune -o -type f -exec md5sum {} + | sort -k2)
  (cd "$TEST_TMP/Programs" && find . -printf '%y %p\n' | sort)
  for v in 32 64; do
    for k in 'HKLM\Software\Quorvan Labs' "$uninst" "$dsn" "$dsns" "$apps\Tidelink.exe" "$apps\Tideclean.exe" \
             "$apps\Tidestart.exe" 'HKCU\Software\Quorvan Labs'; do
      echo "== $k /reg:$v"; wine_run 30 reg query "$k" /s "/reg:$v" </dev/null 2>&1 | tr -d '\r'
    done
  done
  wine_run 30 sc query Tidewell </dev/null 2>&1 | tr -d '\r' | grep STATE
}
# removed DIR: what the accepted uninstall must have removed and left.
removed() {
  local inst=$1 k v i
  wine_run 30 sc query Tidewell </dev/null >/dev/null 2>&1 && fail "service Tidewell still known: $(wine_run 30 sc query Tidewell)"
  # The data source of the program's own registry view goes; the other
  # view's belongs to programs of the other bitness.
  [ -z "$(reg_query $own "$dsns" TIDEWELL)$(reg_query $own "$dsn" DBQ)" ] || fail "data source TIDEWELL left in the $own-bit view"
  [ -n "$(reg_query $other "$dsns" TIDEWELL)" ] && [ "$(reg_query $other "$dsn" DBQ)" = "C:\x$other.mdb" ] ||
    fail "data source TIDEWELL of the $other-bit view removed"
  for v in 32 64; do
    for k in "$key" "$uninst" "$svc" "$apps\Tidelink.exe" "$apps\Tideclean.exe" "$apps\Tidestart.exe"; do
      wine_run 30 reg query "$k" "/reg:$v" >/dev/null 2>&1 && fail "$k left in the $v-bit view"
    done
  done
  wine_run 30 reg query 'HKCU\Software\Quorvan Labs' >/dev/null 2>&1 && fail "HKCU\\Software\\Quorvan Labs left"
  [ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Othercal' Keep)" = yes ] || fail "the other product's key went"
  [ ! -e "$TEST_TMP/Programs/Tidewell Web Calendar" ] || fail "start-menu folder left"
  [ "$(cat "$XDG_DATA_HOME/Trash/files/tidewell-4.2.1/data.txt" 2>/dev/null)" = "calendar data" ] \
    || fail "versioned folder not in the trash: $(ls -R "$XDG_DATA_HOME" 2>&1 | head)"
  for i in $(seq 1 120); do [ -e "$inst" ] || break; sleep 0.5; done
  [ ! -e "$inst" ] || fail "install directory left: $(ls -A "$inst")"
  [ ! -e "$(dirname "$inst")" ] || fail "the empty containing folder left"
}

# --- 1. /UNINSTALL from the UninstallString: Cancel, then OK ------------------
inst="$TEST_TMP/inst/Quorvan Labs/Tidewell"
I=$(winpath "$inst")
install "$inst"
# The folder the installation created (the install directory's
# grandparent) gets the protected access list. Wine 8.0 keeps no access
# list for files: SetNamedSecurityInfoW succeeds, and a read back gives the
# list Wine derives from the unix mode bits. So the call is checked on a
# folder of the test's own, and the read back is reported for what it is.
top=$(winpath "$TEST_TMP/inst")
mkdir -p "$TEST_TMP/acl"
A=$(winpath "$TEST_TMP/acl")
acl=$(wine_run 30 "$PRODUCT_DIR/acl_probe.exe" --protect "$A" </dev/null | tr -d '\r') || fail "acl_probe --protect: $acl"
echo "$acl"
[ "$(echo "$acl" | sed -n 1p)" = "protect|$A|ok 0" ] || fail "SetNamedSecurityInfoW on $A: $acl"
acl=$(wine_run 30 "$PRODUCT_DIR/acl_probe.exe" "$top" "$I" </dev/null | tr -d '\r') || fail "acl_probe: $acl"
echo "$acl"
want_acl="ace|allow|S-1-5-18|001f01ff|03
ace|allow|S-1-5-32-544|001f01ff|03
ace|allow|S-1-5-32-545|001200a9|03"
if [ "$(echo "$acl" | sed -n 1p)" = "$top|protected=yes" ] && [ "$(echo "$acl" | sed -n '2,4p' | sort)" = "$want_acl" ]; then
  pass "the created folder $top: protected access list read back, Administrators and SYSTEM full control, Users read and execute"
else
  echo "not shown under this Wine: the access list read back from $top is the one Wine derives from the unix mode (Wine keeps none for files)"
  pass "SetNamedSecurityInfoW with the protected access list succeeds under Wine ($A)"
fi
cmdline=$(reg_query 64 "$uninst" UninstallString)
[ "$cmdline" = "\"$I\\Tidestart.EXE\" /UNINSTALL" ] || fail "UninstallString: $cmdline"
confirm_of() { echo "Uninstall Tidewell|Uninstalling Tidewell will remove all files stored in $1\\.\n\nThis includes any calendar data you may have stored in the Derby database.\n\nAre you sure you wish to do this?|error"; }
confirm=$(confirm_of "$I")
before=$(snapshot "$inst")
out=$(robot run --timeout 120 --answers Cancel --command-line "$cmdline")
echo "$out"
[ "$out" = "$confirm
exit|0" ] || fail "declined run: $out"
after=$(snapshot "$inst")
[ "$before" = "$after" ] || fail "the declined uninstall changed something: $(diff <(echo "$before") <(echo "$after"))"
<<<"$before" grep -q RUNNING || fail "snapshot without the service: $before"
pass "/UNINSTALL declined: the box (caption, text, stop icon; Cancel pressed), listing and reg query before and after equal ($(echo "$before" | wc -l) lines)"

# The box's buttons and its default: Enter presses Cancel.
wine_run 120 "$inst/Tidestart.EXE" /UNINSTALL </dev/null >/dev/null 2>&1 &
boxpid=$!
listing=$(robot window --title "Uninstall Tidewell" --timeout 60) || fail "no confirmation box: $listing"
buttons=$(echo "$listing" | awk -F'|' '$1=="control" && $3=="Button" {print $4}' | tr '\n' ',')
[ "$buttons" = "OK,Cancel," ] || fail "buttons of the box: $listing"
<<<"$listing" grep -qx 'focus|Cancel' || fail "Cancel is not the default: $listing"
robot key --title "Uninstall Tidewell" enter >/dev/null || fail "Enter not sent"
for i in $(seq 1 60); do kill -0 $boxpid 2>/dev/null || break; sleep 0.5; done
kill -0 $boxpid 2>/dev/null && fail "Enter did not close the box"
[ "$before" = "$(snapshot "$inst")" ] || fail "Enter in the box changed something"
pass "the box has OK and Cancel, the focus on Cancel; Enter declines and nothing changes"

rm -f "$TEST_TMP/browser/java.args"
out=$(robot run --timeout 180 --answers OK --command-line "$cmdline")
echo "$out"
[ "$out" = "$confirm
exit|0" ] || fail "accepted run: $out"
removed "$inst"
cmp -s "$hosttemp/Tideclean.EXE" "$prod" || fail "Tideclean.EXE in $hosttemp is not the $PRODUCT_BUILD program"
grep -q 'run: Tidestart .*, mode uninstall (second stage)$' <(tr -d '\r' < "$ulog") || fail "no second stage in the log: $(cat "$ulog")"
for i in $(seq 1 60); do grep -qF 'ExitSurvey.html?online=no' "$TEST_TMP/browser/java.args" 2>/dev/null && break; sleep 0.5; done
grep -qF '/ExitSurvey.html?online=no' "$TEST_TMP/browser/java.args" || fail "exit survey not opened: $(cat "$TEST_TMP/browser/java.args" 2>&1)"
pfro=$(wine_run 30 reg query "$pending" /v PendingFileRenameOperations </dev/null 2>/dev/null | tr -d '\r')
<<<"$pfro" grep -qi 'Tideclean.EXE' || fail "no delayed deletion: $pfro"
pass "/UNINSTALL accepted: service gone from sc query, its key, product, uninstall and synch keys gone in both views, data source TIDEWELL gone from the program's own $own-bit view and kept in the $other-bit one, Othercal kept, start-menu folder gone, tidewell-4.2.1 with its data in $XDG_DATA_HOME/Trash, Tideclean.EXE (the $PRODUCT_BUILD program: $(file -b "$prod" | cut -d, -f1)) deleted the install directory and its empty parent, exit survey $(grep -o 'http[^\"]*ExitSurvey[^\" ]*' "$TEST_TMP/browser/java.args" | head -1), PendingFileRenameOperations: $(echo "$pfro" | grep -i Tideclean | sed 's/^ *//')"

# --- 2. the Uninstall button of the main window -----------------------------
inst="$TEST_TMP/inst2/Quorvan Labs/Tidewell"
I=$(winpath "$inst")
install "$inst"
rm -rf "$XDG_DATA_HOME/Trash"
# DEBUG set: the service removal says so in a box, and while it is up the
# status line shows the step.
DEBUG=1 wine_run 300 "$inst/Tidestart.EXE" </dev/null >"$TEST_TMP/window.out" 2>&1 &
win=$!
robot window --title "Tidewell Downloader" --until "enabled:Uninstall" --timeout 60 >"$TEST_TMP/frame.out" \
  || fail "main window: $(cat "$TEST_TMP/frame.out")"
robot click --title "Tidewell Downloader" --text "&Uninstall" >/dev/null || fail "click Uninstall"
line=$(robot expect --caption "Uninstall Tidewell" --button OK --timeout 60) || fail "no confirmation: $line"
[ "$line" = "$(confirm_of "$I")" ] || fail "confirmation from the button: $line"
# Screenshots of the window every 0.3 s until the service box is answered.
( n=0; while [ ! -e "$TEST_TMP/answered" ] && [ $n -lt 200 ]; do
    import -window root "$TEST_TMP/shot-$(printf %03d $n).png" 2>/dev/null; n=$((n+1)); sleep 0.3; done ) &
shooter=$!
line=$(robot expect --caption Notice --button OK --timeout 100) || fail "no service-removal box: $line; $(cat "$TEST_TMP/window.out")"
touch "$TEST_TMP/answered"; wait $shooter
echo "$line"
[ "$line" = "Notice|The service has been removed.|information" ] || fail "service box: $line"
last=$(ls "$TEST_TMP"/shot-*.png | tail -1)
cp "$last" "$shots/uninstall_button_status.png"
echo "screenshot: $shots/uninstall_button_status.png ($(ls "$TEST_TMP"/shot-*.png | wc -l) taken, the last while the box was up)"
for i in $(seq 1 120); do kill -0 $win 2>/dev/null || break; sleep 0.5; done
kill -0 $win 2>/dev/null && fail "the window did not close"
removed "$inst"
pass "Uninstall button: confirmation with OK, the steps with the status line (screenshot), everything removed as by /UNINSTALL, the window closed"

# --- 3. from outside the install directory: no copy, deleted directly --------
inst="$TEST_TMP/inst3/Quorvan Labs/Tidewell"
install "$inst"
echo other > "$TEST_TMP/inst3/Quorvan Labs/other.txt"
echo mine > "$inst/my-notes.txt"
rm -rf "$XDG_DATA_HOME/Trash" "$hosttemp/Tideclean.EXE"
out=$(robot run --timeout 180 --answers OK,OK -- "$(winpath "$prod")" /UNINSTALL)
echo "$out" | tail -2
[ "$(echo "$out" | tail -1)" = "exit|0" ] || fail "outside run: $out"
[ ! -e "$hosttemp/Tideclean.EXE" ] || fail "a copy was made"
[ "$(ls -A "$inst")" = my-notes.txt ] || fail "the install directory does not hold just the user's file: $(ls -A "$inst")"
<<<"$out" grep -qxF "Notice|The uninstaller removed what the installer put into $(winpath "$inst")\\. It left the folder in place with what the installer did not put there:\nmy-notes.txt\n\nDelete them yourself when they are no longer needed.|information" ||
  fail "no box naming what was left: $out"
[ -f "$TEST_TMP/inst3/Quorvan Labs/other.txt" ] || fail "the containing folder with another file went"
[ -f "$XDG_DATA_HOME/Trash/files/tidewell-4.2.1/data.txt" ] || fail "versioned folder not in the trash"
pass "from outside: no Tideclean.EXE, everything the installer made deleted directly, the user's my-notes.txt left with a box naming it, the containing folder kept because it holds other.txt"

# --- 4. refused folders: the box names each one, nothing is deleted -----------
profile=$(wine_run 30 cmd /c echo %USERPROFILE% </dev/null 2>/dev/null | tr -d '\r')
mkdir -p "$WINEPREFIX/drive_c/tide-uninstall-test/photos"
echo keep > "$WINEPREFIX/drive_c/tide-uninstall-test/photos/a.jpg"
# The run log in the temporary folder (under the profile) records each
# refusal: the one file a refused uninstall writes, checked on its own.
listing() { (cd "$1" && find . -maxdepth 2 -printf '%p %s\n' 2>/dev/null | grep -v '/Tidestart-uninstall\.log ' | sort); }
hostof() { wine_run 30 winepath -u "$1" </dev/null 2>/dev/null | tr -d '\r'; }
refused() {  # dir, how: the robot's line and the listing before and after
  local dir=$1 b a out host
  host=$(hostof "$dir")
  [ -d "$host" ] || fail "no $host for $dir"
  b=$(listing "$host")
  shift
  out=$(robot run --timeout 120 --answers OK,OK "$@")
  a=$(listing "$host")
  <<<"$out" grep -qxF "Notice|The folder $dir is not a Tidewell installation the uninstaller may delete (a drive, a system or profile folder, or a folder without this installation's mark Tidestart.id). Nothing was deleted.|error" \
    || fail "refusal of $dir: $out"
  [ "$b" = "$a" ] && [ -n "$b" ] || fail "$dir changed: $(diff <(echo "$b") <(echo "$a"))"
  grep -qF "message: \"Notice\": The folder $dir is not a Tidewell installation" <(tail -2 "$ulog" | tr -d '\r') ||
    fail "the run log does not record the refusal of $dir: $(tail -3 "$ulog")"
}
install "$TEST_TMP/inst4/Tidewell"
snap_before=$(snapshot "$TEST_TMP/inst4/Tidewell")
for d in 'C:\' 'C:\Program Files\' "$profile\\" 'C:\tide-uninstall-test\photos\'; do
  wine_run 30 reg add 'HKLM\Software\Quorvan Labs\Tidewell' /v AppPath /d "$d" /f /reg:64 >/dev/null
  refused "$d" -- "$(winpath "$TEST_TMP/inst4/Tidewell/Tidestart.EXE")" /UNINSTALL
done
wine_run 30 reg add 'HKLM\Software\Quorvan Labs\Tidewell' /v AppPath /d "$(winpath "$TEST_TMP/inst4/Tidewell")\\" /f /reg:64 >/dev/null
snap_after=$(snapshot "$TEST_TMP/inst4/Tidewell")
[ "$snap_before" = "$snap_after" ] || fail "a refused /UNINSTALL changed the installation: $(diff <(echo "$snap_before") <(echo "$snap_after"))"
pass "/UNINSTALL with AppPath C:\\, C:\\Program Files\\, $profile\\ and a folder without the installation's files: refused in a Notice box naming it, nothing changed (listings, registry, service)"
for d in "$profile\\" 'C:\users\' 'C:\' 'C:\windows\' 'C:\tide-uninstall-test\photos\'; do
  refused "$d" -- "$(winpath "$prod")" /douninstall x "$d"
done
pass "/douninstall by hand with the profile folder, the profiles folder, C:\\, the Windows folder and a folder without the installation's files: refused, left intact"

# --- 5. the installer's refusals: nothing is made, the box says why ----------
mkdir -p "$TEST_TMP/inst5"
echo mine > "$TEST_TMP/inst5/notes.txt"
F=$(winpath "$TEST_TMP/inst5")
out=$(wine_run 120 "$exe" /i "$manifest" "$F" </dev/null | tr -d '\r')
echo "$out" | grep '^box='
<<<"$out" grep -qxF "box=Error Creating Directory|The folder $F\\ already holds files that are not a Tidewell installation, and the uninstaller could not tell them apart. Choose an empty or new folder.|warning" ||
  fail "a folder holding other files was not refused: $out"
[ "$(ls -A "$TEST_TMP/inst5")" = notes.txt ] || fail "the refused folder changed: $(ls -A "$TEST_TMP/inst5")"
R="$(winpath "$TEST_TMP")\\R&D\\Tidewell"
out=$(wine_run 120 "$exe" /i "$manifest" "$R" </dev/null | tr -d '\r')
echo "$out" | grep '^box='
<<<"$out" grep -qF "box=Error Creating Directory|The install directory $R holds the character &," || fail "a path with & was not refused: $out"
[ ! -e "$TEST_TMP/R&D" ] || fail "the refused path was created"
pass "install into a folder holding notes.txt: refused with the box asking for an empty or new folder, nothing written; a path with & refused naming the character, nothing created"
