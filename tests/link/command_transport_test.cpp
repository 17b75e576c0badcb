#include "link/command_transport.h"

#include <cstring>

#include <gtest/gtest.h>

#include "support/capture_log.h"
#include "support/fake_clock.h"
#include "support/scripted_port.h"

namespace telvane {
namespace {

using test::CaptureLog;
using test::driverAnswer;
using test::FakeClock;
using test::pollReady;
using test::replyPacket;
using test::ScriptedPort;
using Expect = ScriptedPort::Expectation;
constexpr std::uint32_t kCode = UsbChannel::kControlCode;

Expect writeOk() { return Expect{kCode, {}, RequestOutcome::Completed, {}, {}}; }
Expect pollAnswer(std::vector<std::uint8_t> data) {
    return Expect{kCode, {}, RequestOutcome::Completed, driverAnswer(std::move(data)), {}};
}
Expect readAnswer(std::vector<std::uint8_t> packet) {
    return Expect{kCode, {}, RequestOutcome::Completed, driverAnswer(std::move(packet)), {}};
}

class CommandTransportTest : public ::testing::Test {
protected:
    CommandTransportTest() { link.setHandle(7); }

    // A whole exchange the phone answers with this packet.
    void expectExchange(const std::vector<std::uint8_t>& packet) {
        port.expect(writeOk());
        port.expect(pollAnswer(pollReady(static_cast<std::uint16_t>(packet.size() - 6))));
        port.expect(readAnswer(packet));
    }
    int send(std::uint8_t* reply = nullptr, std::size_t capacity = 0) {
        const std::uint8_t payload[1] = {0};
        return transport.sendCommand(0x36, payload, 1, reply, capacity, replyLength);
    }

