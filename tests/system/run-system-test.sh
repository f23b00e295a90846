#!/usr/bin/env bash
# What an owner does with the amd64 package on Debian bookworm booted with systemd under QEMU,
# through a root shell on its serial port, the monitor's keys and tty1's /dev/vcs1: one PASS or
# FAIL line per promise, with its evidence.
# shellcheck source=tests/lib/harness.sh disable=SC2016 # guest commands expand in the guest
. "$(dirname "$0")/../lib/harness.sh"
set +e # a failed step shows in the promise it breaks, and the run goes on
Usage="usage: run-system-test.sh BUILD_DIR STANDIN"
Build=$(readlink -f "${1:?$Usage}") Standin=$(readlink -f "${2:?$Usage}")
Cache=${XDG_CACHE_HOME:-$HOME/.cache}/harrowlight/system-amd64
require_tools qemu-system-x86_64 mmdebstrap mke2fs dumpe2fs socat cpack
setup_run system-test
Work=$RUN_DIR Log=$RUN_DIR/serial.log SerialIn="" SCREEN_READER=screen Start=$SECONDS
SHOW_FILES+=("$Log" "$Work/qemu.log")

boot_guest() { # in a new QEMU, once its shell answers (asked every 3 s till it listens)
  rm -f "$Work/serial.sock" "$Work/monitor.sock"
  start_qemu x86_64 "$Work/monitor.sock" "$Work/qemu.log" -accel "$Accel" -m 1024 -smp 2 \
    -display none -vga std -nic none -kernel "$Cache/vmlinuz" -initrd "$Cache/initrd.img" \
    -append "root=/dev/vda ro nomodeset" -drive "file=$Work/root.img,if=virtio,format=raw" \
    -drive "file=$Work/transfer.img,if=virtio,format=raw,readonly=on" \
    -chardev "socket,id=serial,path=$Work/serial.sock,server=on,wait=off" -serial chardev:serial
  wait_until "the serial port" test -S "$Work/serial.sock"
  exec {SerialIn}> >(exec socat - "UNIX-CONNECT:$Work/serial.sock" >> "$Log" 2> /dev/null)
  monitor_command cont
  wait_until_long 300 "a shell on the serial port" guest 'mount -o ro /dev/vdb /mnt
    export SYSTEMD_COLORS=0 SYSTEMD_URLIFY=0
    until_ok() { for _ in $(seq 50); do "$@" > /dev/null 2>&1 && return; sleep 0.2; done; false; }
    ' 3 > /dev/null
}
stop_guest() { stop_qemu; exec {SerialIn}>&-; SerialIn=""; }
reboot_guest() { # which ends QEMU (start_qemu's -no-reboot): a new one boots the guest again
  echo 'systemctl reboot' >&"$SerialIn"
  wait_until_long 120 "QEMU to end at the guest's reboot" process_gone "$QEMU_PID"
  stop_guest && boot_guest
}

guest() { # COMMAND [SECONDS (120)]: its output and status in the root shell; 124: no answer
  local Start Deadline=$((SECONDS + ${2:-120})) Status Sequence=$RANDOM$RANDOM
  Start=$(($(stat -c %s "$Log") + 1))
  printf '{ %s\n} < /dev/null 2>&1; echo "@@$? %d@@"\n' "$1" "$Sequence" >&"$SerialIn"
  until Status=$(tail -c +"$Start" "$Log" | grep -a -o -P "@@\K[0-9]+(?= $Sequence@@)"); do
    [ $SECONDS -lt $Deadline ] || return 124
    sleep 0.1
  done
  tail -c +"$Start" "$Log" | tr -d '\r' | sed -n "/@@[0-9]* $Sequence@@/q;p"
  return "$Status"
}

