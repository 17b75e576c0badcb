// telvane-cli: a short scripted session with a phone, printing the log as it goes.
//   telvane-cli [--device usb[:PATH]]        a phone on this machine's USB, through libusb (the default)
//   telvane-cli --device tcp:HOST:PORT      a phone served by telvane-phonesim (or any bridge server)
//   telvane-cli --device virtual[:PROFILE]  the virtual phone, in this process
// --usb-id VID:PID takes that USB device for a phone too. Switches a modem-mode phone over,
// finds its command interface, shows its volume, model, free space and files, then suspends
// and restarts it; with "info" last, only the volume, model and free space. Exit status 0
// when all of it worked.

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bridge/bridge_client.h"
#include "common/clock.h"
#include "common/log_sink.h"
#include "common/phone_link.h"
#include "link/command_transport.h"
#include "link/discovery.h"
#include "link/usb_channel.h"
#include "platform/libusb/usb_device_choice.h"
#include "services/file_list.h"
#include "services/fs_commands.h"
#include "services/phone_info.h"
#include "services/seem_commands.h"
#include "sim/phone_factory.h"

namespace {

using namespace telvane;

constexpr std::uint16_t kModelSeem = 0x0117;
constexpr std::uint16_t kModelRecord = 1;
constexpr std::size_t kFilesShown = 20;
// A phone switched out of modem mode takes a few seconds to come back with its command interface.
constexpr int kSwitchWaitSeconds = 8;

std::unique_ptr<DevicePort> makePort(const std::string& device, const std::vector<UsbId>& usbIds, LogSink& log) {
    if (auto usb = makeUsbDevicePort(device, usbIds, log)) return usb;
    if (device == "virtual" || device.rfind("virtual:", 0) == 0) {
        std::string error;
        const std::string profile = device == "virtual" ? "" : device.substr(8);
        auto chosen = sim::selectPhoneProfile(profile, "", error);
        if (!chosen) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return nullptr;
        }
        return sim::makeVirtualDriver(*chosen);
    }
    if (auto address = parseBridgeAddress(device)) return std::make_unique<BridgeClient>(address->host, address->port);
    return nullptr;
}

std::string narrow(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return out;
}

bool runCommand(LogSink& log, const char* name, int result) {
    // A failure has already been logged by the layer that saw it, on this same line.
    log.appendLog(std::string(name) + (result == 0 ? ": ok\r\n" : "\r\n"));
    return result == 0;
}

// Volume, model, free space and (unless only the identity is asked for) the file list, as the
// window would show them.
bool showPhone(FsCommands& fs, SeemCommands& seems, FileList& files, LogSink& log, bool identityOnly) {
    PhoneInfo info;
    if (fs.FsVolumeName(info.volume) != 0) return runCommand(log, "Volume name", -1);
    wideBeToHost(info.volume);
    std::uint32_t modelSize = 0;
    if (seems.readSeem(kModelSeem, kModelRecord, info.modelBytes(), modelSize) != 0) return runCommand(log, "Model", -1);
    wideBeToHost(info.model);
    if (fs.FsFreeSpace(info.volume, info.freeSpace) != 0) return runCommand(log, "Free space", -1);
    log.appendLog("Volume: " + narrow(info.volumeText()) + ", model: " + narrow(info.modelText()) +
                  ", free space: " + std::to_string(info.freeSpace / 1024) + " KBytes\r\n");
    if (identityOnly) return true;

    NullProgress progress;
    if (files.readFileList(fs, progress) != 0) return runCommand(log, "File list", -1);
    log.appendLog("Files: " + std::to_string(files.count()) + "\r\n");
    for (std::uint32_t i = 0; i < files.count() && i < kFilesShown; ++i) {
        const FileEntry entry = files.entry(i);
        log.appendLog("  " + std::string(entryName(entry)) + "  " + std::to_string(entrySize(entry)) + "\r\n");
    }
    if (files.count() > kFilesShown) log.appendLog("  ...\r\n");
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: telvane-cli [--device usb[:PATH] | tcp:HOST:PORT | virtual[:PROFILE]] "
                         "[--usb-id VID:PID]... [info]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string device = kDefaultNativeDevice;
    std::vector<UsbId> usbIds;
    bool identityOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--device" && i + 1 < argc) {
            device = argv[++i];
        } else if (arg == "--usb-id" && i + 1 < argc) {
            const auto id = parseUsbId(argv[++i]);
            if (!id) return usage();
            usbIds.push_back(*id);
        } else if (arg == "info" && i + 1 == argc) {
            identityOnly = true;
        } else {
            return usage();
        }
    }

    StdoutLog log;
    auto port = makePort(device, usbIds, log);
    if (!port) {
        std::fprintf(stderr, "unusable device: %s\n", device.c_str());
        return usage();
    }
    SteadyClock clock;
    PhoneLink link;
    UsbChannel channel(*port, link, log);
    CommandTransport transport(channel, clock, log);
    FileList files(log);
    FsCommands fs(transport, log, files);
    SeemCommands seems(transport);

    log.appendLog("Device: " + device + "\r\n");
    std::string modem;
    if (queryModemPort(*port, modem) == 0) {
        log.appendLog("Modem on " + modem + ", switching it over\r\n");
        switchModemToP2k(*port, modem);
        for (int second = 0; second < kSwitchWaitSeconds && link.handle() == 0; ++second) {
            clock.sleepMs(1000);
            findPhoneInterface(*port, link, channel);
        }
    }
    if (link.handle() == 0) findPhoneInterface(*port, link, channel);
    if (link.handle() == 0) {
        log.appendLog("Phone not found\r\n");
        return 1;
    }
    log.appendLog("Phone: " + link.devicePath() + "\r\n");
    link.setConnected(true);

    bool ok = showPhone(fs, seems, files, log, identityOnly);
    if (!identityOnly) {
        ok = runCommand(log, "Suspend", seems.suspendPhone()) && ok;
        ok = runCommand(log, "Restart", seems.restartPhone()) && ok;
    }

    const DeviceHandle handle = link.handle();
    link.setConnected(false);
    link.setHandle(0);
    port->close(handle);
    log.appendLog(ok ? "Session ok\r\n" : "Session failed\r\n");
    return ok ? 0 : 1;
}
