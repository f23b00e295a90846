#!/usr/bin/env bash
# The static program on an emulated PC's first virtual terminal (VGA text, read exactly with
# its colours from the text buffer; keys typed on the emulated keyboard): the first screen, a
# move, a commit, a capture, the playback list and "OFF" giving the terminal back.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
: "${3:?usage: run-console-test.sh PROGRAM STANDINS CACHEDIR [SHOTDIR (for .ppm screens)]}"
ShotDir=${4:-}
HARNESS_WAIT=${CONSOLE_TEST_TIMEOUT:-60}
setup_guest console-test x86-64 "$@"
require_tools qemu-system-x86_64 ldd
[ -z "$ShotDir" ] || mkdir -p "$ShotDir"
Rows=25 Columns=80 Screen=() STANDIN_LOG=$GUEST_LOG

# The shell and the stand-in with the libraries they load; three recordings: the next is 4.
boot_packages "$Cache" amd64 amd64 './boot/vmlinuz-*'
Root=$RUN_DIR/initramfs
guest_root "$Root" "$TESTS_DIR/pi/console/Harrowlight.ini"
for Library in $(ldd "$Root"/{bin/busybox-shell,opt/standin/standin} | grep -o '\s/\S*'); do
  cp -L --parents "$Library" "$Root"
done
for Id in 1 2 3; do echo "recording $Id" >"$Root/captures/VID_00000$Id.h264"; done
write_state "$Root/opt/harrowlight/CONFIG.DAT" 4 0
pack_initramfs "$Root" "$RUN_DIR/initramfs.cpio.gz"
boot_pc "$RUN_DIR/initramfs.cpio.gz" "nomodeset harrowlight=vga" -vga std

