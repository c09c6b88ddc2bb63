#!/usr/bin/env bash
# Builds the agent and runs it in the foreground (Ctrl+C stops it).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure_packages.sh "${MVX_BUILD_PACKAGES[@]}"
scripts/ensure_odbc_driver.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
if [ -x build/bin/MvxRazuRarevi ]; then
  exec build/bin/MvxRazuRarevi -console "$@"
fi
# Until the service host lands, show the settings the agent would load.
exec build/bin/MvxRazuSettings show "$@"
