#!/usr/bin/env bash
# Faults of the installed helper under Wine, driven through the test relay like service_e2e.sh.
# Expects the Wine prefix to be up (scripts/test does that). One fault per run:
#
#   service_faults.sh killed             the service process killed from outside while a Core runs
#   service_faults.sh concurrent-starts  50 starts with distinct sessions on 50 connections at once
#   service_faults.sh stop-during-start  a stop control while a start request is in progress
#   service_faults.sh cycles <n>         n start/stop cycles; handles and private memory at the end
#                                        against those after the first 10 cycles (prints the figures)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-prefix"
source "$root/scripts/helper-service.sh"

trap remove_service_and_relay EXIT

within_one_second() { [ -n "$1" ] && [ "$1" -le 1000 ]; }

# The Core must not outlive the helper, however the helper ends: Job object kill-on-close.
fault_killed() {
  local how gone
  for how in TerminateProcess SIGKILL; do
    start_core 00000000000000000000000000000000
    check "$how: the Core starts" equals "$status" 200
    check "$how: one Core runs" equals "$(core_count)" 1
    kill_helper $how
    gone=$(ms_until_no_core 5000)
    echo "$how: the Core was gone ${gone:-(not within 5 s)} ms after the helper was killed"
    check "$how: the Core is gone within one second" within_one_second "$gone"
    helper_gone() { [ -z "$(helper_unix_pid)" ]; }
    check "$how: the helper process is gone" helper_gone
    # Wine's SCM does not notice that the process died (Windows' would report it stopped), but
    # it starts the service again: a fresh process publishes a fresh port and serves.
    wine_quiet sc start "$service"
    check "$how: the service starts again" wait_for_state RUNNING
    request /logs
    check "$how: it serves again" equals "$status" 200
  done
}

# Cores ended by a later start have ended for Windows; their Linux processes may take a moment
# longer to leave.
one_core_left() {
  local begin; begin=$(millis)
  while [ "$(core_count)" -gt 1 ] && [ $(($(millis) - begin)) -le 5000 ]; do sleep 0.02; done
  equals "$(core_count)" 1
}

