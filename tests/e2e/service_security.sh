#!/usr/bin/env bash
# What a local attacker could try against the installed helper under Wine, driven through the
# test relay like service_e2e.sh. Expects the Wine prefix to be up. One check per run:
#
#   service_security.sh core-child     a Core that starts a process at once: the helper killed,
#                                      neither the Core nor its child is left
#   service_security.sh config-files   C:\etc\gcrypt\* and C:\proc\sys\crypto\fips_enabled
#                                      present: a whole ping/start/stop never touches them, and
#                                      verification passes and fails as before
#   service_security.sh planted-dlls   a DLL planted beside the helper for every DLL a whole run
#                                      loads that is no KnownDLL, loaded native-first: none of
#                                      them is loaded, and the service works
#
# QUORVEX_TEST_HELPER names another QuorvexHelper.exe (with its QuorvexCore.exe beside it) to
# test instead of this build's.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-prefix"
source "$root/scripts/helper-service.sh"

planted_dll=$build/tests/support/quorvex_planted.dll
# The helper under test runs from a folder of its own, so that what is planted there reaches
# no other test.
home=$scratch/security
overrides='HKCU\Software\Wine\AppDefaults\QuorvexHelper.exe\DllOverrides'

# Leaves nothing behind: the service, the relay, the overrides, the copy and the planted files.
remove_planted_files() {
  local drive_c=$WINEPREFIX/drive_c
  rm -rf "$drive_c/etc/gcrypt" "$drive_c/proc/sys/crypto"
  rmdir "$drive_c/etc" "$drive_c/proc/sys" "$drive_c/proc" 2>/dev/null
}
cleanup() {
  remove_service_and_relay
  wine_quiet reg delete "$overrides" /f
  rm -rf "$home"
  remove_planted_files
}
trap cleanup EXIT

# Copies the helper under test and its Core into $home and makes it the one installed.
use_helper_copy() {
  local source_exe=${QUORVEX_TEST_HELPER:-$helper_exe}
  rm -rf "$home"; mkdir -p "$home"
  cp "$source_exe" "$(dirname "$source_exe")/QuorvexCore.exe" "$home/"
  helper_exe=$home/QuorvexHelper.exe
  digest=$(sha256sum "$home/QuorvexCore.exe" | cut -d' ' -f1)
}

# ping, start, logs and stop, each answered as the product answers them.
ping_start_stop() { # ping_start_stop <what>
  request "/ping?coreSha256=$digest"
  check "$1: ping 200" equals "$status" 200
  start_core 06000000000000000000000000000000
  check "$1: start 200" matches "$body" "^\\{\"sessionId\":\"$session\",\"pid\":[1-9][0-9]*\\}\$"
  check "$1: the Core's output reaches the logs" logs_contain 'command line: "'
  stop_core "$session"
  check "$1: stop 200" equals "$status" 200
  check "$1: stop" equals "$body" "{\"sessionId\":\"$session\",\"stopped\":true}"
}

# Wine names a new process's Linux process after its Windows command line a moment after it
# exists: polls for up to 10 s.
core_count_reaches() {
  local deadline=$((SECONDS + 10))
  until [ "$(core_count)" = "$1" ]; do
    [ $SECONDS -ge $deadline ] && { echo "  $(core_count) stub Cores run, expected $1" >&2; return 1; }
    sleep 0.05
  done
}

# Scenario 08 starts a second stub Core at once; the Job object must hold it as well.
security_core_child() {
  local how gone
  for how in TerminateProcess SIGKILL; do
    start_core 08000000000000000000000000000000
    check "$how: the Core starts" equals "$status" 200
    check "$how: it started its child" logs_contain 'child: '
    check "$how: the Core and its child run" core_count_reaches 2
    kill_helper $how
    gone=$(ms_until_no_core 5000)
    echo "$how: the Core and its child were gone ${gone:-(not within 5 s)} ms after the helper was killed"
    check "$how: neither the Core nor its child is left" test -n "$gone"
    wine_quiet sc start "$service"
    check "$how: the service starts again" wait_for_state RUNNING
  done
}

