#!/bin/bash
# Every crash state of a run on the whole emulated unit: qemu-system-arm's versatilepb board
# with an ARM926, the unit's kernel (unit_kernel.sh), an initramfs holding BusyBox (every applet
# a link to it), the ARM unitcfg and unit_init.sh, and the unit's storage on a partition of the
# board's 64 MiB NOR flash (erase block 256 KiB) in each layout (unit_init.sh): JFFS2; an
# overlay over it, its read-only lower layer in the initramfs holding the old record; UBIFS on
# UBI.
# One boot records every write the kernel makes to the flash during a typical run (qemu writes
# each program and erase through to the image file: strace of its pwrite64); then every state a
# power cut can leave (each prefix of the writes; each with its last write cut in the middle of
# the bytes it changes; and a program with only part of its bits cleared: flash_states) is
# booted, judged on what the unit's own kernel mounts, and must recover on the next run
# (powercut.sh); a boot judges as many states as the flash has partitions. First, the unit boots as a unit does with the files of the musl package
# PACKAGE in place: BusyBox init runs its rcS, which runs the package's init script with start,
# and the typical run must be found after the boot.
# usage: unit_stage.sh KERNEL_DIR BUSYBOX UNITCFG PACKAGE [LAYOUT...]   (default: all three)
# Exits 0 when the boot and every state of every layout passed, 1 otherwise.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/records.sh"
source "$here/powercut.sh"
kernel=$1 busybox=$2 unitcfg=$3 package=$4
shift 4
[ $# -gt 0 ] || set -- jffs2 overlay ubifs
work=$(mktemp -d)
records=$work
trap '[ -n "${UNITCFG_KEEP:-}" ] || rm -rf "$work"' EXIT
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
    cp "$here/unit_init.sh" "$root/init" && cp "$here/guest_run.sh" "$root/"
    identity_record 6170 >"$root/stage/UNIT.CFG"
    cp "$work/staged.bin" "$root/stage/6170.CFG"
    cp "$work/old.bin" "$root/lower/share/UNIT.CFG"
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -n) >"$work/initramfs.gz"
}

# Boots the unit with the package's files in place of the program (JFFS2 layout): the kernel
# starts BusyBox init, whose inittab runs rcS (unit_init.sh in boot mode), which runs the S??
# scripts in order: S40stage, the unit's staging, then /etc/init.d/S50unitcfg, the package's
# init script, with start. Fails unless the boot left the staged record installed and repaired,
# the success entry, one link and nothing beside it. Then the same boot with a FIFO staged and
# another at the history: it must end within the run's bounds, the old record kept whole.
boot_through_init() {
    local root=$work/boot-root dir=$work/boot console after started took
    cp -a "$work/initramfs" "$root" && rm "$root/usr/sbin/unitcfg" &&
        dpkg-deb -x "$package" "$root" && ln -s unitcfg "$root/etc/init.d/S50unitcfg" &&
        cp "$here/S40stage" "$root/etc/init.d/S40stage" &&
        mv "$root/init" "$root/etc/init.d/rcS" &&
        printf '::sysinit:/etc/init.d/rcS\n' >"$root/etc/inittab" &&
        (cd "$root" && find . | cpio -o -H newc --quiet | gzip -n) >"$work/boot-initramfs.gz" ||
        { echo "FAIL: boot: cannot make the unit's root from $package"; return 1; }
    make_flash_image boot >/dev/null 2>&1 || { echo "FAIL: boot: no flash image"; return 1; }
    for stage in plain hostile; do
        mkdir -p "$dir/$stage" && cp "$dir/flash.img" "$dir/$stage/flash.img" ||
            { echo "FAIL: boot: no flash image"; return 1; }
        console=$dir/$stage/console
        started=$SECONDS
        boot_parameters=unitcfg_stage=$stage initramfs=$work/boot-initramfs.gz init=/sbin/init \
            boot_unit jffs2 boot "$dir/$stage/flash.img" "$console" ||
            { echo "FAIL: boot ($stage): $(tail -n 5 "$console")"; return 1; }
        took=$((SECONDS - started))
        record_from_console after "$console" >"$console.after"
        after=$(classify_installed "$console.after" "$records")
        grep -q "after links 1$" "$console" && ! grep -q "temporary file left" "$console" ||
            { echo "FAIL: boot ($stage): $(cat "$console")"; return 1; }
        if [ $stage = plain ]; then
            grep -q "after success entry" "$console" && [ "$after" == repaired ] ||
                { echo "FAIL: boot: the package's init script left the $after record: $(cat "$console")"; return 1; }
            echo "powercut-unit: boot through BusyBox init, S40stage then the package's S50unitcfg: installed and repaired"
        else
            [ "$after" == old ] ||
                { echo "FAIL: boot with FIFOs: the $after record: $(cat "$console")"; return 1; }
            echo "powercut-unit: boot with a staged FIFO and a FIFO history: ended in $took s, the old record kept"
        fi
    done
}

