#!/usr/bin/env bash
# Installs what is missing, builds, and starts the main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build
echo "Built. The server program is not part of this tree yet; run scripts/test.sh for the tests."
