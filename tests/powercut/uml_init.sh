#!/bin/sh
# PID 1 of the User-Mode Linux guest of the crash-state stage. Checks that no host directory
# is mounted, mounts the unit's storage, ext4 on /dev/ubdb with its directories share/ and home/
# bound to /usr/share/Quarvane and /home/Quarvane, and powers off when done. Kernel parameter
# unitcfg_mode:
#   record  the storage through dm-log-writes, which logs every write and flush in order on
#           /dev/ubdc: stage unit 6170 in a tmpfs /tmp, run unitcfg as at boot, unmount;
#   check   say what the storage holds ("before"), then run unitcfg as the next boot would and
#           say again ("after"): the installed record in hexadecimal, its links, whether a
#           temporary file is beside it, whether the success entry is in the history.
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
installed=/usr/share/Quarvane/UNIT.CFG

report() {
    echo "unit: $1 record $(od -A n -t x1 -v "$installed" 2>/dev/null | tr -d ' \n')"
    echo "unit: $1 links $(stat -c %h "$installed" 2>/dev/null)"
    [ -e "$installed.new" ] && echo "unit: $1 temporary file left"
    grep -q "UNIT_CFG of 6170 updated successfully" /home/Quarvane/History.txt 2>/dev/null &&
        echo "unit: $1 success entry"
}

[ "$unitcfg_mode" = check ] && report before
mkdir /tmp/Quarvane
cp /stage/UNIT.CFG /tmp/UNIT.CFG && cp /stage/6170.CFG /tmp/Quarvane/6170.CFG ||
    halt "FAIL: cannot stage unit 6170"
unitcfg
[ "$unitcfg_mode" = check ] && report after
umount /home/Quarvane /usr/share/Quarvane /tmp/unit || halt "FAIL: cannot unmount"
[ "$unitcfg_mode" = record ] && { dmsetup remove unit || halt "FAIL: log not closed"; }
halt "done"
