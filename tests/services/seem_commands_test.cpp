#include "services/seem_commands.h"

#include <cstring>

#include <gtest/gtest.h>

#include "scripted_phone.h"
#include "services/phone_info.h"
#include "services/wide_text.h"

namespace telvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SeemCommandsTest : public ::testing::Test {
protected:
    test::ScriptedPhone phone;
    SeemCommands seems{phone.transport};
    std::uint32_t size = 0xDEAD;
};

TEST_F(SeemCommandsTest, ReadModelName_IntoThePhoneInfoAndToHostOrder) {
    phone.answerData({0, 0x00, 'T', 0x00, 'v', 0x04, 0x1F, 0, 0});
    PhoneInfo info;
    EXPECT_EQ(0, seems.readSeem(seem::kModelSeem, seem::kModelRecord, info.modelBytes(), size));
    EXPECT_EQ(8u, size);
    EXPECT_EQ(seem::kOpRead, phone.sent().back().opcode);
    EXPECT_EQ((Bytes{0x01, 0x17, 0x00, 0x01, 0, 0, 0, 0}), phone.lastPayload());
    wideBeToHost(info.model);
    EXPECT_EQ(u"Tv\u041F", info.modelText());
}

TEST_F(SeemCommandsTest, Read_ResultCodesAndEmptyRecords) {
    phone.answerData({5, 1, 2});
    Bytes destination(8, 0xEE);
    EXPECT_NE(0, seems.readSeem(1, 1, destination, size));

    phone.answerData({}); // data of length 0: no result code at all
    EXPECT_NE(0, seems.readSeem(1, 1, destination, size));

    phone.answerNoData(); // no data: an empty record
    EXPECT_EQ(0, seems.readSeem(1, 1, destination, size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(Bytes(8, 0xEE), destination);
    EXPECT_EQ("", phone.log.text());
}

TEST_F(SeemCommandsTest, Read_CopiesAtMostCapacityAndReportsTheWholeSize) {
    Bytes reply{0};
    for (int i = 1; i <= 10; ++i) reply.push_back(static_cast<std::uint8_t>(i));
    phone.answerData(reply);
    Bytes destination(6, 0xEE);
    EXPECT_EQ(0, seems.readSeem(0x300, 128, std::span(destination).first(4), size));
    EXPECT_EQ(10u, size);
    EXPECT_EQ((Bytes{1, 2, 3, 4, 0xEE, 0xEE}), destination);
}

TEST_F(SeemCommandsTest, Write_LengthClampAndFrameLimit) {
    // Length 0 goes out as one byte with a length field of 1.
    phone.answerNoData();
    EXPECT_EQ(0, seems.writeSeem(0x0032, 2, 0, 0, {}));
    EXPECT_EQ(seem::kOpWrite, phone.sent().back().opcode);
    EXPECT_EQ((Bytes{0x00, 0x32, 0x00, 0x02, 0, 0, 0, 1, 0}), phone.lastPayload());

    Bytes big(seem::kAreaSize + 10, 0x5A);
    EXPECT_NE(0, seems.writeSeem(1, 1, 0, 4096 - 25, big)); // one byte more than a frame carries
    EXPECT_NE(0, seems.writeSeem(1, 1, 0, 20000, big));
    EXPECT_NE(0, seems.writeSeem(1, 1, 0, 5, std::span(big).first(4))); // fewer bytes than asked
    phone.answerData({0, 9, 9, 9});
    EXPECT_EQ(0, seems.writeSeem(1, 1, 0, 4096 - 26, big));
    EXPECT_EQ(4078u, phone.lastPayload().size());
    EXPECT_EQ(2u, phone.sent().size());
}

TEST_F(SeemCommandsTest, Write_ResultByteDecides) {
    phone.answerData({1});
    const Bytes data{1, 2, 3};
    EXPECT_NE(0, seems.writeSeem(1, 1, 0, 3, data));
    phone.answer(1);
    EXPECT_NE(0, seems.writeSeem(1, 1, 0, 3, data));
    EXPECT_EQ("INADEQUATE SEQURITY LEVEL FOR COMMAND/PARAMETER\r\n", phone.log.text());
}

TEST_F(SeemCommandsTest, SuspendAndRestart_SendTheirBarePayloads) {
    phone.answerNoData();
    phone.answer(7);
    EXPECT_EQ(0, seems.suspendPhone());
    EXPECT_EQ(-1, seems.restartPhone());
    const auto sent = phone.sent();
    EXPECT_EQ(seem::kOpSuspend, sent[0].opcode);
    EXPECT_EQ(Bytes{0}, sent[0].payload);
    EXPECT_EQ(seem::kOpRestart, sent[1].opcode);
    EXPECT_TRUE(sent[1].payload.empty());
}

// Units as the phone sends them (big-endian bytes), in a host-order area.
std::vector<char16_t> phoneUnits(std::initializer_list<std::uint16_t> units) {
    std::vector<char16_t> out;
    for (std::uint16_t u : units) {
        std::uint8_t b[2];
        writeBe16(b, u);
        char16_t c;
        std::memcpy(&c, b, 2);
        out.push_back(c);
    }
    return out;
}

TEST(WideBeToHost, StopsAtEachTerminatorLeavingTheRestUntouched) {
    for (std::uint16_t stop : {0x0000, 0x00FF, 0xFF00, 0xFFFF}) {
        auto text = phoneUnits({0x0041, stop, 0x0042});
        const char16_t third = text[2];
        wideBeToHost(text);
        EXPECT_EQ(u'A', text[0]);
        EXPECT_EQ(0, text[1]);
        EXPECT_EQ(third, text[2]);
    }
    // A text filling its area is converted to the area's end and no further.
    std::vector<char16_t> area = phoneUnits({0x0041, 0x0042, 0x0043, 0x7FFF});
    wideBeToHost(std::span(area).first(3));
    EXPECT_EQ(u"ABC", wideText(std::span(area).first(3)));
    EXPECT_EQ(phoneUnits({0x7FFF})[0], area[3]);
}

} // namespace
} // namespace telvane
