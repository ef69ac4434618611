#!/bin/bash
# Runs COMMAND in the unit's own kind of userland: a user and mount namespace of its own in which
# an ARM BusyBox is /bin/sh, cp, date, sed and cat, and every ARM program, the one under test
# included, is started directly by the kernel through a binfmt_misc instance private to the
# namespace, emulated as an ARM926 (ARMv5TE). Nothing outside the namespace changes.
# usage: userland.sh BUSYBOX SYSROOT PROBE COMMAND...
#   BUSYBOX  a dynamically linked ARM BusyBox (one that runs the utilities it finds in PATH)
#   SYSROOT  the target's libraries, for the dynamically linked ARM programs
#   PROBE    an ARM program that executes an ARMv6-only instruction
# Before COMMAND runs, the set-up is checked: /bin/sh is an ARM program, cp answers as BusyBox,
# and PROBE dies with SIGILL. If any of these fails, the run fails (exit 1); it never goes on
# with the host's userland. Otherwise the exit status is COMMAND's.
set -u
[ $# -ge 4 ] || { echo "usage: userland.sh BUSYBOX SYSROOT PROBE COMMAND..." >&2; exit 2; }

qemu_binfmt=/usr/libexec/qemu-binfmt/arm-binfmt-P
qemu_binfmt_conf=/usr/lib/binfmt.d/qemu-arm.conf

if [ "${1:-}" != "--inside" ]; then
    exec unshare --user --map-root-user --mount --propagation private \
        bash "$0" --inside "$@"
fi
shift
busybox=$1 sysroot=$2 probe=$3
shift 3

setup_failed() {
    echo "FAIL: ARM userland set-up: $*"
    exit 1
}

# The ARM handler, with Debian's ELF magic and mask for ARM. P keeps argv[0] as the program was
# started, so BusyBox sees which applet it is; F opens the emulator now; O hands it the binary.
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
    setup_failed "cannot mount a binfmt_misc instance in a user namespace"
IFS=: read -r _ _ _ _ magic mask _ <"$qemu_binfmt_conf" || setup_failed "no $qemu_binfmt_conf"
echo ":unitcfg-arm:M::$magic:$mask:$qemu_binfmt:OPF" >/proc/sys/fs/binfmt_misc/register ||
    setup_failed "cannot register $qemu_binfmt"
export QEMU_CPU=arm926 QEMU_LD_PREFIX=$sysroot

# /bin/sh is a link to dash on Debian; the others are the utilities the program's commands run.
for utility in dash cp date sed cat; do
    mount --bind "$busybox" "/usr/bin/$utility" || setup_failed "cannot bind over $utility"
done

readelf -h /bin/sh 2>/dev/null | grep -q 'Machine: *ARM$' || setup_failed "/bin/sh is not ARM"
cp --help 2>&1 | grep -q '^BusyBox' || setup_failed "cp does not answer as BusyBox"
{ "$probe"; } 2>/dev/null
probe_status=$?
[ $probe_status -eq $((128 + 4)) ] ||
    setup_failed "an ARMv6 instruction did not raise SIGILL (exit status $probe_status)"

"$@"
