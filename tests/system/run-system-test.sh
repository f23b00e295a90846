#!/usr/bin/env bash
# The booted-system test: what an owner does with the amd64 package on a Debian bookworm
# system booted with systemd under QEMU. Installs it with apt, boots to the camera on tty1,
# types keys on the emulated keyboard, captures with a stand-in camera tool, "OFF", a
# refused start under a login, upgrades, removal and purge, the units' journal and ratings,
# and "SHUTDOWN". One PASS, FAIL or SKIP line per promise; exits 1 on any FAIL, 77 when QEMU
# or mmdebstrap is missing.
# Usage: run-system-test.sh BUILD_DIR STANDIN   (the root file system is kept in
# ${XDG_CACHE_HOME:-$HOME/.cache}/harrowlight/system-amd64)
# shellcheck disable=SC2016 # the guest commands in single quotes expand in the guest
set -uo pipefail
Build=$(readlink -f "${1:?usage: run-system-test.sh BUILD_DIR STANDIN}")
Standin=$(readlink -f "${2:?usage: run-system-test.sh BUILD_DIR STANDIN}")
Here=$(cd "$(dirname "$0")" && pwd)
Cache=${XDG_CACHE_HOME:-$HOME/.cache}/harrowlight/system-amd64
for Tool in qemu-system-x86_64 mmdebstrap mke2fs dumpe2fs socat cpack dpkg-deb; do
  command -v "$Tool" > /dev/null ||
    { echo "system-test: SKIP: $Tool is missing (scripts/install-deps installs it)"; exit 77; }
done
Work=$(mktemp -d "${TMPDIR:-/tmp}/harrowlight-system.XXXXXX")
# shellcheck source=tests/system/guest.sh
. "$Here/guest.sh"
trap 'stop_guest; rm -rf "$Work"' EXIT
trap 'exit 143' TERM INT HUP
Failures=0
Start=$SECONDS
# check NAME STATUS EVIDENCE: one line per promise (STATUS 0 passes; "skip" skips).
check() {
  local Verdict=PASS
  if [ "$2" = skip ]; then Verdict=SKIP; elif [ "$2" != 0 ]; then Verdict=FAIL; Failures=$((Failures + 1)); fi
  echo "$Verdict: $1 -- $(tr '\n' '|' <<< "$3" | tr -s ' ' | cut -c1-600)"
}

# --- The packages, the system and the transfer disk ----------------------------------------
(cd "$Build" && cpack -B "$Work/deb1" > "$Work/cpack.log" 2>&1 &&
  cpack -B "$Work/deb2" -D CPACK_DEBIAN_PACKAGE_RELEASE=99 >> "$Work/cpack.log" 2>&1) ||
  { cat "$Work/cpack.log"; exit 1; }
