#!/usr/bin/env bash
# The service's helpers against stand-in ps, systemctl and logger. console: tty1's login prompt
# stopped only when nobody is logged in there or the system boots (else the file that fails the
# camera's start, and the reason), started again even if systemctl refuses. power-off: asked for
# only when the program ended by itself with exit status 3.
# shellcheck source=tests/lib/harness.sh disable=SC2016 # the stand-ins expand their variables
. "$(dirname "$0")/../lib/harness.sh"
setup_run packaging
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$RUN_DIR/$1" && chmod 755 "$RUN_DIR/$1"; }
stub ps 'printf "%b" "$STUB_TTY_PROCESSES"'
stub systemctl 'if [ "$1" = is-system-running ]; then echo "$STUB_SYSTEM_STATE"; exit 0; fi
echo "$*" >> "$STUB_LOG"
exit "${STUB_SYSTEMCTL_STATUS:-0}"'
stub logger 'cat >> "$STUB_LOG"'

# run HELPER ARGUMENT NAME=VALUE...: packaging/HELPER with the stand-ins, the NAMEs and none of
# systemd's variables else; its exit status, systemctl calls and the reason sent to the journal.
run() {
  local got=0
  : >"$RUN_DIR/log"
  env -u SERVICE_RESULT -u EXIT_CODE -u EXIT_STATUS PATH="$RUN_DIR:$PATH" STUB_LOG="$RUN_DIR/log" \
    "${@:3}" "$TESTS_DIR/../packaging/$1" "$2" 2>/dev/null || got=$?
  printf "exit %s, calls '%s'" "$got" "$(grep -v -e '^SYSLOG_IDENTIFIER=harrowlight$' \
    -e '^PRIORITY=5$' -e '^OBJECT_SYSTEMD_UNIT=harrowlight.service$' "$RUN_DIR/log" | paste -sd,)"
}

# Each row: action, system state, tty1's processes, systemctl's status; the wanted outcome.
while IFS='|' read -r Action State Processes Status WantStatus WantCalls WantBusy; do
  touch "$RUN_DIR/busy"
  Got=$(run console "$Action" STUB_SYSTEM_STATE="$State" STUB_TTY_PROCESSES="$Processes" \
    STUB_SYSTEMCTL_STATUS="$Status" HARROWLIGHT_TTY1_BUSY="$RUN_DIR/busy")
  [ -e "$RUN_DIR/busy" ] && Got+=", busy yes" || Got+=", busy no"
  check "console $Action ($State, '$Processes', systemctl $Status)" matches "$Got" \
    "exit $WantStatus, calls '$WantCalls', busy $WantBusy"
done <<'ROWS'
take|running||0|0|stop getty@tty1.service|no
take|running|agetty\n|0|0|stop getty@tty1.service|no
take|degraded|login\n|0|0|stop getty@tty1.service|no
take|running|login\nbash\n|0|0|MESSAGE=someone is logged in on tty1|yes
take|degraded|harrowlight\n|0|0|MESSAGE=someone is logged in on tty1|yes
take|starting|login\nbash\n|0|0|stop getty@tty1.service|no
take|running|agetty\n|1|1|stop getty@tty1.service|no
give-back|running||0|0|--no-block start getty@tty1.service|no
give-back|stopping||1|0|--no-block start getty@tty1.service|no
ROWS

# Each row: SERVICE_RESULT, EXIT_CODE, EXIT_STATUS (an empty one unset), the wanted calls.
while IFS='|' read -r Result Code Status WantCalls; do
  check "power-off $Result/$Code/$Status" matches "$(run power-off "" \
    ${Result:+SERVICE_RESULT=$Result} ${Code:+EXIT_CODE=$Code} ${Status:+EXIT_STATUS=$Status})" \
    "exit 0, calls '$WantCalls'"
done <<'ROWS'
success|exited|3|--no-block poweroff
success|exited|0|
exit-code|exited|1|
signal|killed|TERM|
core-dump|dumped|3|
timeout|exited|3|
success|exited|33|
success|killed|3|
|||
ROWS
