#!/usr/bin/env bash
# System test on an emulated Pi Zero: boots the armel Raspberry Pi kernel on QEMU's raspi0
# machine with a busybox initramfs holding the static armel camera program, joins the serial
# console to a tmux pane (the real terminal: size query, keys and screen), and checks the
# GPIO registers through the QEMU monitor at start-up, after the LED actions and after "OFF".
# With PI_BOARD=pi3 the same on an emulated Pi 3 (QEMU's raspi3b, BCM2837, whose GPIO block
# sits at 0x3F200000) with Debian's arm64 kernel and the static arm64 program.
#
# Usage: run-pi-zero-test.sh PROGRAM WORKDIR [CACHEDIR] [ACCESS]
#   PROGRAM   the statically linked armel (arm64 for PI_BOARD=pi3) harrowlight
#   WORKDIR   scratch directory (initramfs, logs, sockets); emptied first
#   CACHEDIR  downloaded .deb files (default WORKDIR/../pi-cache), kept between runs
#   ACCESS    root (default): the camera runs as root on a kernel booted with iomem=relaxed
#             and maps the register page; user: strict /dev/mem, and the camera runs as an
#             ordinary user whose group owns /dev/gpiochip0, so it drives the kernel's lines
# Every wait is bounded; PI_TEST_TIMEOUT (seconds, default 90) bounds each of them.
set -euo pipefail

Program=$(readlink -f "${1:?usage: run-pi-zero-test.sh PROGRAM WORKDIR [CACHEDIR]}")
Work=${2:?usage: run-pi-zero-test.sh PROGRAM WORKDIR [CACHEDIR]}
Cache=${3:-$Work/../pi-cache}
Here=$(cd "$(dirname "$0")" && pwd)
Timeout=${PI_TEST_TIMEOUT:-90}
Access=${4:-root}
case $Access in root | user) ;; *) echo "pi-test: ACCESS is root or user, not $Access" >&2; exit 1 ;; esac

# The emulated board: QEMU machine, Debian architecture and kernel flavour, device tree,
# the chip the device tree must name, and the physical address of the GPIO block.
case ${PI_BOARD:-zero} in
zero)
  Machine=raspi0 System=arm Arch=armel Flavour=rpi Triplet=arm-linux-gnueabi
  DtbName=bcm2835-rpi-zero.dtb Chip=bcm2835 GpioBase=0x20200000 Loader=ld-linux.so.3
  ;;
pi3)
  Machine=raspi3b System=aarch64 Arch=arm64 Flavour=arm64 Triplet=aarch64-linux-gnu
  DtbName=bcm2837-rpi-3-b.dtb Chip=bcm2837 GpioBase=0x3f200000 Loader=ld-linux-aarch64.so.1
  ;;
*)
  echo "pi-test: PI_BOARD is zero or pi3" >&2
  exit 2
  ;;
esac

# The pins of tests/pi/Harrowlight.ini.
LedPin=17
LcdPin=27
SparePin=22

rm -rf "$Work"
mkdir -p "$Work" "$Cache"
Work=$(readlink -f "$Work")
Cache=$(readlink -f "$Cache")
Log=$Work/serial.log
Monitor=$Work/monitor.sock
# tmux keeps its socket in the scratch directory: private to this run, gone with it.
export TMUX_TMPDIR=$Work/tmux
mkdir -m 700 "$TMUX_TMPDIR"
Tmux=(tmux -L "harrowlight-pi-$$" -f /dev/null)
TestName=pi-test
StartSeconds=$(date +%s.%N)
# shellcheck source=tests/pi/boot-lib.sh
. "$Here/boot-lib.sh"

cleanup() {
  stop_qemu
  "${Tmux[@]}" kill-server 2> /dev/null || true
}
trap cleanup EXIT

require_tools scripts/pi-install-deps "qemu-system-$System" fdtput socat tmux cpio gzip dpkg-deb apt-get
file -L "$Program" 2> /dev/null | grep -q 'ARM.*statically linked' ||
  { echo "pi-test: $Program is not a static ARM program" >&2; exit 1; }

# --- Kernel, device tree and busybox -------------------------------------------------------
"$Here/pi-fetch.sh" "$Cache" "$Arch" "$Flavour"
Extract=$Work/extract
unpack_boot_packages "$Cache/debs" "$Extract" "$Arch" "$Flavour"
Dtb=$(find "$Extract/usr/lib" -name "$DtbName" | head -n1)
if [ -z "$Dtb" ]; then
  echo "pi-test: device tree missing from the kernel package" >&2
  exit 1
fi
# The Pi 3's first PL011 carries the Bluetooth controller, which would take the serial
# console's input; the test's copy of the device tree switches it off.
if [ "$Machine" = raspi3b ]; then
  cp "$Dtb" "$Work/$DtbName"
  Dtb=$Work/$DtbName
  fdtput -t s "$Dtb" /soc/serial@7e201000/bluetooth status disabled
