# The server's Windows service end to end (64-bit build) on the stand-in
# server distribution, in an install directory whose name has a blank and
# parentheses: start and stop through the batch wrapper; the service script
# rewritten and run, the service in Wine's service manager, the SQL Server
# dependency (with MSSQLSERVER on manual and on automatic start), start and
# stop through the service manager, a page fetched from the chosen port;
# removal with //DS//Tidewell; the failure boxes read by the dialog robot;
# the start and stop shortcuts after install and after removal.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY
exe="$W64/service_shortcuts.exe"
# Servers started by the driver keep its Unix stderr: output into files.
drv() {
  wine_run 120 "$exe" "$@" </dev/null >"$TEST_TMP/drv.out" 2>"$TEST_TMP/drv.err" || true
  tr -d '\r' < "$TEST_TMP/drv.out"
}
robot() { wine_run 180 "$W64/robot.exe" run --timeout 120 -- "$(winpath "$exe")" --real-boxes "$@" </dev/null 2>/dev/null | tr -d '\r'; }
svc_key='HKLM\SYSTEM\CurrentControlSet\Services\Tidewell'
sql_key='HKLM\SYSTEM\CurrentControlSet\Services\MSSQLSERVER'
connector='HKLM\SOFTWARE\Apache Software Foundation\Jakarta Isapi Redirector\1.0'
settings='HKLM\Software\Quorvan Labs\Tidewell'
service_exists() { wine_run 30 sc query Tidewell </dev/null >"$TEST_TMP/sc.out" 2>&1; }
service_state() { wine_run 30 sc query Tidewell </dev/null 2>/dev/null | tr -d '\r' | awk '$1=="STATE" {print $4}'; }
wait_closed() {  # port: at most 15 s until nothing listens
  local i
  for i in $(seq 1 150); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}
wait_listening() { local i; for i in 1 2 3; do _wait_port "$1" && return 0; done; return 1; }

# --- a server base and Tomcat home from the stand-in release ---------------
make_standin_release "$TEST_TMP/rel" x64
inst="$TEST_TMP/Tide well (x64)"
mkdir -p "$inst" "$TEST_TMP/jre/bin" "$TEST_TMP/cal" "$TEST_TMP/Programs"
unzip -q "$TEST_TMP/rel/catalina_base.zip" -d "$inst"
unzip -q "$TEST_TMP/rel/apache-tomcat-standin-x64.zip" -d "$inst"
cp "$TEST_TMP/rel/jre-standin-x64-setup.exe" "$TEST_TMP/jre/bin/java.exe"
I=$(winpath "$inst")
B="$I\\TCBase"
H="$I\\apache-tomcat-standin"
shut=$(free_port); http=$(free_port); ajp=$(free_port)
sed -i "s/port=\"8005\"/port=\"$shut\"/; s/port=\"8080\"/port=\"$http\"/; s/port=\"8009\"/port=\"$ajp\"/" \
  "$inst/TCBase/conf/server.xml"
grep -q "port=\"$http\" protocol=\"HTTP/1.1\"" "$inst/TCBase/conf/server.xml" || fail "server.xml ports not moved"
printf '[TW]\r\nFILE_VERSION=4.2.1\r\n[TOMCAT]\r\nUNPACK_PATH=apache-tomcat-standin\r\n' > "$inst/downloader.ini"
# The batch wrapper the installation writes into the server base.
printf '@echo off\r\nset "JRE_HOME=%s"\r\nset "CATALINA_HOME=%s"\r\nset "CATALINA_BASE=%s"\r\ncall "%%CATALINA_HOME%%\\bin\\catalina.bat" %%*\r\n' \
  "$(winpath "$TEST_TMP/jre")" "$H" "$B" > "$inst/TCBase/bin/catalina.bat"
page="Tidewell calendar page $$"
echo "$page" > "$TEST_TMP/cal/index.html"
printf '<Context docBase="%s" />\r\n' "$(winpath "$TEST_TMP/cal")" > "$inst/TCBase/conf/Catalina/localhost/calendar.xml"
fetch() { curl -s --max-time 10 --noproxy '*' "http://127.0.0.1:$http/calendar/"; }

