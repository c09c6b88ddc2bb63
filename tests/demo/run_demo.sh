#!/usr/bin/env bash
# Runs the agent in the console against the demo SQL server: the agent starts,
# creates its tables, writes "RazuRarevi Start", ticks every 500 s after a
# first tick at 3 s, starts its stopped companion service (a scripted systemctl
# stands in for systemd), takes today's full backup, and stops on Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/../.."
bin=build/bin
[ -x "$bin/MvxRazuRarevi" ] && [ -x "$bin/MvxDemoSqlServer" ] && [ -x "$bin/MvxScriptedSystemctl" ] || {
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
# The companion is installed and stopped; the machine's own systemd is never touched.
mkdir -p "$work/units"
printf 'LoadState=loaded\nActiveState=inactive\nOnStart=activating,active\n' >"$work/systemctl.state"
echo "agent folder: $work"
MVX_SUPPORT_HOST_PRIMARY=127.0.0.1 MVX_SUPPORT_HOST_SECONDARY=127.0.0.1 \
  MVX_SYSTEMCTL="$PWD/$bin/MvxScriptedSystemctl" MVX_SCRIPTED_SYSTEMCTL_STATE="$work/systemctl.state" \
  MVX_SYSTEMD_UNIT_DIR="$work/units" \
  "$work/MvxRazuRarevi" -console || true
