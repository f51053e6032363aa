#!/usr/bin/env bash
# The main job: one whole installation from the main window under Wine. A
# release (stand-in Java runtime installer, UNZIP.EXE, server base, Tomcat
# home and the Tidewell archive) is made with `tiderelease make-manifest`
# and served by nginx on 127.0.0.1; `Tidestart.exe /i URL` starts, and the
# dialog robot agrees to the licence, types C:\Tidewell\ and clicks
# Install, as a person would. The run prints what happened with its time
# since the click, takes three screenshots, fetches the calendar page with
# curl, and removes the installation from its own Wine prefix again.
# Expects the trees built by scripts/build.sh (scripts/demo.sh does both).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
root=${TIDE_BUILD_ROOT:-$here/build}
export TIDE_SOURCE_DIR=$here TIDE_NATIVE_BUILD=$root/native TIDE_WIN32_BUILD=$root/win32 TIDE_WIN64_BUILD=$root/win64
# A prefix and state of its own, so the test prefix is never disturbed; the
# harness sets it up like a test run and it is stopped at the end.
export TIDE_WINEPREFIX=${TIDE_DEMO_WINEPREFIX:-/var/cache/tidestart/wineprefix-demo}
export TIDE_WINE_STATE=${TIDE_DEMO_WINE_STATE:-/tmp/tidestart-wine-state-demo}
bash "$here/tests/wine/harness/start.sh" </dev/null >/dev/null
source "$here/tests/wine/harness/lib.sh"
on_exit "bash '$here/tests/wine/harness/stop.sh' </dev/null >/dev/null 2>&1"
source "$here/tests/wine/harness/standins.sh"
source "$here/tests/wine/harness/tidewell.sh"

