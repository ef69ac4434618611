// Test support: installed configuration records built from named fields, and the other files a
// run reads: the unit's identity record and a staged file's bytes.
#pragma once

#include <cstdint>
#include <string>

#include "unit_config/config_record.h"

/// The fields of a record; the bytes no field names are `filler`. Set them by name
/// (`record_fields().selector(1309)`) or all in order ({tag, adjusted_value, selector, ...}).
struct record_fields {
    std::uint32_t tag_ = 89;
    std::int16_t adjusted_value_ = 0;
    std::uint16_t selector_ = 0;
    std::uint8_t option_byte_ = 0;
    std::uint16_t adjust_stamp_ = 0;
    std::uint16_t checksum_ = 0;
    std::uint8_t filler_ = 0;

    record_fields &tag(std::uint32_t value) { return tag_ = value, *this; }
    record_fields &adjusted_value(std::int16_t value) { return adjusted_value_ = value, *this; }
    record_fields &selector(std::uint16_t value) { return selector_ = value, *this; }
    record_fields &option_byte(std::uint8_t value) { return option_byte_ = value, *this; }
    record_fields &adjust_stamp(std::uint16_t value) { return adjust_stamp_ = value, *this; }
    record_fields &checksum(std::uint16_t value) { return checksum_ = value, *this; }
    record_fields &filler(std::uint8_t value) { return filler_ = value, *this; }
};

inline unit_config_record make_record(const record_fields &fields) {
    unit_config_record record;
    for (std::uint8_t &byte : record.bytes)
        byte = fields.filler_;
    auto put16 = [&](std::size_t offset, std::uint16_t value) {
        record.bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
        record.bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    put16(0, static_cast<std::uint16_t>(fields.tag_ & 0xFFFF));
    put16(2, static_cast<std::uint16_t>(fields.tag_ >> 16));
    put16(6, static_cast<std::uint16_t>(fields.adjusted_value_));
    put16(36, fields.selector_);
    record.bytes[38] = fields.option_byte_;
    put16(40, fields.adjust_stamp_);
    put16(42, fields.checksum_);
    return record;
}

inline std::string record_bytes(const unit_config_record &record) {
    return std::string(reinterpret_cast<const char *>(record.bytes), sizeof record.bytes);
}

/// True when the XOR of all 22 words, the checksum included, is 0: the checksum is right.
inline bool checksum_holds(const std::string &bytes) {
    unsigned folded = 0;
    for (std::size_t i = 0; i + 1 < 44; i += 2)
        folded ^= static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                             << 8;
    return folded == 0;
}

/// The unit's identity record naming unit `unit` (its first two bytes, least significant first),
/// `size` bytes long (the unit writes 64); the bytes after the number are filler.
inline std::string identity_of(std::uint16_t unit, std::size_t size = 64) {
    std::string record(size, '\x5A');
    record[0] = static_cast<char>(unit & 0xFF);
    record[1] = static_cast<char>(unit >> 8);
    return record;
}

/// A staged file's bytes where only their being copied whole matters.
constexpr char staged_bytes[] = "staged configuration of the unit";
