#!/bin/bash
# The playback list: with "PLAY" chosen, Space lists the ".jpg" and ".h264" recordings of the
# capture folder in byte order; Enter starts the player on the highlighted one and Enter
# again stops it; Space goes back to the menu and the preview. A recording whose name holds
# shell syntax plays through a private plain-named link, removed when the player stops: no
# command hidden in the name runs.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run playback "$@"
install_program production

captures=$RUN_DIR/captures
# shellcheck disable=SC2016 # a file name that would run a command if a shell expanded it
hostile1='a$(touch PWNED)b.jpg'
hostile2='x;touch PWNED2;.jpg'
for name in "$hostile1" "$hostile2" clip1.h264 pic1.jpg notes.txt UPPER.JPG two.dots.jpg; do
  echo data >"$captures/$name"
done
mkdir "$captures/folder.jpg"
ln -s pic1.jpg "$captures/link.jpg"

no_pwned() {
  local f
  for f in PWNED PWNED2; do
    if [ -e "$RUN_DIR/$f" ] || [ -e "$captures/$f" ] || [ -e "/tmp/$f" ]; then
      fail "a command hidden in a recording name ran ($f exists)"
    fi
  done
}

start_in_tmux 80 24
expect_row 11 "RESOLUTION"
wait_log '^raspistill ' 1

log "choose PLAY"
press Down 11 "EXPOSURE"
choose_play
wait_log '^raspistill ' 2
settle

log "space lists the recordings"
key Space
# 24 rows: the highlighted first entry stands on row 13, the rows above it stay blank.
expect_rows 13 "$hostile1" "clip1.h264" "pic1.jpg" "$hostile2"
for row in 1 2 3 4 5 6 7 8 9 10 11 12 17 18 19 20 21 22 23 24; do
  row_reads "$row" "" || fail "row $row not blank in the list: '$(screen_row "$row")'"
done
wait_until "the preview to be stopped" no_standin_running raspistill
[ "$(state_word 68)" -eq 3 ] || fail "opening the list did not save Mode 3"
settle

log "a hostile name plays through a private link"
link_line='^omxplayer\.bin -o hdmi /tmp/harrowlight-link-[[:alnum:]]{6}/play\.jpg$'
key Enter
wait_log "$link_line" 1
link=$(grep -oE '/tmp/harrowlight-link-[[:alnum:]]{6}/play\.jpg' "$STANDIN_LOG")
[ "$(readlink "$link")" = "$captures/$hostile1" ] || fail "the link names '$(readlink "$link")'"
no_pwned

log "enter plays and stops"
press Down 13 "clip1.h264"
[ ! -e "$link" ] || fail "the link outlived its player"
key Enter
wait_log "^omxplayer\\.bin -o hdmi $captures/clip1\\.h264\$" 1
wait_until "the player to run" standin_count_is omxplayer.bin 1
# The screen is cleared for the recording.
expect_row 13 ""
settle
key Enter
wait_until "the player to be stopped" no_standin_running omxplayer.bin
expect_row 13 "clip1.h264"
settle

log "the other hostile name plays too"
press Down 13 "pic1.jpg"
press Down 13 "$hostile2"
key Enter
wait_log "$link_line" 2
no_pwned

log "space returns to the menu and the preview"
settle
key Space
wait_log '^raspistill ' 3
expect_row 11 "EXEC"
expect_exit TERM
no_pwned
