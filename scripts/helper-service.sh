# Sourced after scripts/wine-prefix: drives the helper as an installed service under Wine.
# Every Wine command writes to a file, never to a pipe (see DESIGN notes on Wine's processes).
build=$root/build/windows
helper_exe=$build/src/QuorvexHelper.exe
relay_exe=$build/tests/support/test_relay.exe
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
  read -r relay_port relay_pid < <(tr -d '\r' <"$scratch/relay.port")
}

stop_relay() { [ -n "${relay_job:-}" ] && kill "$relay_job" 2>/dev/null; relay_job=; }
