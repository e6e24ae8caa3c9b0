#!/usr/bin/env bash
# Prints the DLLs that QuorvexHelper.exe's own processes load in a whole run under Wine and that
# are no KnownDLLs on Windows 10, from Wine's loader trace: install, start, ping, start of the
# Core, logs, stop, uninstall. That is the list the planted-DLL check of service_security.sh
# plants; the KnownDLLs that the trace shows are named on standard error.
#
# Takes the project's Wine down and brings it up traced (the service inherits WINEDEBUG from
# Wine's services.exe, which inherits it from the command that starts it), and takes it down
# again at the end. Bring it up again with wine_up before other tests.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-prefix"
source "$root/scripts/helper-service.sh"

trace=$scratch/loader-trace
rm -rf "$trace"; mkdir -p "$trace"
wine_log=$trace/wine.log
export WINEDEBUG=+pid,+loaddll
trap 'remove_service_and_relay; wine_down' EXIT
wine_down
wine_up

start_relay || exit 1
wine "$helper_exe" install --owner-pid "$relay_pid" >"$trace/install.log" 2>&1 </dev/null ||
  { echo "install failed" >&2; exit 1; }
wait_for_state RUNNING || exit 1
digest=$(sha256sum "$(dirname "$helper_exe")/QuorvexCore.exe" | cut -d' ' -f1)
request "/ping?coreSha256=$digest"; [ "$status" = 200 ] || { echo "ping: $status" >&2; exit 1; }
start_core 06000000000000000000000000000000; [ "$status" = 200 ] || { echo "start: $status" >&2; exit 1; }
logs_contain 'command line: "' || exit 1
stop_core "$session"; [ "$status" = 200 ] || { echo "stop: $status" >&2; exit 1; }
wine "$helper_exe" uninstall >"$trace/uninstall.log" 2>&1 </dev/null || { echo "uninstall failed" >&2; exit 1; }
wait_for_state NONE || exit 1
trap - EXIT
stop_relay
wine_down

# Each trace line begins with the Wine process and thread IDs; a helper process is one whose
# trace names QuorvexHelper.exe as loaded.
cat "$trace"/*.log | tr -d '\r' | awk -F: '
  /:trace:loaddll:/ && /Loaded L"/ {
    pid = $1
    path = $0; sub(/.*Loaded L"/, "", path); sub(/".*/, "", path)
    n = split(path, parts, /\\/); name = tolower(parts[n])
    if (name == "quorvexhelper.exe") helper[pid] = 1
    loaded[pid, name] = 1
  }
  END { for (key in loaded) { split(key, k, SUBSEP); if (k[1] in helper) print k[2] } }' |
  grep -v '\.exe$' | sed 's/\.dll$//' | sort -u >"$trace/loaded"
known=()
while read -r name; do
  if known_dll "$name"; then known+=("$name"); else echo "$name"; fi
done <"$trace/loaded"
echo "KnownDLLs also loaded: ${known[*]}" >&2
