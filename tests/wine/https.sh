#!/usr/bin/env bash
# Downloads over HTTPS under Wine: the stand-in release served by nginx over
# TLS with certificates made by openssl for this run (harness/tls.sh), the
# test CA trusted by the prefix's root store only.
#
#   case        server certificate        what is shown
#   install     test CA, localhost        the unattended installation from https:// (the product)
#   resume      test CA, localhost        a partial component resumed by Range over TLS (206)
#   unknown-ca  another CA, localhost     refused at the first request, the box names it, nothing written
#   other-host  test CA, another name     the same
#   expired     test CA, ended in 2021    the same; the unattended product exits 3 and logs why
#   proxy       test CA, localhost        manifest and component through a proxy's CONNECT
#
# Wine's WinInet reports a certificate from an unknown CA as a revocation
# that could not be checked (ERROR_INTERNET_SEC_CERT_REV_FAILED; Windows
# says ERROR_INTERNET_INVALID_CA), and the box says both.
#
# nginx's access log is printed for each case; a refused certificate never
# reaches it, so its error log's handshake lines are printed instead.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/e2e.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tls.sh"
mexe=$W64/manifest_wine.exe
dl=$W64/componentdl_wine.exe
for f in "$mexe" "$dl"; do [ -f "$f" ] || { echo "skipped: $f not built"; exit 77; }; done
command -v openssl >/dev/null || { echo "skipped: openssl is not installed"; exit 77; }
e2e_begin
t_start=$(e2e_ms)

start_nginx_tls "$served"
tls_trust_ca "$TEST_TMP/tls/ca.pem"
pass "nginx over TLS: good $TLS_URL, unknown CA $TLS_URL_UNKNOWNCA, other host $TLS_URL_OTHERHOST, expired $TLS_URL_EXPIRED; test CA $TLS_CA_SHA1 in the prefix's root store"
E2E_URL=$TLS_URL
e2e_point "$rel"
manifest=$TLS_URL/release/downloader.ini

lines() { [ -f "$1" ] && wc -l < "$1" || echo 0; }
access_from() { tail -n +"$1" "$NGINX_ACCESS_LOG" | sed 's/^/  nginx: /'; }

# --- install: the whole unattended installation over https:// --------------
log=$TEST_TMP/install.log
t0=$(e2e_ms)
out=$(wine_run 280 "$E2E_ROBOT" run --timeout 250 -- "$E2E_EXE" /SILENT /i "$manifest" /AcceptLicense \
  '/dir=C:\Tidewell\' "/log=$(winpath "$log")" </dev/null | tr -d '\r')
secs=$(( ($(e2e_ms) - t0) / 1000 ))
access_from 1
[ "$out" = 'exit|0' ] || fail "install over https: $out; log: $(tail -20 "$log")"
port=$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Port)
page=$(curl -s --max-time 10 --noproxy '*' "http://127.0.0.1:$port/calendar/") || true
<<<"$page" grep -q '<h1>Tidewell 4.2.1</h1>' || fail "the calendar on port $port: '$page'"
! grep -qv '^"GET [^ ]* HTTP/1.1" 20[06] ' "$NGINX_ACCESS_LOG" || fail "a request was not answered 200/206"
grep -Eq "url: GET https://localhost:[0-9]+/release/tidewell-4\\.2\\.1\\.zip: status 200" <(tr -d '\r' < "$log") ||
  fail "the log has no https fetch of the application: $(grep 'url:' "$log")"
e2e_road
pass "install: exit 0 in $secs s, no box, every request over TLS ($(grep -c . "$NGINX_ACCESS_LOG") in nginx's log), the calendar answers on port $port"
e2e_forget

# --- resume: a partial component continued by Range over TLS ----------------
inst=$TEST_TMP/inst
mkdir -p "$inst"
zip=$rel/tidewell-4.2.1.zip
size=$(stat -c %s "$zip")
part=$((size / 2))
head -c "$part" "$zip" > "$inst/tidewell-4.2.1.zip"
n0=$(( $(lines "$NGINX_ACCESS_LOG") + 1 ))
out=$(wine_run 120 "$dl" /i "$manifest" "$(winpath "$inst")" - TW -1 </dev/null | tr -d '\r') || fail "componentdl_wine.exe: $out"
echo "$out" | grep -E '^(status|downloaded|box)='
access_from "$n0"
<<<"$out" grep -qx 'status=DOWNLOAD_SUCCEEDED' && <<<"$out" grep -qx 'downloaded=TW' || fail "resume over TLS: $out"
cmp -s "$zip" "$inst/tidewell-4.2.1.zip" || fail "the resumed file is not the served one"
tail -n +"$n0" "$NGINX_ACCESS_LOG" | grep 'GET /release/tidewell-4.2.1.zip ' |
  grep -q "\" 206 $((size - part)) range=\"bytes=$part-$size\"" || fail "no 206 for bytes=$part-$size"
