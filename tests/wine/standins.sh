# The stand-in server distribution of tools/standins (x86_64 programs):
# both zips unpacked with UNZIP.EXE; the runtime installer holds its file
# while it runs and registers a Java home in the 64-bit view; catalina.bat start serves a context's docBase on
# the port of server.xml and SHUTDOWN stops it; no start without java.exe;
# service.bat creates the service Tidewell, which sc starts and stops and
# //DS//Tidewell deletes; tomcat7w.exe records its arguments.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"

rel=$TEST_TMP/release
make_standin_release "$rel" x64
inst=$TEST_TMP/inst
mkdir -p "$inst"
for z in catalina_base.zip apache-tomcat-standin-x64.zip; do
  (cd "$inst" && wine_run 60 "$rel/UNZIP.EXE" -o -o "$(winpath "$rel/$z")" -d "$(winpath "$inst")" >"$TEST_TMP/unzip.out") \
    || fail "unzip $z: $(cat "$TEST_TMP/unzip.out")"
done
base=$inst/TCBase home=$inst/apache-tomcat-standin
for f in "$base/conf/server.xml" "$base/conf/uriworkermap.properties" "$base/bin/service.bat" \
         "$base/bin/native/isapi_redirect.dll.x64" "$home/bin/catalina.bat" "$home/bin/tomcat7.exe" \
         "$home/bin/tomcat7w.exe"; do
  [ -f "$f" ] || fail "not unpacked: $f"
done
[ -d "$base/conf/Catalina/localhost" ] && [ -d "$base/logs" ] || fail "empty folders not unpacked"
pass "both zips unpacked with UNZIP.EXE"

# The runtime installer with the manifest's INSTALL_ARGS.
jrekey='HKLM\Software\JavaSoft\Java Runtime Environment'
javahome="$WINEPREFIX/drive_c/Program Files/Java/jre-standin"
on_exit "wine_run 30 reg delete 'HKLM\\Software\\JavaSoft' /f /reg:64 >/dev/null 2>&1; rm -rf '$javahome'"
args=$(sed -n '/^\[JREx64\]/,/^\[/s/^INSTALL_ARGS=//p' "$rel/downloader.ini" | tr -d '\r')
t0=$(date +%s.%N)
wine_run 60 "$rel/jre-standin-x64-setup.exe" $args &
setup=$!
# While it runs it holds its file (Wine would let a running program be renamed).
sleep 1
if (cd "$rel" && wine_run 30 cmd /c ren jre-standin-x64-setup.exe moved.exe >/dev/null 2>&1); then
  fail "the running installer's file could be renamed"
fi
wait $setup || fail "runtime installer failed"
echo "runtime installer ran $(echo "$(date +%s.%N) - $t0" | bc) s"
(cd "$rel" && wine_run 30 cmd /c ren jre-standin-x64-setup.exe moved.exe >/dev/null 2>&1) \
  || fail "the installer's file cannot be renamed after it ended"
mv "$rel/moved.exe" "$rel/jre-standin-x64-setup.exe"
pass "runtime installer ($args) held its file until it ended"
version=$(reg_query 64 "$jrekey" CurrentVersion)
jhome=$(reg_query 64 "$jrekey\\$version" JavaHome)
[ "$version" = 1.8 ] && [ "$jhome" = 'C:\Program Files\Java\jre-standin' ] \
  || fail "registered: CurrentVersion '$version', JavaHome '$jhome'"
[ -f "$javahome/bin/java.exe" ] || fail "no java.exe in $javahome"
pass "runtime registered in the 64-bit view: CurrentVersion $version, JavaHome $jhome, bin\\java.exe"

# Ports of the instance, a context, and the wrapper the installer writes.
http=$(free_port) sport=$(free_port) ajp=$(free_port)
sed -i "s/port=\"8080\"/port=\"$http\"/; s/port=\"8005\"/port=\"$sport\"/; s/port=\"8009\"/port=\"$ajp\"/" "$base/conf/server.xml"
app=$TEST_TMP/tidewell-9.9.9
mkdir -p "$app/css"
printf 'calendar stand-in page\n' > "$app/index.html"
printf 'body {}\n' > "$app/css/site.css"
docbase=$(winpath "$app")
printf '<Context docBase="%s" reloadable="false">\r\n</Context>\r\n' "${docbase//\\/\\\\}" \
  > "$base/conf/Catalina/localhost/calendar.xml"
wrapper() {  # JRE_HOME
  printf '%s\r\n' '@ECHO OFF' "SET JRE_HOME=$1" "SET CATALINA_BASE=$(winpath "$base")" \
    "SET CATALINA_HOME=$(winpath "$home")" '"%CATALINA_HOME%\bin\catalina.bat" %1 %2 %3 %4 %5 %6 %7 %8 %9' \
    > "$base/bin/catalina.bat"
}
port_closed() {  # port: true once nothing listens (at most 10 s)
  local i
  for i in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}
shutdown_server() { (exec 3<>"/dev/tcp/127.0.0.1/$sport" && printf SHUTDOWN >&3) 2>/dev/null || true; }
on_exit shutdown_server

