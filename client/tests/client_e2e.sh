#!/usr/bin/env bash
# QuorvexHelperCtl.exe and the C interface against the installed helper under Wine: every
# command, the C test program, each failure kind a user meets (no service, a stopped service, no
# port) with its own error and exit code, and the impostor: the service's process killed, its
# Port left behind, another process listening there. The tool and the library must refuse
# before they send a byte. The service's process gets the DACL Windows gives a LocalSystem
# process, so that the tool and the library are shown working as a standard user on Windows,
# who may not open that process. Expects the Wine prefix to be up.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-prefix"
source "$root/scripts/helper-service.sh"
ctl_exe=$build/src/QuorvexHelperCtl.exe
c_test_exe=$build/src/quorvex_c_api_test.exe
dacl_exe=$build/tests/support/process_dacl.exe

stop_follow() { [ -n "${follow_job:-}" ] && kill "$follow_job" 2>/dev/null; follow_job=; }
stop_impostor() { [ -n "${impostor_job:-}" ] && kill "$impostor_job" 2>/dev/null && wait "$impostor_job"; impostor_job=; }
trap 'stop_follow; stop_impostor; remove_service_and_relay' EXIT

# Runs the tool; sets out (standard output), err (standard error) and code (exit status).
ctl() {
  wine "$ctl_exe" "$@" >"$scratch/ctl.out" 2>"$scratch/ctl.err" </dev/null; code=$?
  out=$(tr -d '\r' <"$scratch/ctl.out"); err=$(tr -d '\r' <"$scratch/ctl.err")
}
# Runs the C test program with its arguments; its report goes to standard error on failure.
c_test() {
  wine "$c_test_exe" "$@" >"$scratch/c_test.out" 2>&1 </dev/null \
    || { tr -d '\r' <"$scratch/c_test.out" >&2; return 1; }
}
# A member of the JSON object on standard output, as Python prints it.
member() { python3 -c 'import json, sys; v = json.loads(sys.argv[1]); [v := v[k] for k in sys.argv[2:]]; print(v)' "$out" "$@"; }

wine_quiet "$helper_exe" uninstall
ctl status
check "no service: status exits 3" equals "$code" 3
check "no service: the report names it" contains "$err" "Error: the helper service QuorvexHelperService is not installed"
ctl status --json
check "no service: --json names the kind" equals "$(member error kind)" serviceNotInstalled
check "no service: --json says not installed" equals "$(member installed)" False
ctl doctor --json
check "no service: doctor --json names the kind" equals "$(member error kind)" serviceNotInstalled
check "no service: doctor --json lists the causes, as every command does" matches "$(member error causes)" '^\[.+\]$'

# Windows gives a LocalSystem service's process the SYSTEM token's default DACL: nothing for a
# standard user, nor for an unelevated administrator. Wine lets everyone in unless told.
deny_service_process() {
  ctl status --json
  wine "$dacl_exe" "$(member pid)" 'D:(A;;0x1fffff;;;SY)' >"$scratch/dacl.out" 2>&1 </dev/null
  matches "$(tr -d '\r' <"$scratch/dacl.out")" '^denied=5$'
}

start_relay || exit 1
install_for_relay || exit 1
port=$(published_port)
check "the service's process is denied to other processes, as on Windows" deny_service_process
ctl status
check "status exits 0" equals "$code" 0
check "status: running, with its port" contains "$out" $'state: running\nprocess: '
check "status: the published port" contains "$out" "port: $port"
check "status: listener verified" contains "$out" "listener: verified"
check "status: the helper's path and protocol" matches "$out" $'helper: .*QuorvexHelper\\.exe\nprotocol: 8$'

