#!/bin/bash
# Walking the menu and what it drives: arrows move, Enter commits and restarts the preview
# with the new options, Space captures ("REC", a dated and numbered file, the next ID saved)
# and the preview returns when the capture ends; "HIDE MENU" switches to the large preview
# and any key back; "LED OFF"/"LED ON" drive the LED pin; a GPIO button acts as its key;
# "SLEEP OFF" shows in the status line; "OFF" ends the run with the state saved and the
# terminal restored, and a restart shows the same position and selections; "SHUTDOWN" ends
# it with status 3 and a line on standard error, and the next start shows "HIDE MENU".
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run menu "$@"
install_program simgpio

small='-p 480,0,160,120 -t 0$'
first_preview="^raspistill -w 640 -h 480 -ex auto $small"
new_preview="^raspistill -w 1024 -h 768 -ex auto $small"
negative_preview="^raspistill -w 1024 -h 768 -ex auto -ifx negative $small"
large_preview='^raspistill -w 1024 -h 768 -ex auto -ifx negative -f -t 0$'

start_in_tmux 80 24
expect_row 11 "RESOLUTION"
wait_log "$first_preview" 1

log "right shows the next item without touching the preview"
press Right 12 "$(centred 1024x768)"
[ "$(log_count '^raspistill ')" -eq 1 ] || fail "a move restarted the preview"
[ "$(standin_count raspistill)" -eq 1 ] || fail "preview not running"

log "enter commits and restarts the preview with the new option"
key Enter
wait_log "$new_preview" 1
wait_until "only the new preview to run" standin_count_is raspistill 1
our_standin_cmdlines raspistill | grep -qF -- "-w 1024 -h 768" || fail "old preview still runs"

press Down 11 "EXPOSURE"
expect_row 12 "$(centred AUTO)"
press Down 11 "EFFECT"
press Right 12 "$(centred NEGATIVE)"
key Enter
wait_log "$negative_preview" 1
settle

log "space captures"
press Down 11 "EXEC"
expect_row 12 "$(centred STILL)"
day_before=$(date +%Y%m%d)
key Space
expect_row 1 "REC   SLEEP 1m"
day_after=$(date +%Y%m%d)
capture_log="^raspistill -w 1024 -h 768 -ex auto -ifx negative -t 2000 -o $RUN_DIR/captures/IMG_[0-9]{8}_000001\\.jpg$"
wait_log "$capture_log" 1
captured() {
  [ -e "$RUN_DIR/captures/IMG_${day_before}_000001.jpg" ] ||
    [ -e "$RUN_DIR/captures/IMG_${day_after}_000001.jpg" ]
}
wait_until "the capture file" captured
[ "$(state_bytes 0 4)" = "02 00 00 00" ] || fail "CONFIG.DAT ID bytes $(state_bytes 0 4)"
[ "$(state_size)" -eq 280 ] || fail "CONFIG.DAT holds $(state_size) bytes"

log "the preview returns when the capture ends"
expect_row 1 "      SLEEP 1m"
wait_log "$negative_preview" 2
wait_until "the preview to run" standin_count_is raspistill 1

log "hide menu and back"
press Down 11 "POWER"
expect_row 12 "$(centred "HIDE MENU")"
key Enter
wait_log "$large_preview" 1
settle
# The first key after hiding only brings back the small preview; it does not move.
key Right
wait_log "$negative_preview" 3
settle
row_reads 12 "$(centred "HIDE MENU")" || fail "the key that ended the large preview also moved"

log "LED off and on"
press Right 12 "$(centred "LED OFF")"
gpio_write_word "$WORD_GPCLR0" 0
key Enter
wait_until "the LED pin cleared" gpio_bit_set "$WORD_GPCLR0" "$PIN_LED"
settle
press Right 12 "$(centred "LED ON")"
gpio_write_word "$WORD_GPSET0" 0
key Enter
wait_until "the LED pin set" gpio_bit_set "$WORD_GPSET0" "$PIN_LED"
settle

log "a button acts as its key"
press_button "$PIN_UP" 11 "EXEC"
row_reads 12 "$(centred STILL)" || fail "EXEC menu does not show its committed item"
press Down 11 "POWER"
row_reads 12 "$(centred "LED ON")" || fail "POWER menu does not show its committed item"

log "sleep off"
press Right 12 "$(centred "SLEEP 1M")"
press Right 12 "$(centred "SLEEP OFF")"
key Enter
expect_row 1 "      SLEEP OFF"
settle

log "off ends the run"
press Right 12 "$(centred OFF)"
key Enter
expect_exit
cmp -s "$RUN_DIR/stty.before" "$RUN_DIR/stty.after" || fail "terminal settings not restored"
[ "$(state_size)" -eq 280 ] || fail "CONFIG.DAT holds $(state_size) bytes"
# Word=value of CONFIG.DAT: ID, MenuPos, MenuItemPos, the selections of RESOLUTION,
# EXPOSURE, EFFECT, EXEC and POWER, SleepPeriod, PreviewSize.
for pair in 0=2 1=4 2=6 3=2 4=1 5=2 6=1 7=6 67=0 69=0; do expect_word "${pair%=*}" "${pair#*=}"; done
wait_until "the preview to be killed" no_standin_running raspistill
stop_tmux

log "a restart shows the same position and selections"
HL_COMMAND='./harrowlight <&0 2>stderr.log' start_in_tmux 80 24
expect_rows 11 "POWER" "$(centred OFF)"
expect_rows 3 "RESOLUTION" "$(centred 1024x768)"
expect_row 8 "$(centred NEGATIVE)"
expect_row 10 "$(centred STILL)"
expect_row 1 "      SLEEP OFF"
wait_log "$negative_preview" 4

log "shutdown ends the run with status 3, and the next start does not open on it"
press Right 12 "$(centred SHUTDOWN)"
key Enter
wait_for_exit
[ "$(exit_status)" -eq 3 ] || fail "exit status $(exit_status) after SHUTDOWN"
cmp -s "$RUN_DIR/stty.before" "$RUN_DIR/stty.after" || fail "terminal settings not restored"
[ "$(cat "$RUN_DIR/stderr.log")" = "SHUTDOWN: power-off is left to the caller (exit status 3)." ] ||
  fail "standard error: $(cat "$RUN_DIR/stderr.log")"
expect_word 7 7 "selection of POWER"
wait_until "the preview to be killed" no_standin_running raspistill
stop_tmux
start_in_tmux 80 24
expect_row 12 "$(centred "HIDE MENU")"
expect_exit TERM
expect_word 7 1 "selection of POWER after the restart"
