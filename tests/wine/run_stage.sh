#!/usr/bin/env bash
# The Wine stage: the Windows test executables, then the agent end to end
# through Wine's service manager, in a fresh Wine prefix with the Korean code
# page. Wine is torn down on every exit path; a watchdog in its own session
# tears it down too if this script is killed or runs past its time limit.
# Usage: tests/wine/run_stage.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
set -euo pipefail
win_bin="$(cd "$1/bin" && pwd)"
native_bin="$(cd "$2/bin" && pwd)"
limit="${MVX_WINE_STAGE_LIMIT:-600}"
started_at="$(date +%s)"

work="$(mktemp -d /tmp/mvx-wine.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset LC_ALL LC_CTYPE LANGUAGE DISPLAY WAYLAND_DISPLAY
touch "$work/pids"

teardown() {
  set +e
  wineserver -k >/dev/null 2>&1
  while read -r pid; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done <"$work/pids"
  rm -rf "$work"
}
# shellcheck disable=SC2154  # status is set inside the trap
trap 'status=$?; teardown; exit $status' EXIT
trap 'exit 130' INT TERM

# The watchdog waits for this script's PID, ends it after the time limit, then
# tears down what it left behind. It lives in its own session so that killing
# this script's process group does not take it along.
# shellcheck disable=SC2016  # the watchdog expands its own arguments
setsid bash -c '
  runner=$1 limit=$2 work=$3
  deadline=$(( $(date +%s) + limit ))
  while kill -0 "$runner" 2>/dev/null; do
    if [ "$(date +%s)" -ge "$deadline" ]; then
      echo "wine stage: time limit of ${limit}s reached, stopping it" >&2
      kill -TERM "$runner" 2>/dev/null; sleep 10; kill -KILL "$runner" 2>/dev/null
    fi
    sleep 2
  done
  [ -d "$work" ] || exit 0
  WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1
  while read -r pid; do kill "$pid" 2>/dev/null; done <"$work/pids"
  rm -rf "$work"
' wine-watchdog "$$" "$limit" "$work" </dev/null >/dev/null 2>&1 &

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
# Waits up to $1 seconds for the command to succeed.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 5))); do "$@" && return 0; sleep 0.2; done
  return 1
}
in_file() { grep -qF -- "$2" "$1" 2>/dev/null; }
# Wine output never goes to a pipe: a pipe keeps Wine's helpers waiting on it.
wine_run() { wine "$@" </dev/null >>"$work/wine.log" 2>&1; }
ctl() { wine "$win_bin/MvxServiceCtl.exe" "$@" </dev/null >"$work/ctl.out" 2>>"$work/wine.log"; }
windows_path() { echo "Z:${1//\//\\}"; }

# A private Korean locale (a fresh machine has only C and POSIX): Wine takes its ANSI code
# page, 949, from it, and the services inherit it from the boot.
mkdir -p "$work/locale"
localedef -i ko_KR -f UTF-8 "$work/locale/ko_KR.UTF-8" >/dev/null 2>&1 || true
[ -f "$work/locale/ko_KR.UTF-8/LC_CTYPE" ] || { echo "cannot build the ko_KR.UTF-8 locale"; exit 1; }
export LOCPATH="$work/locale" LANG=ko_KR.UTF-8

# Native servers first, so that their ports can go into the services' environment.
"$native_bin/MvxDemoSqlServer" >"$work/sql.log" 2>&1 &
echo $! >>"$work/pids"
wait_for 10 in_file "$work/sql.log" "port " || { echo "scripted SQL server did not start"; exit 1; }
sql_port="$(sed -n 's/^port //p' "$work/sql.log")"

# The support server listens on the product's line port 1126 on a loopback address of its own,
# so that parallel runs do not meet, and on a free HTTP port the agent is pointed at.
mkdir -p "$work/support"
cp "$win_bin/MvxTestService.exe" "$work/support/Mvx_RidOdadez.exe"
printf 'stand-in library' >"$work/support/dbexpmss.dll"
support_host=""
for _ in 1 2 3 4 5; do
  host="127.0.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 2))"
  : >"$work/support.log"
  "$native_bin/MvxTestSupportServer" "$host" 0 1126 "$work/support" >"$work/support.log" 2>&1 &
  pid=$!
  echo "$pid" >>"$work/pids"
  if wait_for 10 in_file "$work/support.log" "ready"; then support_host="$host"; break; fi
  kill "$pid" 2>/dev/null || true
