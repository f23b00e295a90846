#!/usr/bin/env bash
# The service's power-off helper (packaging/power-off) against a stand-in systemctl: it asks
# for the power-off only when the program ended by itself with exit status 3.
# shellcheck source=tests/lib/harness.sh disable=SC2016 # the stand-ins expand their variables
. "$(dirname "$0")/../lib/harness.sh"
setup_run packaging-power-off
printf '#!/bin/sh\necho "$*" >> "$STUB_LOG"\n' >"$RUN_DIR/systemctl"
chmod 755 "$RUN_DIR/systemctl"

# power_off RESULT CODE STATUS: the helper's exit status and systemctl calls when systemd
# sets SERVICE_RESULT, EXIT_CODE and EXIT_STATUS so (an empty one unset).
power_off() {
  local got=0
  : >"$RUN_DIR/log"
  env -u SERVICE_RESULT -u EXIT_CODE -u EXIT_STATUS PATH="$RUN_DIR:$PATH" STUB_LOG="$RUN_DIR/log" \
    ${1:+SERVICE_RESULT=$1} ${2:+EXIT_CODE=$2} ${3:+EXIT_STATUS=$3} \
    "$TESTS_DIR/../packaging/power-off" || got=$?
  echo "exit $got, calls '$(paste -sd, "$RUN_DIR/log")'"
}

# Each row: SERVICE_RESULT, EXIT_CODE, EXIT_STATUS, the wanted systemctl calls.
while IFS='|' read -r Result Code Status WantCalls; do
  check "$Result/$Code/$Status" matches "$(power_off "$Result" "$Code" "$Status")" \
    "exit 0, calls '$WantCalls'"
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
