// The installed configuration record: 44 bytes, little-endian fields, a 16-bit XOR checksum.
#pragma once

#include <stddef.h>
#include <stdint.h>

inline constexpr size_t unit_config_record_size = 44;

/// The record as it lies on disk. Fields are read and written through the functions below;
/// bytes that no field names are carried through every change unchanged.
struct unit_config_record {
    uint8_t bytes[unit_config_record_size];
};

// Field offsets.
inline constexpr size_t tag_offset = 0;            // unsigned 32-bit
inline constexpr size_t adjusted_value_offset = 6; // signed 16-bit
inline constexpr size_t selector_offset = 36;      // unsigned 16-bit
inline constexpr size_t option_byte_offset = 38;   // unsigned 8-bit
inline constexpr size_t adjust_stamp_offset = 40;  // unsigned 16-bit
inline constexpr size_t checksum_offset = 42;      // unsigned 16-bit
static_assert(checksum_offset + 2 == unit_config_record_size, "the checksum ends the record");

/// Only a record with this tag is examined or changed.
inline constexpr uint32_t config_record_tag = 89;

uint32_t record_tag(const unit_config_record &record);
int16_t adjusted_value(const unit_config_record &record);
uint16_t selector(const unit_config_record &record);
uint8_t option_byte(const unit_config_record &record);
uint16_t adjust_stamp(const unit_config_record &record);
uint16_t stored_checksum(const unit_config_record &record);

/// The XOR of the 21 little-endian 16-bit words before the checksum.
uint16_t compute_checksum(const unit_config_record &record);

/// Checks and repairs `record` in place. A record whose tag is not 89 is left as it is and
/// false returned. Otherwise an `option_byte` of 0 becomes 3; under `selector` 1309 or 1310 an
/// `adjusted_value` of -1899 or more becomes -2026 or -2036 and `adjust_stamp` becomes 21017;
/// and the checksum is recomputed. Returns true when the record must be rewritten: something
/// changed, or the stored checksum was wrong (the record then holds the right one).
bool repair_record(unit_config_record &record);
