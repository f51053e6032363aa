#!/usr/bin/env bash
# Configures and builds the three trees under build/: native (tests, fakes,
# sanitizers), win32 (the product, i686) and win64 (x86_64, for fast tests).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${TIDE_BUILD_ROOT:-$here/build}
jobs=$(nproc)
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

# These trees are for tests and the demo, which sign their releases with the
# public test key: they ask for it by name (a release build must not).
configure() {  # dir, extra args...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$here" -B "$dir" "${gen[@]}" -DTIDE_ALLOW_TEST_KEY=ON "$@" >/dev/null
  elif ! grep -q '^TIDE_ALLOW_TEST_KEY:BOOL=ON$' "$dir/CMakeCache.txt"; then
    cmake -S "$here" -B "$dir" -DTIDE_ALLOW_TEST_KEY=ON >/dev/null
  fi
}
configure "$out/win32" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
configure "$out/win64" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
configure "$out/native" -DCMAKE_BUILD_TYPE=Debug \
  -DTIDE_WIN32_BUILD_DIR="$out/win32" -DTIDE_WIN64_BUILD_DIR="$out/win64"
for t in native win32 win64; do
  echo "build: $t"
  # The build's own status, not the filter's (under pipefail a "|| true"
  # here would hide a failed build).
  status=0
  cmake --build "$out/$t" -j "$jobs" | { grep -E -v '^\[[0-9/ ]+\] ' || true; } || status=$?
  [ "$status" = 0 ] || { echo "build: $t failed"; exit 1; }
done
