#!/usr/bin/env bash
# The application's install step and the upgrade migration under Wine
# (x86_64 build) on the stand-in Tidewell archives and server: a first
# installation of 3.3.0 and the upgrade to 3.4.1 through InstallApplication
# (UNZIP.EXE, the generated files byte for byte, the settings), the
# completed winupdate.bat run by the real cmd.exe in the sql folder with the
# stand-in conversion scripts and java.exe recording their calls in one
# log, a re-installation of 3.4.1 over its own folder that keeps its data
# and configuration, the stand-in server serving the deployed folder under
# /calendar/, a Derby migration from an old-style 3.1.0 folder, and a
# conversion that fails, reported in a Notice box read by the dialog robot.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
exe=$W64/deploy_test.exe
[ -f "$exe" ] || { echo "skip: $exe not built"; exit 77; }

rel=$TEST_TMP/release
tw=$TEST_TMP/tw
mkdir -p "$rel" "$tw"
make_standin_release "$rel" x64
make_tw_archive "$tw" 3.3.0
make_tw_archive "$tw" 3.4.1
for v in 3.3.0 3.4.1; do
  printf '%s\r\n' "[TOMCAT]" "FILE_NAME=apache-tomcat-standin-x64.zip" "UNPACK_PATH=apache-tomcat-standin" \
    "[TW]" "FILE_NAME=tidewell-$v.zip" "FILE_VERSION=$v" > "$TEST_TMP/tw-$v.ini"
done

