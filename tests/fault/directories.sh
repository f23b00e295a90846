#!/bin/bash
# Full and read-only program directories: every state save reports "Failed to open file:
# CONFIG.DAT", the old record stays whole and the run goes on (a capture, the preview after
# it, a clean SIGTERM). A capture into a missing directory runs nothing, creates nothing and
# says so. Needs permission to mount a tmpfs; skipped (status 77) without it.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run directories "$@"
install_program production
export PATH="$HL_STANDINS:$PATH" HARROWLIGHT_STANDIN_LOG="$STANDIN_LOG"

MOUNTS=()
unmount_all() {
  local m
  for m in "${MOUNTS[@]}"; do umount "$m" 2>/dev/null || true; done
}
CLEANUP_HOOKS+=(unmount_all)

# small_tmpfs DIR: a 512 kB tmpfs on DIR, or a skip when mounting is not permitted.
small_tmpfs() {
  mkdir -p "$1"
  if ! mount -t tmpfs -o size=512k tmpfs "$1" 2>/dev/null; then
    echo "[directories] SKIP: mounting a tmpfs is not permitted here"
    exit 77
  fi
  MOUNTS+=("$1")
}

# program_dir DIR: the program (a link, so the directory holds little), its configuration
# and a whole record with capture number 42.
program_dir() {
  ln -s "$RUN_DIR/harrowlight" "$1/harrowlight"
  cp "$RUN_DIR/Harrowlight.ini" "$1/"
  write_state "$1/CONFIG.DAT" 42
  expect_valid_state "$1/CONFIG.DAT"
}

# preview_after_capture: the stand-in log has a preview line after the capture line.
preview_after_capture() {
  awk '/ -o .*IMG_/ { captured = 1 } captured && /^raspistill .* -p / { found = 1 }
       END { exit !found }' "$STANDIN_LOG"
}

# run_unwritable DIR WHAT: runs the program from DIR with input from a file (a size reply,
# then Space: a capture and its save), then SIGTERM (the shutdown save).
run_unwritable() {
  local dir=$1 what=$2 status=0
  cp "$dir/CONFIG.DAT" "$RUN_DIR/before.dat"
  # An earlier run's capture would move this one's number on.
  rm -f "$RUN_DIR/captures/"*
  printf '\033[24;80R ' >"$RUN_DIR/keys"
  : >"$STANDIN_LOG"
  "$dir/harrowlight" <"$RUN_DIR/keys" >"$RUN_DIR/screen.out" 2>&1 &
  local pid=$!
  wait_log ' -o .*IMG_.*_000042\.jpg' 1
  # The capture tool runs two seconds; the preview started after it shows the run went on.
  # (The preview of the first tick is killed by the capture at once, so slowly starting
  # tools may never log it: only a preview after the capture counts.)
  wait_until "a preview after the capture" preview_after_capture
  kill -TERM "$pid"
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "$what: exit status $status"
  local failures
  failures=$(grep -c 'Failed to open file: CONFIG.DAT' "$RUN_DIR/screen.out" || true)
  # The capture's save and the shutdown's; redraws show the message again while it stands.
  [ "$failures" -ge 2 ] || fail "$what: $failures save failures reported, expected 2 (capture, shutdown)"
  cmp -s "$dir/CONFIG.DAT" "$RUN_DIR/before.dat" || fail "$what: CONFIG.DAT changed"
  [ ! -e "$dir/CONFIG.DAT.tmp" ] || fail "$what: a temporary file was left behind"
  log "$what: both saves reported, the old record kept, the run went on"
}

# Each row: the directory, what makes it unwritable once it holds the program.
for row in "full|dd if=/dev/zero of=$RUN_DIR/full/filler bs=4k status=none 2>/dev/null || true" \
  "read-only|mount -o remount,ro $RUN_DIR/read-only || fail 'cannot remount the tmpfs read-only'"; do
  log "${row%%|*} program directory"
  small_tmpfs "$RUN_DIR/${row%%|*}"
  program_dir "$RUN_DIR/${row%%|*}"
  eval "${row#*|}"
  run_unwritable "$RUN_DIR/${row%%|*}" "${row%%|*} directory"
done
kill_our_standins

log "capture into a missing directory"
missing=$RUN_DIR/missing/deeper
config_set DIRECTORY "$missing/"
: >"$STANDIN_LOG"
start_in_tmux 80 24
wait_log '^raspistill .* -p ' 1
key Space
wait_until "the error line" message_shows "Capture folder missing."
settle
program_running || fail "the program ended"
[ ! -e "$RUN_DIR/missing" ] || fail "the capture created the missing directory"
[ "$(log_count ' -o ')" -eq 0 ] || fail "a capture command ran"
expect_exit TERM
[ "$(state_word 0)" -eq 1 ] || fail "capture number $(state_word 0) saved, expected 1"
