#!/bin/bash
# Runs in a terminal pane: RUNS runs of the simulated-GPIO ./harrowlight, each pressing the
# Space button (a capture saves a new record) and then cut off with SIGKILL at a random
# moment, sometimes during the shutdown save that a SIGTERM just started. After each run
# CONFIG.DAT must be the record from before the run or one the run saved: a line to
# power.results per run: run, capture number before, after, and the problem (or "ok").
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
set +eu +o pipefail
RUN_DIR=$PWD
runs=$1
: >power.results
for ((run = 1; run <= runs; run++)); do
  # A capture file left by a run cut off before its save would move the next number on.
  rm -f captures/*
  before_id=$(state_word 0)
  saved=$(stty -g)
  start_on_terminal
  random_sleep 200
  if [ $((RANDOM % 4)) -ne 0 ]; then
    gpio_write_word "$WORD_GPLEV0" $((4294967295 & ~(1 << PIN_SPACE)))
    sleep 0.15
    gpio_write_word "$WORD_GPLEV0" 4294967295
    random_sleep 150
  fi
  if [ $((RANDOM % 2)) -eq 0 ]; then
    kill -TERM "$pid" 2>/dev/null
    random_sleep 30
  fi
  kill -KILL "$pid" 2>/dev/null
  wait "$pid"
  stty "$saved"
  problem=$(state_problem CONFIG.DAT | head -1)
  after_id=$(state_word 0)
  if [ -z "$problem" ] && [ "$after_id" -ne "$before_id" ] &&
    [ "$after_id" -ne $((before_id + 1)) ]; then
    problem="capture number jumped"
  fi
  echo "$run $before_id $after_id ${problem:-ok}" >>power.results
done