done
[ -n "$support_host" ] || { cat "$work/support.log"; echo "support server did not start"; exit 1; }
support_port="$(sed -n 's/^ready //p' "$work/support.log")"

echo "== wine: booting a fresh prefix (LANG=$LANG)"
wineboot -i </dev/null >"$work/wine.log" 2>&1
wineserver -w
# Wine's service manager gives services the system environment of the registry, read once at
# its first service start, so the values go into the registry file while Wine is down.
{
  echo
  printf '%s\n' '[System\\CurrentControlSet\\Control\\Session Manager\\Environment] 0'
  for pair in "MVX_SUPPORT_HOST_PRIMARY=$support_host" "MVX_SUPPORT_HOST_SECONDARY=$support_host" \
    "MVX_SUPPORT_HTTP_PORT=$support_port" "MVX_EVENT_LOG_FILE=$(windows_path "$work/eventlog.txt")"; do
    value="${pair#*=}"
    echo "\"${pair%%=*}\"=\"${value//\\/\\\\}\""
  done
} >>"$WINEPREFIX/system.reg"
wineserver -p </dev/null >>"$work/wine.log" 2>&1
wineboot </dev/null >>"$work/wine.log" 2>&1
ok "prefix ready after $(($(date +%s) - started_at)) s"

echo "== wine: unit tests as Windows executables"
for exe in "$win_bin"/*_tests.exe; do
  name="$(basename "$exe" .exe)"
  if timeout 300 wine "$exe" --gtest_brief=1 </dev/null >"$work/$name.log" 2>&1; then
    ok "$name: $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$work/$name.log")"
  else
    tail -n 60 "$work/$name.log"
    fail "$name"
  fi
done

echo "== wine: the agent through the service manager"
agent_dir="$WINEPREFIX/drive_c/Morvex/RazuRarevi"
mkdir -p "$agent_dir/backups"
cp "$win_bin/MvxRazuRarevi.exe" "$win_bin/MvxRazuSettings.exe" "$agent_dir/"
agent='C:\Morvex\RazuRarevi\MvxRazuRarevi.exe'
settings() { wine_run 'C:\Morvex\RazuRarevi\MvxRazuSettings.exe' set "$@"; }
settings DBServer Name "127.0.0.1,$sql_port"
settings DBServer ID quendr
settings DBServer Password demo
settings DBServer DBPath C
settings RazuRarevi BKPath 'C:\Morvex\RazuRarevi\backups'
settings RazuRarevi FullType 3
settings RazuRarevi FullTime 00:00
settings RazuRarevi TimerInt 500
settings RazuRarevi Save 4
if in_file "$agent_dir/RazuRarevi.ini" "[DBServer]"; then ok "settings written by MvxRazuSettings.exe"
else fail "MvxRazuSettings.exe wrote no settings"; fi

service=fMvxBackupMain
sql_has() { in_file "$work/sql.log" "$1"; }
# A text log with no deletion date: the first tick deletes it and writes the date into the
# settings file, which keeps its modification time (the -check below must not warn).
printf '[RazuRarevi Log]\r\n' >"$agent_dir/RazuRarevi.Log"
deletion_date_key=028172075067017223044094067058005099133150  # "AutoBackPgmLog" scrambled
if wine_run "$agent" -install -silent && ctl query "$service"; then
  ok "-install -silent created the service ($(tr -d '\r' <"$work/ctl.out"))"
else
  fail "-install -silent"
fi
if ctl start "$service" && ctl wait "$service" RUNNING 60; then ok "started: RUNNING"
else fail "service did not reach RUNNING"; fi
if wait_for 60 sql_has "RazuRarevi Start"; then ok "scripted SQL server reached, \"RazuRarevi Start\" written"
else fail "no \"RazuRarevi Start\""; fi
if sql_has "T0246"; then ok "service tables created"; else fail "no service tables"; fi
if wait_for 60 sql_has "BACKUP DATABASE"; then ok "full backup on the first tick: $(grep -m1 -o 'BACKUP DATABASE [^ ]*' "$work/sql.log")"
else fail "no full backup on the first tick"; fi

companion_exe="$agent_dir/Mvx_RidOdadez.exe"
if wait_for 60 in_file "$work/support.log" "GET /RazuRarevi/Mvx_RidOdadez.exe 200"; then
  ok "companion downloaded from the loopback support server"
else fail "companion not downloaded"; fi
if wait_for 60 sql_has "RidOdadez Start"; then ok "\"RidOdadez Start\" recorded"
else fail "no \"RidOdadez Start\""; fi
if ctl query RidOdadezMain && wait_for 30 in_file "$companion_exe.events" "start"; then
  ok "companion service installed and running ($(tr -d '\r' <"$work/ctl.out"))"
else fail "companion service not installed or never started"; fi

batches_before="$(grep -c '^\[sql' "$work/sql.log")"
if ctl pause "$service" && ctl wait "$service" PAUSED 30; then ok "paused through ControlService"
else fail "pause"; fi
if ctl continue "$service" && ctl wait "$service" RUNNING 30; then ok "continued through ControlService"
else fail "continue"; fi
if [ "$(grep -c '^\[sql' "$work/sql.log")" = "$batches_before" ]; then ok "pause and continue changed only the reported state"
else fail "pause or continue sent SQL"; fi

if grep -q "^$deletion_date_key=" "$agent_dir/RazuRarevi.ini"; then ok "the first tick deleted the text log and noted the date in the settings"
else fail "the first tick noted no text-log deletion in the settings"; fi
# -check reads the running agent's start from the service manager (its process's creation time);
# settings written after it are not in force yet, the agent's own writes do not count.
wine "$agent" -check </dev/null >"$work/check-running.out" 2>>"$work/wine.log" || true
if grep -q '^OK   Agent: fMvxBackupMain running' "$work/check-running.out"; then ok "-check: the agent runs"
else fail "-check while running: $(grep Agent "$work/check-running.out" | tr -d '\r')"; fi
sleep 1
settings RazuRarevi Save 4
wine "$agent" -check </dev/null >"$work/check-running.out" 2>>"$work/wine.log" || true
if grep -q '^WARN Agent: .*settings changed since the agent started at' "$work/check-running.out"; then
  ok "-check: settings written after the agent started"
else fail "-check after a settings change: $(grep Agent "$work/check-running.out" | tr -d '\r')"; fi

if ctl stop "$service" && ctl wait "$service" STOPPED 60; then ok "stopped"
else fail "stop"; fi
if wait_for 10 sql_has "RazuRarevi Stop"; then ok "\"RazuRarevi Stop\" written"
else fail "no \"RazuRarevi Stop\""; fi
if ctl query "$service" && [ "$(tr -d '\r' <"$work/ctl.out")" = "STOPPED 0 0" ]; then ok "exit codes 0 0"
else fail "stopped with $(cat "$work/ctl.out")"; fi
if [ -s "$work/eventlog.txt" ]; then fail "event log entries in a healthy run: $(cat "$work/eventlog.txt")"
else ok "no event log entries"; fi

echo "== wine: a log backup through the service"
# With log backups on, the first tick's full backup backs the log up instead of switching the
# database to SIMPLE (the demo server writes no files, so the full is due again).
settings RazuRarevi LogBackup 5
sql_lines_before="$(wc -l <"$work/sql.log")"
new_sql() { tail -n +"$((sql_lines_before + 1))" "$work/sql.log"; }
log_backup="BACKUP LOG [TremoLandix] TO DISK = N'C:\\Morvex\\RazuRarevi\\backups\\TremoLandix("
has_log_backup() { new_sql | grep -F -- "$log_backup" | grep -qE '\([0-9]{8}-[0-9]{6}\)\.trn'"' WITH INIT, NOFORMAT$"; }
if ctl start "$service" && ctl wait "$service" RUNNING 60 && wait_for 60 has_log_backup; then
  ok "log backup: $(new_sql | grep -m1 -oF -- "BACKUP LOG [TremoLandix]") into $(new_sql | grep -m1 -oE 'TremoLandix\([0-9-]+\)\.trn')"
else new_sql | tail -n 20; fail "no log backup through the service"; fi
if ! new_sql | grep -q "SET RECOVERY SIMPLE"; then ok "the full pass kept the log chain (no switch to SIMPLE)"
else fail "the full pass switched to SIMPLE with log backups on"; fi
# The stop's row is listed before the read-only commands below count the batches.
stop_listed() { new_sql | grep -q "RazuRarevi Stop"; }
if ctl stop "$service" && ctl wait "$service" STOPPED 60 && wait_for 10 stop_listed; then ok "stopped"
else fail "stop after the log backup"; fi
settings RazuRarevi LogBackup 0

echo "== wine: operator commands -check and -plan"
# Both read only: the settings file stays as it is and the server gets only reads.
cp "$agent_dir/RazuRarevi.ini" "$work/RazuRarevi.ini.before"
sql_lines_before="$(wc -l <"$work/sql.log")"
check_code=0
wine "$agent" -check </dev/null >"$work/check.out" 2>>"$work/wine.log" || check_code=$?
check_summary="$(head -n1 "$work/check.out" | tr -d '\r')"
# The agent was stopped above, and the scripted server writes no backup files: CRITICAL, with
# the agent's state read from the service manager and perfdata after the summary.
case "$check_code:$check_summary" in
  "2:RAZURAREVI CRITICAL - "*"Agent"*" | "*"'free space'="*) ok "-check exit $check_code: $check_summary" ;;
  *) tr -d '\r' <"$work/check.out"; fail "-check exit $check_code: $check_summary" ;;
esac
if grep -q '^FAIL Agent: fMvxBackupMain stopped' "$work/check.out"; then ok "-check: the agent is stopped"
else fail "-check: $(grep Agent "$work/check.out" | tr -d '\r')"; fi
if grep -q '^OK   SQL Server: .*version' "$work/check.out" && grep -q 'Backup folder: .* is a folder for the server' "$work/check.out"; then
  ok "-check reached the scripted server and saw the backup folder"
else fail "-check: $(tr -d '\r' <"$work/check.out")"; fi
plan_code=0
wine "$agent" -plan --days 2 </dev/null >"$work/plan.out" 2>>"$work/wine.log" || plan_code=$?
if [ "$plan_code" = 0 ] && grep -q '^  full backup: due from 00:00' "$work/plan.out"; then
  ok "-plan: $(sed -n 1p "$work/plan.out" | tr -d '\r')"
else tr -d '\r' <"$work/plan.out"; fail "-plan exit $plan_code"; fi
plan_code=0
wine "$agent" -plan --days 40 </dev/null >>"$work/wine.log" 2>&1 || plan_code=$?
if [ "$plan_code" = 2 ]; then ok "-plan --days 40: usage error, exit 2"; else fail "-plan --days 40"; fi
# The scripted server lists batches as it polls: wait for this -check's last one to be listed
# (an earlier -check sent the same).
check_listed() { tail -n +"$((sql_lines_before + 1))" "$work/sql.log" | grep -q "EXEC master.dbo.xp_fileexist"; }
wait_for 30 check_listed || true
tail -n +"$((sql_lines_before + 1))" "$work/sql.log" | grep '^\[sql' >"$work/check.sql" || true
if cmp -s "$agent_dir/RazuRarevi.ini" "$work/RazuRarevi.ini.before" && [ -s "$work/check.sql" ] &&
  ! grep -qvE '\] (select |EXEC master\.dbo\.xp_fileexist |SET LOCK_TIMEOUT 5000$)' "$work/check.sql"; then
  ok "the settings file unchanged, only reads sent ($(wc -l <"$work/check.sql") batches)"
else fail "-check or -plan wrote: $(head -n 20 "$work/check.sql")"; fi

# A start that fails: the settings file cannot be read. The service manager hears a
# service-specific error and the event log (through its stand-in file) the reason.
mv "$agent_dir/RazuRarevi.ini" "$work/RazuRarevi.ini.saved"
mkdir "$agent_dir/RazuRarevi.ini"
if ctl start "$service" && ctl wait "$service" STOPPED 60 && ctl query "$service" &&
  grep -q '^STOPPED 1066 [1-9]' "$work/ctl.out" &&
  wait_for 10 in_file "$work/eventlog.txt" "fMvxBackupMain: Service failed on start: Unable to read"; then
  ok "a failed start ends STOPPED with $(tr -d '\r' <"$work/ctl.out"), event log: $(head -n1 "$work/eventlog.txt" | tr -d '\r')"
else
  fail "failed start: $(tr -d '\r' <"$work/ctl.out"), event log: $(cat "$work/eventlog.txt" 2>/dev/null)"
fi
rmdir "$agent_dir/RazuRarevi.ini"
mv "$work/RazuRarevi.ini.saved" "$agent_dir/RazuRarevi.ini"

# A start whose purge of T0245 never gets its answer (a lock held by another session): the start
# gives up on it after the statement bound and reaches RUNNING within 60 s, then a stop works.
MVX_DEMO_HANG='^delete from T0245' "$native_bin/MvxDemoSqlServer" >"$work/sql-hang.log" 2>&1 &
echo $! >>"$work/pids"
if wait_for 10 in_file "$work/sql-hang.log" "port "; then
  cp "$agent_dir/RazuRarevi.ini" "$work/RazuRarevi.ini.hang"
  settings DBServer Name "127.0.0.1,$(sed -n 's/^port //p' "$work/sql-hang.log")"
  hang_begun="$(date +%s)"
  if ctl start "$service" && ctl wait "$service" RUNNING 60 &&
    in_file "$work/sql-hang.log" "delete from T0245" && wait_for 10 in_file "$work/sql-hang.log" "RazuRarevi Start"; then
    ok "a start whose purge never answers: RUNNING after $(($(date +%s) - hang_begun)) s"
  else fail "a start whose purge never answers: $(ctl query "$service"; tr -d '\r' <"$work/ctl.out")"; fi
  hang_begun="$(date +%s)"
  wine_run net stop "$service" || true
  if ctl wait "$service" STOPPED 60; then ok "then net stop: STOPPED after $(($(date +%s) - hang_begun)) s"
  else fail "net stop after a start whose purge never answers"; fi
  cp "$work/RazuRarevi.ini.hang" "$agent_dir/RazuRarevi.ini"
else fail "the hanging scripted SQL server did not start"; fi

echo "== wine: -restore without --run on a Korean folder"
mkdir -p "$agent_dir/백업"
touch "$agent_dir/백업/"{'금고DB(20240301).ful','금고DB(20240308).ful','금고DB(20240312).inc','금고DB2(20240313).ful'}
restore_ini='C:\Morvex\RazuRarevi\restore.ini'
settings RazuRarevi BKPath 'C:\Morvex\RazuRarevi\백업' --ini "$restore_ini"
settings DBServer Name "127.0.0.1,$sql_port" --ini "$restore_ini"
settings DBServer ID quendr --ini "$restore_ini"
settings DBServer Password demo --ini "$restore_ini"
sql_lines_before="$(wc -l <"$work/sql.log")"
# Without --run only the headers are read: every batch is a RESTORE HEADERONLY.
only_headers() {
  [ "$(tail -n +"$((sql_lines_before + 1))" "$work/sql.log" | grep '^\[sql' | grep -vc 'RESTORE HEADERONLY')" = 0 ]
}
restore_status=0
wine "$agent" -restore 금고DB --date 2024-03-15 --ini "$restore_ini" </dev/null >"$work/restore.out" 2>>"$work/wine.log" ||
  restore_status=$?
from='RESTORE DATABASE [금고DB] FROM DISK = N'"'"'C:\Morvex\RazuRarevi\백업\금고DB'
if [ "$restore_status" = 0 ] && in_file "$work/restore.out" "$from(20240308).ful' WITH NORECOVERY, STATS = 5" &&
  in_file "$work/restore.out" "$from(20240312).inc' WITH RECOVERY, STATS = 5" &&
  wait_for 10 sql_has "RESTORE HEADERONLY FROM DISK = N'C:\Morvex\RazuRarevi\백업\금고DB(20240312).inc'" &&
  only_headers; then ok "-restore read the headers, showed the chain and its statements, restored nothing"
else cat "$work/restore.out"; fail "-restore without --run (exit $restore_status)"; fi

echo "== wine: -restore to a moment without --run"
# A full, its differential and two log backups whose LSNs chain (the headers are the scripted
# server's); the moment lies inside the second log backup.
touch "$agent_dir/백업/"{'장부DB(20240310).ful','장부DB(20240311).inc','장부DB(20240311-171500).trn','장부DB(20240311-173000).trn'}
sql_lines_before="$(wc -l <"$work/sql.log")"
restore_status=0
wine "$agent" -restore 장부DB --at "2024-03-11 17:20" --ini "$restore_ini" </dev/null >"$work/restore-at.out" 2>>"$work/wine.log" ||
  restore_status=$?
log_from='RESTORE LOG [장부DB] FROM DISK = N'"'"'C:\Morvex\RazuRarevi\백업\장부DB'
last_statement="$(tr -d '\r' <"$work/restore-at.out" | sed -n '/^Statements/,$p' | grep '^  RESTORE ' | tail -n 1)"
if [ "$restore_status" = 0 ] &&
  [ "$last_statement" = "  $log_from(20240311-173000).trn' WITH STOPAT = N'2024-03-11T17:20:00', RECOVERY" ] &&
  in_file "$work/restore-at.out" "$log_from(20240311-171500).trn' WITH NORECOVERY" &&
  wait_for 10 sql_has "RESTORE HEADERONLY FROM DISK = N'C:\Morvex\RazuRarevi\백업\장부DB(20240311-173000).trn'" &&
  only_headers; then ok "-restore --at: the statements end with $(echo "$last_statement" | grep -o 'WITH STOPAT.*'), nothing restored"
else tr -d '\r' <"$work/restore-at.out"; fail "-restore --at without --run (exit $restore_status)"; fi

if wine_run "$agent" -uninstall -silent && ! ctl query "$service"; then ok "-uninstall -silent removed the service"
else fail "-uninstall -silent"; fi

# ---------------------------------------------------------------------------------------------
echo "== wine: the MSI package"
# Built here from the Windows build, with a second package of the next version for the upgrade.
win_build="$(dirname "$win_bin")"
msi="$("$(dirname "$0")/../../scripts/package.sh" msi "$win_build" "$work/msi")"
next_msi="$("$(dirname "$0")/../../scripts/package.sh" msi "$win_build" "$work/msi-next" --next)"
version="$(cat "$win_build/packaging/version")" next_version="$(cat "$win_build/packaging/next-version")"
pf_dir="$WINEPREFIX/drive_c/Program Files/Morvex/RazuRarevi"
pf_agent='C:\Program Files\Morvex\RazuRarevi\MvxRazuRarevi.exe'
kept_backup="$pf_dir/backups/demo($(date +%Y%m%d)).ful"
starts() { grep -c "RazuRarevi Start" "$work/sql.log" || true; }
more_starts() { [ "$(starts)" -gt "$1" ]; }
service_gone() { ! ctl query "$service"; }
msiexec_ok() { wine_run msiexec "$1" "$(windows_path "$2")" /qn; }
config() { ctl config "$service" && tr -d '\r' <"$work/ctl.out" | tr '\n' ' '; }
state() { ctl query "$service" && cut -d' ' -f1 <"$work/ctl.out" | tr -d '\r'; }
agent_says() {
  wine "$pf_agent" -version </dev/null >"$work/version.out" 2>>"$work/wine.log" || true
  in_file "$work/version.out" "$1"
}
# The entry -install makes, to compare with the package's: all but the path.
wine_run "$agent" -install -silent && config | sed 's/ path .*//' >"$work/install-config"
wine_run "$agent" -uninstall -silent
# The administrator's settings, made before the install (the package ships none), with the
# backup folder inside the program folder: the uninstall must leave both alone.
mkdir -p "$pf_dir/backups" && cp "$agent_dir/RazuRarevi.ini" "$pf_dir/" && echo backup >"$kept_backup"
wine_run 'C:\Morvex\RazuRarevi\MvxRazuSettings.exe' set RazuRarevi BKPath \
  'C:\Program Files\Morvex\RazuRarevi\backups' --ini 'C:\Program Files\Morvex\RazuRarevi\RazuRarevi.ini'
