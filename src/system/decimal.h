// Numbers in decimal: one writer for every number the program prints or puts in a command.
#pragma once

#include <stddef.h>
#include <stdint.h>

/// The characters `value` takes in decimal, its sign included: for sizing buffers at compile
/// time ("65535" is 5, "-1" is 2).
constexpr size_t decimal_length(int64_t value) {
    size_t length = value < 0 ? 2 : 1;
    for (; value <= -10 || value >= 10; value /= 10)
        ++length;
    return length;
}

/// The longest number in decimal, "-9223372036854775808", and room for it with a NUL.
inline constexpr size_t max_decimal_length = decimal_length(INT64_MIN);
using decimal_text = char[max_decimal_length + 1];

/// Writes `value` into `text` in decimal, '-' before a negative one, without leading zeros or
/// blanks, and a NUL after it. Returns its length. 64 bits on every build: a tag of 0xFFFFFFFF
/// or a size past 2 GiB prints the same on the unit as on a host.
size_t write_decimal(int64_t value, decimal_text &text);
