#!/usr/bin/env bash
# The static program on fbcon at the LCD sizes of config/lcd/ (LCD_SIZES picks some; an emulated
# PC's VGA card at that size, the 8x16 font): both samples' layouts fit beside the preview; from
# screen dumps, every line's two colours (4.5:1 with the readable palette), no cursor while the
# camera runs, the login prompt pixel for pixel as before after each run (ended by OFF or SIGTERM).
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
: "${3:?usage: run-lcd-test.sh PROGRAM STANDINS CACHEDIR [SHOTDIR (for lcd-WxH.png)]}"
ShotDir=${4:-} Samples=$(cd "$(dirname "$0")/../../config" && pwd)
HARNESS_WAIT=${CONSOLE_TEST_TIMEOUT:-60}
setup_guest lcd-test x86-64 "$@"
require_tools qemu-system-x86_64 python3
[ -z "$ShotDir" ] || { require_tools pnmtopng && mkdir -p "$ShotDir"; }
CellWidth=8 CellHeight=16
Screen() { python3 "$TESTS_DIR/pi/lcd/screen.py" "$@"; }
# A failure shows the serial port without the watcher's menu lines, then its last three.
serial_tail() {
  tr -d '\r' <"$GUEST_LOG" 2>/dev/null | grep -av 'GUEST: menu:' | tail -n 30
  tr -d '\r' <"$GUEST_LOG" 2>/dev/null | grep -a 'GUEST: menu:' | tail -n 3
}
SCREEN_READER=serial_tail SHOW_FILES=()
boot_packages "$Cache" amd64 amd64 './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/gpu/drm/*'

# The guest: each size's layout added to the legacy sample (below), the DRM driver of QEMU's
# standard VGA card numbered in the order init loads it, and a state with ISO (menu 4)
# highlighted, so menus show above and below it, and sleep off.
Root=$RUN_DIR/initramfs Loaded=0
guest_root "$Root" "$Samples/Harrowlight.ini"
mkdir -p "$Root/modules"
for Module in drm drm_kms_helper ttm drm_ttm_helper drm_vram_helper bochs; do
  find "$RUN_DIR/extract/lib/modules" -name "$Module.ko" \
    -exec cp {} "$Root/modules/$((++Loaded))-$Module.ko" \;
done
write_state "$Root/opt/harrowlight/CONFIG.DAT.start" 1 0
le32 4 | dd of="$Root/opt/harrowlight/CONFIG.DAT.start" bs=4 seek=1 conv=notrunc status=none

# type_until KEY WHAT CHECK...: types KEY, again every 5 s while CHECK fails: the camera drops
# an arrow read just after another (taken for a held key), likelier when loaded; none comes late.
type_until() { Typed=$((SECONDS - 5)) && wait_until "$2 after $1" key_took_effect "$1" "${@:3}"; }
key_took_effect() {
  "${@:2}" && return 0
  [ $((SECONDS - Typed)) -lt 5 ] || { monitor_command "sendkey $1" && Typed=$SECONDS; }
  return 1
}
# press KEY TEXT...: types KEY until the highlighted menu's lines (blanks squeezed) read TEXT.
highlighted_menu_reads() {
  [[ "$(grep -a 'GUEST: menu:' "$GUEST_LOG" | tail -n1 | tr -d '\r')" == "GUEST: menu: $1 " ]]
}
press() { for Text in "${@:2}"; do type_until "$1" "'$Text'" highlighted_menu_reads "$Text"; done; }

# dump_until NAME CHECK...: screen dumps (the screen is drawn a moment after the text
# changes) until CHECK holds for one, kept as NAME.ppm, CHECK's output in NAME.txt.
whole_dump() { [ -f "$1" ] && [ "$(stat -c %s "$1")" -ge $((3 * Width * Height)) ]; }
dumped() {
  rm -f "$RUN_DIR/$1.ppm"
  monitor_command "screendump $RUN_DIR/$1.ppm"
  wait_until "the screen dump" whole_dump "$RUN_DIR/$1.ppm"
  "${@:2}" "$RUN_DIR/$1.ppm" >"$RUN_DIR/$1.txt" 2>&1
}
dump_until() { SHOW_FILES=("$RUN_DIR/$1.txt") && wait_until "$Size: $1" dumped "$@"; }
cursor_on_prompt() { [ "$(Screen cell "$1" $CellWidth $CellHeight 1 20)" = 2 ]; }
menu_pairs() { Screen pairs "$1" $CellWidth $CellHeight "${MenuLines[@]/%/:1:$ItemWidth}"; }
# The status line, and no cursor on its first (blank) cell.
status_pairs() {
  Screen pairs "$1" $CellWidth $CellHeight "status:1:1:$ItemWidth" || return 1
  Home=$(Screen cell "$1" $CellWidth $CellHeight 1 1)
  [ "$Home" = 1 ] || { echo "a cursor on the first cell ($Home colours there)"; return 1; }
}
# prompt_again WHEN: the prompt, pixel for pixel (colours, text, cursor) as before run 0.
prompt_again() {
  wait_until "the prompt $1" guest_said "prompt $1"
  dump_until "prompt-${1// /-}" cmp "$RUN_DIR/prompt.ppm"
}
# end_of_run N HOW: waits for the end of run N, which must be the Nth with status 0.
end_of_run() {
  wait_until "the camera to end$2" guest_said 'camera exited' "$1"
  [ "$(grep -ac 'GUEST: camera exited status=0' "$GUEST_LOG")" = "$1" ] ||
    fail "$Size: the camera did not end with status 0$2"
}

