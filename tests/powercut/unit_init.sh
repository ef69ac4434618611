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
#   record  run unitcfg as at boot (guest_run.sh), unmount and power off;
#   check   the same, saying what the storage holds before and after (guest_run.sh);
#   boot    as the rcS of BusyBox init (/etc/init.d/rcS, run by its inittab): run every
#           /etc/init.d/S??* script with start in order, as a unit's rcS does (S40stage stages
#           unit 6170, S50unitcfg is the package's init script), and say what the storage holds
#           after.
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
. /guest_run.sh
case $unitcfg_mode in
settle) sleep 5 ;;
boot)
    for script in /etc/init.d/S??*; do
        "$script" start
    done
    # A FIFO that a hostile staging left at the history is no history to report.
    [ -p /home/Quarvane/History.txt ] && rm /home/Quarvane/History.txt
    report after
    ;;
record | check) run_as_at_boot ;;
*) halt "FAIL: no mode: unitcfg_mode='$unitcfg_mode'" ;;
esac
umount /home/Quarvane /usr/share/Quarvane /flash
halt "done"
