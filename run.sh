#!/usr/bin/env bash
# Builds the agent and runs it in the foreground (Ctrl+C stops it).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure_packages.sh "${MVX_BUILD_PACKAGES[@]}"
scripts/ensure_odbc_driver.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
exec build/bin/MvxRazuRarevi -console "$@"