fi
# The shell's C library: the cross toolchain's one, the same build as Debian's libc6.
CrossLib=/usr/$Triplet/lib
for Library in $Loader libc.so.6 libresolv.so.2; do
  [ -e "$CrossLib/$Library" ] || { echo "pi-test: $CrossLib/$Library missing (crossbuild-essential-$Arch)" >&2; exit 1; }
done

# --- Initramfs -----------------------------------------------------------------------------
Root=$Work/initramfs
initramfs_base "$Root" "$Extract" "$Here/initramfs/init"
mkdir -p "$Root/lib/$Triplet"
cp -L "$CrossLib/$Loader" "$Root/lib/$Loader"
cp -L "$CrossLib/libc.so.6" "$CrossLib/libresolv.so.2" "$Root/lib/$Triplet/"
cp -a "$Here/initramfs/standin" "$Root/opt/standin"
cp "$Program" "$Root/opt/harrowlight/harrowlight"
if command -v "$Triplet-strip" > /dev/null; then
  "$Triplet-strip" "$Root/opt/harrowlight/harrowlight"
fi
cp "$Here/Harrowlight.ini" "$Root/opt/harrowlight/Harrowlight.ini"
write_state_file "$Root/opt/harrowlight/CONFIG.DAT"
StrippedBytes=$(stat -c %s "$Root/opt/harrowlight/harrowlight")
pack_initramfs "$Root" "$Work/initramfs.cpio.gz"
note "static $Arch program stripped: $StrippedBytes bytes"

# --- Boot, paused until the terminal is joined ---------------------------------------------
CommandLine="console=ttyAMA0,115200 initcall_blacklist=bcm2835_power_driver_init rdinit=/init"
# The init reads pitest= from its environment, where the kernel puts unknown parameters.
if [ "$Access" = root ]; then CommandLine+=" iomem=relaxed"; else CommandLine+=" pitest=user"; fi
note "access: $Access ($CommandLine)"
start_qemu "$System" "$Monitor" "$Work/qemu.log" -M "$Machine" -kernel "$Kernel" -dtb "$Dtb" \
  -initrd "$Work/initramfs.cpio.gz" -append "$CommandLine" -display none -serial pty

serial_pty() { grep -o '/dev/pts/[0-9]*' "$Work/qemu.log" 2> /dev/null | head -n1; }
has_pty() { [ -n "$(serial_pty)" ] && [ -S "$Monitor" ]; }
wait_for "the serial console" has_pty || exit 1
Pty=$(serial_pty)

open_monitor "$Monitor"

# Prints the 16 words of the GPIO block (GPFSEL0..5, GPSET0/1, GPCLR0/1, GPLEV0/1 ...).
read_gpio_words() { read_guest 16 w "$GpioBase"; }

# Function field (0 input, 1 output) of PIN in the words.
function_of() {
  local -a W
  read -r -a W <<< "$1"
  echo $(((W[$2 / 10] >> (3 * ($2 % 10))) & 7))
}
# GPLEV0 bit of PIN: 1 high, 0 low.
level_of() {
  local -a W
  read -r -a W <<< "$1"
  echo $(((W[13] >> $2) & 1))
}
expect_level() {
  local Snapshot=$1 Pin=$2 Want=$3 When=$4 Got
  Got=$(level_of "$Snapshot" "$Pin")
  [ "$Got" = "$Want" ] || fail "$When: GPIO $Pin level $Got, expected $Want"
}
expect_output() {
  local Snapshot=$1 Pin=$2 When=$3 Got
  Got=$(function_of "$Snapshot" "$Pin")
  [ "$Got" = 1 ] || fail "$When: GPIO $Pin function $Got, expected 1 (output)"
}
show_words() { note "$1: ${2// / }"; }

# Waits until the LED pin reads WANT (the camera acts on a key within a tick or two).
led_reads() { [ "$(level_of "$(read_gpio_words)" $LedPin)" = "$1" ]; }

"${Tmux[@]}" new-session -d -s pi -x 80 -y 24 "socat STDIO,raw,echo=0 $Pty,raw,echo=0"
"${Tmux[@]}" set-option -t pi remain-on-exit on > /dev/null
"${Tmux[@]}" pipe-pane -t pi -o "cat >> '$Log'"
touch "$Log"

Reset=$(read_gpio_words) || exit 1
show_words "reset (before boot)" "$Reset"

monitor_command cont
BootStart=$(date +%s.%N)

log_has() { grep -aq "$1" "$Log"; }
screen_has() { "${Tmux[@]}" capture-pane -p -t pi | grep -q "$1"; }

