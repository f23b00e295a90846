#!/bin/bash
# Runs in a terminal ended at random moments. power_loss: the Space button (a capture's save),
# sometimes SIGTERM (the shutdown save), then SIGKILL; CONFIG.DAT stays a whole record, the one
# from before the run or one it saved. signals: a thousand and more SIGTERM, SIGHUP and SIGINT;
# every run ends through the shutdown sequence (status 0, a 280-byte CONFIG.DAT), terminal restored.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"

# start_on_terminal: ./harrowlight in the background; pid, once its handlers are set (5 s at most).
start_on_terminal() {
  ./harrowlight <&0 &
  pid=$!
  for _ in {1..500}; do handlers_installed "$pid" && break; sleep 0.01; done
}

# power_loss_run: RESULT is 1 (a run), the capture number before and after, the problem or ok.
power_loss_run() {
  local before after problem
  # A capture file left by a run cut off before its save would move the next number on.
  rm -f captures/*
  before=$(state_word 0)
  start_on_terminal
  random_sleep 200
  if [ $((RANDOM % 4)) -ne 0 ]; then
    gpio_write_word "$WORD_GPLEV0" $((4294967295 & ~(1 << PIN_SPACE)))
    sleep 0.15
    buttons_up
    random_sleep 150
  fi
  if [ $((RANDOM % 2)) -eq 0 ]; then
    kill -TERM "$pid" 2>/dev/null
    random_sleep 30
  fi
  kill -KILL "$pid" 2>/dev/null
  wait "$pid"
  problem=$(state_problem CONFIG.DAT | head -1)
  after=$(state_word 0)
  [ -n "$problem" ] || [[ $((after - before)) == [01] ]] || problem="capture number jumped"
  RESULT="1 $before $after ${problem:-ok}"
}

# signals_run: up to 6 signals; RESULT is the signals delivered, exit status, CONFIG.DAT size.
signals_run() {
  local delivered=0 signals=(TERM HUP INT)
  rm -f CONFIG.DAT
  start_on_terminal
  # Most runs are hit in the loop, some during start-up and some during shutdown.
  random_sleep 400
  for _ in {1..6}; do
    ! process_gone "$pid" && kill -s "${signals[RANDOM % 3]}" "$pid" 2>/dev/null &&
      delivered=$((delivered + 1))
    # Back to back or a little apart: later ones land during the shutdown sequence.
    [ $((RANDOM % 2)) -ne 0 ] || random_sleep 10
  done
  wait "$pid"
  RESULT="$delivered $? $(stat -c %s CONFIG.DAT 2>/dev/null || echo missing)"
}

# runs KIND GOAL, in the pane: KIND_run until RESULT's first figures add up to GOAL (at most
# 2000 runs); to "results" a line a run: run, RESULT, terminal settings "same" or "changed".
runs() {
  set +eu +o pipefail
  RUN_DIR=$PWD
  local run counted=0 saved
  for ((run = 1; run <= 2000 && counted < $2; run++)); do
    saved=$(stty -g)
    "$1_run"
    echo "$run $RESULT $([ "$(stty -g)" = "$saved" ] && echo same || echo changed)" >>results
    stty "$saved"
    counted=$((counted + ${RESULT%% *}))
  done
}
[ "${1:-}" != --runs ] || { runs "${@:2}"; exit; }

kind=$1
setup_run "$kind" "${@:2}"
cd "$RUN_DIR"
SHOW_FILES+=("$RUN_DIR/results")
# shellcheck disable=SC2016 # the bad runs are awk conditions
if [ "$kind" = power_loss ]; then
  install_program simgpio
  # The capture tool ends soon, so most runs find no capture running and start a new one.
  sed -i 's/-t 2000 -o/-t 300 -o/g' Harrowlight.ini
  log "a first clean run leaves the starting record"
  start_in_tmux 80 24
  end_run TERM
  first=$(state_word 0)
  goal=${FAULT_POWER_RUNS:-120} bound=$((goal * 3 + 60))
  columns="run 1 ID-before ID-after problem terminal" bad='$5 != "ok"'
else
  install_program production
  goal=${FAULT_SIGNALS:-1000} bound=$((goal + 60))
  columns="run delivered status size terminal" bad='$3 != 0 || $4 != 280 || $5 != "same"'
fi
runs=$(printf '%q ' bash "$TESTS_DIR/fault/storms.sh" --runs "$kind" "$goal")
pane_script 80 24 "$runs 2>pane.err" 'echo $? >finished'
wait_until_long "$bound" "all runs to end" test -s finished

bad=$(awk "$bad" results)
[ -z "$bad" ] || fail "runs that failed ($columns):
$bad"
counted=$(awk '{ n += $2 } END { print n }' results)
log "$(wc -l <results) runs, $counted counted of $goal"
[ "$counted" -ge "$goal" ] || fail "only $counted counted"
expect_valid_state
[ "$kind" = signals ] || [ "$(state_word 0)" -gt "$first" ] || fail "no run saved a new record"
