#!/usr/bin/env bash
# The settings store written by the 32-bit build under Wine's 64-bit prefix
# lands in the 64-bit registry view. One 32-bit process (slow to start here)
# runs every case; reg.exe then looks at both views from outside.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
need_wine32
exe=$W32/settings_wow64.exe
[ -f "$exe" ] || { echo "skip: $exe not built"; exit 77; }

key='HKLM\Software\Quorvan Labs'
clean() {
  wine_run 60 reg delete "$key" /f /reg:64 >/dev/null 2>&1 || true
  wine_run 60 reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true
}
clean
on_exit clean

# The data of one value as reg.exe shows it (empty when missing). reg
# indents its value lines, which the harness's reg_query does not expect.
reg_value() {  # view key value
  { wine_run 60 reg query "$2" /v "$3" "/reg:$1" 2>/dev/null || true; } | tr -d '\r' |
    awk -v v="$3" '$1==v {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}'
}

# Wine's 32-bit loader under qemu now and then ends at start-up with exit
# code 1 before the program prints anything; only then is it run again.
for try in 1 2; do
  set +e
  out=$(wine_run 400 "$exe" 2>&1)
  rc=$?
  set -e
  echo "$out"
  <<<"$out" grep -qE '^(ok|FAIL):' && break
  echo "note: no output from the 32-bit program (exit $rc), start $try"
done
[ "$rc" = 0 ] || fail "settings_wow64.exe: exit $rc"

v64=$(reg_value 64 "$key\\Tidewell" AppPath)
v32=$(reg_value 32 "$key\\Tidewell" AppPath)
[ "$v64" = 'C:\Apps\Tidewell\' ] || fail "/reg:64 AppPath is '$v64'"
[ -z "$v32" ] || fail "/reg:32 has AppPath '$v32'"
[ "$(reg_value 64 "$key\\Tidewell" Version)" = 7.1.0 ] || fail "/reg:64 Version"
pass "AppPath and Version in the 64-bit view only"

wine_run 60 reg query "$key\\Tidewell\\Nest" /reg:64 >/dev/null 2>&1 && fail "Nest still in the 64-bit view"
wine_run 60 reg query "$key\\Tidewell" /reg:64 >/dev/null 2>&1 || fail "Tidewell key gone from the 64-bit view"
pass "nested key deleted in the 64-bit view"
