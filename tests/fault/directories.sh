#!/bin/bash
# Full and read-only program directories: every save reports "Failed to open file: CONFIG.DAT",
# the old record stays whole, the run goes on (a capture, a preview after it, a clean SIGTERM).
# A capture into a missing directory runs nothing, creates nothing and says so. Skipped (77)
# where a tmpfs cannot be mounted.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run directories "$@"
install_program production
export PATH="$HL_STANDINS:$PATH" HARROWLIGHT_STANDIN_LOG="$STANDIN_LOG"
unmount_all() { umount "$RUN_DIR/full" "$RUN_DIR/read-only" 2>/dev/null || true; }
CLEANUP_HOOKS+=(unmount_all)
preview_after_capture() {
  awk '/ -o .*IMG_/ { c = 1 } c && /^raspistill .* -p / { f = 1 } END { exit !f }' "$STANDIN_LOG"
}
# The input of each run: a size reply, then Space (a capture and its save).
printf '\033[24;80R ' >"$RUN_DIR/keys"

# Each row: the directory, what makes it unwritable once it holds the program.
for row in "full|dd if=/dev/zero of=$RUN_DIR/full/filler bs=4k status=none 2>/dev/null || true" \
  "read-only|mount -o remount,ro $RUN_DIR/read-only || fail 'cannot remount it read-only'"; do
  what="${row%%|*} directory" dir=$RUN_DIR/${row%%|*}
  log "$what"
  mkdir "$dir"
  mount -t tmpfs -o size=512k tmpfs "$dir" 2>/dev/null ||
    { log "SKIP: mounting a tmpfs is not permitted here"; exit 77; }
  # A link to the program (so the directory holds little), the configuration, record number 42.
  ln -s "$RUN_DIR/harrowlight" "$dir/harrowlight"
  cp "$RUN_DIR/Harrowlight.ini" "$dir/"
  write_state "$dir/CONFIG.DAT" 42
  expect_valid_state "$dir/CONFIG.DAT"
  cp "$dir/CONFIG.DAT" "$RUN_DIR/before.dat"
  eval "${row#*|}"
  # An earlier run's capture would move this one's number on.
  rm -f "$RUN_DIR/captures/"*
  : >"$STANDIN_LOG"
  "$dir/harrowlight" <"$RUN_DIR/keys" >"$RUN_DIR/screen.out" 2>&1 &
  pid=$!
  wait_log ' -o .*IMG_.*_000042\.jpg' 1
  # A preview after the capture shows the run went on (the first tick's, killed, may go unlogged).
  wait_until "a preview after the capture" preview_after_capture
  kill -TERM "$pid"
  wait "$pid" || fail "$what: exit status $?"
  # The capture's save and the shutdown's; redraws show the message again while it stands.
  failures=$(grep -c 'Failed to open file: CONFIG.DAT' "$RUN_DIR/screen.out" || true)
  [ "$failures" -ge 2 ] ||
    fail "$what: $failures save failures reported, expected 2 (capture, shutdown)"
  cmp -s "$dir/CONFIG.DAT" "$RUN_DIR/before.dat" || fail "$what: CONFIG.DAT changed"
  [ ! -e "$dir/CONFIG.DAT.tmp" ] || fail "$what: a temporary file was left behind"
done
kill_our_standins

log "capture into a missing directory"
config_set DIRECTORY "$RUN_DIR/missing/deeper/"
: >"$STANDIN_LOG"
start_in_tmux 80 24
wait_log '^raspistill .* -p ' 1
act Space wait_until "the error line" message_shows "Capture folder missing."
program_running || fail "the program ended"
[ ! -e "$RUN_DIR/missing" ] || fail "the capture created the missing directory"
[ "$(log_count ' -o ')" -eq 0 ] || fail "a capture command ran"
expect_exit TERM
expect_word 0 1 "the capture number saved"
