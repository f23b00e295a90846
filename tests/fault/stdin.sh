#!/bin/bash
# Standard input closed, at end of file, a silent pipe or flooded with random bytes, and
# standard output closed: no hang, no busy loop, bounded memory, SIGTERM still ends the
# run through the shutdown sequence, and no device or file the program opens ever takes
# the place of a closed standard stream.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run stdin "$@"
install_program simgpio
# A power menu without "OFF", so random keys cannot end the run by themselves.
config_set MENU_4 "POWER,HIDE MENU,LED OFF,LED ON,SLEEP 1M,SLEEP OFF"
config_set MENU_VALUE_4 "POWER,HIDE MENU,LED OFF,LED ON,SLEEP 1,SLEEP OFF"
export PATH="$HL_STANDINS:$PATH" HARROWLIGHT_STANDIN_LOG="$STANDIN_LOG"
cd "$RUN_DIR"
WINDOW=${FAULT_STDIN_SECONDS:-4}

# Every case runs; the faults found are reported together at the end.
FAULTS=()
fault() {
  log "FAULT: $*"
  FAULTS+=("$*")
}

# The checks of a case, each given the program's PID and the case. cpu: its CPU time over
# WINDOW seconds stays under a quarter of one core.
check_cpu() {
  local first last hz
  hz=$(getconf CLK_TCK)
  first=$(own_cpu_ticks "$1")
  sleep "$WINDOW"
  last=$(own_cpu_ticks "$1")
  log "$2: $((last - first)) CPU ticks of $((WINDOW * hz)) in ${WINDOW}s"
  [ $(((last - first) * 4)) -lt $((WINDOW * hz)) ] || fault "$2: busy loop ($((last - first)) ticks)"
}
# streams: none of its descriptors 0-2 is the GPIO page, CONFIG.DAT or the configuration.
check_streams() {
  local fd target
  for fd in 0 1 2; do
    target=$(readlink "/proc/$1/fd/$fd" 2>/dev/null || true)
    case $target in
      */gpio.sim | */CONFIG.DAT* | */Harrowlight.ini) fault "$2: descriptor $fd is $target" ;;
    esac
  done
}
# memory: resident memory, sampled twice a second over WINDOW seconds, grows by under 16 MB.
check_memory() {
  local first most
  first=$(rss_kb "$1")
  most=$(for _ in $(seq $((WINDOW * 2))); do
    sleep 0.5
    rss_kb "$1"
  done | sort -n | tail -1)
  log "$2: resident memory ${first} kB at first, at most ${most} kB"
  [ $((most - first)) -lt 16384 ] || fault "$2: memory grew from $first to $most kB"
}
# end: SIGTERM ends the run within the wait bound (else it is killed), with status 0 and a
# whole CONFIG.DAT.
check_end() {
  local status=0 problem
  rm -f CONFIG.DAT
  kill -TERM "$1" 2>/dev/null || true
  if ! (wait_until "$2: the end after SIGTERM" process_gone "$1"); then
    fault "$2: SIGTERM did not end the run (it waits in $(cat "/proc/$1/wchan"))"
    kill -KILL "$1"
  fi
  wait "$1" || status=$?
  [ "$status" -eq 0 ] || fault "$2: exit status $status"
  problem=$(state_problem CONFIG.DAT)
  [ -z "$problem" ] || fault "$2: CONFIG.DAT after shutdown: $problem"
}
# page, after the end: only the program's own pin writes changed the GPIO page, never the screen.
check_page() {
  ! od -A n -t x1 -v gpio.sim | grep -qw 1b || fault "$2: the screen was written into the GPIO page"
}

# The test holds the silent pipe's writing end open and writes nothing; the flood's writer
# waits for the flooded case to open the other end.
mkfifo silent flood
exec 7<>silent
cat /dev/urandom >flood 2>/dev/null &
BACKGROUND_PIDS+=($!)
# Each row: the case, the program's streams, its checks in turn.
cases=(
  "input at end of file|</dev/null >screen.out 2>&1|cpu end"
  "silent pipe|<silent >screen.out 2>&1|cpu end"
  "closed input|<&- >screen.out 2>&1|streams cpu end"
  "closed output|</dev/null >&- 2>/dev/null|streams end page"
  "flooded input|<flood >/dev/null 2>&1|memory end"
)
for row in "${cases[@]}"; do
  IFS='|' read -r what streams checks <<<"$row"
  log "standard streams: $what"
  head -c 4096 /dev/zero >gpio.sim
  gpio_write_word "$WORD_GPLEV0" 4294967295
  eval "./harrowlight $streams &"
  pid=$!
  wait_until "the program to start" handlers_installed "$pid"
  # Past the size query.
  sleep 2
  for check in $checks; do "check_$check" "$pid" "$what"; done
done
exec 7>&-
[ "${#FAULTS[@]}" -eq 0 ] || fail "$(printf '%s\n' "${FAULTS[@]}")"
