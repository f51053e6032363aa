# The installation's shortcuts with the real shell objects (64-bit build):
# every .lnk read back through IShellLinkW and IPersistFile, the .url
# through the Internet-shortcut object; the start and stop pair for either
# way of running; a user without a recorded Programs folder.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
# Links saved into a start menu would make Wine write Linux menu entries.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
exe="$W64/service_shortcuts.exe"
drv() { wine_run 60 "$exe" "$@" </dev/null | tr -d '\r'; }

inst=$TEST_TMP/inst
mkdir -p "$inst/tidewell-4.2.1/manual/en" "$inst/TCBase/bin" "$inst/apache-tomcat-standin/bin" "$TEST_TMP/Programs"
touch "$inst/tidewell-4.2.1/manual/en/Tutorials.html" "$inst/tidewell-4.2.1/manual/en/index.html" \
  "$inst/TCBase/bin/catalina.bat" "$inst/apache-tomcat-standin/bin/tomcat7w.exe" "$TEST_TMP/Tidestart.exe"
printf '[TW]\r\nFILE_VERSION=4.2.1\r\n[TOMCAT]\r\nUNPACK_PATH=apache-tomcat-standin\r\n' > "$inst/downloader.ini"
I=$(winpath "$inst")
P=$(winpath "$TEST_TMP/Programs")
F="$TEST_TMP/Programs/Tidewell Web Calendar"

# The user's Programs folder points into the test folder for the test.
folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
old_programs=$(reg_query 64 "$folders" Programs)
[ -n "$old_programs" ] || fail "the prefix records no Programs folder"
on_exit "wine_run 30 reg add '$folders' /v Programs /d '$old_programs' /f >/dev/null 2>&1"
on_exit "wine_run 30 reg delete 'HKLM\\Software\\Quorvan Labs' /f /reg:64 >/dev/null 2>&1"
wine_run 30 reg add "$folders" /v Programs /d "$P" /f >/dev/null
drv setup "$I" 80 >/dev/null

out=$(drv programs "$(winpath "$TEST_TMP/Tidestart.exe")")
[ "$out" = "result=1" ] || fail "programs: $out"

expect_link() {  # file, target, arguments, workdir, description
  local got want
  got=$(drv link "$(winpath "$F/$1")")
  want="target=$2
arguments=[$3]
workdir=$4
description=$5"
  [ "$got" = "$want" ] || fail "$1:
$got
expected:
$want"
  pass "$1: target, arguments, working directory, description"
}
man="$I\\tidewell-4.2.1\\manual\\en"
expect_link Tutorials.lnk "$man\\Tutorials.html" "" "$man" "Access Shockwave tutorials on using Tidewell"
expect_link Manual.lnk "$man\\index.html" "" "$man" "Software Manual"
expect_link "Tidewell Downloader.lnk" "$(winpath "$TEST_TMP/Tidestart.exe")" "" "$I\\" "Tidewell Installer"

got=$(drv url "$(winpath "$F/Tidewell Web Calendar.url")")
[ "$got" = "url=http://localhost/calendar/" ] || fail "url: $got"
# (line ends are the shell object's: Wine writes LF, Windows CR LF)
grep -qx 'URL=http://localhost/calendar/' <(tr -d '\r' < "$F/Tidewell Web Calendar.url") \
  || fail "URL line: $(cat "$F/Tidewell Web Calendar.url")"
pass "Tidewell Web Calendar.url: http://localhost/calendar/ (port 80 has no port part)"

got=$(drv setting StartMenuIcon)
[ "$got" = "$P\\Tidewell Web Calendar\\Tidewell Downloader.lnk" ] || fail "StartMenuIcon: $got"
pass "StartMenuIcon names Tidewell Downloader.lnk"

# The start and stop pair for each way of running; the other pair goes.
home="$I\\apache-tomcat-standin\\"
settings='HKLM\Software\Quorvan Labs\Tidewell'
net=""
for installed in Y N Y; do
  wine_run 30 reg add "$settings" /v ServiceInstalled /d $installed /f /reg:64 >/dev/null
  out=$(drv services)
  [ "$out" = "result=1" ] || fail "services: $out"
  if [ $installed = Y ]; then on=" Service"; off=""; else on=""; off=" Service"; fi
  for f in "Start Tidewell$off.lnk" "Stop Tidewell$off.lnk"; do [ ! -e "$F/$f" ] || fail "$f left behind"; done
  if [ $installed = Y ]; then
    net=$(drv link "$(winpath "$F/Start Tidewell Service.lnk")" | sed -n 's/^target=//p')
    case "$net" in [Cc]:\\*\\[Nn][Ee][Tt].[Ee][Xx][Ee]) ;; *) fail "NET.EXE target: $net";; esac
    expect_link "Start Tidewell Service.lnk" "$net" "start  Tidewell" "$home" "Start Tidewell Service"
    expect_link "Stop Tidewell Service.lnk" "$net" "stop  Tidewell" "$home" "Stop Tidewell Service"
  else
    expect_link "Start Tidewell.lnk" "$I\\TCBase\\bin\\catalina.bat" "start " "$home" "Start Tidewell"
    expect_link "Stop Tidewell.lnk" "$I\\TCBase\\bin\\catalina.bat" "stop " "$home" "Stop Tidewell"
  fi
  expect_link "Configure Tidewell Service.lnk" "${home}bin\\tomcat7w.exe" "//ES//Tidewell" "${home}bin" \
    "Manage Tidewell Service"
done
pass "ServiceInstalled Y, N, Y: only the matching start and stop pair is there (NET.EXE is $net)"

# No Programs folder recorded: nothing is made, StartMenuIcon is empty.
rm -rf "$F"
wine_run 30 reg delete "$folders" /v Programs /f >/dev/null
out=$(drv programs "$(winpath "$TEST_TMP/Tidestart.exe")")
[ "$out" = "result=1" ] || fail "programs without folder: $out"
[ ! -e "$F" ] || fail "shortcuts made without a Programs folder: $(ls "$F")"
got=$(drv setting StartMenuIcon)
[ -z "$got" ] || fail "StartMenuIcon: $got"
pass "without a Programs folder: no shortcut, StartMenuIcon empty"