same() { cmp "$1" "$2" || fail "$3: $(diff <(cat -A "$1") <(cat -A "$2") | head -20)"; }
want() { <<<"$out" grep -qxF "$1" || fail "$2: expected '$1' in:
$out"; }
crlf() { printf '%s\r\n' "$@"; }
escaped() { sed -e 's/[\\:=]/\\&/g' <<<"$1"; }  # a properties value
snapshot() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum); }
# An install directory with the server base, the Tomcat home, UNZIP.EXE and
# the stand-in java.exe, its log java.args where every stand-in records.
install_dir() {
  local d=$TEST_TMP/inst/$1
  mkdir -p "$d"
  cp "$rel/UNZIP.EXE" "$tw"/*.zip "$d/"
  (cd "$d" && unzip -q "$rel/catalina_base.zip" && unzip -q "$rel/apache-tomcat-standin-x64.zip")
  cp "$W64/standin_jre_setup.exe" "$d/java.exe"
  echo "$d"
}
run() {  # version, mode, dir, options...
  local v=$1 mode=$2 d=$3; shift 3
  wine_run 180 "$exe" /i "$(winpath "$TEST_TMP/tw-$v.ini")" "$mode" "$(winpath "$d")" "$@" 2>&1 | tr -d '\r' \
    || fail "deploy_test.exe $mode $v: $(cat "$d/java.args" 2>/dev/null)"
}

# 1. First installation of 3.3.0 on free ports.
a=$(install_dir a)
A=$(winpath "$a")
http=$(free_port) shut=$(free_port) ajp=$(free_port)
sed -i -e "s/port=\"8080\"/port=\"$http\"/" -e "s/port=\"8005\"/port=\"$shut\"/" -e "s/port=\"8009\"/port=\"$ajp\"/" \
  "$a/TCBase/conf/server.xml"
ctx=$a/TCBase/conf/Catalina/localhost
crlf '<Context docBase="C:\\old" reloadable="false">' '</Context>' > "$ctx/tidewell.xml"
out=$(run 3.3.0 install "$a" arch= port=$http)
echo "$out"
want installed=1 "first installation"
want version-after=3.3.0 "first installation"
want arch-after=x64 "first installation"
[ "$(echo "$out" | grep '^status-line=' | head -n 1)" = "status-line=Installing Tidewell" ] || fail "first status text"
[ "$(echo "$out" | grep '^status-line=' | tail -n 1)" = "status-line=Installation of Tidewell Completed" ] || fail "last status text"
! <<<"$out" grep -q '^box=' || fail "a message box on a first installation"
old=$a/tidewell-3.3.0
attach="AttachmentDirectory=$(escaped "$A\\UploadedAttachments")"
{ cat "$old/WEB-INF/configuration.default"; crlf "EnableAttachments=yes" "$attach" "URLBase=http\\://localhost\\:$http/calendar/"; } \
  > "$TEST_TMP/config-3.3.0.want"
same "$TEST_TMP/config-3.3.0.want" "$old/WEB-INF/configuration.properties" "3.3.0 configuration.properties"
crlf "<Context docBase=\"${A//\\/\\\\}\\\\tidewell-3.3.0\" reloadable=\"false\">" '</Context>' > "$TEST_TMP/ctx.want"
same "$TEST_TMP/ctx.want" "$ctx/calendar.xml" "calendar.xml of 3.3.0"
[ ! -e "$ctx/tidewell.xml" ] || fail "tidewell.xml is still there"
[ -d "$a/UploadedAttachments" ] || fail "no UploadedAttachments folder"
[ ! -e "$a/java.args" ] || fail "a migration ran on a first installation: $(cat "$a/java.args")"
pass "first installation of 3.3.0: configuration = template + attachment lines + URLBase on port $http, calendar.xml with doubled backslashes, tidewell.xml gone, UploadedAttachments, Version 3.3.0 and Arch x64"

# 2. Upgrade to 3.4.1: the old folder holds calendar data the script copies.
crlf "calendar data of 3.3.0" > "$old/WEB-INF/sql/Access/calendar.mdb"
mkdir -p "$old/WEB-INF/data" && crlf "events of 3.3.0" > "$old/WEB-INF/data/events.dat"
snapshot "$old" > "$TEST_TMP/old.before"
out=$(run 3.4.1 install "$a" version=3.3.0 arch=x64 port=$http)
echo "$out"
want installed=1 "upgrade"
want version-after=3.4.1 "upgrade"
! <<<"$out" grep -q '^box=' || fail "a message box on the upgrade"
new=$a/tidewell-3.4.1
sql=$new/WEB-INF/sql
N="$A\\tidewell-3.4.1"
printf '%s\n' "330_to_340.vbs" \
  "convert_to_derby.bat ..\\Access\\configuration.properties embedded_configuration.properties" \
  "-cp ..\\lib\\tidewell.jar;..\\classes com.quorvanlabs.tidewell.support.update.WinUpdate \"$A\\tidewell-3.3.0\" \"$N\"" \
  > "$TEST_TMP/calls.want"
same "$TEST_TMP/calls.want" <(tr -d '\r' < "$a/java.args") "the calls of the upgrade script"
{ crlf "@rem Tidewell upgrade script template (test fixture)" "set CATALINA_BASE=$A\\TCBase" \
    "set CATALINA_HOME=$A\\apache-tomcat-standin" "set NEWINST=$N" "set OLDINST=$A\\tidewell-3.3.0" \
    "set OLDZIP=$A\\Tidewell_3_3_0.ZIP" "@echo off" 'set JARPATH=..\lib\tidewell.jar' "cd Access" \
    'copy "%OLDINST%\WEB-INF\sql\Access\calendar.mdb" /y' "cscript 330_to_340.vbs" "cd .." "cd DERBY" \
    'call convert_to_derby.bat ..\Access\configuration.properties embedded_configuration.properties' "cd .." \
    'java -cp %JARPATH%;..\classes com.quorvanlabs.tidewell.support.update.WinUpdate "%OLDINST%" "%NEWINST%"'; } \
  > "$TEST_TMP/winupdate.want"
same "$TEST_TMP/winupdate.want" "$sql/winupdate.bat" "winupdate.bat"
same "$old/WEB-INF/sql/Access/calendar.mdb" "$sql/Access/calendar.mdb" "the copy of calendar.mdb"
{ cat "$TEST_TMP/config-3.3.0.want"; crlf "EnableAttachments=yes" "$attach"
  cat "$sql/DERBY/embedded_configuration.properties"
  crlf "JDBCConnectString=jdbc\\:derby\\:$(escaped "${N//\\//}/WEB-INF/sql/DERBY/calendardb")"; } > "$TEST_TMP/config-3.4.1.want"
same "$TEST_TMP/config-3.4.1.want" "$new/WEB-INF/configuration.properties" "3.4.1 configuration.properties"
same "$TEST_TMP/old.before" <(snapshot "$old") "the 3.3.0 folder changed"
crlf "<Context docBase=\"${A//\\/\\\\}\\\\tidewell-3.4.1\" reloadable=\"false\">" '</Context>' > "$TEST_TMP/ctx.want"
same "$TEST_TMP/ctx.want" "$ctx/calendar.xml" "calendar.xml of 3.4.1"
pass "upgrade 3.3.0 to 3.4.1 (Access): cmd.exe ran winupdate.bat in the sql folder: 330_to_340.vbs, convert_to_derby.bat, then java.exe with both folders quoted; calendar.mdb copied; the configuration holds the old one's lines; the 3.3.0 folder and its data untouched"

# 2b. Re-installation of 3.4.1 over its own folder, which now serves the
# calendar: the archive (with its empty databases) is unpacked aside and
# only program files and what is missing come in.
crlf "calendar data of 3.4.1" > "$sql/Access/calendar.mdb"
mkdir -p "$sql/DERBY/calendardb/seg0" && crlf "calendar data of 3.4.1" > "$sql/DERBY/calendardb/seg0/c10.dat"
crlf "live Derby" > "$sql/DERBY/calendardb/service.properties"
cp "$new/WEB-INF/configuration.properties" "$TEST_TMP/config-live"
crlf "an older build" > "$new/index.html"
rm -f "$new/manual/en/Tutorials.html" "$a/java.args"
out=$(run 3.4.1 install "$a" version=3.4.1 arch=x64 port=$http)
echo "$out"
want installed=1 "re-installation"
want version-after=3.4.1 "re-installation"
! <<<"$out" grep -q '^box=' || fail "a message box on the re-installation"
[ "$(tr -d '\r' < "$sql/Access/calendar.mdb")" = "calendar data of 3.4.1" ] || fail "calendar.mdb replaced"
[ "$(tr -d '\r' < "$sql/DERBY/calendardb/seg0/c10.dat")" = "calendar data of 3.4.1" ] || fail "calendardb changed"
[ "$(tr -d '\r' < "$sql/DERBY/calendardb/service.properties")" = "live Derby" ] || fail "calendardb replaced"
{ cat "$TEST_TMP/config-live"; crlf "EnableAttachments=yes" "$attach"; } > "$TEST_TMP/config-re.want"
same "$TEST_TMP/config-re.want" "$new/WEB-INF/configuration.properties" "re-installed configuration.properties"
grep -q "Tidewell 3.4.1" "$new/index.html" || fail "index.html not brought back from the archive"
[ -f "$new/manual/en/Tutorials.html" ] || fail "a missing file was not brought in"
[ ! -e "$a/TWUnpack" ] || fail "TWUnpack left behind"
[ ! -e "$a/java.args" ] || fail "a migration ran on a re-installation: $(cat "$a/java.args")"
pass "re-installation of 3.4.1: calendar.mdb, calendardb and configuration.properties kept, index.html replaced and a missing file brought in from the archive, nothing left beside"

# 3. The stand-in server on the chosen port serves the deployed folder.
srvlog=$TEST_TMP/server.log
CATALINA_BASE="$A\\TCBase" timeout --kill-after=5 120 "$WINE64" "$a/apache-tomcat-standin/bin/tomcat7.exe" run \
  >"$srvlog" 2>&1 </dev/null &
srv=$!
on_exit "kill $srv 2>/dev/null"
_wait_port "$http" || fail "the stand-in server does not listen on $http: $(cat "$srvlog")"
curl -s --noproxy '*' -m 20 -o "$TEST_TMP/index.got" "http://127.0.0.1:$http/calendar/" || fail "curl /calendar/"
same "$new/index.html" "$TEST_TMP/index.got" "/calendar/ does not serve the 3.4.1 index.html"
printf 'SHUTDOWN' > "/dev/tcp/127.0.0.1/$shut" || true
for i in $(seq 1 100); do kill -0 "$srv" 2>/dev/null || break; sleep 0.1; done
pass "the stand-in server on port $http serves tidewell-3.4.1/index.html under /calendar/"

# 4. Derby from a folder an earlier installer left (3.1.0).
b=$(install_dir b)
B=$(winpath "$b")
make_tw_installed "$b" 3.1.0 DerbyDB
(cd "$b" && unzip -q tidewell-3.4.1.zip)
cp "$b/tidewell-3.1.0/WEB-INF/configuration.properties" "$b/tidewell-3.4.1/WEB-INF/"  # as WriteAppConfiguration takes it over
snapshot "$b/tidewell-3.1.0" > "$TEST_TMP/b.before"
out=$(run 3.4.1 migrate "$b" version=3.1.0 arch=x64)
echo "$out"
want migrated=1 "Derby"
printf '%s\n' "run320.bat \"$B\\apache-tomcat-standin\" DERBY" "run330.bat \"$B\\apache-tomcat-standin\" DERBY" \
  "run340.bat \"$B\\apache-tomcat-standin\" DERBY" \
  "-cp ..\\lib\\tidewell.jar;..\\classes com.quorvanlabs.tidewell.support.update.WinUpdate \"$B\\tidewell-3.1.0\" \"$B\\tidewell-3.4.1\"" \
  > "$TEST_TMP/calls.want"
same "$TEST_TMP/calls.want" <(tr -d '\r' < "$b/java.args") "the calls of the Derby script"
nd=$b/tidewell-3.4.1/WEB-INF/sql/DERBY/calendardb
# The shipped empty database (service.properties of 3.4.1) gave way to the old one.
diff -r "$b/tidewell-3.1.0/WEB-INF/sql/DERBY/calendardb" "$nd" || fail "calendardb is not the 3.1.0 one"
grep -qxF "JDBCConnectString=jdbc\\:derby\\:$(escaped "${B//\\//}/tidewell-3.4.1/WEB-INF/sql/DERBY/calendardb")" \
  <(tail -n 1 "$b/tidewell-3.4.1/WEB-INF/configuration.properties" | tr -d '\r') \
  || fail "no Derby line: $(tail -n 2 "$b/tidewell-3.4.1/WEB-INF/configuration.properties")"
same "$TEST_TMP/b.before" <(snapshot "$b/tidewell-3.1.0") "the 3.1.0 folder changed"
pass "Derby from 3.1.0: run320, run330, run340 with the quoted Tomcat home and DERBY, the old calendardb copied over the shipped one, then java.exe; 3.1.0 untouched"

# 5. A conversion that fails: the Notice box names the script and the code.
c=$(install_dir c)
C=$(winpath "$c")
make_tw_installed "$c" 3.1.0 MySQLDB
(cd "$c" && unzip -q tidewell-3.4.1.zip)
cp "$c/tidewell-3.1.0/WEB-INF/configuration.properties" "$c/tidewell-3.4.1/WEB-INF/"
snapshot "$c/tidewell-3.1.0" > "$TEST_TMP/c.before"
start_wine_desktop
boxes=$(wine_run 180 "$W64/robot.exe" run --timeout 120 -- "$(winpath "$exe")" /i "$(winpath "$TEST_TMP/tw-3.4.1.ini")" \
  migrate "$C" version=3.1.0 arch=x64 fail=run340.bat boxes=real "out=$(winpath "$TEST_TMP/c.out")" | tr -d '\r')
echo "$boxes"
S="$C\\tidewell-3.4.1\\WEB-INF\\sql"
want_box="Notice|The upgrade script $S\\winupdate.bat ended with exit code 1.\\n\\nThe calendar data of version 3.1.0 was not carried over to version 3.4.1. Version 3.1.0 and its data are still in $C\\tidewell-3.1.0.\\n\\nThe server goes on serving version 3.1.0, which stays the installed version. Once the cause is mended, run the installation again.|error"
[ "$(echo "$boxes" | grep -v '^window|' | head -n 1)" = "$want_box" ] || fail "box: expected
$want_box
calls: $(cat "$c/java.args" 2>/dev/null)"
[ "$(echo "$boxes" | tail -n 1)" = "exit|0" ] || fail "the program did not go on after the box"
grep -qx migrated=0 "$TEST_TMP/c.out" || fail "RunUpgradeMigration did not return false: $(cat "$TEST_TMP/c.out")"
printf '%s\n' "run320.bat \"$C\\apache-tomcat-standin\" MYSQL" "run330.bat \"$C\\apache-tomcat-standin\" MYSQL" \
  "run340.bat \"$C\\apache-tomcat-standin\" MYSQL" > "$TEST_TMP/calls.want"
same "$TEST_TMP/calls.want" <(tr -d '\r' < "$c/java.args") "the calls up to the failing one"
same "$TEST_TMP/c.before" <(snapshot "$c/tidewell-3.1.0") "the 3.1.0 folder changed"
pass "run340.bat exits 1: cmd.exe ends with 1 before java.exe, one Notice box (error icon) names winupdate.bat and exit code 1 and that 3.1.0 goes on serving; the migration returns false; 3.1.0 untouched"
