#!/bin/bash
# Power cuts on the whole emulated unit: qemu-system-arm's versatilepb board with an ARM926, the
# unit's kernel (unit_kernel.sh), an initramfs holding BusyBox (every applet a link to it), the
# ARM unitcfg and unit_init.sh, and /usr/share/Quarvane and /home/Quarvane on JFFS2 on the
# board's 64 MiB NOR flash (erase block 256 KiB); or, in the overlay layout, /usr/share/Quarvane
# an overlay whose read-only lower layer, in the initramfs, holds the old record and whose upper
# layer is on the flash, as on a flash unit's root. Each cut boots the unit, which runs unitcfg
# from init as at boot, and kills the emulator outright at a random instant; the next boot
# mounts the flash and reports the record and the history, and the cut is judged (powercut.sh).
# usage: unit_stage.sh KERNEL_DIR BUSYBOX UNITCFG [COPY_CUTS RUN_CUTS AFTER_CUTS OVERLAY_CUTS]
#   copy:          0-40 ms after the program started, when `cp` writes;
#   run:           0-150 ms after it started (a run takes about 100 ms, the repair near its end);
#   after:         0-3 s after it exited;
#   overlay-copy:  the overlay layout, 0-60 ms after the program started (the first write to a
#                  file of the lower layer copies it up first).
# Exits 0 when no cut lost anything, 1 when one did or the stage could not run.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/records.sh"
source "$here/powercut.sh"
kernel=$1 busybox=$2 unitcfg=$3
copy_cuts=${4:-24} run_cuts=${5:-20} after_cuts=${6:-16} overlay_cuts=${7:-40}
work=$(mktemp -d)
records=$work
trap 'rm -rf "$work"' EXIT
# The board's sound device finds no sound card here, and needs none.
export QEMU_AUDIO_DRV=none

make_initramfs() {
    local root=$work/initramfs applet
    mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,proc,dev,tmp,stage,lower/share}
    cp "$busybox" "$root/bin/busybox"
    for applet in $(qemu-arm "$busybox" --list-full); do
        [ -e "$root/$applet" ] || ln -s /bin/busybox "$root/$applet"
    done
    cp "$unitcfg" "$root/usr/sbin/unitcfg"
    cp "$here/unit_init.sh" "$root/init"
    identity_record 6170 >"$root/stage/UNIT.CFG"
    cp "$work/staged.bin" "$root/stage/6170.CFG"
    cp "$work/old.bin" "$root/lower/share/UNIT.CFG"
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -n) >"$work/initramfs.gz"
}

# The flash as it is before each run, in each layout: flash-plain.img with the old record
# installed, flash-overlay.img with an empty upper layer over the old record; no history.
make_flash_images() {
    local layout
    mkdir -p "$work/plain/share" "$work/plain/home" "$work/overlay/upper/share" \
        "$work/overlay/upper/work" "$work/overlay/home"
    cp "$work/old.bin" "$work/plain/share/UNIT.CFG"
    for layout in plain overlay; do
        mkfs.jffs2 --little-endian --eraseblock=0x40000 --pad=0x4000000 --root="$work/$layout" \
            --output="$work/flash-$layout.img" || return 1
    done
}

# The emulator's command line in `unit` for flash image $1, mode $2 (run or report) and layout
# $3: the unit's console on standard output.
unit_command() {
    unit=(qemu-system-arm -M versatilepb -cpu arm926 -m 64 -kernel "$kernel/zImage"
        -dtb "$kernel/versatile-pb.dtb" -initrd "$work/initramfs.gz"
        -append "console=ttyAMA0 quiet unitcfg_mode=$2 unitcfg_layout=$3"
        -drive if=pflash,file="$1",format=raw -display none -monitor none -serial stdio
        -no-reboot)
}

# Boots the unit of layout $4 in directory $1 on a fresh flash; $3 seconds after it says $2
# cuts the power; then boots it again to read what the flash holds.
boot_cut_and_check() {
    local dir=$1 layout=$4 record unit
    cp "$work/flash-$layout.img" "$dir/flash.img"
    rm -f "$dir/console" && mkfifo "$dir/console"
    unit_command "$dir/flash.img" run "$layout"
    setsid "${unit[@]}" </dev/null >"$dir/console" 2>&1 &
    cut_on_console $! "$dir/console" "$dir/console.txt" "$3" "$2" || return 1
    unit_command "$dir/flash.img" report "$layout"
    timeout 120 "${unit[@]}" </dev/null >"$dir/report.txt" 2>&1
    grep -q "unit: report done" "$dir/report.txt" ||
        { echo "FAIL: the next boot did not report:"; cat "$dir/report.txt"; return 1; }
    record=$(sed -n 's/^unit: record \([0-9a-f]*\).*/\1/p' "$dir/report.txt")
    perl -e 'print pack("H*", $ARGV[0])' "$record" >"$dir/installed.bin"
    stored=no seen=no
    grep -q "unit: success entry yes" "$dir/report.txt" && stored=yes
    grep -q "success logged" "$dir/console.txt" && seen=yes
    return 0
}

cut_once() {
    case $1 in
    copy) boot_cut_and_check "$2" "unit: run starts" "$(random_delay 0 40)" plain ;;
    run) boot_cut_and_check "$2" "unit: run starts" "$(random_delay 0 150)" plain ;;
    after) boot_cut_and_check "$2" "unit: run ended" "$(random_delay 0 3000)" plain ;;
    overlay-copy) boot_cut_and_check "$2" "unit: run starts" "$(random_delay 0 60)" overlay ;;
    esac
}

powercut_records "$work"
make_initramfs && make_flash_images || { echo "FAIL: cannot make the initramfs and the flash"; exit 1; }
# Two emulators side by side, one a core.
{
    status=0
    run_window powercut-unit copy "$copy_cuts" "$work/copy" || status=1
    run_window powercut-unit run "$run_cuts" "$work/run" || status=1
    exit $status
} >"$work/during.out" &
during_pid=$!
after_status=0
run_window powercut-unit after "$after_cuts" "$work/after" >"$work/after.out" || after_status=1
run_window powercut-unit overlay-copy "$overlay_cuts" "$work/overlay-copy" >>"$work/after.out" ||
    after_status=1
wait $during_pid
during_status=$?
cat "$work/during.out" "$work/after.out"
[ $during_status -eq 0 ] && [ $after_status -eq 0 ] && echo "powercut-unit: no cut lost anything"
