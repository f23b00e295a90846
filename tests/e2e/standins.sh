#!/bin/bash
# The stand-in camera tools and player themselves: the log line quotes the arguments so a
# shell reads them back unchanged, every camera tool name writes its "-o" file (the player
# does not), "-t" and HARROWLIGHT_STANDIN_MS bound the run, "-t 0" runs until killed,
# SIGKILL ends it, HARROWLIGHT_STANDIN_EXIT=crash ends at once without a file, and as "ps"
# it lists the command lines of the processes named.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run standins "$@"
cd "$RUN_DIR"
export HARROWLIGHT_STANDIN_LOG=$STANDIN_LOG

log "arguments are logged so that a shell reads them back"
# shellcheck disable=SC2016 # an argument that would run a command if a shell expanded it
args=(-t 10 -o "out one.jpg" "it's" '$(touch PWNED)' "a;b" "")
"$HL_STANDINS/raspistill" "${args[@]}"
line=$(tail -n 1 "$STANDIN_LOG")
read_back=()
eval "read_back=($line)"
[ "${read_back[0]}" = raspistill ] || fail "name logged as ${read_back[0]}"
[ "${#read_back[@]}" -eq $((${#args[@]} + 1)) ] || fail "argument count: $line"
for i in "${!args[@]}"; do
  [ "${read_back[$((i + 1))]}" = "${args[$i]}" ] || fail "argument $i read back wrong: $line"
done
[ ! -e PWNED ] || fail "logging ran an argument"
[ -s "out one.jpg" ] || fail "no -o file written"

log "the player is named omxplayer.bin and writes no file"
"$HL_STANDINS/omxplayer" -o hdmi "$RUN_DIR/clip.h264" -t 10
[ "$(tail -n 1 "$STANDIN_LOG")" = "omxplayer.bin -o hdmi $RUN_DIR/clip.h264 -t 10" ] ||
  fail "player logged as: $(tail -n 1 "$STANDIN_LOG")"
if [ -e hdmi ] || [ -e "$RUN_DIR/clip.h264" ]; then fail "the player wrote a file"; fi

log "the newer camera tools log and write their --output file"
for tool in rpicam-still rpicam-vid libcamera-still libcamera-vid; do
  "$HL_STANDINS/$tool" -t 10 --output "$tool.out"
  [ -s "$tool.out" ] || fail "$tool wrote no file"
  [ "$(tail -n 1 "$STANDIN_LOG")" = "$tool -t 10 --output $tool.out" ] || fail "$tool not logged"
done

log "the default run time can be shortened"
HARROWLIGHT_STANDIN_MS=10 "$HL_STANDINS/raspivid" -o short.h264
[ -s short.h264 ] || fail "no video file written"

log "-t 0 runs until killed"
"$HL_STANDINS/raspivid" -t 0 -o long.h264 &
pid=$!
BACKGROUND_PIDS+=("$pid")
wait_until "the endless stand-in to write its file" test -s long.h264
sleep 0.3
kill -0 "$pid" 2>/dev/null || fail "-t 0 ended by itself"
ps -o comm= -p "$pid" | grep -qx raspivid || fail "process not named raspivid"
# As ps (for busybox systems) it lists the command lines of the processes so named.
(exec -a ps "$HL_STANDINS/standin" h -o cmd -C nothing -C raspivid) |
  grep -qxF "$HL_STANDINS/raspivid -t 0 -o long.h264" || fail "the ps stand-in does not list raspivid"
kill -9 "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 137 ] || fail "SIGKILL did not end the stand-in (status $status)"

log "crash mode ends at once without a file"
status=0
HARROWLIGHT_STANDIN_EXIT=crash "$HL_STANDINS/raspistill" -t 0 -o crash.jpg || status=$?
[ "$status" -eq 1 ] || fail "crash mode exit status $status"
[ ! -e crash.jpg ] || fail "crash mode wrote its file"
[ "$(log_count '^raspistill -t 0 -o crash\.jpg$')" -eq 1 ] || fail "crash call not logged"
