#!/bin/bash
# The stand-in: its log quotes arguments for a shell, camera tools write their output file (the
# player does not), runs end by "-t", the environment, SIGKILL or crash mode; "ps" lists them.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run standins "$@"
cd "$RUN_DIR"
export HARROWLIGHT_STANDIN_LOG=$STANDIN_LOG
last_logged() { tail -n 1 "$STANDIN_LOG"; }

# shellcheck disable=SC2016 # an argument that would run a command if a shell expanded it
args=(-t 10 -o "out one.jpg" "it's" '$(touch PWNED)' "a;b" "")
"$HL_STANDINS/raspistill" "${args[@]}"
read_back=()
eval "read_back=($(last_logged))"
[ "${read_back[*]@Q}" = "'raspistill' ${args[*]@Q}" ] || fail "read back wrong: $(last_logged)"
[ ! -e PWNED ] || fail "logging ran an argument"
[ -s "out one.jpg" ] || fail "no -o file written"

"$HL_STANDINS/omxplayer" -o hdmi "$RUN_DIR/clip.h264" -t 10
[ "$(last_logged)" = "omxplayer.bin -o hdmi $RUN_DIR/clip.h264 -t 10" ] ||
  fail "player logged as: $(last_logged)"
if [ -e hdmi ] || [ -e "$RUN_DIR/clip.h264" ]; then fail "the player wrote a file"; fi

for tool in rpicam-still rpicam-vid libcamera-still libcamera-vid; do
  "$HL_STANDINS/$tool" -t 10 --output "$tool.out"
  [ -s "$tool.out" ] || fail "$tool wrote no file"
  [ "$(last_logged)" = "$tool -t 10 --output $tool.out" ] || fail "$tool not logged"
done

HARROWLIGHT_STANDIN_MS=10 "$HL_STANDINS/raspivid" -o short.h264
[ -s short.h264 ] || fail "no video file written with the default run time shortened"

"$HL_STANDINS/raspivid" -t 0 -o long.h264 &
pid=$!
BACKGROUND_PIDS+=("$pid")
wait_until "the endless stand-in to write its file" test -s long.h264
sleep 0.3
kill -0 "$pid" 2>/dev/null || fail "-t 0 ended by itself"
ps -o comm= -p "$pid" | grep -qx raspivid || fail "process not named raspivid"
(exec -a ps "$HL_STANDINS/standin" h -o cmd -C nothing -C raspivid) |
  grep -qxF "$HL_STANDINS/raspivid -t 0 -o long.h264" || fail "the ps stand-in misses raspivid"
kill -9 "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 137 ] || fail "SIGKILL did not end the stand-in (status $status)"

status=0
HARROWLIGHT_STANDIN_EXIT=crash "$HL_STANDINS/raspistill" -t 0 -o crash.jpg || status=$?
[ "$status" -eq 1 ] || fail "crash mode exit status $status"
[ ! -e crash.jpg ] || fail "crash mode wrote its file"
[ "$(log_count '^raspistill -t 0 -o crash\.jpg$')" -eq 1 ] || fail "crash call not logged"
