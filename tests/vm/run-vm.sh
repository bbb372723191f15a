#!/bin/bash
# Runs one command as root inside a throw-away qemu VM that boots Debian's own
# kernel, so that the input layer meets a real uinput, evdev and udev.
#
#   run-vm.sh [--cache DIR] [--timeout S] [--mem MB] [--env NAME=VALUE]...
#             [--usb-mouse DRIVER] -- COMMAND [ARGS...]
#
# The VM sees the host's root file system read-only (9p) under a writable
# tmpfs layer, so host binaries and libraries run unchanged, and the current
# directory is the same path as on the host, wherever it lies (/tmp too).
# systemd-udevd runs before the command, as on a desktop, so mice are marked
# ID_INPUT_MOUSE and hot-plug events are sent. Output of the command appears
# on standard output.
#
# --usb-mouse gives the VM qemu's emulated USB mouse (served by the kernel's
# own HID driver, as a real one is) and runs DRIVER on this side with the
# path of the VM's QMP socket, to move it (input-send-event) while the
# command runs.
#
# Exit status: the command's own; 124 when the time limit ran out; 125 when
# the VM could not be started or did not report back. There is no "skipped":
# a missing kernel, qemu or busybox is a failure, reported loudly.
set -euo pipefail

CACHE=${TMPDIR:-/tmp}/quillmere-vm
TIMEOUT=600
MEM=768
ENVS=()
USB_DRIVER=
while [ $# -gt 0 ]; do
    case $1 in
        --cache) CACHE=$2; shift 2 ;;
        --timeout) TIMEOUT=$2; shift 2 ;;
        --mem) MEM=$2; shift 2 ;;
        --env) ENVS+=("$2"); shift 2 ;;
        --usb-mouse) USB_DRIVER=$2; shift 2 ;;
        --) shift; break ;;
        *) echo "run-vm.sh: unknown option $1" >&2; exit 125 ;;
    esac
