#include "services/fs_commands.h"

#include <gtest/gtest.h>

#include "scripted_phone.h"

namespace telvane {
namespace {

using test::be32Bytes;
using test::concat;
using Bytes = std::vector<std::uint8_t>;

class FsCommandsTest : public ::testing::Test {
protected:
    test::ScriptedPhone phone;
    FixedEntrySize entrySize{0};
    FsCommands fs{phone.transport, phone.log, entrySize};
};

TEST_F(FsCommandsTest, Open_SendsAttributeAndBareNameAndAcceptsAnyAnswer) {
    phone.answerData({1});
    EXPECT_EQ(0, fs.FsOpen("/a/x", 0x10000));
    EXPECT_EQ(fs::kOpcode, phone.sent().back().opcode);
    EXPECT_EQ((Bytes{0, 0, 0, 0, 0, 1, 0, 0, '/', 'a', '/', 'x'}), phone.lastPayload());

    phone.answer(7);
    EXPECT_NE(0, fs.FsOpen("/a/x", 0));
    EXPECT_EQ("GENERIC FAILURE\r\n", phone.log.text());
}

TEST_F(FsCommandsTest, NameLimits_FollowTheEntrySize) {
    // No upper limit before a list has been read; an empty name never goes out.
    phone.answerNoData();
    EXPECT_EQ(0, fs.FsOpen(std::string(300, 'n'), 0));
    EXPECT_NE(0, fs.FsOpen("", 0));
    EXPECT_NE(0, fs.FsDelete(""));

    entrySize.set(44);
    EXPECT_NE(0, fs.FsOpen(std::string(37, 'n'), 0)); // E - 7: refused without a command
    EXPECT_NE(0, fs.FsDelete(std::string(37, 'n')));
    phone.answerNoData();
    EXPECT_EQ(0, fs.FsOpen(std::string(36, 'n'), 0));
    phone.answerNoData();
    EXPECT_EQ(0, fs.FsDelete(std::string(36, 'n')));
    EXPECT_EQ(concat({be32Bytes(fs::kDelete), Bytes(36, 'n')}), phone.lastPayload());
    EXPECT_EQ(3u, phone.sent().size());
}

TEST_F(FsCommandsTest, Read_SplitsIntoPiecesAndPlacesEachAtItsOffset) {
    const std::size_t total = 2 * 1024 + 452;
    for (std::size_t piece : {1024u, 1024u, 452u}) phone.answerData(Bytes(piece, static_cast<std::uint8_t>(piece / 4)));
    Bytes destination(total + 4, 0xEE);
    EXPECT_EQ(0, fs.FsRead(std::span(destination).first(total)));

    const auto sent = phone.sent();
    ASSERT_EQ(3u, sent.size());
    EXPECT_EQ(concat({be32Bytes(fs::kRead), be32Bytes(1024)}), sent[0].payload);
    EXPECT_EQ(concat({be32Bytes(fs::kRead), be32Bytes(452)}), sent[2].payload);
    EXPECT_EQ(0u, destination[0]);   // 1024 / 4 = 256 wraps to 0
    EXPECT_EQ(0u, destination[2047]);
    EXPECT_EQ(113u, destination[2048]);
    EXPECT_EQ(113u, destination[total - 1]);
    EXPECT_EQ(Bytes(4, 0xEE), Bytes(destination.end() - 4, destination.end()));
}

TEST_F(FsCommandsTest, Read_PieceAnsweredShort_FailsAndStops) {
    // A short answer would leave zeros in the file; the read fails at that piece.
    phone.answerData(Bytes(1024, 1));
    phone.answerData(Bytes(1023, 2));
    Bytes destination(3000, 0xEE);
    EXPECT_NE(0, fs.FsRead(destination));
    EXPECT_EQ(2u, phone.sent().size());
    EXPECT_EQ(1u, destination[1023]);
    EXPECT_EQ("", phone.log.text());

    phone.answerNoData(); // no data at all is as short as can be
    Bytes one(1);
    EXPECT_NE(0, fs.FsRead(one));
    EXPECT_NE(0, fs.FsRead({})); // nothing to read: refused without a command
}

TEST_F(FsCommandsTest, Write_PiecesAndTheOneByteRule) {
    Bytes data(1025);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    phone.answerData({6});
    phone.answerNoData();
    EXPECT_EQ(0, fs.FsWrite(data));
    auto sent = phone.sent();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(1032u, sent[0].payload.size());
    EXPECT_EQ(concat({be32Bytes(fs::kWrite), be32Bytes(1), Bytes{0}}), sent[1].payload); // byte 1024 wraps to 0

    phone.answerData({0}); // a one-byte answer other than 6 refuses the piece
    EXPECT_NE(0, fs.FsWrite(data));
    EXPECT_EQ(3u, phone.sent().size());

    phone.answerData({0, 0}); // longer answers are not examined
    EXPECT_EQ(0, fs.FsWrite(std::span(data).first(1024)));
    EXPECT_EQ(0, fs.FsWrite({})); // nothing to write: nothing sent
    EXPECT_EQ(4u, phone.sent().size());
}

TEST_F(FsCommandsTest, SeekCloseDelete_RefuseAnyOneByteAnswerAndALeadingOne) {
    struct Case {
        std::uint8_t status;
        Bytes data;
        bool ok;
    } cases[] = {{6, {}, true}, {8, {0, 0}, true}, {8, {6}, false}, {8, {0}, false}, {8, {1, 0}, false}, {7, {}, false}};
    for (const auto& c : cases) {
        phone.answer(c.status, c.data);
        phone.answer(c.status, c.data);
        phone.answer(c.status, c.data);
        EXPECT_EQ(c.ok, fs.FsSeek(0, 0) == 0) << int(c.status) << " " << c.data.size();
        EXPECT_EQ(c.ok, fs.FsClose() == 0);
        EXPECT_EQ(c.ok, fs.FsDelete("f") == 0);
    }
    const auto sent = phone.sent();
    EXPECT_EQ((Bytes{0, 0, 0, 3, 0, 0, 0, 0, 0}), sent[0].payload);
    EXPECT_EQ(be32Bytes(fs::kClose), sent[1].payload);
    EXPECT_EQ((Bytes{0, 0, 0, 5, 'f'}), sent[2].payload);
}

TEST_F(FsCommandsTest, Count_NeedsTwoBytesAndPassesInvalidValuesOn) {
    std::uint16_t count = 1;
    phone.answerData({0x01, 0x2C, 9});
    EXPECT_EQ(0, fs.FsCount(count));
    EXPECT_EQ(300u, count);
    EXPECT_EQ(be32Bytes(fs::kCount), phone.lastPayload());
    phone.answerData({0xFF, 0xFF});
    EXPECT_EQ(0, fs.FsCount(count));
    EXPECT_EQ(0xFFFFu, count);
    phone.answerData({0x05});
    EXPECT_NE(0, fs.FsCount(count));
    phone.answerNoData();
    EXPECT_NE(0, fs.FsCount(count));
}

TEST_F(FsCommandsTest, VolumeName_FillsAZeroedAreaAndRefusesTheOneByteAnswers) {
    std::array<char16_t, 128> volume;
    volume.fill(u'#');
    phone.answerData({0, '/', 0, 'a'});
    EXPECT_EQ(0, fs.FsVolumeName(volume));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(volume.data());
    EXPECT_EQ((Bytes{0, '/', 0, 'a', 0, 0}), Bytes(bytes, bytes + 6));
    EXPECT_EQ(0, volume[127]);

    phone.answerData({0});
    EXPECT_NE(0, fs.FsVolumeName(volume));
    phone.answerData({6, 0, 0, 0});
    EXPECT_NE(0, fs.FsVolumeName(volume));
}

TEST_F(FsCommandsTest, FreeSpace_SendsTheVolumeBigEndianInFiveHundredTwelveBytes) {
    phone.answerData({0x00, 0x10, 0x00, 0x01});
    const char16_t volume[] = u"/a";
    std::uint32_t free = 0;
    EXPECT_EQ(0, fs.FsFreeSpace(volume, free));
    EXPECT_EQ(0x00100001u, free);
    Bytes expected(512, 0);
    expected[3] = 0x0B;
    expected[5] = '/';
    expected[7] = 'a';
    EXPECT_EQ(expected, phone.lastPayload());

    // A name without a terminator is cut after 128 units.
    std::u16string longName(200, u'z');
    phone.answerData({0, 0, 0, 1});
    EXPECT_EQ(0, fs.FsFreeSpace(longName, free));
    const Bytes payload = phone.lastPayload();
    EXPECT_EQ('z', payload[4 + 2 * 127 + 1]);
    EXPECT_EQ(0u, payload[4 + 2 * 128 + 1]);
    EXPECT_EQ("", phone.log.text());
}

TEST_F(FsCommandsTest, FreeSpace_ZeroOneByteAndShortAnswers) {
    std::uint32_t free = 99;
    phone.answerData({0, 0, 0, 0});
    EXPECT_NE(0, fs.FsFreeSpace(u"a", free));
    EXPECT_EQ("Zero free space recv'd!\r\n", phone.log.text());
    EXPECT_EQ(0u, free);

    phone.log.clear();
    phone.answerData({0x12});
    EXPECT_NE(0, fs.FsFreeSpace(u"a", free));
    EXPECT_EQ("", phone.log.text());

    // After a count reply of FF FF, a two-byte answer does not borrow its bytes.
    std::uint16_t count;
    phone.answerData({0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(0, fs.FsCount(count));
    phone.answerData({0x00, 0x01});
    EXPECT_EQ(0, fs.FsFreeSpace(u"a", free));
    EXPECT_EQ(0x00010000u, free);
}

} // namespace
} // namespace telvane
