#!/usr/bin/env bash
# Runs QuorvexHelper.exe as the service under Wine's Service Control Manager and checks the
# status reports the SCM recorded. Wine's output goes to files: its system processes may keep
# pipes open.
# Usage: helper_service_host_test.sh <QuorvexHelper.exe> <wine-run> <work directory>
set -u
exe=$1 wine_run=$2 work=$3
mkdir -p "$work"
service=QuorvexHelperService
failures=0
failed() { echo "FAIL $*"; failures=$((failures + 1)); }

sc() { "$wine_run" sc "$@" >"$work/sc.out" 2>&1 </dev/null; }
field() { tr -d '\r' <"$work/sc.out" | sed -nE "s/^ *$1 *: *([0-9A-Za-z]+).*/\1/p"; }
# Polls every 100 ms, for up to 10 s, until the service's state is one of the given numbers.
wait_for_state() {
  local tries
  for tries in $(seq 100); do
    sc query "$service"
    for wanted in "$@"; do [ "$(field STATE)" = "$wanted" ] && return 0; done
    sleep 0.1
  done
  return 1
}
cleanup() { sc stop "$service"; wait_for_state 1; sc delete "$service"; }
trap cleanup EXIT

exe_w=$("$wine_run" winepath -w "$exe" 2>/dev/null | tr -d '\r')
sc delete "$service"

# A well-formed owner: the service reports starting, then running, and stops cleanly with exit
# code 0 on a stop control.
sc create "$service" binPath= "\"$exe_w\" --owner-sid S-1-5-18" || failed "create: $(cat "$work/sc.out")"
# Start arguments are ignored: the owner comes from the registered command line alone.
sc start "$service" --owner-sid S-1-5-x || failed "start: $(cat "$work/sc.out")"
if wait_for_state 4; then
  [ "$(field TYPE)" = 10 ] || failed "running: type $(field TYPE)"
  sc stop "$service" || failed "stop: $(cat "$work/sc.out")"
  if wait_for_state 1; then
    [ "$(field WIN32_EXIT_CODE)" = 0 ] || failed "stopped after running: exit code $(field WIN32_EXIT_CODE)"
    [ "$(field SERVICE_EXIT_CODE)" = 0 ] || failed "service-specific exit code $(field SERVICE_EXIT_CODE)"
    echo "ok   ran and stopped"
  else
    failed "did not stop: $(cat "$work/sc.out")"
  fi
else
  failed "service did not run: $(cat "$work/sc.out")"
fi

# A malformed owner: the process exits before it reaches the dispatcher, so the start fails.
sc delete "$service" || failed "delete: $(cat "$work/sc.out")"
sc create "$service" binPath= "\"$exe_w\" --owner-sid S-1-5-" || failed "create: $(cat "$work/sc.out")"
if sc start "$service"; then failed "start with a malformed owner succeeded"; else echo "ok   malformed owner"; fi
wait_for_state 1 || failed "malformed owner: not stopped: $(cat "$work/sc.out")"

[ "$failures" -eq 0 ]
