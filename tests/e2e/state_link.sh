#!/bin/bash
# The state file where the owner keeps it. A "CONFIG.DAT" that links to a file on another
# partition stays a link, and the file it names gets the new record after a capture, an
# automatic save (about a minute after the start) and the shutdown. A "CONFIG.DAT" the
# program's user may not write (read-only, owned by another user, in a folder anyone may
# write) is never replaced, and the error line says so.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run state_link "$@"
install_program production

state=$RUN_DIR/CONFIG.DAT
target=$RUN_DIR/data/CONFIG.DAT
still_linked() { [ -L "$state" ] && [ "$(readlink "$state")" = data/CONFIG.DAT ]; }

log "linked state file: capture"
mkdir "$RUN_DIR/data"
ln -s data/CONFIG.DAT "$state"
start_in_tmux 80 24
wait_log '^raspistill .* -p 480' 1
settle
key Space
wait_log ' -o .*_000001\.jpg' 1
wait_until "the capture's save to reach the linked file" test -s "$target"
still_linked || fail "the capture's save replaced the link"
[ "$(state_word 0)" -eq 2 ] || fail "capture number $(state_word 0) saved, expected 2"

log "linked state file: automatic save"
# Keys other than Space count again once the capture has ended and the preview is back.
wait_log '^raspistill .* -p 480' 2
settle
press Right 12 "$(centred 1024x768)"
key Enter
wait_until_long 90 "the automatic save" state_word_is 3 2
still_linked || fail "the automatic save replaced the link"

log "linked state file: shutdown"
settle
press Down 11 EXPOSURE
expect_exit TERM
still_linked || fail "the shutdown save replaced the link"
[ "$(state_word 1)" -eq 1 ] || fail "the shutdown save did not reach the linked file"
[ "$(stat -c %s "$target")" -eq 280 ] || fail "the linked file holds $(stat -c %s "$target") bytes"
left=("$RUN_DIR/data"/*)
[ "${left[*]}" = "$target" ] || fail "files left beside the target: ${left[*]}"
stop_tmux

log "read-only state file of another user"
id nobody >/dev/null 2>&1 || fail "no user 'nobody' to run the program as"
rm "$state"
write_state "$state" 42
chmod 444 "$state"
cp "$state" "$RUN_DIR/before.dat"
: >"$STANDIN_LOG"
chmod 777 "$RUN_DIR" "$RUN_DIR/captures"
chmod 666 "$STANDIN_LOG"
# An ordinary user cannot write the file anyway; root runs the program as "nobody".
[ "$(id -u)" -ne 0 ] ||
  HL_COMMAND="setpriv --reuid=nobody --regid=nogroup --clear-groups ./harrowlight <&0"
start_in_tmux 80 24
wait_log '^raspistill .* -p 480' 1
settle
key Space
wait_log ' -o .*_000042\.jpg' 1
wait_until "the error line" message_shows "Failed to open file: CONFIG.DAT"
expect_exit TERM
cmp -s "$state" "$RUN_DIR/before.dat" || fail "the read-only state file was replaced"
[ "$(stat -c '%a %U' "$state")" = "444 $(id -un)" ] || fail "mode or owner changed"
[ ! -e "$state.tmp" ] || fail "a temporary file was left behind"
