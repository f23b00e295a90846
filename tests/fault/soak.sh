#!/bin/bash
# Soak run: random keys and simulated button presses against the simulated-GPIO program,
# with camera tools that end at random times or crash; resident memory, open descriptors
# and child processes stay flat and CONFIG.DAT stays a whole record throughout.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run soak "$@"
install_program simgpio
no_power_off
tools=$RUN_DIR/tools
mkdir "$tools"
# Each call runs 0.1 to 3 seconds, whatever its template says, and one in five crashes.
# shellcheck disable=SC2016 # the body is the scripts' own
tool_scripts "$tools" 'if [ $((RANDOM % 5)) -eq 0 ]; then export HARROWLIGHT_STANDIN_EXIT=crash; fi
exec %s "$@" -t $((100 + RANDOM % 2900))' raspistill raspivid
for name in one two three; do echo data >"$RUN_DIR/captures/$name.jpg"; done
# figures PID: its resident memory (kB), descriptors and other children, after 3 s.
figures() { sleep 3 && echo "$(steady proc_kb "$1" VmRSS) $(leak_counts "$1")"; }

start_in_tmux 80 24 "PATH=$tools:$HL_STANDINS:$PATH" HARROWLIGHT_STANDIN_MS=2000
read -r rss0 fds0 kids0 <<<"$(figures "$PROGRAM_PID")"
DURATION=${FAULT_SOAK_SECONDS:-90}
log "${DURATION}s: memory ${rss0} kB, descriptors $fds0, other children $kids0 at the start"
KEYS=(Up Down Left Right Enter Space)
PINS=("$PIN_UP" "$PIN_DOWN" "$PIN_LEFT" "$PIN_RIGHT" "$PIN_ENTER" "$PIN_SPACE")
presses=0
end=$((SECONDS + DURATION))
while [ "$SECONDS" -lt "$end" ]; do
  if [ $((RANDOM % 2)) -eq 0 ]; then
    key "${KEYS[$((RANDOM % 6))]}"
  else
    gpio_write_word "$WORD_GPLEV0" $((4294967295 & ~(1 << PINS[RANDOM % 6])))
    random_sleep 200
    buttons_up
  fi
  presses=$((presses + 1))
  random_sleep 300
  if [ $((presses % 50)) -eq 0 ] && [ -e "$RUN_DIR/CONFIG.DAT" ]; then expect_valid_state; fi
  program_running || fail "the program ended after $presses presses"
done
read -r rss1 fds1 kids1 <<<"$(figures "$PROGRAM_PID")"
log "$presses keys and buttons: memory ${rss1} kB, descriptors $fds1, other children $kids1"
# Memory is judged in the plain build only: the sanitizers' quarantine keeps freed blocks.
[ -n "${HARROWLIGHT_SANITIZED:-}" ] || [ "$rss1" -le $((rss0 + 1024)) ] ||
  fail "resident memory grew from $rss0 to $rss1 kB"
[ "$fds1" -le "$fds0" ] || fail "descriptors grew from $fds0 to $fds1"
[ "$kids1" -le "$kids0" ] || fail "children grew from $kids0 to $kids1"
end_run TERM