# The files libgcrypt reads, at the root of C: where any signed-in user may create them. The
# service is started under strace, which follows Wine's services.exe into the new process: every
# system call of the service's process that names a file is in the trace, from its first one.
security_config_files() {
  local drive_c=$WINEPREFIX/drive_c trace=$scratch/security.strace
  local files=(etc/gcrypt/fips_enabled etc/gcrypt/hwf.deny etc/gcrypt/random.conf proc/sys/crypto/fips_enabled)
  local f
  for f in "${files[@]}"; do mkdir -p "$drive_c/$(dirname "$f")"; echo 1 >"$drive_c/$f"; done
  local services; services=$(prefix_pids 'services\.exe' | head -n 1)
  check "Wine's services.exe is found" test -n "$services"
  : >"$scratch/strace.err"
  strace -f -o "$trace" -e trace=file -p "$services" 2>"$scratch/strace.err" &
  local tracer=$!
  local deadline=$((SECONDS + 10))
  until grep -q attached "$scratch/strace.err" || [ $SECONDS -ge $deadline ]; do sleep 0.05; done
  check "strace is attached to services.exe" grep -q attached "$scratch/strace.err"
  wine_quiet sc start "$service"
  check "the service starts" wait_for_state RUNNING
  ping_start_stop "with the files present"
  # Verification fails as before: a Core of other bytes is refused with the same reply.
  printf 'x' >>"$home/QuorvexCore.exe"
  start_core 00000000000000000000000000000000
  check "a changed Core: 409" equals "$status" 409
  check "a changed Core: the reply" equals "$body" \
    '{"code":"coreVerificationFailed","message":"Core executable SHA256 mismatch"}'
  kill "$tracer"; wait "$tracer" 2>/dev/null
  check "the trace saw the service open its Core" grep -q 'QuorvexCore\.exe' "$trace"
  local touched; touched=$(grep -E 'etc/gcrypt|proc/sys/crypto' "$trace")
  [ -n "$touched" ] && printf '%s\n' "$touched" | head -n 8 >&2
  check "none of the files is touched" test -z "$touched"
}

# The DLLs the loader would look for beside the helper before its first instruction: those of
# its import table that are no KnownDLLs.
direct_plantable_dlls() {
  x86_64-w64-mingw32-objdump -p "$1" | sed -n -E 's/^[[:space:]]*DLL Name: ([^ ]+)\.[dD][lL][lL][[:space:]]*$/\1/p' |
    tr 'A-Z' 'a-z' | sort -u | while read -r name; do known_dll "$name" || echo "$name"; done
}

# Every DLL that the helper's processes load in a whole run (install, start, ping, start of the
# Core, logs, stop, uninstall) and that is no KnownDLL on Windows 10, as Wine's loader trace
# showed them. Regenerate with: tests/e2e/loader_trace.sh (it takes Wine down: wine_up after).
PLANTED_DLLS=(bcrypt dnsapi iphlpapi mswsock)

security_planted_dlls() {
  local direct; direct=$(direct_plantable_dlls "$helper_exe")
  [ -n "$direct" ] && echo "imported directly: $(echo $direct)" >&2
  check "the helper imports only KnownDLLs directly" test -z "$direct"
  echo "planted beside the helper: ${PLANTED_DLLS[*]}"
  local name
  for name in "${PLANTED_DLLS[@]}"; do
    cp "$planted_dll" "$home/$name.dll"
    wine_quiet reg add "$overrides" /v "$name" /d native,builtin /f
  done
  install_for_relay || { failed=$((failed + 1)); echo "FAILED: the service does not start" >&2; }
  ping_start_stop "with planted DLLs"
  # The marker is named as the loader named the DLL, in any case.
  for name in "${PLANTED_DLLS[@]}"; do
    check "the planted $name.dll was not loaded" test -z "$(find "$home" -iname "$name.dll.loaded")"
  done
}

start_relay || exit 1
use_helper_copy
case ${1:-} in
  core-child) install_for_relay || exit 1; security_core_child ;;
  config-files) install_for_relay || exit 1; wine_quiet sc stop "$service"; wait_for_state STOPPED; security_config_files ;;
  planted-dlls) security_planted_dlls ;;
  *) echo "usage: service_security.sh core-child|config-files|planted-dlls" >&2; exit 2 ;;
esac

echo "service_security $1: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
