#!/usr/bin/env bash
# Sets everything up, builds the three trees and runs every test (native
# unit tests, then the Windows tests under Wine). Pass ctest options to
# narrow the run, e.g. scripts/test.sh -L unit or -R wine.testini.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
bash "$here/scripts/build.sh"
cd "${TIDE_BUILD_ROOT:-$here/build}/native"
ctest --output-on-failure -j2 "$@"