for Size in ${LCD_SIZES:-320x240 480x320 800x480}; do
  Width=${Size%x*} Height=${Size#*x}
  for Tools in legacy:Harrowlight rpicam:Harrowlight-rpicam; do
    Fit=$(Screen layout <(cat "$Samples/${Tools#*:}.ini" "$Samples/lcd/$Size-${Tools%:*}.ini") \
      "$Width" "$Height" $CellWidth $CellHeight) || fail "$Size: the ${Tools%:*} layout: $Fit"
    log "$Size, ${Tools%:*}: ${Fit#*: }"
  done
  ItemWidth=$(sed -n 's/^ITEM_WIDTH=//p' "$Samples/lcd/$Size-legacy.ini")
  Lines=$((Height / CellHeight))
  Half=$(((Lines - 1) / 2 / 2))
  # Lines of the first screen: the start-up report (a PC has no GPIO block) over the status
  # line, ISO highlighted in the middle slot, the menu above it plain, the clock.
  MenuLines=(error:1 "title-highlighted:$((1 + 2 * Half))" "item-highlighted:$((2 + 2 * Half))"
    "title:$((2 * Half - 1))" "item:$((2 * Half))" "clock:$((Lines - 1))")

  sed 's|^DIRECTORY=.*|DIRECTORY=/captures/|' "$Samples/Harrowlight.ini" \
    "$Samples/lcd/$Size-legacy.ini" >"$Root/opt/harrowlight/Harrowlight.ini"
  pack_initramfs "$Root" "$RUN_DIR/initramfs-$Size.cpio.gz"
  # The card's display data names the size as its preferred mode, which the command line
  # then picks (the kernel's own timings for a 320x240 mode are refused).
  boot_pc "$RUN_DIR/initramfs-$Size.cpio.gz" \
    "video=Virtual-1:$Size fbcon=font:VGA8x16 harrowlight=lcd WatchLine=$((1 + 2 * Half))" \
    -vga none -device "VGA,xres=$Width,yres=$Height"
  wait_until "the prompt" guest_said "prompt before run 0"
  guest_said "framebuffer $Width,${Height}[[:space:]]*$" ||
    fail "$Size: not the framebuffer asked for: $(grep -a 'GUEST: framebuffer' "$GUEST_LOG")"
  log "$Size: booted to the prompt in $(elapsed "$BootStart") s"
  dump_until prompt cursor_on_prompt

  # Runs 0 (the console's own palette) and 1 (the readable one) end with OFF.
  for Palette in 0 1; do
    [ $Palette = 0 ] || prompt_again "before run $Palette"
    type_until ret "the camera" guest_said "starting camera .*CONSOLE_PALETTE=$Palette"
    dump_until "menu-$Palette" menu_pairs
    press right "ISO 100" # the report is read: the status line shows
    dump_until "status-$Palette" status_pairs
    log "$Size, CONSOLE_PALETTE=$Palette (foreground, background, contrast):"
    sed 's/^/    /' "$RUN_DIR"/{menu,status}-$Palette.txt
    if [ $Palette = 1 ]; then
      while read -r Name Foreground Background Ratio; do # the ratio has two decimals
        [ "${Ratio/./}" -ge 450 ] || fail "$Size: $Name: $Foreground on $Background only $Ratio:1"
      done < <(cat "$RUN_DIR"/{menu,status}-1.txt)
      [ -z "$ShotDir" ] || pnmtopng "$RUN_DIR/status-1.ppm" >"$ShotDir/lcd-$Size.png" 2>/dev/null
    fi
    # OFF, at the end of the POWER menu four menus down.
    press down "VIDEO LENGTH 10 S" "TIME-LAPSE 5 S" "EXEC STILL" "POWER HIDE MENU"
    press right "POWER "{"LED OFF","LED ON","SLEEP 30 S","SLEEP 1 MIN","SLEEP 5 MIN","NO SLEEP",OFF}
    monitor_command "sendkey ret"
    end_of_run $((Palette + 1)) ""
  done
  # Run 2, ended by SIGTERM once the highlight has moved on: the guest's init signals the
  # camera as soon as it sees the move, which the watcher may then miss.
  prompt_again "before run 2"
  type_until ret "the camera" guest_said 'starting camera' 3
  dump_until "menu-2" menu_pairs
  type_until down "the camera to end on SIGTERM" guest_said 'camera exited' 3
  end_of_run 3 " on SIGTERM"
  prompt_again "after the runs"
  stop_qemu
done