# keys KEY...: types each key (QEMU's names: down, ret, spc) and gives it half a second.
keys() { for Key in "$@"; do monitor_command "sendkey $Key" && sleep 0.5; done; }
# tty1's 25 rows of 80 characters, blanks trimmed (screen_row 1 is the top).
screen() { guest 'fold -w 80 /dev/vcs1; echo' 10 | sed 's/^ *//; s/ *$//'; }
# wait_screen PATTERN [SECONDS]: the screen once its joined rows (wrapped messages whole) match
# the extended PATTERN within SECONDS (20); else the reason and 1.
wait_screen() { (wait_until_long "${2:-20}" "tty1 to show $1" screen_matches "$1") 2>&1 && screen; }
screen_matches() { screen | tr -s ' \n' '  ' | grep -q -E "$1"; }
# press_until KEY ROW TEXT: types KEY, at most 12 times, until row ROW reads TEXT exactly.
press_until() { for _ in {1..12}; do keys "$1" && row_reads "$2" "$3" && return; done; false; }
# says EVIDENCE STATUS: prints EVIDENCE and returns STATUS; promise NAME [EVIDENCE ($Out)]: the
# check NAME of the step just run, by its status.
says() { echo "$1" && return "$2"; }
promise() { check "$1" says "${2-$Out}" $?; }
Journal='journalctl -b -q --no-pager -p warning -u "harrowlight*"'

# --- The packages, the system (made again when rootfs.sh changes) and the transfer disk ----
(cd "$Build" && cpack -B "$Work/deb1" && cpack -B "$Work/deb2" -D CPACK_DEBIAN_PACKAGE_RELEASE=99) \
  > "$Work/cpack.log" 2>&1 || { cat "$Work/cpack.log"; exit 1; }
