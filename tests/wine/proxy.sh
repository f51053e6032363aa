#!/usr/bin/env bash
# Downloads through the proxy of the user's Internet Settings under Wine
# (x86_64 build): the release manifest fetched by manifest_wine.exe (the
# program's real fetch, WinInet with INTERNET_OPEN_TYPE_PRECONFIG) through
# Debian's tinyproxy, once open and once asking for basic authentication.
#
# Wine's WinInet reads ProxyEnable, ProxyServer (the "http=" part, or all
# of it) and ProxyOverride from HKCU\...\Internet Settings when it opens a
# session; it bypasses nothing on its own, not even 127.0.0.1. To tell the
# proxy's requests from direct ones anyway, nginx serves on 127.0.0.2 and
# the proxy connects out from 127.0.0.3: nginx logs the client address and
# the proxy's Via header. tinyproxy logs each request's URL and whether it
# reached the server, but no statuses: those are read from WinInet's trace
# (WINEDEBUG=+wininet) of the run. Last, a component download resumed
# through the authenticating proxy (componentdl_wine.exe): the range
# survives the resend.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
exe=$W64/manifest_wine.exe
dl=$W64/componentdl_wine.exe
robot=$W64/robot.exe
tool=$TIDE_NATIVE_BUILD/tiderelease
for f in "$exe" "$dl" "$robot" "$tool"; do [ -f "$f" ] || { echo "skip: $f not built"; exit 77; }; done
command -v tinyproxy >/dev/null || { echo "skipped: tinyproxy is not installed (scripts/setup.sh installs it)"; exit 77; }
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