# The service script as an edge case: a remark first, an old lower-case
# CATALINA_HOME line, and an upper-case SET CATALINA_BASE (after the last
# exit, so it never runs) that must stay.
orig="$inst/TCBase/bin/service.bat"
cp "$orig" "$TEST_TMP/service.orig"
{ printf 'rem Tidewell service script\r\n'; printf 'set CATALINA_HOME=C:\\old\\home\r\n'
  cat "$TEST_TMP/service.orig"; printf 'SET CATALINA_BASE=x\r\n'; } > "$orig"
{ printf 'rem Tidewell service script\r\n'; printf 'set CATALINA_BASE=%s\r\n' "$B"; printf 'set CATALINA_HOME=%s\r\n' "$H"
  grep -v '^set CATALINA_' "$TEST_TMP/service.orig"; printf 'SET CATALINA_BASE=x\r\n'; } > "$TEST_TMP/service.expected"

# --- the prefix's state for the test, put back afterwards -------------------
folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
old_programs=$(reg_query 64 "$folders" Programs)
on_exit "wine_run 30 reg add '$folders' /v Programs /d '$old_programs' /f >/dev/null 2>&1"
on_exit "wine_run 30 reg delete 'HKLM\\Software\\Quorvan Labs' /f /reg:64 >/dev/null 2>&1"
on_exit "wine_run 30 reg delete '$sql_key' /f >/dev/null 2>&1"
on_exit "wine_run 30 reg delete '$connector' /f /reg:64 >/dev/null 2>&1"
on_exit "remove_service Tidewell"
on_exit "(exec 3<>/dev/tcp/127.0.0.1/$shut && printf SHUTDOWN >&3) 2>/dev/null"
wine_run 30 reg add "$folders" /v Programs /d "$(winpath "$TEST_TMP/Programs")" /f >/dev/null
F="$TEST_TMP/Programs/Tidewell Web Calendar"
service_exists && fail "a service Tidewell is already installed in $WINEPREFIX"
drv setup "$I" "$http" >/dev/null

# --- without the service: the batch wrapper in a new console ---------------
out=$(drv start)
[ "$out" = "result=1" ] || fail "wrapper start: $out"
wait_listening "$http" || fail "the server started through catalina.bat does not listen on $http"
got=$(fetch) || true
[ "$got" = "$page" ] || fail "page through the wrapper-started server: '$got'"
[ "$(drv start)" = "result=0" ] || fail "a second start while the port answers did something"
grep -q 'org.apache.catalina.startup.Bootstrap start' "$TEST_TMP/jre/bin/java.args" \
  || fail "catalina.bat did not run with the wrapper's JRE_HOME"
out=$(drv stop)
[ "$out" = "result=1" ] || fail "wrapper stop: $out"
wait_closed "$http" || fail "the server still answers after the wrapper's stop"
pass "no service: catalina.bat start in a new console serves /calendar/ on port $http; stop ends it"

# --- install with SQL Server on manual start --------------------------------
wine_run 30 reg add "$sql_key" /v Start /t REG_DWORD /d 3 /f >/dev/null
out=$(drv install)
[ "$out" = "result=1" ] || fail "install: $out $(cat "$TEST_TMP/drv.err")"
cmp -s "$orig" "$TEST_TMP/service.expected" || fail "service.bat rewritten as
$(cat -A "$orig")
expected
$(cat -A "$TEST_TMP/service.expected")"
pass "service.bat: remark, CATALINA_BASE, CATALINA_HOME, then the rest without the lower-case set lines; SET CATALINA_BASE=x kept"
service_exists || fail "sc query Tidewell: $(cat "$TEST_TMP/sc.out")"
image=$(reg_query 64 "$svc_key" ImagePath)
[ "$image" = "\"$H\\bin\\tomcat7.exe\" //RS//Tidewell" ] || fail "ImagePath: $image"
[ "$(drv setting ServiceInstalled)" = "Y" ] || fail "ServiceInstalled is not Y"
[ -z "$(reg_query 64 "$svc_key" DependOnService)" ] || fail "DependOnService written for a manual SQL Server"
pass "install: service Tidewell in the service manager, ImagePath $image, ServiceInstalled Y, no dependency with MSSQLSERVER Start=3"
[ -e "$F/Start Tidewell Service.lnk" ] && [ -e "$F/Stop Tidewell Service.lnk" ] || fail "no service shortcuts: $(ls "$F")"
[ ! -e "$F/Start Tidewell.lnk" ] && [ ! -e "$F/Stop Tidewell.lnk" ] || fail "wrapper shortcuts left: $(ls "$F")"
pass "after install: Start/Stop Tidewell Service.lnk, no wrapper pair"