# The unit's storage is one partition of the 64 MiB flash: 4 MiB (16 erase blocks) for JFFS2,
# 10 MiB (40) for UBI, whose 8 MiB volume (33 blocks) and UBI's own 4 need more. A check boot
# lays one state in each partition, 16 or 6 of them, and judges them one after another: a boot
# costs more than the states it judges.
flash_bytes=$((64 << 20))
partition_bytes() { # LAYOUT
    if [ "$1" == ubifs ]; then echo $((10 << 20)); else echo $((4 << 20)); fi
}

# Writes to file $1 the flash holding images IMAGE... one a partition, from its start, the
# rest erased.
compose_flash() {
    local flash=$1
    shift
    cat "$@" >"$flash" &&
        perl -e 'print "\xff" x ($ARGV[0] - -s $ARGV[1])' "$flash_bytes" "$flash" >>"$flash"
}

# The storage of layout $1 as it is before the run, in $work/$1/storage.img (one partition),
# and the flash holding it in $work/$1/flash.img: the old record installed (in the overlay,
# below it), no history.
make_flash_image() {
    local dir=$work/$1 root=$work/$1/root size
    size=$(partition_bytes "$1")
    mkdir -p "$root/home"
    case $1 in
    overlay) mkdir -p "$root/upper/share" "$root/upper/work" ;;
    *) mkdir -p "$root/share" && cp "$work/old.bin" "$root/share/UNIT.CFG" ;;
    esac
    if [ "$1" != ubifs ]; then
        mkfs.jffs2 --little-endian --eraseblock=0x40000 --pad="$size" --root="$root" \
            --output="$dir/storage.img" || return 1
    else
        # UBI: 256 KiB blocks less UBI's two 64-byte headers; an 8 MiB volume.
        mkfs.ubifs -q -m 8 -e 262016 -c 100 -r "$root" -o "$dir/card.ubifs" &&
            printf '[card]\nmode=ubi\nimage=%s\nvol_id=0\nvol_size=8MiB\nvol_type=dynamic\nvol_name=card\n' \
                "$dir/card.ubifs" >"$dir/ubinize.cfg" &&
            ubinize -o "$dir/ubi.img" -m 1 -p 262144 "$dir/ubinize.cfg" &&
            perl -e 'print "\xff" x $ARGV[0]' "$size" >"$dir/storage.img" &&
            dd if="$dir/ubi.img" of="$dir/storage.img" conv=notrunc status=none || return 1
    fi
    compose_flash "$dir/flash.img" "$dir/storage.img"
}