mkdir -p "$Work/transfer"
cp "$Work"/deb1/harrowlight_*.deb "$Work"/deb2/harrowlight_*.deb "$Standin" "$Work/transfer/"
Deb1=/mnt/$(basename "$Work"/deb1/*.deb)
Deb2=/mnt/$(basename "$Work"/deb2/*.deb)
dpkg-deb -x "$Work"/deb1/*.deb "$Work/pkg" && dpkg-deb -e "$Work"/deb1/*.deb "$Work/pkg/DEBIAN"
has_shutdown() { grep -q '^MENU_[0-9]*=POWER,.*SHUTDOWN' "$Work/pkg/etc/harrowlight/Harrowlight.ini"; }
has_tool_report() { grep -q -a 'Camera tool not found' "$Work/pkg/usr/lib/harrowlight/harrowlight"; }
has_config_choice() { grep -q rpicam "$Work/pkg/DEBIAN/postinst"; }
"$Here/rootfs.sh" "$Cache" > "$Work/rootfs.log" 2>&1 || { cat "$Work/rootfs.log"; exit 1; }
cp --sparse=always "$Cache/root.img" "$Work/root.img"
mke2fs -q -t ext4 -d "$Work/transfer" "$Work/transfer.img" 64M > /dev/null
Accel=$(accelerator)
echo "system-test: packages and system ready after $((SECONDS - Start)) s; QEMU with $Accel"
# The journal of this boot: nothing of priority warning or worse from the package's units.
check_journal() {
  local Out
  Out=$(guest 'journalctl -b -q --no-pager -p warning -u harrowlight.service -u harrowlight-console.service')
  check "the journal of the $1 has no warning from the package's units" "$([ -z "$Out" ]; echo $?)" "${Out:-none}"
}

# --- First boot: the pristine system ---------------------------------------------------------
boot_guest || exit 1
guest 'mount -o ro /dev/vdb /mnt; systemctl is-system-running --wait' 200 > /dev/null
Prune='-path /proc -o -path /sys -o -path /run -o -path /dev -o -path /tmp -o -path /mnt -o -path /root -o -path /var/log -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg'
guest "find / -xdev \\( $Prune \\) -prune -o -print | sort > /root/before.list" > /dev/null
Out=$(guest "apt install -y -o Dpkg::Progress-Fancy=0 $Deb1 && dpkg-query -W -f='\${Status}' harrowlight")
check "apt installs the package from Debian's packages only" $? "$(tail -3 <<< "$Out")"
Out=$(guest 'grep -m1 "^PREVIEW=" /etc/harrowlight/Harrowlight.ini')
if has_config_choice; then
  grep -q rpicam-still <<< "$Out"
  check "with no camera tool the configuration is the rpicam one" $? "$Out"
else check "the configuration fits the system's camera tools" skip "postinst does not choose yet"; fi
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
systemctl daemon-reload; systemctl restart getty@tty1; for i in $(seq 50); do ps h -t tty1 -o comm | grep -qx bash && break; sleep 0.2; done' > /dev/null
Out=$(guest 'systemctl start harrowlight; echo "start ended $?"; sleep 1; systemctl status harrowlight --no-pager -n 5; ps h -t tty1 -o comm; systemctl is-system-running; systemctl --failed --no-legend')
grep -q 'start ended [1-9]' <<< "$Out" && grep -q -x '.* someone is logged in on tty1' <<< "$Out" &&
  grep -q -x bash <<< "$Out" && grep -q -x running <<< "$Out"
check "a start under a login on tty1 is refused, reason whole in systemctl status at 80 columns, session kept, nothing failed" $? "$(grep -e ended -e someone -e '^bash' -e running -e degraded <<< "$Out")"
guest 'rm -r /etc/systemd/system/getty@tty1.service.d; systemctl daemon-reload; systemctl restart getty@tty1' > /dev/null

# No camera tool: the first screen names it.
guest 'systemctl start harrowlight' > /dev/null
if has_tool_report; then
  Out=$(wait_screen "Camera tool not found: $Tool\\.")
  check "with no camera tool the first screen names it ($Tool)" $? "$(head -3 <<< "$Out")"
else check "with no camera tool the first screen names it" skip "the program has no such report yet"; fi
guest 'systemctl stop harrowlight' > /dev/null

# The owner's camera tools (stand-ins), an edited configuration, and a reboot to the camera.
guest 'for T in raspistill raspivid rpicam-still rpicam-vid; do cp /mnt/standin_static /usr/bin/$T; done
echo "# edited by the owner" >> /etc/harrowlight/Harrowlight.ini; systemctl enable harrowlight' > /dev/null
reboot_guest || exit 1
Out=$(wait_screen 'RESOLUTION' 60)
Seconds=$(guest 'cut -d. -f1 /proc/uptime')
[ "$Seconds" -le 30 ]
check "after enable and reboot the menu is on tty1 within 30 s" $? "at ${Seconds} s of the boot: $(sed -n 11,13p <<< "$Out")"
Out=$(guest 'ps -o user= -C harrowlight; systemctl is-active getty@tty1; ps h -t tty1 -o comm')
grep -q -x harrowlight <<< "$Out" && ! grep -q -x -e root -e agetty -e active <<< "$Out"
check "the camera runs as harrowlight and no login prompt holds tty1" $? "$Out"
guest 'systemctl is-system-running --wait; sleep 2' 100 > /dev/null
Out=$(screen)
! grep -q -e '\] Started' -e '\] Finished' -e '\] Reached' -e 'OK  \]' <<< "$Out"
check "no boot message over the camera's screen once the boot is done" $? "$(head -2 <<< "$Out")"

# Keys on the emulated keyboard, through the console's keyboard driver.
press_until right 12 1920x1080 && press_until down 11 EXPOSURE && press_until right 12 NIGHT
Status=$?
keys ret
check "Right, Down and Enter change the screen as the README says" $Status "$(screen | sed -n 11,13p)"
press_until down 11 EXEC && [ "$(row 12)" = STILL ] && keys spc
Out=$(guest 'for i in $(seq 50); do ls /var/lib/harrowlight/DCIM/*.jpg > /dev/null 2>&1 && break; sleep 0.2; done
stat -c "%U %s %n" /var/lib/harrowlight/DCIM/*')
grep -q '^harrowlight [0-9]* /var/lib/harrowlight/DCIM/IMG_.*\.jpg$' <<< "$Out"
check "Space captures a still into the capture folder, owned by harrowlight" $? "$Out"

# Upgrades: the same package again and a higher version, enabled and disabled.
sums() { guest 'sleep 1; md5sum /etc/harrowlight/Harrowlight.ini /var/lib/harrowlight/CONFIG.DAT; systemctl is-enabled harrowlight'; }
Before=$(sums)
Out=$(guest "apt-get install -y --reinstall $Deb1 > /dev/null" 300; sums)
[ "$Out" = "$Before" ]
check "reinstalling the same version keeps the service enabled, the edited configuration and CONFIG.DAT" $? "$Out"
Out=$(guest "systemctl disable -q harrowlight; apt-get install -y $Deb2 > /dev/null" 300; sums)
[ "$Out" = "${Before/enabled/disabled}" ]
check "a higher version keeps the service disabled, the configuration and CONFIG.DAT" $? "$Out"
Out=$(guest "systemctl enable -q harrowlight; apt-get install -y --reinstall $Deb2 > /dev/null" 300; sums)
[ "$Out" = "$Before" ]
check "reinstalling keeps the service enabled again" $? "$Out"
check_journal "boot with the keys and the upgrades"

# --- Third boot: what was kept; "OFF" ---------------------------------------------------------
reboot_guest || exit 1
wait_screen EXEC 60 > /dev/null
[ "$(row 11)" = EXEC ] && [ "$(row 12)" = STILL ] && press_until up 11 EXPOSURE && [ "$(row 12)" = NIGHT ]
check "the menu position and the committed item survive a reboot" $? "$(screen | sed -n 11,13p)"
press_until down 11 POWER && press_until right 12 OFF && keys ret
Pressed=$SECONDS
Out=$(wait_screen 'login:' 10)
Status=$?
Out="$(grep login: <<< "$Out") after $((SECONDS - Pressed)) s; $(guest 'sleep 3; systemctl show -p ActiveState -p Result -p NRestarts harrowlight')"
[ $Status = 0 ] && grep -q 'ActiveState=inactive.*Result=success.*NRestarts=0' <<< "${Out//$'\n'/ }"
check "POWER -> OFF ends the service inactive, not restarted, login prompt back within 10 s" $? "$Out"
check_journal "boot with OFF"

if has_shutdown; then
  guest 'systemctl start harrowlight' > /dev/null
  wait_screen POWER 30 > /dev/null && press_until right 12 SHUTDOWN && keys ret
  Pressed=$SECONDS
  while kill -0 "$QemuPid" 2> /dev/null && [ $((SECONDS - Pressed)) -lt 60 ]; do sleep 0.5; done
  Out="QEMU running after $((SECONDS - Pressed)) s: $(kill -0 "$QemuPid" 2> /dev/null && echo yes || echo no)"
  stop_guest
  Out="$Out; $(dumpe2fs -h "$Work/root.img" 2> /dev/null | grep features)"
  boot_guest || exit 1
  Out="$Out; next boot: $(guest 'dmesg | grep -i -e recover -e "not clean" || echo no recovery')"
  grep -q 'running after [0-9]* s: no' <<< "$Out" && ! grep -q -e needs_recovery -e 'vda.*recover' <<< "$Out"
  check "POWER -> SHUTDOWN powers off within 60 s, the root file system cleanly unmounted" $? "$Out"
else
  check "POWER -> SHUTDOWN powers the machine off" skip "the package's POWER menu has no SHUTDOWN yet"
  guest 'systemctl start harrowlight' > /dev/null
fi

# --- Removal while the camera runs, and purge -------------------------------------------------
wait_screen 'EXEC|POWER|RESOLUTION' 60 > /dev/null
Out=$(guest 'apt-get remove -y harrowlight > /dev/null; for i in $(seq 50); do grep -aq login: /dev/vcs1 && break; sleep 0.2; done
fold -w 80 /dev/vcs1 | grep login:; systemctl is-failed harrowlight-console.service; systemctl --failed --no-legend; ls /var/lib/harrowlight')
grep -q login: <<< "$Out" && grep -q -x inactive <<< "$Out" && ! grep -q failed <<< "$Out" && grep -q -x CONFIG.DAT <<< "$Out"
check "apt remove while the camera runs gives tty1 its login prompt, no unit failed, keeps /var/lib/harrowlight" $? "$Out"
Out=$(guest "rm -f /var/lib/harrowlight/DCIM/* /usr/bin/raspi* /usr/bin/rpicam-*; apt-get purge -y harrowlight > /dev/null
ls -d /var/lib/harrowlight; getent passwd harrowlight; getent group harrowlight
find / -xdev \\( $Prune \\) -prune -o -print | sort | diff /root/before.list - && echo same files")
[ "$Out" = "same files" ]
check "apt purge removes /var/lib/harrowlight, the user, the group and every file it made" $? "$Out"

stop_guest
echo "system-test: $Failures failures, $((SECONDS - Start)) s in all"
[ "$Failures" -eq 0 ]
