# Helpers of the system tests and the benchmark (docs/testing.md). Sourced, it re-runs the script
# in its own pid namespace (root only; not with HARNESS_SHARED_PIDS=1): the program kills by name.
# shellcheck shell=bash disable=SC2034 # pins, words and settings are for the scripts

set -euo pipefail

if [ -z "${HARNESS_ISOLATED:-}${HARNESS_SHARED_PIDS:-}" ] &&
  unshare --pid --fork --mount-proc --kill-child true 2>/dev/null; then
  HARNESS_ISOLATED=1 exec unshare --pid --fork --mount-proc --kill-child bash "$0" "$@"
fi

TESTS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Each wait's bound, and the second of the script after which all fail (0: none).
HARNESS_WAIT=${HARNESS_WAIT:-15} HARNESS_LIMIT=${HARROWLIGHT_TEST_LIMIT:-0}
SCREEN_READER=${SCREEN_READER:-tmux_screen} KEY_SENDER=${KEY_SENDER:-tmux_keys}
NAME="test" RUN_DIR="" STANDIN_LOG="" TMUX_SOCKET="" TMUX_STARTS=0 PROGRAM_PID="" QEMU_PID="" MONITOR_LOG=""
# WATCH_PID's end fails every wait; PANE_RUNS_PROGRAM=1: the pane records the program's status.
WATCH_PID="" PANE_RUNS_PROGRAM=0 BACKGROUND_PIDS=() CLEANUP_HOOKS=() SHOW_FILES=() MONITOR_PID=""

# Pins of tests/e2e/test.ini and words of the simulated GPIO page.
PIN_UP=17 PIN_LEFT=22 PIN_RIGHT=23 PIN_DOWN=27 PIN_ENTER=24 PIN_SPACE=25 PIN_LED=18 PIN_LCD=12
WORD_GPSET0=7 WORD_GPCLR0=10 WORD_GPLEV0=13

log() { echo "[$NAME] $*"; }

fail() { # MESSAGE: shows the screen (as SCREEN_READER reads it) and the files in SHOW_FILES
  echo "[$NAME] FAIL: $*" >&2
  local screen file
  screen=$(screen_text 2>/dev/null) || screen=""
  [ -z "$screen" ] || printf -- '--- screen ---\n%s\n' "$screen" >&2
  for file in "${SHOW_FILES[@]}"; do
    [ -s "$file" ] && printf -- '--- %s ---\n' "${file##*/}" >&2 && tail -n 40 "$file" >&2
  done
  exit 1
}

require_tools() { # TOOL...: a missing one skips the test (status 77)
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { log "SKIP: $tool missing (scripts/install-deps)"; exit 77; }
  done
}

setup_run() { # NAME [PROGRAM SIMGPIO STANDIN_DIR]: RUN_DIR, its tmux folder, traps; HL_* of those
  local f signal
  NAME=$1
  if [ $# -ge 4 ]; then
    HL_BIN=$(realpath "$2") HL_SIMGPIO_BIN=$(realpath "$3") HL_STANDINS=$(realpath "$4")
    for f in "$HL_BIN" "$HL_SIMGPIO_BIN" "$HL_STANDINS"/{raspistill,raspivid,omxplayer{,.bin}}; do
      [ -x "$f" ] || fail "missing program $f (build everything first)"
    done
  fi
  require_tools tmux
  RUN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/harrowlight-$NAME.XXXXXX")
  STANDIN_LOG=$RUN_DIR/standin.log
  SHOW_FILES=("$RUN_DIR/exit.status" "$RUN_DIR/pane.err" "$STANDIN_LOG")
  mkdir -m 700 "$RUN_DIR"/{captures,tmux}
  # Other runs may have the same pids, so their tmux sockets must not be ours.
  export TMUX_TMPDIR=$RUN_DIR/tmux
  trap harness_end EXIT
  # shellcheck disable=SC2064 # the status is fixed now
  for signal in HUP:129 INT:130 PIPE:141 TERM:143; do trap "exit ${signal#*:}" "${signal%:*}"; done
}

harness_end() {
  local status=$? pid hook
  set +e
  trap '' PIPE
  for hook in "${CLEANUP_HOOKS[@]}"; do "$hook"; done
  stop_tmux
  for pid in "${BACKGROUND_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null; done
  kill_our_standins
  [ "$status" -ne 0 ] || [ "$CHECK_FAILURES" -eq 0 ] || status=1
  [ "$status" -ne 0 ] || { log "PASS"; HARNESS_KEEP=""; }
  [ -z "${HARNESS_KEEP:-}" ] || { log "run directory kept: $RUN_DIR"; exit "$status"; }
  rm -rf "$RUN_DIR"
  exit "$status"
}

install_program() { # production|simgpio [INI (tests/e2e/test.ini)]: ./harrowlight, the INI
  case $1 in
    production) cp "$HL_BIN" "$RUN_DIR/harrowlight" ;;
    simgpio) cp "$HL_SIMGPIO_BIN" "$RUN_DIR/harrowlight" && gpio_reset ;;
    *) fail "install_program: unknown kind $1" ;;
  esac
  sed "s|@CAPTURES@|$RUN_DIR/captures|" "${2:-$TESTS_DIR/e2e/test.ini}" >"$RUN_DIR/Harrowlight.ini"
}

