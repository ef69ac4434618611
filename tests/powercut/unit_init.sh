#!/bin/sh
# PID 1 of the emulated unit (BusyBox's shell, every applet a link to it). Mounts the unit's
# storage on the board's NOR flash as /usr/share/Quarvane and /home/Quarvane. Kernel parameter
# unitcfg_layout:
#   jffs2    JFFS2 on the flash, its directories share/ and home/ bound there;
#   overlay  the same, but /usr/share/Quarvane an overlay, as on a flash unit's root: its lower
#            layer the read-only /lower/share of the initramfs, its upper one upper/share;
#   ubifs    UBIFS on the UBI volume "card" of the flash's first partition.
# Kernel parameter unitcfg_mode:
#   settle  let the file system finish what its first mount starts (UBI erases and formats the
#           blocks the image left empty), then unmount and power off;
#   record  stage unit 6170 in a tmpfs /tmp, run unitcfg as at boot, unmount and power off;
#   check   say what the storage holds ("before"), then run unitcfg as the next boot would and
#           say again ("after"): the installed record in hexadecimal, its links, whether a
#           temporary file is beside it, whether the success entry is in the history.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
halt() {
    echo "unit: $*"
    reboot -f
}

mount -t proc proc /proc
mount -t tmpfs tmp /tmp
mkdir -p /flash /usr/share/Quarvane /home/Quarvane
case $unitcfg_layout in
ubifs) mount -t ubifs ubi0:card /flash ;;
*) mount -t jffs2 mtd0 /flash ;;
esac || halt "FAIL: cannot mount the flash"
if [ "$unitcfg_layout" = overlay ]; then
    mount --bind /lower /lower && mount -o remount,bind,ro /lower &&
        mount -t overlay unit-share -o \
            lowerdir=/lower/share,upperdir=/flash/upper/share,workdir=/flash/upper/work \
            /usr/share/Quarvane
else
    mount --bind /flash/share /usr/share/Quarvane
fi || halt "FAIL: cannot mount /usr/share/Quarvane"
mount --bind /flash/home /home/Quarvane || halt "FAIL: cannot bind the flash directories"
installed=/usr/share/Quarvane/UNIT.CFG

report() {
    echo "unit: $1 record $(od -A n -t x1 -v "$installed" 2>/dev/null | tr -d ' \n')"
    echo "unit: $1 links $(stat -c %h "$installed" 2>/dev/null)"
    [ -e "$installed.new" ] && echo "unit: $1 temporary file left"
    grep -q "UNIT_CFG of 6170 updated successfully" /home/Quarvane/History.txt 2>/dev/null &&
        echo "unit: $1 success entry"
}

if [ "$unitcfg_mode" = settle ]; then
    sleep 5
    umount /home/Quarvane /usr/share/Quarvane /flash
    halt "done"
fi
[ "$unitcfg_mode" = check ] && report before
mkdir /tmp/Quarvane
cp /stage/UNIT.CFG /tmp/UNIT.CFG && cp /stage/6170.CFG /tmp/Quarvane/6170.CFG ||
    halt "FAIL: cannot stage unit 6170"
unitcfg
[ "$unitcfg_mode" = check ] && report after
umount /home/Quarvane /usr/share/Quarvane /flash
halt "done"
