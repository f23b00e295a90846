#!/bin/bash
# Capture names (the next free number, unsigned) and refusals (nothing run or saved, no "REC",
# the preview kept, the reason shown until a key); the argument picks the rows.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
GROUP=$1
setup_run "captures_$GROUP" "${@:2}"
captures=$RUN_DIR/captures

# Each row: group, the set-up, the name captured and the number saved after it, or the message.
rows=(
  "names|taken_after_wrap|IMG_2147483649|-2147483646"
  "names|config_set ID_START -5|IMG_4294967291|-4"
  "names|config_set DIRECTORY $RUN_DIR/nowhere/|||Capture folder missing."
  "names|command_too_long|||Capture command too long, not run."
  "folders|mount_captures ro|||Capture folder not writable."
  "folders|mount_captures rw|||Card full."
  "folders|mount_captures rw; config_set CAPTURE_MIN_FREE_MB 0|IMG_000001|2"
)

taken_after_wrap() {
  write_state "$RUN_DIR/CONFIG.DAT" -2147483648
  echo earlier >"$captures/IMG_2147483648.jpg"
}
# The preview names menu 0 once and fits; the capture names it twice and would not.
command_too_long() {
  config_set MENU_VALUE_0 "-w,$(printf 'x%.0s' {1..2100}),1024"
  config_set MENU_VALUE_3 'EXEC,raspistill [0] [0] -o [FILENAME].jpg &,PLAY'
}
unmount_captures() { umount "$captures" 2>/dev/null || true; }
CLEANUP_HOOKS+=(unmount_captures)
mount_captures() {
  { [ -n "${HARNESS_ISOLATED:-}" ] && mount -t tmpfs -o "size=1m,$1" tmpfs "$captures"; } ||
    { log "SKIP: no private mount namespace, or mounting a tmpfs is not permitted"; exit 77; }
}

for row in "${rows[@]}"; do
  IFS='|' read -r group what name next message <<<"$row"
  [ "$group" = "$GROUP" ] || continue
  log "$what"
  unmount_captures
  install_program production
  config_set FILENAME 'IMG_[ID]' # no date in the names
  rm -f "$RUN_DIR/CONFIG.DAT" "$captures"/* "$STANDIN_LOG"
  eval "$what"
  space_in_preview
  if [ -z "$message" ]; then
    wait_log " -o $captures/$name\\.jpg\$" 1
    wait_until "the number $next to be saved" state_word_is 0 "$next"
    expect_row 1 "REC   SLEEP 1m"
    [ "$what" != taken_after_wrap ] || [ "$(cat "$captures/IMG_2147483648.jpg")" = earlier ] ||
      fail "the earlier capture was overwritten"
  else
    wait_until "the error line to read '$message'" message_shows "$message"
    # The whole top line is rewritten: nothing of the status line beside the message's start.
    expect_row 1 "$(fold -s -w 20 <<<"$message" | head -n1 | sed 's/ *$//')"
    settle
    [ "$(log_count '^raspistill .* -p 480')" -eq 1 ] || fail "$what: preview stopped or restarted"
    standin_count_is raspistill 1 || fail "$what: the preview is not running"
    ! screen_shows REC || fail "$what: REC shown"
    [ ! -e "$RUN_DIR/CONFIG.DAT" ] || fail "$what: the state was saved though nothing changed"
    press Down 11 EXPOSURE
    ! message_shows "$message" || fail "$what: the message outlived the next key"
  fi
  [ "$(log_count ' -o ')" -eq $((${#name} > 0)) ] || fail "$what: $(log_count ' -o ') captures ran"
  expect_exit TERM
  stop_tmux
  kill_our_standins
  expect_word 0 "${next:-1}" "$what: the capture number saved"
done
