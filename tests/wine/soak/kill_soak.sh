#!/usr/bin/env bash
# Kill soak: the installer killed at random points of its download, again
# and again, then run to the end. Each round starts Tidestart.exe (the
# build product_build picks) /i URL against a stand-in release whose components are padded to a
# few MiB and served by nginx slowed to RATE, lets the robot agree to the
# licence, type C:\Tidewell\ and click Install, waits a random time and
# kills the program; the next round resumes. After the last kill one run
# goes to the end. Then every component the installer fetched must lie in
# the install directory with exactly FILE_SIZE bytes and FILE_MD5SUM (a
# resume that repeats or drops bytes shows there), and no file may have
# appeared in the prefix's drive_c outside the install directory, beyond the
# short list of exceptions below.
#
#   TIDE_WINEPREFIX=/var/cache/tidestart/wineprefix-NAME TIDE_WINE_STATE=/tmp/tidestart-wine-state-NAME \
#     unshare -n bash -c 'ip link set lo up && bash tests/wine/soak/kill_soak.sh [ROUNDS]'
#
# ROUNDS defaults to 20; TIDE_SOAK_RATE (nginx limit_rate, default 200k),
# TIDE_SOAK_PAD_KIB (padding of the largest component, default 4096) and
# TIDE_SOAK_MAX_MS (longest wait before a kill, default 5000) tune it. One
# line per round: the round, when it was killed (ms after the click), the
# bytes on disk per component; then a summary. Exit status 1 on any fault.
#
# How it kills: SIGKILL to the Linux process that runs Tidestart.exe. Under
# Wine that process is the Windows process, and TerminateProcess (what
# "taskkill /F" asks for) ends it the same way, by the wineserver sending
# SIGKILL; going there directly kills at the chosen moment instead of a
# second or so later, after another Wine program has started. Nothing of
# the program runs after it: no handler, no flush of its own.
set -uo pipefail
soak_dir=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$soak_dir/../../.." && pwd)
build=${TIDE_BUILD_ROOT:-$src/build}
export TIDE_SOURCE_DIR=${TIDE_SOURCE_DIR:-$src}
export TIDE_NATIVE_BUILD=${TIDE_NATIVE_BUILD:-$build/native}
export TIDE_WIN32_BUILD=${TIDE_WIN32_BUILD:-$build/win32}
export TIDE_WIN64_BUILD=${TIDE_WIN64_BUILD:-$build/win64}
rounds=${1:-20}
rate=${TIDE_SOAK_RATE:-200k}
pad_kib=${TIDE_SOAK_PAD_KIB:-4096}
max_ms=${TIDE_SOAK_MAX_MS:-5000}

bash "$src/tests/wine/harness/start.sh" >/dev/null || { echo "FAIL: Wine set-up"; exit 1; }
source "$src/tests/wine/harness/lib.sh"
set +e
source "$src/tests/wine/harness/standins.sh"
source "$src/tests/wine/harness/tidewell.sh"
source "$src/tests/wine/harness/e2e.sh"
on_exit "bash '$src/tests/wine/harness/stop.sh' >/dev/null 2>&1"
for f in "$E2E_EXE" "$E2E_ROBOT" "$W64/standin_tomcat7w.exe"; do
  [ -f "$f" ] || { echo "FAIL: $f not built"; exit 1; }
done
start_wine_desktop

