#include "link/command_transport.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace telvane {

namespace {
constexpr const char* kWriteFail = "CMD: Data write fail!\r\n";
constexpr const char* kWaitTimeout = "CMD: Answer wait timeout!\r\n";
constexpr const char* kReadFail = "CMD: Data read fail!\r\n";
constexpr const char* kPacketInvalid = "CMD: Answer packet invalid!\r\n";

constexpr const char* kStatusTexts[16] = {
    "INVALID DATA LENGTH FOR COMMAND\r\n",
    "INADEQUATE SEQURITY LEVEL FOR COMMAND/PARAMETER\r\n",
    "COMMAND/PARAMETER NOT SUPPORTED FOR CURRENT PROTOCOL\r\n",
    "COMMAND NOT SUPPORTED FOR CURRENT MODE\r\n",
    "UNSUPPORTED/INVALID OPCODE\r\n",
    "UNSUPPORTED/INVALID PARAMETER FOR OPCODE\r\n",
    "CRITICAL ERROR - ERROR CODE NOT FOUND (6)\r\n",
    "GENERIC FAILURE\r\n",
    "CRITICAL ERROR - ERROR CODE NOT FOUND (8)\r\n",
    "CRITICAL ERROR - ERROR CODE NOT FOUND (9)\r\n",
    "COULDN'T ALLOCATE MEMORY\r\n",
    "INTERNAL TASK ERROR\r\n",
    "TEST COMMAND TASK TIMED OUT WAITING FOR RESPONSE\r\n",
    "CDMA PARSE ERROR\r\n",
    "LENGTH SPECIFIED IN COMMAND HEADER GREATER THAN RECEIVED BY TRANSPORT\r\n",
    "IRRECOVERABLE ERROR; PHONE STATE HAS BEEN LOST. PHONE BEING POWERED DOWN\r\n",
};

void putSetup(std::uint8_t* p, std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
              std::uint16_t length) {
    p[0] = requestType;
    p[1] = request;
    writeLe16(p + 2, value);
    writeLe16(p + 4, frame::kInterfaceIndex);
    writeLe16(p + 6, length);
}
} // namespace

const char* commandStatusText(unsigned status) { return kStatusTexts[status & 0x0F]; }

int CommandTransport::sendCommand(std::uint16_t opcode, const std::uint8_t* payload, std::size_t payloadLength,
                                  std::uint8_t* reply, std::size_t replyCapacity, std::uint32_t& replyLength) {
    lastAnswered_ = false;
    if (payloadLength > frame::kMaxPayload) return -1; // refused before anything is sent, silently

    // 1. Frame the command.
    ++sequence_;
    frame_.fill(0);
    putSetup(frame_.data(), frame::kWriteRequestType, frame::kCommandRequest, 0,
             static_cast<std::uint16_t>(payloadLength + 8));
    writeBe16(frame_.data() + frame::kSequenceOffset, sequence_ & 0x0FFF);
    writeBe16(frame_.data() + frame::kOpcodeOffset, opcode & 0x0FFF);
    writeBe16(frame_.data() + frame::kPayloadLengthOffset, static_cast<std::uint16_t>(payloadLength));
    if (payloadLength > 0) std::memcpy(frame_.data() + frame::kPayloadOffset, payload, payloadLength);

    // 2. Write it.
    if (channel_.controlWrite(std::span<const std::uint8_t>(frame_.data(), payloadLength + frame::kOverhead)) != 0) {
        log_.appendLog(kWriteFail);
        return -1;
    }

    // 3. Poll until a reply is waiting; a failed poll only costs time.
    const std::uint32_t start = clock_.tickMs();
    for (;;) {
        poll_.fill(0);
        putSetup(poll_.data(), frame::kReadRequestType, frame::kPollRequest, 0, frame::kPollLength);
        std::size_t pollLength = 0;
        if (channel_.controlRead(poll_.data(), poll_.size(), pollLength) == 0 && (poll_[1] == 1 || poll_[1] == 2))
            break;
        if (!channel_.linkUsable()) {
            // The phone was taken away (or replaced) mid-command: no reply can come, so don't poll
            // out the limit.
            log_.appendLog(kReadFail);
            return -1;
        }
        clock_.sleepMs(1);
        if (static_cast<std::uint32_t>(clock_.tickMs() - start) >= kAnswerWaitLimitMs) {
            log_.appendLog(kWaitTimeout);
            return -1;
        }
    }

    // 4. Read the reply.
    clock_.sleepMs(1);
    const std::uint8_t waiting = poll_[1];
    const std::uint16_t byteCount = readBe16(poll_.data() + 2);
    read_.fill(0);
    putSetup(read_.data(), frame::kReadRequestType, frame::kReadRequest, waiting,
             static_cast<std::uint16_t>(waiting * 2 + byteCount + 4));
    std::size_t received = 0;
    if (channel_.controlRead(read_.data(), read_.size(), received) != 0) {
        log_.appendLog(kReadFail);
        return -1;
    }

    // 5. Is it a reply, to this command, and did all of it arrive? A packet cut short by the
    // transfer would otherwise pass its first bytes off as the whole answer.
    const std::uint16_t sequenceWord = readBe16(read_.data() + reply::kSequenceWordOffset);
    const std::size_t packetLength = readBe16(read_.data() + reply::kPacketLengthOffset);
    const std::size_t wholeReply = reply::kPacketOffset + std::max(packetLength, reply::kPacketHeaderSize);
    if (read_[reply::kPacketCountOffset] != 1 || (sequenceWord & reply::kReplyBit) == 0 ||
        (sequenceWord & 0x0FFF) != (sequence_ & 0x0FFF) || received < wholeReply) {
        log_.appendLog(kPacketInvalid);
        return 1;
    }

    // 6. The phone's status.
    lastAnswered_ = true;
    const unsigned status = read_[reply::kStatusOffset] >> 4;
    if (status == kStatusDoneNoData) return 0;
    if (status == kStatusDoneWithData) {
        const int dataLength = static_cast<int>(packetLength) - static_cast<int>(reply::kPacketHeaderSize);
        if (readBe16(read_.data() + reply::kDataLengthOffset) != dataLength) {
            log_.appendLog(kPacketInvalid);
            return 1;
        }
        const std::size_t copied = std::min(static_cast<std::size_t>(dataLength), replyCapacity);
        if (copied > 0) std::memcpy(reply, read_.data() + reply::kDataOffset, copied);
        replyLength = static_cast<std::uint32_t>(copied);
        return 0;
    }
    log_.appendLog(kStatusTexts[status]);
    return -1;
}

} // namespace telvane
