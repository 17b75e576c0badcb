// telvane-cli: a short scripted session with a phone, printing the log as it goes.
//   telvane-cli --device tcp:HOST:PORT   a phone served by telvane-phonesim (or any bridge server)
//   telvane-cli --device virtual         the virtual phone, in this process
// Finds the phone's command interface, suspends and restarts the phone. Exit status 0 when all
// of it worked.

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bridge/bridge_client.h"
#include "common/clock.h"
#include "common/log_sink.h"
#include "common/phone_link.h"
#include "link/command_transport.h"
#include "link/usb_channel.h"
#include "sim/virtual_driver.h"

namespace {

using namespace telvane;

constexpr const char* kCommandInterfaceName = "Motorola Test Command";
constexpr std::uint16_t kInterfaceStringIndex = 2;
constexpr std::uint16_t kOpcodeSuspend = 0x36;
constexpr std::uint16_t kOpcodeRestart = 0x22;

std::unique_ptr<DevicePort> makePort(const std::string& device) {
    if (device == "virtual") return std::make_unique<sim::VirtualDriver>();
    if (auto address = parseBridgeAddress(device)) return std::make_unique<BridgeClient>(address->host, address->port);
    return nullptr;
}

// Opens each listed interface and keeps the one that names itself the command interface.
// Interim: the discovery module will take this over.
bool findPhone(DevicePort& port, PhoneLink& link, UsbChannel& channel, LogSink& log) {
    const std::vector<std::string> paths = port.listInterfaces();
    log.appendLog("Interfaces: " + std::to_string(paths.size()) + "\r\n");
    for (const auto& path : paths) {
        const DeviceHandle handle = port.open(path);
        if (handle == 0) continue;
        link.setHandle(handle);
        std::array<char, UsbChannel::kInterfaceStringBufferSize> name{};
        if (channel.readInterfaceString(kInterfaceStringIndex, name) == 0 &&
            std::strcmp(name.data(), kCommandInterfaceName) == 0) {
            link.setDevicePath(path);
            log.appendLog("Phone: " + path + "\r\n");
            return true;
        }
        link.setHandle(0);
        port.close(handle);
    }
    log.appendLog("Phone not found\r\n");
    return false;
}

bool runCommand(CommandTransport& transport, LogSink& log, const char* name, std::uint16_t opcode,
                const std::vector<std::uint8_t>& payload) {
    char line[64];
    std::snprintf(line, sizeof line, "%s (0x%02x): ", name, static_cast<unsigned>(opcode));
    log.appendLog(line);
    std::uint32_t replyLength = 0;
    const int result = transport.sendCommand(opcode, payload.data(), payload.size(), nullptr, 0, replyLength);
    // A failure has already been logged by the layer that saw it, on this same line.
    if (result == 0) log.appendLog("ok\r\n");
    return result == 0;
}

int usage() {
    std::fprintf(stderr, "usage: telvane-cli --device tcp:HOST:PORT | virtual\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "--device") != 0) return usage();
    const std::string device = argv[2];
    auto port = makePort(device);
    if (!port) {
        std::fprintf(stderr, "unusable device: %s\n", device.c_str());
        return usage();
    }

    StdoutLog log;
    SteadyClock clock;
    PhoneLink link;
    UsbChannel channel(*port, link, log);
    CommandTransport transport(channel, clock, log);

    log.appendLog("Device: " + device + "\r\n");
    if (!findPhone(*port, link, channel, log)) return 1;
    link.setConnected(true);

    bool ok = runCommand(transport, log, "Suspend", kOpcodeSuspend, {0x00});
    ok = runCommand(transport, log, "Restart", kOpcodeRestart, {}) && ok;

    const DeviceHandle handle = link.handle();
    link.setConnected(false);
    link.setHandle(0);
    port->close(handle);
    log.appendLog(ok ? "Session ok\r\n" : "Session failed\r\n");
    return ok ? 0 : 1;
}
