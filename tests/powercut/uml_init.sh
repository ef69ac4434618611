#!/bin/sh
# PID 1 of the User-Mode Linux guest of the crash-state stage. Checks that no host directory
# is mounted, mounts the unit's storage, ext4 with its directories share/ and home/ bound to
# /usr/share/Quarvane and /home/Quarvane, and powers off when done. Kernel parameter
# unitcfg_mode:
#   record  the storage through dm-log-writes, which logs every write and flush in order on
#           /dev/ubdc: run unitcfg as at boot (guest_run.sh), unmount;
#   check   the same on each disk after the root in turn (/dev/ubdb, /dev/ubdc, ...), each
#           headed "guest: disk DEVICE", saying what it holds before and after, or that the
#           kernel would not mount it.
# share_sectors gives the size of /dev/ubdb in 512-byte sectors.
PATH=/usr/sbin:/usr/bin
# No udev here: the device-mapper library makes its own device nodes.
export DM_DISABLE_UDEV=1
halt() {
    echo "guest: $*"
    echo o >/proc/sysrq-trigger
    sleep 3600
}

mount -t proc proc /proc || halt "FAIL: cannot mount /proc"
# Nothing of the host may be reachable: the files checked afterwards are on the images only.
grep -q hostfs /proc/mounts && halt "FAIL: a host directory is mounted"
mount -t devtmpfs dev /dev 2>/dev/null

# Mounts storage $1 on a fresh /tmp, runs unitcfg as at boot, unmounts it all. A storage the
# kernel will not mount is reported in check mode, as a boot that cannot mount it would stop.
run_on() {
    mount -t tmpfs tmp /tmp && mkdir /tmp/unit || halt "FAIL: no tmpfs /tmp"
    if ! mount -t ext4 "$1" /tmp/unit; then
        [ "$unitcfg_mode" = check ] || halt "FAIL: cannot mount the storage"
        echo "unit: unmountable"
        umount /tmp || halt "FAIL: cannot unmount"
        return
    fi
    mount --bind /tmp/unit/share /usr/share/Quarvane &&
        mount --bind /tmp/unit/home /home/Quarvane || halt "FAIL: cannot bind the storage"
    run_as_at_boot
    umount /home/Quarvane /usr/share/Quarvane /tmp/unit /tmp || halt "FAIL: cannot unmount"
}

. /guest_run.sh
if [ "$unitcfg_mode" = record ]; then
    modules=/lib/modules/dm
    insmod $modules/dm-mod.ko && insmod $modules/dm-log-writes.ko &&
        dmsetup create unit --table "0 $share_sectors log-writes /dev/ubdb /dev/ubdc" ||
        halt "FAIL: cannot log the storage's writes"
    run_on /dev/mapper/unit
    dmsetup remove unit || halt "FAIL: log not closed"
else
    for storage in /dev/ubd[b-p]; do
        [ -b "$storage" ] || continue
        echo "guest: disk $storage"
        run_on "$storage"
    done
fi
halt "done"