# No java.exe: a clear refusal, and no server.
wrapper 'C:\nojava'
rc=0
(cd "$base" && wine_run 60 cmd /c 'bin\catalina.bat' start >"$TEST_TMP/nojava.out" 2>&1) || rc=$?
out=$(tr -d '\r' < "$TEST_TMP/nojava.out")
echo "$out"
[ "$rc" = 1 ] || fail "catalina.bat start without java.exe: exit $rc"
[ "$out" = 'Cannot start the server: no Java runtime at "C:\nojava\bin\java.exe" (JRE_HOME must name the home of a Java runtime)' ] \
  || fail "no clear refusal"
sleep 2
port_closed "$http" || fail "a server started without java.exe"
pass "catalina.bat start without java.exe refuses (exit 1) and starts nothing"

# catalina.bat start through the wrapper; SHUTDOWN stops the server.
wrapper "$jhome"
(cd "$base" && wine_run 60 cmd /c 'bin\catalina.bat' start >"$TEST_TMP/start.out" 2>&1) \
  || fail "catalina.bat start: $(cat "$TEST_TMP/start.out")"
_wait_port "$http" || fail "server does not answer on $http: $(cat "$base/logs/standin.log" 2>/dev/null)"
body=$(curl -sS --max-time 10 "http://127.0.0.1:$http/calendar/")
[ "$body" = 'calendar stand-in page' ] || fail "GET /calendar/: '$body'"
code=$(curl -s -o /dev/null -w '%{http_code} %{content_type}' --max-time 10 "http://127.0.0.1:$http/calendar/css/site.css")
[ "$code" = '200 text/css' ] || fail "GET /calendar/css/site.css: $code"
code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 "http://127.0.0.1:$http/calendar/missing.html")
[ "$code" = 404 ] || fail "GET of a missing file: $code"
grep -q ' org.apache.catalina.startup.Bootstrap start$' <(tr -d '\r' < "$javahome/bin/java.args") \
  || fail "java.exe of JRE_HOME not run: $(cat "$javahome/bin/java.args" 2>/dev/null)"
pass "catalina.bat start: /calendar/ served from the docBase on port $http"
shutdown_server
port_closed "$http" || fail "SHUTDOWN to port $sport did not stop the server"
pass "SHUTDOWN to port $sport stops it"

# service.bat after the installer's rewrite of its "set CATALINA_" lines.
svckey='HKLM\System\CurrentControlSet\Services\Tidewell'
on_exit "remove_service Tidewell"
{
  head -n 1 "$base/bin/service.bat"
  printf 'set CATALINA_BASE=%s\r\nset CATALINA_HOME=%s\r\n' "$(winpath "$base")" "$(winpath "$home")"
  tail -n +2 "$base/bin/service.bat" | grep -v '^set CATALINA_'
} > "$TEST_TMP/service.bat"
cp "$TEST_TMP/service.bat" "$base/bin/service.bat"
(cd "$base/bin" && wine_run 60 cmd /c service.bat >"$TEST_TMP/service.out" 2>&1) \
  || fail "service.bat: $(cat "$TEST_TMP/service.out")"
wine_run 30 sc query Tidewell >"$TEST_TMP/query.out" 2>&1 || fail "sc query Tidewell: $(cat "$TEST_TMP/query.out")"
grep -q 'SERVICE_NAME: Tidewell' "$TEST_TMP/query.out" || fail "sc query: $(cat "$TEST_TMP/query.out")"
image=$(reg_query 64 "$svckey" ImagePath)
[ "$image" = "\"$(winpath "$home")\\bin\\tomcat7.exe\" //RS//Tidewell" ] || fail "ImagePath '$image'"
pass "service.bat created Tidewell, ImagePath $image"

wine_run 30 sc start Tidewell >"$TEST_TMP/sc.out" 2>&1 || fail "sc start: $(cat "$TEST_TMP/sc.out")"
_wait_port "$http" || fail "service does not answer on $http: $(tail -n 3 "$base/logs/standin.log")"
body=$(curl -sS --max-time 10 "http://127.0.0.1:$http/calendar/index.html")
[ "$body" = 'calendar stand-in page' ] || fail "service: GET /calendar/index.html: '$body'"
pass "sc start Tidewell: the service serves /calendar/ on $http"
wine_run 30 sc stop Tidewell >"$TEST_TMP/sc.out" 2>&1 || fail "sc stop: $(cat "$TEST_TMP/sc.out")"
port_closed "$http" || fail "sc stop did not stop the server"
pass "sc stop Tidewell stops it"

rc=0
wine_run 30 "$home/bin/tomcat7.exe" //DS//Tidewell >"$TEST_TMP/ds.out" 2>&1 || rc=$?
[ "$rc" = 0 ] || fail "//DS//Tidewell: exit $rc: $(cat "$TEST_TMP/ds.out")"
if wine_run 30 sc query Tidewell >/dev/null 2>&1; then fail "service still there after //DS//Tidewell"; fi
if wine_run 30 reg query "$svckey" >/dev/null 2>&1; then fail "service key still there after //DS//Tidewell"; fi
pass "tomcat7.exe //DS//Tidewell deleted the service (exit 0)"

wine_run 30 "$home/bin/tomcat7w.exe" //ES//Tidewell || fail "tomcat7w.exe failed"
rec=$(tr -d '\r' < "$home/bin/tomcat7w.args")
[ "$rec" = //ES//Tidewell ] || fail "tomcat7w.args: '$rec'"
pass "tomcat7w.exe recorded //ES//Tidewell"
