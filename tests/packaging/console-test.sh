#!/usr/bin/env bash
# The tty1 handover of the service (packaging/console) against stand-in ps and systemctl:
# it stops the login prompt only when nobody is logged in on tty1 or the system boots (else
# it leaves the file that fails the camera's start, and the reason for its journal), and
# starts the prompt again afterwards even when the service manager refuses.
set -euo pipefail
Console=$(cd "$(dirname "$0")/../../packaging" && pwd)/console
Scratch=$(mktemp -d)
trap 'rm -rf "$Scratch"' EXIT
Failures=0
Rows=0

cat > "$Scratch/ps" <<'STUB'
#!/bin/sh
printf '%b' "$STUB_TTY_PROCESSES"
STUB
cat > "$Scratch/systemctl" <<'STUB'
#!/bin/sh
if [ "$1" = is-system-running ]; then echo "$STUB_SYSTEM_STATE"; exit 0; fi
echo "$*" >> "$STUB_LOG"
exit "${STUB_SYSTEMCTL_STATUS:-0}"
STUB
cat > "$Scratch/logger" <<'STUB'
#!/bin/sh
cat >> "$STUB_LOG"
STUB
chmod 755 "$Scratch/ps" "$Scratch/systemctl" "$Scratch/logger"

# Each row: action, system state, processes on tty1, systemctl's status, wanted exit
# status, wanted systemctl calls (and the reason sent to the journal), whether the file that
# fails the camera's start is left.
while IFS='|' read -r Action State Processes Status WantStatus WantCalls WantBusy; do
  : > "$Scratch/log"
  touch "$Scratch/busy"
  Rows=$((Rows + 1))
  Got=0
  PATH="$Scratch:$PATH" STUB_LOG="$Scratch/log" STUB_SYSTEM_STATE=$State HARROWLIGHT_TTY1_BUSY=$Scratch/busy \
    STUB_TTY_PROCESSES=$Processes STUB_SYSTEMCTL_STATUS=$Status \
    "$Console" "$Action" 2> /dev/null || Got=$?
  Calls=$(grep -v -e '^SYSLOG_IDENTIFIER=harrowlight$' -e '^PRIORITY=5$' \
    -e '^OBJECT_SYSTEMD_UNIT=harrowlight.service$' "$Scratch/log" | paste -sd,)
  Busy=no && [ -e "$Scratch/busy" ] && Busy=yes
  if [ "$Got" != "$WantStatus" ] || [ "$Calls" != "$WantCalls" ] || [ "$Busy" != "$WantBusy" ]; then
    echo "FAIL: $Action ($State, '$Processes'): exit $Got, calls '$Calls', busy $Busy;" \
      "wanted exit $WantStatus, calls '$WantCalls', busy $WantBusy" >&2
    Failures=$((Failures + 1))
  fi
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
[ "$Failures" -eq 0 ] || { echo "console handover: $((Rows - Failures)) passed, $Failures failed"; exit 1; }
echo "console handover: $Rows passed, 0 failed"
