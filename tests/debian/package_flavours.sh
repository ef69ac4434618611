#!/bin/bash
# Two flavours of the package with dpkg, in a throw-away Debian root (a chroot of the boot
# test's image, no init running): install, upgrade, each flavour over the other, the purge of a
# replaced flavour, remove, reinstall and purge. Through all of it the boot job stays enabled
# (the init script's rcS link and the systemd unit's wants link) while a flavour is installed,
# is masked while one is removed, and is gone after the last purge.
# usage: package_flavours.sh ROOT_TARBALL PLAIN.deb OTHER.deb    (needs root: chroot)
set -u
base=$1
plain=$(realpath "$2")
other=$(realpath "$3")
other_name=$(dpkg-deb -f "$other" Package)
failures=0
fail() {
    echo "FAIL: package-flavours: $*"
    failures=$((failures + 1))
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
tar -C "$root" -xf "$base" || { echo "FAIL: package-flavours: cannot unpack"; exit 1; }
cp "$plain" "$root/tmp/plain.deb" && cp "$other" "$root/tmp/other.deb"

in_root() { chroot "$root" "$@" >>"$root/tmp/dpkg.log" 2>&1; }
# What the boot job's state is: enabled, masked or off, and which flavours dpkg holds how.
job_state() {
    local wants=$root/etc/systemd/system/multi-user.target.wants/unitcfg.service
    local mask=$root/etc/systemd/system/unitcfg.service
    if [ "$(readlink "$mask")" == /dev/null ]; then
        echo -n masked
    elif [ -L "$wants" ] && compgen -G "$root/etc/rcS.d/S*unitcfg" >/dev/null; then
        echo -n enabled
    elif [ ! -e "$wants" ] && ! compgen -G "$root/etc/rc?.d/*unitcfg" >/dev/null; then
        echo -n off
    else
        echo -n "half: $(cd "$root/etc" && ls -d rc?.d/*unitcfg systemd/system/*/unitcfg.service 2>/dev/null)"
    fi
    chroot "$root" dpkg-query -W -f '${Package}:${db:Status-Status}\n' unitcfg "$other_name" \
        2>/dev/null | sed -n 's/:installed$/:ii/p; s/:config-files$/:rc/p' | sed 's/^/ /' | tr -d '\n'
}
step() { # WHAT WANT COMMAND...: runs dpkg in the root, then compares the job's state
    local what=$1 want=$2
    shift 2
    in_root "$@" || fail "$what: dpkg failed: $(tail -n 3 "$root/tmp/dpkg.log")"
    [ "$(job_state)" == "$want" ] || fail "$what: '$(job_state)', want '$want'"
}

step install "enabled unitcfg:ii" dpkg -i /tmp/plain.deb
step upgrade "enabled unitcfg:ii" dpkg -i /tmp/plain.deb
step "$other_name over unitcfg" "enabled unitcfg:rc $other_name:ii" dpkg -i /tmp/other.deb
step "purge of the replaced unitcfg" "enabled $other_name:ii" dpkg --purge unitcfg
step "unitcfg over $other_name" "enabled unitcfg:ii $other_name:rc" dpkg -i /tmp/plain.deb
step "purge of the replaced $other_name" "enabled unitcfg:ii" dpkg --purge "$other_name"
step remove "masked unitcfg:rc" dpkg -r unitcfg
step reinstall "enabled unitcfg:ii" dpkg -i /tmp/plain.deb
step purge "off" dpkg --purge unitcfg
left=$(cd "$root" && find etc lib usr var/lib -name '*unitcfg*' | sort | tr '\n' ' ')
[ -z "$left" ] || fail "left after the purge: $left"
[ $failures -eq 0 ] && echo "package-flavours: install, upgrade, unitcfg and $other_name over each other, remove, reinstall, purge: the job as it should be"
exit $((failures > 0))
