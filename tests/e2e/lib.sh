# Helpers shared by the end-to-end scripts: a private run directory holding a copy of the
# program, its configuration and a capture folder; a private tmux server whose pane runs the
# program with the stand-in camera tools first on PATH; bounded polling of the screen, the
# stand-in log, CONFIG.DAT and the simulated GPIO file; clean-up of all of it on exit.
#
# A script sources this file and calls e2e_setup with its name and its three arguments:
# the harrowlight binary, the simulated-GPIO binary and the stand-in directory.
# shellcheck shell=bash disable=SC2034 # the pin and word numbers are for the scripts

set -euo pipefail

# The program kills and lists camera tools by name, machine-wide. Where the system allows
# it, each scenario runs in its own process-id namespace with its own /proc, so "ps" and
# "killall" see only the scenario's processes, and whatever it started ends with it.
if [ -z "${HARROWLIGHT_E2E_ISOLATED:-}" ] &&
  unshare --pid --fork --mount-proc --kill-child true 2>/dev/null; then
  export HARROWLIGHT_E2E_ISOLATED=1
  exec unshare --pid --fork --mount-proc --kill-child bash "$0" "$@"
fi

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Upper bound of every wait; a slow machine only makes a passing test slower.
E2E_WAIT_SECONDS=${E2E_WAIT_SECONDS:-15}
# Seconds into the script after which every wait fails (0: none). CTest sets it a little
# under its own timeout, so a run that hangs still reports what it waited for.
E2E_TIME_LIMIT=${HARROWLIGHT_TEST_LIMIT:-0}

RUN_DIR=""
TMUX_SOCKET=""
TMUX_BASE=""
TMUX_STARTS=0
# The pane's first process while a pane runs; with PANE_RUNS_PROGRAM=1 the pane runs the
# program itself (start_in_tmux) rather than a script of many runs.
PANE_PID=""
PANE_RUNS_PROGRAM=0
STANDIN_LOG=""
PROGRAM_PID=""
E2E_NAME=""
BACKGROUND_PIDS=()

# Pins of the test configuration (test.ini).
PIN_UP=17
PIN_LEFT=22
PIN_RIGHT=23
PIN_DOWN=27
PIN_ENTER=24
PIN_SPACE=25
PIN_LED=18
PIN_LCD=12

# Words of the simulated GPIO page.
WORD_GPSET0=7
WORD_GPCLR0=10
WORD_GPLEV0=13

log() { echo "[$E2E_NAME] $*"; }

fail() {
  echo "[$E2E_NAME] FAIL: $*" >&2
  if [ -n "$TMUX_SOCKET" ] && tmux -L "$TMUX_SOCKET" has-session 2>/dev/null; then
    echo "--- screen ---" >&2
    screen_text >&2 || true
  fi
  show_file "program exit status" "$RUN_DIR/exit.status"
  show_file "errors of the pane's script" "$RUN_DIR/pane.err"
  show_file "stand-in log" "$STANDIN_LOG"
  exit 1
}

# show_file TITLE FILE: FILE on standard error under a title, when it holds anything.
show_file() {
  if [ -n "$RUN_DIR" ] && [ -s "$2" ]; then
    echo "--- $1 ---" >&2
    cat "$2" >&2
  fi
}

