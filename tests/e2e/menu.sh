#!/bin/bash
# The menu on the simulated GPIO page: backlight sleep (6 s) and wake, moves, commits, a capture,
# "HIDE MENU", the LED, a button, "SLEEP OFF", "OFF" and "SHUTDOWN", each over a restart.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run menu "$@"
install_program simgpio

small='-p 480,0,160,120 -t 0$'
negative='-w 1024 -h 768 -ex auto -ifx negative'
negative_preview="^raspistill $negative $small"
to_menu() { press Down 11 "$1" && expect_row 12 "$(centred "$2")"; } # TITLE ITEM (shown)

start_menu
wait_log "^raspistill -w 640 -h 480 -ex auto $small" 1
gpio_bit_set "$WORD_GPCLR0" "$PIN_LED" || fail "LED not switched off at start"
gpio_bit_set "$WORD_GPSET0" "$PIN_LCD" || fail "backlight not switched on at start"

for word in "$WORD_GPCLR0" "$WORD_GPSET0"; do gpio_write_word "$word" 0; done
wait_until_long 20 "the backlight to go off" gpio_bit_set "$WORD_GPCLR0" "$PIN_LCD"
[ "$(gpio_word "$WORD_GPSET0")" -eq 0 ] || fail "a pin was set while idle"
press_items Right 1024x768
gpio_bit_set "$WORD_GPSET0" "$PIN_LCD" || fail "the key did not light the backlight"
[ "$(log_count '^raspistill ')" -eq 1 ] || fail "a move restarted the preview"
standin_count_is raspistill 1 || fail "preview not running"

act Enter wait_log "^raspistill -w 1024 -h 768 -ex auto $small" 1
wait_until "only the new preview to run" standin_count_is raspistill 1
tr '\0' ' ' <"/proc/$(our_standin_pids raspistill)/cmdline" | grep -qF -- "-w 1024 -h 768" ||
  fail "old preview still runs"
to_menu EXPOSURE AUTO
press Down 11 "EFFECT"
press_items Right NEGATIVE
act Enter wait_log "$negative_preview" 1

to_menu EXEC STILL
day_before=$(date +%Y%m%d)
press Space 1 "REC   SLEEP 1m"
shot="$RUN_DIR/captures/IMG_($day_before|$(date +%Y%m%d))_000001\\.jpg"
wait_log "^raspistill $negative -t 2000 -o $shot$" 1
wait_until "the capture file" test -e "$(grep -oE "$shot" "$STANDIN_LOG")"
expect_word 0 2 "ID"
expect_valid_state

expect_row 1 "      SLEEP 1m"
wait_log "$negative_preview" 2
wait_until "the preview to run" standin_count_is raspistill 1

to_menu POWER "HIDE MENU"
act Enter wait_log "^raspistill $negative -f -t 0$" 1
# The first key after hiding only brings back the small preview; it does not move.
act Right wait_log "$negative_preview" 3
row_reads 12 "$(centred "HIDE MENU")" || fail "the key that ended the large preview also moved"

for led in "OFF $WORD_GPCLR0" "ON $WORD_GPSET0"; do # the item, the word its commit writes
  press_items Right "LED ${led% *}"
  gpio_write_word "${led#* }" 0
  act Enter wait_until "LED ${led% *} to write its pin" gpio_bit_set "${led#* }" "$PIN_LED"
done

gpio_write_word "$WORD_GPLEV0" $((4294967295 & ~(1 << PIN_UP))) # the Up button held
expect_row 11 "EXEC"
buttons_up # released before it repeats
settle
expect_row 12 "$(centred STILL)" # each menu shows its committed item
to_menu POWER "LED ON"

press_items Right "SLEEP 1M" "SLEEP OFF"
act Enter expect_row 1 "      SLEEP OFF"
gpio_write_word "$WORD_GPSET0" 0
press_items Right OFF
[ "$(gpio_word "$WORD_GPSET0")" -eq 0 ] || fail "a key wrote GPSET0 with SLEEP OFF"
key Enter
end_run ""
# ID, MenuPos, MenuItemPos, the five menus' selections, SleepPeriod, PreviewSize.
for pair in 0=2 1=4 2=6 3=2 4=1 5=2 6=1 7=6 67=0 69=0; do expect_word "${pair%=*}" "${pair#*=}"; done

HL_COMMAND='./harrowlight <&0 2>stderr.log' start_in_tmux 80 24
expect_rows 1 "      SLEEP OFF" "" RESOLUTION "$(centred 1024x768)" EXPOSURE "$(centred AUTO)" \
  EFFECT "$(centred NEGATIVE)" EXEC "$(centred STILL)" POWER "$(centred OFF)"
wait_log "$negative_preview" 4

press_items Right SHUTDOWN
key Enter
end_run "" 3 # SHUTDOWN
[ "$(cat "$RUN_DIR/stderr.log")" = "SHUTDOWN: power-off is left to the caller (exit status 3)." ] ||
  fail "standard error: $(cat "$RUN_DIR/stderr.log")"
expect_word 7 7 "selection of POWER"
start_in_tmux 80 24
expect_row 12 "$(centred "HIDE MENU")"
gpio_write_word "$WORD_GPCLR0" 0
end_run TERM
expect_word 7 1 "selection of POWER after the restart"
[ "$(gpio_word "$WORD_GPCLR0")" -eq $((1 << PIN_LCD)) ] ||
  fail "last clear was not the backlight: $(gpio_word "$WORD_GPCLR0")"
