#!/bin/bash
# Every crash state of a run on ext4, under User-Mode Linux: a Linux kernel run as an ordinary
# process, whose disks are image files (started through uml_launch.c, which lets it run on a
# host with AVX-512). One boot runs unitcfg as at boot on the unit's storage through
# dm-log-writes, which logs every write and flush in the order they completed. Every state a
# power cut can leave is then rebuilt from the log: each prefix of the writes, each with its last
# write half done, and, since a disk's volatile cache may keep the writes since the last flush in
# any order, each state at a flush with one of those writes left out. The disk is taken to write
# each 512-byte sector whole, and no more: a write of several sectors (every block of this file
# system is two) may stop between them, and the half-done write is its first half of sectors.
# Each state is judged as the unit's boot finds it, two ways: as it is, mounted by the guest's
# kernel (which replays the journal), and after the preen a boot runs before it mounts
# (`e2fsck -p`); then the next run must recover it (powercut.sh). A state no boot can mount (the
# kernel refuses it, or the preen stops the boot) counts apart when the write it cuts or leaves
# out is one of the file system's own blocks (superblock, group tables, journal, directories),
# since the program writes only its files' data, and when, repaired by hand, it recovers all
# the same. Any other such state fails.
# usage: uml_stage.sh UNITCFG
# Exits 0 when every state passed, 1 otherwise.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/records.sh"
source "$here/powercut.sh"
unitcfg=$(realpath "$1")
work=$(mktemp -d)
records=$work
trap '[ -n "${UNITCFG_KEEP:-}" ] || rm -rf "$work"' EXIT
modules=$(echo /usr/lib/uml/modules/*/kernel/drivers/md)
# What the guest's glibc may use of the host's processor: no AVX or XSAVE, whose registers UML
# keeps only in the FXSAVE layout where it is started by uml_launch.c; the SSE registers it keeps.
guest_tunables=glibc.cpu.hwcaps=-AVX512F,-AVX512VL,-AVX512BW,-AVX512DQ,-AVX2,-AVX,-XSAVE,-XSAVEC

# The guest's root: the host's shell and the utilities the program and the init use, with
# their libraries, the program, the init, the device-mapper modules, and the identity and
# staged records to put in /tmp.
make_root_image() {
    local root=$work/root program library
    mkdir -p "$root"/{proc,dev,tmp,usr/bin,usr/sbin,usr/lib,usr/lib64,usr/share/Quarvane} \
        "$root"/{home/Quarvane,stage,lib/modules/dm}
    ln -s usr/bin "$root/bin" && ln -s usr/lib "$root/lib" && ln -s usr/lib64 "$root/lib64"
    for program in dash cp date sed cat mount umount grep mkdir sleep stat od kmod dmsetup \
        "$unitcfg"; do
        program=$(PATH=$PATH:/usr/sbin:/sbin command -v "$program")
        cp "$program" "$root/usr/bin/"
        for library in $(ldd "$program" | grep -o '/[^ ]*'); do
            mkdir -p "$root/$(dirname "$library")" && cp -n "$library" "$root/$library"
        done
    done
    ln -s dash "$root/usr/bin/sh" && ln -s kmod "$root/usr/bin/insmod"
    cp "$modules/dm-mod.ko" "$modules/dm-log-writes.ko" "$root/lib/modules/dm/"
    cp "$here/uml_init.sh" "$root/init" && cp "$here/guest_run.sh" "$root/"
    identity_record 6170 >"$root/stage/UNIT.CFG"
    cp "$work/staged.bin" "$root/stage/6170.CFG"
    mkfs.ext4 -q -F -d "$root" "$work/root.img" 96M
}

# The unit's storage as it is before the run: the old record installed, no history. Two block
# groups, so that a torn primary superblock has a backup to be repaired from.
make_storage_image() {
    mkdir -p "$work/storage/share" "$work/storage/home"
    cp "$work/old.bin" "$work/storage/share/UNIT.CFG"
    mkfs.ext4 -q -F -b 1024 -d "$work/storage" "$work/base.img" 16M
}

# Boots the guest in mode $1, its console (without carriage returns) in file $2, with disks
# IMAGE... after the root (record mode: the storage, then the log of its writes; check mode:
# up to 15 storage images, checked one after another). Fails unless the guest said it was done.
boot_guest() {
    local mode=$1 console=$2 disks=() image
    shift 2
    for image; do disks+=("ubd$((${#disks[@]} + 1))=$image"); done
    timeout 300 "$work/uml_launch" linux.uml mem=128M ubd0r="$work/root.img" "${disks[@]}" \
        root=/dev/ubda ro init=/init unitcfg_mode="$mode" share_sectors=$(($(stat -c %s "$1") / 512)) \
        GLIBC_TUNABLES="$guest_tunables" quiet con=null con0=fd:0,fd:1 </dev/null 2>&1 |
        tr -d '\r' >"$console"
    grep -q "guest: done" "$console"
}

# Reads the dm-log-writes log $1 into write list $2 ("OFFSET HEXBYTES" lines) and prints the
# names of the states to check (build_state): every prefix; each with its last write half done
# when it spans several sectors; and at each flush, and at the end, each state with one of the
# writes since the previous flush left out, unless it was written with FUA.
states_from_log() {
    perl -e '
        my ($log, $list) = @ARGV;
        open(my $in, "<", $log) or die "$log: $!";
        open(my $out, ">", $list) or die "$list: $!";
        binmode $in;
        read($in, my $super, 28) == 28 or die "no log";
        my ($magic, $version, $entries, $size) = unpack("Q< Q< Q< L<", $super);
        $magic == 0x6a736677736872 or die "not a dm-log-writes log";
        my ($n, $at, @since_flush) = (0, $size);
        print "0\n";
        my $leave_out = sub { print "$n-without-$_\n" for @since_flush > 1 ? @since_flush : () };
        for (1 .. $entries) {
            seek($in, $at, 0) or die;
            read($in, my $header, 32) == 32 or die "short log";
            my ($sector, $sectors, $flags) = unpack("Q< Q< Q<", $header);
            $at += $size;
            if ($flags & 1) { $leave_out->(); @since_flush = () }    # a flush
            next if $flags & (4 | 8) or $sectors == 0;              # a discard or a mark
            seek($in, $at, 0) && read($in, my $data, $sectors * $size) == $sectors * $size
                or die "short data";
            $at += $sectors * $size;
            $n++;
            print $out $sector * $size, " ", unpack("H*", $data), "\n";
            print "$n-half\n" if $sectors > 1;
            print "$n\n";
            push @since_flush, $n unless $flags & 2;
        }
        $leave_out->();
        close($out) or die;' "$1" "$2"
}

# Builds in image $2 the state named $1: a state name of build_state, as the kernel would mount
# it, or that name and "+preen", after the preen. Returns the preen's status.
make_state() {
    local status=0
    atom=512 build_state "$work/base.img" "$work/writes" "${1%+preen}" "$2"
    [ "$1" == "${1%+preen}" ] || e2fsck -p "$2" >/dev/null 2>&1 || status=$?
    return $status
}

# Prints each state named on standard input, each once as it is and once preened, with a digest
# of its image and what the preen returned: states with the same digest are the same image.
# The image of each digest's first state is kept as state-NAME.img, with the preen's status in
# state-NAME.status, for its check (check_batch) to boot as it is, not build and preen again.
preened_digests() {
    local name image status digest
    declare -A seen=()
    while read -r name; do
        for name in "$name" "$name+preen"; do
            image=$work/state-$name.img status=0
            make_state "$name" "$image" || status=$?
            digest=$(md5sum <"$image" | cut -d ' ' -f 1):$status
            if [ -n "${seen[$digest]:-}" ]; then
                rm -f "$image"
            else
                seen[$digest]=1
                echo "$status" >"$work/state-$name.status"
            fi
            echo "$name $digest"
        done
    done
}

# Checks states NAME... in one boot, one disk each: builds each, boots them, judges each by its
# part of the console. Prints "NAME VERDICT" for each. A state the kernel will not mount is
# "unmountable"; so is one the preen stops, if after its repair by hand (`e2fsck -fy`, which
# takes a backup superblock) the next run recovers it.
check_batch() {
    local name status images=() console=$work/batch-$1.console letters=bcdefghijklmnop verdict
    declare -A by_hand=()
    for name; do
        status=0
        if [ -f "$work/state-$name.status" ]; then
            status=$(cat "$work/state-$name.status")
        else
            make_state "$name" "$work/state-$name.img" || status=$?
        fi
        if [ $status -ge 4 ]; then
            by_hand[$name]=1 status=0
            e2fsck -fy "$work/state-$name.img" >/dev/null 2>&1 || status=$?
            [ $status -lt 4 ] ||
                { echo "$name FAIL: ext4 $name: e2fsck -fy cannot repair it"; continue; }
        fi
        images+=("$work/state-$name.img")
    done
    [ ${#images[@]} -gt 0 ] || return 0
    boot_guest check "$console" "${images[@]}"
    for ((disk = 0; disk < ${#images[@]}; disk++)); do
        name=${images[disk]#"$work/state-"} name=${name%.img}
        # This disk's part of the console, from its heading to the next one.
        awk -v heading="guest: disk /dev/ubd${letters:disk:1}" '
            /^guest: disk / { inside = ($0 == heading) } inside' "$console" >"$console.$name"
        if grep -q "unit: unmountable" "$console.$name"; then
            verdict=unmountable
        elif grep -q "unit: after" "$console.$name"; then
            verdict=$(judge_state "ext4 $name" "$console.$name")
        else
            verdict="FAIL: ext4 $name: the check did not get through: $(tail -n 3 "$console")"
        fi
        case ${by_hand[$name]:-}:$verdict in
        1:unmountable) verdict="FAIL: ext4 $name: unmountable even repaired by hand" ;;
        1:FAIL:*) verdict="FAIL: ext4 $name: unmountable; by hand, ${verdict#"FAIL: ext4 $name: "}" ;;
        1:*) verdict=unmountable ;;
        esac
        echo "$name $verdict"
    done
    rm -f "${images[@]}"
}

# Prints the blocks of the file system on image $1 that are its own, as "FIRST LAST" lines:
# every group's superblock, descriptors and bitmaps, the inode tables, the journal's and each
# directory's blocks (the directories of the storage $2 as made, and lost+found); the rest
# holds the files' data.
file_system_blocks() {
    local directory
    dumpe2fs "$1" 2>/dev/null |
        perl -ne 'print "$1 ", $2 // $1, "\n"
            while /(?:superblock|descriptors|GDT blocks|bitmap|table) at (\d+)(?:-(\d+))?/g'
    for directory in "<8>" /lost+found $(cd "$2" && find . -type d | sed 's|^\.||; s|^$|/|'); do
        debugfs -R "blocks $directory" "$1" 2>/dev/null | tr ' ' '\n' | grep -x '[0-9]*' |
            sed 's/.*/& &/'
    done
}

