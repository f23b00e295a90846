#!/bin/bash
# Start-up and shutdown in a terminal: the first screen is drawn in raw mode, the preview
# command runs at the first tick, and SIGTERM ends the run through the shutdown sequence
# (state file of 280 bytes, camera tools killed, terminal settings given back, exit status
# 0). A camera tool that ends at once is started again by the watchdog and leaves no ended
# process behind. A preview tool missing from PATH is named on the error line, and nothing
# the shell says about it reaches the screen.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run start_stop "$@"
install_program production

preview='^raspistill -w 640 -h 480 -ex auto -p 480,0,160,120 -t 0$'

log "first screen and preview"
start_in_tmux 80 24
expect_row_has 11 RESOLUTION
wait_log "$preview" 1
wait_until "the preview stand-in to run" standin_count_is raspistill 1
[ ! -e "$RUN_DIR/CONFIG.DAT" ] || fail "CONFIG.DAT written before any save"
# While running, keys arrive unbuffered and unechoed; keyboard signals stay on.
settings=$(stty -a -F "$(tmux_cmd display-message -p -t hl '#{pane_tty}')" | tr -s '; ' '\n')
for flag in -icanon -echo isig; do
  grep -qx -- "$flag" <<<"$settings" || fail "terminal lacks $flag while running"
done

log "SIGTERM"
expect_exit TERM
[ "$(state_size)" -eq 280 ] || fail "CONFIG.DAT holds $(state_size) bytes"
[ "$(state_word 0)" -eq 1 ] || fail "ID $(state_word 0) saved, expected 1"
wait_until "the preview stand-in to be killed" no_standin_running raspistill
cmp -s "$RUN_DIR/stty.before" "$RUN_DIR/stty.after" ||
  fail "terminal settings not restored: $(cat "$RUN_DIR/stty.before") -> $(cat "$RUN_DIR/stty.after")"
[ "$(log_count "$preview")" -ge 1 ] || fail "no preview"
stop_tmux

log "a preview tool that ends at once is restarted and collected"
: >"$STANDIN_LOG"
start_in_tmux 80 24 HARROWLIGHT_STANDIN_EXIT=crash
wait_log "$preview" 3
# The program collects its ended tools each tick; at most the latest may still wait.
# shellcheck disable=SC2009 # pgrep does not print the process state
zombies() { ps -o stat= --ppid "$PROGRAM_PID" | grep -c '^Z' || true; }
few_zombies() { [ "$(zombies)" -le 1 ]; }
wait_until "ended tools to be collected" few_zombies
program_running || fail "program ended"
expect_exit TERM
stop_tmux

log "a missing camera tool is named; nothing the shell says reaches the screen"
# A name the stand-in does not play (it plays rpicam-hello).
config_set PREVIEW 'rpicam-absent -t 0 &'
start_in_tmux 80 24
tmux_cmd pipe-pane -t hl "cat >>'$RUN_DIR/pane.out'"
wait_until "the tool to be named" message_shows "Camera tool not found: rpicam-absent."
sleep 2 # two watchdog periods, each running the preview command
! grep -aq ': not found' "$RUN_DIR/pane.out" || fail "the shell wrote on the screen"
kill -TERM "$PROGRAM_PID"
wait_for_exit
