# The verdict on one power cut, shared by the power-cut stages. Source this file after
# tests/e2e/records.sh.
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

# Judges one cut: $1 what the installed file holds, $2 whether the success entry is on storage
# (yes/no), $3 whether the guest saw the run end with success logged (yes/no). Prints nothing
# when the cut lost nothing, else why it did; returns 1 then.
judge_cut() {
    case $1 in
    empty | torn) echo "the installed file is $1" ;;
    old) [ "$2" == no ] && [ "$3" == no ] && return 0
        echo "the old record, under a success entry (on storage: $2, seen by the guest: $3)" ;;
    *) return 0 ;;
    esac
    return 1
}
