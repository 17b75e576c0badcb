#include "platform/libusb/usb_request.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace telvane::usbreq {

namespace {
constexpr std::size_t kDescriptorHeaderSize = 2;
constexpr std::uint8_t kStringDescriptorType = 3;
} // namespace

std::optional<ControlTransfer> decodeControlTransfer(std::span<const std::uint8_t> input, std::size_t room) {
    if (input.size() < kSetupSize) return std::nullopt;
    ControlTransfer transfer;
    transfer.requestType = input[0];
    transfer.request = input[1];
    transfer.value = readLe16(input.data() + 2);
    transfer.index = readLe16(input.data() + 4);
    transfer.length = readLe16(input.data() + 6);
    if (transfer.in()) {
        if (room < kAnswerHeaderSize || transfer.length > room - kAnswerHeaderSize) return std::nullopt;
    } else {
        // Bytes after the data stage (the link sends two zero bytes there) are not part of it.
        if (input.size() - kSetupSize < transfer.length) return std::nullopt;
        transfer.data = input.subspan(kSetupSize, transfer.length);
    }
    return transfer;
}

RequestResult completeReadAnswer(std::span<std::uint8_t> output, std::size_t dataLength) {
    if (output.size() < kAnswerHeaderSize) return {RequestOutcome::Failed, 0};
    dataLength = std::min(dataLength, output.size() - kAnswerHeaderSize);
    writeLe32(output.data(), static_cast<std::uint32_t>(dataLength));
    return {RequestOutcome::Completed, kAnswerHeaderSize + dataLength};
}

std::optional<std::span<const std::uint8_t>> stringDescriptorUnits(std::span<const std::uint8_t> descriptor) {
    if (descriptor.size() < kDescriptorHeaderSize || descriptor[1] != kStringDescriptorType) return std::nullopt;
    const std::size_t length = std::min<std::size_t>(descriptor[0], descriptor.size());
    if (length < kDescriptorHeaderSize) return std::nullopt;
    const std::size_t unitBytes = (length - kDescriptorHeaderSize) & ~std::size_t{1};
    return descriptor.subspan(kDescriptorHeaderSize, unitBytes);
}

RequestResult interfaceStringAnswer(std::span<const std::uint8_t> unitBytes, std::span<std::uint8_t> output) {
    if (output.size() < kAnswerHeaderSize) return {RequestOutcome::Failed, 0};
    const std::size_t units = std::min(unitBytes.size() / 2, (output.size() - kAnswerHeaderSize) / 2);
    writeLe32(output.data(), static_cast<std::uint32_t>(units));
    if (units > 0) std::memcpy(output.data() + kAnswerHeaderSize, unitBytes.data(), 2 * units);
    return {RequestOutcome::Completed, kAnswerHeaderSize + 2 * units};
}

} // namespace telvane::usbreq
