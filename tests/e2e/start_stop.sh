#!/bin/bash
# Start-up (raw mode, the preview, the first screen where the size puts it) and the shutdown on
# SIGTERM at two terminal sizes and without a terminal. A preview tool that ends at once is
# restarted and collected; one missing from PATH is named, and the shell's words stay off screen.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run start_stop "$@"
install_program production

preview='^raspistill -w 640 -h 480 -ex auto -p 480,0,160,120 -t 0$'

styled_has() { screen_row_styled "$1" | grep -qE $'\e\\[([0-9]+;)*'"$2"'(;[0-9]+)*m'; }

for size in 80x24:11 100x30:15; do
  log "${size%:*}"
  width=${size%x*} height=${size%:*} height=${height#*x} top=${size#*:}
  rm -f "$RUN_DIR/CONFIG.DAT" "$STANDIN_LOG"
  start_in_tmux "$width" "$height"
  expect_rows "$top" RESOLUTION "      640x480" EXPOSURE "        AUTO" EFFECT "        NONE" \
    EXEC "       STILL" POWER "     HIDE MENU"
  wait_log "$preview" 1
  wait_until "the preview stand-in to run" standin_count_is raspistill 1
  [ ! -e "$RUN_DIR/CONFIG.DAT" ] || fail "CONFIG.DAT written before any save"
  flags=$(stty -a -F "$(tmux_cmd display-message -p -t hl '#{pane_tty}')" | tr -s '; ' '\n')
  [ "$(grep -cxE -- "-icanon|-echo|isig" <<<"$flags")" -eq 3 ] || fail "lacks raw mode: $flags"
  # No GPIO here: the report stands on the error lines, red, wrapped in the menu's 20 columns.
  expect_rows 1 "Failed to open" "memory"
  styled_has 1 41 || fail "row 1 not on red"
  expect_blank $(seq 3 $((top - 1))) $(seq $((top + 10)) $((height - 2))) "$height"
  row_matches $((height - 1)) '[0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]$' ||
    fail "no clock on row $((height - 1)): '$(screen_row $((height - 1)))'"
  styled_has "$top" 43 || fail "title row $top not highlighted"
  styled_has $((top + 1)) 43 || fail "item row not highlighted"
  ! styled_has $((top + 2)) 43 || fail "second menu highlighted"
  key x # the report stays until a key
  expect_row 1 "      SLEEP 1m"
  end_run TERM
  expect_word 0 1 "ID"
done

log "no terminal, and a preview tool that ends at once"
rm -f "$RUN_DIR/CONFIG.DAT" "$STANDIN_LOG"
SHOW_FILES+=("$RUN_DIR/err.txt")
HL_COMMAND='./harrowlight </dev/null >out.txt 2>err.txt' launch_in_tmux 80 24 \
  HARROWLIGHT_STANDIN_EXIT=crash
wait_until "the first screen on standard output" grep -sqF RESOLUTION "$RUN_DIR/out.txt"
wait_log "$preview" 3
# The program collects its ended tools each tick; at most the latest may still wait.
# shellcheck disable=SC2009 # pgrep does not print the process state
few_zombies() { [ "$(ps -o stat= --ppid "$PROGRAM_PID" | grep -c '^Z' || true)" -le 1 ]; }
wait_until "ended tools to be collected" few_zombies
program_running || fail "program ended"
end_run TERM
expect_word 0 1 "ID"
[ "$(tail -c 2 "$RUN_DIR/out.txt" | od -A n -t x1 | xargs)" = "1b 63" ] ||
  fail "output does not end with the terminal reset"

log "a preview tool missing from PATH"
config_set PREVIEW 'rpicam-absent -t 0 &' # a name the stand-in does not play
start_in_tmux 80 24
tmux_cmd pipe-pane -t hl "cat >>'$RUN_DIR/pane.out'"
wait_until "the tool to be named" message_shows "Camera tool not found: rpicam-absent."
sleep 2 # two watchdog periods, each running the preview command
! grep -aq ': not found' "$RUN_DIR/pane.out" || fail "the shell wrote on the screen"
end_run TERM
