// Little-endian fields of on-disk records, read and written byte by byte so the result does not
// depend on the host's byte order or alignment.
#pragma once

#include <stddef.h>
#include <stdint.h>

inline uint16_t load_le16(const uint8_t *bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

inline uint32_t load_le32(const uint8_t *bytes, size_t offset) {
    return uint32_t{load_le16(bytes, offset)} | uint32_t{load_le16(bytes, offset + 2)} << 16;
}

inline void store_le16(uint8_t *bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}