# A system DLL the library delay-loads that cannot come from the system directory, with the
# helper running (so that a call would reach the TCP table): the library fails with a status,
# and never takes the DLL from the host's folder (Wine told to accept only a non-Wine
# iphlpapi.dll, which only the planted one is).
host=$scratch/planted_host
rm -rf "$host" && mkdir -p "$host"
cp "$c_test_exe" "$build/src/QuorvexHelperClient.dll" "$host/"
cp "$build/tests/support/quorvex_planted.dll" "$host/iphlpapi.dll"
WINEDLLOVERRIDES="mscoree,mshtml=;iphlpapi=n" wine "$host/quorvex_c_api_test.exe" --refused QVX_ERROR_SYSTEM \
  >"$scratch/c_test.out" 2>&1 </dev/null
check "no system iphlpapi.dll: the C interface fails with QVX_ERROR_SYSTEM" \
  contains "$(tr -d '\r' <"$scratch/c_test.out")" "QVX_ERROR_SYSTEM: load IPHLPAPI.DLL from the system directory"
check "no system iphlpapi.dll: the one beside the host was not loaded" test ! -e "$host/iphlpapi.dll.loaded"
# The tool loads the DLLs it delay-loads before any command: without the system's bcrypt.dll it
# runs none, and the one beside it is never loaded.
tool_host=$scratch/planted_tool
rm -rf "$tool_host" && mkdir -p "$tool_host"
cp "$ctl_exe" "$tool_host/"
cp "$build/tests/support/quorvex_planted.dll" "$tool_host/bcrypt.dll"
WINEDLLOVERRIDES="mscoree,mshtml=;bcrypt=n" wine "$tool_host/QuorvexHelperCtl.exe" start \
  >"$scratch/ctl.out" 2>"$scratch/ctl.err" </dev/null
code=$? err=$(tr -d '\r' <"$scratch/ctl.err")
check "no system bcrypt.dll: the tool exits 1" equals "$code" 1
check "no system bcrypt.dll: the report names it" contains "$err" $'Error: load BCRYPT.dll from the system directory\n\nCaused by:'
check "no system bcrypt.dll: the one beside the tool was not loaded" test ! -e "$tool_host/bcrypt.dll.loaded"

ctl ping --json
check "ping --json: the protocol" equals "$(member protocol)" 8
ctl ping --core-sha256 "$(printf '%064d' 0)"
check "ping with another Core's digest exits 7" equals "$code" 7
check "ping with another Core's digest: the mismatch" contains "$err" $'Error: the helper refused to ping (409 coreSha256Mismatch)\n\nCaused by:\n    Core SHA256 mismatch'

# Two starts: the second replaces the first, whose session then stops nothing.
ctl start --json
first_session=$(member sessionId) first_address=$(member address)
check "start: a random session ID" matches "$first_session" '^[0-9a-f]{32}$'
check "start: a random pipe address" matches "$first_address" '^\\\\\.\\pipe\\QuorvexCore_[0-9a-f]{32}$'
check "start: the Core's process ID" matches "$(member pid)" '^[1-9][0-9]*$'
ctl logs
check "logs: the Core listens on the drawn address" contains "$out" "listening on $first_address"
wine "$ctl_exe" logs --follow >"$scratch/follow.out" 2>&1 </dev/null &
follow_job=$!
ctl start
second_session=$(sed -n 's/^session: //p' <<<"$out") second_address=$(sed -n 's/^address: //p' <<<"$out")
check "the two starts drew different sessions" test "$first_session" != "$second_session"
followed() { # polls the followed output for up to 10 s
  local deadline=$((SECONDS + 10))
  until grep -qF "listening on $second_address" "$scratch/follow.out"; do
    [ $SECONDS -ge $deadline ] && { cat "$scratch/follow.out" >&2; return 1; }
    sleep 0.2
  done
}
check "logs --follow prints the line of the second Core" followed
check "logs --follow printed the first Core's line once" equals "$(grep -cF "listening on $first_address" "$scratch/follow.out")" 1
stop_follow
ctl stop --session "$first_session"
check "stop of the replaced session exits 7" equals "$code" 7
check "stop of the replaced session: another session's Core runs" contains "$out" "reason: another session's Core runs"
ctl stop --session "$second_session" --json
check "stop --json: stopped" equals "$(member stopped)" True
ctl stop --session "$second_session"
check "stop again: no Core runs, exit 0" equals "$code:$out" "0:session: $second_session"$'\nstopped: no\nreason: no Core runs'
ctl stop --session 0123
check "a malformed session is a usage error" equals "$code" 2

