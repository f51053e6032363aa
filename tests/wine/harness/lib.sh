# Sourced by every Windows test (tests/wine/*.sh). Runs the Windows builds
# under Wine with the harness's own prefix, never the user's, and bounds
# every wait.
set -euo pipefail

: "${TIDE_SOURCE_DIR:?run through ctest}"
: "${TIDE_WIN32_BUILD:?}" "${TIDE_WIN64_BUILD:?}" "${TIDE_NATIVE_BUILD:?}"
export WINEPREFIX=${TIDE_WINEPREFIX:-/var/cache/tidestart/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export TIDE_WINE_STATE=${TIDE_WINE_STATE:-/tmp/tidestart-wine-state}
WINE64=/usr/lib/wine/wine64
W64=$TIDE_WIN64_BUILD
W32=$TIDE_WIN32_BUILD

# The fixture starts one Xvfb for the run before any Wine program: Wine's
# desktop process keeps the DISPLAY of the first program that needed it, so
# every program of the run must see the same one.
if [ -s "$TIDE_WINE_STATE/display" ]; then export DISPLAY=$(cat "$TIDE_WINE_STATE/display"); fi
# A wineserver started by a program inside $(...) would hold that pipe open
# until it exits: make sure the persistent one is up first.
wineserver -p </dev/null >/dev/null 2>&1 || true

# A scratch folder for this test, removed when the test ends.
TEST_TMP=$(mktemp -d /tmp/tidewine.XXXXXX)
_tide_cleanup_hooks=("rm -rf '$TEST_TMP'")
on_exit() { _tide_cleanup_hooks+=("$*"); }
_tide_cleanup() {
  local i
  for ((i=${#_tide_cleanup_hooks[@]}-1; i>=0; i--)); do eval "${_tide_cleanup_hooks[$i]}" || true; done
}
trap _tide_cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }

# Windows path of a host path (Wine maps / to Z:).
winpath() { local p; p=$(readlink -m "$1"); echo "Z:${p//\//\\}"; }

# Runs a Windows program with a time limit (seconds, default 60). 64-bit
# programs start in about a second. A 32-bit program goes through Wine's
# i386 loader, which on some machines of this kind runs under qemu and
# takes close to a minute to start (i386_mode tells): give those a limit
# of 300 or more.
wine_run() {
  local limit=$1; shift
  local rc=0 t0=$SECONDS
  timeout --kill-after=5 "$limit" "$WINE64" "$@" || rc=$?
  [ -z "${TIDE_WINE_RUNLOG:-}" ] || echo "$(date +%T) $(basename "$0") rc=$rc $((SECONDS-t0))s $*" >> "$TIDE_WINE_RUNLOG"
  return $rc
}

# What the set-up found out about 32-bit Windows programs on this machine:
# "yes", or "no" followed by the reason (scripts/setup.sh, probe32).
win32_status() {
  local line
  line=$(grep -s '^win32=' "${TIDE_SETUP_STATUS:-/opt/tidestart/setup-status}" | head -1)
  [ -n "$line" ] || line="win32=no the set-up has not found out whether 32-bit Windows programs start here (run scripts/setup.sh)"
  echo "${line#win32=}"
}

# For tests that run 32-bit Windows programs: skipped (exit 77), with the
# set-up's reason, where a 32-bit program does not start here.
need_wine32() {
  local s
  s=$(win32_status)
  if [ "$s" != yes ]; then
    echo "skipped: ${s#no }"
    exit 77
  fi
  echo "build: win32 (32-bit programs under WOW64; i386 programs run $(i386_mode) here)"
}

# How this machine runs i386 Linux programs, Wine's 32-bit loader among
# them: "native", or "qemu" where the kernel refuses them.
i386_mode() {
  if grep -qs enabled /proc/sys/fs/binfmt_misc/qemu-i386-tide; then echo qemu; else echo native; fi
}

# The build of the product that the tests of whole runs use, printed:
# the shipped i686 Tidestart.exe (build/win32) wherever 32-bit programs
# start here, on the 64-bit prefix (the WOW64 road: 64-bit runtime and
# Tomcat, 64-bit registry views), against a release with i686 programs in
# JRE, TOMCAT and UNZIP and x86_64 ones in JREx64 and TOMCATx64, as a real
# release; else the x86_64 build of the same sources, with x86_64 programs
# in every component. TIDE_PRODUCT_BUILD=win32|win64 forces one.
# Sets PRODUCT_BUILD (win32|win64), PRODUCT_DIR (its build tree) and
# PRODUCT_RELEASE_ARCH (for make_standin_release: default|x64).
product_build() {
  local s why
  s=$(win32_status)
  PRODUCT_BUILD=${TIDE_PRODUCT_BUILD:-}
  if [ -z "$PRODUCT_BUILD" ]; then
    if [ "$s" = yes ]; then PRODUCT_BUILD=win32; else PRODUCT_BUILD=win64; fi
  fi
  if [ "$PRODUCT_BUILD" = win32 ]; then
    PRODUCT_DIR=$W32 PRODUCT_RELEASE_ARCH=default
    why="the shipped 32-bit product under WOW64; i386 programs run $(i386_mode) here"
    [ "$s" = yes ] || why="forced by TIDE_PRODUCT_BUILD, although ${s#no }"
  else
    PRODUCT_DIR=$W64 PRODUCT_RELEASE_ARCH=x64
    why="the x86_64 build of the same sources: ${s#no }"
    [ "$s" = yes ] && why="the x86_64 build of the same sources, forced by TIDE_PRODUCT_BUILD"
  fi
  echo "build: $PRODUCT_BUILD ($why)"
}

# Starts Xvfb for tests that show windows or message boxes (once per run).
need_display() {
  if [ -s "$TIDE_WINE_STATE/display" ] && kill -0 "$(cat "$TIDE_WINE_STATE/xvfb.pid")" 2>/dev/null; then
    export DISPLAY=$(cat "$TIDE_WINE_STATE/display")
    return 0
  fi
  local n
  for n in $(seq 91 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    echo $! > "$TIDE_WINE_STATE/xvfb.pid"
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    echo ":$n" > "$TIDE_WINE_STATE/display"
    export DISPLAY=":$n"
    return 0
  done
  fail "no free X display"
}

# remove_service NAME: stops the service, waits until it has stopped, deletes
# it and waits until the service manager no longer knows it (a service
# deleted while it still runs is only marked, and a later create of the same
# name fails), each wait at most 10 s.
remove_service() {
  local name=$1 i
  wine_run 30 sc stop "$name" </dev/null >/dev/null 2>&1 || true
  for i in $(seq 1 50); do
    grep -q 'STATE.*RUNNING\|STATE.*PENDING' <(wine_run 30 sc query "$name" </dev/null 2>/dev/null | tr -d '\r') || break
    sleep 0.2
  done
  wine_run 30 sc delete "$name" </dev/null >/dev/null 2>&1 || true
  for i in $(seq 1 50); do
    wine_run 30 sc query "$name" </dev/null >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  echo "harness: service $name still known to the service manager 10 s after its deletion" >&2
}

# A free TCP port on 127.0.0.1.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Reads a value from Wine's registry: view (32|64), key, value name.
reg_query() {
  wine_run 60 reg query "$2" /v "$3" "/reg:$1" 2>/dev/null | tr -d '\r' | awk -v v="$3" '$1==v {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}'
}

# Waits until something listens on 127.0.0.1:PORT (at most 10 s).
_wait_port() {
  local i
  for i in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# start_nginx ROOT: serves the folder ROOT over HTTP on 127.0.0.1 with
# Debian's nginx (range requests honoured), stopped when the test ends.
# Sets NGINX_PORT, NGINX_URL (http://127.0.0.1:PORT) and NGINX_ACCESS_LOG,
# whose lines read:
#   "GET /path HTTP/1.1" STATUS BYTES range="bytes=300-1000" ua="AGENT"
# (a header that was not sent shows as "-").
start_nginx() {
  local root dir
  root=$(readlink -m "$1")
  dir=$(mktemp -d "$TEST_TMP/nginx.XXXXXX")
  NGINX_PORT=$(free_port)
  NGINX_URL="http://127.0.0.1:$NGINX_PORT"
  NGINX_ACCESS_LOG=$dir/access.log
  mkdir -p "$dir/tmp"
  local user=""
  [ "$(id -u)" = 0 ] && user="user root;"
  cat > "$dir/nginx.conf" <<CONF
$user
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
  access_log off;
  log_format tide '"\$request" \$status \$body_bytes_sent range="\$http_range" ua="\$http_user_agent"';
  client_body_temp_path $dir/tmp;
  proxy_temp_path $dir/tmp;
  fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp;
  scgi_temp_path $dir/tmp;
  types { application/octet-stream bin; text/plain ini; }
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $root;
    access_log $NGINX_ACCESS_LOG tide;
  }
}
CONF
  /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" 2>>"$dir/error.log" \
    || fail "nginx did not start: $(cat "$dir/error.log")"
  on_exit "kill \$(cat '$dir/nginx.pid') 2>/dev/null"
  _wait_port "$NGINX_PORT" || fail "nginx does not listen on $NGINX_PORT"
}

# sign_manifest FILE...: signs each release manifest as its publisher would
# (FILE.sig, tiderelease sign) with the test key of tools/fixtures/release-key,
# whose public half the test builds carry; unsigned manifests are refused.
# Sign after the last change of the file. A manifest keeps its RELEASE_SERIAL;
# one without gets TIDE_TEST_RELEASE_SERIAL (1: every test release is the
# same release to the installer unless a test says otherwise).
TIDE_TEST_RELEASE_KEY=$TIDE_SOURCE_DIR/tools/fixtures/release-key/release-key
TIDE_TEST_RELEASE_SERIAL=${TIDE_TEST_RELEASE_SERIAL:-1}
sign_manifest() {
  local f serial
  for f in "$@"; do
    serial=()
    grep -qiE '^[[:space:]]*RELEASE_SERIAL[[:space:]]*=' "$f" || serial=(--serial "$TIDE_TEST_RELEASE_SERIAL")
    "$TIDE_NATIVE_BUILD/tiderelease" sign "${serial[@]}" "$f" "$TIDE_TEST_RELEASE_KEY" >/dev/null || fail "$f not signed"
  done
}

# start_faultserver ROOT: the misbehaving HTTP server of
# tools/faultserver/faultserver.py on 127.0.0.1 over the folder ROOT,
# stopped when the test ends. Sets FAULT_PORT, FAULT_URL and FAULT_LOG (one
# line per request: METHOD PATH status=CODE range="..." ua="..."), and
# FAULT_DEAF_URL (http://127.0.0.1:PORT of a listener that never accepts).
start_faultserver() {
  FAULT_PORT=$(free_port)
  FAULT_URL="http://127.0.0.1:$FAULT_PORT"
  FAULT_DEAF_PORT=$(free_port)
  FAULT_DEAF_URL="http://127.0.0.1:$FAULT_DEAF_PORT"
  FAULT_LOG=$(mktemp "$TEST_TMP/fault.XXXXXX.log")
  python3 "$TIDE_SOURCE_DIR/tools/faultserver/faultserver.py" --root "$1" --port "$FAULT_PORT" \
    --deaf-port "$FAULT_DEAF_PORT" --log "$FAULT_LOG" --pidfile "$FAULT_LOG.pid" &
  local pid=$!
  on_exit "kill $pid 2>/dev/null"
  _wait_port "$FAULT_PORT" || fail "fault server does not listen on $FAULT_PORT"
}

# For tests that show windows: a display, then the session's desktop
# (explorer.exe) and services. All programs of a Wine session share one
# desktop process, started by the first program that needs it; it keeps
# that program's DISPLAY, and it and the services keep its open files. So
# they are started here by a program with the display and no pipes of the
# caller (a command substitution or ctest would otherwise wait for them).
# Fails with an explanation when an earlier program already started the
# desktop without a display: no window can appear until the wineserver
# restarts.
# Pids of this prefix's desktop processes that run without a display.
_headless_desktops() {
  local pid
  for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
    grep -qx "WINEPREFIX=$WINEPREFIX" <(tr '\0' '\n' 2>/dev/null < "/proc/$pid/environ") || continue
    grep -q '^DISPLAY=' <(tr '\0' '\n' 2>/dev/null < "/proc/$pid/environ") && continue
    echo "$pid"
  done
}

start_wine_desktop() {
  need_display
  wine_run 120 cmd /c exit </dev/null >/dev/null 2>&1 || true
  if [ -n "$(_headless_desktops)" ]; then
    # A desktop left by an earlier program that had no display (a script
    # that ran Wine without the harness): no window can appear until its
    # wineserver restarts, so restart it and start the desktop again.
    echo "harness: the Wine desktop of $WINEPREFIX was started without a display; restarting its wineserver" >&2
    timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
    timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine_run 120 cmd /c exit </dev/null >/dev/null 2>&1 || true
    local left
    left=$(_headless_desktops)
    [ -z "$left" ] || fail "the Wine desktop of $WINEPREFIX (explorer.exe, pid $left) still has no display after a restart of its wineserver"
  fi
  _keep_desktop
  return 0
}

# Wine ends the desktop process a little after its last client has gone,
# and a program that starts while it shuts down gets no desktop (its boxes
# fail at once, process starts fail). One quiet client for the whole run
# keeps it up: the robot waiting for a box that never comes. Stopped with
# the other processes of the run (harness/stop.sh).
_keep_desktop() {
  local pidfile=$TIDE_WINE_STATE/desktop-keeper.pid
  [ -f "$W64/robot.exe" ] || return 0
  if [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then return 0; fi
  mkdir -p "$TIDE_WINE_STATE"
  setsid timeout 7200 "$WINE64" "$W64/robot.exe" expect --caption "harness: keeps the desktop up" --timeout 7100 \
    </dev/null >/dev/null 2>&1 &
  echo $! > "$pidfile"
}

# size_matches DIR KIB: whether KIB (an uninstall entry's EstimatedSize,
# the bytes in DIR's files rounded up to KiB once, measured as the run's
# last step) fits what DIR holds now: logs (the run log, the server's) may
# have grown since, nothing else. Sets SIZE_BYTES and SIZE_LOG_BYTES.
size_matches() {
  local sum='du -cbl --files0-from=-'
  SIZE_BYTES=$(find "$1" -type f -print0 | $sum | tail -n 1 | cut -f1)
  SIZE_LOG_BYTES=$(find "$1" -type f \( -name '*.log' -o -path '*/logs/*' \) -print0 | $sum | tail -n 1 | cut -f1)
  [ "$2" -ge $(( (SIZE_BYTES - SIZE_LOG_BYTES + 1023) / 1024 )) ] && [ "$2" -le $(( (SIZE_BYTES + 1023) / 1024 )) ]
}

# held PORT: whether something answers on 127.0.0.1:PORT.
held() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# hold_ports PORT...: something accepting (and closing) every connection on
# 127.0.0.1 at each port until the test ends; fails when one cannot be held.
hold_ports() {
  local out=$TEST_TMP/hold.$$.$RANDOM i p
  python3 - "$@" <<'PY' >"$out" 2>&1 &
import select, socket, sys
socks = []
for p in map(int, sys.argv[1:]):
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try: s.bind(("127.0.0.1", p)); s.listen(16); socks.append(s)
    except OSError as e: print(f"port {p}: {e}", flush=True)
print("ready", flush=True)
while socks:
    for s in select.select(socks, [], [])[0]:
        c, _ = s.accept(); c.close()
PY
  on_exit "kill $! 2>/dev/null"
  for i in $(seq 1 50); do grep -q ready "$out" && break; sleep 0.1; done
  for p in "$@"; do held "$p" || fail "port $p could not be made busy: $(cat "$out")"; done
}
