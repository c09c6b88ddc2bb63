#!/usr/bin/env bash
# Runs the agent in the console against the demo SQL server: the agent starts,
# creates its tables, writes "RazuRarevi Start", ticks every 500 s after a
# first tick at 3 s, takes today's full backup, and stops on Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/../.."
bin=build/bin
[ -x "$bin/MvxRazuRarevi" ] && [ -x "$bin/MvxDemoSqlServer" ] || {
  echo "build first: cmake --preset default && cmake --build --preset default" >&2; exit 1; }

work="$(mktemp -d)"
log="$work/sql.log"
"$bin/MvxDemoSqlServer" >"$log" 2>&1 &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; echo "SQL batches seen: $log"' EXIT
for _ in $(seq 50); do grep -q '^port ' "$log" && break; sleep 0.1; done
port="$(sed -n 's/^port //p' "$log")"
[ -n "$port" ] || { echo "demo SQL server did not start" >&2; exit 1; }

cp "$bin/MvxRazuRarevi" "$work/"
mkdir -p "$work/backups"
set_value() { "$bin/MvxRazuSettings" set "$1" "$2" "$3" --ini "$work/RazuRarevi.ini"; }
set_value DBServer Name "127.0.0.1,$port"
set_value DBServer ID quendr
set_value DBServer Password demo
set_value DBServer DBPath /
set_value RazuRarevi BKPath "$work/backups"
set_value RazuRarevi FullType 3
set_value RazuRarevi FullTime 00:00
set_value RazuRarevi TimerInt 500
set_value RazuRarevi Save 4
echo "agent folder: $work"
MVX_SUPPORT_HOST_PRIMARY=127.0.0.1 MVX_SUPPORT_HOST_SECONDARY=127.0.0.1 \
  "$work/MvxRazuRarevi" -console || true
