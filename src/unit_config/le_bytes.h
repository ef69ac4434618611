// Little-endian fields of on-disk records, read and written byte by byte so the result does not
// depend on the host's byte order or alignment.
#pragma once

#include <cstddef>
#include <cstdint>

inline std::uint16_t load_le16(const std::uint8_t *bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

inline std::uint32_t load_le32(const std::uint8_t *bytes, std::size_t offset) {
    return std::uint32_t{load_le16(bytes, offset)} | std::uint32_t{load_le16(bytes, offset + 2)}
                                                         << 16;
}

inline void store_le16(std::uint8_t *bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}
