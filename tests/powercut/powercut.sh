# What the power-cut stages share: the records, the cut itself, and the verdict on each cut.
# Source this file after tests/e2e/records.sh. A stage defines
#   cut_once WINDOW DIR   boots its guest, cuts the power in WINDOW, reads what the next boot
#                         finds: the installed file into DIR/installed.bin (absent when there is
#                         none), and sets `stored` and `seen` to yes or no: whether the success
#                         entry is on storage, and whether the guest saw the run end with success
#                         logged. Returns 1 when the cut could not be made.
#
# Before each run the installed file holds an old record that needs nothing; the staged record
# of unit 6170 needs the repair, so a cut can fall inside the repair's rewrite too. After a cut
# the installed file must be whole: the old record, the staged one, or the staged one repaired;
# never empty, never anything else; and never the old one once a success entry for the unit is
# on storage or the guest saw the run end with success logged.

# Writes the records a cut may leave into directory $1: old.bin, staged.bin, repaired.bin.
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

# Judges one cut: $1 what the installed file holds, $2 whether the success entry is on storage,
# $3 whether the guest saw the run end with success logged. Prints nothing when the cut lost
# nothing, else why it did; returns 1 then.
judge_cut() {
    case $1 in
    empty | torn) echo "the installed file is $1" ;;
    old) [ "$2" == no ] && [ "$3" == no ] && return 0
        echo "the old record, under a success entry (on storage: $2, seen by the guest: $3)" ;;
    *) return 0 ;;
    esac
    return 1
}

# A random delay in seconds between $1 and $2 milliseconds.
random_delay() {
    local ms=$(($1 + (RANDOM * 32768 + RANDOM) % ($2 - $1 + 1)))
    printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}

# Reads the console of the guest whose process group is $1 from FIFO $2 into file $3 until it
# ends; $4 seconds after the line holding $5 (or at once, on a line holding "FAIL"), kills the
# whole group. Returns 1 when it never said $5, having printed the console.
cut_on_console() {
    local group=$1 fifo=$2 log=$3 delay=$4 marker=$5 line cut=no
    : >"$log"
    while IFS= read -r -t 120 line; do
        echo "$line" >>"$log"
        case $line in
        *"$marker"*) [ $cut == no ] && sleep "$delay" && kill -KILL -- -"$group" && cut=yes ;;
        *FAIL*) kill -KILL -- -"$group" ;;
        esac
    done <"$fifo"
    kill -KILL -- -"$group" 2>/dev/null
    wait "$group" 2>/dev/null
    [ $cut == yes ] && return 0
    echo "FAIL: the guest never said '$marker':"
    cat "$log"
    return 1
}

# Runs $3 cuts of window $2 of stage $1 in directory $4; prints one line of counts, and a line for
# each cut that lost something. Returns 1 when one did, or a cut could not be made.
run_window() {
    local stage=$1 window=$2 cuts=$3 dir=$4 i held why failed=0
    declare -A count=()
    mkdir -p "$dir"
    for ((i = 0; i < cuts; i++)); do
        rm -f "$dir/installed.bin"
        cut_once "$window" "$dir" || { failed=1; continue; }
        held=$(classify_installed "$dir/installed.bin" "$records")
        count[$held]=$((${count[$held]:-0} + 1))
        why=$(judge_cut "$held" "$stored" "$seen") || { echo "FAIL: $window cut $i: $why"; failed=1; }
    done
    echo "$stage: $window: $cuts cuts: repaired ${count[repaired]:-0}," \
        "staged ${count[staged]:-0}, old ${count[old]:-0}, empty ${count[empty]:-0}," \
        "torn ${count[torn]:-0}"
    return $failed
}
