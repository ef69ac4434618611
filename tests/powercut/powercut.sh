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

# Writes the record that console $2 shows for moment $1 (before, after) as bytes.
record_from_console() {
    perl -ne 'print pack("H*", $1) if /^(?:\S+: )?unit: '"$1"' record ([0-9a-f]*)/' "$2"
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

# Builds in image $4 the state named $3 of write list $2 ("OFFSET HEXBYTES" lines) over image
# $1: "K" has the first K writes landed; "K-half" the first K-1 and the first half of write K's
# bytes, in whole units of $atom bytes when set (a program or an erase of NOR flash, a write of
# several sectors, stopped part-way); "K-without-J" the first K but write J, as a disk's
# volatile cache may leave them.
build_state() {
    cp --sparse=always "$1" "$4"
    perl -e '
        my ($list, $state, $image) = @ARGV;
        my ($upto, $half, $skip) = ($state =~ /^(\d+)(-half)?(?:-without-(\d+))?$/) or die;
        open(my $in, "<", $list) or die "$list: $!";
        open(my $out, "+<", $image) or die "$image: $!";
        binmode $out;
        my $atom = $ENV{atom} || 1;
        for (my $n = 1; $n <= $upto && defined(my $line = <$in>); $n++) {
            next if defined $skip && $n == $skip;
            my ($offset, $hex) = split " ", $line;
            my $bytes = pack("H*", $hex);
            $bytes = substr($bytes, 0, int(length($bytes) / 2 / $atom) * $atom)
                if $half && $n == $upto;
            seek($out, $offset, 0) or die; print $out $bytes or die;
        }
        close($out) or die;' "$2" "$3" "$4"
}

# Checks states in parallel, two at a time: reads state names on standard input and runs
# `check_state NAME` for each (defined by the stage, which prints the judge_state line).
# Prints one line per state: its name and its verdict line.
check_states() {
    local name
    while read -r name; do
        while [ "$(jobs -r | wc -l)" -ge 2 ]; do wait -n; done
        (echo "$name $(check_state "$name" 2>&1 | tail -n 1)") &
    done
    wait
}

# Sums up the verdict lines ("NAME HELD" or "NAME FAIL: ...") on standard input for stage $1,
# layout $2 with $3 writes: prints the FAIL lines and one line of counts. Returns 1 on a FAIL.
sum_up_states() {
    local stage=$1 layout=$2 writes=$3 name verdict states=0 failed=0
    declare -A count=()
    while read -r name verdict; do
        states=$((states + 1))
        case $verdict in
        old | staged | repaired) count[$verdict]=$((${count[$verdict]:-0} + 1)) ;;
        *) echo "$verdict"; failed=$((failed + 1)) ;;
        esac
    done
    echo "$stage: $layout: $writes writes, $states states checked: old ${count[old]:-0}," \
        "staged ${count[staged]:-0}, repaired ${count[repaired]:-0}, failed $failed;" \
        "the next run restored $((states - failed)) of $states"
    [ $failed -eq 0 ] && [ $states -gt 0 ]
}
