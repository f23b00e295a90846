#!/usr/bin/env bash
# The service's power-off helper (packaging/power-off) against a stand-in systemctl: it asks
# for the power-off only when the program ended by itself with exit status 3.
set -euo pipefail
PowerOff=$(cd "$(dirname "$0")/../../packaging" && pwd)/power-off
Scratch=$(mktemp -d)
trap 'rm -rf "$Scratch"' EXIT
cat > "$Scratch/systemctl" <<'STUB'
#!/bin/sh
echo "$*" >> "$STUB_LOG"
STUB
chmod 755 "$Scratch/systemctl"
Failures=0
Rows=0
# Each row: SERVICE_RESULT, EXIT_CODE, EXIT_STATUS as systemd sets them, wanted systemctl calls.
while IFS='|' read -r Result Code Status WantCalls; do
  : > "$Scratch/log"
  Rows=$((Rows + 1))
  env -u SERVICE_RESULT -u EXIT_CODE -u EXIT_STATUS PATH="$Scratch:$PATH" STUB_LOG="$Scratch/log" \
    ${Result:+SERVICE_RESULT=$Result} ${Code:+EXIT_CODE=$Code} ${Status:+EXIT_STATUS=$Status} \
    "$PowerOff" || { echo "FAIL: $Result/$Code/$Status: exit $?" >&2; Failures=$((Failures + 1)); }
  Calls=$(paste -sd, "$Scratch/log")
  if [ "$Calls" != "$WantCalls" ]; then
    echo "FAIL: $Result/$Code/$Status: calls '$Calls', wanted '$WantCalls'" >&2
    Failures=$((Failures + 1))
  fi
done <<'ROWS'
success|exited|3|--no-block poweroff
success|exited|0|
exit-code|exited|1|
signal|killed|TERM|
core-dump|dumped|3|
timeout|exited|3|
success|exited|33|
|||
ROWS
[ "$Failures" -eq 0 ] || { echo "power-off helper: $Failures of $Rows rows failed"; exit 1; }
echo "power-off helper: $Rows passed, 0 failed"
