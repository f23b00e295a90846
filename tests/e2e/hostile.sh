#!/bin/bash
# Hostile input never garbles, freezes or silently kills the camera. The first argument
# chooses the case:
#   names:  recordings named with escape sequences, a newline and a C1 byte are listed
#           with "?" in their place, and the arrow keys still work after the list is shown;
#   start:  standard input from /dev/zero or from a flooded terminal: the menu is drawn,
#           and SIGTERM at start-up ends the run through the shutdown (CONFIG.DAT written);
#   pipe:   standard output a pipe whose reader goes away: the run ends through the
#           shutdown, with the state saved, no camera tool left and the terminal restored;
#   reply:  size replies that give no usable size: the screen takes the kernel's size;
#   check:  a process check that cannot run (no descriptor for its pipe) starts no preview
#           and says so on the error line.
# The times to the menu and to the end are logged for the record, not judged.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
CASE=$1
shift
setup_run "hostile_$CASE" "$@"
install_program production
cd "$RUN_DIR" || exit

now_ms() { date +%s%3N; }

# end_with_sigterm: SIGTERM once the handlers are in place; the run must end with status 0
# and a whole CONFIG.DAT written by its shutdown.
end_with_sigterm() {
  rm -f CONFIG.DAT
  wait_until "the signal handlers" handlers_installed "$PROGRAM_PID"
  local sent
  sent=$(now_ms)
  kill -TERM "$PROGRAM_PID"
  wait_for_exit
  log "$1: ended $(($(now_ms) - sent)) ms after SIGTERM"
  [ "$(exit_status)" -eq 0 ] || fail "$1: exit status $(exit_status)"
  { [ -e CONFIG.DAT ] && [ "$(state_size)" -eq 280 ]; } || fail "$1: CONFIG.DAT not written"
}

program_is_harrowlight() { [ "$(cat "/proc/$PROGRAM_PID/comm" 2>/dev/null)" = harrowlight ]; }
clock_on_row() { screen_row "$1" | grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}'; }

case_names() {
  local name
  for name in $'a\e[2Jb.jpg' $'c\e]0;pwned\ad.jpg' $'e\e[?1lf.jpg' $'g\nh.jpg' $'i\x9bj.jpg' \
    k.jpg; do
    echo data >"captures/$name"
  done
  start_in_tmux 80 24
  expect_row 11 "RESOLUTION"
  press Down 11 "EXPOSURE"
  choose_play
  settle
  key Space
  expect_rows 13 "a?[2Jb.jpg" "c?]0;pwned?d.jpg" "e?[?1lf.jpg" "g?h.jpg" "i?j.jpg" "k.jpg"
  row_reads 12 "" || fail "row 12 not blank: '$(screen_row 12)'"
  [ "$(tmux_cmd display-message -p -t hl '#{pane_title}')" != pwned ] ||
    fail "a recording's name retitled the terminal"
  settle
  # Cursor keys still arrive in application mode: the highlight moves.
  press Down 13 "c?]0;pwned?d.jpg"
  press Down 13 "e?[?1lf.jpg"
  press Down 13 "g?h.jpg"
  press Up 13 "e?[?1lf.jpg"
}

case_start() {
  local source ending started
  # A terminal flooded with NUL bytes, as a serial line held in break gives them; the
  # program starts a second after the flood, so its whole start-up sees it.
  flood() {
    local nuls
    nuls=$(printf '00 %.0s' $(seq 500))
    # shellcheck disable=SC2086 # one argument a byte
    while tmux_cmd send-keys -t hl -H $nuls 2>/dev/null; do :; done
  }
  for source in zero tty; do
    for ending in menu sigterm; do
      log "standard input from $source, $ending"
      if [ "$source" = zero ]; then
        HL_COMMAND='./harrowlight </dev/zero' launch_in_tmux 80 24
      else
        HL_COMMAND='(sleep 1; exec ./harrowlight) <&0' launch_in_tmux 80 24
        flood &
        BACKGROUND_PIDS+=($!)
      fi
      wait_until "the program itself to run" program_is_harrowlight
      started=$(now_ms)
      if [ "$ending" = menu ]; then
        wait_until "the menu" row_reads 11 "RESOLUTION"
        log "$source: menu drawn $(($(now_ms) - started)) ms after start;" \
          "$(awk '/^rchar:/ { print $2 }' "/proc/$PROGRAM_PID/io") bytes read so far"
      fi
      end_with_sigterm "$source"
      kill -9 "${BACKGROUND_PIDS[@]}" 2>/dev/null || true
      BACKGROUND_PIDS=()
      stop_tmux
      kill_our_standins
    done
  done
}

case_pipe() {
  mkfifo screen.fifo
  cat screen.fifo >screen.out &
  local reader=$!
  BACKGROUND_PIDS+=("$reader")
  HL_COMMAND='./harrowlight <&0 >screen.fifo' launch_in_tmux 80 24
  wait_until "the menu on the pipe" grep -q RESOLUTION screen.out
  wait_until "the preview" standin_running raspistill
  rm -f CONFIG.DAT
  kill -9 "$reader"
  wait "$reader" 2>/dev/null || true
  # Down (as the cursor key sends it in application mode, a mode the terminal never got
  # here) asks for a redraw, which finds the pipe without a reader.
  key -H 1b 4f 42
  wait_for_exit
  [ "$(exit_status)" -eq 0 ] || fail "exit status $(exit_status) (141: killed by SIGPIPE)"
  { [ -e CONFIG.DAT ] && [ "$(state_word 1)" -eq 1 ]; } || fail "the state was not saved"
  wait_until "the preview to be stopped" no_standin_running raspistill
  [ "$(cat stty.after)" = "$(cat stty.before)" ] || fail "terminal settings not restored"
}

case_reply() {
  local reply
  # 70x20: nine menu rows, menu 0 on row 9 and the clock on row 19.
  for reply in '0;0' '-7;-3' 'abc;xyz' '99999;99999'; do
    log "reply ESC[${reply}R"
    printf '\033[%sR' "$reply" >reply.bin
    HL_COMMAND='./harrowlight <reply.bin' launch_in_tmux 70 20
    wait_until "the clock on row 19" clock_on_row 19
    row_reads 9 "RESOLUTION" || fail "reply $reply: row 9 reads '$(screen_row 9)'"
    row_reads 20 "" || fail "reply $reply: row 20 reads '$(screen_row 20)'"
    end_with_sigterm "reply $reply"
    stop_tmux
    kill_our_standins
  done
}

case_check() {
  # Four descriptors: the standard three and one for the configuration file, none left
  # for the process check's pipe.
  HL_COMMAND='(ulimit -n 4; exec ./harrowlight) <&0' start_in_tmux 80 24
  # Lines 1-2 keep the start-up report that no GPIO page was found; this one comes below it.
  wait_until "the error line" row_has 3 "Cannot check the"
  row_has 4 "camera tools." || fail "the report is not wrapped: '$(screen_row 4)'"
  # Four watchdog periods.
  sleep 3.3
  [ "$(log_count '^raspistill ')" -eq 0 ] || fail "a preview was started: $(cat "$STANDIN_LOG")"
  program_running || fail "the program ended"
}

"case_$CASE"
