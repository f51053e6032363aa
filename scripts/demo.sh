#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
bash "$here/scripts/build.sh"
exec bash "$here/tools/demo/run.sh"