# read_screen: Screen, for each row of cells at 0xb8000 the characters, a tab, runs "07*80".
read_screen() {
  Cells=$(read_guest $((Rows * Columns)) h 0xb8000) || return 1
  # shellcheck disable=SC2086 # the cells are words
  mapfile -t Screen < <(printf '%d\n' $Cells | awk -v columns=$Columns '
    function flush() { runs = runs (runs == "" ? "" : " ") sprintf("%02x*%d", last, run) }
    {
      character = $1 % 256; attribute = int($1 / 256)
      text = text (character >= 32 && character < 127 ? sprintf("%c", character) : "?")
      if (run > 0 && attribute == last) run++
      else { if (run > 0) flush(); last = attribute; run = 1 }
      if (NR % columns == 0) { flush(); print text "\t" runs; text = runs = ""; run = 0 }
    }')
}
text_of() { echo "${Screen[$1]%%$'\t'*}"; }
attributes_of() { echo "${Screen[$1]#*$'\t'}"; }
last_screen() { for Row in "${!Screen[@]}"; do echo "$Row |${Screen[$Row]}"; done; }
SCREEN_READER=last_screen

# row_is WHEN ROW TEXT ATTRIBUTES: the last screen's row ROW shows TEXT (padded) in ATTRIBUTES.
row_is() {
  printf -v Want '%-*s\t%s' $Columns "$3" "$4"
  [ "${Screen[$2]}" = "$Want" ] || fail "$1: row $2 is '${Screen[$2]}', expected '$Want'"
}
rows_blank() { for Row in $(seq "$2" "$3"); do row_is "$1" "$Row" "" "$Blank"; done; }
# settled: reads the screen; true when it matches the read before (no redraw caught halfway).
settled() {
  local Before=("${Screen[@]}")
  read_screen 2>/dev/null && [ "${Before[*]}" = "${Screen[*]}" ]
}
screen_row_reads() { settled && [[ $(text_of "$1") =~ ^\ *"$2"\ *$ ]]; } # ROW TEXT, blanks aside
wait_for_row() { wait_until "$3: row $1 to read '$2'" screen_row_reads "$1" "$2"; }

# press_to_see KEY ROW TEXT WHEN: types KEY, then waits until row ROW reads TEXT.
press_to_see() { monitor_command "sendkey $1" && wait_for_row "$2" "$3" "$4"; }
# press_to_call KEY PATTERN: types KEY, then waits for a new stand-in call matching PATTERN.
press_to_call() {
  local Calls=$(($(log_count "$2") + 1))
  monitor_command "sendkey $1" && wait_log "$2" "$Calls"
}
shoot() { [ -z "$ShotDir" ] || monitor_command "screendump $ShotDir/$1.ppm"; } # before later keys

# The console's attributes (background, foreground; bold brightens the foreground) of blank
# cells and items, titles, the highlighted title and item (yellow shows brown), the status.
Plain=07 Title=0f Chosen=68 ChosenItem=60 Status=7c Width=30 # ITEM_WIDTH of the configuration
Blank="$Plain*$Columns"
cell() { echo "$1*$Width $Plain*$((Columns - Width))"; } # ATTRIBUTE: the menu's cells, blank after
# status_row WHEN TEXT: waits for the status line to read TEXT, then checks its colours.
status_row() { wait_for_row 0 "$2" "$1" && row_is "$1" 0 "$2" "$(cell $Status)"; }
# menu_at WHEN SLOT TITLE ITEM [chosen]: the menu on rows 2*SLOT+1 and 2*SLOT+2, the item centred.
menu_at() {
  local Row=$((2 * $2 + 1)) TitleCell=$Title ItemRuns=$Blank
  [ "${5:-}" != chosen ] || TitleCell=$Chosen ItemRuns=$(cell $ChosenItem)
  row_is "$1" $Row "$3" "$(cell $TitleCell)"
  row_is "$1" $((Row + 1)) "$(centred "$4" $Width)" "$ItemRuns"
}

# --- First screen: status line, the menus from RESOLUTION (highlighted, mid-screen), clock ---
wait_until "the camera to start" guest_said "starting camera"
log "booted to the camera in $(elapsed "$BootStart") s"
wait_until "the camera's controlling terminal to be tty1 (1025)" \
  guest_said "camera controlling terminal=1025[[:space:]]*$"
When="first screen"
Clock='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2} +$' # the line drawn last
clock_drawn() { settled && [[ $(text_of 23) =~ $Clock ]]; }
wait_until "$When: row 23 to show the date and time" clock_drawn
# On a PC the program finds no GPIO block; should it say so on the error line (bold white on
# red) after the first redraw, the message covers the status line until the next one.
if [[ $(text_of 0) == Failed\ to* ]]; then
  log "$When: start-up message on the error line: $(text_of 0)"
  [[ $(attributes_of 0) == 4f\** ]] ||
    fail "$When: the start-up message is not in bold white on red: $(attributes_of 0)"
else
  status_row "$When" "      SLEEP OFF"
fi
rows_blank "$When" 1 10
menu_at "$When" 5 RESOLUTION 2592x1944 chosen
menu_at "$When" 6 EXPOSURE AUTO
menu_at "$When" 7 "IMAGE EFFECT" NONE
menu_at "$When" 8 EXEC VIDEO
menu_at "$When" 9 POWER "HIDE MENU"
rows_blank "$When" 21 22
row_is "$When" 23 "$(text_of 23)" "$(cell $Status)"
rows_blank "$When" 24 24
shoot menu

# --- A move: Right shows the next item, Down the next menu (application cursor keys) ---
press_to_see right 12 "1920x1080" "after Right"
status_row "after Right" "      SLEEP OFF"
menu_at "after Right" 5 RESOLUTION 1920x1080 chosen
press_to_see down 11 "EXPOSURE" "after Down"
menu_at "after Down" 4 RESOLUTION 2592x1944
menu_at "after Down" 5 EXPOSURE AUTO chosen
rows_blank "after Down" 1 8

# --- A commit: Enter restarts the preview with NIGHT, still shown once the highlight moves ---
press_to_see right 12 "NIGHT" "on NIGHT"
press_to_call ret "^raspistill -w 2592 -h 1944 -ex night -p 480,0,160,120 -t 0"
press_to_see down 11 "IMAGE EFFECT" "after the commit"
menu_at "after the commit" 4 EXPOSURE NIGHT

# --- A capture: Space on EXEC's VIDEO starts it, the status line shows REC; Space stops it --
press_to_see down 11 "EXEC" "on EXEC"
press_to_call spc "^raspivid -t 8000 -o /captures/VID_000004.h264"
status_row "recording" "REC   SLEEP OFF"
menu_at "recording" 5 EXEC VIDEO chosen
shoot recording
press_to_see spc 0 "SLEEP OFF" "after Space stopped the capture"

# --- The playback list: PLAY committed, Space opens it on the first recording, in the middle
press_to_see right 12 "PLAY" "on PLAY"
press_to_call ret "^raspistill .* -t 0"
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
for Item in "LED ON" "LED OFF" OFF; do press_to_see right 12 "$Item" "on $Item"; done
monitor_command "sendkey ret"
wait_until "the camera to end" guest_said "idle"
guest_said 'camera exited status=0' || fail "the camera did not end with status 0"
Modes=$(grep -a 'GUEST: terminal modes' "$GUEST_LOG")
for Mode in icanon echo icrnl opost; do
  [[ $Modes == *" $Mode "* ]] || fail "the terminal was left without $Mode: $Modes"
done
wait_for_row 0 "console handed back" "after OFF"
row_is "after OFF" 0 "console handed back" "$Blank"
rows_blank "after OFF" 1 24
guest_said "captures: $(echo VID_00000{1..4}.h264)[[:space:]]*$" ||
  fail "not the three recordings and the new capture: $(grep -a 'GUEST: captures:' "$GUEST_LOG")"
