#!/usr/bin/env bash
# The server's install steps under Wine (x86_64 build) on the stand-in
# release: ConfigureServerBase unpacks the server base with UNZIP.EXE and
# picks ports against real listeners on 127.0.0.1; InstallJre starts the
# stand-in runtime installer through ShellExecuteW and JreCheck sees it
# register; InstallTomcat writes the wrapper with the registered Java home.
# The generated files are checked byte for byte. The manifest is served by
# nginx, the components lie in each install directory as the downloader
# leaves them.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
exe=$W64/install_server_test.exe
[ -f "$exe" ] || { echo "skip: $exe not built"; exit 77; }

served=$TEST_TMP/served
rel=$served/release
mkdir -p "$rel"
make_standin_release "$rel" x64
start_nginx "$served"
sed "s|^BINARY_BASE=.*|BINARY_BASE=$NGINX_URL/release/|" "$rel/downloader.ini" > "$served/ports.ini"
sign_manifest "$served/ports.ini"
orig=$TEST_TMP/server.xml
unzip -p "$rel/catalina_base.zip" TCBase/conf/server.xml > "$orig"
grep -q $'^<Server port="8005" shutdown="SHUTDOWN">\r$' "$orig" || fail "the stand-in server.xml lacks the stock shutdown line"

holder() { ss -ltnpH "sport = :$1" 2>/dev/null | sed 's/  */ /g'; }
skipped=()
# Cases run only while the ports they need free are free.
needs_free() {  # case, ports...
  local name=$1 p; shift
  for p in "$@"; do
    if held "$p"; then
      echo "note: port $p is held by another process ($(holder "$p")): case '$name' not run"
      skipped+=("$name")
      return 1
    fi
  done
}
# Real listeners on 127.0.0.1 that accept and close every connection, until
# stop_listeners or the end of the test. A port another process already
# holds is busy anyway: said, and left to it.
LISTENER_PID=
listen() {
  local ports=() p ready=$TEST_TMP/listen.ready
  for p in "$@"; do
    if held "$p"; then echo "note: port $p is already held by another process ($(holder "$p")); it is busy either way"
    else ports+=("$p"); fi
  done
  rm -f "$ready"
  python3 - "$ready" "${ports[@]}" <<'PY' &
import select, socket, sys
ready, socks = sys.argv[1], []
for p in map(int, sys.argv[2:]):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind(("127.0.0.1", p))
    except OSError as e:
        open(ready, "w").write(f"cannot listen on {p}: {e}\n")
        sys.exit(3)
    s.listen(64)
    socks.append(s)
open(ready, "w").write("ready\n")
while True:
    for s in select.select(socks, [], [])[0]:
        c, _ = s.accept()
        c.close()
PY
  LISTENER_PID=$!
  on_exit "kill $LISTENER_PID 2>/dev/null"
  local i
  for i in $(seq 1 100); do [ -s "$ready" ] && break; sleep 0.1; done
  [ "$(cat "$ready" 2>/dev/null)" = ready ] || fail "listeners: $(cat "$ready" 2>/dev/null || echo 'not ready in 10 s')"
}
stop_listeners() { [ -z "$LISTENER_PID" ] || { kill "$LISTENER_PID" 2>/dev/null; wait "$LISTENER_PID" 2>/dev/null || true; }; LISTENER_PID=; }