    ScriptedPort port;
    PhoneLink link;
    CaptureLog log;
    FakeClock clock;
    UsbChannel channel{port, link, log};
    CommandTransport transport{channel, clock, log};
    std::uint32_t replyLength = 1234;
};

TEST_F(CommandTransportTest, FirstCommand_FramesPollsAndReadsExactBytes) {
    port.expect(Expect{kCode,
                       std::vector<std::uint8_t>{0x41, 0x02, 0, 0, 8, 0, 9, 0,      // setup, wLength 9
                                                 0, 1, 0, 0x36, 0, 1, 0, 0,        // seq 1, opcode, length 1
                                                 0xAB, 0, 0},                      // payload, two zeros
                       RequestOutcome::Completed, {}, 1000});
    port.expect(Expect{kCode, std::vector<std::uint8_t>{0xC1, 0, 0, 0, 8, 0, 8, 0, 0}, RequestOutcome::Completed,
                       driverAnswer(pollReady(8)), 40000});
    // wLength = 1 waiting × 2 + 8 + 4
    port.expect(Expect{kCode, std::vector<std::uint8_t>{0xC1, 1, 1, 0, 8, 0, 14, 0, 0}, RequestOutcome::Completed,
                       driverAnswer(replyPacket(1, 6, {})), 40000});
    const std::uint8_t payload[1] = {0xAB};
    EXPECT_EQ(0, transport.sendCommand(0x36, payload, 1, nullptr, 0, replyLength));
    EXPECT_EQ(1u, transport.sequence());
    EXPECT_EQ("", log.text());
}

TEST_F(CommandTransportTest, StatusSix_LeavesPresetLengthAlone) {
    expectExchange(replyPacket(1, 6, {}));
    EXPECT_EQ(0, send());
    EXPECT_EQ(1234u, replyLength);
}

TEST_F(CommandTransportTest, StatusEight_CopiesAtMostCapacity) {
    expectExchange(replyPacket(1, 8, {1, 2, 3, 4, 5, 6}));
    std::uint8_t reply[8];
    std::memset(reply, 0xEE, sizeof reply);
    EXPECT_EQ(0, send(reply, 4));
    EXPECT_EQ(4u, replyLength);
    EXPECT_EQ(4, reply[3]);
    EXPECT_EQ(0xEE, reply[4]) << "byte past the capacity was written";
}

TEST_F(CommandTransportTest, ReplyCutShortOfItsPacketLength_IsMalformedAndHandsNothingOn) {
    // Whatever the status: the packet length promises bytes that never arrived.
    for (std::uint8_t status : {std::uint8_t{8}, std::uint8_t{6}, std::uint8_t{7}}) {
        log.clear();
        auto packet = replyPacket(transport.sequence() + 1, status, std::vector<std::uint8_t>(10, 9));
        packet.resize(packet.size() - 1);
        expectExchange(packet);
        std::uint8_t reply[32];
        std::memset(reply, 0xEE, sizeof reply);
        replyLength = 1234;
        EXPECT_EQ(1, send(reply, sizeof reply)) << "status " << int(status);
        EXPECT_EQ(1234u, replyLength);
        EXPECT_EQ(0xEE, reply[0]);
        EXPECT_EQ("CMD: Answer packet invalid!\r\n", log.text());
    }
}

TEST_F(CommandTransportTest, RecordLongerThanTheReadArea_IsMalformedNotCutToFit) {
    // 4082 data bytes fill the 4096-byte read area exactly; one more cannot arrive whole.
    expectExchange(replyPacket(1, 8, std::vector<std::uint8_t>(4082, 5)));
    std::vector<std::uint8_t> reply(5000);
    EXPECT_EQ(0, send(reply.data(), reply.size()));
    EXPECT_EQ(4082u, replyLength);
    expectExchange(replyPacket(2, 8, std::vector<std::uint8_t>(4083, 5)));
    EXPECT_EQ(1, send(reply.data(), reply.size()));
    EXPECT_EQ("CMD: Answer packet invalid!\r\n", log.text());
}

TEST_F(CommandTransportTest, ConnectionReplacedWhilePolling_EndsAtOnceAndNeverPollsTheNewOne) {
    ConnectionBinding binding(channel);
    port.expect(writeOk());
    port.expect(pollAnswer(std::vector<std::uint8_t>(8, 0))); // nothing waiting yet
    port.setAfterRequest([&] {
        // During the first poll the watcher takes the phone away and opens another interface.
        if (port.handles().size() != 2) return;
        link.withdraw();
        link.publish(8, "other");
    });
    EXPECT_EQ(-1, send());
    EXPECT_EQ((std::vector<DeviceHandle>{7, 7}), port.handles());
    EXPECT_EQ("CMD: Data read fail!\r\n", log.text());
}

TEST_F(CommandTransportTest, MalformedReplies_AreReportedInCheckOrder) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> packet;
    };
    auto byteZeroTwo = replyPacket(1, 6, {});
    byteZeroTwo[0] = 2;
    auto notAReply = replyPacket(1, 6, {});
    notAReply[6] &= 0x7F;
    auto otherCommand = replyPacket(2, 6, {});
    auto lengthMismatch = replyPacket(1, 8, {1, 2, 3});
    lengthMismatch[11] = 4;
    Case cases[] = {{"byte 0 is 2", byteZeroTwo},
                    {"bit 15 clear", notAReply},
                    {"other sequence", otherCommand},
                    {"data length not L-8", lengthMismatch}};
    std::uint16_t sequence = 1;
    for (auto& c : cases) {
        // Each command carries the next sequence number; keep the reply's in step except where it is the fault.
        auto packet = c.packet;
        if (std::string(c.what) != "other sequence") {
            packet[6] = static_cast<std::uint8_t>((packet[6] & 0x80) | (sequence >> 8));
            packet[7] = static_cast<std::uint8_t>(sequence);
        } else {
            packet[7] = static_cast<std::uint8_t>(sequence + 1);
        }
        log.clear();
        expectExchange(packet);
        std::uint8_t reply[8];
        EXPECT_EQ(1, send(reply, sizeof reply)) << c.what;
        EXPECT_EQ("CMD: Answer packet invalid!\r\n", log.text()) << c.what;
        ++sequence;
    }
}

TEST_F(CommandTransportTest, ErrorStatus_LogsItsTableText) {
    const std::pair<std::uint8_t, const char*> cases[] = {
        {0, "INVALID DATA LENGTH FOR COMMAND\r\n"},
        {1, "INADEQUATE SEQURITY LEVEL FOR COMMAND/PARAMETER\r\n"},
        {4, "UNSUPPORTED/INVALID OPCODE\r\n"},
        {9, "CRITICAL ERROR - ERROR CODE NOT FOUND (9)\r\n"},
        {14, "LENGTH SPECIFIED IN COMMAND HEADER GREATER THAN RECEIVED BY TRANSPORT\r\n"},
        {15, "IRRECOVERABLE ERROR; PHONE STATE HAS BEEN LOST. PHONE BEING POWERED DOWN\r\n"},
    };
    std::uint16_t sequence = 1;
    for (const auto& [status, text] : cases) {
        log.clear();
        expectExchange(replyPacket(sequence++, status, {}));
        EXPECT_EQ(-1, send());
        EXPECT_EQ(text, log.text());
    }
}

