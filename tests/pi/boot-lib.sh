# Helpers shared by the tests that boot a Debian kernel under QEMU with a busybox initramfs
# holding the camera program: messages and failures, bounded waits, unpacking the cached
# packages, building the initramfs, starting QEMU paused with its monitor on a socket,
# reading guest memory through that monitor, and ending it all on exit.
#
# The sourcing script sets, before calling these: TestName (prefix of every message) and
# Timeout (seconds, bound of each wait).
# shellcheck shell=bash disable=SC2154 # TestName and Timeout come from the sourcing script

Failures=0
QemuPid=""
MonitorPid=""

note() { echo "$TestName: $*"; }
fail() {
  echo "$TestName: FAIL: $*" >&2
  Failures=$((Failures + 1))
}
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

# require_tools HINT TOOL...: stops the test, naming HINT (the install script), when a
# tool is missing.
require_tools() {
  local Hint=$1 Tool
  shift
  for Tool in "$@"; do
    command -v "$Tool" > /dev/null || { echo "$TestName: $Tool is missing ($Hint)" >&2; exit 1; }
  done
}

# Ends the monitor link and QEMU; the sourcing script calls it from its EXIT trap.
stop_qemu() {
  if [ -n "$MonitorPid" ]; then kill "$MonitorPid" 2> /dev/null || true; fi
  if [ -n "$QemuPid" ]; then
    kill "$QemuPid" 2> /dev/null || true
    wait "$QemuPid" 2> /dev/null || true
  fi
}

# --- Packages and initramfs ----------------------------------------------------------------
# unpack_boot_packages DEBS EXTRACT ARCH FLAVOUR [KERNEL_MEMBER...]: unpacks the kernel
# package (only the named members, when given) into EXTRACT, busybox-static into
# EXTRACT/static and busybox into EXTRACT/shell, and sets Kernel to the kernel image.
unpack_boot_packages() {
  local Debs=$1 Extract=$2 Arch=$3 Flavour=$4 KernelDeb
  shift 4
  mkdir -p "$Extract"
  KernelDeb=$(compgen -G "$Debs/linux-image-*-${Flavour}_*_$Arch.deb" | head -n1)
  if [ $# -eq 0 ]; then
    dpkg-deb -x "$KernelDeb" "$Extract"
  else
    # Unpacking the members means decompressing the whole package: done once, beside it,
    # in a directory of this run's own that then takes its place (unless another run's did).
    if [ ! -d "$KernelDeb.unpacked" ]; then
      local Partial
      Partial=$(mktemp -d "$KernelDeb.XXXXXX")
      dpkg-deb --fsys-tarfile "$KernelDeb" | tar -x -C "$Partial" --wildcards "$@"
      mv -T "$Partial" "$KernelDeb.unpacked" 2> /dev/null || rm -rf "$Partial"
    fi
    cp -a "$KernelDeb.unpacked/." "$Extract"
  fi
  dpkg-deb -x "$(compgen -G "$Debs/busybox-static_*_$Arch.deb" | head -n1)" "$Extract/static"
  dpkg-deb -x "$(compgen -G "$Debs/busybox_*_$Arch.deb" | head -n1)" "$Extract/shell"
  Kernel=$(compgen -G "$Extract/boot/vmlinuz-*-$Flavour" | head -n1)
  if [ -z "$Kernel" ] || [ ! -x "$Extract/static/bin/busybox" ] ||
    [ ! -x "$Extract/shell/bin/busybox" ]; then
    echo "$TestName: kernel or busybox missing from the packages" >&2
    exit 1
  fi
}

# initramfs_base ROOT EXTRACT INIT: the directories, the static busybox (init and tools),
# the dynamic one as /bin/busybox-shell (init links /bin/sh to it) and INIT as /init.
initramfs_base() {
  local Root=$1 Extract=$2
  mkdir -p "$Root/bin" "$Root/dev" "$Root/proc" "$Root/sys" "$Root/opt/harrowlight"
  cp "$Extract/static/bin/busybox" "$Root/bin/busybox"
  cp "$Extract/shell/bin/busybox" "$Root/bin/busybox-shell"
  cp "$3" "$Root/init"
}

# write_state_file FILE [ID]: a 280-byte state file with backlight sleep off, so nothing
# changes with time however slowly the emulation runs: capture number ID (default 1), menu 0
# item 1, every selection 1.
write_state_file() {
  local Words=("${2:-1}" 0 1) Format="" Word
  for _ in $(seq 64); do Words+=(1); done
  Words+=(0 0 0) # SleepPeriod, Mode, PreviewSize
  for Word in "${Words[@]}"; do
    Format+=$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((Word & 255)) $((Word >> 8 & 255)) \
      $((Word >> 16 & 255)) $((Word >> 24 & 255)))
  done
  # shellcheck disable=SC2059
  printf "$Format" > "$1"
}

# pack_initramfs ROOT OUTPUT: a gzipped newc archive of ROOT.
pack_initramfs() {
  (cd "$1" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -1 > "$2")
}

# --- QEMU and its monitor ------------------------------------------------------------------
# start_qemu SYSTEM MONITOR_SOCKET LOG ARGUMENT...: starts qemu-system-SYSTEM paused (the
# monitor's "cont" starts the guest), its monitor on MONITOR_SOCKET, its output in LOG.
start_qemu() {
  local System=$1 Socket=$2 Log=$3
  shift 3
  "qemu-system-$System" "$@" -monitor "unix:$Socket,server,nowait" -no-reboot -S > "$Log" 2>&1 &
  QemuPid=$!
}

# wait_for WHAT COMMAND...: polls COMMAND until it succeeds, for at most Timeout seconds.
wait_for() {
  local What=$1 Deadline=$((SECONDS + Timeout))
  shift
  until "$@"; do
    if [ $SECONDS -ge $Deadline ]; then
      fail "timed out waiting for $What"
      return 1
    fi
    if ! kill -0 "$QemuPid" 2> /dev/null; then
      fail "QEMU ended while waiting for $What"
      return 1
    fi
    sleep 0.2
  done
}

# One monitor connection for the whole run; replies are read line by line from MonitorOut,
# commands written to MonitorIn.
open_monitor() {
  coproc MonitorLink { socat - "UNIX-CONNECT:$1" 2> /dev/null; }
  # shellcheck disable=SC2154 # set by coproc
  MonitorPid=$MonitorLink_PID
  exec {MonitorIn}>&"${MonitorLink[1]}" {MonitorOut}<&"${MonitorLink[0]}"
}

monitor_command() { echo "$*" >&"$MonitorIn"; }

# read_guest COUNT UNIT ADDRESS: prints COUNT values of UNIT (b, h or w) of guest physical
# memory from ADDRESS, as the monitor's "xp" shows them (0x-prefixed hexadecimal).
read_guest() {
  local Count=$1 Line Values=() Found Deadline=$((SECONDS + Timeout))
  monitor_command "xp /$1$2x $3"
  while [ ${#Values[@]} -lt "$Count" ] && [ $SECONDS -lt $Deadline ]; do
    IFS= read -r -t "$Timeout" Line <&"$MonitorOut" || break
    # The reply's lines are "ADDRESS: VALUE ..."; the prompt and the echoed command are not.
    if [[ ${Line//$'\r'/} =~ [0-9a-f]{8,16}:((\ +0x[0-9a-f]+)+) ]]; then
      read -r -a Found <<< "${BASH_REMATCH[1]}"
      Values+=("${Found[@]}")
    fi
  done
  [ ${#Values[@]} -eq "$Count" ] || { fail "no memory words from the monitor"; return 1; }
  echo "${Values[*]}"
}