# Readable by all, as a copy made by hand may be: the agent's start must close it.
chmod 0644 "$pf_dir/RazuRarevi.ini"
starts_before="$(starts)"
if msiexec_ok /i "$msi"; then ok "msiexec /i $(basename "$msi") /qn: exit 0"; else fail "msiexec /i"; fi
if [ -f "$pf_dir/MvxRazuRarevi.exe" ] && [ -f "$pf_dir/MvxRazuSettings.exe" ]; then ok "programs in Program Files"
else fail "programs missing in Program Files"; fi
# The installer's ServiceInstall table makes the entry; Wine's installer stores its path
# without the quotes Windows keeps, which is Wine's deviation.
entry="$(config)"
case "$entry" in
  "$(cat "$work/install-config") path \"$pf_agent\" " | "$(cat "$work/install-config") path $pf_agent ")
    ok "service entry as -install makes it: $entry" ;;
  *) fail "service entry: $entry; -install makes: $(cat "$work/install-config")" ;;
esac
if ctl wait "$service" RUNNING 60 && wait_for 60 more_starts "$starts_before"; then ok "RUNNING, \"RazuRarevi Start\" written"
else fail "installed service not running or no \"RazuRarevi Start\""; fi
# The start closed the settings file to others (Wine keeps no ACLs: others' access is the mode's
# last digit), with one line in the text log.
narrowed="Settings file limited to SYSTEM and Administrators: C:\\Program Files\\Morvex\\RazuRarevi\\RazuRarevi.ini"
if [ "$(grep -c -F "$narrowed" "$pf_dir/RazuRarevi.Log" 2>/dev/null)" = 1 ] && [ "$(stat -c %a "$pf_dir/RazuRarevi.ini")" = 750 ]; then
  ok "the start closed the settings file to others, one line in the text log"