wait_for "the camera to start" log_has "PI-TEST: starting camera" || exit 1
note "booted to the camera in $(elapsed "$BootStart") s (guest: $(grep -ao 'uptime=[0-9.]*' "$Log" | head -n1))"
grep -aq "compatible=.*brcm,$Chip" "$Log" || fail "the device tree does not name brcm,$Chip"
if [ "$Access" = user ]; then
  grep -aq 'PI-TEST: user uid=1000(camera) .*(gpio)' "$Log" || fail "the camera's user is not in the gpio group"
fi
wait_for "the menu on the terminal" screen_has '^ *LED ON *$' || exit 1
note "menu drawn $(elapsed "$BootStart") s after boot start"
"${Tmux[@]}" capture-pane -p -t pi > "$Work/screen-menu.txt"
# Without its GPIO page the camera still runs, but no pin can follow; say why and stop.
NoPins='Failed to open memory\|Failed to map memory\|Failed to allocate memory map\|GPIO [0-9]*: \|GPIO chip '
if grep -aq "$NoPins" "$Log"; then
  fail "the camera could not reach its pins: $(grep -ao "$NoPins"'[^\r]*' "$Log" | head -n1)"
  exit 1
fi

# --- Start-up: outputs configured and driven, LED off, backlight on ------------------------
Started=$(read_gpio_words) || exit 1
show_words "after start-up" "$Started"
for Pin in $LedPin $LcdPin $SparePin; do expect_output "$Started" "$Pin" "start-up"; done
expect_level "$Started" $LedPin 0 "start-up (LED off)"
expect_level "$Started" $LcdPin 1 "start-up (backlight on)"
expect_level "$Started" $SparePin 1 "start-up (outputs driven high)"

# --- Power menu actions: item 1 "LED ON", item 2 "LED OFF", item 3 "OFF" -------------------
"${Tmux[@]}" send-keys -t pi Enter
wait_for '"LED ON" to light the LED' led_reads 1 || true
LedOn=$(read_gpio_words) || exit 1
show_words "after LED ON" "$LedOn"
expect_level "$LedOn" $LedPin 1 '"LED ON"'
expect_level "$LedOn" $LcdPin 1 '"LED ON" (backlight untouched)'

"${Tmux[@]}" send-keys -t pi Right
wait_for 'the menu to show "LED OFF"' screen_has '^ *LED OFF *$' || true
"${Tmux[@]}" send-keys -t pi Enter
wait_for '"LED OFF" to darken the LED' led_reads 0 || true
LedOff=$(read_gpio_words) || exit 1
show_words "after LED OFF" "$LedOff"
expect_level "$LedOff" $LedPin 0 '"LED OFF"'
expect_level "$LedOff" $LcdPin 1 '"LED OFF" (backlight untouched)'

# Switch the LED on again first, so "OFF" is seen to clear it.
"${Tmux[@]}" send-keys -t pi Left
wait_for 'the menu to show "LED ON"' screen_has '^ *LED ON *$' || true
"${Tmux[@]}" send-keys -t pi Enter
wait_for '"LED ON" to light the LED again' led_reads 1 || true
"${Tmux[@]}" send-keys -t pi Right
wait_for 'the menu to show "LED OFF"' screen_has '^ *LED OFF *$' || true
"${Tmux[@]}" send-keys -t pi Right
wait_for 'the menu to show "OFF"' screen_has '^ *OFF *$' || true
"${Tmux[@]}" send-keys -t pi Enter
wait_for "the camera to end" log_has "PI-TEST: camera exited" || true
wait_for "the report after the camera ended" log_has "PI-TEST: idle" || true

Off=$(read_gpio_words) || exit 1
show_words "after OFF" "$Off"
expect_level "$Off" $LedPin 0 '"OFF" (LED off at shutdown)'
expect_level "$Off" $LcdPin 0 '"OFF" (backlight off at shutdown)'
expect_level "$Off" $SparePin 1 '"OFF" (other outputs keep their level)'
# Released lines go back to inputs (the kernel's doing); mapped registers keep the outputs.
if [ "$Access" = root ]; then
  for Pin in $LedPin $LcdPin $SparePin; do expect_output "$Off" "$Pin" "after OFF"; done
fi
grep -aq 'PI-TEST: camera exited status=0' "$Log" || fail "the camera did not end with status 0"
grep -aq 'PI-TEST: state bytes=280' "$Log" || fail "CONFIG.DAT was not saved with 280 bytes"

monitor_command quit || true
note "serial log: $Log"
note "whole test: $(elapsed "$StartSeconds") s"
if [ $Failures -ne 0 ]; then
  echo "pi-test: $Failures check(s) failed; screen at the menu: $Work/screen-menu.txt" >&2
  exit 1
fi
note "PASS"
