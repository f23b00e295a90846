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
  until run_ended "$pid"; do
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

run_ended() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null || true)
  [ -z "$state" ] || [ "$state" = Z ]
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

reset_gpio() {
  head -c 4096 /dev/zero >gpio.sim
  gpio_write_word "$WORD_GPLEV0" 4294967295
}

log "standard input at end of file"
./harrowlight </dev/null >screen.out 2>&1 &
pid=$!
wait_started "$pid"
idle_cpu "$pid" "input at end of file"
end_run "$pid" "input at end of file"

log "standard input a pipe that stays silent"
# The test holds the pipe's writing end open and writes nothing.
mkfifo silent
exec 7<>silent
./harrowlight <silent >screen.out 2>&1 &
pid=$!
wait_started "$pid"
idle_cpu "$pid" "silent pipe"
end_run "$pid" "silent pipe"
exec 7>&-

log "standard input closed"
reset_gpio
./harrowlight <&- >screen.out 2>&1 &
pid=$!
wait_started "$pid"
problem=$(stream_problem "$pid")
idle_cpu "$pid" "closed input"
end_run "$pid" "closed input"
[ -z "$problem" ] || fault "closed input: $problem"

log "standard output closed"
reset_gpio
cp gpio.sim gpio.before
./harrowlight </dev/null >&- 2>/dev/null &
pid=$!
wait_started "$pid"
problem=$(stream_problem "$pid")
end_run "$pid" "closed output"
[ -z "$problem" ] || fault "closed output: $problem"
# Only the program's own pin writes may change the page: never screen text.
if od -A n -t x1 -v gpio.sim | grep -qw 1b; then
  fault "closed output: the screen was written into the GPIO page"
fi

log "standard input flooded with random bytes"
reset_gpio
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