# Reads verdict lines ("NAME booted|same VERDICT") and passes them on, each "unmountable" one
# either as such, when the write its state cuts short or leaves out touches only blocks of the
# file system's own (file $1, file_system_blocks), or as a FAIL.
own_writes_unmountable() {
    perl -e '
        my ($blocks, $size, $list) = @ARGV;
        open(my $in, "<", $blocks) or die "$blocks: $!";
        my %own;
        for (<$in>) { my ($first, $last) = split; $own{$_} = 1 for $first .. $last }
        open($in, "<", $list) or die "$list: $!";
        my @writes = map { [split] } <$in>;
        while (<STDIN>) {
            my ($name, $how, $verdict) = /^(\S+) (\S+) (.*)$/ or die "no verdict: $_";
            if ($verdict eq "unmountable") {
                my ($upto, $half, $skip) =
                    $name =~ /^(\d+)(-half)?(?:-without-(\d+))?(?:\+preen)?$/ or die $name;
                my $cut = $skip // ($half ? $upto : undef);
                my $why;
                if (!defined $cut) {
                    $why = "unmountable with every write whole";
                } else {
                    my ($offset, $hex) = @{$writes[$cut - 1]};
                    my $end = $offset + length($hex) / 2;
                    $why = "unmountable, and write $cut holds file data"
                        if grep { !$own{$_} } int($offset / $size) .. int(($end - 1) / $size);
                }
                $verdict = "FAIL: ext4 $name: $why" if $why;
            }
            print "$name $how $verdict\n";
        }' "$1" "$(dumpe2fs -h "$work/base.img" 2>/dev/null | awk '/^Block size:/ { print $3 }')" \
        "$work/writes"
}

powercut_records "$work"
cc -O2 -o "$work/uml_launch" "$here/uml_launch.c" && make_root_image >/dev/null &&
    make_storage_image >/dev/null || { echo "FAIL: cannot make the images"; exit 1; }
cp "$work/base.img" "$work/recorded.img"
truncate -s 64M "$work/log.img"
boot_guest record "$work/record.console" "$work/recorded.img" "$work/log.img" ||
    { echo "FAIL: the recording boot failed: $(tail -n 5 "$work/record.console")"; exit 1; }
states_from_log "$work/log.img" "$work/writes" >"$work/states" ||
    { echo "FAIL: cannot read the log of writes"; exit 1; }
file_system_blocks "$work/base.img" "$work/storage" >"$work/own-blocks"
# Fifteen disks a boot, the most UML gives a guest beside its root.
preened_digests <"$work/states" | check_states 15 | own_writes_unmountable "$work/own-blocks" |
    sum_up_states powercut-uml ext4 "$(wc -l <"$work/writes")" &&
    echo "powercut-uml: every state passed"
