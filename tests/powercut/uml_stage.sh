#!/bin/bash
# Power cuts on ext4, under User-Mode Linux: a Linux kernel run as an ordinary process, whose
# disks are image files (started through uml_launch.c, which lets it run on a host with
# AVX-512). Each cut boots a guest that runs unitcfg as at boot, then kills the whole guest
# (SIGKILL to its process group) at a random instant; e2fsck then replays the journals, debugfs
# reads the files from the images, and the cut is judged (powercut.sh).
# usage: uml_stage.sh UNITCFG [RUN_CUTS AFTER_CUTS LATE_CUTS]
#   run:   0-400 ms after the program started;
#   after: 0-3 s after it exited;
#   late:  5.5-9 s after it exited, /usr/share/Quarvane mounted with noauto_da_alloc.
# Exits 0 when no cut lost anything, 1 when one did or the stage could not run.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/records.sh"
source "$here/powercut.sh"
unitcfg=$(realpath "$1")
run_cuts=${2:-26} after_cuts=${3:-20} late_cuts=${4:-16}
work=$(mktemp -d)
records=$work
trap 'rm -rf "$work"' EXIT

# The guest's root: the host's shell and the utilities the program and the init use, with
# their libraries, the program, the init, and the identity and staged records to put in /tmp.
make_root_image() {
    local root=$work/root program library
    mkdir -p "$root"/{proc,dev,tmp,usr/bin,usr/sbin,usr/lib,usr/lib64,usr/share/Quarvane} \
        "$root"/{home/Quarvane,stage}
    ln -s usr/bin "$root/bin" && ln -s usr/lib "$root/lib" && ln -s usr/lib64 "$root/lib64"
    for program in dash cp date sed cat mount grep mkdir sleep "$unitcfg"; do
        program=$(command -v "$program")
        cp "$program" "$root/usr/bin/"
        for library in $(ldd "$program" | grep -o '/[^ ]*'); do
            mkdir -p "$root/$(dirname "$library")" && cp -n "$library" "$root/$library"
        done
    done
    ln -s dash "$root/usr/bin/sh"
    cp "$here/uml_init.sh" "$root/init"
    identity_record 6170 >"$root/stage/UNIT.CFG"
    cp "$work/staged.bin" "$root/stage/6170.CFG"
    mkfs.ext4 -q -F -d "$root" "$work/root.img" 64M
}

# The unit's two file systems as they are before each run: the old record installed, no history.
make_disk_images() {
    mkdir -p "$work/share" "$work/home"
    cp "$work/old.bin" "$work/share/UNIT.CFG"
    mkfs.ext4 -q -F -d "$work/share" "$work/share.img" 8M
    mkfs.ext4 -q -F -d "$work/home" "$work/home.img" 8M
}

# What the guest's glibc may use of the host's processor: no AVX or XSAVE, whose registers UML
# keeps only in the FXSAVE layout where it is started by uml_launch.c; the SSE registers it keeps.
guest_tunables=glibc.cpu.hwcaps=-AVX512F,-AVX512VL,-AVX512BW,-AVX512DQ,-AVX2,-AVX,-XSAVE,-XSAVEC

# Boots the guest in directory $1 on fresh images, /usr/share/Quarvane mounted with options $2;
# $4 seconds after it says $3 cuts the power; then checks the images as the next boot would.
boot_cut_and_check() {
    local dir=$1 image
    cp --sparse=always "$work/share.img" "$work/home.img" "$dir/"
    rm -f "$dir/console" && mkfifo "$dir/console"
    setsid "$work/uml_launch" linux.uml mem=128M ubd0r="$work/root.img" ubd1="$dir/share.img" \
        ubd2="$dir/home.img" root=/dev/ubda ro init=/init share_options="$2" \
        GLIBC_TUNABLES="$guest_tunables" quiet con=null con0=fd:0,fd:1 \
        </dev/null >"$dir/console" 2>&1 &
    cut_on_console $! "$dir/console" "$dir/console.txt" "$4" "$3" || return 1
    for image in share home; do
        e2fsck -fy "$dir/$image.img" >/dev/null 2>&1
        [ $? -lt 4 ] || { echo "FAIL: e2fsck could not repair $image.img"; return 1; }
    done
    debugfs -R "cat /UNIT.CFG" "$dir/share.img" >"$dir/installed.bin" 2>/dev/null
    stored=no seen=no
    debugfs -R "cat /History.txt" "$dir/home.img" 2>/dev/null |
        grep -q "UNIT_CFG of 6170 updated successfully" && stored=yes
    grep -q "success logged" "$dir/console.txt" && seen=yes
    return 0
}

cut_once() {
    case $1 in
    run) boot_cut_and_check "$2" defaults "guest: run starts" "$(random_delay 0 400)" ;;
    after) boot_cut_and_check "$2" defaults "guest: run ended" "$(random_delay 0 3000)" ;;
    late) boot_cut_and_check "$2" noauto_da_alloc "guest: run ended" "$(random_delay 5500 9000)" ;;
    esac
}

powercut_records "$work"
cc -O2 -o "$work/uml_launch" "$here/uml_launch.c" && make_root_image && make_disk_images || { echo "FAIL: cannot make the images"; exit 1; }
# The windows run side by side: the guests mostly wait.
run_window powercut-uml run "$run_cuts" "$work/run" >"$work/run.out" &
run_pid=$!
later_status=0
run_window powercut-uml after "$after_cuts" "$work/after" >"$work/later.out" || later_status=1
run_window powercut-uml late "$late_cuts" "$work/late" >>"$work/later.out" || later_status=1
wait $run_pid
run_status=$?
cat "$work/run.out" "$work/later.out"
[ $run_status -eq 0 ] && [ $later_status -eq 0 ] && echo "powercut-uml: no cut lost anything"
