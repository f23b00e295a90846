#!/usr/bin/env bash
# The booted-system test's Debian bookworm in CACHE (root.img, vmlinuz, initrd.img), made again
# when these commands change; root, with no password, has a shell on the serial port.
# shellcheck disable=SC2016 # the hooks expand in mmdebstrap
set -euo pipefail
Cache=${1:?usage: rootfs.sh CACHE}
Stamp=$(grep -v "^#" "$0" | sha256sum | cut -c1-16)
[ "$(cat "$Cache/stamp" 2> /dev/null)" = "$Stamp" ] && [ -s "$Cache/root.img" ] && exit 0
Packages=systemd,systemd-sysv,dbus,udev,apt,linux-image-amd64,initramfs-tools,procps,psmisc,e2fsprogs
rm -rf "$Cache/root" "$Cache/root.img" "$Cache/stamp" && mkdir -p "$Cache"
Shell='[Service]
ExecStart=/bin/sh -c "stty -echo -onlcr cols 80 rows 25; PS1= PS2= exec /bin/bash --norc --noprofile --noediting"
StandardInput=tty
StandardOutput=tty
TTYPath=/dev/ttyS0
Restart=always
KillSignal=SIGHUP'
mmdebstrap --quiet --variant=apt --include="$Packages" \
  --customize-hook='echo raspberrypi > "$1/etc/hostname"' \
  --customize-hook='echo "/dev/vda / ext4 defaults 0 1" > "$1/etc/fstab"' \
  --customize-hook='passwd --root "$1" -d root > /dev/null' \
  --customize-hook="printf '%s\n' '$Shell' > \"\$1/etc/systemd/system/serial-shell.service\"" \
  --customize-hook='W="$1/etc/systemd/system/sysinit.target.wants" && mkdir -p "$W" && ln -s ../serial-shell.service "$W/"' \
  --customize-hook='rm -f "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*_Packages' \
  bookworm "$Cache/root" http://deb.debian.org/debian
cp -L "$Cache/root/vmlinuz" "$Cache/root/initrd.img" "$Cache/"
mke2fs -q -t ext4 -L root -d "$Cache/root" "$Cache/root.img" 2G
rm -rf "$Cache/root"
echo "$Stamp" > "$Cache/stamp"