# e2e_setup NAME HARROWLIGHT SIMGPIO STANDIN_DIR
e2e_setup() {
  E2E_NAME=$1
  HL_BIN=$(realpath "$2")
  HL_SIMGPIO_BIN=$(realpath "$3")
  HL_STANDINS=$(realpath "$4")
  for f in "$HL_BIN" "$HL_SIMGPIO_BIN" "$HL_STANDINS/raspistill" "$HL_STANDINS/raspivid" \
    "$HL_STANDINS/omxplayer.bin" "$HL_STANDINS/omxplayer"; do
    [ -x "$f" ] || fail "missing program $f (build everything first)"
  done
  command -v tmux >/dev/null || fail "tmux is not installed (scripts/install-deps)"
  RUN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/harrowlight-e2e-$E2E_NAME.XXXXXX")
  TMUX_BASE="harrowlight-e2e-$E2E_NAME-$$"
  STANDIN_LOG=$RUN_DIR/standin.log
  mkdir "$RUN_DIR/captures"
  # tmux keeps its sockets in a directory of this run's own, so no other run on the
  # machine (whose process-id namespace may give it the same $$) can reach its server.
  export TMUX_TMPDIR=$RUN_DIR/tmux
  mkdir -m 700 "$TMUX_TMPDIR"
  trap e2e_cleanup EXIT
  # Ended by a signal (a test timeout, Ctrl-C, a closed pipe): still clean up.
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 141' PIPE
  trap 'exit 143' TERM
}

e2e_cleanup() {
  local status=$?
  stop_tmux
  local pid
  for pid in "${BACKGROUND_PIDS[@]}"; do
    kill -9 "$pid" 2>/dev/null || true
  done
  kill_our_standins
  if [ "$status" -eq 0 ]; then
    log "PASS"
  fi
  if [ "$status" -eq 0 ] || [ -z "${E2E_KEEP:-}" ]; then
    rm -rf "$RUN_DIR"
  else
    echo "[$E2E_NAME] run directory kept: $RUN_DIR" >&2
  fi
  exit "$status"
}

# ---------------------------------------------------------------------------------------
# Run directory

# install_program production|simgpio: copies the binary in as ./harrowlight, with the test
# configuration pointed at the run's capture folder. The simulated build also gets a fresh
# gpio.sim: all words zero except GPLEV0, all ones (no button pressed).
install_program() {
  case $1 in
    production) cp "$HL_BIN" "$RUN_DIR/harrowlight" ;;
    simgpio)
      cp "$HL_SIMGPIO_BIN" "$RUN_DIR/harrowlight"
      head -c 4096 /dev/zero >"$RUN_DIR/gpio.sim"
      gpio_write_word "$WORD_GPLEV0" 4294967295
      ;;
    *) fail "install_program: unknown kind $1" ;;
  esac
  sed "s|@CAPTURES@|$RUN_DIR/captures|" "$E2E_DIR/test.ini" >"$RUN_DIR/Harrowlight.ini"
}

# config_set KEY VALUE: replaces the key's line of the run's configuration.
config_set() {
  local file=$RUN_DIR/Harrowlight.ini
  grep -v "^$1=" "$file" >"$file.new" || true
  printf '%s=%s\n' "$1" "$2" >>"$file.new"
  mv "$file.new" "$file"
}

# ---------------------------------------------------------------------------------------
# Waiting

# wait_until DESCRIPTION COMMAND...: polls COMMAND until it succeeds. Fails the test when it
# has not within E2E_WAIT_SECONDS or the script's time limit, and at once when the pane is
# gone or the program in it ends (unless it had already ended when the wait began).
wait_until() {
  local what=$1
  shift
  local deadline=$((SECONDS + E2E_WAIT_SECONDS))
  if [ "$E2E_TIME_LIMIT" -gt 0 ] && [ "$deadline" -gt "$E2E_TIME_LIMIT" ]; then
    deadline=$E2E_TIME_LIMIT
  fi
  local ended_before=0
  if pane_program_ended; then ended_before=1; fi
  until "$@"; do
    if pane_gone; then
      fail "the terminal is gone (tmux server or pane ended) while waiting for: $what"
    fi
    if [ "$ended_before" -eq 0 ] && pane_program_ended; then
      # The program may have done what was awaited just before it ended.
      "$@" && return 0
      fail "the program ended while waiting for: $what"
    fi
    [ "$SECONDS" -lt "$deadline" ] || fail "timed out after ${SECONDS}s waiting for: $what"
    sleep 0.1
  done
}