# Boots the unit of layout $1 in mode $2 on flash image $3, its console (without carriage
# returns) in file $4; the command is run by $5... when given (strace). The flash is cut into
# the layout's partitions; $states (default 1) of them hold states to check, and for UBIFS each
# of those is attached. $initramfs and $init, when set, name another initramfs and the program
# the kernel starts in it. Fails unless the unit said it was done.
boot_unit() {
    local layout=$1 mode=$2 image=$3 console=$4 size parts="" part
    shift 4
    size=$(partition_bytes "$layout")
    for ((part = 0; part < flash_bytes / size; part++)); do
        parts+="${parts:+,}$((size >> 20))M(s$part)"
    done
    parts="mtdparts=34000000.flash:$parts"
    if [ "$layout" == ubifs ]; then
        for ((part = 0; part < ${states:-1}; part++)); do parts+=" ubi.mtd=s$part"; done
    fi
    "$@" timeout 120 qemu-system-arm -M versatilepb -cpu arm926 -m 64 -kernel "$kernel/zImage" \
        -dtb "$kernel/versatile-pb.dtb" -initrd "${initramfs:-$work/initramfs.gz}" -append \
        "console=ttyAMA0 quiet rdinit=${init:-/init} unitcfg_mode=$mode unitcfg_layout=$layout unitcfg_states=${states:-1} $parts ${boot_parameters:-}" \
        -drive if=pflash,file="$image",format=raw -display none -monitor none -serial stdio \
        -no-reboot </dev/null 2>&1 | tr -d '\r' >"$console"
    grep -q "unit: done" "$console"
}

# Checks states NAME... of the layout being replayed in one boot, one partition each: builds
# each, boots them, judges each by its part of the console. Prints "NAME VERDICT" for each.
check_batch() {
    local name images=() console=$dir/batch-$1.console part=0 verdict
    for name; do
        build_state "$dir/base.img" "$dir/writes" "$name" "$dir/state-$name.img"
        images+=("$dir/state-$name.img")
    done
    compose_flash "$dir/batch-$1.img" "${images[@]}" && rm -f "${images[@]}" &&
        states=$# boot_unit "$layout" check "$dir/batch-$1.img" "$console"
    rm -f "$dir/batch-$1.img"
    for name; do
        # This state's part of the console, from its heading to the next one.
        awk -v heading="unit: state $part" '
            /^unit: state [0-9]+$/ { inside = ($0 == heading) } inside' "$console" >"$console.$name"
        if grep -q "^unit: after" "$console.$name"; then
            verdict=$(judge_state "$layout $name" "$console.$name")
        else
            verdict="FAIL: $layout $name: the check did not get through: $(tail -n 3 "$console.$name" "$console" | tr '\n' ' ')"
        fi
        echo "$name $verdict"
        part=$((part + 1))
    done
}

# Records the writes of a run in layout $1, then checks every state they give.
replay_layout() {
    layout=$1 dir=$work/$1
    local writes size
    size=$(partition_bytes "$layout")
    mkdir -p "$dir"
    make_flash_image "$layout" >/dev/null 2>&1 &&
        boot_unit "$layout" settle "$dir/flash.img" "$dir/settle.console" ||
        { echo "FAIL: $layout: no flash image"; return 1; }
    head -c "$size" "$dir/flash.img" >"$dir/base.img"
    boot_unit "$layout" record "$dir/flash.img" "$dir/record.console" strace -f -qq -xx \
        -s 300000 -e trace=pwrite64,pwritev,pwritev2 -e signal=none -o "$dir/trace" ||
        { echo "FAIL: $layout: the recording boot failed: $(tail -n 3 "$dir/record.console")"; return 1; }
    writes=$(writes_from_trace "$dir/trace" "$dir/writes") ||
        { echo "FAIL: $layout: cannot read the writes"; return 1; }
    # Every write lies in the storage's partition, the only one mounted.
    awk -v size="$size" '$1 + length($2) / 2 > size { exit 1 }' "$dir/writes" ||
        { echo "FAIL: $layout: a write beyond the storage's partition"; return 1; }
    # A state cuts inside the bytes a program changes, which needs what each write overwrote.
    export before=$dir/before
    writes_before "$dir/base.img" "$dir/writes" "$before" ||
        { echo "FAIL: $layout: cannot read what the writes overwrote"; return 1; }
    flash_states "$dir/writes" | state_digests "$dir/base.img" "$dir/writes" |
        check_states $((flash_bytes / size)) | sum_up_states powercut-unit "$layout" "$writes"
}

powercut_records "$work"
make_initramfs || { echo "FAIL: cannot make the initramfs"; exit 1; }
status=0
boot_through_init || status=1
for layout in "$@"; do
    replay_layout "$layout" || status=1
done
[ $status -eq 0 ] && echo "powercut-unit: the boot and every state passed"
exit $status
