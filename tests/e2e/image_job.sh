#!/bin/bash
# Runs the boot job in an image Buildroot built, as the unit would: the image's target directory,
# under an overlay that keeps it unchanged, is the root of a private user and mount namespace;
# its own /bin/sh, cp, date, sed and cat serve, and every ARM program is started by the kernel
# through a binfmt_misc instance private to the namespace, emulated as an ARM926 (the method of
# userland.sh, with its interpreter built static so that it starts inside the image). An
# identity record names unit 6170 and its staged record waits in /tmp/Quarvane; /home/Quarvane
# belongs to an application user. Then /etc/init.d/S50unitcfg start: the record must be
# installed and repaired and the history hold the success entry. Nothing outside the namespace
# changes.
# usage: image_job.sh TARGET_DIR
# Run by root, the namespace has every user and group id of the caller's, each as itself, and
# the history's directory belongs to user 4242; run by another user, only root is mapped, and
# the directory stays root's (said on the way). Exits 0 when the job did what it should, 1 when
# not or when the namespace cannot be set up.
set -u
[ $# -ge 1 ] || { echo "usage: image_job.sh TARGET_DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
source "$here/arm926_binfmt.sh"
application_user=4242

fail() {
    echo "FAIL: image job: $*"
    exit 1
}

setup_failed() { fail "$@"; }

case $1 in
--inside) shift ;;
--unmapped)
    shift
    start_again_once_mapped "$0" "$@"
    ;;
*)
    # The namespace's files lie in WORK, a tmpfs there; the empty directory is removed after.
    target=$(cd "$1" && pwd) || fail "no target directory $1"
    work=$(mktemp -d) || fail "cannot make a work directory"
    if [ "$(id -u)" -eq 0 ]; then
        unshare --user --mount --propagation private bash "$0" --unmapped "$target" "$work" &
        namespace=$!
        map_own_ids $namespace || kill $namespace
    else
        unshare --user --map-root-user --mount --propagation private \
            bash "$0" --inside "$target" "$work" &
        namespace=$!
    fi
    wait $namespace
    status=$?
    rmdir "$work"
    exit $status
    ;;
esac
target=$1 work=$2
source "$here/records.sh"

# The root: an overlay whose lower layer is the image, its upper a tmpfs, so that the job's
# files and the set-up's land there. The host's /dev and /proc are bound in for the emulator.
mount -t tmpfs image-job "$work" || fail "cannot mount a tmpfs"
mkdir "$work/upper" "$work/work" "$work/root"
root=$work/root
mount -t overlay image-job -o "lowerdir=$target,upperdir=$work/upper,workdir=$work/work" "$root" ||
    fail "cannot mount an overlay of $target"
for system in dev proc; do
    mkdir -p "$root/$system" && mount --rbind "/$system" "$root/$system" ||
        fail "cannot bind /$system into the image"
done

# The emulator, itself static, is copied into the root, where the interpreter finds it; the
# image's own libraries are the ARM programs' there, so its root is their sysroot.
mkdir "$root/.emulator" && cp "$(readlink -f "$qemu_binfmt")" "$root/.emulator/qemu-arm" ||
    fail "no emulator $qemu_binfmt"
register_arm926 unitcfg-image-arm /.emulator/qemu-arm / "$work" -static

# The image's shell is an ARM program, and the utilities are its BusyBox's applets (nothing
# else is in the root to answer).
readelf -h "$root/bin/busybox" 2>/dev/null | grep -q 'Machine: *ARM$' ||
    fail "the image's /bin/busybox is not an ARM program"
[ "$(chroot "$root" /bin/sh -c 'echo "$0" runs' 2>&1)" == "/bin/sh runs" ] ||
    fail "the image's /bin/sh does not run"
for utility in cp date sed cat; do
    chroot "$root" /bin/sh -c "$utility --help" 2>&1 | grep -q '^BusyBox v' ||
        fail "the image's $utility does not answer as BusyBox"
done

# The unit's files: the identity record and the staged record, root's; the history's
# directory, the application user's where there are other users to have.
identity_record 6170 >"$root/tmp/UNIT.CFG"
mkdir -m 755 "$root/tmp/Quarvane" && typical_staged_record >"$root/tmp/Quarvane/6170.CFG"
mkdir -p "$root/home" && mkdir -m 755 "$root/home/Quarvane"
owner=0
if chown "$application_user:$application_user" "$root/home/Quarvane" 2>/dev/null; then
    echo "app:x:$application_user:$application_user:application user:/home/Quarvane:/bin/sh" \
        >>"$root/etc/passwd"
    owner=$application_user
else
    echo "image job: only root is mapped here: the history's directory stays root's"
fi
installed=$root/usr/share/Quarvane/UNIT.CFG
history=$root/home/Quarvane/History.txt
[ "$(stat -c %a:%u "$root/usr/share/Quarvane")" == 755:0 ] ||
    fail "the image's /usr/share/Quarvane is not root's and 0755"

status=0
output=$(chroot "$root" /etc/init.d/S50unitcfg start 2>&1) || status=$?
[ "$status:$output" == "0:" ] || fail "S50unitcfg start: exit status $status, printed '$output'"
[ -f "$installed" ] || fail "nothing was installed at /usr/share/Quarvane/UNIT.CFG"
[ "$(describe_record "$installed" 2>&1)" == "$(typical_repaired_description)" ] ||
    fail "the installed record: $(describe_record "$installed" 2>&1 | tr '\n' ' ')"
cmp -s -n 6 "$root/tmp/Quarvane/6170.CFG" "$installed" || fail "bytes 0-5 differ from the staged"
[ "$(wc -l <"$history" 2>/dev/null)" == 1 ] &&
    grep -q -E '^.+ - UNIT_CFG of 6170 updated successfully\.$' "$history" ||
    fail "the history holds '$(cat "$history" 2>/dev/null)'"
[ "$(stat -c %u "$history")" == $owner ] || fail "the history is not user $owner's"
echo "image job: S50unitcfg start with the image's own shell and utilities as an ARM926:" \
    "installed and repaired; history (user $owner's): $(cat "$history")"
