#!/usr/bin/env bash
# Registers the FreeTDS ODBC driver with unixODBC when the package left it out.
set -euo pipefail
if ! odbcinst -q -d -n FreeTDS >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini >/dev/null
fi
