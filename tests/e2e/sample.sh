#!/bin/bash
# The sample configuration as given: menus, preview options, the zoomed still (its "`" back to
# commas) with a dated, numbered name, and the capture in the playback list.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run sample "$@"
install_program production "$TESTS_DIR/../config/Harrowlight.ini"
config_set DIRECTORY "$RUN_DIR/captures/"

start_in_tmux 80 24
expect_rows 11 RESOLUTION "$(centred 2592x1944)" EXPOSURE "$(centred AUTO)" "WHITE BALANCE" \
  "$(centred AUTO)" "IMAGE EFFECT" "$(centred NONE)" ISO "$(centred AUTO)"
wait_log '^raspistill -w 2592 -h 1944 -ex auto -awb auto -p 160,0,160,120 -t 0$' 1

walk Down 11 EXPOSURE "WHITE BALANCE" "IMAGE EFFECT" ISO "VIDEO LENGTH" TIME-LAPSE EXEC
press_items Right "STILL 2X ZOOM"
act Enter wait_log '^raspistill ' 2
key Space
still="^raspistill -w 2592 -h 1944 -ex auto -awb auto -roi 0\\.25,0\\.25,0\\.5,0\\.5"
still+=" -p 160,0,160,120 -t 2000 -o $RUN_DIR/captures/IMG_[0-9]{8}_[0-9]{6}_000001\\.jpg$"
wait_log "$still" 1
expect_row 1 "REC   SLEEP 1m"
wait_until "the capture file" compgen -G "$RUN_DIR/captures/IMG_*_000001.jpg"
expect_row 1 "      SLEEP 1m"
settle

press_items Right VIDEO "TIME-LAPSE 1H" PLAY
key Enter && settle
key Space
expect_row 13 "$(basename "$(compgen -G "$RUN_DIR/captures/IMG_*_000001.jpg")")"
end_run TERM
