#include "services/seem_commands.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace telvane {

namespace {
void putHeader(std::uint8_t* p, std::uint16_t seemNumber, std::uint16_t record, std::uint16_t offset,
               std::uint16_t length) {
    writeBe16(p, seemNumber);
    writeBe16(p + 2, record);
    writeBe16(p + 4, offset);
    writeBe16(p + 6, length);
}
} // namespace

int SeemCommands::readSeem(std::uint16_t seemNumber, std::uint16_t record, std::span<std::uint8_t> destination,
                           std::uint32_t& size) {
    std::uint8_t header[seem::kHeaderSize];
    putHeader(header, seemNumber, record, 0, 0);
    // A reply without data reads as result code 0 and an empty record.
    std::uint32_t replyLength = 1;
    area_[0] = 0;
    if (transport_.sendCommand(seem::kOpRead, header, sizeof header, area_.data(), area_.size(), replyLength) != 0) {
        // A phone status other than done is the phone's answer too: it has no such record to give.
        lastReadAnswered_ = transport_.lastAnswered();
        return -1;
    }
    lastReadAnswered_ = true;
    if (replyLength == 0 || area_[0] != 0) return -1;
    size = replyLength - 1;
    const std::size_t copied = std::min<std::size_t>(size, destination.size());
    if (copied > 0) std::memcpy(destination.data(), area_.data() + 1, copied);
    return 0;
}

int SeemCommands::writeSeem(std::uint16_t seemNumber, std::uint16_t record, std::uint16_t offset,
                            std::uint32_t length, std::span<const std::uint8_t> data) {
    const bool empty = length == 0;
    if (empty) length = 1;
    if (length > seem::kAreaSize) length = seem::kAreaSize;
    // Refused before anything is copied or sent: the frame could not carry it, or the caller
    // did not hand over the bytes it asked to write.
    if (length > seem::kMaxWriteLength || (!empty && length > data.size())) return -1;

    std::uint8_t* payload = writePayload_.data();
    putHeader(payload, seemNumber, record, offset, static_cast<std::uint16_t>(length));
    std::memset(payload + seem::kHeaderSize, 0, length);
    if (!data.empty()) std::memcpy(payload + seem::kHeaderSize, data.data(), std::min<std::size_t>(length, data.size()));

    std::uint32_t replyLength = 1;
    writeReply_[0] = 0;
    if (transport_.sendCommand(seem::kOpWrite, payload, seem::kHeaderSize + length, writeReply_.data(),
                               writeReply_.size(), replyLength) != 0)
        return -1;
    return writeReply_[0] == 0 ? 0 : -1;
}

int SeemCommands::suspendPhone() {
    const std::uint8_t payload[1] = {0x00};
    std::uint32_t replyLength = 0;
    return transport_.sendCommand(seem::kOpSuspend, payload, sizeof payload, controlReply_.data(),
                                  controlReply_.size(), replyLength);
}

int SeemCommands::restartPhone() {
    std::uint32_t replyLength = 0;
    return transport_.sendCommand(seem::kOpRestart, nullptr, 0, controlReply_.data(), controlReply_.size(),
                                  replyLength);
}

} // namespace telvane
