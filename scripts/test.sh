#!/usr/bin/env bash
# Sets everything up, builds the three trees and runs every test (native
# unit tests, then the Windows tests under Wine). Pass ctest options to
# narrow the run, e.g. scripts/test.sh -L unit or -R wine.testini.
# Ends with which build each Windows test ran (or why it was skipped) and
# one line "tests: N passed, N failed, N skipped".
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
bash "$here/scripts/build.sh"
cd "${TIDE_BUILD_ROOT:-$here/build}/native"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
set +e
ctest --output-on-failure -j2 "$@" | tee "$out"
status=${PIPESTATUS[0]}
set -e

bash "$here/scripts/test_summary.sh" "$out" Testing/Temporary/LastTest.log
exit "$status"