config_set() { # KEY VALUE
  sed -i "/^$1=/d" "$RUN_DIR/Harrowlight.ini"
  printf '%s=%s\n' "$1" "$2" >>"$RUN_DIR/Harrowlight.ini"
}
# no_power_off: a power menu without "OFF", so random keys cannot end a run.
no_power_off() {
  config_set MENU_4 "POWER,HIDE MENU,LED OFF,LED ON,SLEEP 1M,SLEEP OFF"
  config_set MENU_VALUE_4 "POWER,HIDE MENU,LED OFF,LED ON,SLEEP 1,SLEEP OFF"
}


# wait_until DESCRIPTION COMMAND...: polls COMMAND; fails at the bound or the limit, and at once
# when WATCH_PID or the pane's program ends (unless that had ended before).
wait_until() {
  local what=$1 deadline=$((SECONDS + HARNESS_WAIT)) watch_pane=1 ended
  shift
  [ "$HARNESS_LIMIT" -le 0 ] || [ "$deadline" -le "$HARNESS_LIMIT" ] || deadline=$HARNESS_LIMIT
  ! pane_program_ended || watch_pane=0
  until "$@"; do
    ended=""
    [ "$watch_pane" -eq 0 ] || ! pane_program_ended || ended="the program ended"
    [ -z "$WATCH_PID" ] || ! process_gone "$WATCH_PID" || ended="the terminal or machine is gone"
    if [ -n "$ended" ]; then
      "$@" && return 0 # done just as it ended (or its end was the one awaited)
      fail "$ended while waiting for: $what"
    fi
    [ "$SECONDS" -lt "$deadline" ] || fail "timed out after ${SECONDS}s waiting for: $what"
    sleep 0.1
  done
}

wait_until_long() { HARNESS_WAIT=$1 wait_until "${@:2}"; } # SECONDS DESCRIPTION COMMAND...

process_gone() { ! grep -qs '^.*) [^Z]' "/proc/$1/stat"; } # PID: ended, collected or not


# The screen as SCREEN_READER prints it: one line per row from row 1, trailing blanks dropped.
screen_text() { "$SCREEN_READER"; }
screen_row() { screen_text | sed -n "${1}p"; }
row_reads() { [ "$(screen_row "$1")" = "$2" ]; }
expect_blank() { local row; for row; do row_reads "$row" "" || fail "row $row not blank"; done; }
row_matches() { screen_row "$1" | grep -qE -- "$2"; }
screen_shows() { screen_text | grep -qF -- "$1"; }
message_shows() { screen_text | tr -s ' \n' '  ' | grep -qF -- "$1"; } # wrapped, as errors are
screen_has_line() { screen_text | sed 's/^ *//; s/ *$//' | grep -qxF -- "$1"; } # blanks aside
screen_drawn() { screen_text | grep -q '[^[:space:]]'; }

expect_row() { wait_until "row $1 to read '$2'" row_reads "$1" "$2"; }
# expect_rows FIRST TEXT...: rows FIRST, FIRST+1 ... read the TEXTs in turn.
expect_rows() { local row=$1 text; for text in "${@:2}"; do expect_row $((row++)) "$text"; done; }