# An install directory holding the components as the downloader leaves them.
install_dir() {
  local d=$TEST_TMP/inst/$1
  mkdir -p "$d"
  cp "$rel"/{UNZIP.EXE,catalina_base.zip,apache-tomcat-standin-x64.zip,jre-standin-x64-setup.exe} "$d/"
  echo "$d"
}
run() {  # manifest, mode, dir
  wine_run 180 "$exe" /i "$NGINX_URL/$1" "$2" "$(winpath "$3")" 2>&1 | tr -d '\r' || fail "install_server_test.exe $2 failed"
}
want() { <<<"$out" grep -qxF "$1" || fail "$2: expected '$1' in:
$out"; }
# A generated file: ANSI text without byte-order mark, CR LF after every line.
ansi_crlf() {
  [ "$(head -c 3 "$1" | od -An -tx1 | tr -d ' ')" != efbbbf ] || fail "$1 starts with a byte-order mark"
  [ "$(tail -c 2 "$1" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "$1 does not end with CR LF"
  [ "$(grep -c $'\r$' "$1")" = "$(wc -l < "$1")" ] || fail "$1 has a line without CR LF"
  ! tr -d '\r\n' < "$1" | LC_ALL=C grep -q '[^ -~]' || fail "$1 holds other than printable ASCII"
}
same() { cmp "$1" "$2" || fail "$3: $(diff <(cat -A "$1") <(cat -A "$2") | head -20)"; }
# The connector files of a server base B (Windows path with "\") for an AJP port.
expect_connectors() {  # dir, B, ajp
  printf 'worker.list=ajp13\r\nworker.ajp13.type=ajp13\r\nworker.ajp13.host=localhost\r\nworker.ajp13.port=%s\r\n' "$3" \
    > "$TEST_TMP/workers.want"
  same "$TEST_TMP/workers.want" "$1/TCBase/conf/workers.properties" "workers.properties"
  printf '%s\r\n' "extension_uri=/jakarta/isapi_redirect.dll" "log_file=${2}logs\\isapi_redirect.log" \
    "# Log level (debug, info, warn, error or trace)" "log_level=error" "worker_file=${2}conf\\workers.properties" \
    "worker_mount_file=${2}conf\\uriworkermap.properties" > "$TEST_TMP/isapi.want"
  same "$TEST_TMP/isapi.want" "$1/TCBase/bin/native/isapi_redirect.properties" "isapi_redirect.properties"
  local f
  for f in conf/server.xml conf/workers.properties bin/native/isapi_redirect.properties; do ansi_crlf "$1/TCBase/$f"; done
  same "$1/TCBase/bin/native/isapi_redirect.dll.x64" "$1/TCBase/bin/native/isapi_redirect.dll" "isapi_redirect.dll is not the .x64 copy"
}
shutdown_line_kept() {
  [ "$(grep -c $'^<Server port="8005" shutdown="SHUTDOWN">\r$' "$1/TCBase/conf/server.xml")" = 1 ] \
    || fail "the shutdown line changed: $(grep -n 'Server port' "$1/TCBase/conf/server.xml" | cat -A)"
}

# 1. Nothing listens on 80, 8005, 8009: HTTP 80, the others keep their ports.
if needs_free "80 free" 80 8005 8009; then
  d=$(install_dir free)
  out=$(run ports.ini ports "$d")
  echo "$out"
  want configured=1 "80 free"
  want port-setting=80 "80 free"
  want native-arch=x64 "80 free"
  sed 's/port="8080"/port="80"/' "$orig" > "$TEST_TMP/server.want"
  same "$TEST_TMP/server.want" "$d/TCBase/conf/server.xml" "server.xml with port 80"
  shutdown_line_kept "$d"
  expect_connectors "$d" "$(winpath "$d")\\TCBase\\" 8009
  pass "80 free: port=\"80\" in server.xml, Port=80, 8005 and 8009 lines byte for byte as unpacked; connector files and .x64 redirector"
fi

# 2. Listeners on 80, 8080 and 8009: HTTP 9080 (not 8081), AJP 8019.
if needs_free "80, 8080, 8009 busy" 8005 9080 8019; then
  listen 80 8080 8009
  d=$(install_dir busy)
  out=$(run ports.ini ports "$d")
  stop_listeners
  echo "$out"
  want configured=1 "busy"
  want port-setting=9080 "busy"
  sed -e 's/port="8080"/port="9080"/' -e 's/port="8009"/port="8019"/' "$orig" > "$TEST_TMP/server.want"
  same "$TEST_TMP/server.want" "$d/TCBase/conf/server.xml" "server.xml with ports 9080 and 8019"
  shutdown_line_kept "$d"
  expect_connectors "$d" "$(winpath "$d")\\TCBase\\" 8019
  grep -qx $'worker.ajp13.port=8019\r' <(tail -n 1 "$d/TCBase/conf/workers.properties") || fail "workers.properties does not end with port 8019"
  pass "80, 8080 and 8009 busy: HTTP 9080 (Port=9080), AJP 8019 in server.xml and worker.ajp13.port=8019; shutdown line kept"
fi

# 3. The runtime: InstallJre through ShellExecuteW, JreCheck 2 until the
#    stand-in has registered, 5 afterwards; InstallTomcat's wrapper names
#    the registered Java home.
jre_key='HKLM\Software\JavaSoft\Java Runtime Environment'
forget_jre() { wine_run 60 reg delete "$jre_key" /f /reg:64 >/dev/null 2>&1 || true; }
forget_jre
on_exit forget_jre
d=$(install_dir java)
jre=$TEST_TMP/java/jre
sed -e "s|^BINARY_BASE=.*|BINARY_BASE=$NGINX_URL/release/|" \
    -e "s|^INSTALL_ARGS=/s|& INSTALLDIR=$(winpath "$jre" | sed 's/\\/\\\\/g') HOLD=6|" \
    "$rel/downloader.ini" > "$served/java.ini"
sign_manifest "$served/java.ini"
grep -q "^INSTALL_ARGS=/s INSTALLDIR=Z:" "$served/java.ini" || fail "java.ini: $(grep INSTALL_ARGS "$served/java.ini")"
out=$(run java.ini java "$d")
echo "$out"
want jre-before=2 "java"
want install-jre=1 "java"
want "status=Installing Java ..." "java"
want jre-at-launch=2 "java"
want jre-seen=2,5 "java"
want installer-released=1 "java"
want jre-after=5 "java"
want dest-arch=x64 "java"
want "java-home=$(winpath "$jre")" "java"
want install-tomcat=1 "java"
want "status-line=Unzipping Tomcat..." "java"
[ -f "$jre/bin/java.exe" ] || fail "the stand-in installer made no $jre/bin/java.exe"
home=$(reg_query 64 "$jre_key\\1.8" JavaHome)
[ "$home" = "$(winpath "$jre")" ] || fail "JavaHome in the registry: '$home'"
pass "InstallJre started the stand-in installer through ShellExecuteW; JreCheck 2 until it registered, then 5"

w=$(winpath "$d")
printf '%s\r\n' "@ECHO OFF" "SET JRE_HOME=$home" "SET CATALINA_BASE=$w\\TCBase" \
  "SET CATALINA_HOME=$w\\apache-tomcat-standin" \
  '"%CATALINA_HOME%\bin\catalina.bat" %1 %2 %3 %4 %5 %6 %7 %8 %9' > "$TEST_TMP/catalina.want"
same "$TEST_TMP/catalina.want" "$d/TCBase/bin/catalina.bat" "catalina.bat"
ansi_crlf "$d/TCBase/bin/catalina.bat"
same "$W64/standin_server.exe" "$d/apache-tomcat-standin/bin/tomcat7.exe" "the Tomcat home is not the x64 archive's"
pass "InstallTomcat(TOMCATx64): home apache-tomcat-standin from [TOMCAT]; catalina.bat is the five lines with JRE_HOME=$home"

[ ${#skipped[@]} = 0 ] || echo "not run (ports held by other processes): ${skipped[*]}"
