// telvane-usb-bench: the libusb port on the phone emulated at the USB level (umockdev) against
// the in-process virtual port, on the same phone model, in one run: milliseconds per KiB
// downloaded and commands per second, and how many times slower the USB road is. The link's
// 1 ms pause before each reply is skipped, so the numbers are the ports' own cost.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "common/log_sink.h"
#include "link/command_transport.h"
#include "link/discovery.h"
#include "platform/libusb/libusb_device_port.h"
#include "services/file_list.h"
#include "services/fs_commands.h"
#include "sim/phone_factory.h"
#include "sim/usb/emulated_usb_phone.h"
#include "sim/usb/preload.h"

namespace {

using namespace telvane;

constexpr std::size_t kFileKiB = 64;
constexpr int kDownloads = 20;
constexpr int kCommands = 2000;
constexpr const char* kFileName = "/a/bench.bin";

// Time that passes only on paper when the link pauses.
class NoPauseClock final : public Clock {
public:
    std::uint32_t tickMs() override { return now_; }
    void sleepMs(std::uint32_t ms) override { now_ += ms; }

private:
    std::uint32_t now_ = 0;
};

struct Speed {
    double msPerKiB = 0;
    double commandsPerSecond = 0;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Finds the phone on the port, puts a file on it, then downloads it again and again and sends
// one short command after another. Nothing when any step fails.
std::optional<Speed> measure(DevicePort& port) {
    NullLog log;
    NoPauseClock clock;
    PhoneLink link;
    UsbChannel channel(port, link, log);
    CommandTransport transport(channel, clock, log);
    FileList list(log);
    FsCommands fs(transport, log, list);
    findPhoneInterface(port, link, channel);
    if (link.handle() == 0) return std::nullopt;

    std::vector<std::uint8_t> file(kFileKiB * 1024);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 31);
    if (fs.FsOpen(kFileName, 0) != 0 || fs.FsWrite(file) != 0 || fs.FsClose() != 0) return std::nullopt;

    Speed speed;
    std::vector<std::uint8_t> back(file.size());
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kDownloads; ++i)
        if (fs.FsOpen(kFileName, 0) != 0 || fs.FsSeek(0, 0) != 0 || fs.FsRead(back) != 0 || fs.FsClose() != 0 ||
            back != file)
            return std::nullopt;
    speed.msPerKiB = 1000 * secondsSince(start) / (kDownloads * kFileKiB);

    std::uint16_t count = 0;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCommands; ++i)
        if (fs.FsCount(count) != 0) return std::nullopt;
    speed.commandsPerSecond = kCommands / secondsSince(start);
    port.close(link.handle());
    return speed;
}

} // namespace

int main(int, char** argv) {
    if (!sim::runUnderUmockdevPreload(argv)) return 1;
    const sim::PhoneProfile profile = *sim::builtinPhoneProfile("tree");

    auto virtualDriver = sim::makeVirtualDriver(profile);
    const auto inProcess = measure(*virtualDriver);

    auto usbDriver = sim::makeVirtualDriver(profile);
    sim::EmulatedUsbPhone bus(*usbDriver);
    NullLog log;
    std::optional<Speed> usb;
    {
        LibusbDevicePort port({}, log); // ends before the bus does
        usb = measure(port);
    }
    if (!inProcess || !usb) {
        std::fprintf(stderr, "the %s port failed\n", inProcess ? "libusb" : "virtual");
        return 1;
    }

    // umockdev answers every ioctl through a socket of its own, so these ratios show the cost of
    // the emulation as much as the port's; they say nothing of a real phone.
    const std::string note = "ratio to the in-process port (no goal: the emulation dominates)";
    bench::comparison("libusb port under umockdev: download",
                      bench::fixed(usb->msPerKiB, 3) + " ms/KiB (in-process " + bench::fixed(inProcess->msPerKiB, 3) +
                          ", " + bench::fixed(usb->msPerKiB / inProcess->msPerKiB, 0) + "x slower)",
                      note);
    bench::comparison("libusb port under umockdev: commands",
                      bench::fixed(usb->commandsPerSecond, 0) + "/s (in-process " +
                          bench::fixed(inProcess->commandsPerSecond, 0) + "/s, " +
                          bench::fixed(inProcess->commandsPerSecond / usb->commandsPerSecond, 0) + "x fewer)",
                      note);
    return 0;
}
