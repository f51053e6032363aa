#!/usr/bin/env bash
# The release manifest fetched with every real port under Wine (x86_64
# build): "/i URL" against nginx on 127.0.0.1 serving the test release, the
# refetch at the first lookup of a run, the "/UNINSTALL" run that reads the
# local copy, and a failing fetch with its "Error Downloading Software" box.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
exe=$W64/manifest_wine.exe
robot=$W64/robot.exe
[ -f "$exe" ] && [ -f "$robot" ] || { echo "skip: $exe or $robot not built"; exit 77; }

served=$TEST_TMP/served
app=$TEST_TMP/app
mkdir -p "$served/release" "$app"
cp "$TIDE_SOURCE_DIR"/tools/fixtures/release/* "$served/release/"
sign_manifest "$served/release/downloader.ini"
start_nginx "$served"
url="$NGINX_URL/release/downloader.ini"
export TIDETEST_APPDIR=$(winpath "$app")
export TIDETEST_OUT=$(winpath "$TEST_TMP/out.txt")
gets() { grep -c 'GET /release/downloader.ini ' "$NGINX_ACCESS_LOG" || true; }
run() { : > "$TEST_TMP/out.txt"; wine_run 60 "$exe" "$@" > /dev/null 2>&1 || fail "manifest_wine.exe $* failed"; cat "$TEST_TMP/out.txt" | tr -d '\r'; }

# 1. First run, no local copy: fetched into the install directory.
export TIDETEST_LOOKUPS=3
out=$(run /i "$url")
echo "$out"
<<<"$out" grep -qx 'lookup 3: TW FILE_VERSION=3.4.16' || fail "lookups: $out"
cmp -s "$app/downloader.ini" "$served/release/downloader.ini" || fail "the local copy is not the served manifest"
[ "$(gets)" = 1 ] || fail "expected 1 request for 3 lookups, log: $(cat "$NGINX_ACCESS_LOG")"
grep -q 'ua="Tidewell Downloader V' <(grep 'GET /release/downloader.ini ' "$NGINX_ACCESS_LOG") || fail "agent name missing: $(cat "$NGINX_ACCESS_LOG")"
pass "/i URL: fetched once into the install directory, 3 lookups"

# 2. A new run with an existing (stale) local copy fetches again.
printf '[TW]\r\nFILE_VERSION=3.4.15\r\n' > "$app/downloader.ini"
export TIDETEST_LOOKUPS=1
out=$(run /i "$url")
<<<"$out" grep -qx 'lookup 1: TW FILE_VERSION=3.4.16' || fail "stale copy was read: $out"
[ "$(gets)" = 2 ] || fail "first lookup of a run did not fetch again"
pass "first lookup of a new run fetches again over an existing copy"

# 3. "/UNINSTALL" reads the existing copy, no request.
printf '[TW]\r\nFILE_VERSION=3.4.15\r\n' > "$app/downloader.ini"
out=$(run /UNINSTALL /i "$url")
<<<"$out" grep -qx 'lookup 1: TW FILE_VERSION=3.4.15' || fail "/UNINSTALL: $out"
[ "$(gets)" = 2 ] || fail "/UNINSTALL fetched: $(cat "$NGINX_ACCESS_LOG")"
pass "/UNINSTALL: local copy read, nginx saw no request"

# 4. Nothing listens: the advice box at each lookup while no copy exists,
#    and the message loop ends on the quit request.
rm -f "$app/downloader.ini"
need_display
dead=$(free_port)
export TIDETEST_LOOKUPS=2
: > "$TEST_TMP/out.txt"
boxes=$(wine_run 240 "$robot" run --timeout 200 -- "$(winpath "$exe")" /i "http://127.0.0.1:$dead/loader/downloader.ini" | tr -d '\r')
out=$(tr -d '\r' < "$TEST_TMP/out.txt")
echo "$boxes"
advice=$(grep -c '^Error Downloading Software|An error happened downloading a file.\\n\\nUsually this is caused by a firewall or mandatory proxy on corporate \\nnetworks. This prevents the downloader from working. Contact your firewall/proxy \\nadministrator. You can also download a CDROM image of Tidewell to\\ninstall.\\n\\nDownload the file:\\n\\nhttps\?://[^|]*/bin/tidewell.iso\\n\\nand burn it to a CDROM using the software'"'"'s "Burn Image" function.\\n\\nOnce you have created the CD, insert it into the computer and choose CDROM install.|warning$' <<< "$boxes" || true)
# (Seen once only when the quit request of the first lookup is already a
# WM_QUIT in the queue: the second box then closes before it is drawn.)
[ "$advice" = 2 ] || fail "expected the advice box twice (once per lookup), robot saw $advice: $boxes"
<<<"$out" grep -qx 'quit requested: yes' || fail "no quit request: $out"
<<<"$out" grep -qx 'message loop: ended by the quit request' || fail "the message loop did not end: $out"
[ ! -s "$app/downloader.ini" ] || fail "a failed fetch left a manifest"
pass "failed fetch: advice box once per lookup, program ends at its message loop"
