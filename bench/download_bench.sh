#!/usr/bin/env bash
# Download plus MD5 check of a 256 MiB file from nginx on 127.0.0.1:
# TUrlDownloader over WinInet under Wine (x86_64 build: the i686 loader runs
# under qemu on this kind of machine and would measure qemu, not the code)
# against `curl -o` followed by `md5sum` (native), in the same run; and the
# peak memory of a 16 MiB and a 256 MiB download.
#
#   bash bench/download_bench.sh [BUILD_ROOT]     (default: $TIDE_BUILD_ROOT or build/)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-${TIDE_BUILD_ROOT:-$here/build}}
export TIDE_SOURCE_DIR=$here TIDE_NATIVE_BUILD=$root/native TIDE_WIN32_BUILD=$root/win32 TIDE_WIN64_BUILD=$root/win64
# A prefix and state of its own, set up by the harness like a test run (its
# desktop and services start with a display and away from this script's
# output, which a pipe such as "| tail" would otherwise wait on for ever)
# and stopped when the benchmark ends, so nothing of it is left to a later
# run.
export TIDE_WINEPREFIX=${TIDE_BENCH_WINEPREFIX:-/var/cache/tidestart/wineprefix-bench}
export TIDE_WINE_STATE=${TIDE_BENCH_WINE_STATE:-/tmp/tidestart-wine-state-bench}
bash "$here/tests/wine/harness/start.sh" </dev/null >/dev/null
source "$here/tests/wine/harness/lib.sh"
on_exit "bash '$here/tests/wine/harness/stop.sh' </dev/null >/dev/null 2>&1"
exe=$W64/download_bench.exe
[ -f "$exe" ] || fail "$exe not built (scripts/build.sh)"
runs=${RUNS:-5}

served=$TEST_TMP/served
mkdir -p "$served"
head -c $((256 << 20)) /dev/urandom > "$served/big.bin"
head -c $((16 << 20)) /dev/urandom > "$served/small.bin"
big_md5=$(md5sum "$served/big.bin" | cut -d' ' -f1)
small_md5=$(md5sum "$served/small.bin" | cut -d' ' -f1)
start_nginx "$served"
local_file=$TEST_TMP/got.bin

now() { date +%s%N; }
wine_bench() {  # name md5 size -> prints the program's line
  wine_run 600 "$exe" "$NGINX_URL/$1" "$(winpath "$local_file")" "$2" "$3" | tr -d '\r'
}
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }

# Warm-up: page cache, wineserver.
curl -s -o "$local_file" "$NGINX_URL/big.bin"
wine_bench big.bin "$big_md5" $((256 << 20)) >/dev/null

best_native=999999
best_wine=999999
ratios=()
for i in $(seq 1 "$runs"); do
  rm -f "$local_file"
  t0=$(now)
  curl -s -o "$local_file" "$NGINX_URL/big.bin"
  got=$(md5sum "$local_file" | cut -d' ' -f1)
  t1=$(now)
  [ "$got" = "$big_md5" ] || fail "curl: digest $got"
  native_ms=$(( (t1 - t0) / 1000000 ))
  line=$(wine_bench big.bin "$big_md5" $((256 << 20)))
  <<<"$line" grep -q 'ok=1' || fail "TUrlDownloader: $line"
  wine_ms=$(echo "$line" | field ms)
  echo "run $i: curl+md5sum ${native_ms} ms, TUrlDownloader ${wine_ms} ms ($line)"
  ratios+=("$(python3 -c "print($wine_ms / max($native_ms, 1))")")
  best_native=$(python3 -c "print(min($best_native, $native_ms))")
  best_wine=$(python3 -c "print(min($best_wine, $wine_ms))")
done
ratio=$(python3 -c "print('%.2f' % ($best_wine / $best_native))")
median=$(python3 -c "import statistics; print('%.2f' % statistics.median([$(IFS=,; echo "${ratios[*]}")]))")
echo "best: curl+md5sum ${best_native} ms, TUrlDownloader+MD5 under Wine ${best_wine} ms, ratio of the bests ${ratio}, median of the per-run ratios ${median} (1.0 or less: as fast as curl+md5sum)"

mem() {  # name md5 size
  local line rss
  line=$( { /usr/bin/time -f 'host_max_rss_kib=%M' "$WINE64" "$exe" "$NGINX_URL/$1" "$(winpath "$local_file")" "$2" "$3" | tr -d '\r'; } 2>&1 )
  <<<"$line" grep -q 'ok=1' || fail "memory run $1: $line"
  echo "$line" | tr '\n' ' '
}
m16=$(mem small.bin "$small_md5" $((16 << 20)))
m256=$(mem big.bin "$big_md5" $((256 << 20)))
echo "16 MiB:  $m16"
echo "256 MiB: $m256"
p16=$(echo "$m16" | field peak_private_kib); p256=$(echo "$m256" | field peak_private_kib)
r16=$(echo "$m16" | field host_max_rss_kib); r256=$(echo "$m256" | field host_max_rss_kib)
echo "peak private bytes: 16 MiB ${p16} KiB, 256 MiB ${p256} KiB, difference $((p256 - p16)) KiB"
echo "host max RSS of the wine process: 16 MiB ${r16} KiB, 256 MiB ${r256} KiB, difference $((r256 - r16)) KiB"
d=$((p256 - p16)); d=${d#-}
[ "$d" -le 2048 ] || fail "peak memory grows with the file: $d KiB"
