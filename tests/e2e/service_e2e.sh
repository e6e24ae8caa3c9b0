#!/usr/bin/env bash
# The installed helper under Wine, driven by real clients through the test relay: install for
# the relay's account, both protocols, the API end to end with the stub Core, the refusal of a
# foreign process, stop and removal. Expects the Wine prefix to be up (scripts/test does that).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-prefix"
source "$root/scripts/helper-service.sh"
source "$root/tests/e2e/reply_record.sh"

trap remove_service_and_relay EXIT

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
nghttp -n -v "http://127.0.0.1:$relay_port/nowhere" >"$scratch/nghttp.out" 2>&1
check "nghttp: served over HTTP/2" grep -q ':status: 404' "$scratch/nghttp.out"
check "curl keep-alive: two requests, one connection" bash -c \
  "curl -sv -m 20 http://127.0.0.1:$relay_port/a http://127.0.0.1:$relay_port/b -o /dev/null -o /dev/null 2>&1 | grep -q 'Re-using existing connection'"

digest=$(sha256sum "$build/src/QuorvexCore.exe" | cut -d' ' -f1)
request "/ping?coreSha256=$digest"
check "ping with the Core digest: 200" equals "$status" 200
check "ping answers with the helper's path" contains "$body" 'QuorvexHelper.exe'
check "ping carries the protocol header" contains "$headers" "x-quorvex-helper-protocol: 8"

# Refusals and error replies over both protocols, each also checked against the API document.
request --http2-prior-knowledge "/ping?coreSha256=$digest"
check "HTTP/2: ping with the Core digest: 200" equals "$status" 200
request "/ping?coreSha256=${digest^^}"
check "ping with the digest in uppercase: 409" equals "$status" 409
request --http2-prior-knowledge /ping
check "HTTP/2: ping without a query: 400" equals "$status" 400
request -H 'Origin: http://127.0.0.1' /logs
check "a browser origin: 403" equals "$status" 403
request --http2-prior-knowledge -H 'Origin: null' -H 'Content-Type: application/json' --data '{}' /stop
check "HTTP/2: a browser origin: 403" equals "$status" 403
request -H 'Host: example.com' /ping
check "a foreign host: 403" equals "$status" 403
request -H $'Origin: \xff' /nowhere
check "a byte above ASCII in the origin: 400" equals "$status" 400
request -H 'Content-Type: application/json' --data '{"sessionId":"0123"}' /stop
check "stop with a short session ID: 400" equals "$status" 400
request --http2-prior-knowledge -H 'Content-Type: application/json' --data '{}' /start
check "HTTP/2: start with an empty object: 400" equals "$status" 400
request -H 'Content-Type: text/plain' --data "$(start_body 06000000000000000000000000000000)" /start
check "start with a text body: 500" equals "$status" 500
request -X POST --http2-prior-knowledge /nowhere
check "HTTP/2: POST to an unknown path: 404" equals "$status" 404

start_core 06000000000000000000000000000000 --http2-prior-knowledge
check "start over HTTP/2: 200" equals "$status" 200
check "start echoes the session and names the Core's process" matches "$body" "^\\{\"sessionId\":\"$session\",\"pid\":[1-9][0-9]*\\}\$"
check "the Core's standard error reaches the logs" logs_contain 'command line: "'
check "the Core runs in the helper's directory" logs_contain 'directory: '
check "a Core process is running" test "$(core_count)" -gt 0
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
core_gone() { test -n "$(ms_until_no_core 3000)"; }
check "the service's stop ended the Core" core_gone
check "stopped with exit code 0" equals "$(service_exit_code)" 0
runtime_key_absent() { ! runtime_key_exists; }
check "the Runtime key is gone after the stop" runtime_key_absent

check "uninstall exits 0" wine_quiet "$helper_exe" uninstall
check "the service is gone" equals "$(service_state)" NONE

check "every reply matches docs/openapi.yaml" check_replies

echo "service_e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
