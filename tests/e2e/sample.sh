#!/bin/bash
# The sample configuration shipped in config/ works as given: its menus are drawn, the preview
# gets the chosen options, the zoomed still (whose command writes "`" for its commas) runs
# with the commas restored and a dated, numbered file name, and the capture is listed for
# playback.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run sample "$@"
install_program production
sed "s|^DIRECTORY=.*|DIRECTORY=$RUN_DIR/captures/|" "$TESTS_DIR/../config/Harrowlight.ini" \
  >"$RUN_DIR/Harrowlight.ini"

start_in_tmux 80 24
expect_rows 11 "RESOLUTION" "$(centred 2592x1944)" "EXPOSURE"
expect_row 15 "WHITE BALANCE"
expect_row 17 "IMAGE EFFECT"
expect_row 19 "ISO"
wait_log '^raspistill -w 2592 -h 1944 -ex auto -awb auto -p 160,0,160,120 -t 0$' 1

log "zoomed still"
for title in EXPOSURE "WHITE BALANCE" "IMAGE EFFECT" ISO "VIDEO LENGTH" TIME-LAPSE EXEC; do
  press Down 11 "$title"
done
press Right 12 "$(centred "STILL 2X ZOOM")"
key Enter
wait_log '^raspistill ' 2
settle
key Space
still="^raspistill -w 2592 -h 1944 -ex auto -awb auto -roi 0\\.25,0\\.25,0\\.5,0\\.5"
still+=" -p 160,0,160,120 -t 2000 -o $RUN_DIR/captures/IMG_[0-9]{8}_[0-9]{6}_000001\\.jpg$"
wait_log "$still" 1
expect_row_has 1 "REC"
captured() { compgen -G "$RUN_DIR/captures/IMG_*_000001.jpg" >/dev/null; }
wait_until "the capture file" captured
expect_row 1 "      SLEEP 1m"
settle

log "the capture is listed"
press Right 12 "$(centred VIDEO)"
press Right 12 "$(centred "TIME-LAPSE 1H")"
press Right 12 "$(centred PLAY)"
key Enter
settle
key Space
capture_name=$(basename "$(compgen -G "$RUN_DIR/captures/IMG_*_000001.jpg")")
expect_row 13 "$capture_name"
expect_exit TERM
