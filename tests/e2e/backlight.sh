#!/bin/bash
# The LED and the backlight on the simulated GPIO page: start-up drives the LED off and the
# backlight on; with SLEEP 1 the backlight goes off after one unit without a key (6 s in the
# simulated-GPIO build, 30 s on the camera), and the next key
# lights it again and also acts; with SLEEP OFF no key writes the backlight pin; shutdown
# switches the LED and then the backlight off.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run backlight "$@"
install_program simgpio

start_in_tmux 80 24
expect_row 11 "RESOLUTION"
gpio_bit_set "$WORD_GPCLR0" "$PIN_LED" || fail "LED not switched off at start"
gpio_bit_set "$WORD_GPSET0" "$PIN_LCD" || fail "backlight not switched on at start"

log "the backlight sleeps after one idle unit"
gpio_write_word "$WORD_GPCLR0" 0
gpio_write_word "$WORD_GPSET0" 0
wait_until_long 20 "the backlight to go off" gpio_bit_set "$WORD_GPCLR0" "$PIN_LCD"
[ "$(gpio_word "$WORD_GPSET0")" -eq 0 ] || fail "a pin was set while idle"

log "a key wakes it and acts"
press Right 12 "$(centred 1024x768)"
gpio_bit_set "$WORD_GPSET0" "$PIN_LCD" || fail "the key did not light the backlight"

log "with SLEEP OFF keys leave the backlight pin alone"
press Down 11 "EXPOSURE"
press Down 11 "EFFECT"
press Down 11 "EXEC"
press Down 11 "POWER"
press Right 12 "$(centred "LED OFF")"
press Right 12 "$(centred "LED ON")"
press Right 12 "$(centred "SLEEP 1M")"
press Right 12 "$(centred "SLEEP OFF")"
key Enter
expect_row 1 "      SLEEP OFF"
settle
gpio_write_word "$WORD_GPSET0" 0
press Left 12 "$(centred "SLEEP 1M")"
[ "$(gpio_word "$WORD_GPSET0")" -eq 0 ] || fail "a key wrote GPSET0 with SLEEP OFF"

log "shutdown switches the LED and the backlight off"
gpio_write_word "$WORD_GPCLR0" 0
expect_exit TERM
[ "$(gpio_word "$WORD_GPCLR0")" -eq $((1 << PIN_LCD)) ] ||
  fail "last clear was not the backlight: $(gpio_word "$WORD_GPCLR0")"