# wait_until_long SECONDS DESCRIPTION COMMAND...: the same with an explicit bound.
wait_until_long() {
  local limit=$1
  shift
  E2E_WAIT_SECONDS=$limit wait_until "$@"
}

# ---------------------------------------------------------------------------------------
# tmux

tmux_cmd() { tmux -L "$TMUX_SOCKET" -f /dev/null "$@"; }

# process_gone PID: the process has ended (collected or not).
process_gone() {
  local state=Z
  read -r _ _ state _ 2>/dev/null <"/proc/$1/stat" || state=Z
  [ "$state" = Z ]
}

# A pane was started and its first process has ended: the server or the pane went away.
pane_gone() { [ -n "$PANE_PID" ] && process_gone "$PANE_PID"; }

# The program started by launch_in_tmux has ended (its pane records the status).
pane_program_ended() { [ "$PANE_RUNS_PROGRAM" -eq 1 ] && [ -s "$RUN_DIR/exit.status" ]; }

# new_pane WIDTH HEIGHT SCRIPT: a fresh tmux server whose one pane runs SCRIPT.
new_pane() {
  # A fresh server per start: a server just told to end may still hold the old socket.
  TMUX_STARTS=$((TMUX_STARTS + 1))
  TMUX_SOCKET="$TMUX_BASE-$TMUX_STARTS"
  tmux_cmd new-session -d -s hl -x "$1" -y "$2" "$3"
  PANE_PID=$(tmux_cmd display-message -p -t hl '#{pane_pid}')
}

# launch_in_tmux WIDTH HEIGHT [NAME=VALUE...]: starts ./harrowlight from the run directory in
# a pane of the given size. A wrapper records the terminal settings before and after the
# run (stty.before, stty.after), the program's process id (harrowlight.pid) and its exit
# status (exit.status), then keeps the pane open for inspection. HL_COMMAND, when set,
# replaces the plain "./harrowlight <&0" (to give the program other streams or limits; it
# must end in the program's own process, "exec" where a subshell is needed).
launch_in_tmux() {
  local width=$1 height=$2
  shift 2
  rm -f "$RUN_DIR/harrowlight.pid" "$RUN_DIR/exit.status" "$RUN_DIR/stty.before" \
    "$RUN_DIR/stty.after"
  {
    echo '#!/bin/bash'
    printf 'cd %q\n' "$RUN_DIR"
    printf 'export PATH=%q\n' "$HL_STANDINS:$PATH"
    printf 'export HARROWLIGHT_STANDIN_LOG=%q\n' "$STANDIN_LOG"
    local assignment
    for assignment in "$@"; do printf 'export %q\n' "$assignment"; done
    echo 'stty -g >stty.before'
    # Standard input stays the terminal: an explicit redirection overrides /dev/null.
    echo "${HL_COMMAND:-./harrowlight <&0} &"
    echo 'echo $! >harrowlight.pid'
    echo 'wait $!'
    echo 'echo $? >exit.status'
    echo 'stty -g >stty.after'
    echo 'exec sleep 3600'
  } >"$RUN_DIR/pane.sh"
  chmod +x "$RUN_DIR/pane.sh"
  new_pane "$width" "$height" "$RUN_DIR/pane.sh"
  PANE_RUNS_PROGRAM=1
  wait_until "the program to start" test -s "$RUN_DIR/harrowlight.pid"
  PROGRAM_PID=$(cat "$RUN_DIR/harrowlight.pid")
}

# start_in_tmux WIDTH HEIGHT [NAME=VALUE...]: launch_in_tmux, then waits for the first screen.
start_in_tmux() {
  launch_in_tmux "$@"
  # The size query's reply leaves its escape byte as the last key seen, so an arrow read
  # in the same iteration as the first screen would be damped as a repeat: wait until
  # the screen is drawn and a few key-less ticks have passed.
  wait_until "the first screen" screen_drawn
  settle
}

screen_drawn() { screen_text | grep -q '[^[:space:]]'; }