done
[ $# -gt 0 ] || { echo "run-vm.sh: no command given" >&2; exit 125; }

fail() {
    echo "" >&2
    echo "*** THE TEST VM CANNOT START: $* ***" >&2
    echo "*** Needed: qemu-system-x86 linux-image-amd64 busybox-static cpio udev ***" >&2
    exit 125
}

command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 is not installed"
command -v cpio >/dev/null || fail "cpio is not installed"
[ -x /lib/systemd/systemd-udevd ] || fail "systemd-udevd (package udev) is not installed"
BUSYBOX=/bin/busybox
[ -x "$BUSYBOX" ] || fail "busybox (package busybox-static) is not installed"
# The initramfs has no libraries: busybox must be the static build.
! ldd "$BUSYBOX" >/dev/null 2>&1 || fail "$BUSYBOX is not static (install busybox-static)"
KVER=${QUILLMERE_VM_KERNEL:-$(ls -1 /boot/vmlinuz-* 2>/dev/null | sed 's|.*/vmlinuz-||' | sort -V | tail -n1)}
KERNEL=/boot/vmlinuz-$KVER
[ -n "$KVER" ] && [ -r "$KERNEL" ] || fail "no readable kernel in /boot (install linux-image-amd64)"
[ -d "/lib/modules/$KVER" ] || fail "no modules for kernel $KVER"
MODPROBE=$(command -v modprobe || echo /sbin/modprobe)
[ -x "$MODPROBE" ] || fail "modprobe (package kmod) is not installed"

mkdir -p "$CACHE" || fail "cannot create the cache folder $CACHE"
SELF_SUM=$(sha1sum "$0" | cut -c1-12)
BASE=$CACHE/initramfs-$KVER-$SELF_SUM.cpio.gz

# The first stage: load the modules, put the host root under a tmpfs layer,
# switch into it and hand over to the second stage.
write_init() {
    cat <<'INIT'
#!/bin/sh
export PATH=/bin
busybox mount -t proc proc /proc
busybox mount -t sysfs sysfs /sys
busybox mount -t devtmpfs devtmpfs /dev
report() { echo "@@QM-VM-EXIT $1@@"; busybox sync; busybox poweroff -f; }
for m in $(busybox cat /modules/order); do
    busybox insmod "/modules/$m" || report "125 insmod $m failed"
done
busybox mkdir -p /host /layer /root
busybox mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose host /host ||
    report "125 cannot mount the host root"
busybox mount -t tmpfs -o mode=0755 layer /layer
busybox mkdir -p /layer/upper /layer/work
busybox mount -t overlay -o lowerdir=/host,upperdir=/layer/upper,workdir=/layer/work root /root ||
    report "125 cannot mount the overlay"
# A fresh /tmp and /run would hide a working directory below them (a checkout
# in /tmp): its top folder is moved aside and put back on the new tmpfs.
workdir=$(busybox cat /job/workdir)
for fs in "devtmpfs /dev" "proc /proc" "sysfs /sys" "tmpfs /tmp" "tmpfs /run"; do
    set -- $fs
    keep=
    case $workdir in "$2"/?*) rest=${workdir#"$2"/}; keep=$2/${rest%%/*} ;; esac
    if [ -n "$keep" ]; then
        busybox mkdir -p /kept && busybox mount -o bind "/root$keep" /kept || report "125 cannot keep $keep"
    fi
    busybox mount -t "$1" "$1" "/root$2" || report "125 cannot mount $2"
    if [ -n "$keep" ]; then
        busybox mkdir -p "/root$keep" && busybox mount -o move /kept "/root$keep" || report "125 cannot keep $keep"
    fi
done
busybox mkdir -p /root/dev/pts /root/dev/shm /root/run/qm-vm
busybox mount -t devpts devpts /root/dev/pts
busybox mount -t tmpfs shm /root/dev/shm
busybox cp /bin/busybox /job/* /root/run/qm-vm/
# switch_root rather than chroot: udevd refuses to run in a chroot.
exec busybox switch_root /root /run/qm-vm/busybox sh /run/qm-vm/stage2 </dev/console >/dev/console 2>&1
INIT
}

# The second stage, in the host's root: udevd, then the command.
write_stage2() {
    cat <<'STAGE2'
BB=/run/qm-vm/busybox
report() { echo "@@QM-VM-EXIT $1@@"; $BB sync; $BB poweroff -f; }
/lib/systemd/systemd-udevd --daemon >/dev/null 2>&1 || report "125 systemd-udevd did not start"
udevadm settle -t 10 || true
cd "$($BB cat /run/qm-vm/workdir)" || report "125 no working directory"
$BB env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    TERM=dumb LANG=C.UTF-8 /bin/bash -c '. /run/qm-vm/env && . /run/qm-vm/command'
report "$?"
STAGE2
}

build_base() {
    local dir
    dir=$(mktemp -d "$CACHE/build.XXXXXX")
    mkdir -p "$dir"/{bin,dev,proc,sys,modules,job}
    cp "$BUSYBOX" "$dir/bin/busybox"
    ln -s busybox "$dir/bin/sh"
    : >"$dir/modules/order"
    local module file name
    for module in virtio_pci 9pnet_virtio 9p overlay uinput evdev; do
        while read -r file; do
            name=$(basename "$file"); name=${name%.xz}; name=${name%.zst}
            grep -qxF "$name" "$dir/modules/order" && continue
            case $file in
                *.xz) xz -dc "$file" >"$dir/modules/$name" ;;
                *.zst) zstd -qdc "$file" >"$dir/modules/$name" ;;
                *) cp "$file" "$dir/modules/$name" ;;
            esac
            echo "$name" >>"$dir/modules/order"
        done < <("$MODPROBE" -S "$KVER" --show-depends "$module" | awk '$1 == "insmod" { print $2 }')
    done
    grep -qx uinput.ko "$dir/modules/order" && grep -qx evdev.ko "$dir/modules/order" || {
        rm -rf "$dir"
        return 1
    }
    write_init >"$dir/init"
    chmod 755 "$dir/init"
    # Several runs may build it at once: each writes its own file and renames
    # it into place, so no run ever reads a half-written one.
    local part
    part=$(mktemp "$BASE.XXXXXX")
    (cd "$dir" && find . | cpio -o -H newc --quiet | gzip -1) >"$part" && chmod 644 "$part" &&
        mv -f "$part" "$BASE" || {
        rm -rf "$dir" "$part"
        return 1
    }
    rm -rf "$dir"
}
[ -s "$BASE" ] || build_base || fail "cannot build the initramfs"

# The job: command, working directory and environment, appended to the base.
RUN=$(mktemp -d "$CACHE/run.XXXXXX")
DEVICES=()
if [ -n "$USB_DRIVER" ]; then
    DEVICES=(-device qemu-xhci -device usb-mouse,id=usbmouse -qmp "unix:$RUN/qmp,server=on,wait=off")
    (for _ in $(seq 600); do [ -S "$RUN/qmp" ] && break; sleep 0.1; done
     exec "$USB_DRIVER" "$RUN/qmp") &
    DRIVER_PID=$!
fi
trap '[ -n "${DRIVER_PID:-}" ] && kill "$DRIVER_PID" 2>/dev/null; rm -rf "$RUN"' EXIT
mkdir -p "$RUN/tree/job"
printf '%q ' "$@" >"$RUN/tree/job/command"
echo >>"$RUN/tree/job/command"
pwd >"$RUN/tree/job/workdir"
: >"$RUN/tree/job/env"
for assignment in "${ENVS[@]+"${ENVS[@]}"}"; do
    printf 'export %s=%q\n' "${assignment%%=*}" "${assignment#*=}" >>"$RUN/tree/job/env"
done
write_stage2 >"$RUN/tree/job/stage2"
(cd "$RUN/tree" && find . | cpio -o -H newc --quiet | gzip -1) >"$RUN/job.cpio.gz"
cat "$BASE" "$RUN/job.cpio.gz" >"$RUN/initrd"

# KVM only where it really works; plain emulation otherwise (about 7 s to boot).
if [ -w /dev/kvm ] && grep -qwE 'vmx|svm' /proc/cpuinfo && [ "${QUILLMERE_VM_ACCEL:-}" != tcg ]; then
    ACCEL=(-accel kvm -cpu host)
else
    ACCEL=(-accel tcg,thread=multi -cpu max)
fi

started=$(date +%s.%N)
set +e
timeout --foreground -k 5 "$TIMEOUT" qemu-system-x86_64 "${ACCEL[@]}" -smp 2 -m "$MEM" \
    -nodefaults -no-user-config -display none -no-reboot -nic none -serial stdio \
    -kernel "$KERNEL" -initrd "$RUN/initrd" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 rdinit=/init i8042.noaux=1 i8042.nokbd=1 tsc=reliable mitigations=off" \
    -fsdev local,id=host,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=host,mount_tag=host "${DEVICES[@]+"${DEVICES[@]}"}" \
    </dev/null 2>&1 | tr -d '\r' | tee "$RUN/console" | grep -vE '^@@QM-VM-EXIT|^\[ *[0-9.]+\] reboot: Power down'
qemu_status=${PIPESTATUS[0]}
set -e
elapsed=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
status=$(sed -n 's/^@@QM-VM-EXIT \([0-9]*\).*@@$/\1/p' "$RUN/console" | tail -n1)
reason=$(sed -n 's/^@@QM-VM-EXIT [0-9]* *\(.*\)@@$/\1/p' "$RUN/console" | tail -n1)
echo "[run-vm] kernel $KVER, ${ACCEL[1]}, ${elapsed} s, qemu exit $qemu_status, command exit ${status:-none}" >&2
if [ -z "$status" ]; then
    [ "$qemu_status" = 124 ] && { echo "*** THE TEST VM TIMED OUT after $TIMEOUT s ***" >&2; exit 124; }
    fail "the VM stopped without reporting (qemu exit $qemu_status)"
fi
[ "$status" = 125 ] && [ -n "$reason" ] && fail "$reason"
exit "$status"
