#!/usr/bin/env bash
# The static armel program on QEMU's raspi0 (PI_BOARD=pi3: arm64 on raspi3b), its serial
# console joined to a tmux pane (size query, keys, screen): the GPIO registers, read through
# the QEMU monitor, after start-up, the LED actions and "OFF". ACCESS root: as root, the
# register page mapped (iomem=relaxed); user: a user whose group owns /dev/gpiochip0.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
: "${3:?usage: run-pi-zero-test.sh PROGRAM STANDINS CACHEDIR [root|user]}"
Access=${4:-root}
HARNESS_WAIT=${PI_TEST_TIMEOUT:-90}
setup_guest "pi-test-${PI_BOARD:-zero}-$Access" ARM "$@"
# Output pins keep their function (1) after "OFF" only when mapped: the kernel sets released
# lines back to inputs.
case $Access in root) Out=1 ;; user) Out=- ;; *) fail "ACCESS is root or user, not $Access" ;; esac
require_tools fdtput dpkg-architecture
# The board: QEMU machine and system, Debian architecture and kernel flavour, the device
# tree (its file names the chip), the GPIO block's address, the C library's loader.
case ${PI_BOARD:-zero} in
  zero) Board="raspi0 arm armel rpi bcm2835-rpi-zero.dtb 0x20200000 ld-linux.so.3" ;;
  pi3) Board="raspi3b aarch64 arm64 arm64 bcm2837-rpi-3-b.dtb 0x3f200000 ld-linux-aarch64.so.1" ;;
  *) fail "PI_BOARD is zero or pi3" ;;
esac
read -r Machine System Arch Flavour DtbName GpioBase Loader <<<"$Board"
Chip=${DtbName%%-*} Triplet=$(dpkg-architecture -qDEB_HOST_GNU_TYPE -a"$Arch" 2>/dev/null)
require_tools "qemu-system-$System"
LedPin=17 LcdPin=27 SparePin=22 # of tests/pi/Harrowlight.ini

boot_packages "$Cache" "$Arch" "$Flavour" './boot/vmlinuz-*' "./usr/lib/*/$DtbName"
Dtb=$(find "$RUN_DIR/extract/usr/lib" -name "$DtbName")
# The Pi 3's first PL011 carries the Bluetooth controller, which would take the serial
# console's input; the run's copy of the device tree switches it off.
[ "$Machine" != raspi3b ] || fdtput -t s "$Dtb" /soc/serial@7e201000/bluetooth status disabled
Root=$RUN_DIR/initramfs CrossLib=/usr/$Triplet/lib
guest_root "$Root" "$TESTS_DIR/pi/Harrowlight.ini"
# The shell's C library: the cross toolchain's one, the same build as Debian's libc6.
mkdir -p "$Root/lib/$Triplet"
cp -L "$CrossLib/$Loader" "$Root/lib/$Loader" || fail "no $Loader (crossbuild-essential-$Arch)"
cp -L "$CrossLib/libc.so.6" "$CrossLib/libresolv.so.2" "$Root/lib/$Triplet/"
! command -v "$Triplet-strip" >/dev/null || "$Triplet-strip" "$Root/opt/harrowlight/harrowlight"
write_state "$Root/opt/harrowlight/CONFIG.DAT" 1 0
pack_initramfs "$Root" "$RUN_DIR/initramfs.cpio.gz"
log "static $Arch program stripped: $(stat -c %s "$Root/opt/harrowlight/harrowlight") bytes"

# Booted once the terminal is joined.
CommandLine="console=ttyAMA0,115200 initcall_blacklist=bcm2835_power_driver_init rdinit=/init"
CommandLine+=" serial=ttyAMA0 harrowlight=$Access"
[ "$Access" = user ] || CommandLine+=" iomem=relaxed"
log "access: $Access ($CommandLine)"
start_qemu "$System" "$RUN_DIR/monitor.sock" "$RUN_DIR/qemu.log" -M "$Machine" -kernel "$Kernel" \
  -dtb "$Dtb" -initrd "$RUN_DIR/initramfs.cpio.gz" -append "$CommandLine" -display none -serial pty
