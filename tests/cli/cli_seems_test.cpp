#include <fstream>

#include "cli_fixture.h"

namespace telvane::test {
namespace {

namespace stdfs = std::filesystem;

std::vector<std::uint8_t> recordOnPhone(sim::VirtualDriver& driver, std::uint16_t seem, std::uint16_t record) {
    return driver.withPhone([&](sim::VirtualPhone& phone) {
        const auto* bytes = phone.seems().get(seem, record);
        return bytes ? *bytes : std::vector<std::uint8_t>{};
    });
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The last undo copy's path, from the line that names it.
std::string undoPathIn(const std::string& text) {
    const std::string marker = "undo saved as ";
    const std::size_t at = text.rfind(marker);
    if (at == std::string::npos) return "";
    return text.substr(at + marker.size(), text.find('\n', at) - at - marker.size());
}

TEST_F(CliTest, SeemSet_ShowsTheChange_SavesTheRecordFirst_WritesAndReadsBack_AndUndoPutsItBack) {
    ASSERT_EQ(0, run({"seem", "set", "32", "1", "1=aabb", "0.7=1"})) << err();
    EXPECT_TRUE(has(out(), "seem 0032 record 0001:\n  0000: 01 -> 81 (bits 7)\n  0001: 02 -> aa (bits 3,5,7)\n"
                           "  0002: 03 -> bb (bits 3,4,5,7)\n"))
        << out();
    EXPECT_TRUE(has(out(), "seem 0032 record 0001: 3 bytes written, read back ok, undo saved as ")) << out();
    EXPECT_EQ((std::vector<std::uint8_t>{0x81, 0xAA, 0xBB, 0x04}), recordOnPhone(driver(), 0x32, 1));
    const std::string undo = undoPathIn(out());
    std::ifstream saved(undo, std::ios::binary);
    EXPECT_EQ(std::string("\x01\x02\x03\x04"), std::string(std::istreambuf_iterator<char>(saved), {}));

    ASSERT_EQ(0, run({"seem", "undo", "list"})) << err();
    EXPECT_TRUE(has(out(), "Sim T1  seem 0032 record 0001  " + undo)) << out();
    EXPECT_TRUE(has(out(), "1 saved record, ")) << out();

    ASSERT_EQ(0, run({"seem", "undo", undo})) << err();
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3, 4}), recordOnPhone(driver(), 0x32, 1));
    // Undo is a change like any other: the record it replaced is saved too.
    ASSERT_EQ(0, run({"seem", "undo", "list"})) << err();
    EXPECT_TRUE(has(out(), "2 saved records, ")) << out();
}

TEST_F(CliTest, SeemSet_ThatChangesNothing_OrOnlyPretends_OrReachesPastTheEnd_WritesNothing) {
    const std::uint32_t commands = driver().commandCount();
    EXPECT_EQ(0, run({"seem", "set", "32", "1", "0=01"})) << err();
    EXPECT_TRUE(has(out(), "seem 0032 record 0001: nothing to change")) << out();
    EXPECT_EQ(0, run({"seem", "set", "32", "1", "0=ff", "--dry-run"})) << err();
    EXPECT_TRUE(has(out(), "0000: 01 -> ff (bits 1,2,3,4,5,6,7)\ndry run: nothing written")) << out();
    EXPECT_EQ(2, run({"seem", "set", "32", "1", "3=0102"}));
    EXPECT_TRUE(has(err(), "reaches past the record's end (4 bytes); nothing written")) << err();
    EXPECT_EQ(2, run({"seem", "set", "32", "1", "3.9=1"})) << "a bad edit is found before the phone is reached";
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3, 4}), recordOnPhone(driver(), 0x32, 1));
    EXPECT_FALSE(stdfs::exists(folder_ / "undo")) << "no undo copy where nothing was written";
    EXPECT_GT(driver().commandCount(), commands);
}

