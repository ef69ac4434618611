#!/bin/sh
# PID 1 of the emulated unit (BusyBox's shell, every applet a link to it). Mounts the JFFS2 file
# system on the board's NOR flash and binds its directories to /usr/share/Quarvane and
# /home/Quarvane. Kernel parameter unitcfg_layout:
#   plain    /usr/share/Quarvane is the flash's share/;
#   overlay  /usr/share/Quarvane is an overlay, as on a flash unit's root: its lower layer the
#            read-only /lower/share of the initramfs, its upper layer upper/share on the flash.
# Kernel parameter unitcfg_mode:
#   run     stage unit 6170 in a tmpfs /tmp, run unitcfg as at boot, say what was seen on the
#           console, and wait for the power cut;
#   report  say what the flash holds after the cut: the installed record in hexadecimal,
#           whether the success entry is in the history, whether a temporary file is left.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
halt() {
    echo "unit: $*"
    sleep 3600
}

mount -t proc proc /proc
mount -t tmpfs tmp /tmp
mkdir -p /flash /usr/share/Quarvane /home/Quarvane
mount -t jffs2 mtd0 /flash || halt "FAIL: cannot mount the flash"
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
history=/home/Quarvane/History.txt

if [ "$unitcfg_mode" = report ]; then
    echo "unit: record $(od -A n -t x1 -v "$installed" 2>/dev/null | tr -d ' \n')"
    grep -q "UNIT_CFG of 6170 updated successfully" "$history" 2>/dev/null &&
        echo "unit: success entry yes" || echo "unit: success entry no"
    [ -e "$installed.new" ] && echo "unit: temporary file left"
    echo "unit: report done"
    umount /home/Quarvane /usr/share/Quarvane /flash
    reboot -f
fi

mkdir /tmp/Quarvane
cp /stage/UNIT.CFG /tmp/UNIT.CFG && cp /stage/6170.CFG /tmp/Quarvane/6170.CFG ||
    halt "FAIL: cannot stage unit 6170"
echo "unit: run starts"
unitcfg
if grep -q "UNIT_CFG of 6170 updated successfully" "$history" 2>/dev/null; then
    echo "unit: run ended, success logged"
else
    echo "unit: run ended"
fi
halt "waiting for the cut"
