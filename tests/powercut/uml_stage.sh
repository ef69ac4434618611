#!/bin/bash
# Power cuts on ext4, under User-Mode Linux: a Linux kernel run as an ordinary process, whose
# disks are image files. Each cut boots a guest that runs unitcfg as at boot, then kills the
# whole guest (SIGKILL to its process group) at a random instant; e2fsck then replays the
# journals, debugfs reads the files from the images, and the cut is judged (verdict.sh).
# usage: uml_stage.sh UNITCFG [RUN_CUTS AFTER_CUTS LATE_CUTS]
#   run:   0-400 ms after the program started;
#   after: 0-3 s after it exited;
#   late:  5.5-9 s after it exited, /usr/share/Quarvane mounted with noauto_da_alloc.
# Exits 0 when no cut lost anything, 1 when one did or the stage could not run.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/records.sh"
source "$here/verdict.sh"
unitcfg=$(realpath "$1")
run_cuts=${2:-26} after_cuts=${3:-20} late_cuts=${4:-16}
work=$(mktemp -d)
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

# A random delay in seconds between $1 and $2 milliseconds.
random_delay() {
    local ms=$(($1 + (RANDOM * 32768 + RANDOM) % ($2 - $1 + 1)))
    printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}

# One cut in directory $1: boots the guest with share mount options $2, waits for console line
# $3, then waits $4 seconds and kills the guest. Leaves the console in $1/console.txt.
boot_and_cut() {
    local dir=$1 options=$2 marker=$3 delay=$4 guest line cut=no
    cp --sparse=always "$work/share.img" "$work/home.img" "$dir/"
    rm -f "$dir/console" && mkfifo "$dir/console"
    setsid linux.uml mem=48M ubd0r="$work/root.img" ubd1="$dir/share.img" ubd2="$dir/home.img" \
        root=/dev/ubda ro init=/init share_options="$options" quiet con=null con0=fd:0,fd:1 \
        </dev/null >"$dir/console" 2>&1 &
    guest=$!
    : >"$dir/console.txt"
    while IFS= read -r -t 60 line; do
        echo "$line" >>"$dir/console.txt"
        case $line in
        *"$marker"*) [ $cut == no ] && sleep "$delay" && kill -KILL -- -"$guest" && cut=yes ;;
        *"guest: FAIL"*) kill -KILL -- -"$guest" ;;
        esac
    done <"$dir/console"
    kill -KILL -- -"$guest" 2>/dev/null
    wait "$guest" 2>/dev/null
    [ $cut == yes ] && return 0
    echo "FAIL: the guest never said '$marker':"
    cat "$dir/console.txt"
    return 1
}

# Checks the images of directory $1 as the next boot would find them; prints what the
# installed file holds, and whether the success entry is on storage.
read_images() {
    local dir=$1 image
    for image in share home; do
        e2fsck -fy "$dir/$image.img" >/dev/null 2>&1
        [ $? -lt 4 ] || echo "e2fsck could not repair $image.img" >&2
    done
    debugfs -R "cat /UNIT.CFG" "$dir/share.img" >"$dir/installed.bin" 2>/dev/null
    debugfs -R "cat /History.txt" "$dir/home.img" 2>/dev/null >"$dir/history.txt"
}

# Runs $2 cuts of window $1 in a directory of their own; prints one line of counts, and a line
# for each cut that lost something. Exits 1 when one did.
run_window() {
    local window=$1 cuts=$2 dir=$work/$1 i held stored seen why failed=0
    declare -A count=()
    mkdir -p "$dir"
    for ((i = 0; i < cuts; i++)); do
        case $window in
        run) boot_and_cut "$dir" defaults "guest: run starts" "$(random_delay 0 400)" ;;
        after) boot_and_cut "$dir" defaults "guest: run ended" "$(random_delay 0 3000)" ;;
        late) boot_and_cut "$dir" noauto_da_alloc "guest: run ended" "$(random_delay 5500 9000)" ;;
        esac || { failed=1; continue; }
        read_images "$dir"
        held=$(classify_installed "$dir/installed.bin" "$work")
        count[$held]=$((${count[$held]:-0} + 1))
        stored=no seen=no
        grep -q "UNIT_CFG of 6170 updated successfully" "$dir/history.txt" && stored=yes
        grep -q "success logged" "$dir/console.txt" && seen=yes
        why=$(judge_cut "$held" "$stored" "$seen") || { echo "FAIL: $window cut $i: $why"; failed=1; }
    done
    echo "powercut-uml: $window: $cuts cuts: repaired ${count[repaired]:-0}," \
        "staged ${count[staged]:-0}, old ${count[old]:-0}, empty ${count[empty]:-0}," \
        "torn ${count[torn]:-0}"
    return $failed
}

powercut_records "$work"
make_root_image && make_disk_images || { echo "FAIL: cannot make the images"; exit 1; }
# The windows run side by side: the guests mostly wait.
run_window run "$run_cuts" >"$work/run.out" &
run_pid=$!
later_status=0
run_window after "$after_cuts" >"$work/later.out" || later_status=1
run_window late "$late_cuts" >>"$work/later.out" || later_status=1
wait $run_pid
run_status=$?
cat "$work/run.out" "$work/later.out"
[ $run_status -eq 0 ] && [ $later_status -eq 0 ] && echo "powercut-uml: no cut lost anything"
