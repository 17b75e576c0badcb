#include "link/usb_channel.h"

#include <array>
#include <cstring>

#include <gtest/gtest.h>

#include "support/capture_log.h"
#include "support/scripted_port.h"

namespace telvane {
namespace {

using test::CaptureLog;
using test::driverAnswer;
using test::ScriptedPort;
using Expect = ScriptedPort::Expectation;

class UsbChannelTest : public ::testing::Test {
protected:
    UsbChannelTest() { link.setHandle(0x42); }
    ScriptedPort port;
    PhoneLink link;
    CaptureLog log;
    UsbChannel channel{port, link, log};
};

TEST_F(UsbChannelTest, EachRequestFailure_LogsItsOwnTextOnce) {
    const std::uint8_t setup[8] = {0x41, 2, 0, 0, 8, 0, 8, 0};
    struct Case {
        RequestOutcome outcome;
        const char* text;
    } cases[] = {
        {RequestOutcome::TimedOut, "USB: IO Time-out!\r\n"},
        {RequestOutcome::Failed, "USB: IO Failed!\r\n"},
        {RequestOutcome::EventCreateFailed, "USB: Event create failed!\r\n"},
        {RequestOutcome::EventResetFailed, "USB: Event reset failed!\r\n"},
        {RequestOutcome::CancelUnfinished, "USB: IO Time-out, cancel unfinished!\r\n"},
    };
    for (const auto& c : cases) {
        log.clear();
        port.expect(Expect{UsbChannel::kControlCode, {}, c.outcome, {}, UsbChannel::kWriteLimitMs});
        EXPECT_EQ(-1, channel.controlWrite(setup));
        EXPECT_EQ(std::vector<std::string>{c.text}, log.entries());
    }
}

TEST_F(UsbChannelTest, Write_PassesTransferUnchangedWithOneSecondLimit) {
    const std::vector<std::uint8_t> transfer = {0x41, 2, 0, 0, 8, 0, 9, 0, 0, 1, 0, 0x36, 0, 1, 0, 0, 0, 0, 0};
    port.expect(Expect{UsbChannel::kControlCode, transfer, RequestOutcome::Completed, {}, 1000});
    EXPECT_EQ(0, channel.controlWrite(transfer));
    EXPECT_EQ("", log.text());
}

TEST_F(UsbChannelTest, NoOpenDevice_FailsAtOnceWithoutARequest) {
    link.setHandle(0);
    std::uint8_t buffer[12] = {0xC1};
    std::size_t length = 99;
    EXPECT_EQ(-1, channel.controlRead(buffer, sizeof buffer, length));
    EXPECT_EQ("USB: IO Failed!\r\n", log.text());
    EXPECT_EQ(99u, length);
    EXPECT_TRUE(port.inputs().empty());
}

TEST_F(UsbChannelTest, BoundToAConnectionThatMovedOn_FailsAtOnceWithNothingSent) {
    const std::uint8_t setup[8] = {0x41, 2, 0, 0, 8, 0, 8, 0};
    link.publish(0x42, "first");
    {
        ConnectionBinding operation(channel);
        port.expect(Expect{UsbChannel::kControlCode, {}, RequestOutcome::Completed, {}, {}});
        EXPECT_EQ(0, channel.controlWrite(setup));
        // Taken down and opened again, even on the same handle: another connection.
        link.withdraw();
        link.publish(0x42, "second");
        {
            ConnectionBinding step(channel); // a nested step keeps the operation's connection
            EXPECT_EQ(-1, channel.controlWrite(setup));
        }
        EXPECT_FALSE(channel.linkUsable());
        EXPECT_EQ(-1, channel.controlWrite(setup));
        EXPECT_EQ("USB: IO Failed!\r\nUSB: IO Failed!\r\n", log.text());
    }
    EXPECT_EQ(1u, port.inputs().size());
    // The next operation belongs to the connection it begins on.
    ConnectionBinding next(channel);
    port.expect(Expect{UsbChannel::kControlCode, {}, RequestOutcome::Completed, {}, {}});
    EXPECT_EQ(0, channel.controlWrite(setup));
}

TEST_F(UsbChannelTest, Read_SendsSetupAndOneZeroByteWithFortySecondLimit) {
    std::uint8_t buffer[12] = {0xC1, 0, 0, 0, 8, 0, 8, 0};
    port.expect(Expect{UsbChannel::kControlCode, std::vector<std::uint8_t>{0xC1, 0, 0, 0, 8, 0, 8, 0, 0},
                       RequestOutcome::Completed, driverAnswer({0, 1, 0, 8}), 40000});
    std::size_t length = 0;
    ASSERT_EQ(0, channel.controlRead(buffer, sizeof buffer, length));
    EXPECT_EQ(4u, length);
    EXPECT_EQ(1, buffer[1]);
    EXPECT_EQ(8, buffer[3]);
}

TEST_F(UsbChannelTest, ReadAnswerSizes_ThreeBytesInvalidFourBytesEmpty) {
    std::uint8_t buffer[12] = {};
    std::size_t length = 77;
    port.expect(Expect{UsbChannel::kControlCode, {}, RequestOutcome::Completed, {1, 2, 3}, {}});
    EXPECT_EQ(-1, channel.controlRead(buffer, sizeof buffer, length));
    EXPECT_EQ("USB: Answer size invlid!\r\n", log.text());
    EXPECT_EQ(77u, length);

    log.clear();
    port.expect(Expect{UsbChannel::kControlCode, {}, RequestOutcome::Completed, {0, 0, 0, 0}, {}});
    EXPECT_EQ(0, channel.controlRead(buffer, sizeof buffer, length));
    EXPECT_EQ(0u, length);
    EXPECT_EQ("", log.text());
}

TEST_F(UsbChannelTest, OversizedReadAnswer_CopiesOnlyCapacity) {
    std::uint8_t buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    std::memset(buffer, 0, 12);
    std::vector<std::uint8_t> data(100);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
    port.expect(Expect{UsbChannel::kControlCode, {}, RequestOutcome::Completed, driverAnswer(data), {}});
    std::size_t length = 0;
    ASSERT_EQ(0, channel.controlRead(buffer, 12, length));
    EXPECT_EQ(12u, length);
    EXPECT_EQ(12, buffer[11]);
    for (int i = 12; i < 16; ++i) EXPECT_EQ(0xEE, buffer[i]) << "sentinel " << i;
}

std::vector<std::uint8_t> stringAnswer(std::uint32_t count, const std::string& units) {
    std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
                                     static_cast<std::uint8_t>(count >> 16), static_cast<std::uint8_t>(count >> 24)};
    for (char c : units) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0x04); // a high byte that narrowing must drop
    }
    return out;
}