stop_tmux() {
  if [ -n "$TMUX_SOCKET" ]; then
    tmux_cmd kill-server 2>/dev/null || true
  fi
  PANE_PID=""
  PANE_RUNS_PROGRAM=0
}

# The pane as text, one line per screen row (row 1 first), trailing blanks dropped.
screen_text() { tmux_cmd capture-pane -p -t hl; }

# screen_row N: the text of screen row N (counted from 1).
screen_row() { screen_text | sed -n "${1}p"; }

# screen_row_styled N: row N with its colours as escape sequences.
screen_row_styled() { tmux_cmd capture-pane -p -e -t hl | sed -n "${1}p"; }

row_is() { [ "$(screen_row "$1")" = "$2" ]; }
# screen_shows TEXT: the pane shows TEXT somewhere.
screen_shows() { screen_text | grep -qF -- "$1"; }
row_has() { screen_row "$1" | grep -qF -- "$2"; }
# message_shows TEXT: the screen holds TEXT, perhaps wrapped over rows (error lines are).
message_shows() { screen_text | tr -s ' \n' '  ' | grep -qF -- "$1"; }

# expect_row N TEXT: waits until row N reads exactly TEXT (trailing blanks dropped).
expect_row() { wait_until "row $1 to read '$2'" row_is "$1" "$2"; }
expect_row_has() { wait_until "row $1 to hold '$2'" row_has "$1" "$2"; }

# key NAME...: tmux key names (Up, Down, Left, Right, Enter, Space, or text with -l).
# Arrows arrive as ESC O A..D once the program has set application cursor mode.
key() { tmux_cmd send-keys -t hl "$@"; }

# Arrows share their first byte, and the program damps a byte that repeats in consecutive
# reads; a pause of a few ticks after each effect keeps every press a separate key.
settle() { sleep 0.4; }

# press KEY ROW TEXT: sends KEY, waits until row ROW reads TEXT, then settles.
press() {
  key "$1"
  expect_row "$2" "$3"
  settle
}

