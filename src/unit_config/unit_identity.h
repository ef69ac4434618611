// The identity record that names the unit, and the units that have a staged configuration.
#pragma once

#include <stddef.h>
#include <stdint.h>

/// The identity record: 64 bytes, of which only the little-endian unit number at offset 0 is
/// examined.
inline constexpr size_t unit_identity_record_size = 64;
inline constexpr size_t unit_number_offset = 0;

/// Reads the unit number from the identity record in `identity_file`. Returns false when the
/// file cannot be opened or holds fewer than 64 bytes; bytes beyond the 64th are not read.
bool read_unit_number(const char *identity_file, uint16_t &unit_number);

/// True when `unit_number` is one of the 25 units with a staged configuration.
bool is_known_unit(uint16_t unit_number);
