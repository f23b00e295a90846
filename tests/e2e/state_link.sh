#!/bin/bash
# A linked "CONFIG.DAT" stays a link whose target gets each save (capture, automatic, shutdown);
# one the program's user may not write is kept, and the error line says so.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run state_link "$@"
install_program production

state=$RUN_DIR/CONFIG.DAT
still_linked() { [ "$(readlink "$state")" = data/CONFIG.DAT ] || fail "$1 save: link replaced"; }

mkdir "$RUN_DIR/data"
ln -s data/CONFIG.DAT "$state"
space_in_preview
wait_log ' -o .*_000001\.jpg' 1
wait_until "the capture's number 2 saved through the link" state_word_is 0 2
still_linked capture

# Keys other than Space count again once the capture has ended and the preview is back.
wait_log '^raspistill .* -p 480' 2
settle
press_items Right 1024x768
act Enter wait_until_long 90 "the automatic save" state_word_is 3 2
still_linked automatic
press Down 11 EXPOSURE
expect_exit TERM
still_linked shutdown
expect_word 1 1 "MenuPos saved through the link at the shutdown"
expect_valid_state "$RUN_DIR/data/CONFIG.DAT"
[ "$(ls -A "$RUN_DIR/data")" = CONFIG.DAT ] || fail "files beside the target: $(ls "$RUN_DIR"/data)"
stop_tmux

log "read-only state file of another user"
id nobody >/dev/null 2>&1 || fail "no user 'nobody' to run the program as"
write_state "$RUN_DIR/before.dat" 42
install -m 444 "$RUN_DIR/before.dat" "$state" # in place of the link
install -m 666 /dev/null "$STANDIN_LOG"
chmod 777 "$RUN_DIR" "$RUN_DIR/captures"
# An ordinary user cannot write the file anyway; root runs the program as "nobody".
[ "$(id -u)" -ne 0 ] ||
  HL_COMMAND="setpriv --reuid=nobody --regid=nogroup --clear-groups ./harrowlight <&0"
space_in_preview
wait_log ' -o .*_000042\.jpg' 1
wait_until "the error line" message_shows "Failed to open file: CONFIG.DAT"
expect_exit TERM
cmp -s "$state" "$RUN_DIR/before.dat" || fail "the read-only state file was replaced"
[ "$(stat -c '%a %U' "$state")" = "444 $(id -un)" ] || fail "mode or owner changed"
[ ! -e "$state.tmp" ] || fail "a temporary file was left behind"
