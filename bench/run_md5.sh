#!/usr/bin/env bash
# MD5 benchmark: a Release native build without sanitizers (its own tree,
# $TIDE_BUILD_ROOT/native-release), then bench/md5_bench.cpp on a 256 MiB
# file against coreutils md5sum in the same run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${TIDE_BUILD_ROOT:-$here/build}/native-release
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
[ -f "$out/CMakeCache.txt" ] || cmake -S "$here" -B "$out" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release -DTIDE_SANITIZE=OFF -DTIDE_ALLOW_TEST_KEY=ON >/dev/null
cmake --build "$out" --target md5_bench -j "$(nproc)" | grep -E -v '^\[[0-9/ ]+\] ' || true
scratch=$(mktemp -d /tmp/md5bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
"$out/md5_bench" "$scratch"
