#!/bin/sh
# PID 1 of the emulated unit (BusyBox's shell, every applet a link to it). Mounts the unit's
# storage, a partition of the board's NOR flash, as /usr/share/Quarvane and /home/Quarvane.
# Kernel parameter unitcfg_layout:
#   jffs2    JFFS2 on the flash, its directories share/ and home/ bound there;
#   overlay  the same, but /usr/share/Quarvane an overlay, as on a flash unit's root: its lower
#            layer the read-only /lower/share of the initramfs, its upper one upper/share;
#   ubifs    UBIFS on the UBI volume "card" of the partition (ubiN:card, N the partition).
# Kernel parameter unitcfg_mode:
#   settle  let the file system finish what its first mount starts (UBI erases and formats the
#           blocks the image left empty), then unmount and power off;
#   record  run unitcfg as at boot (guest_run.sh), unmount and power off;
#   check   the same on each of the first unitcfg_states partitions (each a state), one after
#           another, saying what the storage holds before and after (guest_run.sh);
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
[ "$unitcfg_layout" = overlay ] && { mount --bind /lower /lower && mount -o remount,bind,ro /lower ||
    halt "FAIL: cannot make the overlay's lower layer read-only"; }

# Mounts the storage in partition $1 of the flash (its first in every mode but check) and binds
# its directories as the unit's.
mount_storage() {
    case $unitcfg_layout in
    ubifs) mount -t ubifs "ubi$1:card" /flash ;;
    *) mount -t jffs2 "mtd$1" /flash ;;
    esac || return 1
    if [ "$unitcfg_layout" = overlay ]; then
        mount -t overlay unit-share -o \
            lowerdir=/lower/share,upperdir=/flash/upper/share,workdir=/flash/upper/work \
            /usr/share/Quarvane
    else
        mount --bind /flash/share /usr/share/Quarvane
    fi && mount --bind /flash/home /home/Quarvane
}
unmount_storage() {
    umount /home/Quarvane /usr/share/Quarvane /flash
}
. /guest_run.sh
case $unitcfg_mode in
check)
    # One state a partition, each judged by its part of the console, from its heading on.
    state=0
    while [ "$state" -lt "${unitcfg_states:-1}" ]; do
        echo "unit: state $state"
        rm -rf /tmp/Quarvane /tmp/UNIT.CFG
        if mount_storage "$state"; then
            run_as_at_boot
            unmount_storage || echo "unit: FAIL: cannot unmount state $state"
        else
            echo "unit: FAIL: cannot mount the flash"
        fi
        state=$((state + 1))
    done
    halt "done"
    ;;
esac
mount_storage 0 || halt "FAIL: cannot mount the flash"
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
record) run_as_at_boot ;;
*) halt "FAIL: no mode: unitcfg_mode='$unitcfg_mode'" ;;
esac
unmount_storage
halt "done"
