# Sourced by scripts/system-test: the recipe of the Debian 12 image the system
# test boots. Its text is part of the image's cache key, so a change here builds
# a new image. Needs root (debootstrap, chroot, device nodes).
#
#   system_image_build ROOTDIR IMAGE PACKAGE...
#
# makes a minimal Debian 12 in ROOTDIR with Debian's kernel and PACKAGE...
# (apt resolves their dependencies, without Recommends), prepared to run the
# test runner from a 9p share at boot and power off, and writes it as a raw
# ext4 file system to IMAGE, with the kernel and initrd beside it
# (IMAGE.vmlinuz, IMAGE.initrd).

SYSTEM_IMAGE_SUITE=bookworm
SYSTEM_IMAGE_SIZE=4G

# The mirror of the machine's own apt sources when it names one, else Debian's.
system_image_mirror() {
    local uri
    uri=$(grep -hsE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
        /etc/apt/sources.list.d/*.sources 2>/dev/null |
        grep -oE 'https?://[^ ]*/debian/?' | grep -v security | head -n 1 || true)
    echo "${LINKMOOT_DEBIAN_MIRROR:-${uri:-http://deb.debian.org/debian}}"
}

system_image_chroot_mounts() {
    local root=$1
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount --bind /dev "$root/dev"
    mount --bind /dev/pts "$root/dev/pts"
}

system_image_chroot_unmount() {
    local root=$1 point
    for point in dev/pts dev sys proc; do
        mountpoint -q "$root/$point" && umount -l "$root/$point"
    done
    return 0
}

system_image_build() {
    local root=$1 image=$2
    shift 2
    local mirror
    mirror=$(system_image_mirror)
    rm -rf "$root"
    mkdir -p "$root"
    debootstrap --variant=minbase --include=systemd-sysv,udev,dbus,apt \
        "$SYSTEM_IMAGE_SUITE" "$root" "$mirror"

    # Nothing starts inside the chroot while it is made.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 0755 "$root/usr/sbin/policy-rc.d"
    cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $SYSTEM_IMAGE_SUITE main
deb $mirror $SYSTEM_IMAGE_SUITE-updates main
EOF
    # The kernel's initrd must find the virtio disk whatever machine makes it.
    mkdir -p "$root/etc/initramfs-tools/conf.d"
    printf 'virtio_pci\nvirtio_blk\next4\n' >>"$root/etc/initramfs-tools/modules"
    echo 'MODULES=most' >"$root/etc/initramfs-tools/conf.d/system-test"
    # man-db rebuilds its index after every install: slow in an emulated
    # machine and of no use to the checks.
    echo 'man-db man-db/auto-update boolean false' | chroot "$root" debconf-set-selections

    system_image_chroot_mounts "$root"
    local status=0
    DEBIAN_FRONTEND=noninteractive chroot "$root" sh -c '
        set -e
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends linux-image-amd64 "$@"
        apt-get clean' install "$@" || status=$?
    system_image_chroot_unmount "$root"
    ((status == 0)) || return "$status"
    rm -f "$root/usr/sbin/policy-rc.d" "$root/var/lib/man-db/auto-update"
    rm -rf "$root"/var/lib/apt/lists/*

    system_image_configure "$root"

    cp -L "$root/vmlinuz" "$image.vmlinuz"
    cp -L "$root/initrd.img" "$image.initrd"
    rm -f "$image"
    truncate -s "$SYSTEM_IMAGE_SIZE" "$image"
    mkfs.ext4 -q -F -L testbed -d "$root" "$image"
}

# The machine boots to multi-user, runs the runner of the share and powers
# off. No login, no network card (NetworkManager gets the test's veth pairs).
system_image_configure() {
    local root=$1
    echo testbed >"$root/etc/hostname"
    printf '127.0.0.1 localhost\n127.0.1.1 testbed\n::1 localhost\n' >"$root/etc/hosts"
    printf '/dev/vda / ext4 defaults,errors=remount-ro 0 1\n' >"$root/etc/fstab"
    # Named apart from the packages, so that the purge check finds nothing of
    # theirs but what they left.
    mkdir -p "$root/mnt/share"
    cat >"$root/etc/systemd/system/system-test-runner.service" <<'EOF'
[Unit]
Description=System test: runs the checks from the host's share, then powers off
After=multi-user.target dbus.service NetworkManager.service systemd-logind.service polkit.service

[Service]
Type=oneshot
ExecStart=/bin/sh -c 'mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share /mnt/share && exec /mnt/share/run /mnt/share'
ExecStopPost=/bin/systemctl --no-block poweroff
StandardOutput=tty
StandardError=tty
TTYPath=/dev/ttyS0
TimeoutStartSec=infinity

[Install]
WantedBy=multi-user.target
EOF
    ln -sf /etc/systemd/system/system-test-runner.service \
        "$root/etc/systemd/system/multi-user.target.wants/system-test-runner.service"
    # Nothing on the serial line but the kernel's and the runner's lines; no
    # timers that would wake the emulated machine for nothing.
    local unit
    for unit in serial-getty@ttyS0.service getty@tty1.service apt-daily.timer \
        apt-daily-upgrade.timer e2scrub_all.timer fstrim.timer man-db.timer \
        systemd-tmpfiles-clean.timer; do
        ln -sf /dev/null "$root/etc/systemd/system/$unit"
    done
    # The journal in memory: the image stays as it is made between runs anyway.
    mkdir -p "$root/etc/systemd/journald.conf.d"
    printf '[Journal]\nStorage=volatile\n' >"$root/etc/systemd/journald.conf.d/system-test.conf"
    chroot "$root" passwd -l root >/dev/null
}
