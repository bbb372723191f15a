#!/bin/sh
# Runs inside the test VM as root: installs the package the way a user would,
# makes an unprivileged user, then runs the whole-app tests.
#   inside-vm.sh PACKAGE.deb app_vm_test [gtest options]
set -e
deb=$1; shift
test_program=$1; shift
# Before the package nothing grants the seat user the uinput node.
udevadm settle -t 10 || true
if udevadm info --query=property /dev/uinput | grep -q ':uaccess:'; then
    echo "/dev/uinput is tagged uaccess before the package is installed"; exit 1
fi
# The manual page would have man-db's trigger re-index every page of the
# host over 9p on install and removal: minutes under emulation.
rm -f /var/lib/man-db/auto-update
echo "== installing $(basename "$deb")"
dpkg -i "$deb"
for f in /usr/bin/quillmere /usr/share/applications/app.quillmere.Quillmere.desktop \
         /usr/share/icons/hicolor/scalable/apps/app.quillmere.Quillmere.svg \
         /usr/share/metainfo/app.quillmere.Quillmere.metainfo.xml \
         /usr/lib/udev/rules.d/70-quillmere.rules /usr/lib/modules-load.d/quillmere.conf; do
    [ -e "$f" ] || { echo "missing after install: $f"; exit 1; }
done
# The user is written by hand: the host's shadow files, which useradd wants,
# are unreadable in the VM when the tests run as an ordinary user.
echo "tester:x:1500:1500:Quillmere tester:/home/tester:/bin/sh" >>/etc/passwd
echo "tester:x:1500:" >>/etc/group
mkdir -p /home/tester && chown 1500:1500 /home/tester
mkdir -p /tmp/tester-runtime && chown tester /tmp/tester-runtime && chmod 700 /tmp/tester-runtime
"$test_program" "$@"
rc=$?
echo "== removing the package"
dpkg -r quillmere >/dev/null
[ ! -e /usr/lib/udev/rules.d/70-quillmere.rules ] || { echo "the rule outlived the package"; exit 1; }
# The access the test gave as logind does (ACL entries) goes with the rule.
for node in /dev/uinput /dev/input/event*; do
    if getfacl -cp "$node" 2>/dev/null | grep -q '^user:tester:'; then
        echo "tester can still use $node after the removal"; exit 1
    fi
done
exit $rc
