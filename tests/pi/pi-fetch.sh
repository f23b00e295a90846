#!/usr/bin/env bash
# Downloads, once, the armel Raspberry Pi kernel (through the linux-image-rpi meta-package),
# busybox-static (init and tools) and busybox (the shell for the camera's commands: unlike
# the static build it looks commands up on PATH before its own applets, so stand-ins such
# as ps are found) into CACHE/debs, using a private apt state for the armel architecture
# so the host's dpkg configuration is never changed. Later runs reuse the cached files.
# Usage: pi-fetch.sh CACHE
set -euo pipefail
Cache=${1:?usage: pi-fetch.sh CACHE}
Debs=$Cache/debs
mkdir -p "$Debs"

have() { compgen -G "$Debs/$1_*_armel.deb" > /dev/null; }
all_present() { have 'linux-image-*-rpi' && have busybox-static && have busybox; }
if all_present; then
  exit 0
fi

State=$Cache/apt
mkdir -p "$State/lists/partial" "$State/archives/partial"
touch "$State/status"
Apt=(-o "Dir::State=$State" -o "Dir::State::status=$State/status" -o "Dir::Cache=$State"
  -o "Dir::Cache::archives=$State/archives" -o APT::Architecture=armel
  -o APT::Architectures::=armel -o Debug::NoLocking=1 -o APT::Sandbox::User=root
  -o Acquire::Languages=none)

echo "pi-fetch: reading the armel package lists" >&2
apt-get "${Apt[@]}" -qq update
Kernel=$(apt-cache "${Apt[@]}" depends linux-image-rpi |
  awk '$1 == "Depends:" && $2 ~ /^linux-image-.*-rpi$/ { print $2; exit }')
if [ -z "$Kernel" ]; then
  echo "pi-fetch: linux-image-rpi names no armel kernel" >&2
  exit 1
fi
echo "pi-fetch: downloading $Kernel, busybox-static and busybox (armel)" >&2
(cd "$Debs" && apt-get "${Apt[@]}" -qq download "$Kernel:armel" busybox-static:armel busybox:armel)
all_present
