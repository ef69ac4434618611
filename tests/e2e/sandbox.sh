# Private sandbox for runs of the real program: a mount namespace in which /tmp and /home are
# empty tmpfs mounts and /usr/share is an overlay that takes writes, so the program's
# compiled-in paths can be used while nothing on the host is touched.
#
# Source this file, then:  sandbox_workdir FILE...; sandbox_run "$sandbox_work" COMMAND...
# COMMAND runs inside the sandbox with WORKDIR as its working directory: WORKDIR stays
# reachable as "." even when it lies under the hidden /tmp. /tmp/Quarvane, /home/Quarvane and
# /usr/share/Quarvane exist and are empty. The namespace, and all it holds, ends with COMMAND.

# True when this process may make a private mount namespace.
sandbox_available() {
    unshare --mount --propagation private true 2>/dev/null
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
    unshare --mount --propagation private bash -c '
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
        mkdir /tmp/Quarvane /home/Quarvane /usr/share/Quarvane
        set +e
        "$@"
    ' sandbox "$work" "$@"
}
