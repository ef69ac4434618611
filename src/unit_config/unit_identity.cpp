#include "unit_identity.h"

#include "../storage/regular_file.h"
#include "../system/le_bytes.h"

namespace {

constexpr uint16_t known_units[] = {
    6162, 6163, 6164, 6165, 6166, 6167, 6168, 6169, 6170, 6171, 6172, 6173, 6174,
    6175, 6350, 6351, 6352, 6353, 6354, 6355, 6356, 6357, 6358, 6360, 6362,
};
static_assert(sizeof known_units / sizeof known_units[0] == 25, "25 known units");

} // namespace

read_outcome read_unit_number(const char *identity_file, uint16_t &unit_number, int64_t &file_size,
                              trust &verdict) {
    uint8_t record[unit_identity_record_size];
    read_outcome read =
        read_trusted_file_start(identity_file, record, sizeof record, file_size, verdict);
    if (read == read_outcome::whole)
        unit_number = load_le16(record, unit_number_offset);
    return read;
}

bool is_known_unit(uint16_t unit_number) {
    for (uint16_t known : known_units) {
        if (known == unit_number)
            return true;
    }
    return false;
}
