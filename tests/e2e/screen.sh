#!/bin/bash
# The first screen at two terminal sizes: status line on row 1, the highlighted first menu in
# the middle slot of the menu window with the menus below it, the clock on the row above the
# last, all where the measured size puts them. Without a terminal on standard input and
# output the program still draws its first screen and ends cleanly on SIGTERM.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run screen "$@"
install_program production

clock='[0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]$'
highlight=$'\e\\[([0-9]+;)*43(;[0-9]+)*m'

# check_first_screen HEIGHT TITLE_ROW: layout with BORDER_TOP 1, ITEM_HEIGHT 2, ITEM_WIDTH
# 20, BORDER_LEFT 1; the first menu is highlighted and its title stands on TITLE_ROW.
check_first_screen() {
  local height=$1 top=$2 row
  expect_row "$top" "RESOLUTION"
  # No GPIO here: the report stands on the error lines, over the status line, wrapped in
  # the menu's 20 columns, until a key.
  expect_row 1 "Failed to open"
  expect_row 2 "memory"
  screen_row_styled 1 | grep -qE $'\e\\[([0-9]+;)*41(;[0-9]+)*m' || fail "row 1 not on red"
  # Item labels are centred in the 20 columns of a cell.
  expect_rows $((top + 1)) "      640x480" "EXPOSURE" "        AUTO" "EFFECT" "        NONE" \
    "EXEC" "       STILL" "POWER" "     HIDE MENU"
  # Nothing above the first menu, nothing after the last.
  for row in $(seq 3 $((top - 1))) $(seq $((top + 10)) $((height - 2))) "$height"; do
    row_reads "$row" "" || fail "row $row of $height not blank: '$(screen_row "$row")'"
  done
  screen_row $((height - 1)) | grep -qE "$clock" ||
    fail "no clock on row $((height - 1)): '$(screen_row $((height - 1)))'"
  screen_row_styled "$top" | grep -qE "$highlight" || fail "title row $top not highlighted"
  screen_row_styled $((top + 1)) | grep -qE "$highlight" || fail "item row not highlighted"
  ! screen_row_styled $((top + 2)) | grep -qE "$highlight" || fail "second menu highlighted"
}

for size in 80x24:11 100x30:15; do
  log "${size%:*}"
  width=${size%x*} height=${size%:*} height=${height#*x}
  start_in_tmux "$width" "$height"
  check_first_screen "$height" "${size#*:}"
  key x
  expect_row 1 "      SLEEP 1m"
  expect_exit TERM
  stop_tmux
  rm -f "$RUN_DIR/CONFIG.DAT"
done

log "no terminal"
(
  cd "$RUN_DIR"
  export PATH="$HL_STANDINS:$PATH" HARROWLIGHT_STANDIN_LOG="$STANDIN_LOG"
  exec ./harrowlight </dev/null >out.txt 2>err.txt
) &
pid=$!
BACKGROUND_PIDS+=("$pid")
out_has_menu() { grep -qF RESOLUTION "$RUN_DIR/out.txt"; }
wait_until "the first screen on standard output" out_has_menu
wait_log '^raspistill ' 1
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status without a terminal: $(cat "$RUN_DIR/err.txt")"
[ "$(state_size)" -eq 280 ] || fail "CONFIG.DAT not saved"
[ "$(tail -c 2 "$RUN_DIR/out.txt" | od -A n -t x1 | xargs)" = "1b 63" ] ||
  fail "output does not end with the terminal reset"
wait_until "the preview stand-in to be killed" no_standin_running raspistill