# Every start is answered; the last Core to start is the only one left.
fault_concurrent_starts() {
  local count=50 i jobs=() replies=$scratch/concurrent
  rm -rf "$replies"; mkdir -p "$replies"
  for i in $(seq $count); do
    curl -s -m 120 -o "$replies/$i.body" -w '%{http_code}' -H 'Content-Type: application/json' \
      --data "$(start_body 00000000000000000000000000000000 "$(printf '%032x' "$i")")" \
      "http://127.0.0.1:$relay_port/start" >"$replies/$i.status" &
    jobs+=($!)
  done
  wait "${jobs[@]}"
  local answered=0 started=0 unanswered=() unstarted=()
  for i in $(seq $count); do
    if [ "$(cat "$replies/$i.status")" != 000 ]; then answered=$((answered + 1)); else unanswered+=("$i"); fi
    if [[ $(cat "$replies/$i.body") == "{\"sessionId\":\"$(printf '%032x' "$i")\",\"pid\":"* ]]; then
      started=$((started + 1))
    else
      unstarted+=("$i: $(cat "$replies/$i.status") $(cat "$replies/$i.body")")
    fi
  done
  check "every start gets a reply" equals "$answered" $count || echo "  no reply to starts ${unanswered[*]}" >&2
  check "every start reports its own session started" equals "$started" $count ||
    printf '  not started: %s\n' "${unstarted[@]}" >&2
  check "exactly one stub Core runs" one_core_left
  local stopped=0 session_id unexpected=()
  for i in $(seq $count); do
    session_id=$(printf '%032x' "$i")
    stop_core "$session_id"
    if [[ $body == *'"stopped":true'* ]]; then
      stopped=$((stopped + 1))
    elif ! [[ $body =~ ^\{\"sessionId\":\"$session_id\",\"stopped\":false,\"reason\":\"(sessionMismatch|notRunning)\"\}$ ]]; then
      unexpected+=("$i: $status $body")
    fi
  done
  check "exactly one session was the managed one" equals "$stopped" 1 ||
    printf '  unexpected stop reply: %s\n' "${unexpected[@]}" >&2
  check "no stub Core is left after its stop" equals "$(core_count)" 0
  [ "$failed" -eq 0 ] || { request /logs; printf 'helper log:\n%s\n' "$body" >&2; }
}

# A start whose head has arrived when the stop control comes: its reply is sent, the Core it
# launched is then stopped by the shutdown, and the service stops cleanly.
fault_stop_during_start() {
  local data; data=$(start_body 00000000000000000000000000000000)
  exec 3<>"/dev/tcp/127.0.0.1/$relay_port" || { check "connect to the relay" false; return; }
  # One whole exchange first: the connection has then passed the peer check, which can take
  # seconds on a busy machine, and the start's head reaches the helper as soon as it is sent.
  printf 'GET /logs HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n' >&3
  local line first_status= length=0
  while IFS= read -r -t 30 line <&3; do
    line=${line%$'\r'}
    [ -z "$first_status" ] && first_status=$line
    [ -z "$line" ] && break
    [[ ${line,,} =~ ^content-length:\ *([0-9]+) ]] && length=${BASH_REMATCH[1]}
  done
  [ "$length" -gt 0 ] && read -r -t 30 -N "$length" line <&3
  check "the connection is served before the start" contains "$first_status" "HTTP/1.1 200"
  # The helper asks for the body with "100 Continue" once the start route waits for it: from then
  # on the start is in progress, however long the head took to get there.
  printf 'POST /start HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: %d\r\nExpect: 100-continue\r\n\r\n' \
    "${#data}" >&3
  local interim=
  IFS= read -r -t 30 interim <&3 && read -r -t 30 line <&3
  check "the start route asks for the body" contains "$interim" "HTTP/1.1 100 Continue"
  wine_quiet sc stop "$service"
  check "the stop control is taken while the start is open" wait_for_state STOP_PENDING 10
  printf '%s' "$data" >&3
  local reply; reply=$(timeout 20 cat <&3 | tr -d '\r')
  exec 3<&-
  check "the start's reply arrives" contains "$reply" "HTTP/1.1 200"
  check "the start's reply names its session" contains "$reply" "{\"sessionId\":\"$session\",\"pid\":"
  check "the start's reply closes the connection" contains "$reply" "Connection: close"
  check "the service stops" wait_for_state STOPPED
  check "stopped with exit code 0" equals "$(service_exit_code)" 0
  check "the shutdown stopped the Core" test -n "$(ms_until_no_core 1000)"
  runtime_key_absent() { ! runtime_key_exists; }
  check "the Runtime key is gone" runtime_key_absent
}

# Runs cycles $1 to $2 through one connection per ten cycles; counts the good replies.
run_cycles() {
  local first=$1 last=$2 i c config batch_end out=$scratch/cycles good=0
  mkdir -p "$out"
  start_body 00000000000000000000000000000000 >"$out/start.json"
  stop_body "$session" >"$out/stop.json"
  for ((i = first; i <= last; i += 10)); do
    batch_end=$((i + 9 > last ? last : i + 9))
    config=""
    for ((c = i; c <= batch_end; c++)); do
      config+="url = \"http://127.0.0.1:$relay_port/start\"
header = \"Content-Type: application/json\"
data = \"@$out/start.json\"
output = \"$out/start.$c\"
next
url = \"http://127.0.0.1:$relay_port/stop\"
header = \"Content-Type: application/json\"
data = \"@$out/stop.json\"
output = \"$out/stop.$c\"
next
"
    done
    curl -s -m 120 -K - <<<"${config%next$'\n'}" >/dev/null
    for ((c = i; c <= batch_end; c++)); do
      local started stopped
      started=$(cat "$out/start.$c" 2>/dev/null) stopped=$(cat "$out/stop.$c" 2>/dev/null)
      if [[ $started == "{\"sessionId\":\"$session\",\"pid\":"* ]] &&
        [ "$stopped" = "{\"sessionId\":\"$session\",\"stopped\":true}" ]; then
        good=$((good + 1))
      else
        echo "cycle $c: start replied '${started:-(nothing)}', stop replied '${stopped:-(nothing)}'"
      fi
      rm -f "$out/start.$c" "$out/stop.$c"
    done
  done
  cycles_good=$good
}

# The helper's own figures, read from outside once it holds no thread for work that has ended:
# relay threads end when their Core's output closes, blocking threads 10 s after their last task
# (the pool's idle timeout). Once the thread count has held for longer than that, none of them is
# left, so two probes compare the same threads and their stacks.
settled_probe() {
  local threads held_since previous="" begin; begin=$(millis)
  while :; do
    probe=$(probe_helper)
    threads=$(probe_field "$probe" threads)
    [ "$threads" = "$previous" ] || { previous=$threads; held_since=$(millis); }
    [ $(($(millis) - held_since)) -ge 11000 ] && break
    if [ $(($(millis) - begin)) -ge 60000 ]; then
      echo "cycles: the helper's thread count did not settle within 60 s: $probe" >&2; break
    fi
    sleep 0.5
  done
  local unix_pid; unix_pid=$(helper_unix_pid)
  rss_anon=$(sed -n -E 's/^RssAnon:[[:space:]]+([0-9]+) kB/\1/p' "/proc/$unix_pid/status")
}

within_five_percent() { # within_five_percent <baseline> <end>
  [ -n "$1" ] && [ -n "$2" ] && [ "$1" -gt 0 ] || { echo "  no figure: '$1' '$2'" >&2; return 1; }
  local change=$(($2 - $1)); change=${change#-}
  [ $((change * 100)) -le $((5 * $1)) ] || { echo "  $1 -> $2 changed by more than 5%" >&2; return 1; }
}

fault_cycles() {
  local total=$1 begin
  [ "$total" -gt 10 ] || { echo "cycles: more than 10 are needed" >&2; failed=$((failed + 1)); return; }
  begin=$(millis)
  run_cycles 1 10
  check "the first 10 cycles succeed" equals "$cycles_good" 10
  echo "cycles: one cycle takes about $(( ($(millis) - begin) / 10 )) ms"
  settled_probe
  local base_probe=$probe base_rss=$rss_anon
  begin=$(millis)
  run_cycles 11 "$total"
  check "cycles 11 to $total succeed" equals "$cycles_good" $((total - 10)) ||
    { request /logs; printf 'helper log:\n%s\n' "$body" >&2; }
  echo "cycles: 11 to $total took $(( ($(millis) - begin) / 1000 )) s"
  settled_probe
  echo "cycles: after 10: $base_probe rss_anon_kib=$base_rss"
  echo "cycles: after $total: $probe rss_anon_kib=$rss_anon"
  local field
  for field in handles private_committed; do
    check "$field after $total cycles within 5% of after 10" \
      within_five_percent "$(probe_field "$base_probe" $field)" "$(probe_field "$probe" $field)"
  done
  check "no stub Core is left" equals "$(core_count)" 0
}

start_relay || exit 1
install_for_relay || exit 1
case ${1:-} in
  killed) fault_killed ;;
  concurrent-starts) fault_concurrent_starts ;;
  stop-during-start) fault_stop_during_start ;;
  cycles) fault_cycles "${2:-100}" ;;
  *) echo "usage: service_faults.sh killed|concurrent-starts|stop-during-start|cycles <n>" >&2; exit 2 ;;
esac

echo "service_faults $1: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