TEST_F(CommandTransportTest, Poll_KeepsGoingOnZeroThreeOrFailure_StopsAtOneOrTwo) {
    port.expect(writeOk());
    port.expect(pollAnswer(pollReady(8, 0)));
    port.expect(pollAnswer(pollReady(8, 3)));
    port.expect(Expect{kCode, {}, RequestOutcome::Failed, {}, {}});
    port.expect(pollAnswer(pollReady(8, 2)));
    port.expect(Expect{kCode, std::vector<std::uint8_t>{0xC1, 1, 2, 0, 8, 0, 16, 0, 0}, RequestOutcome::Completed,
                       driverAnswer(replyPacket(1, 6, {})), {}});
    EXPECT_EQ(0, send());
    EXPECT_EQ("USB: IO Failed!\r\n", log.text());
    EXPECT_EQ(4u, clock.sleepCount()); // three retries and the pause before the read
}

TEST_F(CommandTransportTest, NoReplyWithinFortySeconds_TimesOut) {
    port.expect(writeOk());
    // Each empty poll costs a 1 ms sleep of fake time; 40000 of them reach the limit.
    port.expectTimes(pollAnswer(pollReady(0, 0)), 40000);
    EXPECT_EQ(-1, send());
    EXPECT_EQ("CMD: Answer wait timeout!\r\n", log.text());
    EXPECT_GE(clock.tickMs(), 40000u);
}

TEST_F(CommandTransportTest, WriteOrReadFailure_AddsCommandText) {
    port.expect(Expect{kCode, {}, RequestOutcome::TimedOut, {}, {}});
    EXPECT_EQ(-1, send());
    EXPECT_EQ("USB: IO Time-out!\r\nCMD: Data write fail!\r\n", log.text());

    log.clear();
    port.expect(writeOk());
    port.expect(pollAnswer(pollReady(8)));
    port.expect(Expect{kCode, {}, RequestOutcome::Failed, {}, {}});
    EXPECT_EQ(-1, send());
    EXPECT_EQ("USB: IO Failed!\r\nCMD: Data read fail!\r\n", log.text());
}

TEST_F(CommandTransportTest, PayloadTooLongForFrame_RefusedSilentlyBeforeSending) {
    std::vector<std::uint8_t> payload(frame::kMaxPayload + 1, 0x55);
    EXPECT_EQ(-1, transport.sendCommand(0x2F, payload.data(), payload.size(), nullptr, 0, replyLength));
    EXPECT_EQ("", log.text());
    EXPECT_TRUE(port.inputs().empty());
    EXPECT_EQ(0u, transport.sequence());

    // The largest payload that fits goes out whole, with its two trailing zeros.
    payload.pop_back();
    expectExchange(replyPacket(1, 6, {}));
    EXPECT_EQ(0, transport.sendCommand(0x2F, payload.data(), payload.size(), nullptr, 0, replyLength));
    EXPECT_EQ(frame::kAreaSize, port.inputs()[0].size());
}

TEST_F(CommandTransportTest, SequenceWrapsAtTwelveBits_RepliesStillAccepted) {
    for (int i = 1; i <= 4097; ++i) expectExchange(replyPacket(static_cast<std::uint16_t>(i & 0x0FFF), 6, {}));
    for (int i = 1; i <= 4097; ++i) ASSERT_EQ(0, send()) << "command " << i;
    const auto& inputs = port.inputs();
    auto wireSequence = [&](int command) {
        const auto& w = inputs[static_cast<std::size_t>(command - 1) * 3];
        return (w[8] << 8) | w[9];
    };
    EXPECT_EQ(1, wireSequence(1));
    EXPECT_EQ(0xFFF, wireSequence(4095));
    EXPECT_EQ(0, wireSequence(4096));
    EXPECT_EQ(1, wireSequence(4097));
}

} // namespace
} // namespace telvane