TEST_F(CliTest, SeemSet_WhoseReadBackDiffers_OrThePhoneRefuses_FailsLoudlyWithTheUndoPath) {
    addFault("seemflip=2@0x2f*1");
    EXPECT_EQ(1, run({"seem", "set", "32", "1", "0=ff"}));
    EXPECT_TRUE(has(err(), "seem 0032 record 0001: WRITTEN, BUT READS BACK DIFFERENT; the record as it was is saved as "))
        << err();
    EXPECT_TRUE(has(err(), "  0002: 03 -> fc (bits 0,1,2,3,4,5,6,7)")) << err();
    const std::size_t at = err().find("telvane-cli seem undo ");
    ASSERT_NE(std::string::npos, at);
    const std::string undo = err().substr(at + 22, err().find(" puts it back") - at - 22);
    ASSERT_EQ(0, run({"seem", "undo", undo})) << err();
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3, 4}), recordOnPhone(driver(), 0x32, 1));

    addFault("status=7@0x2f*1");
    EXPECT_EQ(1, run({"seem", "set", "32", "1", "0=ff"}));
    EXPECT_TRUE(has(err(), "seem 0032 record 0001: cannot write the record (GENERIC FAILURE); the record as it was "
                           "is saved as "))
        << err();
}

TEST_F(CliTest, SeemDiff_ComparesThePhoneWithABackupOrAFile) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    EXPECT_EQ(0, run({"seem", "diff", "30-40", path("bk")})) << out() << err();
    EXPECT_EQ("equal: 2 records\n", out());

    ASSERT_EQ(0, run({"seem", "set", "32", "2", "3f.0=0"})) << err();
    driver().withPhone([](sim::VirtualPhone& phone) { return phone.seems().put(0x33, 1, {7}); });
    EXPECT_EQ(1, run({"seem", "diff", "30-40", path("bk")}));
    EXPECT_EQ("seem 0032 record 0002:\n  003f: 6f -> 6e (bits 0)\nseem 0033 record 0001: not in the backup\n", out());

    // One record file, named as seem get names it, or with its record given.
    std::ofstream(path("0032_0001.seem"), std::ios::binary) << std::string("\x01\x02\x03\x05", 4);
    EXPECT_EQ(1, run({"seem", "diff", "32", path("0032_0001.seem")}));
    EXPECT_EQ("seem 0032 record 0001:\n  0003: 05 -> 04 (bits 0)\n", out());
    std::ofstream(path("other.bin"), std::ios::binary) << std::string("\x01\x02\x03", 3);
    EXPECT_EQ(1, run({"seem", "diff", "32", "1", path("other.bin")}));
    EXPECT_EQ("seem 0032 record 0001: 4 bytes on the phone, 3 in the file\n", out());
    EXPECT_EQ(1, run({"seem", "diff", "32", path("other.bin")}));
    EXPECT_TRUE(has(err(), "give the record to compare it with")) << err();
}

TEST_F(CliTest, SeemShow_HexDumpBitsAndJson_AndUndoRefusesAnotherPhonesCopy) {
    ASSERT_EQ(0, run({"seem", "show", "32", "1", "--bits"})) << err();
    EXPECT_EQ("seem 0032 record 0001: 4 bytes\n"
              "0000  01 02 03 04                                      |....|\n"
              "0000: 01 00000001\n0001: 02 00000010\n0002: 03 00000011\n0003: 04 00000100\n",
              out());
    ASSERT_EQ(0, run({"seem", "show", "32", "1", "--json"})) << err();
    EXPECT_TRUE(has(out(), "\"hex\": \"01020304\"")) << out();
    EXPECT_EQ(1, run({"seem", "show", "32", "3"})) << "an empty record is no record to show";

    ASSERT_EQ(0, run({"seem", "set", "32", "1", "0=ff"})) << err();
    const std::string undo = undoPathIn(out());
    usePhone("flat");
    EXPECT_EQ(1, run({"seem", "undo", undo}));
    EXPECT_TRUE(has(err(), "saved from Sim T1 (/a), the phone is Sim F1 (a): nothing written")) << err();
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3, 4}), recordOnPhone(driver(), 0x32, 1));
}

} // namespace
} // namespace telvane::test
