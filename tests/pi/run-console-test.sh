#!/usr/bin/env bash
# System test on the Linux console: boots Debian's amd64 kernel under QEMU with a busybox
# initramfs that runs the static camera program on the first virtual terminal (VGA text
# mode), as the installed service runs it, with the stand-in camera tools. Reads the screen
# exactly from the VGA text buffer (characters and colour attributes) through the QEMU
# monitor, types on the emulated keyboard, and checks the first screen, a move, a commit, a
# capture, the playback list and "OFF" giving the terminal back.
#
# Usage: run-console-test.sh PROGRAM STANDINS CACHEDIR [SHOTDIR]
#   PROGRAM   the statically linked x86-64 harrowlight
#   STANDINS  the directory of the built stand-in camera tools and player
#   CACHEDIR  downloaded .deb files, kept between runs
#   SHOTDIR   when given, the menu, a capture and the playback list are saved there as
#             menu.ppm, recording.ppm and playback.ppm (the monitor's screen dumps)
# Every wait is bounded; CONSOLE_TEST_TIMEOUT (seconds, default 60) bounds each of them.
# The run's files live in a private directory that is removed at the end.
set -euo pipefail

Usage="usage: run-console-test.sh PROGRAM STANDINS CACHEDIR [SHOTDIR]"
Program=$(readlink -f "${1:?$Usage}")
Standins=$(readlink -f "${2:?$Usage}")
Cache=${3:?$Usage}
ShotDir=${4:-}
Here=$(cd "$(dirname "$0")" && pwd)
Timeout=${CONSOLE_TEST_TIMEOUT:-60}
TestName=console-test
StartSeconds=$(date +%s.%N)
# shellcheck source=tests/pi/boot-lib.sh
. "$Here/boot-lib.sh"