# handlers_installed PID: the program catches SIGTERM, SIGHUP and SIGINT.
handlers_installed() {
  local mask
  mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$mask" ] || return 1
  [ $((16#$mask & 16#4003)) -eq $((16#4003)) ]
}

program_running() { kill -0 "$PROGRAM_PID" 2>/dev/null && [ ! -e "$RUN_DIR/exit.status" ]; }

# wait_for_exit: waits for the program to end; its status is then exit_status.
wait_for_exit() {
  wait_until "the program to end" test -s "$RUN_DIR/exit.status"
  wait_until "the terminal settings to be recorded" test -s "$RUN_DIR/stty.after"
}
exit_status() { cat "$RUN_DIR/exit.status"; }

# ---------------------------------------------------------------------------------------
# Stand-ins

# log_count PATTERN: lines of the stand-in log matching the extended regular expression.
log_count() {
  if [ -e "$STANDIN_LOG" ]; then grep -cE -- "$1" "$STANDIN_LOG" || true; else echo 0; fi
}
log_count_at_least() { [ "$(log_count "$1")" -ge "$2" ]; }

# wait_log PATTERN COUNT: waits until COUNT log lines match.
wait_log() { wait_until "$2 stand-in log line(s) matching '$1'" log_count_at_least "$1" "$2"; }

# The live processes (zombies excluded) of the stand-in NAME started for this run: their
# environment names this run's log.
our_standin_pids() {
  local pid
  for pid in $(ps -C "$1" -o pid= 2>/dev/null); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" |
      grep -qxF "HARROWLIGHT_STANDIN_LOG=$STANDIN_LOG"; then
      echo "$pid"
    fi
  done
}

# our_standin_cmdlines NAME: the argument lists of this run's live stand-ins, one a line.
our_standin_cmdlines() {
  local pid
  for pid in $(our_standin_pids "$1"); do
    tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" && echo
  done
}

standin_count() { our_standin_pids "$1" | wc -l; }
no_standin_running() { [ "$(standin_count "$1")" -eq 0 ]; }
# standin_count_is NAME COUNT: exactly COUNT of this run's NAME stand-ins live (for wait_until).
standin_count_is() { [ "$(standin_count "$1")" -eq "$2" ]; }
standin_running() { [ "$(standin_count "$1")" -ge 1 ]; }

kill_our_standins() {
  [ -n "$STANDIN_LOG" ] || return 0
  local name pid
  for name in raspistill raspivid omxplayer.bin; do
    for pid in $(our_standin_pids "$name"); do kill -9 "$pid" 2>/dev/null || true; done
  done
}

# ---------------------------------------------------------------------------------------
# CONFIG.DAT and gpio.sim

state_size() { stat -c %s "$RUN_DIR/CONFIG.DAT"; }

# state_word N: the signed 32-bit integer N of CONFIG.DAT (0 ID, 1 MenuPos, 2 MenuItemPos,
# 3-66 MenuSelection, 67 SleepPeriod, 68 Mode, 69 PreviewSize).
state_word() { od -A n -t d4 -j $(($1 * 4)) -N 4 "$RUN_DIR/CONFIG.DAT" | tr -d ' '; }
# state_word_is N VALUE: CONFIG.DAT exists and its integer N is VALUE (for wait_until).
state_word_is() { [ -s "$RUN_DIR/CONFIG.DAT" ] && [ "$(state_word "$1")" = "$2" ]; }

# state_bytes FIRST COUNT: the bytes as two-digit hex, blank-separated.
state_bytes() { od -A n -t x1 -j "$1" -N "$2" "$RUN_DIR/CONFIG.DAT" | xargs; }

gpio_word() { od -A n -t u4 -j $(($1 * 4)) -N 4 "$RUN_DIR/gpio.sim" | tr -d ' '; }

# le32 VALUE: the four bytes of VALUE as a little-endian 32-bit word (negative: two's
# complement).
le32() {
  local v=$(($1 & 4294967295))
  # shellcheck disable=SC2059 # the format is the four bytes as octal escapes
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $(((v >> 8) & 255)) \
    $(((v >> 16) & 255)) $(((v >> 24) & 255)))"
}

# gpio_write_word N VALUE: stores VALUE little-endian in word N without truncating the file.
gpio_write_word() {
  le32 "$2" | dd of="$RUN_DIR/gpio.sim" bs=4 seek="$1" conv=notrunc status=none
}

# write_state FILE ID: a whole record with capture number ID: menu 0 showing item 1, every
# menu on item 1, sleep period 1, idle, small preview.
write_state() {
  local i
  {
    le32 "$2"
    le32 0
    le32 1
    for i in $(seq 64); do le32 1; done
    le32 1
    le32 0
    le32 0
  } >"$1"
}

gpio_bit_set() { [ $(($(gpio_word "$1") >> $2 & 1)) -eq 1 ]; }

# press_button PIN ROW TEXT: pulls the button's level low until row ROW reads TEXT, then
# releases it. Releasing soon after the effect keeps a held button from repeating.
press_button() {
  local pin=$1
  gpio_write_word "$WORD_GPLEV0" $((4294967295 & ~(1 << pin)))
  wait_until "button on pin $pin to show '$3' on row $2" row_is "$2" "$3"
  gpio_write_word "$WORD_GPLEV0" 4294967295
  settle
}

# choose_play: from the EXPOSURE menu of test.ini, commits "PLAY" in the EXEC menu, so that
# Space opens the playback list.
choose_play() {
  press Down 11 "EFFECT"
  press Down 11 "EXEC"
  press Right 12 "$(centred VIDEO)"
  press Right 12 "$(centred PLAY)"
  key Enter
}

# centred LABEL: an item line of the 20-column cells of test.ini, trailing blanks dropped.
centred() { printf '%*s%s' $(((20 - ${#1}) / 2)) '' "$1"; }
