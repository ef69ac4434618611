# Private sandbox for runs of the real program: a mount namespace in which /tmp, /home and
# /usr/share/Quarvane are empty tmpfs mounts (/usr/share/Quarvane inside an overlay of
# /usr/share, so it can be made where the machine has none), and the program's compiled-in
# paths can be used while nothing on the host is touched, the program's own files included
# where it is installed.
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

sandbox_run() {
    local work=$1
    shift
    "${sandbox_unshare[@]}" bash -c '
        set -e
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
        mount -t tmpfs sandbox-installed /usr/share/Quarvane
        mkdir /tmp/Quarvane /home/Quarvane
        set +e
        "$@"
    ' sandbox "$work" "$@"
}
