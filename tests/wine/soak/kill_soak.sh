#!/usr/bin/env bash
# Kill soak: the installer killed again and again, in its download, in its
# install steps and in an upgrade, each time run again; then run to the end.
# Each round starts Tidestart.exe (the build product_build picks) /i URL
# against a stand-in release whose components are padded to a few MiB and
# served by nginx slowed to RATE, lets the robot agree to the licence, type
# C:\Tidewell\ and click Install, and kills the program:
#  - the first half of the rounds a random time after the click (in the
#    download);
#  - a quarter once the download is done (the rate raised for it), each at
#    the start of the next install step in turn (the runtime installer, the
#    server base, Tomcat, the application, the service script; a step that
#    is no longer pending gives way to the server's start), read from the run
#    log, within 30 ms (the unzip tool is quick);
#  - after one run to the end of the first installation, the rest against
#    a release in which the application changed (4.3.0): in its download, in
#    its application step, in its migration, at the server's start, in turn;
#    then the upgrade once to its end.
# Where each kill landed is read from the run log of that round, and the
# rounds per stage are printed. Then every component the installer fetched
# must lie in the install directory with exactly FILE_SIZE bytes and
# FILE_MD5SUM (a resume that repeats or drops bytes shows there), the
# upgrade must have carried the calendar data over and left the 4.2.1
# folder as it was, and no file may have appeared in the prefix's drive_c
# outside the install directory, beyond the short list of exceptions below.
#
#   TIDE_WINEPREFIX=/var/cache/tidestart/wineprefix-NAME TIDE_WINE_STATE=/tmp/tidestart-wine-state-NAME \
#     unshare -n bash -c 'ip link set lo up && bash tests/wine/soak/kill_soak.sh [ROUNDS]'
#
# ROUNDS defaults to 20; TIDE_SOAK_RATE (nginx limit_rate, default 200k),
# TIDE_SOAK_PAD_KIB (padding of the largest component, default 4096) and
# TIDE_SOAK_MAX_MS (longest wait before a kill in the download, default
# 5000) tune it. One line per round: the round, when it was killed (ms after
# the click), the stage it landed in, the bytes on disk per component; then
# a summary with the rounds per stage. Exit status 1 on any fault.
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
declare -A stage_count
run_log=$E2E_INST/Tidestart.log
log_lines() { [ -f "$run_log" ] && wc -l < "$run_log" || echo 0; }
# The run log of this round (from line FROM on), without CRs.
round_log() { [ -f "$run_log" ] && tail -n +"$1" "$run_log" | tr -d '\r'; }
# Where a kill landed, from what the round logged before it.
stage_of() {  # FROM PREFIX
  round_log "$1" | awk -v p="$2" '
    BEGIN { s = "download" }
    /step: download finished/ { s = "install steps" }
    s ~ /^install steps/ && tolower($0) ~ /program: .*jre/ { s = "install steps: runtime" }
    s ~ /^install steps/ && tolower($0) ~ /program: started: .*unzip\.exe.*catalina_base/ { s = "install steps: server base" }
    s ~ /^install steps/ && tolower($0) ~ /program: started: .*unzip\.exe.*tomcat/ { s = "install steps: Tomcat" }
    s ~ /^install steps/ && tolower($0) ~ /program: started: .*unzip\.exe.*tidewell-[0-9]/ { s = "install steps: application" }
    s ~ /^install steps/ && tolower($0) ~ /program: started: .*winupdate\.bat/ { s = "install steps: migration" }
    /step: InstallApplication: / { s = "service and start" }
    /step: InstallServerService: / { s = "service and start" }
    /step: start the server: ok/ { s = "countdown" }
    END { print p s }'
}
# Waits until the round's log matches the extended RE (or the server's
# start, the stage every run reaches), at most S seconds; true when it did.
# tail follows the log as it grows, so the kill comes within milliseconds of
# the line (a step of the unzip tool takes a few hundred).
wait_log() {  # FROM RE S
  local fd tail_pid rc=0
  exec {fd}< <(exec timeout "$3" tail -s 0.01 -n +"$1" -F "$run_log" 2>/dev/null)
  tail_pid=$!
  grep -Eiq -m1 "$2|step: start the server" <&"$fd" || rc=1
  kill "$tail_pid" 2>/dev/null
  exec {fd}<&-
  return $rc
}
rate_to() {  # RATE: nginx's limit_rate from now on
  local d; d=$(dirname "$NGINX_ACCESS_LOG")
  sed -i "s|limit_rate [^;]*;|limit_rate $1;|" "$d/nginx.conf"
  /usr/sbin/nginx -p "$d" -c "$d/nginx.conf" -s reload 2>>"$d/error.log" || fail "nginx reload: $(cat "$d/error.log")"
  sleep 0.5
}

