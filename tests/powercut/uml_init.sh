#!/bin/sh
# PID 1 of the User-Mode Linux guest of the power-cut stage. Checks that no host directory is
# mounted, mounts the unit's file systems from their disk images, stages unit 6170 in a tmpfs
# /tmp, runs unitcfg as at boot and says on the console what it saw; then waits for the cut.
# Kernel parameters: share_options (mount options of /usr/share/Quarvane).
PATH=/usr/sbin:/usr/bin
halt() {
    echo "guest: $*"
    sleep 3600
}

mount -t proc proc /proc || halt "cannot mount /proc"
# Nothing of the host may be reachable: the files checked afterwards are on the images only.
grep -q hostfs /proc/mounts && halt "FAIL: a host directory is mounted"
echo "guest: no host directory"
mount -t devtmpfs dev /dev 2>/dev/null
mount -t tmpfs tmp /tmp || halt "FAIL: no tmpfs /tmp"
mount -t ext4 -o "${share_options:-defaults}" /dev/ubdb /usr/share/Quarvane &&
    mount -t ext4 /dev/ubdc /home/Quarvane || halt "FAIL: cannot mount the images"
mkdir /tmp/Quarvane
cp /stage/UNIT.CFG /tmp/UNIT.CFG && cp /stage/6170.CFG /tmp/Quarvane/6170.CFG ||
    halt "FAIL: cannot stage unit 6170"

echo "guest: run starts"
unitcfg
if grep -q "UNIT_CFG of 6170 updated successfully" /home/Quarvane/History.txt 2>/dev/null; then
    echo "guest: run ended, success logged"
else
    echo "guest: run ended"
fi
halt "waiting for the cut"