ctl doctor
check "doctor: every check passes" equals "$code" 0
check "doctor: the helper is ready" contains "$out" "The helper is ready."

check "the C interface: connect, ping, start, logs, stop, strings freed, no inheritable socket" \
  c_test "$(sha256sum "$build/src/QuorvexCore.exe" | cut -d' ' -f1)"

# What the Core writes reaches a terminal only escaped, and the C interface's text past a NUL.
start_core 09000000000000000000000000000000
check "the stub Core's hostile lines are logged" logs_contain '2J'
ctl logs
check "logs: no control byte reaches the terminal" equals "$(LC_ALL=C tr -d '\n\t' <"$scratch/ctl.out" | LC_ALL=C tr -d '\040-\176\200-\377' | wc -c)" 0
check "logs: the control characters shown escaped" contains "$out" \
  'nul\x00in\x00the line'$'\n''\x1b[31mred\x1b[0m \x1b]0;title\x07 \x1bc A\x0dB \x7f \u009b2J'
ctl logs --json
check "logs --json: DEL and C1 escaped too" contains "$out" '"nul\u0000in\u0000the line","\u001b[31mred\u001b[0m \u001b]0;title\u0007 \u001bc A\rB \u007f \u009b2J"'
check "the C interface: each NUL of the logs is U+FFFD" c_test --logs-after-nul

# The largest logs the helper keeps are far above 1 MiB: 100 lines of up to 64 KiB.
big_lines() { python3 -c 'import json, sys; print(sum(len(l) == 65536 for l in json.load(open(sys.argv[1]))["lines"]))' "$scratch/ctl.out"; }
logged_after() { # logged_after <count>: polls until the logs hold <count> "after" lines
  local deadline=$((SECONDS + 20))
  until request /logs && [ "$(grep -cx after <<<"$body")" -ge "$1" ]; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}
for i in $(seq 1 20); do
  start_core 05000000000000000000000000000000
  logged_after "$i" || break
done
ctl logs --json
check "logs of more than 1 MiB: exit 0" equals "$code" 0
check "logs of more than 1 MiB: every 64 KiB line" equals "$(big_lines)" 20
check "logs of more than 1 MiB: over 1 MiB indeed" test "$(stat -c %s "$scratch/ctl.out")" -gt $((1 << 20))

# A Port value of the wrong type is no port, as any other bad value.
wine_quiet reg add "$runtime_key" /v Port /t REG_SZ /d 'not a port number' /f
ctl status
check "a text Port: status exits 4" equals "$code" 4
check "a text Port: the report names it" contains "$err" $'Caused by:\n    the Port value is not a port number'

# A fresh Port on which nothing listens: the listener check refuses before any connect.
wine_quiet reg add "$runtime_key" /v Port /t REG_DWORD /d 1 /f
ctl status
check "a port nobody listens on: status exits 5" equals "$code" 5
check "a port nobody listens on: the report names it" contains "$err" "nothing listens on 127.0.0.1:1"

# The key without its value is no port either.
wine_quiet reg delete "$runtime_key" /v Port /f
ctl status
check "no Port value: status exits 4" equals "$code" 4
check "no Port value: the report names it" contains "$err" "Error: the helper service has published no port"

# No port: the Runtime key removed under the running service.
wine_quiet reg delete "$runtime_key" /f
ctl status
check "no port: status exits 4" equals "$code" 4
check "no port: the report names it" contains "$err" "Error: the helper service has published no port"

