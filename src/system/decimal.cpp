#include "decimal.h"

#include <string.h>

namespace {

/// `value` / 10, as a multiplication by the reciprocal (0xCCCCCCCD / 2^35, exact for every
/// 32-bit value). Built for size, the compiler would call libgcc's division for `/` and `%`
/// here: the unit has no divide instruction, and its binary need not carry one.
uint32_t tenth(uint32_t value) {
    return static_cast<uint32_t>((uint64_t{value} * uint64_t{0xCCCCCCCD}) >> 35);
}

/// Divides `value` by 10 in place and returns the remainder, in 32-bit steps: a 64-bit
/// division would bring the C runtime's long division into the unit's binary.
unsigned divide_by_ten(uint64_t &value) {
    uint64_t quotient = 0;
    uint32_t remainder = 0;
    for (int shift = 48; shift >= 0; shift -= 16) {
        uint32_t part = remainder << 16 | static_cast<uint32_t>(value >> shift & 0xFFFF);
        uint32_t part_quotient = tenth(part);
        quotient |= static_cast<uint64_t>(part_quotient) << shift;
        remainder = part - part_quotient * 10;
    }
    value = quotient;
    return remainder;
}

} // namespace

size_t write_decimal(int64_t value, decimal_text &text) {
    char digits[max_decimal_length];
    size_t at = sizeof digits;
    uint64_t magnitude =
        value < 0 ? 0ULL - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[--at] = static_cast<char>('0' + divide_by_ten(magnitude));
    } while (magnitude != 0);
    if (value < 0)
        digits[--at] = '-';
    size_t length = sizeof digits - at;
    memcpy(text, digits + at, length);
    text[length] = '\0';
    return length;
}