# One round: the window, the click, the kill when WHEN says (a number: so
# many ms after the click; else a RE of the run log), the stage it landed in.
round() {  # NAME MANIFEST WHEN PREFIX
  local r=$1 pid at from
  e2e_start /i "$2"
  agree_and_type 'C:\Tidewell\'
  from=$(( $(log_lines) + 1 ))
  t_click=$(e2e_ms)
  e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
  case $3 in
    [0-9]*)
      sleep "$(awk -v w="$3" -v d="$(( $(e2e_ms) - t_click ))" 'BEGIN {s = (w - d) / 1000; if (s < 0) s = 0; printf "%.3f", s}')" ;;
    *)
      wait_log "$from" "$3" 200 && sleep "0.0$((RANDOM % 3))" ;;
  esac
  pid=$(tidestart_pid)
  if [ -z "$pid" ]; then
    wait "$E2E_PID"
    faults+=("round $r: Tidestart.exe had ended before the kill (exit $?): $(tail -3 "$TEST_TMP/tidestart.out" | tr '\n' ' ')")
    echo "round $r: not killed, the program had ended"
    return
  fi
  kill -KILL "$pid"
  at=$(( $(e2e_ms) - t_click ))
  wait "$E2E_PID" 2>/dev/null
  kill_ms+=("$at")
  # The wineserver closes the dead process's handles (its exclusive open of
  # the partial file among them) once it has seen it go; what the program
  # had started (the unzip tool, a script) ends by itself.
  for j in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  sleep 0.3
  local stage; stage=$(stage_of "$from" "$4")
  stage_count[$stage]=$(( ${stage_count[$stage]:-0} + 1 ))
  echo "round $r: killed ${at} ms after the click, $stage;$(on_disk)"
  for f in $(oversized); do faults+=("round $r: $f holds more bytes than FILE_SIZE"); done
}

# A run to the end through the window: any "Notice" is a fault (recorded
# and answered, so the run goes on); prints "EXIT SECONDS".
final_run() {  # MANIFEST WHAT
  e2e_start /i "$1"
  agree_and_type 'C:\Tidewell\'
  t_click=$(e2e_ms)
  e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
  : > "$TEST_TMP/notices"
  ( while kill -0 "$E2E_PID" 2>/dev/null; do
      e2e_R expect --caption Notice --timeout 5 >> "$TEST_TMP/notices" 2>/dev/null
    done ) &
  local notice_watch=$! rc
  wait "$E2E_PID"
  rc=$?
  wait "$notice_watch"
  while read -r box; do faults+=("$2 showed: $box"); done < <(grep -a '^Notice|' "$TEST_TMP/notices" 2>/dev/null)
  final_s=$(( ($(e2e_ms) - t_click) / 1000 ))
  [ "$rc" = 0 ] || faults+=("$2 ended with $rc: $(tail -3 "$TEST_TMP/tidestart.out" | tr '\n' ' ')")
  e2e_browser_wait 10 || faults+=("$2 did not open the calendar")
  final_rc=$rc
}

dl_rounds=$(( rounds / 2 ))
step_rounds=$(( rounds / 4 ))
up_rounds=$(( rounds - dl_rounds - step_rounds ))
r=0
for i in $(seq 1 "$dl_rounds"); do
  r=$((r + 1))
  round "$r" "$manifest" $(( 200 + (RANDOM * 32768 + RANDOM) % (max_ms - 200) )) ""
done
# The rest of the download at once: these rounds are about the steps.
rate_to 50m
steps=('program: .*jre' 'program: started: .*UNZIP\.EXE.*catalina_base' 'program: started: .*UNZIP\.EXE.*tomcat'
       'program: started: .*UNZIP\.EXE.*tidewell-[0-9]' 'program: started: .*service\.bat')
for i in $(seq 1 "$step_rounds"); do
  r=$((r + 1))
  round "$r" "$manifest" "${steps[$(( (i - 1) % ${#steps[@]} ))]}" ""
done

snapshot > "$TEST_TMP/after-kills.lst"

# --- the first installation to its end -----------------------------------------
final_run "$manifest" "the final run"
echo "final run: ended with $final_rc after $final_s s;$(on_disk)"

