#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the kelm-host demo
# against librendo on the embedded simulated host. Extra arguments go to
# kelm-host instead of "demo" (for example: scripts/demo.sh errmsg 29 --lang de).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo
export KELM_INSTALL_ROOT=${KELM_INSTALL_ROOT:-$top/build/install-root}
if [ $# -eq 0 ]; then set -- demo; fi
exec "$top/build/tools/kelm-host/kelm-host" "$@"