Work=$(mktemp -d "${TMPDIR:-/tmp}/harrowlight-console.XXXXXX")
Log=$Work/serial.log
Monitor=$Work/monitor.sock
cleanup() {
  stop_qemu
  rm -rf "$Work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

require_tools scripts/install-deps qemu-system-x86_64 socat cpio gzip dpkg-deb apt-get ldd
file -L "$Program" 2> /dev/null | grep -q 'x86-64.*statically linked' ||
  { echo "$TestName: $Program is not a static x86-64 program" >&2; exit 1; }
for Tool in raspistill raspivid omxplayer omxplayer.bin; do
  [ -x "$Standins/$Tool" ] || { echo "$TestName: $Standins/$Tool is missing" >&2; exit 1; }
done
[ -z "$ShotDir" ] || mkdir -p "$ShotDir"

# --- Kernel, busybox and initramfs ---------------------------------------------------------
mkdir -p "$Cache"
"$Here/pi-fetch.sh" "$Cache" amd64 amd64
unpack_boot_packages "$Cache/debs" "$Work/extract" amd64 amd64 './boot/vmlinuz-*'

# Copies each host program, with the shared libraries it loads, into the initramfs ROOT.
copy_with_libraries() {
  local Root=$1 Program Library
  shift
  for Program in "$@"; do
    for Library in $(ldd "$Program" | grep -o '/[^ ]*'); do
      [ -e "$Root$Library" ] || { mkdir -p "$Root$(dirname "$Library")" && cp -L "$Library" "$Root$Library"; }
    done
  done
}

Root=$Work/initramfs
initramfs_base "$Root" "$Work/extract" "$Here/console/init"
mkdir -p "$Root/opt/standin"
cp "$Standins/raspistill" "$Standins/raspivid" "$Standins/omxplayer" \
  "$Standins/omxplayer.bin" "$Here/initramfs/standin/ps" "$Root/opt/standin/"
copy_with_libraries "$Root" "$Root/bin/busybox-shell" "$Root/opt/standin/raspistill"
cp "$Program" "$Root/opt/harrowlight/harrowlight"
cp "$Here/console/Harrowlight.ini" "$Root/opt/harrowlight/Harrowlight.ini"
write_state_file "$Root/opt/harrowlight/CONFIG.DAT"
pack_initramfs "$Root" "$Work/initramfs.cpio.gz"

# --- Boot: kernel messages on the serial port, the first virtual terminal left to the camera
CommandLine="console=ttyS0,115200 rdinit=/init nomodeset quiet"
start_qemu x86_64 "$Monitor" "$Work/qemu.log" -m 256M -kernel "$Kernel" \
  -initrd "$Work/initramfs.cpio.gz" -append "$CommandLine" -vga std -display none \
  -nic none -serial "file:$Log"
has_monitor() { [ -S "$Monitor" ]; }
wait_for "the QEMU monitor" has_monitor || exit 1
open_monitor "$Monitor"
monitor_command cont
BootStart=$(date +%s.%N)

log_has() { grep -aq "$1" "$Log" 2> /dev/null; }

# --- The screen ----------------------------------------------------------------------------
Rows=25
Columns=80
ScreenText=()
ScreenAttributes=()

# Reads the 80x25 text buffer at 0xb8000 into ScreenText (one line of characters per row)
# and ScreenAttributes (per row, the colour attribute of each cell as runs "ATTRIBUTE*COUNT").
read_screen() {
  local Cells
  Cells=$(read_guest $((Rows * Columns)) h 0xb8000) || return 1
  mapfile -t ScreenText < <(decode_cells text <<< "$Cells")
  mapfile -t ScreenAttributes < <(decode_cells attributes <<< "$Cells")
}

# Each cell is a 16-bit word: the character in the low byte, its attribute in the high one.
decode_cells() {
  tr ' ' '\n' | awk -v what="$1" -v columns=$Columns '
    function hex(text,   i, value) {
      value = 0
      for (i = 3; i <= length(text); i++)
        value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
      return value
    }
    function flush() {
      if (run > 0) line = line (line == "" ? "" : " ") sprintf("%02x*%d", last, run)
    }
    {
      cell = hex($0); character = cell % 256; attribute = int(cell / 256)
      if (what == "text") {
        line = line (character >= 32 && character < 127 ? sprintf("%c", character) : "?")
      } else if (run > 0 && attribute == last) {
        run++
      } else {
        flush(); last = attribute; run = 1
      }
      if (NR % columns == 0) {
        if (what != "text") flush()
        print line; line = ""; run = 0
      }
    }'
}

show_screen() {
  local Row
  for Row in $(seq 0 $((Rows - 1))); do
    printf '%2d |%s| %s\n' "$Row" "${ScreenText[$Row]}" "${ScreenAttributes[$Row]}" >&2
  done
}

# row_is WHEN ROW TEXT ATTRIBUTES: row ROW of the last screen read shows TEXT (padded with
# blanks to the full width) in the attribute runs ATTRIBUTES.
row_is() {
  local When=$1 Row=$2 Attributes=$4 Text
  printf -v Text '%-*s' $Columns "$3"
  [ "${ScreenText[$Row]}" = "$Text" ] ||
    fail "$When: row $Row reads '${ScreenText[$Row]}', expected '$Text'"
  [ "${ScreenAttributes[$Row]}" = "$Attributes" ] ||
    fail "$When: row $Row has attributes '${ScreenAttributes[$Row]}', expected '$Attributes'"
}

# rows_blank WHEN FIRST LAST: rows FIRST to LAST are blank, grey on black.
rows_blank() {
  local Row
  for Row in $(seq "$2" "$3"); do row_is "$1" "$Row" "" "07*$Columns"; done
}

# Waits until row ROW reads TEXT (blanks trimmed), then checks the whole screen is in place.
screen_row_reads() {
  read_screen > /dev/null 2>&1 || return 1
  local Line=${ScreenText[$1]}
  Line=${Line%"${Line##*[! ]}"}
  [ "$Line" = "$2" ]
}
wait_for_row() {
  local Row=$1 Text=$2 When=$3
  if ! wait_for "$When: row $Row to read '$Text'" screen_row_reads "$Row" "$Text"; then
    show_screen
    exit 1
  fi
}

press() {
  local Key
  for Key in "$@"; do monitor_command "sendkey $Key"; done
}

shoot() {
  if [ -n "$ShotDir" ]; then
    monitor_command "screendump $ShotDir/$1.ppm"
    wait_for "the screen dump $1" test -s "$ShotDir/$1.ppm" || true
  fi
}

# The colour attributes the Linux console gives the program's renditions (background in
# the high nibble, foreground in the low one; bold sets the foreground's bright bit).
Plain=07      # blank cells after a reset: grey on black
Title=0f      # bold white on black
Item=07       # white on black
Chosen=68     # bold black on yellow: dark grey on brown
ChosenItem=60 # black on yellow: black on brown
Status=7c     # bold red on white: bright red on grey
Width=30      # ITEM_WIDTH of console/Harrowlight.ini

# centred TEXT: TEXT centred in a menu cell (the odd blank on the right).
centred() {
  local Left=$(((Width - ${#1}) / 2))
  printf '%*s%s%*s' $((Left + 1)) "" "$1" $((Width - ${#1} - Left)) ""
}
status_row() { row_is "$1" 0 "$2" "$Status*$Width $Plain*$((Columns - Width))"; }
# menu_at WHEN SLOT TITLE ITEM [chosen]: the menu in screen slot SLOT (rows 2*SLOT+2 and
# 2*SLOT+3 with this configuration).
menu_at() {
  local Row=$((2 * $2 + 2)) TitleAttribute=$Title ItemAttribute=$Item
  if [ "${5:-}" = chosen ]; then TitleAttribute=$Chosen ItemAttribute=$ChosenItem; fi
  row_is "$1" $Row " $3" "$Plain*1 $TitleAttribute*$Width $Plain*$((Columns - Width - 1))"
  row_is "$1" $((Row + 1)) "$(centred "$4")" \
    "$Plain*1 $ItemAttribute*$Width $Plain*$((Columns - Width - 1))"
}
clock_row() {
  [[ ${ScreenText[23]} =~ ^\ [0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}\ +$ ]] ||
    fail "$1: row 23 reads '${ScreenText[23]}', expected the date and time"
  [ "${ScreenAttributes[23]}" = "$Plain*1 $Item*$Width $Plain*$((Columns - Width - 1))" ] ||
    fail "$1: clock row has attributes '${ScreenAttributes[23]}'"
}

# --- First screen: status line, the menus from RESOLUTION down (it highlighted, in the
# middle slot), the clock line two rows above the bottom ------------------------------------
wait_for "the camera to start" log_has "CONSOLE-TEST: starting camera" || exit 1
note "booted to the camera in $(elapsed "$BootStart") s"
wait_for_row 12 "RESOLUTION" "first screen"
note "menu drawn $(elapsed "$BootStart") s after boot start"
When="first screen"
status_row "$When" "      SLEEP OFF"
rows_blank "$When" 1 11
menu_at "$When" 5 RESOLUTION 2592x1944 chosen
menu_at "$When" 6 EXPOSURE AUTO
menu_at "$When" 7 "IMAGE EFFECT" NONE
menu_at "$When" 8 EXEC VIDEO
menu_at "$When" 9 POWER "HIDE MENU"
rows_blank "$When" 22 22
clock_row "$When"
rows_blank "$When" 24 24
shoot menu

# --- A move: Right shows the next item, Down the next menu (application cursor keys) --------
press right
wait_for_row 13 "1920x1080" "after Right"
menu_at "after Right" 5 RESOLUTION 1920x1080 chosen
press down
wait_for_row 12 "EXPOSURE" "after Down"
When="after Down"
menu_at "$When" 4 RESOLUTION 2592x1944
menu_at "$When" 5 EXPOSURE AUTO chosen
rows_blank "$When" 1 9

# --- A commit: Enter keeps NIGHT, shown once the highlight has moved on ----------------------
press right ret
press down
wait_for_row 12 "IMAGE EFFECT" "after the commit"
menu_at "after the commit" 4 EXPOSURE NIGHT

# --- A capture: Space on EXEC's VIDEO starts it; the status line shows REC ------------------
press down
wait_for_row 12 "EXEC" "on EXEC"
press spc
wait_for "REC on the status line" screen_row_reads 0 "REC   SLEEP OFF" || { show_screen; exit 1; }
status_row "recording" "REC   SLEEP OFF"
menu_at "recording" 5 EXEC VIDEO chosen
shoot recording
press spc
wait_for "Space to stop the capture" screen_row_reads 0 "      SLEEP OFF" || { show_screen; exit 1; }

# --- The playback list: PLAY committed, Space opens it on the new recording ----------------
press right ret
press spc
wait_for_row 1 "VID_000001.h264" "the playback list"
row_is "the playback list" 1 "VID_000001.h264" "$Chosen*$Columns"
rows_blank "the playback list" 2 24
shoot playback
press spc
wait_for_row 12 "EXEC" "back from the list"

# --- OFF: the program ends and gives the terminal back --------------------------------------
press down right right right
wait_for_row 13 "OFF" "on OFF"
press ret
wait_for "the camera to end" log_has "CONSOLE-TEST: idle" || exit 1
grep -aq 'CONSOLE-TEST: camera exited status=0' "$Log" || fail "the camera did not end with status 0"
Modes=$(grep -a 'CONSOLE-TEST: terminal modes' "$Log")
for Mode in icanon echo icrnl opost; do
  [[ $Modes =~ [^-]$Mode ]] || fail "the terminal was left without $Mode: $Modes"
done
wait_for_row 0 "console handed back" "after OFF"
row_is "after OFF" 0 "console handed back" "$Plain*$Columns"
rows_blank "after OFF" 1 24
grep -aq 'CONSOLE-TEST: captures: VID_000001.h264' "$Log" || fail "no capture file: $(grep -a 'captures:' "$Log")"

monitor_command quit || true
note "whole test: $(elapsed "$StartSeconds") s"
if [ $Failures -ne 0 ]; then
  echo "$TestName: $Failures check(s) failed; last screen:" >&2
  show_screen
  echo "--- serial log ---" >&2
  tr -d '\r' < "$Log" | tail -n 40 >&2
  exit 1
fi
note "PASS"
