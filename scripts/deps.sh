#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages Quillmere needs that are missing.
# Usage: scripts/deps.sh run|test
set -euo pipefail

build=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-svg-dev libevdev-dev libudev-dev
       libglib2.0-dev libxcb1-dev)
runtime=(libqt6svg6 libqt6network6)
tests=(googletest libgtest-dev libgmock-dev libbenchmark-dev openssl file dpkg-dev
       dbus libglib2.0-bin fonts-noto-core fonts-noto-cjk acl
       qemu-system-x86 busybox-static cpio udev kmod libinput-tools xvfb xauth
       lintian appstream desktop-file-utils gsettings-desktop-schemas
       xserver-xorg-core xserver-xorg-video-dummy xserver-xorg-input-libinput x11-utils
       imagemagick sway seatd waybar grim qt6-wayland python3-gi gir1.2-gtk-3.0)

want=("${build[@]}" "${runtime[@]}")
if [ "${1:-run}" = test ]; then
  want+=("${tests[@]}")
  # The VM tests boot the distribution's own kernel.
  if apt-cache show linux-image-amd64 >/dev/null 2>&1; then want+=(linux-image-amd64)
  else want+=(linux-image-generic); fi
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
