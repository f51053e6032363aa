#!/usr/bin/env bash
# ctest fixture cleanup: ends only what the harness started.
export WINEPREFIX=${TIDE_WINEPREFIX:-/var/cache/tidestart/wineprefix}
state=${TIDE_WINE_STATE:-/tmp/tidestart-wine-state}
timeout 30 wineserver -k 2>/dev/null || true
if [ -f "$state/xvfb.pid" ]; then
  kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
fi
rm -f "$state/xvfb.pid" "$state/display"
for f in "$state"/*.pid; do
  [ -e "$f" ] && kill "$(cat "$f")" 2>/dev/null
  rm -f "$f"
done
exit 0
