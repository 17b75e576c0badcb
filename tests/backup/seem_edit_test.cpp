#include <gtest/gtest.h>

#include "backup/seem_edit.h"

namespace telvane::backup {
namespace {

std::vector<SeemEdit> parsed(std::initializer_list<const char*> texts) {
    std::vector<SeemEdit> edits;
    for (const char* text : texts) {
        std::string error;
        const auto edit = parseSeemEdit(text, error);
        EXPECT_TRUE(edit) << text << ": " << error;
        if (edit) edits.push_back(*edit);
    }
    return edits;
}

TEST(SeemEdits, BytesAndBitsAreSetInOrder_AndOnlyWithinTheRecord) {
    std::vector<std::uint8_t> record = {0x00, 0x11, 0x22, 0x33};
    std::string error;
    ASSERT_TRUE(applySeemEdits(record, parsed({"1=aabb", "0.0=1", "0.7=1", "1.7=0", "3.4=0"}), error)) << error;
    EXPECT_EQ((std::vector<std::uint8_t>{0x81, 0x2A, 0xBB, 0x23}), record);

    const std::vector<std::uint8_t> before = record;
    EXPECT_FALSE(applySeemEdits(record, parsed({"0=01", "3=0102"}), error)) << "one byte past the end";
    EXPECT_EQ("an edit at 0003 reaches past the record's end (4 bytes)", error);
    EXPECT_FALSE(applySeemEdits(record, parsed({"4.0=1"}), error));
    EXPECT_EQ(before, record) << "nothing applied when one edit is refused";

    for (const char* bad : {"", "1c", "=01", "1c=", "1c=0", "1c=0g", "1c.8=1", "1c.1=2", "1c.=1", "12345=00", "x=00"}) {
        EXPECT_FALSE(parseSeemEdit(bad, error)) << bad;
    }
}

TEST(SeemEdits, ChangesAreShownByteByByteWithTheBitsThatMoved) {
    const std::vector<std::uint8_t> before = {0x0a, 0x01, 0xff};
    const std::vector<std::uint8_t> after = {0x0b, 0x01, 0x7e};
    const auto changes = diffRecords(before, after);
    ASSERT_EQ(2u, changes.size());
    EXPECT_EQ("0000: 0a -> 0b (bits 0)", changeLine(changes[0]));
    EXPECT_EQ("0002: ff -> 7e (bits 0,7)", changeLine(changes[1]));
}

TEST(SeemEdits, HexDumpShowsOffsetsBytesPrintablesAndBits) {
    std::vector<std::uint8_t> bytes(17, 0x41);
    bytes[1] = 0x00;
    const auto lines = hexDump(bytes, true);
    ASSERT_EQ(2u + 17u, lines.size());
    EXPECT_EQ("0000  41 00 41 41 41 41 41 41 41 41 41 41 41 41 41 41  |A.AAAAAAAAAAAAAA|", lines[0]);
    EXPECT_EQ("0010  41                                               |A|", lines[1]);
    EXPECT_EQ("0000: 41 01000001", lines[2]);
}

} // namespace
} // namespace telvane::backup
