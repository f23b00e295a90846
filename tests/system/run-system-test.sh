#!/usr/bin/env bash
# The booted-system test: what an owner does with the amd64 package on Debian bookworm
# booted with systemd under QEMU, one PASS, FAIL or SKIP line per promise; exits 1 on any
# FAIL, 77 when a tool is missing. The root file system is kept in
# ${XDG_CACHE_HOME:-$HOME/.cache}/harrowlight/system-amd64.  Usage: run-system-test.sh BUILD STANDIN
# shellcheck disable=SC2016 # the guest commands in single quotes expand in the guest
set -uo pipefail
Build=$(readlink -f "${1:?usage: run-system-test.sh BUILD_DIR STANDIN}")
Standin=$(readlink -f "${2:?usage: run-system-test.sh BUILD_DIR STANDIN}")
Here=$(cd "$(dirname "$0")" && pwd)
Cache=${XDG_CACHE_HOME:-$HOME/.cache}/harrowlight/system-amd64
for Tool in qemu-system-x86_64 mmdebstrap mke2fs dumpe2fs socat cpack dpkg-deb; do
  command -v "$Tool" > /dev/null || { echo "system-test: SKIP: no $Tool (scripts/install-deps)"; exit 77; }
done
Work=$(mktemp -d "${TMPDIR:-/tmp}/harrowlight-system.XXXXXX")
# shellcheck source=tests/system/guest.sh
. "$Here/guest.sh"
trap 'stop_guest; rm -rf "$Work"' EXIT && trap 'exit 143' TERM INT HUP
Failures=0 Start=$SECONDS
# check NAME STATUS EVIDENCE: one line per promise (STATUS 0 passes; "skip: REASON" skips).
check() {
  local Verdict=PASS Evidence=$3
  if [[ $2 == skip* ]]; then Verdict=SKIP Evidence=${2#skip: }; elif [ "$2" != 0 ]; then Verdict=FAIL; Failures=$((Failures + 1)); fi
  echo "$Verdict: $1 -- $(tr '\n' '|' <<< "$Evidence" | tr -s ' ' | cut -c1-600)"
}

# --- The packages, the system and the transfer disk ----------------------------------------
(cd "$Build" && cpack -B "$Work/deb1" && cpack -B "$Work/deb2" -D CPACK_DEBIAN_PACKAGE_RELEASE=99) \
  > "$Work/cpack.log" 2>&1 || { cat "$Work/cpack.log"; exit 1; }
mkdir -p "$Work/transfer" && cp "$Work"/deb1/harrowlight_*.deb "$Work"/deb2/harrowlight_*.deb "$Standin" "$Work/transfer/"
Deb1=/mnt/$(basename "$Work"/deb1/*.deb) Deb2=/mnt/$(basename "$Work"/deb2/*.deb)
dpkg-deb -x "$Work"/deb1/*.deb "$Work/pkg" && dpkg-deb -e "$Work"/deb1/*.deb "$Work/pkg/DEBIAN"
"$Here/rootfs.sh" "$Cache" > "$Work/rootfs.log" 2>&1 || { cat "$Work/rootfs.log"; exit 1; }
cp --sparse=always "$Cache/root.img" "$Work/root.img" && mke2fs -q -t ext4 -d "$Work/transfer" "$Work/transfer.img" 64M > /dev/null
Accel=$(accelerator) && echo "system-test: packages and system ready after $((SECONDS - Start)) s; QEMU with $Accel"
check_journal() {
  Out=$(guest 'journalctl -b -q --no-pager -p warning -u harrowlight.service -u harrowlight-console.service')
  check "the journal of the $1 has no warning from the package's units" "$([ -z "$Out" ]; echo $?)" "${Out:-none}"
}

# --- First boot: the pristine system ---------------------------------------------------------
boot_guest || exit 1
guest 'systemctl is-system-running --wait' 200 > /dev/null
Prune='-path /proc -o -path /sys -o -path /run -o -path /dev -o -path /tmp -o -path /var/tmp -o -path /mnt -o -path /root -o -path /var/log -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg'
guest "find / -xdev \\( $Prune \\) -prune -o -print | sort > /root/before.list" > /dev/null
Out=$(guest "apt install -y -o Dpkg::Progress-Fancy=0 $Deb1 && dpkg-query -W -f='\${Status}' harrowlight")
check "apt installs the package from Debian's packages only" $? "$(tail -3 <<< "$Out")"
Out=$(guest 'grep -m1 "^PREVIEW=" /etc/harrowlight/Harrowlight.ini')
if grep -q rpicam "$Work/pkg/DEBIAN/postinst"; then grep -q rpicam-still <<< "$Out"; Status=$?; else Status="skip: postinst does not choose yet"; fi
check "with no camera tool the configuration is the rpicam one" "$Status" "$Out"
Tool=${Out#PREVIEW=} && Tool=${Tool%% *}
Out=$(guest 'systemd-analyze verify harrowlight.service harrowlight-console.service')
check "systemd-analyze verify passes on the units" $? "${Out:-no complaint}"
Want=$(sed -n 's/.*| service exposure |.*| \([0-9.]* "[A-Z]*"\).*/\1/p' "$Here/../../docs/packaging.md")
Out=$(guest 'systemd-analyze security harrowlight.service --no-pager | tail -1')
grep -q "exposure level for harrowlight.service: ${Want//\"/}" <<< "$Out"
check "systemd-analyze security rates the service as documented ($Want)" $? "$Out"

# A refused start: root logged in on tty1 by an automatic login.
guest 'mkdir -p /etc/systemd/system/getty@tty1.service.d
printf "[Service]\nExecStart=\nExecStart=-/sbin/agetty --autologin root --noclear %%I linux\n" > /etc/systemd/system/getty@tty1.service.d/autologin.conf
systemctl daemon-reload; systemctl restart getty@tty1; until_ok pgrep -t tty1 -x bash' > /dev/null
Out=$(guest 'systemctl start harrowlight; echo "start ended $?"; sleep 1; systemctl status harrowlight --no-pager -n 5; ps h -t tty1 -o comm; systemctl is-system-running; systemctl --failed --no-legend')
grep -q 'start ended [1-9]' <<< "$Out" && grep -q -x '.* someone is logged in on tty1' <<< "$Out" &&
  grep -q -x bash <<< "$Out" && grep -q -x running <<< "$Out"
check "a start under a login on tty1 is refused, reason whole in systemctl status at 80 columns, session kept, nothing failed" $? "$(grep -e ended -e someone -e '^bash' -e running -e degraded <<< "$Out")"
guest 'rm -r /etc/systemd/system/getty@tty1.service.d; systemctl daemon-reload; systemctl restart getty@tty1' > /dev/null

# No camera tool: the first screen names it.
guest 'systemctl start harrowlight' > /dev/null
if grep -q -a 'Camera tool not found' "$Work/pkg/usr/lib/harrowlight/harrowlight"; then Out=$(wait_screen "Camera tool not found: $Tool\\."); Status=$?; else Status="skip: no such report yet"; fi
check "with no camera tool the first screen names it ($Tool)" "$Status" "$(head -3 <<< "$Out")"
guest 'systemctl stop harrowlight' > /dev/null

# The owner's camera tools (stand-ins), an edited configuration, and a reboot to the camera.
guest 'for T in raspistill raspivid rpicam-still rpicam-vid; do cp /mnt/standin_static /usr/bin/$T; done
echo "# edited by the owner" >> /etc/harrowlight/Harrowlight.ini; systemctl enable harrowlight' > /dev/null
reboot_guest || exit 1
Out=$(wait_screen 'RESOLUTION' 60)
# Under TCG the guest boots ten times slower than a Pi: the bound starts at its jobs' end.
Seconds=$(guest 'cut -d. -f1 /proc/uptime') Finish=$(guest 'systemctl show -p FinishTimestampMonotonic --value')
From=0 && [ "$Accel" = tcg ] && From=$((Finish / 1000000))
[ $((Seconds - From)) -le 30 ]
check "after enable and reboot the menu is on tty1 within 30 s of the boot ($Accel)" $? \
  "at ${Seconds} s of the boot, the boot's jobs done at $((Finish / 1000000)) s: $(sed -n 13,14p <<< "$Out")"
Out=$(guest 'ps -o user= -C harrowlight; systemctl is-active getty@tty1; ps h -t tty1 -o comm')
grep -q -x harrowlight <<< "$Out" && ! grep -q -x -e root -e agetty -e active <<< "$Out"
check "the camera runs as harrowlight and no login prompt holds tty1" $? "$Out"
Out=$(guest 'systemctl is-system-running --wait; sleep 2' 100 > /dev/null; screen)
! grep -q -e '\] Started' -e '\] Finished' -e '\] Reached' -e 'OK  \]' <<< "$Out"
check "no status message of systemd over the camera's screen once the boot is done" $? "$(head -2 <<< "$Out")"

# Keys on the emulated keyboard, through the console's keyboard driver.
First=$(row 13) && keys right && sleep 0.5 && [ "$(row 13)" != "$First" ] && keys down && sleep 0.5 &&
  Menu=$(row 12) && [ "$Menu" != RESOLUTION ] && keys right && sleep 0.5 && Item=$(row 13) && keys ret
check "Right, Down and Enter change the screen as the README says" $? "RESOLUTION $First, Right, Down: $Menu $Item"
press_until down 12 EXEC && [ "$(row 13)" = STILL ] && keys spc
Out=$(guest 'until_ok ls /var/lib/harrowlight/DCIM/*.jpg; stat -c "%U %s %n" /var/lib/harrowlight/DCIM/*')
grep -q '^harrowlight [0-9]* /var/lib/harrowlight/DCIM/IMG_.*\.jpg$' <<< "$Out"
check "Space captures a still into the capture folder, owned by harrowlight" $? "$Out"

# Upgrades: the same package again and a higher version, enabled and disabled.
sums() { guest 'sleep 1; md5sum /etc/harrowlight/Harrowlight.ini /var/lib/harrowlight/CONFIG.DAT; systemctl is-enabled harrowlight'; }
Before=$(guest 'systemctl restart harrowlight' > /dev/null; sums) # the state as saved at a stop
while IFS='|' read -r State Install What; do
  Out=$(guest "systemctl ${State%d} -q harrowlight; apt-get install -y $Install > /dev/null 2>&1" 300; sums)
  [ "$Out" = "${Before/enabled/$State}" ]
  check "$What keeps the service $State, the edited configuration and CONFIG.DAT" $? "$Out"
done <<< "enabled|--reinstall $Deb1|the same version again
disabled|$Deb2|a higher version
enabled|--reinstall $Deb2|the same version again"
check_journal "boot with the keys and the upgrades"

# --- Third boot: what was kept; "OFF" ---------------------------------------------------------
reboot_guest || exit 1
wait_screen EXEC 60 > /dev/null
[ "$(row 12)" = EXEC ] && [ "$(row 13)" = STILL ] && press_until up 12 "$Menu" && [ "$(row 13)" = "$Item" ]
check "the menu position and the committed item survive a reboot" $? "$(screen | sed -n 13,14p)"
press_until down 12 POWER && press_until right 13 OFF && keys ret
Pressed=$SECONDS Out=$(wait_screen 'login:' 10)
Status=$? Out="$(grep login: <<< "$Out") after $((SECONDS - Pressed)) s; $(guest 'sleep 3; systemctl show -p ActiveState -p Result -p NRestarts harrowlight')"
[ $Status = 0 ] && grep -q ActiveState=inactive <<< "$Out" && grep -q Result=success <<< "$Out" &&
  grep -q NRestarts=0 <<< "$Out"
check "POWER -> OFF ends the service inactive, not restarted, login prompt back within 10 s" $? "$Out"
check_journal "boot with OFF"

guest 'systemctl start harrowlight' > /dev/null
if grep -q '^MENU_[0-9]*=POWER,.*SHUTDOWN' "$Work"/pkg/etc/harrowlight/*.ini; then
  wait_screen POWER 30 > /dev/null && press_until right 13 SHUTDOWN && keys ret
  Pressed=$SECONDS
  while kill -0 "$QemuPid" 2> /dev/null && [ $((SECONDS - Pressed)) -lt 60 ]; do sleep 0.5; done
  Out="QEMU running after $((SECONDS - Pressed)) s: $(kill -0 "$QemuPid" 2> /dev/null && echo yes || echo no)"
  stop_guest
  Out="$Out; $(dumpe2fs -h "$Work/root.img" 2> /dev/null | grep features)"
  boot_guest || exit 1
  Out="$Out; next boot: $(guest 'dmesg | grep -i -e recover -e "not clean" || echo no recovery')"
  grep -q 'running after [0-9]* s: no' <<< "$Out" && ! grep -q -e needs_recovery -e 'vda.*recover' <<< "$Out"
  check "POWER -> SHUTDOWN powers off within 60 s, the root file system cleanly unmounted" $? "$Out"
else check "POWER -> SHUTDOWN powers the machine off" "skip: the package's POWER menu has no SHUTDOWN yet" ""; fi

# --- Removal while the camera runs, and purge -------------------------------------------------
wait_screen 'EXEC|POWER|RESOLUTION' 60 > /dev/null
Out=$(guest 'apt-get remove -y harrowlight > /dev/null; until_ok grep -aq login: /dev/vcs1
fold -w 80 /dev/vcs1 | grep login:; systemctl is-failed harrowlight-console.service; systemctl --failed --no-legend; ls -1 /var/lib/harrowlight')
grep -q login: <<< "$Out" && grep -q -x inactive <<< "$Out" && ! grep -q failed <<< "$Out" && grep -q -x CONFIG.DAT <<< "$Out"
check "apt remove while the camera runs gives tty1 its login prompt, no unit failed, keeps /var/lib/harrowlight" $? "$Out"
Out=$(guest "rm -f /var/lib/harrowlight/DCIM/* /var/lib/harrowlight/standin.log /usr/bin/raspi* /usr/bin/rpicam-*; apt-get purge -y harrowlight > /dev/null
ls -d /var/lib/harrowlight 2> /dev/null; getent passwd harrowlight; getent group harrowlight
find / -xdev \\( $Prune \\) -prune -o -print | sort | diff /root/before.list - && echo same files")
[ "$Out" = "same files" ]
check "apt purge removes /var/lib/harrowlight, the user, the group and every file it made" $? "$Out"

stop_guest
echo "system-test: $Failures failures, $((SECONDS - Start)) s in all"
[ "$Failures" -eq 0 ]
