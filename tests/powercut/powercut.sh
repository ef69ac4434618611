# What the crash-state stages share: the records, the states a recorded run's writes give, and
# the verdict on each. Source this file after tests/e2e/records.sh.
#
# Before each run the installed file holds an old record that needs nothing; the staged record
# of unit 6170 needs the repair, so the writes of both the install and the repair are among the
# states. A state passes when the installed file is whole (the old record, the staged one, or
# the staged one repaired; never empty, never anything else) and is not the old one under a
# success entry; and when the next run, from that state, leaves the repaired record with one
# link, nothing beside it, and the success entry in the history.

# Writes the records a state may hold into directory $1: old.bin, staged.bin, repaired.bin.
powercut_records() {
    config_record 89 -2036 1310 3 21017 0xAF51 >"$1/old.bin"
    typical_staged_record >"$1/staged.bin"
    config_record 89 -2026 1309 3 21017 0xAF48 >"$1/repaired.bin"
}

# Prints what installed file $1 holds, by the records in directory $2: old, staged, repaired,
# empty (missing or no bytes) or torn (anything else).
classify_installed() {
    local record
    [ -s "$1" ] || { echo empty; return; }
    for record in old staged repaired; do
        cmp -s "$1" "$2/$record.bin" && { echo "$record"; return; }
    done
    echo torn
}

# Judges the state named $1 by the console $2 of the boot that checked it, whose lines
# "unit: before ..." say what the storage held and "unit: after ..." what the next run left
# (unit_init.sh, uml_init.sh). Prints what the state held (old, staged, repaired) when it
# passed; otherwise a FAIL line, and returns 1.
judge_state() {
    local name=$1 console=$2 held after why=
    record_from_console before "$console" >"$console.before"
    record_from_console after "$console" >"$console.after"
    held=$(classify_installed "$console.before" "$records")
    after=$(classify_installed "$console.after" "$records")
    case $held in
    empty | torn) why="the installed file is $held" ;;
    old) grep -q "before success entry" "$console" && why="the old record under a success entry" ;;
    esac
    [ "$after" == repaired ] || why="${why:+$why; }the next run left the $after record"
    grep -q "after links 1$" "$console" || why="${why:+$why; }the next run left other than one link"
    grep -q "after temporary file left" "$console" &&
        why="${why:+$why; }the next run left a temporary file"
    grep -q "after success entry" "$console" || why="${why:+$why; }the next run logged no success"
    [ -z "$why" ] && { echo "$held"; return 0; }
    echo "FAIL: $name: $why"
    return 1
}

# Writes the record that console $2 shows for moment $1 (before, after) as bytes: the line
# holds each byte in hexadecimal after a space (nothing for no file).
record_from_console() {
    perl -ne 'if (/^(?:\S+: )?unit: '"$1"' record((?: [0-9a-f]{2})*)\s*$/) {
                  (my $hex = $1) =~ tr/ //d; print pack("H*", $hex) }' "$2"
}

# Turns the writes of the `strace -f -xx` trace $1 into write list $2, one write a line:
# "OFFSET HEXBYTES". Each must be one whole pwrite64, all to one descriptor (the traced program
# writes to one file only). Prints the count; fails on a write it cannot read.
writes_from_trace() {
    list=$2 perl -ne '
        BEGIN { open(OUT, ">", $ENV{list}) or die "$ENV{list}: $!"; $count = 0 }
        next unless /^\d+ +pwrite/;
        my ($to, $hex, $length, $offset, $written) =
            /pwrite64\((\d+), "((?:\\x[0-9a-f]{2})*)", (\d+), (\d+)\) = (\d+)$/;
        defined $written && $written == $length or die "not one whole pwrite64: $_";
        $fd //= $to;
        $fd == $to or die "writes to more than one file: $_";
        $hex =~ s/\\x//g;
        print OUT "$offset $hex\n";
        $count++;
        END { close(OUT); print "$count\n" }' "$1"
}