user=tideuser
secret=Tide-s3cret
served=$TEST_TMP/served
app=$TEST_TMP/app
mkdir -p "$served/release" "$app"
cp "$TIDE_SOURCE_DIR"/tools/fixtures/release/* "$served/release/"
head -c 307200 /dev/urandom > "$served/release/tidewell-3.4.16.zip"
"$tool" make-manifest "$served/release/downloader.ini" "$served/release" >/dev/null || fail "tiderelease make-manifest failed"

# --- nginx on 127.0.0.2, logging who connected and through what -------------
start_nginx "$served"
ndir=$(dirname "$NGINX_ACCESS_LOG")
python3 - "$ndir/nginx.conf" "$NGINX_PORT" <<'PY'
import sys
path, port = sys.argv[1:]
conf = open(path).read()
conf = conf.replace(f"listen 127.0.0.1:{port};", f"listen 127.0.0.2:{port};")
conf = conf.replace('ua="$http_user_agent"\'', 'ua="$http_user_agent" from=$remote_addr via="$http_via"\'')
open(path, "w").write(conf)
PY
/usr/sbin/nginx -p "$ndir" -c "$ndir/nginx.conf" -s reload 2>>"$ndir/error.log" || fail "nginx reload: $(cat "$ndir/error.log")"
for i in $(seq 1 100); do (exec 3<>"/dev/tcp/127.0.0.2/$NGINX_PORT") 2>/dev/null && break; sleep 0.1; done
(exec 3<>"/dev/tcp/127.0.0.2/$NGINX_PORT") 2>/dev/null || fail "nginx does not listen on 127.0.0.2:$NGINX_PORT"
url="http://127.0.0.2:$NGINX_PORT/release/downloader.ini"
sed -i "s|^BINARY_BASE=.*|BINARY_BASE=http://127.0.0.2:$NGINX_PORT/release/\r|" "$served/release/downloader.ini"
sign_manifest "$served/release/downloader.ini"

# start_proxy NAME [CONFIG LINE]: tinyproxy in the foreground on a free port
# of 127.0.0.1, its own config and log; sets PROXY_PORT and PROXY_LOG.
start_proxy() {
  local d=$TEST_TMP/$1
  mkdir -p "$d"
  PROXY_PORT=$(free_port)
  PROXY_LOG=$d/tinyproxy.log
  cat > "$d/tinyproxy.conf" <<CONF
Port $PROXY_PORT
Listen 127.0.0.1
Bind 127.0.0.3
Timeout 30
LogFile "$PROXY_LOG"
LogLevel Info
PidFile "$d/tinyproxy.pid"
MaxClients 20
Allow 127.0.0.1
ViaProxyName "tideproxy"
${2:-}
CONF
  tinyproxy -d -c "$d/tinyproxy.conf" >"$d/out.txt" 2>&1 &
  on_exit "kill $! 2>/dev/null"
  _wait_port "$PROXY_PORT" || fail "tinyproxy does not listen on $PROXY_PORT: $(cat "$d/out.txt" "$PROXY_LOG" 2>&1)"
}

# --- the prefix's proxy settings, put back afterwards -----------------------
inet='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
for v in ProxyEnable ProxyServer ProxyOverride; do
  old=$( (wine_run 30 reg query "$inet" /v "$v" 2>/dev/null || true) | tr -d '\r' | awk -v v="$v" '$1==v {print $2 "|" $3}')
  if [ -n "$old" ]; then
    on_exit "wine_run 30 reg add '$inet' /v $v /t ${old%%|*} /d '${old#*|}' /f >/dev/null 2>&1"
  else
    on_exit "wine_run 30 reg delete '$inet' /v $v /f >/dev/null 2>&1"
  fi
done
wine_run 30 reg delete "$inet" /v ProxyOverride /f >/dev/null 2>&1 || true
use_proxy() {
  wine_run 30 reg add "$inet" /v ProxyEnable /t REG_DWORD /d 1 /f >/dev/null || fail "ProxyEnable not set"
  wine_run 30 reg add "$inet" /v ProxyServer /t REG_SZ /d "127.0.0.1:$1" /f >/dev/null || fail "ProxyServer not set"
}

export TIDETEST_APPDIR=$(winpath "$app")
export TIDETEST_OUT=$(winpath "$TEST_TMP/out.txt")
export TIDETEST_LOOKUPS=1
trace=$TEST_TMP/wininet.trace
run() {  # ARGS: manifest_wine.exe with WinInet's trace; prints its result lines
  : > "$TEST_TMP/out.txt"
  rm -f "$app/downloader.ini"
  WINEDEBUG=+wininet wine_run 60 "$exe" "$@" </dev/null >/dev/null 2>"$trace" || fail "manifest_wine.exe $* failed"
  tr -d '\r' < "$TEST_TMP/out.txt"
}
statuses() { grep -o 'status code \[L"[0-9]*"\]' "$trace" | grep -o '[0-9][0-9][0-9]' | paste -sd' '; }
# The proxy's lines about requests and upstream connections from line $1 on.
proxy_lines() { tail -n +"$1" "$PROXY_LOG" | grep -E 'Request \(file descriptor|Established connection|Closed connection' | sed 's/^/  proxy: /'; }
nginx_from() { tail -n +"$1" "$NGINX_ACCESS_LOG"; }
gets_via_proxy() { nginx_from "$1" | grep 'GET /release/downloader.ini ' | grep -c 'from=127.0.0.3 via="1.[01] tideproxy' || true; }
lines() { [ -f "$1" ] && wc -l < "$1" || echo 0; }

# 1. An open proxy: the manifest comes through it.
start_proxy open
use_proxy "$PROXY_PORT"
out=$(run /i "$url")
echo "$out"
proxy_lines 1
nginx_from 1 | sed 's/^/  nginx: /'
echo "  statuses seen by WinInet: $(statuses)"
<<<"$out" grep -qx 'lookup 1: TW FILE_VERSION=3.4.16' || fail "through the open proxy: $out"
grep -qF "Request (file descriptor" "$PROXY_LOG" && grep -qF "GET $url HTTP/1.1" "$PROXY_LOG" || fail "tinyproxy did not see the request: $(cat "$PROXY_LOG")"
grep -qF 'Established connection to host "127.0.0.2"' "$PROXY_LOG" || fail "tinyproxy did not forward it"
[ "$(gets_via_proxy 1)" = 1 ] || fail "nginx did not get it from the proxy: $(cat "$NGINX_ACCESS_LOG")"
! grep -q -v 'from=127.0.0.3' <(nginx_from 1) || fail "requests reached nginx around the proxy: $(cat "$NGINX_ACCESS_LOG")"
# The manifest and its signature.
[ "$(statuses)" = "200 200" ] || fail "statuses: $(statuses)"
pass "open proxy 127.0.0.1:$PROXY_PORT from the Internet Settings: tinyproxy forwarded GET $url (and its signature), nginx got it from 127.0.0.3 with the proxy's Via header, statuses 200 200"

# 2. A proxy asking for basic authentication, no credentials given: every
#    attempt is refused with 407 and the fetch fails with the usual boxes.
start_proxy auth "BasicAuth $user $secret"
use_proxy "$PROXY_PORT"
need_display
n0=$(lines "$NGINX_ACCESS_LOG")
: > "$TEST_TMP/out.txt"
rm -f "$app/downloader.ini"
boxes=$(WINEDEBUG=+wininet wine_run 240 "$robot" run --timeout 200 -- "$(winpath "$exe")" /i "$url" 2>"$trace" </dev/null | tr -d '\r')
echo "$boxes" | cut -c1-100
proxy_lines 1 | head -n 2
echo "  proxy: ... ($(grep -c "GET $url HTTP/1.1" "$PROXY_LOG") requests in all, no upstream connection)"
st=$(statuses)
echo "  statuses seen by WinInet: $st"
<<<"$boxes" grep -q '^Error Dowloading|An error happened downloading '"$url"'\\nto ' || fail "no download error box: $boxes"
<<<"$boxes" grep -q '^Error Downloading Software|' || fail "no advice box: $boxes"
[ "$(tr ' ' '\n' <<< "$st" | sort -u)" = 407 ] || fail "statuses without credentials: '$st'"
asked=$(grep -c "GET $url HTTP/1.1" "$PROXY_LOG")
! grep -q 'Established connection' "$PROXY_LOG" || fail "the proxy forwarded a request without credentials"
[ "$(nginx_from $((n0 + 1)) | grep -c .)" = 0 ] || fail "nginx was reached: $(nginx_from $((n0 + 1)))"
! grep -q 'Proxy-Authorization' "$trace" || fail "credentials were sent though none were given"
pass "proxy with BasicAuth, no credentials: $asked requests in the proxy's log, none forwarded, statuses $st, \"Error Dowloading\" and \"Error Downloading Software\", nginx not reached"

# 3. The same proxy with /PROXYUSER= and /ProxyPassword= (any letter case,
#    anywhere on the command line): WinInet resends with them after the
#    407 and the manifest arrives.
p0=$(( $(lines "$PROXY_LOG") + 1 ))
n0=$(( $(lines "$NGINX_ACCESS_LOG") + 1 ))
out=$(run "/PROXYUSER=$user" /i "$url" "/ProxyPassword=$secret")
echo "$out"
proxy_lines "$p0"
nginx_from "$n0" | sed 's/^/  nginx: /'
st=$(statuses)
echo "  statuses seen by WinInet: $st; Proxy-Authorization in the trace: $(grep -q 'Proxy-Authorization' "$trace" && echo yes || echo no)"
<<<"$out" grep -qx 'lookup 1: TW FILE_VERSION=3.4.16' || fail "with credentials: $out"
[ "${st##* }" = 200 ] && [ "${st%% *}" = 407 ] || fail "statuses with credentials: '$st'"
grep -q 'Proxy-Authorization' "$trace" || fail "no Proxy-Authorization in the trace"
[ "$(gets_via_proxy "$n0")" = 1 ] || fail "nginx did not get it from the proxy once: $(nginx_from "$n0")"
cmp -s "$app/downloader.ini" "$served/release/downloader.ini" || fail "the manifest that arrived is not the served one"
# The password stays in memory: not in what the run wrote, nor in the registry.
for hive in HKCU HKLM; do wine_run 60 reg export "$hive" "$(winpath "$TEST_TMP/$hive.reg")" /y >/dev/null 2>&1 || fail "reg export $hive"; done
grep -qF "$secret" <(iconv -f UTF-16LE -t UTF-8 "$TEST_TMP/HKCU.reg" "$TEST_TMP/HKLM.reg" 2>/dev/null) && fail "the password is in the registry"
grep -rqF "$secret" "$app" && fail "the password was written into $app"
pass "proxy with BasicAuth and /PROXYUSER= /ProxyPassword=: statuses $st (the open, the adapter's resend, WinInet's own resend with the credentials), forwarded once, nginx got it from 127.0.0.3; the password is in no file of the run and not in the registry"

# 4. A wrong password: the proxy refuses the credentials (tinyproxy says 401)
#    and the fetch fails as without any; nothing is forwarded.
p0=$(( $(lines "$PROXY_LOG") + 1 ))
n0=$(( $(lines "$NGINX_ACCESS_LOG") + 1 ))
: > "$TEST_TMP/out.txt"
boxes=$(WINEDEBUG=+wininet wine_run 240 "$robot" run --timeout 200 -- "$(winpath "$exe")" /i "$url" "/proxyuser=$user" /proxypassword=wrong 2>"$trace" </dev/null | tr -d '\r')
echo "$boxes" | cut -c1-60
st=$(statuses)
echo "  statuses seen by WinInet: $(tr ' ' '\n' <<< "$st" | sort | uniq -c | awk '{printf "%s x%s ", $2, $1}')"
<<<"$boxes" grep -q '^Error Downloading Software|' || fail "no advice box with a wrong password: $boxes"
! grep -q 'Established connection' <(tail -n +"$p0" "$PROXY_LOG") || fail "the proxy forwarded a request with a wrong password"
[ "$(nginx_from "$n0" | grep -c .)" = 0 ] || fail "nginx was reached with a wrong password"
! grep -qw 200 <<< "$st" && grep -qw 401 <<< "$st" || fail "statuses with a wrong password: $st"
pass "wrong password: refused (statuses $(tr ' ' '\n' <<< "$st" | sort -u | paste -sd/)), nothing forwarded, the usual boxes"

# 5. A component resumed through the proxy with the credentials: the first
#    100000 bytes are there, the rest comes as 206 through the proxy.
inst=$TEST_TMP/inst
mkdir -p "$inst"
head -c 100000 "$served/release/tidewell-3.4.16.zip" > "$inst/tidewell-3.4.16.zip"
n0=$(( $(lines "$NGINX_ACCESS_LOG") + 1 ))
out=$(WINEDEBUG=+wininet wine_run 120 "$dl" /i "$url" "$(winpath "$inst")" - TW -1 "/proxyuser=$user" "/proxypassword=$secret" 2>"$trace" </dev/null | tr -d '\r') ||
  fail "componentdl_wine.exe failed: $out"
echo "$out" | grep -E '^(status|downloaded|box)='
nginx_from "$n0" | sed 's/^/  nginx: /'
st=$(statuses)
echo "  statuses seen by WinInet: $st"
<<<"$out" grep -qx 'status=DOWNLOAD_SUCCEEDED' && <<<"$out" grep -qx 'downloaded=TW' || fail "component download: $out"
cmp -s "$served/release/tidewell-3.4.16.zip" "$inst/tidewell-3.4.16.zip" || fail "the resumed file is not the served one"
grep -q '" 206 207200 range="bytes=100000-307200" .* from=127.0.0.3 via="1.[01] tideproxy' <(nginx_from "$n0" | grep 'GET /release/tidewell-3.4.16.zip ') ||
  fail "the resumed request did not reach nginx through the proxy with its range: $(nginx_from "$n0")"
[ "$st" = "407 407 200 407 407 200 407 407 206" ] || fail "statuses of the manifest, its signature and the component: $st"
pass "TW resumed at byte 100000 through the proxy with the credentials: statuses $st (manifest, signature, then the component), nginx answered 206 for bytes=100000-307200 from 127.0.0.3, the file is the served one"
