#include "link/discovery.h"

#include <array>
#include <cstring>
#include <mutex>

namespace telvane {

namespace {
constexpr std::size_t kPortNameCapacity = 256;
}

int queryModemPort(DevicePort& port, std::string& name) {
    std::string value = port.modemPort();
    if (value.size() >= kPortNameCapacity) value.resize(kPortNameCapacity - 1);
    // A registry text may carry its terminator and whatever followed; the name ends at the first zero.
    value = value.substr(0, std::strlen(value.c_str()));
    // Windows names the port "COM7"; on Linux it is the tty's device node ("/dev/ttyACM0").
    if (value.compare(0, 3, "COM") != 0 && value.compare(0, 5, "/dev/") != 0) return -1;
    name = value;
    return 0;
}

int switchModemToP2k(DevicePort& port, const std::string& name) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(kModeSwitchCommand);
    return port.writeModem(name, std::span<const std::uint8_t>(bytes, std::strlen(kModeSwitchCommand))) ? 0 : -1;
}

InterfaceSearch findPhoneInterface(DevicePort& port, PhoneLink& link, UsbChannel& channel) {
    bool inUse = false;
    for (const std::string& path : port.listInterfaces()) {
        // Probed on a handle of our own: a command in flight must never find a foreign interface
        // (or one not yet recognised) in the link.
        const OpenResult probe = port.tryOpen(path);
        if (probe.handle == 0) {
            // Its name cannot be read, but a held interface of the phone's class is most likely
            // the phone's own in another program's hands.
            inUse = inUse || probe.outcome == OpenOutcome::InUse;
            continue;
        }
        std::array<char, UsbChannel::kInterfaceStringBufferSize> name{};
        if (channel.readInterfaceString(probe.handle, 2, name) == 0 &&
            std::strcmp(name.data(), kCommandInterfaceName) == 0) {
            std::lock_guard<std::mutex> lock(link.requestMutex());
            link.publish(probe.handle, path);
            return InterfaceSearch::Found;
        }
        port.close(probe.handle);
    }
    return inUse ? InterfaceSearch::InUse : InterfaceSearch::Absent;
}

} // namespace telvane
