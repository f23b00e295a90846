#!/bin/bash
# Capture names and refusals as the owner sees them. A capture never overwrites a file
# already in the folder: it takes the next free number. A negative or wrapped number gives
# its unsigned name. A capture into a missing folder, or one whose command would pass 4096
# characters, runs nothing and leaves "REC" off; the reason stays on the error line until
# the next key, and the preview runs on.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run captures "$@"

captures=$RUN_DIR/captures
preview='^raspistill .* -p 480'

# fresh_run: the program, its configuration without the date in the file name, an empty
# capture folder and no state file.
fresh_run() {
  install_program production
  config_set FILENAME 'IMG_[ID]'
  rm -f "$RUN_DIR/CONFIG.DAT" "$captures"/*
  : >"$STANDIN_LOG"
}

# space_in_preview: starts the program, waits for the preview, presses Space.
space_in_preview() {
  start_in_tmux 80 24
  wait_log "$preview" 1
  settle
  key Space
}

stop_run() {
  expect_exit TERM
  stop_tmux
}

# Each row: what is set up, the name the capture must get, the number saved after it.
name_rows=(
  "existing file|IMG_000002|3"
  "negative ID_START|IMG_4294967291|-4"
  "wrapped counter|IMG_2147483648|-2147483647"
)
for row in "${name_rows[@]}"; do
  IFS='|' read -r what name next <<<"$row"
  log "names: $what"
  fresh_run
  case $what in
    "existing file") echo earlier >"$captures/IMG_000001.jpg" ;;
    "negative ID_START") config_set ID_START -5 ;;
    "wrapped counter") write_state "$RUN_DIR/CONFIG.DAT" -2147483648 ;;
  esac
  space_in_preview
  wait_log " -o $captures/$name\\.jpg\$" 1
  wait_until "the number $next to be saved" state_word_is 0 "$next"
  expect_row_has 1 REC
  [ "$(log_count ' -o ')" -eq 1 ] || fail "$what: more than one capture ran"
  if [ "$what" = "existing file" ]; then
    [ "$(cat "$captures/IMG_000001.jpg")" = earlier ] || fail "the earlier capture was overwritten"
  fi
  stop_run
done

# Each row: what is set up, the message of the error line.
long=$(printf 'x%.0s' $(seq 2100))
refusal_rows=(
  "missing folder|Capture folder missing."
  "over-long command|Capture command too long, not run."
)
for row in "${refusal_rows[@]}"; do
  IFS='|' read -r what message <<<"$row"
  log "refused: $what"
  fresh_run
  case $what in
    "missing folder") config_set DIRECTORY "$RUN_DIR/nowhere/" ;;
    "over-long command")
      # The preview names menu 0 once and fits; the capture names it twice and would not.
      config_set MENU_VALUE_0 "-w,$long,1024"
      config_set MENU_VALUE_3 'EXEC,raspistill [0] [0] -o [FILENAME].jpg &,PLAY'
      ;;
  esac
  space_in_preview
  wait_until "the error line to read '$message'" message_shows "$message"
  settle
  [ "$(log_count ' -o ')" -eq 0 ] || fail "$what: a capture command ran"
  [ "$(log_count "$preview")" -eq 1 ] || fail "$what: the preview was stopped or restarted"
  [ "$(standin_count raspistill)" -eq 1 ] || fail "$what: the preview is not running"
  ! screen_shows REC || fail "$what: REC shown"
  [ ! -e "$RUN_DIR/CONFIG.DAT" ] || fail "$what: the state was saved though nothing changed"
  key Down
  expect_row 11 EXPOSURE
  ! message_shows "$message" || fail "$what: the message outlived the next key"
  stop_run
  [ "$(state_word 0)" -eq 1 ] || fail "$what: capture number $(state_word 0) saved, expected 1"
done