TEST_F(UsbChannelTest, InterfaceString_NarrowsTheUnitsAndTerminates) {
    std::array<char, 261> buffer;
    buffer.fill('x');
    port.expect(Expect{UsbChannel::kInterfaceStringCode, std::vector<std::uint8_t>{2, 0}, RequestOutcome::Completed,
                       stringAnswer(21, "Motorola Test Command"), 5000});
    ASSERT_EQ(0, channel.readInterfaceString(0x42, 2, buffer));
    EXPECT_STREQ("Motorola Test Command", buffer.data());
}

TEST_F(UsbChannelTest, InterfaceString_CountBoundedByUnitsReceivedAndBuffer) {
    std::array<char, 261> buffer;
    // A count that promises more units than arrived.
    port.expect(Expect{UsbChannel::kInterfaceStringCode, {}, RequestOutcome::Completed, stringAnswer(50, "abc"), {}});
    ASSERT_EQ(0, channel.readInterfaceString(0x42, 2, buffer));
    EXPECT_STREQ("abc", buffer.data());
    // A huge count with a full answer: at most 128 characters.
    port.expect(Expect{UsbChannel::kInterfaceStringCode, {}, RequestOutcome::Completed,
                       stringAnswer(0xFFFFFFFF, std::string(200, 'q')), {}});
    ASSERT_EQ(0, channel.readInterfaceString(0x42, 2, buffer));
    EXPECT_EQ(std::string(128, 'q'), std::string(buffer.data()));
    // A count of 0 is an empty text.
    port.expect(Expect{UsbChannel::kInterfaceStringCode, {}, RequestOutcome::Completed, stringAnswer(0, "zz"), {}});
    ASSERT_EQ(0, channel.readInterfaceString(0x42, 2, buffer));
    EXPECT_STREQ("", buffer.data());
    // Fewer than 4 bytes is not an answer.
    port.expect(Expect{UsbChannel::kInterfaceStringCode, {}, RequestOutcome::Completed, {21, 0}, {}});
    EXPECT_EQ(-1, channel.readInterfaceString(0x42, 2, buffer));
    EXPECT_EQ("USB: Answer size invlid!\r\n", log.text());
}

} // namespace
} // namespace telvane
