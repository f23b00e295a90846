#!/bin/bash
# Standard input closed, at end of file, a silent pipe or flooded with random bytes, and
# standard output closed: no hang, no busy loop, bounded memory, SIGTERM still ends the
# run through the shutdown sequence, and no device or file the program opens ever takes
# the place of a closed standard stream.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run stdin "$@"
install_program simgpio
export PATH="$HL_STANDINS:$PATH" HARROWLIGHT_STANDIN_LOG="$STANDIN_LOG"
cd "$RUN_DIR"

WINDOW=${FAULT_STDIN_SECONDS:-4}
hz=$(getconf CLK_TCK)

# started PID: waits until the run has its handlers and has gone past the size query.
wait_started() {
  wait_until "the program to start" handlers_installed "$1"
  sleep 2
}

# Every case runs; the faults found are reported together at the end.
FAULTS=()
fault() {
  log "FAULT: $*"
  FAULTS+=("$*")
}

# end_run PID WHAT: SIGTERM; the run must end within the wait bound with status 0 and
# leave a whole CONFIG.DAT. A run that does not end is killed.
end_run() {
  local pid=$1 what=$2 status=0 deadline=$((SECONDS + HARNESS_WAIT))
  rm -f CONFIG.DAT
  kill -TERM "$pid" 2>/dev/null || true
  until process_gone "$pid"; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      fault "$what: SIGTERM did not end the run (it waits in $(cat "/proc/$pid/wchan"))"
      kill -KILL "$pid"
      wait "$pid" || true
      return
    fi
    sleep 0.1
  done
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fault "$what: exit status $status"
  local problem
  problem=$(state_problem CONFIG.DAT)
  [ -z "$problem" ] || fault "$what: CONFIG.DAT after shutdown: $problem"
}

# idle_cpu PID WHAT: CPU time over WINDOW seconds stays under a quarter of one core.
idle_cpu() {
  local pid=$1 what=$2 first last
  first=$(own_cpu_ticks "$pid")
  sleep "$WINDOW"
  last=$(own_cpu_ticks "$pid")
  log "$what: $((last - first)) CPU ticks of $((WINDOW * hz)) in ${WINDOW}s"
  [ $(((last - first) * 4)) -lt $((WINDOW * hz)) ] || fault "$what: busy loop ($((last - first)) ticks)"
}

# stream_problem PID: none of the program's descriptors 0-2 is gpio.sim or CONFIG.DAT.
stream_problem() {
  local fd target
  for fd in 0 1 2; do
    target=$(readlink "/proc/$1/fd/$fd" 2>/dev/null || true)
    case $target in
      */gpio.sim | */CONFIG.DAT* | */Harrowlight.ini) echo "descriptor $fd is $target" ;;
    esac
  done
}

# The test holds the silent pipe's writing end open and writes nothing.
mkfifo silent
exec 7<>silent
# Each row: the case, the program's streams, its checks (cpu: no busy loop; streams: no
# device or file on a closed stream; page: no screen text in the GPIO page).
cases=(
  "input at end of file|</dev/null >screen.out 2>&1|cpu"
  "silent pipe|<silent >screen.out 2>&1|cpu"
  "closed input|<&- >screen.out 2>&1|streams cpu"
  "closed output|</dev/null >&- 2>/dev/null|streams page"
)
for row in "${cases[@]}"; do
  IFS='|' read -r what streams checks <<<"$row"
  log "standard streams: $what"
  head -c 4096 /dev/zero >gpio.sim
  gpio_write_word "$WORD_GPLEV0" 4294967295
  eval "./harrowlight $streams &"
  pid=$!
  wait_started "$pid"
  problem=""
  [[ $checks != *streams* ]] || problem=$(stream_problem "$pid")
  [[ $checks != *cpu* ]] || idle_cpu "$pid" "$what"
  end_run "$pid" "$what"
  [ -z "$problem" ] || fault "$what: $problem"
  # Only the program's own pin writes may change the page: never screen text.
  if [[ $checks == *page* ]] && od -A n -t x1 -v gpio.sim | grep -qw 1b; then
    fault "$what: the screen was written into the GPIO page"
  fi
done
exec 7>&-

log "standard input flooded with random bytes"
# A power menu without "OFF", so random keys cannot end the run by themselves.
config_set MENU_4 "POWER,HIDE MENU,LED OFF,LED ON,SLEEP 1M,SLEEP OFF"
config_set MENU_VALUE_4 "POWER,HIDE MENU,LED OFF,LED ON,SLEEP 1,SLEEP OFF"
mkfifo flood
./harrowlight <flood >/dev/null 2>&1 &
pid=$!
cat /dev/urandom >flood 2>/dev/null &
BACKGROUND_PIDS+=($!)
wait_until "the program to start" handlers_installed "$pid"
sleep 1
first_rss=$(rss_kb "$pid")
most_rss=$first_rss
for i in $(seq $((WINDOW * 2))); do
  sleep 0.5
  rss=$(rss_kb "$pid")
  [ "$rss" -le "$most_rss" ] || most_rss=$rss
done
log "flood: resident memory ${first_rss} kB at first, at most ${most_rss} kB"
[ $((most_rss - first_rss)) -lt 16384 ] || fault "flood: memory grew from $first_rss to $most_rss kB"
end_run "$pid" "flooded input"

[ "${#FAULTS[@]}" -eq 0 ] || fail "$(printf '%s\n' "${FAULTS[@]}")"
