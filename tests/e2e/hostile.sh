#!/bin/bash
# Hostile input never garbles, freezes or silently kills the camera. The first argument is the
# case (each function says what it proves); times to the menu and the end are only logged.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
CASE=$1
setup_run "hostile_$CASE" "${@:2}"
install_program production
cd "$RUN_DIR" || exit

ms_since() { echo $(((${2:-${EPOCHREALTIME/./}} - $1) / 1000)); } # START_US [END_US (now)]

# end_with_sigterm WHAT: SIGTERM once the handlers are in place ends the run through the shutdown.
end_with_sigterm() {
  rm -f CONFIG.DAT
  wait_until "the signal handlers" handlers_installed "$PROGRAM_PID"
  local sent=${EPOCHREALTIME/./}
  end_run TERM
  log "$1: ended $(ms_since "$sent" "$(date -r exit.status +%s%6N)") ms after SIGTERM"
}

# Standard input from /dev/zero or a terminal flooded with NUL bytes from a second before the
# start (a serial line held in break): the menu is drawn, and SIGTERM at start-up ends the run.
case_start() {
  local run source ending nuls
  local -A command=([zero]='./harrowlight </dev/zero' [tty]='(sleep 1; exec ./harrowlight) <&0')
  mapfile -t nuls < <(yes 00 | head -n 500)
  for run in "zero menu" "zero sigterm" "tty menu" "tty sigterm"; do
    read -r source ending <<<"$run"
    log "standard input from $source, $ending"
    HL_COMMAND=${command[$source]} launch_in_tmux 80 24
    if [ "$source" = tty ]; then
      while tmux_cmd send-keys -t hl -H "${nuls[@]}" 2>/dev/null; do :; done &
    fi
    wait_until "the program itself to run" grep -sqx harrowlight "/proc/$PROGRAM_PID/comm"
    local started=${EPOCHREALTIME/./}
    if [ "$ending" = menu ]; then
      wait_until "the menu" row_reads 11 "RESOLUTION"
      log "$source: menu drawn $(ms_since "$started") ms after start;" \
        "$(awk '/^rchar:/ { print $2 }' "/proc/$PROGRAM_PID/io") bytes read so far"
    fi
    end_with_sigterm "$source"
  done
}

# Standard output a pipe whose reader goes away: the run ends through the shutdown.
case_pipe() {
  mkfifo screen.fifo
  cat screen.fifo >screen.out &
  local reader=$!
  BACKGROUND_PIDS+=("$reader")
  HL_COMMAND='./harrowlight <&0 >screen.fifo' launch_in_tmux 80 24
  wait_until "the menu on the pipe" grep -q RESOLUTION screen.out
  wait_until "the preview" standin_count_is raspistill 1
  rm -f CONFIG.DAT
  kill -9 "$reader"
  wait "$reader" 2>/dev/null || true
  # Down (in application mode, which no terminal got here) asks for a redraw into the pipe.
  key -H 1b 4f 42
  end_run "" # status 141: killed by SIGPIPE
  expect_word 1 1 "MenuPos"
}

# Size replies giving no usable size: the kernel's 70x20 (menu 0 on row 9, the clock on 19).
case_reply() {
  local reply
  for reply in '0;0' '-7;-3' 'abc;xyz' '99999;99999'; do
    log "reply ESC[${reply}R"
    printf '\033[%sR' "$reply" >reply.bin
    HL_COMMAND='./harrowlight <reply.bin' launch_in_tmux 70 20
    wait_until "the clock on row 19" row_matches 19 '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}'
    row_reads 9 "RESOLUTION" || fail "reply $reply: row 9 reads '$(screen_row 9)'"
    expect_blank 20
    end_with_sigterm "reply $reply"
  done
}

# Four descriptors leave none for the process check's pipe: no preview, and the error line says so.
case_check() {
  HL_COMMAND='(ulimit -n 4; exec ./harrowlight) <&0' start_in_tmux 80 24
  expect_rows 3 "Cannot check the" "camera tools." # wrapped
  sleep 3.3 # four watchdog periods
  [ "$(log_count '^raspistill ')" -eq 0 ] || fail "a preview was started: $(cat "$STANDIN_LOG")"
  program_running || fail "the program ended"
}

"case_$CASE"
