#!/usr/bin/env bash
# Downloads, once, a Debian kernel (through its meta-package linux-image-FLAVOUR),
# busybox-static (init and tools) and busybox (the shell for the camera's commands: unlike
# the static build it looks commands up on PATH before its own applets, so stand-ins such
# as ps are found) for architecture ARCH into CACHE/debs, using a private apt state so the
# host's dpkg configuration is never changed. Later runs reuse the cached files.
# Usage: pi-fetch.sh CACHE [ARCH FLAVOUR]   (default: armel rpi, the Raspberry Pi kernel)
set -euo pipefail
Cache=${1:?usage: pi-fetch.sh CACHE [ARCH FLAVOUR]}
Arch=${2:-armel}
Flavour=${3:-rpi}
Debs=$Cache/debs
mkdir -p "$Debs"

have() { compgen -G "$Debs/$1_*_$Arch.deb" > /dev/null; }
all_present() { have "linux-image-*-$Flavour" && have busybox-static && have busybox; }
if all_present; then
  exit 0
fi

# The apt state and the downloads stay in a directory of this run's own until the packages
# are complete, so two runs sharing the cache never write the same file.
State=$(mktemp -d "$Cache/fetch.XXXXXX")
trap 'rm -rf "$State"' EXIT
mkdir -p "$State/lists/partial" "$State/archives/partial" "$State/debs"
touch "$State/status"
Apt=(-o "Dir::State=$State" -o "Dir::State::status=$State/status" -o "Dir::Cache=$State"
  -o "Dir::Cache::archives=$State/archives" -o "APT::Architecture=$Arch"
  -o "APT::Architectures::=$Arch" -o Debug::NoLocking=1 -o APT::Sandbox::User=root
  -o Acquire::Languages=none)

echo "pi-fetch: reading the $Arch package lists" >&2
apt-get "${Apt[@]}" -qq update
Kernel=$(apt-cache "${Apt[@]}" depends "linux-image-$Flavour" |
  awk -v want="^linux-image-.*-$Flavour\$" '$1 == "Depends:" && $2 ~ want { print $2; exit }')
if [ -z "$Kernel" ]; then
  echo "pi-fetch: linux-image-$Flavour names no $Arch kernel" >&2
  exit 1
fi
echo "pi-fetch: downloading $Kernel, busybox-static and busybox ($Arch)" >&2
(cd "$State/debs" && apt-get "${Apt[@]}" -qq download "$Kernel:$Arch" "busybox-static:$Arch" "busybox:$Arch")
mv "$State"/debs/*.deb "$Debs/"
all_present
