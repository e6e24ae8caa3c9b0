#!/usr/bin/env bash
# Runs QuorvexHelper.exe from a console under Wine and checks what each command line prints and
# its exit status. Wine's output goes to files: its system processes may keep pipes open.
# Usage: helper_command_line_test.sh <QuorvexHelper.exe> <wine-run> <work directory>
set -u
exe=$1 wine_run=$2 work=$3
mkdir -p "$work"
failures=0

# expect <name> <expected status> <expected stderr, a Perl regular expression without its final LF> -- <args...>
expect() {
  local name=$1 status=$2 pattern=$3; shift 4
  "$wine_run" "$exe" "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null
  local actual=$?
  if [ "$actual" -ne "$status" ]; then
    echo "FAIL $name: exit status $actual, expected $status"; failures=$((failures + 1))
  elif [ -s "$work/$name.out" ]; then
    echo "FAIL $name: printed on stdout: $(cat "$work/$name.out")"; failures=$((failures + 1))
  elif ! grep -Pzq "\\A$pattern\n\\z" "$work/$name.err"; then
    echo "FAIL $name: stderr was:"; cat -A "$work/$name.err"; echo "expected: $pattern"; failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

expect no_arguments 1 'Error: the helper service was registered without an owner; reinstall it' --
expect malformed_sid 1 'Error: --owner-sid is not a SID' -- --owner-sid S-1-5-x
expect zero_pid 1 'Error: --owner-pid is not a process ID' -- install --owner-pid 0
expect install_shape 1 'Error: install takes exactly --owner-pid <pid>' -- install --pid 42
# The quoted argument reaches the helper as one argument, spaces and all.
expect quoted_command 1 'Error: unknown helper command: un install' -- "un install"
# A system DLL the helper needs cannot load (Wine told to load none by that name): every command
# fails at once with the failure report, before its command line is even read.
for dll in iphlpapi mswsock bcrypt; do
  WINEDLLOVERRIDES="mscoree,mshtml,$dll=" expect "${dll}_missing" 1 \
    "Error: load (?i:$dll\\.dll) from the system directory\n\nCaused by:\n    [^\n]+ \\(os error 126\\)" -- install --pid 42
done
# From a console the dispatcher cannot connect to the SCM (1063); Wine takes about 10 s to say so.
expect dispatcher 1 'Error: IO error in winapi call\n\nCaused by:\n    [^\n]+ \(os error 1063\)' -- --owner-sid S-1-5-18

[ "$failures" -eq 0 ]
