#!/bin/sh
# PID 1 of the User-Mode Linux guest of the crash-state stage. Checks that no host directory
# is mounted, mounts the unit's storage, ext4 on /dev/ubdb with its directories share/ and home/
# bound to /usr/share/Quarvane and /home/Quarvane, and powers off when done. Kernel parameter
# unitcfg_mode:
#   record  the storage through dm-log-writes, which logs every write and flush in order on
#           /dev/ubdc: run unitcfg as at boot (guest_run.sh), unmount;
#   check   the same, straight on the storage, saying what it holds before and after.
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
mount -t tmpfs tmp /tmp || halt "FAIL: no tmpfs /tmp"
storage=/dev/ubdb
if [ "$unitcfg_mode" = record ]; then
    modules=/lib/modules/dm
    insmod $modules/dm-mod.ko && insmod $modules/dm-log-writes.ko &&
        dmsetup create unit --table "0 $share_sectors log-writes /dev/ubdb /dev/ubdc" ||
        halt "FAIL: cannot log the storage's writes"
    storage=/dev/mapper/unit
fi
mkdir /tmp/unit
mount -t ext4 $storage /tmp/unit && mount --bind /tmp/unit/share /usr/share/Quarvane &&
    mount --bind /tmp/unit/home /home/Quarvane || halt "FAIL: cannot mount the storage"
. /guest_run.sh
run_as_at_boot
umount /home/Quarvane /usr/share/Quarvane /tmp/unit || halt "FAIL: cannot unmount"
[ "$unitcfg_mode" = record ] && { dmsetup remove unit || halt "FAIL: log not closed"; }
halt "done"
