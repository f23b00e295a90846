#!/usr/bin/env bash
# System test on the framebuffer console of small LCDs: for each panel size of the samples
# (320x240, 480x320, 800x480) boots Debian's amd64 kernel under QEMU with the DRM driver of
# its standard VGA card, so fbcon draws the console in pixels at that size in the 8x16
# font, and runs the static camera program with the legacy sample and the size's layout
# (config/lcd/), as the installed service runs it. From the monitor's screen dumps it
# measures the colours of every kind of line the camera draws: first with
# CONSOLE_PALETTE=0 (the console's own palette), then with the readable palette, where
# each pair must reach 4.5:1 (WCAG 2). It checks that no cursor shows while the camera runs
# and that the login prompt looks, pixel for pixel, after each run (ended by OFF, and once
# by SIGTERM) as before it, cursor and colours alike; and that the layouts of both samples of the size fit the screen
# beside the small preview window.
#
# Usage: run-lcd-test.sh PROGRAM STANDINS CACHEDIR [SHOTDIR]
#   PROGRAM   the statically linked x86-64 harrowlight
#   STANDINS  the directory of the built stand-in camera tools and player
#   CACHEDIR  downloaded .deb files, kept between runs
#   SHOTDIR   when given, one PNG of the menu per size is written there: lcd-WxH.png
# LCD_SIZES (default "320x240 480x320 800x480") picks the sizes. Every wait is bounded;
# CONSOLE_TEST_TIMEOUT (seconds, default 60) bounds each of them. The run's files live in
# a private directory that is removed at the end.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
Usage="usage: run-lcd-test.sh PROGRAM STANDINS CACHEDIR [SHOTDIR]"
Program=$(readlink -f "${1:?$Usage}")
Standins=$(readlink -f "${2:?$Usage}")
Cache=$(readlink -f "${3:?$Usage}")
ShotDir=${4:-}
Here=$(cd "$(dirname "$0")" && pwd)
Samples=$(cd "$Here/../../config" && pwd)
HARNESS_WAIT=${CONSOLE_TEST_TIMEOUT:-60}
setup_run lcd-test
StartSeconds=$(date +%s.%N)

CellWidth=8
CellHeight=16
Work=$RUN_DIR
Log=$Work/serial.log
# A failure shows the serial port without the watcher's menu lines.
serial_tail() { tr -d '\r' <"$Log" 2>/dev/null | grep -av 'CONSOLE-TEST: menu:' | tail -n 30; }
SCREEN_READER=serial_tail

require_tools qemu-system-x86_64 socat cpio gzip dpkg-deb apt-get python3
[ -z "$ShotDir" ] || { require_tools pnmtopng && mkdir -p "$ShotDir"; }
file -L "$Program" 2> /dev/null | grep -q 'x86-64.*statically linked' ||
  fail "$Program is not a static x86-64 program"
Screen() { python3 "$Here/lcd/screen.py" "$@"; }

# --- Kernel, its DRM modules, busybox ------------------------------------------------------
boot_packages "$Cache" amd64 amd64 './boot/vmlinuz-*'
KernelDeb=$(compgen -G "$Cache/debs/linux-image-*-amd64_*_amd64.deb" | head -n1)
# The driver of QEMU's VGA card and what it needs, unpacked once beside the package.
if [ ! -d "$KernelDeb.drm" ]; then
  Partial=$(mktemp -d "$KernelDeb.XXXXXX")
  dpkg-deb --fsys-tarfile "$KernelDeb" |
    tar -x -C "$Partial" --wildcards './lib/modules/*/kernel/drivers/gpu/drm/*'
  mv -T "$Partial" "$KernelDeb.drm" 2> /dev/null || rm -rf "$Partial"
fi

# A state file: ISO (menu 4 of the sample) highlighted, so menus show above and below it;
# every selection 1, backlight sleep off, so nothing changes with time.
write_lcd_state() {
  local Words=(1 4 1) Format="" Word
  for _ in $(seq 64); do Words+=(1); done
  Words+=(0 0 0)
  for Word in "${Words[@]}"; do Format+=$(printf '\\x%02x\\x00\\x00\\x00' "$Word"); done
  # shellcheck disable=SC2059
  printf "$Format" > "$1"
}

# make_initramfs SIZE: the camera with the legacy sample and the size's layout.
make_initramfs() {
  local Root=$Work/initramfs-$1 Module
  initramfs_base "$Root" "$Work/extract" "$Here/lcd/init" "$Standins"
  mkdir -p "$Root/modules" "$Root/captures"
  for Module in drm drm_kms_helper ttm drm_ttm_helper drm_vram_helper bochs; do
    find "$KernelDeb.drm" -name "$Module.ko" -exec cp {} "$Root/modules/" \;
  done
  cp "$Program" "$Root/opt/harrowlight/harrowlight"
  { sed 's|^DIRECTORY=.*|DIRECTORY=/captures/|' "$Samples/Harrowlight.ini"
    cat "$Samples/lcd/$1-legacy.ini"
    echo "CONSOLE_PALETTE=1"; } > "$Root/opt/harrowlight/Harrowlight.ini"
  write_lcd_state "$Root/opt/harrowlight/CONFIG.DAT.start"
  pack_initramfs "$Root" "$Work/initramfs-$1.cpio.gz"
}

