#!/bin/bash
# A thousand and more SIGTERM, SIGHUP and SIGINT deliveries at random moments across many
# runs in a terminal: every run ends through the shutdown sequence (exit status 0, a
# 280-byte CONFIG.DAT written) and gives the terminal its settings back.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run signals "$@"
install_program production

total=${FAULT_SIGNALS:-1000}
per_run=6
log "$total signals, up to $per_run a run"
start_script_in_tmux 80 24 "$TESTS_DIR/fault/signal_runs.sh" "$total" "$per_run"
wait_until_long $((total + 60)) "all runs to end" test -s "$RUN_DIR/finished"

results=$RUN_DIR/signal.results
runs=$(wc -l <"$results")
bad=$(awk '$2 != 0 || $4 != 280 || $5 != "same"' "$results")
[ -z "$bad" ] || fail "runs that did not end cleanly (run status delivered size terminal):
$bad"
delivered=$(awk '{ n += $3 } END { print n }' "$results")
log "$runs runs, signals delivered: $delivered"
[ "$delivered" -ge "$total" ] || fail "only $delivered signals delivered"
expect_valid_state
