# Sourced after scripts/wine-prefix: drives the helper as an installed service under Wine.
# Every Wine command writes to a file, never to a pipe (see DESIGN notes on Wine's processes).
# The Windows build under test: ctest names its own; by hand, the shipped configuration's.
build=${QUORVEX_WINDOWS_BUILD:-$root/build/windows}
helper_exe=$build/src/QuorvexHelper.exe
relay_exe=$build/tests/support/test_relay.exe
probe_exe=$build/tests/support/process_probe.exe
service=QuorvexHelperService
runtime_key='HKLM\SYSTEM\CurrentControlSet\Services\QuorvexHelperService\Runtime'
scratch=$root/build/e2e
mkdir -p "$scratch"

# Runs a Wine command with its output in $scratch/out; prints nothing, returns its status.
wine_quiet() { wine "$@" >"$scratch/out" 2>&1 </dev/null; }

# The service's current state name (RUNNING, STOPPED, ...) or NONE when it is not installed.
service_state() {
  if ! wine_quiet sc query "$service"; then echo NONE; return; fi
  sed -n -E 's/.*STATE *: *[0-9]+ +([A-Z_]+).*/\1/p' "$scratch/out" | head -n 1
}

# Waits up to $2 seconds (default 20) for the service to reach state $1.
wait_for_state() {
  local want=$1 deadline=$((SECONDS + ${2:-20})) state
  while :; do
    state=$(service_state)
    [ "$state" = "$want" ] && return 0
    [ $SECONDS -ge $deadline ] && { echo "service state is $state, expected $want" >&2; return 1; }
    sleep 0.2
  done
}

# The Win32 exit code of the service's last stop.
service_exit_code() {
  wine_quiet sc query "$service"
  sed -n -E 's/.*WIN32_EXIT_CODE *: *([0-9]+).*/\1/p' "$scratch/out" | head -n 1
}

