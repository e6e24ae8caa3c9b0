#!/usr/bin/env bash
# The installed helper under Wine, driven by real clients through the test relay: install for
# the relay's account, both protocols, the API end to end with the stub Core, the refusal of a
# foreign process, stop and removal. Expects the Wine prefix to be up (scripts/test does that).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-prefix"
source "$root/scripts/helper-service.sh"

passed=0; failed=0
check() { # check <description> <command...>
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what" >&2; fi
}
equals() { [ "$1" = "$2" ] || { printf '  got:      %q\n  expected: %q\n' "$1" "$2" >&2; return 1; }; }
matches() { [[ $1 =~ $2 ]] || { printf '  %q does not match %q\n' "$1" "$2" >&2; return 1; }; }
contains() { [[ $1 == *"$2"* ]] || { printf '  %q does not contain %q\n' "$1" "$2" >&2; return 1; }; }

cleanup() {
  wine_quiet "$helper_exe" uninstall
  stop_relay
}
trap cleanup EXIT

# One request through the relay: sets status, body and headers.
request() { # request <curl options...> <path>
  local path=${*: -1}
  status=$(curl -s -m 20 -o "$scratch/body" -D "$scratch/headers" -w '%{http_code}' "${@:1:$#-1}" \
    "http://127.0.0.1:$relay_port$path")
  body=$(cat "$scratch/body"); headers=$(tr -d '\r' <"$scratch/headers")
}

start_relay || exit 1
check "install exits 0 and prints nothing" bash -c \
  "wine '$helper_exe' install --owner-pid $relay_pid >'$scratch/install.out' 2>&1 </dev/null && [ ! -s '$scratch/install.out' ]"
check "the service runs after install" wait_for_state RUNNING
port=$(published_port)
check "a non-zero port is published" test "${port:-0}" -gt 0

request /nowhere
check "HTTP/1.1: unknown path gives 404" equals "$status" 404
check "HTTP/1.1: the 404 body" equals "$body" '{"code":"notFound","message":"Helper endpoint not found"}'
check "HTTP/1.1: JSON content type" contains "$headers" "Content-Type: application/json"
request --http2-prior-knowledge /nowhere
check "HTTP/2: unknown path gives 404" equals "$status" 404
check "HTTP/2: the 404 body" equals "$body" '{"code":"notFound","message":"Helper endpoint not found"}'
nghttp -n -s "http://127.0.0.1:$relay_port/nowhere" >"$scratch/nghttp.out" 2>&1
check "nghttp: served over HTTP/2" grep -q '404' "$scratch/nghttp.out"
check "curl keep-alive: two requests, one connection" bash -c \
  "curl -sv -m 20 http://127.0.0.1:$relay_port/a http://127.0.0.1:$relay_port/b -o /dev/null -o /dev/null 2>&1 | grep -q 'Re-using existing connection'"

digest=$(sha256sum "$build/src/QuorvexCore.exe" | cut -d' ' -f1)
request "/ping?coreSha256=$digest"
check "ping with the Core digest: 200" equals "$status" 200
check "ping answers with the helper's path" contains "$body" 'QuorvexHelper.exe'
check "ping carries the protocol header" contains "$headers" "x-quorvex-helper-protocol: 8"

# Stub Core scenarios are chosen by the first digits of the address (tests/support/stub_core.cpp).
session=0123456789abcdef0123456789abcdef
# The address as a JSON string's contents: every backslash escaped.
address() { printf '\\\\\\\\.\\\\pipe\\\\QuorvexCore_%s' "$1"; }
start_core() { # start_core <32 digits> [curl options]
  local digits=$1; shift
  request "$@" -H 'Content-Type: application/json' --data "{\"address\":\"$(address "$digits")\",\"sessionId\":\"$session\"}" /start
}
stop_core() { request -H 'Content-Type: application/json' --data "{\"sessionId\":\"$1\"}" /stop; }
logs_contain() { # logs_contain <text>: polls the logs for up to 10 s
  local deadline=$((SECONDS + 10))
  while [ $SECONDS -lt $deadline ]; do
    request /logs
    [[ $body == *"$1"* ]] && return 0
    sleep 0.2
  done
  printf '  logs do not contain %q:\n%s\n' "$1" "$body" >&2; return 1
}

start_core 06000000000000000000000000000000 --http2-prior-knowledge
check "start over HTTP/2: 200" equals "$status" 200
check "start echoes the session and names the Core's process" matches "$body" "^\\{\"sessionId\":\"$session\",\"pid\":[1-9][0-9]*\\}\$"
check "the Core's standard error reaches the logs" logs_contain 'command line: "'
check "the Core runs in the helper's directory" logs_contain 'directory: '
check "a Core process is running" pgrep -f QuorvexCore.exe >/dev/null
stop_core fedcba9876543210fedcba9876543210
check "stop with another session: 409" equals "$status" 409
check "stop with another session: the reply" equals "$body" '{"sessionId":"fedcba9876543210fedcba9876543210","stopped":false,"reason":"sessionMismatch"}'
stop_core "$session"
check "stop: the Core is stopped" equals "$body" "{\"sessionId\":\"$session\",\"stopped\":true}"

start_core 03c00000050000000000000000000000
check "a crashing Core starts" equals "$status" 200
check "its exit is logged" logs_contain 'Core exited on its own: exit code: 0xc0000005'
stop_core "$session"
check "stop after the crash: notRunning" equals "$body" "{\"sessionId\":\"$session\",\"stopped\":false,\"reason\":\"notRunning\"}"

start_core 00000000000000000000000000000000
check "a Core that runs until killed starts" equals "$status" 200

# A Linux process is not a process of the owner's account: closed without a byte.
curl -s -m 10 -o /dev/null "http://127.0.0.1:$port/logs"; direct=$?
# 52: closed with no reply; 56: reset, since the helper closes without reading the request.
no_reply() { [ "$direct" = 52 ] || [ "$direct" = 56 ] || { echo "  curl exit $direct" >&2; return 1; }; }
check "a foreign process gets its connection closed with no reply, also while a Core runs" no_reply

wine_quiet sc stop "$service"
check "a stop control stops the service" wait_for_state STOPPED
core_gone() { # Wine's process may linger a moment after the Core was terminated
  local deadline=$((SECONDS + 3))
  while pgrep -f QuorvexCore.exe >/dev/null; do [ $SECONDS -ge $deadline ] && return 1; sleep 0.1; done
}
check "the service's stop ended the Core" core_gone
check "stopped with exit code 0" equals "$(service_exit_code)" 0
runtime_key_absent() { ! runtime_key_exists; }
check "the Runtime key is gone after the stop" runtime_key_absent

check "uninstall exits 0" wine_quiet "$helper_exe" uninstall
check "the service is gone" equals "$(service_state)" NONE

echo "service_e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
