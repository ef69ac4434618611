#!/bin/bash
# The boot job on a real boot: Debian 12 built from Debian's packages (mmdebstrap; cached),
# the host package installed with dpkg -i, an ordinary staging service beside it and README's
# drop-in that orders the job after it, booted with systemd as PID 1 under qemu-system-x86_64.
# Three boots of one disk, the scenario on the kernel's command line, each reported by the
# guest on its serial console (nothing of the guest's is mounted here):
#   staged   the staging writes unit 6170's files; the job runs after it, installs and repairs,
#            logs the success entry; no ordering cycle, no failed unit
#   nothing  nothing staged: the job runs and changes nothing; then dpkg -r
#   removed  the job does not run (masked); then dpkg -P leaves nothing of the package
# Before the boots, package_flavours.sh tries PACKAGE.deb and OTHER_FLAVOUR.deb over each other
# in a chroot of the same image.
# usage: debian_stage.sh PACKAGE.deb OTHER_FLAVOUR.deb   (needs root: the image is made in a chroot)
set -u
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
deb=$(realpath "$1")
other_flavour=$(realpath "$2")
cache_root=${XDG_CACHE_HOME:-${HOME:+$HOME/.cache}}
cache=${UNITCFG_CACHE:-${cache_root:-/var/cache}/unitcfg}
packages=systemd-sysv,udev,dbus,linux-image-amd64
base=$cache/debian-bookworm-$(echo "$packages minbase 1" | sha256sum | cut -c1-12).tar
failures=0

fail() {
    echo "FAIL: debian-boot: $*"
    failures=$((failures + 1))
}

if [ ! -s "$base" ]; then
    mkdir -p "$cache"
    start=$SECONDS
    mmdebstrap --quiet --format=tar --variant=minbase --include="$packages" \
        --customize-hook='chroot "$1" apt-get clean' bookworm "$base.new" ||
        { echo "FAIL: debian-boot: mmdebstrap failed"; exit 1; }
    mv "$base.new" "$base"
    echo "debian-boot: the Debian image built in $((SECONDS - start)) s"
fi

bash "$here/package_flavours.sh" "$base" "$deb" "$other_flavour" || failures=$((failures + 1))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir "$root" && tar -C "$root" -xf "$base" || { echo "FAIL: debian-boot: cannot unpack"; exit 1; }

# The test's own files, the drop-in exactly as README gives it, and the package.
source "$project/tests/e2e/records.sh"
install -D -m 0644 "$project/tests/e2e/records.sh" "$root/usr/local/lib/unitcfg-test/records.sh"
install -m 0755 "$here/unit-staging" "$here/unitcfg-report" "$root/usr/local/sbin/"
install -m 0644 "$here/unit-staging.service" "$here/unitcfg-report.service" \
    "$root/etc/systemd/system/"
drop_in=/etc/systemd/system/unitcfg.service.d/staging.conf
mkdir -p "$root${drop_in%/*}"
awk -v path="$drop_in" 'index($0, path) { found = 1 } found && /^ *```ini/ { copy = 1; next }
    copy && /^ *```/ { exit } copy { sub(/^ +/, ""); print }' "$project/README.md" >"$root$drop_in"
grep -q '^After=unit-staging.service' "$root$drop_in" || fail "no drop-in in README: $(cat "$root$drop_in")"
mkdir -p "$root/usr/share/Quarvane" "$root/home/Quarvane"
config_record 89 -2036 1310 3 21017 0xAF51 >"$root/usr/share/Quarvane/UNIT.CFG"
echo 0123456789abcdef0123456789abcdef >"$root/etc/machine-id"
echo "/dev/vda / ext4 rw 0 1" >"$root/etc/fstab"
cp "$deb" "$root/tmp/unitcfg.deb"
chroot "$root" dpkg -i /tmp/unitcfg.deb >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; echo "FAIL: debian-boot: dpkg -i failed"; exit 1; }
rm "$root/tmp/unitcfg.deb"
chroot "$root" systemctl enable unit-staging.service unitcfg-report.service >/dev/null 2>&1
# What a boot here needs not wait for.
chroot "$root" systemctl mask apt-daily.timer apt-daily-upgrade.timer e2scrub_reap.service \
    systemd-timesyncd.service >/dev/null 2>&1
cp "$root"/boot/vmlinuz-* "$work/vmlinuz" && cp "$root"/boot/initrd.img-* "$work/initrd" ||
    { echo "FAIL: debian-boot: no kernel in the image"; exit 1; }
mkfs.ext4 -q -F -L unitcfg-boot -d "$root" "$work/disk.img" 2G >/dev/null ||
    { echo "FAIL: debian-boot: mkfs.ext4 -d failed"; exit 1; }
rm -rf "$root"

# Boots the disk with scenario $1; the guest's report lines go to $work/$1.report. The job in
# the guest has deadlines, and an emulated guest starved by the stages beside it runs many times
# slower than alone: the emulator goes ahead of them (the test command runs at nice 5).
boot() {
    local start=$SECONDS
    nice -n -5 timeout 900 qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -nographic -no-reboot -net none \
        -kernel "$work/vmlinuz" -initrd "$work/initrd" \
        -drive "file=$work/disk.img,format=raw,if=virtio" \
        -append "root=/dev/vda rw console=ttyS0 quiet systemd.show_status=0 unitcfg.scenario=$1" \
        </dev/null >"$work/$1.console" 2>&1
    tr -d '\r' <"$work/$1.console" | sed -n 's/^.*boot-report: //p' >"$work/$1.report"
    local took
    took=$(value "$1" job-took)
    echo "debian-boot: $1: booted in $((SECONDS - start)) s${took:+, the job ran $((took / 1000)) ms}"
    grep -q '^done$' "$work/$1.report" ||
        { tail -n 30 "$work/$1.console"; fail "$1: the boot did not report"; }
}
value() { sed -n "s/^$2 //p" "$work/$1.report"; }
expect() { # SCENARIO NAME WANT
    [ "$(value "$1" "$2")" == "$3" ] || fail "$1: $2 is '$(value "$1" "$2")', want '$3'"
}

boot staged
expect staged record "$(
    config_record 89 -2026 1309 3 21017 0xAF48 | od -A n -t x1 -v | tr -d ' \n'
)"
expect staged history 1
expect staged job-result "success 0"
expect staged ordering-cycles 0
expect staged failed-units 0
# After a good run, with the staging still in /tmp, a run would change nothing.
expect staged check-status 0
[ "$(value staged job-started)" -gt 0 ] 2>/dev/null || fail "staged: the job did not run"
[ $failures -eq 0 ] || echo "debian-boot: staged: the job printed '$(value staged job-output)';" \
    "the history holds '$(value staged history-text)'"
[ "$(value staged staging-ended)" -gt 0 ] 2>/dev/null &&
    [ "$(value staged job-started)" -ge "$(value staged staging-ended)" ] ||
    fail "staged: the job started at $(value staged job-started), before the staging ended at $(value staged staging-ended)"

boot nothing
expect nothing record "$(value staged record)"
expect nothing history 1
expect nothing job-result "success 0"
expect nothing ordering-cycles 0
expect nothing failed-units 0
expect nothing check-status 0
expect nothing masked-check 1
[ "$(value nothing job-started)" -gt 0 ] 2>/dev/null || fail "nothing: the job did not run"
expect nothing removed 0

boot removed
expect removed job-started 0
expect removed job-load masked
expect removed check-status 0
expect removed purged 0
expect removed left ""

[ $failures -eq 0 ] && echo "debian-boot: staged, nothing staged, removed and purged: as they should be"
exit $((failures > 0))
