#!/bin/bash
# Power cut at any moment: the program, saving on captures and at shutdown, is killed with
# SIGKILL at random points many times; CONFIG.DAT always holds a whole 280-byte record,
# the one from before the run or one the run saved.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run power_loss "$@"
install_program simgpio
# The capture tool ends soon, so most runs find no capture running and start a new one.
sed -i 's/-t 2000 -o/-t 300 -o/g' "$RUN_DIR/Harrowlight.ini"

log "a first clean run leaves the starting record"
start_in_tmux 80 24
kill -TERM "$PROGRAM_PID"
wait_for_exit
expect_valid_state
stop_tmux

runs=${FAULT_POWER_RUNS:-120}
log "$runs runs cut off with SIGKILL"
start_script_in_tmux 80 24 "$TESTS_DIR/fault/power_runs.sh" "$runs"
wait_until_long $((runs * 3 + 60)) "all runs to end" test -s "$RUN_DIR/finished"

results=$RUN_DIR/power.results
[ "$(wc -l <"$results")" -eq "$runs" ] || fail "only $(wc -l <"$results") of $runs runs recorded"
bad=$(awk '$4 != "ok"' "$results")
[ -z "$bad" ] || fail "runs that left a bad CONFIG.DAT (run ID-before ID-after problem):
$bad"
first=$(head -1 "$results" | awk '{ print $2 }')
last=$(tail -1 "$results" | awk '{ print $3 }')
log "captures saved across the runs: $((last - first))"
[ "$last" -gt "$first" ] || fail "no run saved a new record"
