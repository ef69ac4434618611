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
# the exit status is COMMAND's.
set -u
[ $# -ge 4 ] || { echo "usage: userland.sh BUSYBOX SYSROOT PROBE COMMAND..." >&2; exit 2; }

qemu_binfmt=/usr/libexec/qemu-binfmt/arm-binfmt-P
qemu_binfmt_conf=/usr/lib/binfmt.d/qemu-arm.conf
interpreter_source=$(dirname "$0")/arm926_interpreter.c

setup_failed() {
    echo "FAIL: ARM userland set-up: $*"
    exit 1
}

# Once process $1 is in a user namespace of its own, maps there each user and group id of this
# namespace to itself. Only a process outside may write those maps: the one inside waits.
map_own_ids() {
    local own kind
    own=$(readlink /proc/self/ns/user)
    while [ "$(readlink "/proc/$1/ns/user")" == "$own" ]; do
        [ -e "/proc/$1" ] || return 1
        sleep 0.01
    done
    for kind in uid gid; do
        awk '{ print $1, $1, $3 }' "/proc/self/${kind}_map" >"/proc/$1/${kind}_map" || return 1
    done
}

case ${1:-} in
--inside) shift ;;
--unmapped)
    # Started before its ids were mapped, this process holds no capabilities; once they are
    # mapped, it starts again as the namespace's root.
    shift
    for _ in $(seq 1000); do
        [ -n "$(cat /proc/self/gid_map)" ] && exec bash "$0" --inside "$@"
        sleep 0.01
    done
    setup_failed "the user and group ids were not mapped into the user namespace"
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

# TEXT as a C string literal.
c_string() {
    local text=${1//\\/\\\\}
    printf '"%s"' "${text//\"/\\\"}"
}

# The ARM handler, with Debian's ELF magic and mask for ARM, is a small host program that starts
# the emulator Debian's arm-binfmt-P names with the CPU and the libraries as options, so that
# they hold for every ARM program whatever its environment, and stay out of that environment.
# P keeps argv[0] as the program was started, so BusyBox sees which applet it is. F opens the
# interpreter now: its directory is removed at once, and the cases hide /tmp. No O: the kernel's
# open file of the program would reach the interpreter, which cannot pass it on, and leak into
# the program; the emulator opens the program by its name.
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
    setup_failed "cannot mount a binfmt_misc instance in a user namespace"
IFS=: read -r _ _ _ _ magic mask _ <"$qemu_binfmt_conf" || setup_failed "no $qemu_binfmt_conf"
emulator=$(readlink -f "$qemu_binfmt")
[ -x "$emulator" ] || setup_failed "no $qemu_binfmt"
interpreter_dir=$(mktemp -d) || setup_failed "cannot make a directory for the ARM interpreter"
cc -O2 -Wall -Wextra -DEMULATOR="$(c_string "$emulator")" -DSYSROOT="$(c_string "$sysroot")" \
    -o "$interpreter_dir/arm926" "$interpreter_source" ||
    setup_failed "cannot build the ARM interpreter from $interpreter_source"
echo ":unitcfg-arm:M::$magic:$mask:$interpreter_dir/arm926:PF" \
    >/proc/sys/fs/binfmt_misc/register || setup_failed "cannot register the ARM interpreter"
rm -r "$interpreter_dir"

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

export UNITCFG_USERLAND=busybox
"$@"
