#!/bin/bash
# Runs in a terminal pane: runs of ./harrowlight, each sent up to SIGNALS signals (SIGTERM,
# SIGHUP or SIGINT at random) at random moments once its handlers are in place, until
# TOTAL signals have reached a running program (at most 2000 runs). Writes one
# line a run to signal.results: run, exit status, signals delivered, CONFIG.DAT size,
# whether the terminal settings came back ("same" or "changed").
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
set +eu +o pipefail
RUN_DIR=$PWD
total=$1
signals=$2
sent=0
: >signal.results
for ((run = 1; run <= 2000 && sent < total; run++)); do
  rm -f CONFIG.DAT
  before=$(stty -g)
  start_on_terminal
  # Most runs are hit in the loop, some during start-up and some during shutdown.
  random_sleep 400
  delivered=0
  for ((s = 0; s < signals; s++)); do
    case $((RANDOM % 3)) in
      0) name=TERM ;;
      1) name=HUP ;;
      *) name=INT ;;
    esac
    # A signal to a run that has already ended is not counted.
    read -r _ _ state _ 2>/dev/null <"/proc/$pid/stat" || state=Z
    if [ "$state" != Z ] && kill -s "$name" "$pid" 2>/dev/null; then
      delivered=$((delivered + 1))
    fi
    # Back to back or a little apart: later ones land during the shutdown sequence.
    if [ $((RANDOM % 2)) -eq 0 ]; then random_sleep 10; fi
  done
  wait "$pid"
  status=$?
  after=$(stty -g)
  size=$(stat -c %s CONFIG.DAT 2>/dev/null || echo missing)
  same=same
  if [ "$before" != "$after" ]; then
    same=changed
    stty "$before"
  fi
  sent=$((sent + delivered))
  echo "$run $status $delivered $size $same" >>signal.results
done
