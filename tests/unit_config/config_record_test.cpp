// Repairing a record in memory: the defaults, the correction table, the checksum.
#include "unit_config/config_record.h"

#include <gtest/gtest.h>

#include "record_builder.h"

namespace {

TEST(RecordFields, DecodeLittleEndianAtTheirOffsets) {
    unit_config_record record = make_record({0x01020359, -2026, 1310, 7, 21017, 0xAF51, 0xEE});
    EXPECT_EQ(record_tag(record), 0x01020359u);
    EXPECT_EQ(adjusted_value(record), -2026);
    EXPECT_EQ(record.bytes[6], 0x16);
    EXPECT_EQ(record.bytes[7], 0xF8);
    EXPECT_EQ(selector(record), 1310);
    EXPECT_EQ(option_byte(record), 7);
    EXPECT_EQ(adjust_stamp(record), 21017);
    EXPECT_EQ(stored_checksum(record), 0xAF51);
}

TEST(RepairChecksum, AllZeroRecordGetsTheDefaultAndChecksum90) {
    unit_config_record record = make_record(record_fields());
    ASSERT_TRUE(repair_record(record));
    EXPECT_EQ(option_byte(record), 3);
    EXPECT_EQ(record.bytes[42], 0x5A);
    EXPECT_EQ(record.bytes[43], 0x00);
    EXPECT_EQ(record_bytes(record),
              record_bytes(make_record(record_fields().option_byte(3).checksum(90))));
}

TEST(RepairCorrection, BothSelectors) {
    for (const record_fields &want : {record_fields{89, -2026, 1309, 3, 21017, 0xAF48},
                                      record_fields{89, -2036, 1310, 3, 21017, 0xAF51}}) {
        unit_config_record record = make_record(record_fields().selector(want.selector_));
        ASSERT_TRUE(repair_record(record));
        EXPECT_EQ(record_bytes(record), record_bytes(make_record(want)));
    }
}

TEST(RepairCorrection, ThresholdIsASignedComparisonAtMinus1899) {
    for (std::int16_t value : {-1899, -1, 0, 1, 32767}) {
        unit_config_record record =
            make_record(record_fields().adjusted_value(value).selector(1309));
        repair_record(record);
        EXPECT_EQ(adjusted_value(record), -2026) << value;
        EXPECT_EQ(adjust_stamp(record), 21017) << value;
    }
    for (std::int16_t value : {-1900, -2026, -32768}) {
        unit_config_record record =
            make_record(record_fields().adjusted_value(value).selector(1310).adjust_stamp(777));
        repair_record(record);
        EXPECT_EQ(adjusted_value(record), value);
        EXPECT_EQ(adjust_stamp(record), 777) << "stamp touched without a correction";
    }
}

TEST(RepairCorrection, OtherSelectorsAreNeverCorrected) {
    for (std::uint16_t code : {0, 1308, 1311, 0x1D05, 65535}) {
        // The words that are not 0: tag 89, the selector, and option_byte 1 at offset 38.
        auto right_checksum = static_cast<std::uint16_t>(89 ^ code ^ 1);
        unit_config_record record =
            make_record(record_fields().selector(code).option_byte(1).checksum(right_checksum));
        EXPECT_FALSE(repair_record(record)) << code;
        EXPECT_EQ(adjusted_value(record), 0);
    }
}

TEST(RepairRewrite, NotDueForARecordAlreadyRight) {
    unit_config_record record = make_record({89, -2026, 1309, 3, 21017, 0xAF48});
    EXPECT_FALSE(repair_record(record));
    EXPECT_EQ(record_bytes(record), record_bytes(make_record({89, -2026, 1309, 3, 21017, 0xAF48})));
}

TEST(RepairRewrite, DueWhenOnlyTheChecksumIsWrong) {
    unit_config_record record = make_record({89, -2026, 1309, 3, 21017, 0x1234});
    EXPECT_TRUE(repair_record(record));
    EXPECT_EQ(record_bytes(record), record_bytes(make_record({89, -2026, 1309, 3, 21017, 0xAF48})));
}

TEST(RepairRewrite, OtherTagsAreLeftAloneEvenWithAWrongChecksum) {
    for (std::uint32_t tag : {0u, 88u, 90u, 89u | 0x100u, 89u | 0x10000u, 89u | 0x1000000u}) {
        unit_config_record record =
            make_record(record_fields().tag(tag).selector(1309).checksum(1));
        std::string before = record_bytes(record);
        EXPECT_FALSE(repair_record(record)) << tag;
        EXPECT_EQ(record_bytes(record), before) << tag;
    }
}

TEST(RepairRewrite, UnnamedBytesAreCarriedUnchanged) {
    unit_config_record record = make_record(record_fields().selector(1310).filler(0xA5));
    ASSERT_TRUE(repair_record(record));
    std::string bytes = record_bytes(record);
    for (std::size_t i : {4, 5, 8, 20, 35, 39})
        EXPECT_EQ(static_cast<unsigned char>(bytes[i]), 0xA5) << "byte " << i;
    EXPECT_TRUE(checksum_holds(bytes));
}

TEST(RepairRewrite, RepairingARepairedRecordChangesNothing) {
    unit_config_record record =
        make_record(record_fields().adjusted_value(5).selector(1309).filler(3));
    ASSERT_TRUE(repair_record(record));
    std::string repaired = record_bytes(record);
    EXPECT_FALSE(repair_record(record));
    EXPECT_EQ(record_bytes(record), repaired);
}

} // namespace
