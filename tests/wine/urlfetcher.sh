#!/usr/bin/env bash
# TUrlDownloader over WinInet (x86_64 build under wine64) against nginx and
# the fault server on 127.0.0.1; the servers' logs show what was asked. The
# program prints the measured abort and progress latencies of a
# medium-rate line, an open that is never answered and a connect that is
# never accepted ("measured: ..." lines); each is bounded by 1 s.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
exe=$W64/urlfetcher_wine.exe
[ -f "$exe" ] || { echo "skip: $exe not built"; exit 77; }

served=$TEST_TMP/served
work=$TEST_TMP/work
mkdir -p "$served" "$work"
head -c 1000 /dev/urandom > "$served/c1.bin"
for i in 2 3 4 5 6 7 8 9; do cp "$served/c1.bin" "$served/c$i.bin"; done
head -c 262144 /dev/urandom > "$served/big.bin"
head -c 5242880 /dev/urandom > "$served/huge.bin"
start_nginx "$served"
start_faultserver "$served"

set +e
out=$(wine_run 120 "$exe" "$NGINX_URL" "$FAULT_URL" "$(winpath "$served")" "$(winpath "$work")" "$FAULT_DEAF_URL" 2>&1)
rc=$?
set -e
echo "$out"
[ "$rc" = 0 ] || fail "urlfetcher_wine.exe: $rc failed case(s)"

agent='ua="Tidewell Downloader V 9.8.7.6"'
nlog() { grep -F "$1" "$NGINX_ACCESS_LOG" || true; }
flog() { grep -F "$1" "$FAULT_LOG" || true; }

# Resume as nginx saw it: the range header and the agent name.
l=$(nlog 'GET /c1.bin ')
[ "$(echo "$l" | wc -l)" = 1 ] && <<<"$l" grep -qF '206 700 range="bytes=300-1000"' && <<<"$l" grep -qF "$agent" \
  || fail "c1: nginx saw: $l"
pass "nginx got Range: bytes=300-1000 from the agent"
l=$(nlog 'GET /c2.bin ')
<<<"$l" grep -qF '206 700 range="bytes=300-"' || fail "c2: nginx saw: $l"
pass "nginx got Range: bytes=300-"

# The server that ignores ranges was asked once, with the range, and
# answered 200: that one answer became the file.
for f in c3 c9; do
  l=$(flog "/ignore-range/$f.bin")
  [ "$(echo "$l" | grep -c GET)" = 1 ] && <<<"$l" grep -qF 'status=200 range="bytes=300-' \
    || fail "ignored range ($f): expected one ranged request answered 200, log: $l"
done
pass "ignored range: one ranged request answered 200 with the whole file, which replaced the partial one"

# The medium-rate line and the open that is never answered were asked once
# each; the latencies are in the program's output above.
[ "$(flog '/medium/big.bin' | grep -c GET)" = 1 ] || fail "medium line: log: $(flog '/medium/big.bin')"
[ "$(flog '/hang/c1.bin' | grep -c GET)" = 1 ] || fail "hanging open: log: $(flog '/hang/c1.bin')"
echo "$out" | grep '^measured:' | sed 's/^/latency: /'
pass "medium line, unanswered open, unaccepted connect: aborts within 1 s"

# The interrupted transfer: the whole file, then the rest from byte 500.
l=$(flog '/drop-once/500/c4.bin')
[ "$(echo "$l" | grep -c GET)" = 2 ] && grep -qF 'range="bytes=500-1000"' <(sed -n 2p <<<"$l") \
  || fail "interrupted transfer: log: $l"
pass "interrupted transfer resumed with Range: bytes=500-1000"

# 5 MiB for 1000 bytes (and for no size with a 1 MiB bound): one request
# each, no retry; the program saw that nothing stayed on disk.
[ "$(nlog 'GET /huge.bin ' | wc -l)" = 2 ] || fail "huge.bin: nginx saw: $(nlog 'GET /huge.bin ')"
[ -z "$(ls "$work" | grep huge)" ] || fail "huge.bin left: $(ls -l "$work")"
pass "an answer longer than announced: one request, nothing on disk"

# The complete file cost no request; the unsatisfiable range was followed
# by a whole-file request.
[ -z "$(nlog 'GET /c7.bin ')" ] || fail "complete file was requested: $(nlog 'GET /c7.bin ')"
pass "complete file: no request"
l=$(nlog 'GET /c8.bin ')
grep -qF '416' <(sed -n 1p <<<"$l") && grep -qF '200 1000 range="-"' <(sed -n 2p <<<"$l") \
  || fail "416 restart: nginx saw: $l"
pass "416 answer: the next attempt fetched the whole file"
