# What the ARM userland (userland.sh) and the Buildroot image's job (image_job.sh) share: a
# user and mount namespace of their own in which every ARM program is started by the kernel
# through a binfmt_misc instance private to the namespace, emulated as an ARM926. Source this
# file; the sourcing script defines setup_failed MESSAGE (which exits).

qemu_binfmt=/usr/libexec/qemu-binfmt/arm-binfmt-P
qemu_binfmt_conf=/usr/lib/binfmt.d/qemu-arm.conf
arm926_interpreter_source=$(dirname "${BASH_SOURCE[0]}")/arm926_interpreter.c

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

# In a process started in a user namespace before its ids were mapped (it holds no
# capabilities), waits for map_own_ids, then starts SCRIPT --inside ARGS... again as the
# namespace's root.
start_again_once_mapped() { # SCRIPT ARGS...
    local script=$1
    shift
    for _ in $(seq 1000); do
        [ -n "$(cat /proc/self/gid_map)" ] && exec bash "$script" --inside "$@"
        sleep 0.01
    done
    setup_failed "the user and group ids were not mapped into the user namespace"
}

# TEXT as a C string literal.
c_string() {
    local text=${1//\\/\\\\}
    printf '"%s"' "${text//\"/\\\"}"
}

# Registers the ARM handler NAME in a binfmt_misc instance mounted here: a small host program
# built into directory DIR from arm926_interpreter.c, with Debian's ELF magic and mask for ARM,
# that starts EMULATOR with the CPU and the libraries of SYSROOT as options, so that they hold
# for every ARM program whatever its environment, and stay out of that environment. P keeps
# argv[0] as the program was started, so BusyBox sees which applet it is. F opens the
# interpreter now: DIR may go at once. No O: the kernel's open file of the program would reach
# the interpreter, which cannot pass it on, and leak into the program; the emulator opens the
# program by its name. CC_FLAGS... go to the compiler (-static, for a root without the host's
# libraries).
register_arm926() { # NAME EMULATOR SYSROOT DIR [CC_FLAGS...]
    local name=$1 emulator=$2 sysroot=$3 dir=$4 magic mask
    shift 4
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
        setup_failed "cannot mount a binfmt_misc instance in a user namespace"
    IFS=: read -r _ _ _ _ magic mask _ <"$qemu_binfmt_conf" || setup_failed "no $qemu_binfmt_conf"
    cc -O2 -Wall -Wextra "$@" -DEMULATOR="$(c_string "$emulator")" \
        -DSYSROOT="$(c_string "$sysroot")" -o "$dir/arm926" "$arm926_interpreter_source" ||
        setup_failed "cannot build the ARM interpreter from $arm926_interpreter_source"
    echo ":$name:M::$magic:$mask:$dir/arm926:PF" >/proc/sys/fs/binfmt_misc/register ||
        setup_failed "cannot register the ARM interpreter"
}