# --- the upgrade to 4.3.0, killed, then to its end ------------------------------
e2e_upgrade_release "$pad_kib"
manifest2=$NGINX_URL/release2/downloader.ini
facts="$facts
$(tr -d '\r' < "$rel2/downloader.ini" | awk -F= '/^\[TW\]/ {s=1; next} /^\[/ {s=0} s && $1=="FILE_NAME" {n=$2} s && $1=="FILE_SIZE" {z=$2} s && $1=="FILE_MD5SUM" {m=tolower($2)} END {print n, z, m}')"
tw2=$(awk -F= '/^\[TW\]/ {s=1} s && $1=="FILE_SIZE" {print $2; exit}' "$rel2/downloader.ini" | tr -d '\r')
old=$E2E_INST/tidewell-4.2.1
mkdir -p "$old/WEB-INF/sql/DERBY/calendardb/seg0"
printf 'calendar data of the first installation\r\n' > "$old/WEB-INF/sql/DERBY/calendardb/seg0/c10.dat"
old_md5=$(cd "$old" && find . -type f -print0 | sort -z | xargs -0 md5sum)
# The migration's java: the stand-in beside the installation, found on the
# path, records its arguments in java.args.
cp "$W64/standin_jre_setup.exe" "$E2E_INST/java.exe"
export WINEPATH='C:\Tidewell'
rate_to "$rate"
dl_ms=$(( tw2 / $(echo "$rate" | awk '/k$/ {print $0 * 1024; next} /m$/ {print $0 * 1048576; next} {print $0}') * 1000 ))
# The download twice (the second resumes what the first left), then the
# later stages once each.
up_targets=(download download 'program: started: .*UNZIP\.EXE.*tidewell-4\.3\.0' 'program: started: .*winupdate\.bat'
            'step: start the server')
for i in $(seq 1 "$up_rounds"); do
  r=$((r + 1))
  t=${up_targets[$(( (i - 1) % ${#up_targets[@]} ))]}
  if [ "$t" = download ]; then
    span=$(( dl_ms / 3 ))  # twice at most a third: the download is never done before the kill
    [ "$span" -gt 300 ] || span=300
    t=$(( 200 + RANDOM % span ))
  elif [ "$t" != "${up_targets[2]}" ]; then
    rate_to 50m  # the archive at once: the kill is for a later stage
  fi
  round "$r" "$manifest2" "$t" "upgrade: "
  rate_to "$rate"
done
rate_to 50m
final_run "$manifest2" "the final upgrade"
echo "final upgrade: ended with $final_rc after $final_s s"
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Version)" = 4.3.0 ] || faults+=("the upgrade did not record 4.3.0")
[ "$(cat "$E2E_INST/tidewell-4.3.0/WEB-INF/sql/DERBY/calendardb/seg0/c10.dat" 2>&1)" = "$(printf 'calendar data of the first installation\r')" ] ||
  faults+=("the upgrade did not carry the calendar data over")
grep -q 'tidewell-4.3.0' "$E2E_INST/TCBase/conf/Catalina/localhost/calendar.xml" || faults+=("the context does not name 4.3.0")
[ "$(cd "$old" && find . -type f -print0 | sort -z | xargs -0 md5sum)" = "$old_md5" ] || faults+=("the 4.2.1 folder changed")
snapshot > "$TEST_TMP/after.lst"

# --- every component complete and digest-correct ----------------------------
fetched=$(grep -o '"GET /release2\?/[^ ]*' "$NGINX_ACCESS_LOG" | cut -d/ -f3 | grep -vxE 'downloader\.ini(\.sig)?' | sort -u)
good=0
while read -r name size md5; do
  <<<"$fetched" grep -qxF "$name" || continue
  f=$E2E_INST/$name
  if [ ! -f "$f" ]; then faults+=("$name: not in the install directory"); continue; fi
  got_size=$(stat -c %s "$f")
  got_md5=$(md5sum < "$f" | cut -d' ' -f1)
  served_bytes=$(awk -v p="/$name " 'index($0, "\"GET /release") == 1 && index($0, p) {b += $5} END {print b + 0}' "$NGINX_ACCESS_LOG")
  requests=$(grep -c "^\"GET /release2\\?/$name " "$NGINX_ACCESS_LOG")
  ranged=$(grep "^\"GET /release2\\?/$name " "$NGINX_ACCESS_LOG" | grep -vc 'range="-"')
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
# After the install steps (so after the kills too) also what a finished
# installation makes on purpose:
#  - Program Files/Java/jre-standin/: the runtime installer's own folder;
#  - users/*/…/Start Menu/Programs/Tidewell Web Calendar/: the shortcuts.
outside() {  # BEFORE AFTER [final]
  comm -13 "$1" "$2" | grep -v -E '^(Tidewell/|windows/|users/[^/]+/(AppData/Local/)?Temp/|users/[^/]+/AppData/Local/Microsoft/Windows/INetCookies/index\.dat$)' |
    if [ "${3:-}" = final ]; then
      grep -v -E '^Program Files( \(x86\))?/Java/jre-standin/|/Start Menu/Programs/Tidewell Web Calendar/'
    else cat; fi
}
# The kills land in the install steps too: what a finished step makes on
# purpose may be there already.
stray_kills=$(outside "$TEST_TMP/before.lst" "$TEST_TMP/after-kills.lst" final)
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
echo "rounds per stage killed:"
for k in "${!stage_count[@]}"; do echo "  $k: ${stage_count[$k]}"; done | sort
echo "$rounds rounds, ${#faults[@]} faults"
for f in "${faults[@]}"; do echo "FAULT: $f"; done
[ ${#faults[@]} -eq 0 ]