# The product is the 32-bit build; it runs wherever 32-bit Windows programs
# start here, else the x86_64 build of the same sources runs, with x86_64
# stand-ins in every component (TIDE_DEMO_BUILD=win32|win64 picks one).
[ -n "${TIDE_DEMO_BUILD:-}" ] && export TIDE_PRODUCT_BUILD=$TIDE_DEMO_BUILD
source "$here/tests/wine/harness/e2e.sh"  # prints the build (product_build)
arch=$PRODUCT_RELEASE_ARCH
if [ "$PRODUCT_BUILD" = win32 ]; then label="the 32-bit product (build/win32)"
else label="the x86_64 build of the same sources (build/win64), not the 32-bit product"; fi
for f in "$E2E_EXE" "$E2E_ROBOT" "$W64/standin_tomcat7w.exe" "$W64/stallprobe.exe"; do [ -f "$f" ] || fail "$f not built (scripts/build.sh)"; done
shots=${TIDE_DEMO_SHOTS:-$root/demo}
mkdir -p "$shots"
rm -f "$shots"/*.png
start_wine_desktop
fonts=$WINEPREFIX/drive_c/windows/Fonts
for f in tahoma.ttf tahomabd.ttf; do [ -f "$fonts/$f" ] || cp "/usr/share/wine/fonts/$f" "$fonts/" 2>/dev/null || true; done

echo
echo "== The product: $label"
file "$E2E_EXE"

# --- the release, served by nginx -------------------------------------------
served=$TEST_TMP/served
rel=$served/release
e2e_release "$rel" 4.2.1 "$arch"
total=$(cat "$rel"/*.exe "$rel"/*.EXE "$rel"/*.zip 2>/dev/null | wc -c)
# Slowed to about 4 s for all the files, so the download can be seen.
rate=$(( total / 4 / 1024 + 1 ))k
e2e_serve "$served" "$rate"
e2e_point "$rel"
echo
echo "== The release ($NGINX_URL/release/downloader.ini, nginx limit_rate $rate)"
tr -d '\r' < "$rel/downloader.ini" | awk -F= '/^\[/ {s=$0} /^FILE_NAME=/ {n=$2} /^FILE_SIZE=/ {printf "  %-16s %-34s %9s bytes\n", s, n, $2}'

# --- the prefix: nothing installed, a recorder as the browser ---------------
e2e_forget
on_exit e2e_forget
e2e_browser

# --- the window, driven as a person would -----------------------------------
echo
echo "== Tidestart.exe /i $NGINX_URL/release/downloader.ini ($PRODUCT_BUILD)"
t_start=$(e2e_ms)
e2e_start /i "$NGINX_URL/release/downloader.ini"
echo "the window is up after $(( $(e2e_ms) - t_start )) ms"
# How long the window goes without answering: WM_NULL every 50 ms until it
# is gone (bench/responsiveness_bench.sh measures an upgrade and an
# uninstall as well).
timeout 300 "$WINE64" "$W64/stallprobe.exe" --exe Tidestart.exe --title "$E2E_TITLE" >"$TEST_TMP/stall.probe" 2>&1 &
probe_pid=$!
on_exit "kill $probe_pid 2>/dev/null"
e2e_shot 1-shown "$shots"
e2e_R click --title "$E2E_TITLE" --text "I agree to the terms of the license." || fail "no agree button"
e2e_R window --title "$E2E_TITLE" --until "enabled:&Install" --timeout 20 >/dev/null || fail "Install not enabled"
e2e_R type --title "$E2E_TITLE" --class-of-control Edit --text 'C:\Tidewell\' >/dev/null || fail "cannot type the path"
echo 'the robot checked "I agree to the terms of the license.", typed C:\Tidewell\ and clicks Install'
e2e_watch

# What the files, processes and the service manager show, with its time.
events=$TEST_TMP/events
: > "$events"
(
  declare -A seen
  note() { [ -n "${seen[$1]:-}" ] && return; seen[$1]=1; echo "$(e2e_ms)|$2" >> "$events"; }
  files=$(cd "$rel" && ls | grep -v downloader.ini)
  while kill -0 "$E2E_PID" 2>/dev/null; do
    for f in $files; do
      [ -e "$E2E_INST/$f" ] && note "a-$f" "$f: download begins"
      [ -e "$E2E_INST/$f" ] && cmp -s "$rel/$f" "$E2E_INST/$f" && note "c-$f" "$f: downloaded ($(stat -c %s "$rel/$f") bytes)"
    done
    pgrep -f 'jre-standin.*setup\.exe' >/dev/null && note jre "the Java runtime installer runs"
    [ -n "${seen[jre]:-}" ] && ! pgrep -f 'jre-standin.*setup\.exe' >/dev/null && note jre-end "the Java runtime installer has ended"
    ls "$WINEPREFIX"/drive_c/Program\ Files*/Java/jre-standin/bin/java.exe >/dev/null 2>&1 && note java "Java home made by the installer"
    [ -f "$E2E_INST/apache-tomcat-standin/bin/tomcat7.exe" ] && note tc "Tomcat home unpacked (apache-tomcat-standin)"
    [ -f "$E2E_INST/TCBase/conf/server.xml" ] && note base "server base unpacked (TCBase)"
    [ -f "$E2E_INST/tidewell-4.2.1/index.html" ] && note tw "Tidewell 4.2.1 unpacked"
    [ -f "$E2E_INST/TCBase/conf/Catalina/localhost/calendar.xml" ] && note ctx "context calendar.xml written"
    if [ -n "${seen[tc]:-}" ] && [ -z "${seen[svc-run]:-}" ]; then
      q=$(wine_run 20 sc query Tidewell </dev/null 2>/dev/null | tr -d '\r' || true)
      [ -n "$q" ] && note svc 'service "Tidewell" created'
      <<<"$q" grep -q 'STATE.*RUNNING' && note svc-run 'service "Tidewell" RUNNING'
    fi
    [ -s "$E2E_BROWSER_ARGS" ] && note browser "the browser is asked to open $(tr -d '\r"' < "$E2E_BROWSER_ARGS")"
    sleep 0.2
  done
) &
monitor=$!
on_exit "kill $monitor 2>/dev/null"

