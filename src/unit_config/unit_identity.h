// The identity record that names the unit, and the units that have a staged configuration.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../storage/regular_file.h"

/// The identity record: 64 bytes, of which only the little-endian unit number at offset 0 is
/// examined.
inline constexpr size_t unit_identity_record_size = 64;
inline constexpr size_t unit_number_offset = 0;

/// Reads the unit number from the identity record in `identity_file`: `read_outcome::whole` when
/// it did. Only a file that root or the effective user put there is read (a record written by
/// another user would choose among root's staged files; see `read_trusted_file_start`, which
/// leaves the reason in `verdict`): anything but such a regular file (a FIFO there would block
/// the run), a file that cannot be read, or one of fewer than 64 bytes gives no number; bytes
/// beyond the 64th are not read. The file's size is left in `file_size`.
read_outcome read_unit_number(const char *identity_file, uint16_t &unit_number, int64_t &file_size,
                              trust &verdict);

/// True when `unit_number` is one of the 25 units with a staged configuration.
bool is_known_unit(uint16_t unit_number);