# --- the release: padded so that the download takes a while ----------------
served=$TEST_TMP/served
rel=$served/release
e2e_release "$rel" 4.2.1 "$PRODUCT_RELEASE_ARCH"
i=0
for f in "$rel"/*; do
  case $f in *.ini) continue ;; esac
  i=$((i + 1))
  kib=$(( pad_kib * (2 + i % 3) / 4 ))  # sizes differ, so the kills meet different boundaries
  case $f in
    *.zip)  # one stored entry of random bytes beside the archive's own
      top=$(unzip -Z1 "$f" | head -1 | cut -d/ -f1)
      mkdir -p "$TEST_TMP/pad/$top"
      head -c $((kib * 1024)) /dev/urandom > "$TEST_TMP/pad/$top/soak-padding.bin"
      (cd "$TEST_TMP/pad" && zip -q -0 "$f" "$top/soak-padding.bin") || fail "cannot pad $f"
      rm -rf "$TEST_TMP/pad" ;;
    *) head -c $((kib * 1024)) /dev/urandom >> "$f" ;;  # a program's overlay: never read when it runs
  esac
done
"$TIDE_NATIVE_BUILD/tiderelease" make-manifest "$rel/downloader.ini" "$rel" >/dev/null || fail "manifest not completed"
e2e_serve "$served" "$rate"
e2e_point "$rel"
manifest=$NGINX_URL/release/downloader.ini
e2e_forget
on_exit e2e_forget
e2e_browser

# FILE_NAME, FILE_SIZE and FILE_MD5SUM of every section that names a file.
ini=$(tr -d '\r' < "$rel/downloader.ini")
facts=$(echo "$ini" | awk -F= '/^\[/ {s=$0} $1=="FILE_NAME" {n[s]=$2} $1=="FILE_SIZE" {z[s]=$2} $1=="FILE_MD5SUM" {m[s]=tolower($2)}
  END {for (s in n) print n[s], z[s], m[s]}' | sort)
total=$(echo "$facts" | awk '{t += $2} END {print t}')
echo "release: $(echo "$facts" | wc -l) files, $total bytes, served at $rate/s per connection"

snapshot() { (cd "$WINEPREFIX/drive_c" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort); }
snapshot > "$TEST_TMP/before.lst"

# Bytes on disk of each component, "name=bytes" ("-" when absent).
on_disk() {
  local name size f
  while read -r name size _; do
    f=$E2E_INST/$name
    if [ -f "$f" ]; then printf ' %s=%s' "$name" "$(stat -c %s "$f")"; else printf ' %s=-' "$name"; fi
  done <<< "$facts"
}
# Files larger than the manifest says: bytes written twice by a resume.
oversized() {
  local name size f
  while read -r name size _; do
    f=$E2E_INST/$name
    [ -f "$f" ] && [ "$(stat -c %s "$f")" -gt "$size" ] && echo "$name"
  done <<< "$facts"
}

# The Linux process that runs Tidestart.exe (the child of timeout).
tidestart_pid() { pgrep -P "$E2E_PID" | head -1; }

faults=()
kill_ms=()
for r in $(seq 1 "$rounds"); do
  e2e_start /i "$manifest"
  agree_and_type 'C:\Tidewell\'
  wait_ms=$(( 200 + (RANDOM * 32768 + RANDOM) % (max_ms - 200) ))
  t_click=$(e2e_ms)
  e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
  sleep_s=$(awk -v w="$wait_ms" -v d="$(( $(e2e_ms) - t_click ))" 'BEGIN {s = (w - d) / 1000; if (s < 0) s = 0; printf "%.3f", s}')
  sleep "$sleep_s"
  pid=$(tidestart_pid)
  if [ -z "$pid" ]; then
    wait "$E2E_PID"
    faults+=("round $r: Tidestart.exe had ended before the kill (exit $?): $(tail -3 "$TEST_TMP/tidestart.out" | tr '\n' ' ')")
    echo "round $r: not killed, the program had ended"
    continue
  fi
  kill -KILL "$pid"
  at=$(( $(e2e_ms) - t_click ))
  wait "$E2E_PID" 2>/dev/null
  kill_ms+=("$at")
  # The wineserver closes the dead process's handles (its exclusive open of
  # the partial file among them) once it has seen it go.
  for j in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  sleep 0.3
  echo "round $r: killed ${at} ms after the click;$(on_disk)"
  for f in $(oversized); do faults+=("round $r: $f holds more bytes than FILE_SIZE"); done
done

snapshot > "$TEST_TMP/after-kills.lst"

# --- one run to the end --------------------------------------------------
e2e_start /i "$manifest"
agree_and_type 'C:\Tidewell\'
t_click=$(e2e_ms)
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
# Any "Notice" the installation shows is a fault: recorded and answered, so
# the run goes on to its end.
( while kill -0 "$E2E_PID" 2>/dev/null; do
    e2e_R expect --caption Notice --timeout 5 >> "$TEST_TMP/notices" 2>/dev/null
  done ) &
notice_watch=$!
wait "$E2E_PID"
rc=$?
wait "$notice_watch"
while read -r box; do faults+=("the final run showed: $box"); done < <(grep -a '^Notice|' "$TEST_TMP/notices" 2>/dev/null)
final_s=$(( ($(e2e_ms) - t_click) / 1000 ))
echo "final run: ended with $rc after $final_s s;$(on_disk)"
[ "$rc" = 0 ] || faults+=("the final run ended with $rc: $(tail -3 "$TEST_TMP/tidestart.out" | tr '\n' ' ')")
e2e_browser_wait 10 || faults+=("the final run did not open the calendar")
snapshot > "$TEST_TMP/after.lst"

# --- every component complete and digest-correct ----------------------------
fetched=$(grep -o '"GET /release/[^ ]*' "$NGINX_ACCESS_LOG" | cut -d/ -f3 | grep -vxE 'downloader\.ini(\.sig)?' | sort -u)
good=0
while read -r name size md5; do
  <<<"$fetched" grep -qxF "$name" || continue
  f=$E2E_INST/$name
  if [ ! -f "$f" ]; then faults+=("$name: not in the install directory"); continue; fi
  got_size=$(stat -c %s "$f")
  got_md5=$(md5sum < "$f" | cut -d' ' -f1)
  served_bytes=$(awk -v p="\"GET /release/$name" 'index($0, p) == 1 {b += $5} END {print b + 0}' "$NGINX_ACCESS_LOG")
  requests=$(grep -c "^\"GET /release/$name " "$NGINX_ACCESS_LOG")
  ranged=$(grep "^\"GET /release/$name " "$NGINX_ACCESS_LOG" | grep -vc 'range="-"')
  echo "component $name: $got_size of $size bytes, md5 $( [ "$got_md5" = "$md5" ] && echo matches || echo "$got_md5 differs from $md5"); $requests requests ($ranged with Range), $served_bytes bytes served"
  if [ "$got_size" != "$size" ] || [ "$got_md5" != "$md5" ]; then
    faults+=("$name: $got_size bytes md5 $got_md5, manifest $size bytes md5 $md5")
  else
    good=$((good + 1))
  fi
done <<< "$facts"

# --- nothing outside the install directory --------------------------------
# Exceptions, each for a reason:
#  - Tidewell/: the install directory itself;
#  - windows/: Wine's own files (its fonts cache, logs, Installer folder;
#    the program writes nothing there);
#  - users/*/AppData/Local/Temp/ and users/*/Temp/: the user's temporary
#    folder, which Wine's own programs (the robot, cmd) also use;
#  - users/*/AppData/Local/Microsoft/Windows/INetCookies/index.dat: WinInet's
#    cookie index, which Wine's wininet.dll creates when the first session
#    opens (the program asks for no cache writes and sends no cookies).
# After the final run also what a finished installation makes on purpose:
#  - Program Files/Java/jre-standin/: the runtime installer's own folder;
#  - users/*/…/Start Menu/Programs/Tidewell Web Calendar/: the shortcuts.
outside() {  # BEFORE AFTER [final]
  comm -13 "$1" "$2" | grep -v -E '^(Tidewell/|windows/|users/[^/]+/(AppData/Local/)?Temp/|users/[^/]+/AppData/Local/Microsoft/Windows/INetCookies/index\.dat$)' |
    if [ "${3:-}" = final ]; then
      grep -v -E '^Program Files( \(x86\))?/Java/jre-standin/|/Start Menu/Programs/Tidewell Web Calendar/'
    else cat; fi
}
stray_kills=$(outside "$TEST_TMP/before.lst" "$TEST_TMP/after-kills.lst")
stray_final=$(outside "$TEST_TMP/before.lst" "$TEST_TMP/after.lst" final)
excepted=$(comm -13 "$TEST_TMP/before.lst" "$TEST_TMP/after.lst" | grep -v '^Tidewell/' | sed 's|/[^/]*$||' | sort | uniq -c)
[ -n "$stray_kills" ] && faults+=("new files outside the install directory after the kills: $(echo "$stray_kills" | tr '\n' ' ')")
[ -n "$stray_final" ] && faults+=("new files outside the install directory after the final run: $(echo "$stray_final" | tr '\n' ' ')")
echo "new files outside C:\\Tidewell (folders, with counts), all of them excepted above:"
echo "${excepted:-    none}" | sed 's/^/  /'

kills=${#kill_ms[@]}
if [ "$kills" -gt 0 ]; then
  spread=$(printf '%s\n' "${kill_ms[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%d..%d ms, median %d ms", a[1], a[NR], a[int((NR+1)/2)]}')
else spread=none; fi
echo "summary: $kills kills ($spread after the click), final run $final_s s; $good of $(echo "$fetched" | grep -c .) fetched components complete and digest-correct; ${#faults[@]} faults"
for f in "${faults[@]}"; do echo "FAULT: $f"; done
[ ${#faults[@]} -eq 0 ]
