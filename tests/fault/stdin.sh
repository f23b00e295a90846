#!/bin/bash
# Standard input closed, at end of file, a silent pipe or flooded with random bytes, and standard
# output closed: no hang, no busy loop, bounded memory, SIGTERM still ends the run through the
# shutdown sequence, and no device or file the program opens takes a closed stream's place.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run stdin "$@"
install_program simgpio
no_power_off
export PATH="$HL_STANDINS:$PATH" HARROWLIGHT_STANDIN_LOG="$STANDIN_LOG"
cd "$RUN_DIR"
WINDOW=${FAULT_STDIN_SECONDS:-4} HZ=$(getconf CLK_TCK)

# Every case runs; a fault fails the test at its end (as a failed check does).
fault() { log "FAIL: $*" && CHECK_FAILURES=$((CHECK_FAILURES + 1)); }

# The checks, given the program's PID and the case. idle: over WINDOW seconds it uses under a
# quarter of a core, and its peak resident memory stays under 16 MB above the window's start.
check_idle() {
  local used first most
  used=$(cpu_ticks "$1" | cut -d' ' -f1)
  first=$(proc_kb "$1" VmRSS)
  sleep "$WINDOW"
  most=$(proc_kb "$1" VmHWM)
  used=$(($(cpu_ticks "$1" | cut -d' ' -f1) - used))
  log "$2: $used CPU ticks of $((WINDOW * HZ)) in ${WINDOW}s, memory $first kB, at most $most kB"
  [ $((used * 4)) -lt $((WINDOW * HZ)) ] || fault "$2: busy loop ($used ticks)"
  [ $((most - first)) -lt 16384 ] || fault "$2: memory grew from $first to $most kB"
}
# streams: none of its descriptors 0-2 is the GPIO page, CONFIG.DAT or the configuration.
check_streams() {
  local taken
  taken=$(find "/proc/$1/fd" -name '[012]' -printf '%f is %l\n' 2>/dev/null |
    grep -E '/(gpio\.sim|CONFIG\.DAT.*|Harrowlight\.ini)$') || true
  [ -z "$taken" ] || fault "$2: descriptor $taken"
}
# end: SIGTERM ends the run within the wait bound (else it is killed): status 0, a whole CONFIG.DAT.
check_end() {
  rm -f CONFIG.DAT
  kill -TERM "$1" 2>/dev/null || true
  if ! (wait_until "$2: the end after SIGTERM" process_gone "$1"); then
    fault "$2: SIGTERM did not end the run (it waits in $(cat "/proc/$1/wchan"))"
    kill -KILL "$1"
  fi
  wait "$1" || fault "$2: exit status $?"
  (expect_valid_state) || fault "$2: no whole CONFIG.DAT after shutdown"
}
# page, after the end: only the program's own pin writes changed the GPIO page, never the screen.
check_page() {
  [ "$(od -A n -t x1 -v gpio.sim | grep -cw 1b)" -eq 0 ] ||
    fault "$2: the screen was written into the GPIO page"
}

# The silent pipe's writer is this script, writing nothing; the flood's waits for its reader.
mkfifo silent flood
exec 7<>silent
cat /dev/urandom >flood 2>/dev/null &
BACKGROUND_PIDS+=($!)
# Each row: the case, the program's streams, its checks in turn.
cases=(
  "input at end of file|</dev/null >screen.out 2>&1|idle end"
  "silent pipe|<silent >screen.out 2>&1|idle end"
  "closed input|<&- >screen.out 2>&1|streams idle end"
  "closed output|</dev/null >&- 2>/dev/null|streams idle end page"
  "flooded input|<flood >/dev/null 2>&1|idle end"
)
for row in "${cases[@]}"; do
  IFS='|' read -r what streams checks <<<"$row"
  log "standard streams: $what"
  gpio_reset
  eval "./harrowlight $streams &"
  pid=$!
  wait_until "the program to start" handlers_installed "$pid"
  sleep 2 # past the size query
  for check in $checks; do "check_$check" "$pid" "$what"; done
done
