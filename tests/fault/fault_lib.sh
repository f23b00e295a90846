# Helpers of the fault scripts, on top of the end-to-end helpers: process figures from
# /proc, a check of CONFIG.DAT as a whole record, PATH directories holding only chosen
# tools, and a tmux pane that runs a script of many program runs.
# shellcheck shell=bash
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"

# shellcheck disable=SC2034 # for the scripts
FAULT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# ---------------------------------------------------------------------------------------
# Process figures

fd_count() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
# User and system CPU time in clock ticks (fields 14 and 15, after the command name).
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
cpu_hz() { getconf CLK_TCK; }

# other_children PID: children of PID that are neither camera tools nor the player, ended
# ones included: what would pile up if the program leaked processes.
other_children() {
  # shellcheck disable=SC2009 # pgrep cannot leave out names by a pattern
  ps -o comm= --ppid "$1" 2>/dev/null | grep -cvE '^(raspistill|raspivid|omxplayer\.bin)$' || true
}

# steady FUNCTION PID: the smallest of five samples 0.2 s apart, so a shell call that
# happens to run at one sample does not count.
steady() {
  local fn=$1 pid=$2 least="" value i
  for i in 1 2 3 4 5; do
    value=$("$fn" "$pid")
    if [ -z "$least" ] || [ "$value" -lt "$least" ]; then least=$value; fi
    sleep 0.2
  done
  echo "$least"
}

# start_on_terminal: inside a pane, starts ./harrowlight in the background on the pane's
# terminal and waits (at most 5 s) until its signal handlers are in place. Sets pid.
start_on_terminal() {
  ./harrowlight <&0 &
  pid=$!
  local i
  for ((i = 0; i < 500; i++)); do
    handlers_installed "$pid" && break
    sleep 0.01
  done
}

# ---------------------------------------------------------------------------------------
# CONFIG.DAT

# state_problem FILE: prints why FILE is not a whole, loadable record; nothing when it is.
state_problem() {
  local file=$1
  [ -e "$file" ] || { echo "missing"; return; }
  local size
  size=$(stat -c %s "$file")
  [ "$size" -eq 280 ] || { echo "size $size"; return; }
  local -a w
  read -r -a w <<<"$(od -A n -t d4 -v "$file" | xargs)"
  [ "${#w[@]}" -eq 70 ] || { echo "unreadable"; return; }
  [ "${w[0]}" -ge 0 ] || echo "ID ${w[0]}"
  [ "${w[1]}" -ge 0 ] && [ "${w[1]}" -le 63 ] || echo "MenuPos ${w[1]}"
  [ "${w[2]}" -ge 1 ] && [ "${w[2]}" -le 63 ] || echo "MenuItemPos ${w[2]}"
  local i
  for i in $(seq 3 66); do
    [ "${w[$i]}" -ge 1 ] && [ "${w[$i]}" -le 63 ] || echo "MenuSelection word $i ${w[$i]}"
  done
  [ "${w[67]}" -ge 0 ] || echo "SleepPeriod ${w[67]}"
  [ "${w[68]}" -ge 0 ] && [ "${w[68]}" -le 3 ] || echo "Mode ${w[68]}"
}

# expect_valid_state [FILE]: fails unless FILE (CONFIG.DAT of the run) is a whole record.
# shellcheck disable=SC2120 # the file is optional
expect_valid_state() {
  local problem
  problem=$(state_problem "${1:-$RUN_DIR/CONFIG.DAT}")
  [ -z "$problem" ] || fail "CONFIG.DAT is not a whole record: $problem"
}

# ---------------------------------------------------------------------------------------
# PATH directories

# tool_dir DIR TOOL...: DIR holds links to the named system tools (found on the current
# PATH) and nothing else; the pane script itself needs stty and sleep.
tool_dir() {
  local dir=$1 tool path
  shift
  mkdir -p "$dir"
  for tool in stty sleep "$@"; do
    path=$(command -v "$tool") || fail "tool $tool not found"
    ln -sf "$path" "$dir/$tool"
  done
}

# standin_links DIR NAME...: links to the built stand-ins of the given names.
standin_links() {
  local dir=$1 name
  shift
  mkdir -p "$dir"
  for name in "$@"; do ln -sf "$HL_STANDINS/$name" "$dir/$name"; done
}

# ---------------------------------------------------------------------------------------
# A pane running many program runs

# start_script_in_tmux WIDTH HEIGHT SCRIPT [ARG...]: runs the bash SCRIPT in a new pane
# from the run directory with the stand-ins first on PATH; the script ends by writing
# "finished" in the run directory.
start_script_in_tmux() {
  local width=$1 height=$2
  shift 2
  rm -f "$RUN_DIR/finished"
  {
    echo '#!/bin/bash'
    printf 'cd %q\n' "$RUN_DIR"
    printf 'export PATH=%q\n' "$HL_STANDINS:$PATH"
    printf 'export HARROWLIGHT_STANDIN_LOG=%q\n' "$STANDIN_LOG"
    # Standard input and output stay the terminal; errors go to a file.
    printf '%q ' bash "$@"
    echo '2>pane.err'
    echo 'echo $? >finished'
    echo 'exec sleep 3600'
  } >"$RUN_DIR/pane.sh"
  chmod +x "$RUN_DIR/pane.sh"
  new_pane "$width" "$height" "$RUN_DIR/pane.sh"
}

# random_sleep MAX_MS: sleeps a random time from 0 to MAX_MS milliseconds.
random_sleep() { sleep "$(printf '0.%03d' $((RANDOM % ($1 + 1))))"; }

