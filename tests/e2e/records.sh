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

# The staged record of the typical run: tag 89, adjusted_value 0, selector 1309, all else 0.
typical_staged_record() {
    le16 89; le16 0; le16 0; le16 0
    head -c 28 /dev/zero
    le16 1309
    head -c 6 /dev/zero
}