else fail "settings file $(stat -c %a "$pf_dir/RazuRarevi.ini"), text log: $(tr -d '\r' <"$pf_dir/RazuRarevi.Log" 2>/dev/null | tail -n 3)"; fi

# A deployment tool's second run and "Change" find nothing to do; a repair puts the files back.
starts_before="$(starts)" rerun_started="$(date +%s)"
if msiexec_ok /i "$msi" && [ $(($(date +%s) - rerun_started)) -lt 30 ] && [ "$(state)" = RUNNING ] &&
  [ "$(starts)" = "$starts_before" ]; then ok "the same package again: exit 0 in $(($(date +%s) - rerun_started)) s, the agent kept running"
else fail "the same package again: $(($(date +%s) - rerun_started)) s, state $(state)"; fi
# A repair as "msiexec /fa" asks for it (Wine's msiexec refuses /f itself).
if wine_run msiexec /i "$(windows_path "$msi")" REINSTALL=ALL REINSTALLMODE=a /qn && ctl wait "$service" RUNNING 60 &&
  [ -f "$pf_dir/MvxRazuRarevi.exe" ]; then ok "repair (REINSTALL=ALL REINSTALLMODE=a): exit 0, RUNNING"
else fail "repair: state $(state)"; fi

cp "$pf_dir/RazuRarevi.ini" "$work/settings-before-upgrade"
starts_before="$(starts)"
if msiexec_ok /i "$next_msi"; then ok "upgrade to $next_version: exit 0"; else fail "upgrade"; fi
if cmp -s "$pf_dir/RazuRarevi.ini" "$work/settings-before-upgrade"; then ok "upgrade kept the settings file byte for byte"
else fail "upgrade changed the settings file"; fi
if ctl wait "$service" RUNNING 60 && wait_for 60 more_starts "$starts_before"; then ok "upgrade restarted the service"
else fail "service not restarted by the upgrade"; fi
if agent_says "$next_version"; then ok "the installed agent says $next_version"
else fail "installed agent says: $(cat "$work/version.out")"; fi
# The older build differs from the installed one only in the fourth number.
if ! msiexec_ok /i "$msi" && agent_says "$next_version" && [ "$(state)" = RUNNING ]; then
  ok "$version over $next_version refused, the agent kept running"
