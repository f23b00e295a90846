# Helpers of the benchmark: a private run directory with the program, the benchmark
# configuration and stand-in camera tools; a tmux pane whose program lives in its own PID
# namespace (so its "ps -C" and "killall" see only this run's camera tools); statistics.
# shellcheck shell=bash disable=SC2034

BENCH_ROWS=24
BENCH_COLS=80

# Screen rows of bench.ini on a 24-row pane: the status line, and the title and item line
# of the highlighted menu (slot 5 of an 11-row window: 1 + 2*5).
ROW_STATUS=1
ROW_TITLE=11
ROW_ITEM=12

note() { echo "bench: $*" >&2; }
die() {
  echo "bench: error: $*" >&2
  exit 1
}

# prepare_run_dir DIR PROGRAM TOOLS_BIN: a fresh directory holding the program as
# ./harrowlight, its configuration, a capture folder and no saved state.
prepare_run_dir() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir/captures"
  cp "$2" "$dir/harrowlight"
  sed "s|@CAPTURES@|$dir/captures|" "$BENCH_DIR/bench.ini" >"$dir/Harrowlight.ini"
}

# in_namespace CMD...: runs CMD as the first process of a private PID namespace with its
# own /proc, so process queries and kills by name stay inside this run.
in_namespace() { unshare --pid --fork --mount-proc "$@"; }

# ---------------------------------------------------------------------------------------
# tmux

tmux_cmd() { tmux -L "$TMUX_SOCKET" -f /dev/null "$@"; }

# start_pane DIR TOOLS_BIN: the program in a BENCH_COLS x BENCH_ROWS pane; sets PROGRAM_PID
# to its process id as seen from here.
start_pane() {
  local dir=$1 bin=$2
  {
    echo '#!/bin/bash'
    printf 'cd %q\n' "$dir"
    printf 'export PATH=%q\n' "$bin:$PATH"
    echo './harrowlight <&0'
    echo 'exec sleep 3600'
  } >"$dir/pane.sh"
  chmod +x "$dir/pane.sh"
  TMUX_SOCKET="harrowlight-bench-$$"
  tmux_cmd new-session -d -s hl -x "$BENCH_COLS" -y "$BENCH_ROWS" \
    "unshare --pid --fork --mount-proc $dir/pane.sh"
  PROGRAM_PID=""

  for _ in $(seq 100); do
    PROGRAM_PID=$(program_pid_in "$dir")
    [ -n "$PROGRAM_PID" ] && break
    sleep 0.05
  done
  [ -n "$PROGRAM_PID" ] || die "the program did not start in the pane"
}

# The harrowlight process whose working directory is DIR.
program_pid_in() {
  local pid
  for pid in $(pgrep -x harrowlight); do
    if [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" = "$1" ]; then
      echo "$pid"
      return
    fi
  done
}

stop_pane() {
  [ -n "${TMUX_SOCKET:-}" ] && tmux_cmd kill-server 2>/dev/null
  TMUX_SOCKET=""
}

# row N: the text of screen row N (from 1), trailing blanks dropped. One tmux call.
row() { tmux_cmd capture-pane -p -t hl -S $(($1 - 1)) -E $(($1 - 1)); }

# wait_row N TEXT [LIMIT_SECONDS]: polls row N until it reads TEXT.
wait_row() {
  local deadline=$((SECONDS + ${3:-10}))
  until [ "$(row "$1")" = "$2" ]; do
    [ "$SECONDS" -lt "$deadline" ] || die "row $1 never read '$2' (it reads '$(row "$1")')"
  done
}

# centred LABEL: an item line of the 20-column cells, trailing blanks dropped.
centred() { printf '%*s%s' $(((20 - ${#1}) / 2)) '' "$1"; }

# ---------------------------------------------------------------------------------------
# Figures

# now_us: microseconds of the wall clock, without starting a process.
now_us() {
  local t=${EPOCHREALTIME/./}
  echo "$t"
}

# stats FILE: "n median p95 max" of the numbers in FILE (p95 by nearest rank).
stats() {
  sort -n "$1" | awk '{v[NR]=$1} END {
    if (NR == 0) { print "0 NA NA NA"; exit }
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    r = int(0.95 * NR); if (r < 0.95 * NR) r++
    printf "%d %.1f %.1f %.1f\n", NR, m, v[r], v[NR] }'
}

# proc_status_kb PID KEY: a kB figure of /proc/PID/status (VmHWM, VmRSS, ...).
proc_status_kb() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }

# cpu_ticks PID: "own children" clock ticks of /proc/PID/stat (utime+stime, cutime+cstime).
cpu_ticks() {
  # The name field may hold blanks; the fields after it start at the last ")".
  sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13, $14 + $15}'
}

# run_ns PID: nanoseconds the process has run on a CPU (its own threads only).
run_ns() { awk '{print $1}' "/proc/$1/schedstat"; }

# other_programs: harrowlight processes of other runs on this machine (end-to-end tests).
other_programs() {
  local pid mine=${PROGRAM_PID:-none}
  for pid in $(pgrep -x harrowlight); do
    [ "$pid" = "$mine" ] || echo "$pid"
  done
}