t_click=$(e2e_ms)
e2e_R click --title "$E2E_TITLE" --text "&Install" || fail "no Install button"
# Downloading: the first component file is there.
for i in $(seq 1 600); do ls "$E2E_INST"/*.exe >/dev/null 2>&1 && break; sleep 0.05; done
e2e_shot 2-downloading "$shots"
line=$(e2e_wait_watch '\|status\|Waiting [0-9]+ seconds for Tidewell to Start\.\.\.' 120) || fail "no countdown in the status line"
e2e_shot 3-counting-down "$shots"
wait "$E2E_PID" || fail "Tidestart.exe ended with $?"
t_end=$(e2e_ms)
sleep 0.5; kill "$monitor" 2>/dev/null || true

# --- what the run showed -----------------------------------------------------
echo
echo "== What happened, seconds since the click on Install"
{
  e2e_bold_times "$t_click" | while IFS='|' read -r n s; do
    case $s in -*) echo "0.0|stage label \"${E2E_STAGES[$((n-1))]}\" is bold (from the start, hidden until the click)" ;;
               *) echo "$s|stage label \"${E2E_STAGES[$((n-1))]}\" turns bold" ;; esac
  done
  e2e_status_texts "$t_click" | awk -F'|' '{ k = $2; sub(/[0-9.]+ ?%.*$|[0-9]+ of [0-9]+.*$/, "", k)
      if (k != last) { print $1 "|status line: " $2; last = k } }'
  awk -F'|' -v click="$t_click" '{ printf "%.1f|%s\n", ($1 - click) / 1000, $2 }' "$events"
  echo "$(awk -v a="$t_end" -v b="$t_click" 'BEGIN{printf "%.1f", (a-b)/1000}')|Tidestart.exe has ended"
} | sort -t'|' -k1,1g -s | awk -F'|' '{ printf "  %6s s  %s\n", "+" $1, $2 }' | tee "$TEST_TMP/report"

# The checks behind what was printed.
order=$(e2e_bold_times "$t_click" | cut -d'|' -f1 | tr -d '\n')
[ "$order" = 12345 ] || fail "the stage labels did not turn bold in order 1..5 (got '$order')"
grep -q 'status line: Waiting 1 seconds for Tidewell to Start\.\.\.' "$TEST_TMP/report" ||
  fail "no \"Waiting 1 seconds for Tidewell to Start...\" once the server answered"
port=$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Port)
url="http://localhost:$port/calendar/"
[ "$port" = 80 ] && url="http://localhost/calendar/"
e2e_browser_wait 10
grep -qF "$url" "$E2E_BROWSER_ARGS" 2>/dev/null || fail "the browser was not asked to open $url: $(cat "$E2E_BROWSER_ARGS" 2>&1)"
# The components of this machine's list (x86 or x64 ones): each one intact.
got=0
for f in $(cd "$rel" && ls | grep -v downloader.ini); do
  [ -e "$E2E_INST/$f" ] || continue
  grep -q "$f: downloaded" "$TEST_TMP/report" || fail "$f was not downloaded intact"
  got=$((got + 1))
done
[ "$got" -ge 5 ] || fail "only $got components downloaded"
grep -q 'service "Tidewell" RUNNING' "$TEST_TMP/report" || fail "the service Tidewell was not seen running"
echo
echo "== curl http://127.0.0.1:$port/calendar/ (from Linux)"
page=$(curl -s --max-time 10 --noproxy '*' "http://127.0.0.1:$port/calendar/") || fail "curl could not reach port $port"
echo "$page" | grep -o '<h1>[^<]*</h1>' || fail "not the calendar page: $page"

echo
echo "== The road this installation took ($PRODUCT_BUILD build on a 64-bit prefix)"
e2e_road

echo
echo "== Stage times (seconds since the click on Install)"
e2e_bold_times "$t_click" | while IFS='|' read -r n s; do
  case $s in -*) printf '  %-20s bold from the start\n' "${E2E_STAGES[$((n-1))]}" ;;
             *) printf '  %-20s bold at +%s s\n' "${E2E_STAGES[$((n-1))]}" "$s" ;; esac
done
printf '  %-20s +%s s (%s recorded)\n' "browser asked" "$(awk -v a="$(date -r "$E2E_BROWSER_ARGS" +%s%3N)" -v b="$t_click" 'BEGIN{printf "%.1f", (a-b)/1000}')" "$(tr -d '\r"' < "$E2E_BROWSER_ARGS")"
wait "$probe_pid" || fail "the responsiveness probe ended with $?: $(cat "$TEST_TMP/stall.probe")"
probed() { tr -d '\r' < "$TEST_TMP/stall.probe" | grep '^result|' | tr '|' '\n' | sed -n "s/^$1=//p"; }
stall_ms=$(probed longest_ms)
[ -n "$stall_ms" ] || fail "no result from the responsiveness probe: $(cat "$TEST_TMP/stall.probe")"
printf '  %-20s %s ms, at +%.1f s since the window was probed (WM_NULL every 50 ms; goal: at most 250)\n' \
  "longest stall" "$stall_ms" "$(python3 -c "print($(probed at_ms) / 1000)")"
printf '  %-20s +%s s\n' "program ended" "$(awk -v a="$t_end" -v b="$t_click" 'BEGIN{printf "%.1f", (a-b)/1000}')"
echo "screenshots: $shots/1-shown.png (first shown), $shots/2-downloading.png, $shots/3-counting-down.png"
echo "demo done ($PRODUCT_BUILD build, prefix $WINEPREFIX): installed, served $url, and removed again (service, keys, files)."