key() { "$KEY_SENDER" "$@"; } # tmux key names, or text after -l

# Arrows share their first byte and the program damps a byte that repeats in consecutive
# reads; a pause of a few ticks after each effect keeps every press a separate key.
settle() { sleep 0.4; }

press() { key "$1" && expect_row "$2" "$3" && settle; } # KEY ROW TEXT
act() { key "$1" && "${@:2}" && settle; } # KEY COMMAND...: COMMAND (a wait) after the key
walk() { local text; for text in "${@:3}"; do press "$1" "$2" "$text"; done; } # KEY ROW TEXT...
# press_items KEY LABEL...: press on the item row (12 at 80x24), each LABEL centred.
press_items() { local label; for label in "${@:2}"; do press "$1" 12 "$(centred "$label")"; done; }

centred() { printf '%*s%s' $(((${2:-20} - ${#1}) / 2)) '' "$1"; } # LABEL [WIDTH (20)]


tmux_cmd() { tmux -L "$TMUX_SOCKET" -f /dev/null "$@"; }
tmux_screen() { [ -n "$TMUX_SOCKET" ] && tmux_cmd capture-pane -p -t hl; }
tmux_keys() { tmux_cmd send-keys -t hl "$@"; }
screen_row_styled() { tmux_cmd capture-pane -p -e -t hl | sed -n "${1}p"; }

new_pane() { # WIDTH HEIGHT COMMAND: a fresh server each time (one told to end may hold its socket)
  TMUX_SOCKET="hl-$((++TMUX_STARTS))"
  tmux_cmd new-session -d -s hl -x "$1" -y "$2" "$3"
  WATCH_PID=$(tmux_cmd display-message -p -t hl '#{pane_pid}')
}

stop_tmux() {
  [ -z "$TMUX_SOCKET" ] || tmux_cmd kill-server 2>/dev/null || true
  TMUX_SOCKET="" WATCH_PID="" PANE_RUNS_PROGRAM=0
}

pane_script() { # WIDTH HEIGHT LINE...: a pane runs the LINEs in RUN_DIR, stand-ins first on PATH
  printf '#!/bin/bash\ncd %q\nexport PATH=%q HARROWLIGHT_STANDIN_LOG=%q\n' "$RUN_DIR" \
    "$HL_STANDINS:$PATH" "$STANDIN_LOG" >"$RUN_DIR/pane.sh"
  printf '%s\n' "${@:3}" 'exec sleep 3600' >>"$RUN_DIR/pane.sh"
  chmod +x "$RUN_DIR/pane.sh"
  new_pane "$1" "$2" "$RUN_DIR/pane.sh"
}

# launch_in_tmux WIDTH HEIGHT [NAME=VALUE...]: ./harrowlight (or HL_COMMAND, ending in its own
# process) in a pane with the NAMEs exported; stty.before/after, PROGRAM_PID and exit.status kept.
launch_in_tmux() {
  local assignment exports=()
  rm -f "$RUN_DIR"/{harrowlight.pid,exit.status,stty.before,stty.after}
  for assignment in "${@:3}"; do exports+=("export $(printf '%q' "$assignment")"); done
  # Standard input stays the terminal: an explicit redirection overrides /dev/null.
  pane_script "$1" "$2" "${exports[@]}" 'stty -g >stty.before' \
    "${HL_COMMAND:-./harrowlight <&0} &" 'echo $! >harrowlight.pid' 'wait $!' \
    'echo $? >exit.status' 'stty -g >stty.after'
  PANE_RUNS_PROGRAM=1
  wait_until "the program to start" test -s "$RUN_DIR/harrowlight.pid"
  PROGRAM_PID=$(cat "$RUN_DIR/harrowlight.pid")
}

# start_in_tmux: launch_in_tmux, then the first screen and a few key-less ticks, as the size
# query's reply leaves its escape byte as the last key seen (an arrow would be damped).
start_in_tmux() { launch_in_tmux "$@" && wait_until "the first screen" screen_drawn && settle; }

start_menu() { # start_in_tmux 80 24 until test.ini's first menu and small preview are up
  start_in_tmux 80 24 && expect_row 11 RESOLUTION && wait_log '^raspistill .* -p 480' 1
}
space_in_preview() { start_menu && settle && key Space; }
# end_run [SIGNAL [STATUS]]: expect_exit, then a whole CONFIG.DAT, no preview and the terminal
# settings back; the pane and the stand-ins gone.
end_run() {
  expect_exit "$@"
  expect_valid_state
  wait_until "the preview stand-in to be killed" standin_count_is raspistill 0
  cmp -s "$RUN_DIR/stty.before" "$RUN_DIR/stty.after" ||
    fail "terminal settings not restored (after, before): $(cat "$RUN_DIR"/stty.*)"
  stop_tmux
  kill_our_standins
}

pane_program_ended() { [ "$PANE_RUNS_PROGRAM" -eq 1 ] && [ -s "$RUN_DIR/exit.status" ]; }
program_running() { kill -0 "$PROGRAM_PID" 2>/dev/null && [ ! -e "$RUN_DIR/exit.status" ]; }

# expect_exit [SIGNAL [STATUS]]: SIGNAL to the program (none: it ends by itself), then STATUS (0).
expect_exit() {
  local status
  [ -z "${1:-}" ] || kill "-$1" "$PROGRAM_PID"
  wait_until "the program to end" test -s "$RUN_DIR/exit.status"
  wait_until "the terminal settings to be recorded" test -s "$RUN_DIR/stty.after"
  status=$(cat "$RUN_DIR/exit.status")
  [ "$status" -eq "${2:-0}" ] || fail "exit status $status"
}

handlers_installed() { # PID: the program catches SIGHUP, SIGINT and SIGTERM
  local mask
  mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$mask" ] && [ $((16#$mask & 16#4003)) -eq $((16#4003)) ]
}


log_count() { grep -cE -- "$1" < <(cat "$STANDIN_LOG" 2>/dev/null) || true; } # none when gone
log_count_at_least() { [ "$(log_count "$1")" -ge "$2" ]; }
wait_log() { wait_until "$2 stand-in log line(s) matching '$1'" log_count_at_least "$1" "$2"; }

our_standin_pids() { # NAME[,NAME...]: this run's stand-ins (their environment names its log)
  local pid
  for pid in $(ps -C "$1" -o pid= 2>/dev/null); do
    grep -qszxF "HARROWLIGHT_STANDIN_LOG=$STANDIN_LOG" "/proc/$pid/environ" && echo "$pid"
  done
  return 0
}
standin_count_is() { [ "$(our_standin_pids "$1" | wc -l)" -eq "$2" ]; } # NAME COUNT

kill_our_standins() {
  our_standin_pids raspistill,raspivid,omxplayer.bin | xargs -r kill -9 2>/dev/null || true
}

# tool_scripts DIR BODY [NAME...]: bash scripts DIR/NAME (raspistill, raspivid) running BODY,
# its %s the stand-in of that name.
tool_scripts() {
  local name
  for name in "${@:3}"; do
    printf '#!/bin/bash\n%s\n' "${2//%s/$HL_STANDINS/$name}" >"$1/$name"
    chmod +x "$1/$name"
  done
}


# state_word N [FILE]: the signed 32-bit integer N of CONFIG.DAT (0 ID, 1 MenuPos,
# 2 MenuItemPos, 3-66 MenuSelection, 67 SleepPeriod, 68 Mode, 69 PreviewSize).
state_word() { od -A n -t d4 -j $(($1 * 4)) -N 4 "${2:-$RUN_DIR/CONFIG.DAT}" | tr -d ' '; }
expect_word() { # N VALUE [WHAT]
  [ "$(state_word "$1")" -eq "$2" ] ||
    fail "${3:-CONFIG.DAT word $1} is $(state_word "$1"), expected $2"
}
state_word_is() { [ -s "$RUN_DIR/CONFIG.DAT" ] && [ "$(state_word "$1")" = "$2" ]; }

state_problem() { # FILE: why FILE is not a whole, loadable record; nothing when it is
  local size i w=()
  size=$(stat -c %s "$1" 2>/dev/null) || { echo "missing"; return; }
  [ "$size" -eq 280 ] || { echo "size $size"; return; }
  read -r -a w <<<"$(od -A n -t d4 -v "$1" | xargs)"
  [ "${w[0]}" -ge 0 ] || echo "ID ${w[0]}"
  [ "${w[1]}" -ge 0 ] && [ "${w[1]}" -le 63 ] || echo "MenuPos ${w[1]}"
  for i in {2..66}; do [ "${w[i]}" -ge 1 ] && [ "${w[i]}" -le 63 ] || echo "word $i ${w[i]}"; done
  [ "${w[67]}" -ge 0 ] || echo "SleepPeriod ${w[67]}"
  [ "${w[68]}" -ge 0 ] && [ "${w[68]}" -le 3 ] || echo "Mode ${w[68]}"
}

# shellcheck disable=SC2120 # the file is optional
expect_valid_state() {
  local problem
  problem=$(state_problem "${1:-$RUN_DIR/CONFIG.DAT}")
  [ -z "$problem" ] || fail "CONFIG.DAT is not a whole record: $problem"
}

le32() { # VALUE...: little-endian 32-bit words (negative: two's complement)
  local v
  for v in "$@"; do
    v=$((v & 4294967295))
    printf %b "$(printf '\\0%o' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24)))"
  done
}

write_state() { # FILE ID [SLEEP_PERIOD (1)]: every menu on item 1, idle, small preview
  local words=("$2" 0 1)
  for _ in {1..64}; do words+=(1); done
  le32 "${words[@]}" "${3:-1}" 0 0 >"$1"
}

gpio_word() { od -A n -t u4 -j $(($1 * 4)) -N 4 "$RUN_DIR/gpio.sim" | tr -d ' '; }
gpio_bit_set() { [ $(($(gpio_word "$1") >> $2 & 1)) -eq 1 ]; }
gpio_write_word() { le32 "$2" | dd of="$RUN_DIR/gpio.sim" bs=4 seek="$1" conv=notrunc status=none; }
gpio_reset() { head -c 4096 /dev/zero >"$RUN_DIR/gpio.sim" && buttons_up; } # no button pressed
buttons_up() { gpio_write_word "$WORD_GPLEV0" 4294967295; }

# choose_play: from test.ini's EXPOSURE menu, commits EXEC's "PLAY" (Space opens the list).
choose_play() {
  walk Down 11 EFFECT EXEC
  press_items Right VIDEO PLAY
  key Enter
}


fd_count() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
# proc_kb PID KEY: a kB figure of /proc/PID/status (VmRSS, VmHWM, RssAnon ...).
proc_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
# cpu_ticks PID: "own children" ticks (user + system), fields counted from the name's ")".
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13, $14 + $15 }'; }

# other_children PID: children, ended ones too, other than the tools: what a leak piles up.
other_children() {
  # shellcheck disable=SC2009 # pgrep cannot leave out names by a pattern
  ps -o comm= --ppid "$1" 2>/dev/null | grep -cvE '^(raspistill|raspivid|omxplayer\.bin)$' || true
}

# steady COMMAND...: the least of five samples 0.2 s apart, so a passing shell call is left out.
steady() {
  for _ in 1 2 3 4 5; do
    "$@"
    sleep 0.2
  done | sort -n | head -n1
}
leak_counts() { echo "$(steady fd_count "$1") $(steady other_children "$1")"; } # PID

random_sleep() { sleep "$(printf '0.%03d' $((RANDOM % ($1 + 1))))"; } # MAX_MS


stop_qemu() {
  [ -z "$MONITOR_PID" ] || { kill "$MONITOR_PID" 2>/dev/null; wait "$MONITOR_PID" 2>/dev/null; } || true
  [ -z "$QEMU_PID" ] || { kill "$QEMU_PID" 2>/dev/null; wait "$QEMU_PID" 2>/dev/null; } || true
  QEMU_PID="" MONITOR_PID="" WATCH_PID=""
}

elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; } # date +%s.%N

# boot_packages CACHE ARCH FLAVOUR KERNEL_MEMBER...: sets Kernel; linux-image-FLAVOUR's MEMBERs,
# busybox-static (init, tools) and busybox (its shell finds the stand-ins on PATH before its
# applets), fetched once into CACHE/debs, unpacked into $RUN_DIR/extract (static/, shell/).
boot_packages() {
  local arch=$2 flavour=$3 debs=$1/debs extract=$RUN_DIR/extract state kernel deb partial unpacked
  shift 3
  mkdir -p "$debs" "$extract"
  if ! { boot_deb "$debs" "linux-image-*-$flavour" "$arch" && boot_deb "$debs" busybox-static "$arch" &&
    boot_deb "$debs" busybox "$arch"; } >/dev/null; then
    # A private apt state and download directory: runs sharing the cache never share a file.
    state=$(mktemp -d "$debs/fetch.XXXXXX")
    mkdir -p "$state"/{lists/partial,archives/partial,debs}
    touch "$state/status"
    local apt=(-o "Dir::State=$state" -o "Dir::State::status=$state/status" -o "Dir::Cache=$state"
      -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch" -o Debug::NoLocking=1
      -o APT::Sandbox::User=root -o Acquire::Languages=none)
    log "fetching linux-image-$flavour, busybox-static and busybox ($arch)"
    apt-get "${apt[@]}" -qq update
    kernel=$(apt-cache "${apt[@]}" depends "linux-image-$flavour" |
      awk -v want="^linux-image-.*-$flavour\$" '$1 == "Depends:" && $2 ~ want { print $2; exit }')
    [ -n "$kernel" ] || fail "linux-image-$flavour names no $arch kernel"
    (cd "$state/debs" && apt-get "${apt[@]}" -qq download "$kernel:$arch" "busybox-static:$arch" "busybox:$arch")
    mv "$state"/debs/*.deb "$debs/"
    rm -rf "$state"
  fi
  deb=$(boot_deb "$debs" "linux-image-*-$flavour" "$arch")
  # Unpacking members decompresses the whole package: done once per set of members, beside
  # it, in a directory of this run's own that then takes its place (unless another run's did).
  unpacked=$deb.$(printf '%s\n' "$@" | cksum | cut -d' ' -f1)
  if [ ! -d "$unpacked" ]; then
    partial=$(mktemp -d "$deb.XXXXXX")
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$partial" --wildcards "$@" ||
      fail "not all of $* in ${deb##*/}"
    mv -T "$partial" "$unpacked" 2>/dev/null || rm -rf "$partial"
  fi
  cp -a "$unpacked/." "$extract"
  dpkg-deb -x "$(boot_deb "$debs" busybox-static "$arch")" "$extract/static"
  dpkg-deb -x "$(boot_deb "$debs" busybox "$arch")" "$extract/shell"
  Kernel=$(compgen -G "$extract/boot/vmlinuz-*-$flavour" | head -n1)
  [[ -n $Kernel && -x $extract/static/bin/busybox && -x $extract/shell/bin/busybox ]] ||
    fail "kernel or busybox missing from the packages"
}
# boot_deb DEBS NAME ARCH: the cached package file; 1 when there is none.
boot_deb() { compgen -G "$1/$2_*_$3.deb" | head -n1 | grep .; }

pack_initramfs() { (cd "$1" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -1 >"$2"); }

# start_qemu SYSTEM MONITOR_SOCKET LOG ARGUMENT...: qemu-system-SYSTEM paused ("cont" starts
# it), output in LOG, its monitor joined; every wait fails once it ends. The monitor's replies
# go to a file: its echo of a typed command grows with the square of the command's length, and
# an unread pipe of them once stopped the link from passing the next commands.
start_qemu() {
  "qemu-system-$1" "${@:4}" -monitor "unix:$2,server,nowait" -no-reboot -S >"$3" 2>&1 &
  QEMU_PID=$! WATCH_PID=$!
  CLEANUP_HOOKS+=(stop_qemu)
  wait_until "the QEMU monitor" test -S "$2"
  MONITOR_LOG=$2.log
  rm -f "$2.in" && mkfifo "$2.in"
  socat - "UNIX-CONNECT:$2" <"$2.in" >"$MONITOR_LOG" 2>/dev/null &
  MONITOR_PID=$!
  exec {MONITOR_IN}>"$2.in"
}

monitor_command() { echo "$*" >&"$MONITOR_IN"; }

# read_guest COUNT b|h|w ADDRESS: guest physical memory as "xp" shows it (0x...); 1 when the
# monitor does not answer in time.
read_guest() {
  local line values=() found start deadline=$((SECONDS + HARNESS_WAIT))
  start=$(($(stat -c %s "$MONITOR_LOG") + 1))
  monitor_command "xp /$1$2x $3"
  while [ ${#values[@]} -lt "$1" ] && [ $SECONDS -lt $deadline ]; do
    sleep 0.05
    values=()
    # Whole reply lines "ADDRESS: VALUE ..." since the command; the echo and prompt are not.
    while IFS= read -r line; do
      [[ ${line//$'\r'/} =~ [0-9a-f]{8,16}:((\ +0x[0-9a-f]+)+) ]] || continue
      read -r -a found <<<"${BASH_REMATCH[1]}"
      values+=("${found[@]}")
    done < <(tail -c "+$start" "$MONITOR_LOG")
  done
  [ ${#values[@]} -eq "$1" ] && echo "${values[*]}"
}

# setup_guest NAME TYPE PROGRAM STANDINS CACHE: setup_run NAME; Program, Standins, Cache
# (absolute), GUEST_LOG (the serial port, shown on failure); PROGRAM: static, file(1)'s TYPE.
setup_guest() {
  setup_run "$1"
  Program=$(readlink -f "$3") Standins=$(readlink -f "$4") Cache=$(readlink -f "$5")
  GUEST_LOG=$RUN_DIR/serial.log SHOW_FILES+=("$RUN_DIR/serial.log")
  require_tools socat cpio gzip dpkg-deb apt-get
  file -L "$Program" 2>/dev/null | grep -q "$2.*statically linked" ||
    fail "$Program is not a static $2 program"
}

# guest_root ROOT INI: an initramfs tree: the static busybox, the other as busybox-shell, the
# guests' init, the stand-in in /opt/standin under its names and ps, Program and INI.
guest_root() {
  local link tools=$1/opt/standin
  mkdir -p "$1"/{bin,dev,etc,proc,sys,captures,opt/harrowlight,opt/standin}
  cp "$RUN_DIR/extract/static/bin/busybox" "$1/bin/busybox"
  cp "$RUN_DIR/extract/shell/bin/busybox" "$1/bin/busybox-shell"
  cp "$TESTS_DIR/pi/initramfs/init" "$1/init"
  cp "$Standins/standin" "$tools/standin"
  for link in "$Standins"/*; do [ ! -L "$link" ] || ln -s standin "$tools/${link##*/}"; done
  ln -s standin "$tools/ps"
  cp "$Program" "$1/opt/harrowlight/harrowlight"
  cp "$2" "$1/opt/harrowlight/Harrowlight.ini"
}

# guest_said PATTERN [COUNT]: the guest's init has reported COUNT (1) lines matching PATTERN.
guest_said() { [ "$(grep -ac "GUEST: $1" "$GUEST_LOG" 2>/dev/null)" -ge "${2:-1}" ]; }

# boot_pc INITRAMFS COMMAND_LINE QEMU_ARGUMENT...: Kernel on an emulated PC from BootStart on.
boot_pc() {
  : >"$GUEST_LOG"
  rm -f "$RUN_DIR/monitor.sock"
  start_qemu x86_64 "$RUN_DIR/monitor.sock" "$RUN_DIR/qemu.log" -m 256M -kernel "$Kernel" \
    -initrd "$1" -append "console=ttyS0,115200 rdinit=/init quiet $2" -display none -nic none \
    -serial "file:$GUEST_LOG" "${@:3}"
  monitor_command cont
  BootStart=$(date +%s.%N)
}

CHECK_FAILURES=0
# check NAME COMMAND...: COMMAND in a subshell (a fail there fails only this check); prints
# "PASS: NAME" or "FAIL: NAME" with what it printed, its evidence; a failure makes the status 1.
check() {
  local verdict=PASS evidence
  evidence=$("${@:2}" 2>&1) || verdict=FAIL CHECK_FAILURES=$((CHECK_FAILURES + 1))
  evidence=$(printf %s "$evidence" | tr -s ' \n' ' |' | cut -c1-600)
  echo "$verdict: $1${evidence:+ -- $evidence}"
}
# matches GOT WANT: prints GOT, and WANT too when they differ (then 1).
matches() { echo "$1"; [ "$1" = "$2" ] || { echo "wanted: $2"; return 1; }; }