log_has() { grep -aq "$1" "$Log" 2> /dev/null; }
# The highlighted menu's two lines, blanks squeezed, as the watcher last saw them.
highlighted_menu_reads() {
  [[ "$(grep -a 'CONSOLE-TEST: menu:' "$Log" | tail -n1 | tr -d '\r')" == "CONSOLE-TEST: menu: $1" ]]
}
# type_until KEY WHAT CHECK...: types KEY, and again every 5 s while CHECK fails. The camera
# drops an arrow read in the call after another arrow's (the same first byte, taken for a
# held key), which a loaded machine makes likely; a dropped key never comes late.
type_until() {
  Key=$1 KeyTyped=$SECONDS
  monitor_command "sendkey $Key"
  wait_until "$2 after $Key" key_took_effect "${@:3}"
}
key_took_effect() {
  "$@" && return 0
  [ $((SECONDS - KeyTyped)) -ge 5 ] || return 1
  monitor_command "sendkey $Key"
  KeyTyped=$SECONDS
  return 1
}
# press KEY TEXT: types KEY until the highlighted menu reads TEXT.
press() { type_until "$1" "'$2'" highlighted_menu_reads "$2"; }

# dump NAME: the monitor's screen dump as Work/NAME.ppm, once it is whole.
DumpCount=0
whole_dump() { [ -f "$1" ] && [ "$(stat -c %s "$1")" -ge $((3 * Width * Height)) ]; }
dump() {
  DumpCount=$((DumpCount + 1))
  local File=$Work/dump-$DumpCount.ppm
  monitor_command "screendump $File"
  wait_until "the screen dump" whole_dump "$File"
  mv "$File" "$Work/$1.ppm"
}
# The screen is drawn a moment after the terminal's text changes: dumps are taken until
# CHECK holds for one (or the wait ends).
dump_until() {
  local Name=$1
  shift
  local Deadline=$((SECONDS + HARNESS_WAIT))
  while dump "$Name" && ! "$@" "$Work/$Name.ppm" > "$Work/$Name.txt" 2>&1; do
    [ $SECONDS -lt $Deadline ] || fail "$Size: $Name: $(cat "$Work/$Name.txt")"
    sleep 0.2
  done
}
runs_ended() { [ "$(grep -ac 'CONSOLE-TEST: camera exited' "$Log")" -ge "$1" ]; }
runs_started() { [ "$(grep -ac 'CONSOLE-TEST: starting camera' "$Log")" -ge "$1" ]; }
cursor_on_prompt() { [ "$(Screen cell "$1" $CellWidth $CellHeight 1 20)" = 2 ]; }
menu_pairs() { Screen pairs "$1" $CellWidth $CellHeight "${MenuLines[@]}"; }
# The status line, and no cursor on its first (blank) cell.
status_pairs() {
  local Home
  Screen pairs "$1" $CellWidth $CellHeight "status:1:1:$ItemWidth" || return 1
  Home=$(Screen cell "$1" $CellWidth $CellHeight 1 1)
  [ "$Home" = 1 ] || { echo "a cursor on the first cell ($Home colours there)"; return 1; }
}
same_as_first_prompt() { cmp -s "$Work/prompt.ppm" "$1"; }

# prompt_again WHEN: the prompt the first virtual terminal shows, pixel for pixel as before
# the first run (its colours, the text, the cursor after it).
prompt_again() {
  wait_until "the prompt $1" log_has "CONSOLE-TEST: prompt $1"
  dump_until "prompt-$RANDOM" same_as_first_prompt ||
    fail "$Size: the prompt $1 differs from the one before the first run"
}

