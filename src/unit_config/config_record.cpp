#include "config_record.h"

#include "../system/le_bytes.h"

namespace {

constexpr uint8_t unset_option_byte = 0;
constexpr uint8_t default_option_byte = 3;

/// Values of `adjusted_value` at or above this are corrected under a correcting selector.
constexpr int correction_threshold = -1899;
constexpr uint16_t correction_stamp = 21017;

struct correction {
    uint16_t selector;
    int16_t corrected_value;
};
constexpr correction corrections[] = {
    {1309, -2026},
    {1310, -2036},
};

const correction *correction_for(uint16_t selector_code) {
    for (const correction &entry : corrections) {
        if (entry.selector == selector_code)
            return &entry;
    }
    return nullptr;
}

void set_adjusted_value(unit_config_record &record, int16_t value) {
    store_le16(record.bytes, adjusted_value_offset, static_cast<uint16_t>(value));
}

} // namespace

uint32_t record_tag(const unit_config_record &record) {
    return load_le32(record.bytes, tag_offset);
}

int16_t adjusted_value(const unit_config_record &record) {
    int raw = load_le16(record.bytes, adjusted_value_offset);
    return static_cast<int16_t>(raw < 0x8000 ? raw : raw - 0x10000);
}

uint16_t selector(const unit_config_record &record) {
    return load_le16(record.bytes, selector_offset);
}

uint8_t option_byte(const unit_config_record &record) {
    return record.bytes[option_byte_offset];
}

uint16_t adjust_stamp(const unit_config_record &record) {
    return load_le16(record.bytes, adjust_stamp_offset);
}

uint16_t stored_checksum(const unit_config_record &record) {
    return load_le16(record.bytes, checksum_offset);
}

uint16_t compute_checksum(const unit_config_record &record) {
    uint16_t checksum = 0;
    for (size_t offset = 0; offset < checksum_offset; offset += 2)
        checksum = static_cast<uint16_t>(checksum ^ load_le16(record.bytes, offset));
    return checksum;
}

bool repair_record(unit_config_record &record) {
    if (record_tag(record) != config_record_tag)
        return false;

    bool changed = false;
    if (option_byte(record) == unset_option_byte) {
        record.bytes[option_byte_offset] = default_option_byte;
        changed = true;
    }

    const correction *due = correction_for(selector(record));
    if (due != nullptr && adjusted_value(record) >= correction_threshold) {
        set_adjusted_value(record, due->corrected_value);
        store_le16(record.bytes, adjust_stamp_offset, correction_stamp);
        changed = true;
    }

    uint16_t checksum = compute_checksum(record);
    if (!changed && checksum == stored_checksum(record))
        return false;
    store_le16(record.bytes, checksum_offset, checksum);
    return true;
}