# A stopped service; a follower of the logs, whose kept connection the stop closes, tries once
# more over a new one and ends with what it found of the service.
wine "$ctl_exe" logs --follow >"$scratch/follow.out" 2>"$scratch/follow.err" </dev/null &
follow_job=$!
shown_something() { # the follower has been answered once: its connection is kept
  local deadline=$((SECONDS + 10))
  until [ -s "$scratch/follow.out" ]; do [ $SECONDS -ge $deadline ] && return 1; sleep 0.1; done
}
check "logs --follow shows the logs before the stop" shown_something
wine_quiet sc stop "$service"
wait_for_state STOPPED
follow_ended() { # waits up to 20 s for the follower to end by itself
  local deadline=$((SECONDS + 20))
  while kill -0 "$follow_job" 2>/dev/null; do [ $SECONDS -ge $deadline ] && return 1; sleep 0.1; done
}
check "logs --follow ends once the service stopped" follow_ended
wait "$follow_job"; follow_code=$?; follow_job=
check "logs --follow: a stopped service exits 4" equals "$follow_code" 4
# Which of a stop's steps the retry meets is a matter of timing: each is one of exit code 4's.
check "logs --follow: the report names the stop's step it met" matches "$(tr -d '\r' <"$scratch/follow.err")" \
  "^Error: the helper service (is (stop pending|stopped), not running|has published no port|'s process [0-9]+ is not running)"
ctl ping
check "stopped: ping exits 4" equals "$code" 4
check "stopped: the report names the state" contains "$err" "Error: the helper service is stopped, not running"
ctl doctor
check "stopped: doctor names the first failed check" contains "$out" $'ok      the helper service is installed\nFAILED  the service is running'

# The impostor: the killed service's port taken by another listener, which must get no byte.
wine_quiet sc start "$service"
wait_for_state RUNNING
port=$(published_port)
kill_helper SIGKILL
python3 "$root/client/tests/impostor_listener.py" "$port" "$scratch/impostor.report" &
impostor_job=$!
listening() {
  local deadline=$((SECONDS + 10))
  until grep -q ready "$scratch/impostor.report" 2>/dev/null; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}
check "the impostor listens on the dead helper's port $port" listening
check "the service manager still reports the killed service running" equals "$(service_state)" RUNNING
for command in status ping doctor start; do
  ctl "$command"
  check "impostor: $command exits 4" equals "$code" 4
  check "impostor: $command names the dead process" matches "$err" "Error: the helper service's process [0-9]+ is not running"
done
check "impostor: the library's connect refuses" c_test --refused QVX_ERROR_SERVICE_PROCESS_GONE
tr -d '\r' <"$scratch/c_test.out" | head -n 1
stop_impostor
check "impostor: not one connection, not one byte" equals "$(cat "$scratch/impostor.report")" "connections=0 bytes=0"
# The same listener counts what does reach it: the check above can fail.
python3 "$root/client/tests/impostor_listener.py" "$port" "$scratch/impostor.report" &
impostor_job=$!
listening
curl -s -m 5 -o /dev/null "http://127.0.0.1:$port/ping"
stop_impostor
check "the impostor counts a client that does reach it" matches "$(cat "$scratch/impostor.report")" '^connections=1 bytes=[1-9]'
# Wine's service manager starts the killed service again: a new process, a new port, verified.
wine_quiet sc start "$service"
wait_for_state RUNNING
check "restarted: its process denied to others too" deny_service_process
ctl status
check "restarted: status exits 0 with a new process" equals "$code" 0

# The service registered for another account (LocalSystem's): its listener checks out, and the
# helper closes the connection without a byte.
wine_quiet "$helper_exe" uninstall
wine_quiet sc create "$service" binPath= "\"$(winepath -w "$helper_exe" 2>/dev/null)\" --owner-sid S-1-5-18"
wine_quiet sc start "$service"
wait_for_state RUNNING
ctl ping
check "another account's helper: ping exits 6" equals "$code" 6
check "another account's helper: the report says what to do" contains "$err" \
  "Error: the helper closed the connection without a reply: it serves another account than this process's (install it again for this user)"

echo "client_e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
