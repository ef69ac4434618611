# The unit's on-disk records, built and read in the shell. Source this file.

# Writes the two bytes of the unsigned little-endian 16-bit value $1.
le16() {
    printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $((($1 >> 8) & 255)))"
}

# Writes a 64-byte identity record naming unit $1.
identity_record() {
    le16 "$1"
    head -c 62 /dev/zero | tr '\0' '\132'
}

# Prints the unsigned little-endian 16-bit value at offset $2 of file $1.
read_le16() {
    od -A n -t u2 --endian=little -j "$2" -N 2 "$1" | tr -d ' '
}

# Writes a 44-byte configuration record from its fields, all unnamed bytes 0:
#   config_record TAG ADJUSTED_VALUE SELECTOR OPTION_BYTE ADJUST_STAMP CHECKSUM
config_record() {
    le16 "$1"; le16 $(($1 >> 16)); le16 0; le16 "$2"
    head -c 28 /dev/zero
    le16 "$3"
    printf "\\$(printf %03o "$4")\\000"
    le16 "$5"; le16 "$6"
}

# The staged record of the typical run: tag 89, adjusted_value 0, selector 1309, all else 0.
typical_staged_record() { config_record 89 0 1309 0 0 0; }

# Prints the XOR of all 22 words of the 44-byte record in file $1: 0 when its checksum is right.
record_xor() {
    local folded=0 word
    for word in $(od -A n -t u2 --endian=little -N 44 "$1"); do
        folded=$((folded ^ word))
    done
    echo "$folded"
}

# Prints the installed configuration record in file $1 field by field.
describe_record() {
    local adjusted stored
    adjusted=$(read_le16 "$1" 6)
    stored=$(read_le16 "$1" 42)
    echo "tag            $(od -A n -t u4 --endian=little -N 4 "$1" | tr -d ' ')"
    echo "adjusted_value $((adjusted >= 32768 ? adjusted - 65536 : adjusted))"
    echo "selector       $(read_le16 "$1" 36)"
    echo "option_byte    $(od -A n -t u1 -j 38 -N 1 "$1" | tr -d ' ')"
    echo "adjust_stamp   $(read_le16 "$1" 40)"
    if [ "$(record_xor "$1")" -eq 0 ]; then
        printf "checksum       0x%04X (right)\n" "$stored"
    else
        printf "checksum       0x%04X (wrong)\n" "$stored"
    fi
}

# The typical run's record as the repair leaves it, as describe_record prints it.
typical_repaired_description() {
    cat <<'RECORD'
tag            89
adjusted_value -2026
selector       1309
option_byte    3
adjust_stamp   21017
checksum       0xAF48 (right)
RECORD
}
