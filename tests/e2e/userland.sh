#!/bin/bash
# Runs COMMAND in the unit's own kind of userland: a user and mount namespace of its own in which
# an ARM BusyBox is /bin/sh, cp, date, sed and cat, and every ARM program, the one under test
# included, is started directly by the kernel through a binfmt_misc instance private to the
# namespace, emulated as an ARM926 (ARMv5TE) with the target's libraries whatever environment
# it was started with. Nothing outside the namespace changes.
# usage: userland.sh BUSYBOX SYSROOT PROBE COMMAND...
#   BUSYBOX  a dynamically linked ARM BusyBox (one that runs the utilities it finds in PATH)
#   SYSROOT  the target's libraries, for the dynamically linked ARM programs
#   PROBE    an ARM program that executes an ARMv6-only instruction
# Run by root, the namespace has every user and group id of the caller's, each as itself, so
# that COMMAND can give files to other owners and run processes as them, as root can outside;
# run by another user, it has only root, who is that user.
# Before COMMAND runs, the set-up is checked: /bin/sh is an ARM program, cp answers as BusyBox,
# and PROBE dies with SIGILL, the last two also when started with an empty environment. If any
# of these fails, the run fails (exit 1); it never goes on with the host's userland. Otherwise
# the exit status is COMMAND's. COMMAND finds copies of the host's cat, cp, date and sed, for a
# test's own use, in the directory that UNITCFG_HARNESS_TOOLS names.
set -u
[ $# -ge 4 ] || { echo "usage: userland.sh BUSYBOX SYSROOT PROBE COMMAND..." >&2; exit 2; }

source "$(dirname "$0")/arm926_binfmt.sh"

setup_failed() {
    echo "FAIL: ARM userland set-up: $*"
    exit 1
}

case ${1:-} in
--inside) shift ;;
--unmapped)
    # Started before its ids were mapped, this process holds no capabilities; once they are
    # mapped, it starts again as the namespace's root.
    shift
    start_again_once_mapped "$0" "$@"
    ;;
*)
    if [ "$(id -u)" -eq 0 ]; then
        map_own_ids $$ &
        exec unshare --user --mount --propagation private bash "$0" --unmapped "$@"
    fi
    exec unshare --user --map-root-user --mount --propagation private bash "$0" --inside "$@"
    ;;
esac
busybox=$1 sysroot=$2 probe=$3
shift 3

# The ARM handler: the emulator Debian's arm-binfmt-P names, the target's libraries.
emulator=$(readlink -f "$qemu_binfmt")
[ -x "$emulator" ] || setup_failed "no $qemu_binfmt"
interpreter_dir=$(mktemp -d) || setup_failed "cannot make a directory for the ARM interpreter"
register_arm926 unitcfg-arm "$emulator" "$sysroot" "$interpreter_dir"
rm -r "$interpreter_dir"

# The cases' own reads and copies need no emulation: the host's cat, cp, date and sed are kept
# aside for them (e2e_test.sh), so that only the program and what it starts run emulated.
harness_tools=$(mktemp -d) &&
    cp /usr/bin/cat /usr/bin/cp /usr/bin/date /usr/bin/sed "$harness_tools/" ||
    setup_failed "cannot keep the host's utilities for the cases"
# /bin/sh is a link to dash on Debian; the others are the utilities the program's commands run.
for utility in dash cp date sed cat; do
    mount --bind "$busybox" "/usr/bin/$utility" || setup_failed "cannot bind over $utility"
done

# Whether PROBE, run by COMMAND..., dies with SIGILL.
dies_with_sigill() {
    local status
    { "$@"; } 2>/dev/null
    status=$?
    [ $status -eq $((128 + 4)) ] || { echo "exit status $status"; return 1; }
}

readelf -h /bin/sh 2>/dev/null | grep -q 'Machine: *ARM$' || setup_failed "/bin/sh is not ARM"
cp --help 2>&1 | grep -q '^BusyBox' || setup_failed "cp does not answer as BusyBox"
# The program may start its children with little or no environment: BusyBox still finds its
# loader, the CPU is still the ARM926, and no variable of the emulator's reaches them.
bare=$(env -i /bin/sh -c 'export -p; cp --help' 2>&1)
grep -q '^BusyBox' <<<"$bare" || setup_failed "cp started with an empty environment does not" \
    "answer as BusyBox: $(head -n 3 <<<"$bare")"
if grep -q 'QEMU_' <<<"$bare"; then
    setup_failed "the emulator's variables reach the ARM programs: $(grep 'QEMU_' <<<"$bare")"
fi
result=$(dies_with_sigill "$probe") ||
    setup_failed "an ARMv6 instruction did not raise SIGILL ($result)"
result=$(dies_with_sigill env -i "$probe") ||
    setup_failed "an ARMv6 instruction started with an empty environment did not raise SIGILL" \
        "($result)"

export UNITCFG_USERLAND=busybox UNITCFG_HARNESS_TOOLS=$harness_tools
"$@"
status=$?
rm -rf "$harness_tools"
exit $status
