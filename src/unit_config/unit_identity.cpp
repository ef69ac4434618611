#include "unit_identity.h"

#include <cstdio>

#include "le_bytes.h"

namespace {

constexpr std::uint16_t known_units[] = {
    6162, 6163, 6164, 6165, 6166, 6167, 6168, 6169, 6170, 6171, 6172, 6173, 6174,
    6175, 6350, 6351, 6352, 6353, 6354, 6355, 6356, 6357, 6358, 6360, 6362,
};
static_assert(sizeof known_units / sizeof known_units[0] == 25, "25 known units");

} // namespace

bool read_unit_number(const char *identity_file, std::uint16_t &unit_number) {
    std::FILE *file = std::fopen(identity_file, "rb");
    if (file == nullptr)
        return false;
    std::uint8_t record[unit_identity_record_size];
    std::size_t records_read = std::fread(record, sizeof record, 1, file);
    (void)std::fclose(file);
    if (records_read != 1)
        return false;
    unit_number = load_le16(record, unit_number_offset);
    return true;
}

bool is_known_unit(std::uint16_t unit_number) {
    for (std::uint16_t known : known_units) {
        if (known == unit_number)
            return true;
    }
    return false;
}
