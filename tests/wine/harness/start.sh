#!/usr/bin/env bash
# ctest fixture: makes the harness's Wine prefix once (reused afterwards)
# and keeps one wineserver alive for the whole run.
set -euo pipefail
export WINEPREFIX=${TIDE_WINEPREFIX:-/var/cache/tidestart/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
state=${TIDE_WINE_STATE:-/tmp/tidestart-wine-state}
mkdir -p "$state"
if [ ! -f "$WINEPREFIX/.tidestart-ready" ]; then
  echo "creating Wine prefix $WINEPREFIX (once; a few minutes where i386 programs run under qemu)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  timeout 900 /usr/lib/wine/wine64 wineboot -i
  timeout 120 wineserver -w
  # Without a window manager Wine waits 2 s for every closed message box;
  # managed windows close at once.
  timeout 120 /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
  timeout 120 wineserver -w
  touch "$WINEPREFIX/.tidestart-ready"
fi
# One X display for the whole run, before the first Wine program starts.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
# Wine's sockets are made by the wineserver, in its network namespace: a
# wineserver of this prefix left by a run in another namespace (another
# unshare -n, or the host's) would send every connection of this run there,
# where this run's servers do not listen.
for pid in $(pgrep -x 'wineserver(64)?' || true); do
  grep -qx "WINEPREFIX=$WINEPREFIX" <(tr '\0' '\n' 2>/dev/null < "/proc/$pid/environ") || continue
  [ "$(readlink "/proc/$pid/ns/net")" = "$(readlink /proc/self/ns/net)" ] && continue
  echo "harness: the wineserver of $WINEPREFIX (pid $pid) runs in another network namespace; restarting it here"
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
  rm -f "$state"/desktop-keeper.pid
done
need_display
echo "display $DISPLAY"
# The session's own processes (services.exe, the desktop) start with the
# first Wine program and keep its standard handles: start them here, with
# none of ctest's pipes, or ctest waits for them until the run ends.
start_wine_desktop
# -p: the server stays up between programs (fast starts, services stay alive).
# Its output must not hold ctest's pipe open.
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
echo "wine prefix ready: $WINEPREFIX"