# The port published in the registry, or nothing.
published_port() {
  wine_quiet reg query "$runtime_key" /v Port || return 1
  local hex; hex=$(sed -n -E 's/.*Port +REG_DWORD +0x([0-9a-fA-F]+).*/\1/p' "$scratch/out" | tr -d '\r')
  [ -n "$hex" ] && echo $((16#$hex))
}

runtime_key_exists() { wine_quiet reg query "$runtime_key"; }

# Starts the relay (a Wine process of the owner's account); sets relay_port and relay_pid.
start_relay() {
  rm -f "$scratch/relay.port"
  wine "$relay_exe" "$(winepath -w "$scratch/relay.port" 2>/dev/null)" >"$scratch/relay.log" 2>&1 </dev/null &
  relay_job=$!
  local deadline=$((SECONDS + 20))
  until [ -s "$scratch/relay.port" ]; do
    [ $SECONDS -ge $deadline ] && { echo "the test relay did not start" >&2; return 1; }
    sleep 0.1
  done
  # Written in text mode by a Windows program: the line ends in CR LF.
  read -r relay_port relay_pid < <(tr -d '\r' <"$scratch/relay.port")
}

# Leaves nothing of a test behind: the service uninstalled and the relay stopped.
remove_service_and_relay() { wine_quiet "$helper_exe" uninstall; stop_relay; }

stop_relay() { [ -n "${relay_job:-}" ] && kill "$relay_job" 2>/dev/null; relay_job=; }

# Installs the service for the relay's account (start_relay first) and waits until it runs.
install_for_relay() {
  wine "$helper_exe" install --owner-pid "$relay_pid" >"$scratch/install.out" 2>&1 </dev/null \
    || { echo "install failed: $(cat "$scratch/install.out")" >&2; return 1; }
  wait_for_state RUNNING
}

# One request through the relay: sets status, body and headers.
request() { # request <curl options...> <path>
  local path=${*: -1}
  rm -f "$scratch/body" "$scratch/headers" # curl leaves them alone when no reply comes
  status=$(curl -s -m 20 -o "$scratch/body" -D "$scratch/headers" -w '%{http_code}' "${@:1:$#-1}" \
    "http://127.0.0.1:$relay_port$path")
  body=$(tr -d '\0' <"$scratch/body" 2>/dev/null); headers=$(tr -d '\r' <"$scratch/headers" 2>/dev/null)
}

# Stub Core scenarios are chosen by the first digits of the address (tests/support/stub_core.cpp).
session=0123456789abcdef0123456789abcdef
# The address as a JSON string's contents: every backslash escaped.
address() { printf '\\\\\\\\.\\\\pipe\\\\QuorvexCore_%s' "$1"; }
start_body() { printf '{"address":"%s","sessionId":"%s"}' "$(address "$1")" "${2:-$session}"; }
stop_body() { printf '{"sessionId":"%s"}' "$1"; }
start_core() { # start_core <32 digits> [curl options]: a start for $session
  local digits=$1; shift
  request "$@" -H 'Content-Type: application/json' --data "$(start_body "$digits")" /start
}
stop_core() { request -H 'Content-Type: application/json' --data "$(stop_body "$1")" /stop; }
logs_contain() { # logs_contain <text>: polls the logs for up to 10 s
  local deadline=$((SECONDS + 10))
  while [ $SECONDS -lt $deadline ]; do
    request /logs
    [[ $body == *"$1"* ]] && return 0
    sleep 0.2
  done
  printf '  logs do not contain %q:\n%s\n' "$1" "$body" >&2; return 1
}

# Linux process IDs of this prefix's Wine processes whose command line matches $1 (Wine shows
# each Windows command line as its process's); other prefixes on the machine are not ours.
prefix_pids() {
  local pid
  for pid in $(pgrep -f "$1"); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
# Stub Core processes running now.
core_count() { prefix_pids 'QuorvexCore\.exe' | wc -l; }
millis() { date +%s%3N; }
# Waits up to $1 ms for no stub Core to be left; prints the milliseconds it took, or nothing.
# (A process that has ended for Windows may take a moment longer to leave Linux.)
ms_until_no_core() {
  local begin; begin=$(millis)
  while [ "$(core_count)" -gt 0 ]; do
    [ $(($(millis) - begin)) -gt "$1" ] && return 1
    sleep 0.02
  done
  echo $(($(millis) - begin))
}
# The Linux process ID of the running service (its command line names the owner SID).
helper_unix_pid() { prefix_pids 'QuorvexHelper\.exe.*--owner-sid' | head -n 1; }
# Kills the running service from outside: kill_helper TerminateProcess|SIGKILL.
kill_helper() {
  if [ "$1" = TerminateProcess ]; then
    wine_quiet taskkill /F /PID "$(probe_field "$(probe_helper)" pid)"
  else
    kill -KILL "$(helper_unix_pid)"
  fi
}
# The service process's figures read from outside, as process_probe prints them.
probe_helper() { wine "$probe_exe" "$service" 2>&1 </dev/null | tr -d '\r'; }
# One field (handles, threads, private_usage, private_committed) of a probe line.
probe_field() { sed -n -E "s/(^|.* )$2=([0-9]+).*/\2/p" <<<"$1"; }

# Windows 10's KnownDLLs, and the DLLs that its loader maps from the KnownDLLs section with them:
# always taken from the system directory, never from the helper's folder.
known_dll() {
  case ${1,,} in
    advapi32|bcryptprimitives|cfgmgr32|clbcatq|combase|comdlg32|coml2|difxapi|gdi32|gdiplus|imagehlp|imm32|\
    kernel32|kernelbase|msctf|msvcrt|normaliz|nsi|ntdll|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shcore|\
    shell32|shlwapi|ucrtbase|user32|win32u|wldap32|wow64|ws2_32) return 0 ;;
  esac
  return 1
}

# Assertions of the scripted tests: check counts and reports.
passed=0; failed=0
check() { # check <description> <command...>
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what" >&2; return 1; fi
}
equals() { [ "$1" = "$2" ] || { printf '  got:      %q\n  expected: %q\n' "$1" "$2" >&2; return 1; }; }
matches() { [[ $1 =~ $2 ]] || { printf '  %q does not match %q\n' "$1" "$2" >&2; return 1; }; }
contains() { [[ $1 == *"$2"* ]] || { printf '  %q does not contain %q\n' "$1" "$2" >&2; return 1; }; }
