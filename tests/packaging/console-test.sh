#!/usr/bin/env bash
# The service's tty1 handover (packaging/console) against stand-in ps, systemctl and logger: the
# login prompt stopped only when nobody is logged in on tty1 or the system boots (else the file
# that fails the camera's start, and the reason), started again even if systemctl refuses.
# shellcheck source=tests/lib/harness.sh disable=SC2016 # the stand-ins expand their variables
. "$(dirname "$0")/../lib/harness.sh"
setup_run packaging-console
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$RUN_DIR/$1" && chmod 755 "$RUN_DIR/$1"; }
stub ps 'printf "%b" "$STUB_TTY_PROCESSES"'
stub systemctl 'if [ "$1" = is-system-running ]; then echo "$STUB_SYSTEM_STATE"; exit 0; fi
echo "$*" >> "$STUB_LOG"
exit "${STUB_SYSTEMCTL_STATUS:-0}"'
stub logger 'cat >> "$STUB_LOG"'

# handover ACTION STATE PROCESSES STATUS: the helper's exit status, its systemctl calls (and
# the reason sent to the journal), whether the file that fails the camera's start is left.
handover() {
  local got=0 busy=no
  : >"$RUN_DIR/log" && touch "$RUN_DIR/busy"
  PATH="$RUN_DIR:$PATH" STUB_LOG="$RUN_DIR/log" STUB_SYSTEM_STATE=$2 STUB_TTY_PROCESSES=$3 \
    STUB_SYSTEMCTL_STATUS=$4 HARROWLIGHT_TTY1_BUSY=$RUN_DIR/busy \
    "$TESTS_DIR/../packaging/console" "$1" 2>/dev/null || got=$?
  [ ! -e "$RUN_DIR/busy" ] || busy=yes
  echo "exit $got, calls '$(grep -v -e '^SYSLOG_IDENTIFIER=harrowlight$' -e '^PRIORITY=5$' \
    -e '^OBJECT_SYSTEMD_UNIT=harrowlight.service$' "$RUN_DIR/log" | paste -sd,)', busy $busy"
}

# Each row: action, system state, processes on tty1, systemctl's status, and what is wanted.
while IFS='|' read -r Action State Processes Status WantStatus WantCalls WantBusy; do
  check "$Action ($State, '$Processes', systemctl $Status)" matches \
    "$(handover "$Action" "$State" "$Processes" "$Status")" \
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