# Perl shared by build_state and state_digests. read_writes: the write list in file $_[0]
# ("OFFSET HEXBYTES" lines) as [offset, bytes] pairs; with $before set, each write also holds
# the bytes it overwrote (writes_before). state_writes: what lands of those writes in the state
# named $_[0], in order, each [offset, bytes, index]: "K" has the first K writes landed;
# "K-without-J" the first K but write J, as a disk's volatile cache may leave them; "K-half" the
# first K-1 and write K stopped part-way: with $before, cut in the middle of the bytes it
# changes (a program of NOR flash changes a few bytes of the range the emulator writes back),
# else the first half of its bytes in whole units of $atom bytes (a write of several sectors);
# "K-bits" (with $before) the first K-1 and write K with only part of its bits programmed: NOR
# flash clears bits one way, and a program cut short leaves every other bit it clears still set.
state_perl='
    sub read_writes {
        open(my $in, "<", $_[0]) or die "$_[0]: $!";
        my @writes = map { my ($offset, $hex) = split; [$offset, pack("H*", $hex)] } <$in>;
        return @writes unless $ENV{before};
        open(my $old, "<", $ENV{before}) or die "$ENV{before}: $!";
        my @old = map { chomp; pack("H*", $_) } <$old>;
        $writes[$_][2] = $old[$_] for 0 .. $#writes;
        return @writes;
    }
    # The first and past-the-last byte a write changes, against what it overwrote.
    sub changed_range {
        my ($new, $old) = @_;
        my $diff = $new ^ $old;
        $diff =~ /[^\0]/g or return (0, 0);
        my $lo = pos($diff) - 1;
        $diff =~ /[^\0]\0*$/ or die;
        return ($lo, $-[0] + 1);
    }
    sub partial_write {
        my ($new, $old, $kind) = @_;
        my ($lo, $hi) = changed_range($new, $old);
        my $mid = $lo + int(($hi - $lo) / 2);
        return substr($new, 0, $mid) . substr($old, $mid) if $kind eq "half";
        my $partial = $new;
        for my $i ($lo .. $hi - 1) {
            my ($n, $o) = (ord(substr($new, $i, 1)), ord(substr($old, $i, 1)));
            substr($partial, $i, 1) = chr($n | ($o & ~$n & 0xAA));
        }
        return $partial;
    }
    # Whether a write only clears bits of what it overwrites (a program, not an erase).
    sub is_program {
        my ($new, $old) = @_;
        my ($lo, $hi) = changed_range($new, $old);
        return $hi > $lo && (($new & ~$old) =~ tr/\0//c) == 0;
    }
    sub state_writes {
        my ($name, $writes) = @_;
        my $atom = $ENV{atom} || 1;
        my ($upto, $kind, $skip) = ($name =~ /^(\d+)(?:-(half|bits))?(?:-without-(\d+))?$/)
            or die "no state $name";
        my @landed;
        for my $n (1 .. $upto) {
            next if defined $skip && $n == $skip;
            my ($offset, $bytes, $old) = @{$writes->[$n - 1]};
            if ($kind && $n == $upto) {
                $bytes = defined $old ? partial_write($bytes, $old, $kind)
                                      : substr($bytes, 0, int(length($bytes) / 2 / $atom) * $atom);
            }
            push @landed, [$offset, $bytes, $n - 1];
        }
        return @landed;
    }'

# Writes to file $3, one line a write of list $2, the bytes in hexadecimal that it overwrote
# in image $1 as the writes before it left them.
writes_before() {
    before="" perl -e "$state_perl"'
        my ($image, $list, $out) = @ARGV;
        my @writes = read_writes($list);
        open(my $in, "<", $image) or die "$image: $!";
        binmode $in;
        local $/;
        my $flash = <$in>;
        open(my $to, ">", $out) or die "$out: $!";
        for (@writes) {
            print $to unpack("H*", substr($flash, $_->[0], length $_->[1])), "\n";
            substr($flash, $_->[0], length $_->[1]) = $_->[1];
        }
        close($to) or die;' "$1" "$2" "$3"
}

# The states of write list $1 (read with $before) on the unit's flash, one name a line: each
# prefix, each with its last write half done, and, where that write is a program, with only
# part of its bits cleared.
flash_states() {
    perl -e "$state_perl"'
        my @writes = read_writes($ARGV[0]);
        print "0\n";
        for my $n (1 .. @writes) {
            print "$n-half\n$n\n";
            print "$n-bits\n" if is_program($writes[$n - 1][1], $writes[$n - 1][2]);
        }' "$1"
}

# Builds in image $4 the state named $3 (state_writes) of write list $2 over image $1.
build_state() {
    cp --sparse=always "$1" "$4"
    perl -e "$state_perl"'
        my ($list, $state, $image) = @ARGV;
        my @writes = read_writes($list);
        open(my $out, "+<", $image) or die "$image: $!";
        binmode $out;
        for (state_writes($state, \@writes)) {
            seek($out, $_->[0], 0) or die; print $out $_->[1] or die;
        }
        close($out) or die;' "$2" "$3" "$4"
}

# Prints each state named on standard input (build_state's names over image $1 and write list
# $2) with a digest of what its image holds: states with the same digest are the same image
# byte for byte. Only the bytes some write touches can differ from image $1, so only those are
# read and digested.
state_digests() {
    perl -MDigest::MD5=md5_hex -e "$state_perl"'
        my ($image, $list) = @ARGV;
        my @writes = read_writes($list);
        # The touched ranges, merged, and the base image'"'"'s bytes in them, one window.
        my @ranges;
        for (sort { $a->[0] <=> $b->[0] } map { [$_->[0], $_->[0] + length $_->[1]] } @writes) {
            if (@ranges && $_->[0] <= $ranges[-1][1]) {
                $ranges[-1][1] = $_->[1] if $_->[1] > $ranges[-1][1];
            } else { push @ranges, [@$_] }
        }
        open(my $base, "<", $image) or die "$image: $!";
        binmode $base;
        my ($window, %at) = ("");
        for (@ranges) {
            seek($base, $_->[0], 0) or die;
            read($base, my $bytes, $_->[1] - $_->[0]) == $_->[1] - $_->[0] or die "short image";
            $at{$_->[0]} = length($window) - $_->[0];
            $window .= $bytes;
        }
        my @starts = sort { $a <=> $b } keys %at;
        # Where each write lands in the window.
        my @in_window = map { my $o = $_->[0]; $o + $at{(grep { $_ <= $o } @starts)[-1]} } @writes;
        while (my $name = <STDIN>) {
            chomp $name;
            my $state = $window;
            substr($state, $in_window[$_->[2]], length $_->[1]) = $_->[1]
                for state_writes($name, \@writes);
            print "$name ", md5_hex($state), "\n";
        }' "$1" "$2"
}

# Checks states two batches at a time: reads "NAME DIGEST" lines on standard input and runs
# `check_batch NAME...` (defined by the stage, which prints a "NAME VERDICT" line for each
# state) on batches of at most $1 states, one state of each image, in an even number of
# batches of about one size, so that both at a time stay busy. A state whose image is one
# already checked gets that one's verdict, unbooted. Prints one line per state: its name,
# "booted" or "same", and its verdict line.
check_states() {
    local most=$1 name digest verdict verdicts unique=() same=() batches size at
    declare -A seen=()
    while read -r name digest; do
        if [ -n "${seen[$digest]:-}" ]; then
            same+=("$name ${seen[$digest]}")
        else
            seen[$digest]=$name
            unique+=("$name")
        fi
    done
    [ ${#unique[@]} -gt 0 ] || return 0
    batches=$(((${#unique[@]} + most - 1) / most))
    [ $((batches % 2)) -eq 0 ] || [ $batches -eq 1 ] || batches=$((batches + 1))
    size=$(((${#unique[@]} + batches - 1) / batches))
    verdicts=$(mktemp -d)
    for ((at = 0; at < ${#unique[@]}; at += size)); do
        while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n; done
        (check_batch "${unique[@]:at:size}" | while read -r name verdict; do
            echo "$verdict" >"$verdicts/$name" && echo "$name booted $verdict"
        done) &
    done
    wait
    for name in "${same[@]}"; do
        set -- $name
        verdict=$(cat "$verdicts/$2" 2>/dev/null || echo "FAIL: $2 gave no verdict")
        case $verdict in
        FAIL:*) verdict="FAIL: state $1, the image of ${verdict#FAIL: }" ;;
        esac
        echo "$1 same $verdict"
    done
    rm -rf "$verdicts"
}

# Sums up the verdict lines ("NAME booted|same HELD", "NAME booted|same unmountable" or
# "NAME booted|same FAIL: ...") on standard input for stage $1, layout $2 with $3 writes: prints
# the FAIL lines and one line of counts, with the states no boot could mount, if any, apart.
# Returns 1 on a FAIL.
sum_up_states() {
    local stage=$1 layout=$2 writes=$3 name how verdict states=0 booted=0 failed=0 unmountable=()
    declare -A count=()
    while read -r name how verdict; do
        states=$((states + 1))
        [ "$how" == booted ] && booted=$((booted + 1))
        case $verdict in
        old | staged | repaired) count[$verdict]=$((${count[$verdict]:-0} + 1)) ;;
        unmountable) unmountable+=("$name") ;;
        *) echo "$verdict"; failed=$((failed + 1)) ;;
        esac
    done
    local mountable=$((states - ${#unmountable[@]})) apart=
    [ ${#unmountable[@]} -eq 0 ] ||
        apart=", unmountable by the file system's own writes ${#unmountable[@]} (${unmountable[*]})"
    echo "$stage: $layout: $writes writes, $states states judged, $booted booted: old" \
        "${count[old]:-0}, staged ${count[staged]:-0}, repaired ${count[repaired]:-0}$apart," \
        "failed $failed; the next run restored $((mountable - failed)) of the $mountable mounted"
    [ $failed -eq 0 ] && [ $mountable -gt 0 ]
}
