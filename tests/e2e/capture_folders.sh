#!/bin/bash
# Capture folders that cannot take a capture, on real file systems: a read-only one and a
# full one (a tmpfs smaller than the free space a capture needs) each show their message,
# run no capture command and leave "REC" off; with the free-space check switched off
# ("CAPTURE_MIN_FREE_MB=0") the capture runs. The tmpfs is mounted in the run's private
# mount namespace; where that is not possible the test is skipped (status 77).
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run capture_folders "$@"

captures=$RUN_DIR/captures
preview='^raspistill .* -p 480'

# mount_captures OPTIONS: a fresh 1 MiB tmpfs on the capture folder, or a skip.
mount_captures() {
  umount "$captures" 2>/dev/null || true
  if [ -z "${HARNESS_ISOLATED:-}" ] ||
    ! mount -t tmpfs -o "size=1m,$1" tmpfs "$captures" 2>/dev/null; then
    echo "[capture_folders] SKIP: no private mount namespace, or mounting a tmpfs is not permitted"
    exit 77
  fi
}

# Each row: mount options, configuration line, the message ("" when the capture runs).
rows=(
  "ro||Capture folder not writable."
  "rw||Card full."
  "rw|CAPTURE_MIN_FREE_MB=0|"
)
for row in "${rows[@]}"; do
  IFS='|' read -r options setting message <<<"$row"
  log "tmpfs $options ${setting:-(default threshold)}"
  install_program production
  [ -z "$setting" ] || config_set "${setting%%=*}" "${setting#*=}"
  rm -f "$RUN_DIR/CONFIG.DAT"
  mount_captures "$options"
  : >"$STANDIN_LOG"
  start_in_tmux 80 24
  wait_log "$preview" 1
  settle
  key Space
  if [ -n "$message" ]; then
    wait_until "the error line to read '$message'" message_shows "$message"
    # The whole top line is rewritten: nothing of the status line is left beside the first
    # of the message's lines in the menu's 20 columns.
    expect_row 1 "$(fold -s -w 20 <<<"$message" | head -n1 | sed 's/ *$//')"
    settle
    [ "$(log_count ' -o ')" -eq 0 ] || fail "$message: a capture command ran"
    [ "$(standin_count raspistill)" -eq 1 ] || fail "$message: the preview is not running"
    ! screen_shows REC || fail "$message: REC shown"
  else
    wait_log " -o $captures/IMG_[0-9]{8}_000001\\.jpg\$" 1
    expect_row_has 1 REC
  fi
  expect_exit TERM
  stop_tmux
  kill_our_standins
done
umount "$captures"