# --- start and stop through the service manager -----------------------------
out=$(drv start)
[ "$out" = "result=1" ] || fail "service start: $out"
wait_listening "$http" || fail "the service does not listen on $http (state $(service_state))"
[ "$(service_state)" = RUNNING ] || fail "service state after start: $(service_state)"
got=$(fetch) || true
[ "$got" = "$page" ] || fail "page from the service: '$got'"
pass "SetServerRunning(true): service RUNNING, curl fetches /calendar/ from port $http"
out=$(drv stop)
[ "$out" = "result=1" ] || fail "service stop: $out"
[ "$(service_state)" = STOPPED ] || fail "service state after stop: $(service_state)"
wait_closed "$http" || fail "the port still answers after the service stopped"
pass "SetServerRunning(false): service STOPPED when it returns"

# --- the real failure box of a second installation --------------------------
start_wine_desktop
boxes=$(robot install)
[ "$boxes" = "Notice|The service could not be created.|error
exit|1" ] || fail "second install: $boxes"
pass "service script failing (service exists): Notice box \"The service could not be created.\" with the error icon, result false"

# --- removal, quiet, with the connector key and its subkeys -----------------
wine_run 30 reg add "$connector\\sub\\deeper" /v x /d y /f /reg:64 >/dev/null
out=$(drv remove quiet)
[ "$out" = "result=1" ] || fail "remove: $out"
service_exists && fail "service still there after removal: $(cat "$TEST_TMP/sc.out")"
[ "$(drv setting ServiceInstalled)" = "N" ] || fail "ServiceInstalled is not N"
wine_run 30 reg query "$connector" /reg:64 >/dev/null 2>&1 && fail "connector key still there"
[ -e "$F/Start Tidewell.lnk" ] && [ -e "$F/Stop Tidewell.lnk" ] || fail "no wrapper shortcuts: $(ls "$F")"
[ ! -e "$F/Start Tidewell Service.lnk" ] && [ ! -e "$F/Stop Tidewell Service.lnk" ] || fail "service shortcuts left"
pass "RemoveServerService(true): //DS//Tidewell ran, service gone from sc query, ServiceInstalled N, connector key gone, no box, wrapper shortcuts back"

# --- install with SQL Server on automatic start -----------------------------
wine_run 30 reg add "$sql_key" /v Start /t REG_DWORD /d 2 /f >/dev/null
cp "$TEST_TMP/service.orig" "$orig"
out=$(drv install)
[ "$out" = "result=1" ] || fail "install with SQL Server: $out"
line=$(wine_run 30 reg query "$svc_key" /v DependOnService /reg:64 2>/dev/null | tr -d '\r' | awk '$1=="DependOnService"')
read -r _ type value <<<"$line"
[ "$type" = REG_MULTI_SZ ] && [ "$value" = MSSQLSERVER ] || fail "DependOnService: '$line'"
pass "MSSQLSERVER Start=2: DependOnService is REG_MULTI_SZ holding MSSQLSERVER"

# --- removal failing: the service program is gone ---------------------------
mv "$inst/apache-tomcat-standin/bin/tomcat7.exe" "$TEST_TMP/tomcat7.exe"
boxes=$(robot remove quiet)
mv "$TEST_TMP/tomcat7.exe" "$inst/apache-tomcat-standin/bin/tomcat7.exe"
echo "$boxes"
[ "$(printf '%s\n' "$boxes" | wc -l)" = 3 ] || fail "expected two boxes and the exit line"
case "$(printf '%s\n' "$boxes" | sed -n 1p)" in Notice\|*\|warning) ;; *) fail "first box is not the start failure";; esac
[ "$(printf '%s\n' "$boxes" | sed -n '2,$p')" = "Notice|The service could not be removed.|error
exit|0" ] || fail "removal failure box"
[ "$(drv setting ServiceInstalled)" = "Y" ] || fail "ServiceInstalled changed by a failed removal"
service_exists || fail "the service went although its program could not run"
pass "removal command not started: the runner's notice, then \"The service could not be removed.\" even when quiet; ServiceInstalled stays Y"

boxes=$(robot remove)
[ "$boxes" = "Notice|The service has been removed.|information
exit|0" ] || fail "removal: $boxes"
service_exists && fail "service still there"
pass "RemoveServerService(false): \"The service has been removed.\" with the information icon"