else fail "downgrade to $version: state $(state), agent says $(cat "$work/version.out")"; fi

[ -f "$pf_dir/RazuRarevi.Log" ] || printf '[RazuRarevi Log]\r\n' >"$pf_dir/RazuRarevi.Log"
if msiexec_ok /x "$next_msi"; then ok "msiexec /x /qn: exit 0"; else fail "msiexec /x"; fi
if wait_for 30 service_gone; then ok "service removed"; else fail "service still there"; fi
if [ ! -e "$pf_dir/MvxRazuRarevi.exe" ] && [ ! -e "$pf_dir/MvxRazuSettings.exe" ]; then ok "programs removed"
else fail "programs left: $(find "$pf_dir" -maxdepth 1 -type f -printf "%f ")"; fi
if [ -f "$pf_dir/RazuRarevi.ini" ] && [ -f "$pf_dir/RazuRarevi.Log" ] && [ -f "$kept_backup" ]; then
  ok "settings file, text log and backup kept"
else fail "uninstall took: $(find "$pf_dir" -printf "%P ")"; fi

# An administrator's Disabled survives an upgrade: the entry stays, nothing starts it.
msiexec_ok /i "$msi" && ctl wait "$service" RUNNING 60 && ctl stop "$service" && ctl wait "$service" STOPPED 60 &&
  ctl disable "$service" || fail "could not disable the installed service"
