#!/bin/bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UBSan) in
# build/fuzz and runs each for a fixed number of executions from its seed
# corpus (tests/fuzz/corpus/<target>), printing per target the executions,
# the seconds they took and the crashes. A crash input is kept under build/fuzz/artifacts/<target>/.
#
#   bash tests/fuzz/run.sh [RUNS] [TARGET...]     (RUNS default 200000)
#
# Exit status 1 when any target crashed or a property broke.
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=${TIDE_BUILD_ROOT:-$src/build}/fuzz
runs=${1:-200000}
shift || true
cxx=${TIDE_FUZZ_CXX:-clang++-14}
cc=${TIDE_FUZZ_CC:-clang-14}

# clang and its libFuzzer runtime, from Debian, when this machine lacks them
# (the two main commands do not need them).
if [ -z "${TIDE_FUZZ_CXX:-}" ] && ! dpkg-query -W -f='${Status}\n' clang-14 libclang-rt-14-dev 2>/dev/null | grep -c 'install ok installed' | grep -qx 2; then
    echo "fuzz: installing clang-14 and libclang-rt-14-dev"
    for i in 1 2 3; do
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang-14 libclang-rt-14-dev >/dev/null 2>&1 && break
        [ "$i" = 3 ] && { echo "fuzz: clang-14 could not be installed"; exit 2; }
        apt-get update -qq >/dev/null 2>&1 || true
        sleep $((i * 5))
    done
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in "$here"/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

cmake -S "$src" -B "$build" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIDE_FUZZ=ON -DTIDE_ALLOW_TEST_KEY=ON >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 2; }
cmake --build "$build" -j2 --target "${targets[@]}" >"$build.build.log" 2>&1 ||
    { tail -40 "$build.build.log"; exit 2; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for t in "${targets[@]}"; do
    seeds=$here/corpus/${t#fuzz_}
    work=$build/corpus/$t
    art=$build/artifacts/$t
    log=$build/$t.log
    rm -rf "$work" "$art"
    mkdir -p "$work" "$art"
    "$build/tests/fuzz/$t" -runs="$runs" -seed=1 -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$art/" "$work" "$seeds" >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
    secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
    crashes=$(find "$art" -type f | wc -l)
    [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ] && crashes=1
    printf '%-26s %9s executions  %5ss  %d crashes  (corpus %d seeds -> %d inputs)\n' \
        "$t" "${execs:-0}" "${secs:--}" "$crashes" "$(ls "$seeds" | wc -l)" "$(ls "$work" | wc -l)"
    if [ "$crashes" -ne 0 ]; then
        failed=1
        grep -m4 -E 'after the rewrite|property broken|ERROR: |runtime error|SUMMARY' "$log" | sed 's/^/    /'
        find "$art" -type f | sed 's/^/    input: /'
    fi
done
exit $failed
