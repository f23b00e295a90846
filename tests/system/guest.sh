# The booted-system test's guest: QEMU on a copy of the cached root file system, a root
# shell on its serial port, keys through the QEMU monitor, tty1's screen from /dev/vcs1.
# The sourcing script sets Work (its private directory) and Cache (the image's folder).
# shellcheck shell=bash disable=SC2154,SC2016 # Work and Cache come from the sourcing script; guest commands are quoted for the guest

QemuPid="" SerialIn="" Log=$Work/serial.log

# KVM where it runs a kernel to its first line in 10 s (a /dev/kvm may hang guests), else TCG.
accelerator() {
  [ -w /dev/kvm ] && timeout 10 qemu-system-x86_64 -accel kvm -m 256 -display none -nic none \
    -monitor none -serial stdio -kernel "$Cache/vmlinuz" -append console=ttyS0 2> /dev/null |
    grep -q -m1 'Linux version' && echo kvm || echo tcg
}

boot_guest() {
  rm -f "$Work/serial.sock" "$Work/monitor.sock"
  qemu-system-x86_64 -accel "$Accel" -m 1024 -smp 2 -display none -vga std -nic none \
    -kernel "$Cache/vmlinuz" -initrd "$Cache/initrd.img" -append "root=/dev/vda ro nomodeset" \
    -drive "file=$Work/root.img,if=virtio,format=raw" \
    -drive "file=$Work/transfer.img,if=virtio,format=raw,readonly=on" \
    -chardev "socket,id=serial,path=$Work/serial.sock,server=on,wait=off" -serial chardev:serial \
    -monitor "unix:$Work/monitor.sock,server=on,wait=off" > "$Work/qemu.log" 2>&1 &
  QemuPid=$!
  until [ -S "$Work/serial.sock" ] && [ -S "$Work/monitor.sock" ]; do sleep 0.1; done
  exec {SerialIn}> >(exec socat - "UNIX-CONNECT:$Work/serial.sock" >> "$Log" 2> /dev/null)
  wait_guest_shell
}

# Waits for the shell of a new boot (probing again: it may not be listening yet).
wait_guest_shell() {
  local Old=${BootId:-} Deadline=$((SECONDS + 300))
  BootId=""
  while [ $SECONDS -lt $Deadline ]; do
    BootId=$(guest 'cat /proc/sys/kernel/random/boot_id' 3 | tail -1) &&
      [[ $BootId =~ ^[0-9a-f-]{36}$ ]] && [ "$BootId" != "$Old" ] &&
      guest 'export SYSTEMD_COLORS=0 SYSTEMD_URLIFY=0; mount -o ro /dev/vdb /mnt
        until_ok() { for _ in $(seq 50); do "$@" > /dev/null 2>&1 && return; sleep 0.2; done; false; }' > /dev/null && return 0
    kill -0 "$QemuPid" 2> /dev/null || { echo "QEMU ended: $(cat "$Work/qemu.log")" >&2; return 1; }
  done
  echo "no shell on the guest's serial port" >&2 && return 1
}

# guest COMMAND [SECONDS]: runs COMMAND in the guest's root shell, prints its output and
# returns its status (124 when no answer came in SECONDS, default 120).
guest() {
  local Start Deadline=$((SECONDS + ${2:-120})) Marker Sequence=$RANDOM$RANDOM
  Start=$(($(stat -c %s "$Log") + 1))
  printf '{ %s\n} < /dev/null 2>&1; echo "@@$? %d@@"\n' "$1" "$Sequence" >&"$SerialIn"
  until Marker=$(tail -c +"$Start" "$Log" | grep -a -o "@@[0-9]* $Sequence@@"); do
    [ $SECONDS -lt $Deadline ] || return 124
    sleep 0.1
  done
  tail -c +"$Start" "$Log" | tr -d '\r' | sed -n "/@@[0-9]* $Sequence@@/q;p"
  Marker=${Marker#@@}
  return "${Marker%% *}"
}

# keys KEY...: types each key (QEMU's names: down, ret, spc) on the emulated keyboard.
keys() { for Key in "$@"; do echo "sendkey $Key" | socat - "UNIX-CONNECT:$Work/monitor.sock"; done > /dev/null; }

# tty1's screen, 25 lines of 80 characters; its row N (0 is the top), blanks trimmed.
screen() { guest 'fold -w 80 /dev/vcs1; echo' 10; }
row() { screen | sed -n "$(($1 + 1))p" | sed 's/^ *//; s/ *$//'; }

# wait_screen PATTERN [SECONDS]: until the screen, rows joined (wrapped messages whole), shows PATTERN.
wait_screen() {
  local Deadline=$((SECONDS + ${2:-20})) Text
  until Text=$(screen) && tr -s ' \n' '  ' <<< "$Text" | grep -q -E "$1"; do
    [ $SECONDS -lt $Deadline ] || { echo "$Text"; return 1; }
    sleep 0.3
  done
  echo "$Text"
}

# press_until KEY ROW TEXT: types KEY, at most 12 times, until row ROW reads TEXT exactly.
press_until() {
  for _ in {1..12}; do keys "$1" && sleep 0.3 && [ "$(row "$2")" = "$3" ] && return 0; done
  return 1
}

reboot_guest() { echo 'systemctl reboot' >&"$SerialIn" && wait_guest_shell; }

stop_guest() {
  if [ -n "$SerialIn" ]; then exec {SerialIn}>&-; fi
  if [ -n "$QemuPid" ]; then kill "$QemuPid" 2> /dev/null; wait "$QemuPid" 2> /dev/null; fi
  SerialIn="" QemuPid=""
}
