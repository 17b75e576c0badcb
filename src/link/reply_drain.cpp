#include "link/reply_drain.h"

#include <array>
#include <mutex>

#include "common/byte_order.h"
#include "common/log_sink.h"
#include "common/phone_link.h"
#include "link/command_transport.h"
#include "link/usb_channel.h"

namespace telvane {

namespace {

template <std::size_t N>
void putReadSetup(std::array<std::uint8_t, N>& area, std::uint8_t request, std::uint16_t value, std::uint16_t length) {
    area.fill(0);
    area[0] = frame::kReadRequestType;
    area[1] = request;
    writeLe16(area.data() + 2, value);
    writeLe16(area.data() + 4, frame::kInterfaceIndex);
    writeLe16(area.data() + 6, length);
}

} // namespace

std::size_t drainPendingReplies(DevicePort& port, DeviceHandle handle, std::size_t maxReplies) {
    // A channel of its own on the handle: the same transfers a command's poll and read make.
    NullLog log;
    PhoneLink link;
    {
        std::lock_guard<std::mutex> lock(link.requestMutex());
        link.publish(handle, std::string());
    }
    UsbChannel channel(port, link, log);
    std::size_t dropped = 0;
    std::array<std::uint8_t, frame::kPollAreaSize> poll{};
    std::array<std::uint8_t, frame::kAreaSize> reply{};
    while (dropped < maxReplies) {
        putReadSetup(poll, frame::kPollRequest, 0, frame::kPollLength);
        std::size_t length = 0;
        if (channel.controlRead(poll.data(), poll.size(), length) != 0 || (poll[1] != 1 && poll[1] != 2)) break;
        const std::uint8_t waiting = poll[1];
        const std::uint16_t byteCount = readBe16(poll.data() + 2);
        putReadSetup(reply, frame::kReadRequest, waiting, static_cast<std::uint16_t>(waiting * 2 + byteCount + 4));
        if (channel.controlRead(reply.data(), reply.size(), length) != 0) break;
        ++dropped;
    }
    std::lock_guard<std::mutex> lock(link.requestMutex());
    link.withdraw();
    return dropped;
}

} // namespace telvane
