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
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
Usage="usage: run-console-test.sh PROGRAM STANDINS CACHEDIR [SHOTDIR]"
Program=$(readlink -f "${1:?$Usage}")
Standins=$(readlink -f "${2:?$Usage}")
Cache=${3:?$Usage}
ShotDir=${4:-}
Here=$(cd "$(dirname "$0")" && pwd)
HARNESS_WAIT=${CONSOLE_TEST_TIMEOUT:-60}
setup_run console-test
StartSeconds=$(date +%s.%N)

Rows=25
Columns=80
ScreenText=()
ScreenAttributes=()
Log=$RUN_DIR/serial.log
SHOW_FILES+=("$Log")
# A failure shows the last screen read: row |text| attributes.
last_screen() { [ ${#ScreenText[@]} -eq 0 ] || show_screen 2>&1; }
SCREEN_READER=last_screen

require_tools qemu-system-x86_64 socat cpio gzip dpkg-deb apt-get ldd
file -L "$Program" 2>/dev/null | grep -q 'x86-64.*statically linked' || fail "$Program is not a static x86-64 program"
[ -z "$ShotDir" ] || mkdir -p "$ShotDir"

# --- Kernel, busybox and initramfs ---------------------------------------------------------
boot_packages "$Cache" amd64 amd64 './boot/vmlinuz-*'

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

Root=$RUN_DIR/initramfs
initramfs_base "$Root" "$RUN_DIR/extract" "$Here/console/init" "$Standins"
copy_with_libraries "$Root" "$Root/bin/busybox-shell" "$Root/opt/standin/standin"
cp "$Program" "$Root/opt/harrowlight/harrowlight"
cp "$Here/console/Harrowlight.ini" "$Root/opt/harrowlight/Harrowlight.ini"
# Three earlier recordings, so the next capture is number 4.
mkdir -p "$Root/captures"
for Id in 1 2 3; do echo "recording $Id" > "$Root/captures/VID_00000$Id.h264"; done
write_state "$Root/opt/harrowlight/CONFIG.DAT" 4 0
pack_initramfs "$Root" "$RUN_DIR/initramfs.cpio.gz"
log "initramfs made in $(elapsed "$StartSeconds") s"

# --- Boot: kernel messages on the serial port, the first virtual terminal left to the camera
CommandLine="console=ttyS0,115200 rdinit=/init nomodeset quiet"
start_qemu x86_64 "$RUN_DIR/monitor.sock" "$RUN_DIR/qemu.log" -m 256M -kernel "$Kernel" \
  -initrd "$RUN_DIR/initramfs.cpio.gz" -append "$CommandLine" -vga std -display none \
  -nic none -serial "file:$Log"
monitor_command cont
BootStart=$(date +%s.%N)

log_has() { grep -aq "$1" "$Log" 2> /dev/null; }

# --- The screen ----------------------------------------------------------------------------

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

# Reads the screen; true when row ROW reads TEXT (blanks around it trimmed).
screen_row_reads() {
  read_screen > /dev/null 2>&1 || return 1
  local Line=${ScreenText[$1]}
  Line=${Line%"${Line##*[! ]}"}
  Line=${Line#"${Line%%[! ]*}"}
  [ "$Line" = "$2" ]
}
wait_for_row() { wait_until "$3: row $1 to read '$2'" screen_row_reads "$1" "$2"; }

# press_to_see KEY ROW TEXT WHEN: types KEY, then waits until row ROW reads TEXT. Each key
# waits for the one before to show, as a user's would.
press_to_see() {
  monitor_command "sendkey $1"
  wait_for_row "$2" "$3" "$4"
}

# Calls of the stand-in tools matching PATTERN so far (the initramfs reports them).
calls_of() { grep -ac "$1" "$Log" || true; }
more_calls_of() { [ "$(calls_of "$1")" -gt "$2" ]; }
# press_to_call KEY PATTERN WHEN: types KEY, then waits for a new call matching PATTERN.
press_to_call() {
  local Before
  Before=$(calls_of "$2")
  monitor_command "sendkey $1"
  wait_until "$3: a call of $2" more_calls_of "$2" "$Before"
}

shoot() {
  if [ -n "$ShotDir" ]; then
    monitor_command "screendump $ShotDir/$1.ppm"
    wait_until "the screen dump $1" test -s "$ShotDir/$1.ppm"
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
  printf '%*s%s%*s' $Left "" "$1" $((Width - ${#1} - Left)) ""
}
# runs ATTRIBUTE COUNT ...: attribute runs as read_screen gives them, equal neighbours joined.
runs() {
  local Out="" Last="" Count=0
  while [ $# -gt 0 ]; do
    if [ "$1" = "$Last" ]; then
      Count=$((Count + $2))
    else
      [ -z "$Last" ] || Out+="$Last*$Count "
      Last=$1 Count=$2
    fi
    shift 2
  done
  echo "${Out}$Last*$Count"
}
status_row() { row_is "$1" 0 "$2" "$Status*$Width $Plain*$((Columns - Width))"; }
# menu_at WHEN SLOT TITLE ITEM [chosen]: the menu in screen slot SLOT (rows 2*SLOT+1 and
# 2*SLOT+2 with this configuration).
menu_at() {
  local Row=$((2 * $2 + 1)) TitleAttribute=$Title ItemAttribute=$Item
  if [ "${5:-}" = chosen ]; then TitleAttribute=$Chosen ItemAttribute=$ChosenItem; fi
  row_is "$1" $Row "$3" "$(runs $TitleAttribute $Width $Plain $((Columns - Width)))"
  row_is "$1" $((Row + 1)) "$(centred "$4")" "$(runs $ItemAttribute $Width $Plain $((Columns - Width)))"
}
# On a PC the program finds no GPIO block; should it say so on the error line (bold white on
# red) after the first redraw, the message covers the start of the status line until the
# next one, which "after Right" checks.
first_status_row() {
  if [[ ${ScreenText[0]} == Failed\ to* ]]; then
    log "$1: start-up message on the error line: ${ScreenText[0]}"
    [[ ${ScreenAttributes[0]} == 4f\** ]] ||
      fail "$1: the start-up message is not in bold white on red: ${ScreenAttributes[0]}"
  else
    status_row "$1" "$2"
  fi
}
clock_row() {
  [[ ${ScreenText[23]} =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}\ +$ ]] ||
    fail "$1: row 23 reads '${ScreenText[23]}', expected the date and time"
  [ "${ScreenAttributes[23]}" = "$Status*$Width $Plain*$((Columns - Width))" ] ||
    fail "$1: clock row has attributes '${ScreenAttributes[23]}'"
}

# --- First screen: status line, the menus from RESOLUTION down (it highlighted, in the
# middle slot), the clock line two rows above the bottom ------------------------------------
wait_until "the camera to start" log_has "CONSOLE-TEST: starting camera"
log "booted to the camera in $(elapsed "$BootStart") s"
wait_until "the camera's terminal" log_has "CONSOLE-TEST: camera controlling terminal="
log_has "CONSOLE-TEST: camera controlling terminal=1025" ||
  fail "the camera's controlling terminal is not tty1: $(grep -a 'controlling terminal' "$Log")"
wait_for_row 11 "RESOLUTION" "first screen"
log "menu drawn $(elapsed "$BootStart") s after boot start"
When="first screen"
first_status_row "$When" "      SLEEP OFF"
rows_blank "$When" 1 10
menu_at "$When" 5 RESOLUTION 2592x1944 chosen
menu_at "$When" 6 EXPOSURE AUTO
menu_at "$When" 7 "IMAGE EFFECT" NONE
menu_at "$When" 8 EXEC VIDEO
menu_at "$When" 9 POWER "HIDE MENU"
rows_blank "$When" 21 22
clock_row "$When"
rows_blank "$When" 24 24
shoot menu

# --- A move: Right shows the next item, Down the next menu (application cursor keys) --------
press_to_see right 12 "1920x1080" "after Right"
status_row "after Right" "      SLEEP OFF"
menu_at "after Right" 5 RESOLUTION 1920x1080 chosen
press_to_see down 11 "EXPOSURE" "after Down"
When="after Down"
menu_at "$When" 4 RESOLUTION 2592x1944
menu_at "$When" 5 EXPOSURE AUTO chosen
rows_blank "$When" 1 8

# --- A commit: Enter restarts the preview with NIGHT, which stays shown once the highlight
# has moved on ------------------------------------------------------------------------------
press_to_see right 12 "NIGHT" "on NIGHT"
press_to_call ret "^raspistill -w 2592 -h 1944 -ex night -p 480,0,160,120 -t 0" "the commit"
press_to_see down 11 "IMAGE EFFECT" "after the commit"
menu_at "after the commit" 4 EXPOSURE NIGHT

# --- A capture: Space on EXEC's VIDEO starts it, the status line shows REC; Space stops it --
press_to_see down 11 "EXEC" "on EXEC"
press_to_call spc "^raspivid -t 8000 -o /captures/VID_000004.h264" "the capture"
wait_for_row 0 "REC   SLEEP OFF" "recording"
status_row "recording" "REC   SLEEP OFF"
menu_at "recording" 5 EXEC VIDEO chosen
shoot recording
press_to_see spc 0 "SLEEP OFF" "after Space stopped the capture"

# --- The playback list: PLAY committed, Space opens it on the first recording, in the middle
press_to_see right 12 "PLAY" "on PLAY"
press_to_call ret "^raspistill .* -t 0" "committing PLAY"
press_to_see spc 12 "VID_000001.h264" "the playback list"
When="the playback list"
rows_blank "$When" 0 11
row_is "$When" 12 "VID_000001.h264" "$Chosen*$Columns"
for Id in 2 3 4; do row_is "$When" $((11 + Id)) "VID_00000$Id.h264" "$Title*$Columns"; done
rows_blank "$When" 16 24
shoot playback
press_to_see spc 11 "EXEC" "back from the list"

# --- OFF: the program ends and gives the terminal back --------------------------------------
press_to_see down 11 "POWER" "on POWER"
press_to_see right 12 "LED ON" "on LED ON"
press_to_see right 12 "LED OFF" "on LED OFF"
press_to_see right 12 "OFF" "on OFF"
monitor_command "sendkey ret"
wait_until "the camera to end" log_has "CONSOLE-TEST: idle"
grep -aq 'CONSOLE-TEST: camera exited status=0' "$Log" || fail "the camera did not end with status 0"
Modes=$(grep -a 'CONSOLE-TEST: terminal modes' "$Log")
for Mode in icanon echo icrnl opost; do
  [[ $Modes == *" $Mode "* ]] || fail "the terminal was left without $Mode: $Modes"
done
wait_for_row 0 "console handed back" "after OFF"
row_is "after OFF" 0 "console handed back" "$Plain*$Columns"
rows_blank "after OFF" 1 24
Captures=$(grep -a 'CONSOLE-TEST: captures:' "$Log" | tr -d '\r')
[ "$Captures" = "CONSOLE-TEST: captures: $(echo VID_00000{1..4}.h264)" ] ||
  fail "not the three recordings and the new capture: $Captures"

monitor_command quit || true
log "whole test: $(elapsed "$StartSeconds") s"
