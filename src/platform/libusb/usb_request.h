#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "link/device_port.h"

namespace telvane {

// The driver's request layouts as a USB port carries them out: which control transfer a
// request asks for, and how the answers are laid out. No I/O here.
namespace usbreq {

inline constexpr std::size_t kSetupSize = 8;
inline constexpr std::size_t kAnswerHeaderSize = 4; // before the data stage of a read
inline constexpr std::size_t kStringIndexSize = 2;  // the interface string request's input
inline constexpr std::uint8_t kDirectionIn = 0x80;  // bmRequestType bit 7: device to host

// One control transfer: the setup packet's fields, and for a host-to-device transfer its data stage.
struct ControlTransfer {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
    std::span<const std::uint8_t> data; // host to device only: the `length` bytes after the setup packet
    bool in() const { return (requestType & kDirectionIn) != 0; }
};

// The transfer an input of the control request asks for, given the room offered for the
// answer; nothing when the input cannot be carried out as asked: a setup packet shorter than
// 8 bytes, a host-to-device data stage shorter than wLength, or a device-to-host wLength that
// the room after the answer header cannot hold.
std::optional<ControlTransfer> decodeControlTransfer(std::span<const std::uint8_t> input, std::size_t room);

// Puts the header before a read's data stage, which the caller has already placed at
// output[kAnswerHeaderSize...]; the result covers header and data.
RequestResult completeReadAnswer(std::span<std::uint8_t> output, std::size_t dataLength);

// The UTF-16LE unit bytes of a string descriptor as the device sent it (bLength, type 3,
// units), cut to what arrived; nothing for bytes that are not one.
std::optional<std::span<const std::uint8_t>> stringDescriptorUnits(std::span<const std::uint8_t> descriptor);

// The interface string answer: a 32-bit little-endian count, then that many UTF-16LE units,
// as many as the room holds. Fails when the room cannot even hold the count.
RequestResult interfaceStringAnswer(std::span<const std::uint8_t> unitBytes, std::span<std::uint8_t> output);

} // namespace usbreq
} // namespace telvane
