// telvane-usbserver: the phones on this machine's USB, reached through libusb and served over
// the device bridge, so that the Windows build under Wine manages a real phone:
//   telvane-usbserver [--port N] [--device usb[:PATH]] [--usb-id VID:PID]...
//   wine telvane.exe --device tcp:127.0.0.1:N
// Prints the port it listens on first (loopback only; 0, the default, picks a free one). Ends
// on "quit" on standard input or on SIGINT/SIGTERM, giving back the interfaces it holds; the
// end of input alone does not end it, so it can run in the background.

#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include "bridge/bridge_server.h"
#include "platform/libusb/usb_device_choice.h"

namespace {

using namespace telvane;

// Open failures of the port; standard output carries only the port number.
class ErrorLog final : public LogSink {
public:
    void appendLog(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stderr); }
};

bool parseListenPort(std::string_view text, std::uint16_t& port) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 0xFFFF) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

void printUsage(std::FILE* to) {
    std::fprintf(to, "usage: telvane-usbserver [--port N] [--device usb[:PATH]] [--usb-id VID:PID]...\n"
                     "  --port N           listen on 127.0.0.1 port N (0, the default, picks a free port; it is\n"
                     "                     printed first)\n"
                     "  --device usb[:PATH]\n"
                     "                     serve every phone (usb), or one device (usb:1-4) or interface\n"
                     "                     (usb:1-4:8)\n"
                     "  --usb-id VID:PID   take the USB device VID:PID for a phone too (repeatable)\n"
                     "Ends on \"quit\" on standard input, SIGINT or SIGTERM.\n");
}

int usage() {
    printUsage(stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        printUsage(stdout);
        return 0;
    }
    std::uint16_t listenPort = 0;
    std::string device = "usb"; // every phone on this machine
    std::vector<UsbId> usbIds;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--port" && parseListenPort(value, listenPort)) continue;
        if (option == "--device" && isUsbDeviceChoice(value)) {
            device = value;
            continue;
        }
        const auto id = option == "--usb-id" ? parseUsbId(value) : std::nullopt;
        if (!id) return usage();
        usbIds.push_back(*id);
    }
    if (argc % 2 == 0) return usage(); // an option without its value

    // Blocked before any thread starts, so that every thread inherits it and sigwait gets them.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    ErrorLog log;
    auto port = makeUsbDevicePort(device, usbIds, log);
    if (!port->started()) {
        std::fprintf(stderr, "libusb cannot start\n");
        return 1;
    }
    BridgeServer server(*port, [&port] { port->shutdown(); });
    if (!server.start(listenPort)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", static_cast<unsigned>(listenPort));
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);

    std::thread([] {
        std::string line;
        while (std::getline(std::cin, line))
            if (line == "quit" || line == "quit\r") kill(getpid(), SIGTERM);
    }).detach();
    int signal = 0;
    sigwait(&stops, &signal);
    server.stop();
    return 0;
}
