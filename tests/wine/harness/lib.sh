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
# i386 loader, which on this kind of machine runs under qemu and takes
# close to a minute to start: give those a limit of 300 or more.
wine_run() {
  local limit=$1; shift
  timeout --kill-after=5 "$limit" "$WINE64" "$@"
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

# A free TCP port on 127.0.0.1.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Reads a value from Wine's registry: view (32|64), key, value name.
reg_query() {
  wine_run 60 reg query "$2" /v "$3" "/reg:$1" 2>/dev/null | tr -d '\r' | awk -v v="$3" '$1==v {sub(/^[^ ]+ +[^ ]+ +/, ""); print}'
}
