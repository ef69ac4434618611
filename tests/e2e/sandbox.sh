# Private sandbox for runs of the real program: a mount namespace in which /tmp, /home and
# /usr/share/Quarvane are empty mounts of their own (/usr/share/Quarvane inside an overlay of
# /usr/share, so it can be made where the machine has none), and the program's compiled-in
# paths can be used while nothing on the host is touched, the program's own files included
# where it is installed. UNITCFG_LAYOUT chooses what /usr/share/Quarvane is: "plain" (the
# default), a tmpfs; "overlay", an overlay as on a flash unit's root, its lower layer a
# read-only tmpfs and its upper one another tmpfs (`overlay_installed_directory`).
#
# Source this file, then:  sandbox_available && sandbox_workdir FILE... &&
#                          sandbox_run "$sandbox_work" COMMAND...
# COMMAND runs inside the sandbox with WORKDIR as its working directory: WORKDIR stays
# reachable as "." even when it lies under the hidden /tmp. /tmp/Quarvane, /home/Quarvane and
# /usr/share/Quarvane exist and are empty. The namespace, and all it holds, ends with COMMAND.

# True when this process may make a private mount namespace: as root, or, where a plain one is
# refused, inside a user namespace of its own. Leaves the way in $sandbox_unshare.
sandbox_available() {
    local way
    for way in "--mount" "--user --map-root-user --mount"; do
        # shellcheck disable=SC2086 # each way is a list of options
        if unshare $way --propagation private true 2>/dev/null; then
            read -r -a sandbox_unshare <<<"unshare $way --propagation private"
            return 0
        fi
    done
    return 1
}

# Makes a fresh work directory holding copies of FILE..., removed when the calling script
# exits, and leaves its path in $sandbox_work.
sandbox_workdir() {
    sandbox_work=$(mktemp -d)
    trap 'rm -rf "$sandbox_work"' EXIT
    cp "$@" "$sandbox_work/"
}

# Inside the sandbox (and its cases): mounts a fresh overlay on /usr/share/Quarvane, in place of
# what was there, whose read-only lower layer holds file RECORD as UNIT.CFG (or nothing). Its
# layers lie in a new directory under the working directory (named relatively: the absolute
# name lies under the hidden /tmp).
overlay_installed_directory() {
    local layers
    mountpoint -q /usr/share/Quarvane && umount -R /usr/share/Quarvane
    layers=$(mktemp -d -p . layers.XXXXXX) && mount -t tmpfs sandbox-upper "$layers" || return 1
    mkdir "$layers/lower" "$layers/upper" "$layers/work"
    # Each layer a file system of its own, as on the unit (a read-only image, the flash).
    mount -t tmpfs sandbox-lower "$layers/lower" || return 1
    [ $# -eq 0 ] || cp "$1" "$layers/lower/UNIT.CFG" || return 1
    mount -o remount,ro "$layers/lower" &&
        mount -t overlay sandbox-unit-overlay -o \
            "lowerdir=$layers/lower,upperdir=$layers/upper,workdir=$layers/work" /usr/share/Quarvane
}

sandbox_run() {
    local work=$1
    shift
    "${sandbox_unshare[@]}" bash -c "$(declare -f overlay_installed_directory)"'
        set -e
        export -f overlay_installed_directory
        work=$1
        shift
        mkdir -p "$work/overlay"
        mount -t tmpfs sandbox-overlay "$work/overlay"
        mkdir "$work/overlay/upper" "$work/overlay/work"
        mount -t overlay sandbox-share \
            -o "lowerdir=/usr/share,upperdir=$work/overlay/upper,workdir=$work/overlay/work" \
            /usr/share
        cd "$work"
        mount -t tmpfs -o mode=1777 sandbox-tmp /tmp
        mount -t tmpfs sandbox-home /home
        mkdir -p /usr/share/Quarvane
        if [ "${UNITCFG_LAYOUT:-plain}" == overlay ]; then
            overlay_installed_directory
        else
            mount -t tmpfs -o mode=755 sandbox-installed /usr/share/Quarvane
        fi
        mkdir -m 755 /tmp/Quarvane /home/Quarvane
        set +e
        "$@"
    ' sandbox "$work" "$@"
}