# --- One boot per size -----------------------------------------------------------------------
Sizes=${LCD_SIZES:-320x240 480x320 800x480}
Monitor=$Work/monitor.sock
for Size in $Sizes; do
  Width=${Size%x*} Height=${Size#*x}
  for Tools in legacy rpicam; do
    Base=$Samples/Harrowlight.ini
    [ $Tools = legacy ] || Base=$Samples/Harrowlight-rpicam.ini
    cat "$Base" "$Samples/lcd/$Size-$Tools.ini" > "$Work/layout.ini"
    if Screen layout "$Work/layout.ini" "$Width" "$Height" $CellWidth $CellHeight \
      > "$Work/layout.txt"; then
      log "$Size, $Tools: $(sed 's/^[^:]*: //' "$Work/layout.txt")"
    else
      fail "$Size: the $Tools layout: $(cat "$Work/layout.txt")"
    fi
  done
  ItemWidth=$(sed -n 's/^ITEM_WIDTH=//p' "$Samples/lcd/$Size-legacy.ini")
  Lines=$((Height / CellHeight))
  Half=$(((Lines - 1) / 2 / 2))
  # Lines of the first screen: the start-up report (a PC has no GPIO block) over the status
  # line, ISO highlighted in the middle slot, the menu above it plain, the clock.
  MenuLines=("error:1:1:$ItemWidth" "title-highlighted:$((1 + 2 * Half)):1:$ItemWidth"
    "item-highlighted:$((2 + 2 * Half)):1:$ItemWidth" "title:$((2 * Half - 1)):1:$ItemWidth"
    "item:$((2 * Half)):1:$ItemWidth" "clock:$((Lines - 1)):1:$ItemWidth")

  make_initramfs "$Size"
  : > "$Log"
  rm -f "$Monitor"
  CommandLine="console=ttyS0,115200 rdinit=/init quiet video=Virtual-1:${Size} fbcon=font:VGA8x16"
  CommandLine+=" WatchLine=$((1 + 2 * Half))"
  # The card's display data names the size as its preferred mode, which the command line
  # then picks (the kernel's own timings for a 320x240 mode are refused).
  start_qemu x86_64 "$Monitor" "$Work/qemu.log" -m 256M -kernel "$Kernel" \
    -initrd "$Work/initramfs-$Size.cpio.gz" -append "$CommandLine" -vga none \
    -device "VGA,xres=$Width,yres=$Height" -display none -nic none -serial "file:$Log"
  monitor_command cont
  BootStart=$(date +%s.%N)

  wait_until "the prompt" log_has "CONSOLE-TEST: prompt before run 0"
  Framebuffer=$(grep -a 'CONSOLE-TEST: framebuffer' "$Log" | tr -d '\r')
  [ "$Framebuffer" = "CONSOLE-TEST: framebuffer $Width,$Height" ] ||
    fail "$Size: not the framebuffer asked for: $Framebuffer"
  log "$Size: booted to the prompt in $(elapsed "$BootStart") s"
  dump_until prompt cursor_on_prompt

  for Palette in 0 1; do
    [ $Palette = 0 ] || prompt_again "before run $Palette"
    type_until ret "the camera" log_has "CONSOLE-TEST: starting camera with CONSOLE_PALETTE=$Palette"
    dump_until "menu-$Palette" menu_pairs
    press right "ISO 100 " # the report is read: the status line shows
    dump_until "status-$Palette" status_pairs
    log "$Size, CONSOLE_PALETTE=$Palette (foreground, background, contrast):"
    cat "$Work/menu-$Palette.txt" "$Work/status-$Palette.txt" | sed 's/^/    /'
    if [ $Palette = 1 ]; then
      while read -r Name Foreground Background Ratio; do
        awk -v r="$Ratio" 'BEGIN { exit !(r >= 4.5) }' ||
          fail "$Size: $Name: $Foreground on $Background reaches only $Ratio:1"
      done < <(cat "$Work/menu-1.txt" "$Work/status-1.txt")
      if [ -n "$ShotDir" ]; then
        pnmtopng "$Work/status-1.ppm" > "$ShotDir/lcd-$Size.png" 2> /dev/null
      fi
    fi
    # OFF, at the end of the POWER menu four menus down.
    press down "VIDEO LENGTH 10 S "
    press down "TIME-LAPSE 5 S "
    press down "EXEC STILL "
    press down "POWER HIDE MENU "
    for Item in "LED OFF" "LED ON" "SLEEP 30 S" "SLEEP 1 MIN" "SLEEP 5 MIN" "NO SLEEP" OFF; do
      press right "POWER $Item "
    done
    monitor_command "sendkey ret"
    wait_until "the camera to end" runs_ended $((Palette + 1))
    [ "$(grep -ac 'CONSOLE-TEST: camera exited status=0' "$Log")" = $((Palette + 1)) ] ||
      fail "$Size: the camera did not end with status 0"
  done
  # A third run, ended by SIGTERM once the highlight has moved on.
  prompt_again "before run 2"
  type_until ret "the camera" runs_started 3
  dump_until "menu-2" menu_pairs
  # The first virtual terminal's init signals the camera as soon as it sees the move, which
  # the watcher may then miss: wait for the end alone.
  type_until down "the camera to end on SIGTERM" runs_ended 3
  [ "$(grep -ac 'CONSOLE-TEST: camera exited status=0' "$Log")" = 3 ] ||
    fail "$Size: the camera did not end with status 0 on SIGTERM"
  prompt_again "after the runs"
  monitor_command quit || true
  stop_qemu
  wait "$MONITOR_PID" 2> /dev/null || true
  QEMU_PID="" MONITOR_PID="" WATCH_PID=""
done

log "whole test: $(elapsed "$StartSeconds") s"