serial_pty() { grep -o '/dev/pts/[0-9]*' "$RUN_DIR/qemu.log" 2>/dev/null | head -n1; }
wait_until "the serial console" serial_pty
new_pane 80 24 "socat STDIO,raw,echo=0 $(serial_pty),raw,echo=0"
tmux_cmd pipe-pane -t hl -o "cat >> '$GUEST_LOG'"
touch "$GUEST_LOG"

# --- GPIO words: GPFSEL0..5, GPSET0/1, GPCLR0/1, GPLEV0/1 ... -------------------------------
gpio_words() { read_guest 16 w "$GpioBase" || fail "no memory words from the monitor"; }
led_reads() { local w; read -r -a w <<<"$(gpio_words)" && [ $(((w[13] >> LedPin) & 1)) = "$1" ]; }

log "reset (before boot): $(gpio_words)"
monitor_command cont
BootStart=$(date +%s.%N)
wait_until "the camera to start" guest_said "starting camera"
log "booted in $(elapsed "$BootStart") s (guest: $(grep -ao 'uptime=[0-9.]*' "$GUEST_LOG"))"
guest_said "compatible=.*brcm,$Chip" || fail "the device tree does not name brcm,$Chip"
[ "$Access" = root ] || guest_said 'user uid=1000(camera) .*(gpio)' ||
  fail "the camera's user is not in the gpio group"
wait_until "the menu on the terminal" screen_has_line "LED ON"
# Without its GPIO page the camera still runs, but no pin can follow; say why and stop.
NoPins='Failed to \(open memory\|map memory\|allocate memory map\)\|GPIO [0-9]*: \|GPIO chip '
! grep -aq "$NoPins" "$GUEST_LOG" ||
  fail "the camera could not reach its pins: $(grep -ao "$NoPins"'[^\r]*' "$GUEST_LOG" | head -n1)"

# Each row: when, keys (KEY=ITEM: the item a screen line shows next), the LED level to
# wait for, then each PIN=FUNCTION/LEVEL: its GPFSEL field (1 output, "-" not checked) and its
# GPLEV0 bit. "LED ON again" is there so "OFF" is seen to clear the LED.
Steps=(
  "start-up||0|$LedPin=1/0 $LcdPin=1/1 $SparePin=1/1"
  "LED ON|Enter|1|$LedPin=-/1 $LcdPin=-/1"
  "LED OFF|Right=LED OFF,Enter|0|$LedPin=-/0 $LcdPin=-/1"
  "LED ON again|Left=LED ON,Enter|1|$LedPin=-/1"
  "OFF|Right=LED OFF,Right=OFF,Enter|0|$LedPin=$Out/0 $LcdPin=$Out/0 $SparePin=$Out/1"
)
for Step in "${Steps[@]}"; do
  IFS='|' read -r When Keys Led Pins <<<"$Step"
  IFS=, read -r -a KeyList <<<"$Keys"
  for Key in "${KeyList[@]}"; do
    key "${Key%%=*}"
    [ "${Key#*=}" = "$Key" ] ||
      wait_until "$When: a line to read '${Key#*=}'" screen_has_line "${Key#*=}"
  done
  [ "$When" = OFF ] && wait_until "the report after the camera ended" guest_said "idle"
  wait_until "$When: the LED to read $Led" led_reads "$Led"
  read -r -a W <<<"$(gpio_words)"
  log "after $When: ${W[*]}"
  for Spec in $Pins; do
    Pin=${Spec%=*} Want=${Spec#*=}
    Function=$(((W[Pin / 10] >> (3 * (Pin % 10))) & 7)) Level=$(((W[13] >> Pin) & 1))
    [ "${Want%/*}" = - ] || [ "$Function" = "${Want%/*}" ] ||
      fail "$When: GPIO $Pin function $Function, expected ${Want%/*}"
    [ "$Level" = "${Want#*/}" ] || fail "$When: GPIO $Pin level $Level, expected ${Want#*/}"
  done
done
guest_said 'camera exited status=0' || fail "the camera did not end with status 0"
guest_said 'state bytes=280[[:space:]]*$' || fail "CONFIG.DAT was not saved with 280 bytes"