mkdir "$Work/transfer" && cp "$Work"/deb{1,2}/harrowlight_*.deb "$Standin" "$Work/transfer/"
Deb1=/mnt/$(basename "$Work"/deb1/*.deb) Deb2=/mnt/$(basename "$Work"/deb2/*.deb)
"$TESTS_DIR/system/rootfs.sh" "$Cache" > "$Work/rootfs.log" 2>&1 ||
  { cat "$Work/rootfs.log"; exit 1; }
cp --sparse=always "$Cache/root.img" "$Work/root.img"
mke2fs -q -t ext4 -d "$Work/transfer" "$Work/transfer.img" 64M > /dev/null
# KVM where it runs a kernel to its first line in 10 s (a /dev/kvm may hang guests), else TCG.
Accel=tcg && [ -w /dev/kvm ] && timeout 10 qemu-system-x86_64 -accel kvm -m 256 -display none \
  -nic none -monitor none -serial stdio -kernel "$Cache/vmlinuz" -append console=ttyS0 \
  2> /dev/null | grep -q -m1 'Linux version' && Accel=kvm
log "packages and system ready after $((SECONDS - Start)) s; QEMU: $Accel"

# --- First boot: the pristine system ---------------------------------------------------------
boot_guest
guest 'systemctl is-system-running --wait' 200 > /dev/null
Skip='/(proc|sys|run|dev|tmp|var/tmp|mnt|root|var/log|var/cache|var/lib/apt|var/lib/dpkg)'
Files="find / -xdev -regextype egrep -regex '$Skip' -prune -o -print | sort"
guest "$Files > /root/before.list" > /dev/null
Out=$(guest "apt install -y -o Dpkg::Progress-Fancy=0 $Deb1 &&
  dpkg-query -W -f='\${Status}' harrowlight")
promise "apt installs the package from Debian's packages only" "$(tail -3 <<< "$Out")"
Out=$(guest 'grep -m1 "^PREVIEW=" /etc/harrowlight/Harrowlight.ini')
Tool=${Out#PREVIEW=} && Tool=${Tool%% *} && [ "$Tool" = rpicam-still ]
promise "with no camera tool the configuration is the rpicam one"
check "systemd-analyze verify passes on the units" \
  guest 'systemd-analyze verify harrowlight.service harrowlight-console.service'
Want=$(sed -n 's/.*| service exposure |.*| \([0-9.]* "[A-Z]*"\).*/\1/p' \
  "$TESTS_DIR/../docs/packaging.md")
Out=$(guest 'systemd-analyze security harrowlight.service --no-pager | tail -1')
grep -q "exposure level for harrowlight.service: ${Want//\"/}" <<< "$Out"
promise "systemd-analyze security rates the service as documented ($Want)"

# A refused start: root logged in on tty1 by an automatic login.
guest 'D=/etc/systemd/system/getty@tty1.service.d && mkdir -p $D
printf "%s\n" "[Service]" ExecStart= "ExecStart=-/sbin/agetty --autologin root --noclear %I linux" \
  > $D/autologin.conf
systemctl daemon-reload; systemctl restart getty@tty1; until_ok pgrep -t tty1 -x bash' > /dev/null
Out=$(guest 'systemctl start harrowlight; echo "start ended $?"; sleep 1
systemctl status harrowlight --no-pager -n 5 | grep someone; ps h -t tty1 -o comm
systemctl is-system-running; systemctl --failed --no-legend')
grep -q 'start ended [1-9]' <<< "$Out" && grep -q -x '.* someone is logged in on tty1' <<< "$Out" &&
  grep -q -x bash <<< "$Out" && grep -q -x running <<< "$Out"
promise "a start under a login on tty1 is refused, reason whole in systemctl status at 80 columns,\
 session kept, nothing failed"
guest 'rm -r $D; systemctl daemon-reload; systemctl restart getty@tty1' > /dev/null

guest 'systemctl start harrowlight' > /dev/null
check "with no camera tool the first screen names it ($Tool)" \
  wait_screen "Camera tool not found: $Tool\\."
guest 'systemctl stop harrowlight' > /dev/null

# The owner's camera tools (stand-ins), an edited configuration, and a reboot to the camera.
guest 'for T in raspi{still,vid} rpicam-{still,vid}; do cp /mnt/standin_static /usr/bin/$T; done
echo "# edited by the owner" >> /etc/harrowlight/Harrowlight.ini
systemctl enable harrowlight' > /dev/null
reboot_guest
Out=$(wait_screen 'RESOLUTION' 60)
# Under TCG the guest boots ten times slower than a Pi: the bound starts at its jobs' end.
Seconds=$(guest 'cut -d. -f1 /proc/uptime')
Finish=$(($(guest 'systemctl show -p FinishTimestampMonotonic --value') / 1000000))
From=0 && [ "$Accel" = tcg ] && From=$Finish
[ $((Seconds - From)) -le 30 ]
promise "after enable and reboot the menu is on tty1 within 30 s of the boot ($Accel)" \
  "at $Seconds s of the boot, the boot's jobs done at $Finish s: $(sed -n 13,14p <<< "$Out")"
Out=$(guest 'ps -o user= -C harrowlight; systemctl is-active getty@tty1; ps h -t tty1 -o comm')
grep -q -x harrowlight <<< "$Out" && ! grep -q -x -e root -e agetty -e active <<< "$Out"
promise "the camera runs as harrowlight and no login prompt holds tty1"
Out=$(guest 'systemctl is-system-running --wait; sleep 2' 100 > /dev/null; screen)
[ "$(grep -c -e '\] Started' -e '\] Finished' -e '\] Reached' -e 'OK  \]' <<< "$Out")" = 0 ]
promise "no status message of systemd over the camera's screen once the boot is done" \
  "$(head -2 <<< "$Out")"

# Keys on the emulated keyboard, through the console's keyboard driver.
First=$(screen_row 14) && keys right && ! row_reads 14 "$First" && keys down &&
  Menu=$(screen_row 13) && [ "$Menu" != RESOLUTION ] && keys right && Item=$(screen_row 14)
promise "Right, Down and Enter change the screen as the README says" \
  "RESOLUTION $First, Right, Down: $Menu $Item"
keys ret && press_until down 13 EXEC && row_reads 14 STILL && keys spc
Out=$(guest 'cd /var/lib/harrowlight/DCIM; until_ok compgen -G "*.jpg"
stat -c "%U %s $PWD/%n" *; cd /')
grep -q '^harrowlight [0-9]* /var/lib/harrowlight/DCIM/IMG_.*\.jpg$' <<< "$Out"
promise "Space captures a still into the capture folder, owned by harrowlight"

sums() { guest 'sleep 1; md5sum /etc/harrowlight/Harrowlight.ini /var/lib/harrowlight/CONFIG.DAT
  systemctl is-enabled harrowlight'; }
# The state as saved at a stop once the capture is over: the still's tool (2 s) has ended and
# the camera has started its preview again (a stop in between saves the capture's mode).
Before=$(guest 'P=$(pgrep -f "[I]MG_") && timeout 30 tail --pid="$P" -f /dev/null
until_ok pgrep -f "still .* -t 0$"; systemctl restart harrowlight' > /dev/null; sums)
while IFS='|' read -r State Install What; do
  Out=$(guest "systemctl ${State%d} -q harrowlight
    apt-get install -y $Install > /dev/null 2>&1" 300; sums)
  check "$What keeps the service $State, the edited configuration and CONFIG.DAT" \
    matches "$Out" "${Before/enabled/$State}"
done <<< "enabled|--reinstall $Deb1|the same version again
disabled|$Deb2|a higher version
enabled|--reinstall $Deb2|the same version again"
check "the journal of the boot with the keys and the upgrades has no warning from the package's\
 units" matches "$(guest "$Journal")" ""

# --- Third boot: what was kept; "OFF" and "SHUTDOWN" -------------------------------------------
reboot_guest
wait_screen EXEC 60 > /dev/null
row_reads 13 EXEC && row_reads 14 STILL && press_until up 13 "$Menu" && row_reads 14 "$Item"
promise "the menu position and the committed item survive a reboot" "$(screen | sed -n 13,14p)"
press_until down 13 POWER && press_until right 14 OFF && keys ret
Pressed=$SECONDS Out=$(wait_screen 'login:' 10)
Status=$? Out="$(grep login: <<< "$Out") after $((SECONDS - Pressed)) s; $(guest 'sleep 3
systemctl show -p ActiveState -p Result -p NRestarts harrowlight | sort | paste -sd,')"
[ $Status = 0 ] && grep -q 'ActiveState=inactive,NRestarts=0,Result=success' <<< "$Out"
promise "POWER -> OFF ends the service inactive, not restarted, login prompt back within 10 s"
check "the journal of the boot with OFF has no warning from the package's units" \
  matches "$(guest "$Journal")" ""
# A reboot ends QEMU too: the previous boot's journal tells them apart.
guest 'systemctl start harrowlight' > /dev/null
wait_screen POWER 30 > /dev/null && press_until right 14 SHUTDOWN && keys ret
Pressed=$SECONDS Running=yes
(wait_until_long 60 "the power-off" process_gone "$QEMU_PID") &> /dev/null && Running=no
Out="QEMU running after $((SECONDS - Pressed)) s: $Running"
stop_guest && Features=$(dumpe2fs -h "$Work/root.img" 2> /dev/null | grep features)
boot_guest
Out="$Out; next boot: $(guest 'journalctl -b -1 -q -o cat | grep -m1 "^System is"
dmesg | grep -i -e recover -e "not clean" || echo no recovery'); $Features"
grep -q 'running after [0-9]* s: no' <<< "$Out" && grep -q 'System is powering down' <<< "$Out" &&
  ! grep -q -e needs_recovery -e 'vda.*recover' <<< "$Out"
promise "POWER -> SHUTDOWN powers off within 60 s, the root file system cleanly unmounted"

# --- Removal while the camera runs, and purge -------------------------------------------------
wait_screen 'EXEC|POWER|RESOLUTION' 60 > /dev/null
Out=$(guest 'apt-get remove -y harrowlight > /dev/null; until_ok grep -aq login: /dev/vcs1
fold -w 80 /dev/vcs1 | grep login:; systemctl is-failed harrowlight-console.service
systemctl --failed --no-legend; ls -1 /var/lib/harrowlight')
grep -q login: <<< "$Out" && grep -q -x inactive <<< "$Out" && ! grep -q failed <<< "$Out" &&
  grep -q -x CONFIG.DAT <<< "$Out"
promise "apt remove while the camera runs gives tty1 its login prompt, no unit failed, keeps\
 /var/lib/harrowlight"
Out=$(guest "rm -f /var/lib/harrowlight/{DCIM/*,standin.log} /usr/bin/raspi* /usr/bin/rpicam-*
apt-get purge -y harrowlight > /dev/null; ls -d /var/lib/harrowlight 2> /dev/null
getent passwd harrowlight; getent group harrowlight
$Files | diff /root/before.list - && echo same files")
check "apt purge removes /var/lib/harrowlight, the user, the group and every file it made" \
  matches "$Out" "same files"
log "$CHECK_FAILURES failures, $((SECONDS - Start)) s in all"