pass "resume: 206 for bytes=$part-$size over TLS, the file is the served one"

# --- refused certificates: the manifest, then a component --------------------
# Components served by the good server's manifest from a base on the bad one.
app=$TEST_TMP/app
mkdir -p "$app"
export TIDETEST_APPDIR=$(winpath "$app")
export TIDETEST_OUT=$(winpath "$TEST_TMP/out.txt")
#        case        URL                   the box names
refusals=("unknown-ca|$TLS_URL_UNKNOWNCA|could not be verified: its issuer is unknown, or whether it was revoked could not be checked"
          "other-host|$TLS_URL_OTHERHOST|was issued for another host name than the one in the address"
          "expired|$TLS_URL_EXPIRED|has expired or is not yet valid (check the computer's date and time)")
for row in "${refusals[@]}"; do
  IFS='|' read -r name base named <<< "$row"
  url=$base/release/downloader.ini
  n0=$(( $(lines "$NGINX_ACCESS_LOG") + 1 ))
  e0=$(( $(lines "$NGINX_ERROR_LOG") + 1 ))
  rm -rf "$app"/*
  boxes=$(wine_run 120 "$E2E_ROBOT" run --timeout 90 -- "$(winpath "$mexe")" /i "$url" </dev/null | tr -d '\r')
  echo "$boxes" | grep -v '^Error Downloading Software|' | grep -E '^[A-Z][a-z]+ [A-Z][a-z]+\||^exit' | cut -c1-400
  echo "$boxes" | grep '^Error Downloading Software|' | cut -c1-90
  access_from "$n0"
  hs=$(tls_refused_handshakes "$e0")
  echo "$hs" | sed 's/^.*\[info\] [0-9#]*: /  nginx error log: /' | grep .
  first=$(echo "$boxes" | head -1)
  [ "${first%%|*}" = "Error Dowloading" ] || fail "$name: first box: $first"
  <<<"$first" grep -qF "An error happened downloading $url\\n" || fail "$name: box: $first"
  <<<"$first" grep -qF "The server's certificate $named." || fail "$name: the box does not say what was wrong: $first"
  <<<"$boxes" grep -q '^Error Downloading Software|' || fail "$name: no advice box: $boxes"
  [ "$(tail -n +"$n0" "$NGINX_ACCESS_LOG" | grep -c .)" = 0 ] || fail "$name: a request reached nginx"
  [ "$(echo "$hs" | grep -c .)" = 1 ] || fail "$name: $(echo "$hs" | grep -c .) handshakes, not one: $hs"
  [ -z "$(ls -A "$app")" ] || fail "$name: written: $(ls -A "$app")"

  # A component from that server, the manifest from the good one.
  mkdir -p "$served/$name"
  sed "s|^BINARY_BASE=.*|BINARY_BASE=$base/release/\r|" "$rel/downloader.ini" > "$served/$name/downloader.ini"
  sign_manifest "$served/$name/downloader.ini"
  rm -rf "$inst"
  e0=$(( $(lines "$NGINX_ERROR_LOG") + 1 ))
  out=$(wine_run 120 "$dl" /i "$TLS_URL/$name/downloader.ini" "$(winpath "$inst")" - TW -1 </dev/null | tr -d '\r') || true
  echo "$out" | grep -E '^(status|box)=' | sed 's/^/  component: /'
  <<<"$out" grep -qx 'status=DOWNLOAD_FAILED' || fail "$name: component: $out"
  [ "$(tls_refused_handshakes "$e0" | grep -c .)" = 1 ] || fail "$name: component: not one handshake: $(tls_refused_handshakes "$e0")"
  [ ! -e "$inst/tidewell-4.2.1.zip" ] || fail "$name: the component file was written"
  pass "$name: refused at the first request (one handshake, no request in nginx's access log), \"The server's certificate $named.\", nothing written (no manifest, no component file)"
done

# The unattended product against the expired server: exit 3, and its log
# says why.
slog=$TEST_TMP/refused.log
rc=0
wine_run 200 "$E2E_EXE" /SILENT /AcceptLicense /i "$TLS_URL_EXPIRED/release/downloader.ini" '/dir=C:\Tidewell\' \
  "/log=$(winpath "$slog")" </dev/null >/dev/null 2>&1 || rc=$?
tr -d '\r' < "$slog" | grep -E 'url: |message: "Error Dow' | cut -c1-260 | head -3
echo "  ($(grep -c 'url: GET' "$slog") fetches of the manifest in the log, each refused the same way)"
[ "$rc" = 3 ] || fail "unattended run against the expired server: exit code $rc, not 3"
grep -q "url: GET $TLS_URL_EXPIRED/release/downloader.ini: could not be opened: The server's certificate has expired" <(tr -d '\r' < "$slog") ||
  fail "the log does not say why: $(cat "$slog")"
pass "unattended run against the expired server: exit 3, the log names the expired certificate"

# --- proxy: through tinyproxy's CONNECT, open and asking for credentials ---
command -v tinyproxy >/dev/null || { echo "skipped: tinyproxy is not installed"; exit 77; }
inet='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
for v in ProxyEnable ProxyServer; do
  old=$( (wine_run 30 reg query "$inet" /v "$v" 2>/dev/null || true) | tr -d '\r' | awk -v v="$v" '$1==v {print $2 "|" $3}')
  if [ -n "$old" ]; then
    on_exit "wine_run 30 reg add '$inet' /v $v /t ${old%%|*} /d '${old#*|}' /f >/dev/null 2>&1"
  else
    on_exit "wine_run 30 reg delete '$inet' /v $v /f >/dev/null 2>&1"
  fi
done
user=tideuser
secret=Tide-s3cret
#       case        tinyproxy's extra line     the downloader's arguments
proxies=("open|||"
         "basic-auth|BasicAuth $user $secret|/proxyuser=$user|/proxypassword=$secret")
for row in "${proxies[@]}"; do
  IFS='|' read -r name extra a1 a2 <<< "$row"
  pd=$TEST_TMP/proxy-$name
  mkdir -p "$pd"
  pport=$(free_port)
  printf '%s\n' "Port $pport" "Listen 127.0.0.1" "Bind 127.0.0.3" "Timeout 30" "LogFile \"$pd/tinyproxy.log\"" \
    "LogLevel Info" "PidFile \"$pd/tinyproxy.pid\"" "MaxClients 20" "Allow 127.0.0.1" "$extra" > "$pd/tinyproxy.conf"
  tinyproxy -d -c "$pd/tinyproxy.conf" >"$pd/out.txt" 2>&1 &
  on_exit "kill $! 2>/dev/null"
  _wait_port "$pport" || fail "tinyproxy does not listen on $pport"
  wine_run 30 reg add "$inet" /v ProxyEnable /t REG_DWORD /d 1 /f >/dev/null || fail "ProxyEnable not set"
  wine_run 30 reg add "$inet" /v ProxyServer /t REG_SZ /d "127.0.0.1:$pport" /f >/dev/null || fail "ProxyServer not set"
  rm -rf "$inst" && mkdir -p "$inst"
  head -c "$part" "$zip" > "$inst/tidewell-4.2.1.zip"
  n0=$(( $(lines "$NGINX_ACCESS_LOG") + 1 ))
  out=$(wine_run 120 "$dl" /i "$manifest" "$(winpath "$inst")" - TW -1 ${a1:+"$a1"} ${a2:+"$a2"} </dev/null | tr -d '\r') ||
    fail "$name: componentdl_wine.exe: $out"
  echo "$out" | grep -E '^(status|downloaded|box)='
  grep -E 'Request \(file descriptor|Established connection|Unauthorized|407' "$pd/tinyproxy.log" | sed 's/^/  proxy: /'
  access_from "$n0"
  <<<"$out" grep -qx 'status=DOWNLOAD_SUCCEEDED' && <<<"$out" grep -qx 'downloaded=TW' || fail "$name: through the proxy: $out"
  cmp -s "$zip" "$inst/tidewell-4.2.1.zip" || fail "$name: the file that came through the proxy is not the served one"
  grep -q "CONNECT localhost:${TLS_URL##*:} HTTP/1" "$pd/tinyproxy.log" || fail "$name: tinyproxy saw no CONNECT: $(cat "$pd/tinyproxy.log")"
  ! grep -qv 'from=127.0.0.3$' <(tail -n +"$n0" "$NGINX_ACCESS_LOG") || fail "$name: requests reached nginx around the proxy"
  grep -q "GET /release/tidewell-4.2.1.zip HTTP/1.[01]\" 206 $((size - part)) " <(tail -n +"$n0" "$NGINX_ACCESS_LOG") ||
    fail "$name: the resumed component did not come through the proxy as 206"
  pass "proxy $name: manifest, signature and the resumed component through tinyproxy's CONNECT ($(grep -c 'CONNECT localhost' "$pd/tinyproxy.log") tunnels; nginx saw the requests from 127.0.0.3, 206 for the rest of the component)"
done
echo "https: $(( ($(e2e_ms) - t_start) / 1000 )) s"