disabled_before="$(config)"
# Who installs by hand runs -install over the entry: it succeeds and changes nothing.
if wine_run "$pf_agent" -install -silent && [ "$(config)" = "$disabled_before" ]; then ok "-install -silent over the entry: exit 0, entry unchanged"
else fail "-install -silent over the entry: $(config)"; fi
if echo "$disabled_before" | grep -q " start 4 " && msiexec_ok /i "$next_msi" && agent_says "$next_version" &&
  [ "$(config)" = "$disabled_before" ] && [ "$(state)" = STOPPED ]; then ok "upgrade of a Disabled service: still disabled and stopped"
else fail "upgrade of a Disabled service: before $disabled_before, after $(config), state $(state)"; fi
msiexec_ok /x "$next_msi" || fail "msiexec /x of the disabled service"

# A start that fails during the install (the settings file cannot be read) undoes the install;
# the next install then succeeds.
mv "$pf_dir/RazuRarevi.ini" "$work/RazuRarevi.ini.saved" && mkdir "$pf_dir/RazuRarevi.ini"
if ! msiexec_ok /i "$msi" && service_gone && [ ! -e "$pf_dir/MvxRazuRarevi.exe" ]; then ok "a failed service start: install undone, no service entry left"
else fail "failed start: service $(state), programs $(find "$pf_dir" -maxdepth 1 -name '*.exe' -printf "%f ")"; fi
rmdir "$pf_dir/RazuRarevi.ini" && mv "$work/RazuRarevi.ini.saved" "$pf_dir/RazuRarevi.ini"
if msiexec_ok /i "$msi" && ctl wait "$service" RUNNING 60; then ok "the next install: exit 0, RUNNING"
else fail "install after the failed one: state $(state)"; fi
if msiexec_ok /x "$msi" && wait_for 30 service_gone; then ok "removed again"; else fail "second removal"; fi
# ---------------------------------------------------------------------------------------------

if [ "$failures" -ne 0 ]; then
  echo "--- SQL batches"; tail -n 40 "$work/sql.log"
  echo "--- support server"; tail -n 20 "$work/support.log"
  echo "--- wine"; tail -n 40 "$work/wine.log"
  echo "--- agent log files"; tail -n 20 "$agent_dir"/*.log 2>/dev/null || true
  echo "wine stage: $failures check(s) failed"
  exit 1
fi
echo "wine stage passed in $(($(date +%s) - started_at)) s"
