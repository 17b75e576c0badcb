#include "platform/libusb/acm_modem.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace telvane {

namespace {

constexpr const char* kTtyClass = "/sys/class/tty/";
constexpr std::string_view kAcmPrefix = "ttyACM";

// A sysfs attribute holding one hexadecimal number ("22b8\n").
std::optional<std::uint16_t> readHexAttribute(const std::string& path) {
    std::ifstream in(path);
    unsigned value = 0;
    if (!(in >> std::hex >> value) || value > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

bool isAcmName(const std::string& name) {
    return name.size() > kAcmPrefix.size() && name.compare(0, kAcmPrefix.size(), kAcmPrefix) == 0 &&
           name.find_first_not_of("0123456789", kAcmPrefix.size()) == std::string::npos;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

std::vector<std::string> findAcmModems(const UsbDeviceFilter& filter) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(kTtyClass)) {
        while (const dirent* entry = ::readdir(dir))
            if (isAcmName(entry->d_name)) names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::strtoul(a.c_str() + kAcmPrefix.size(), nullptr, 10) <
               std::strtoul(b.c_str() + kAcmPrefix.size(), nullptr, 10);
    });

    std::vector<std::string> modems;
    for (const std::string& name : names) {
        // The tty's device is the ACM interface; the USB device with its ids is the one above it.
        const std::string device = std::string(kTtyClass) + name + "/device/../";
        const auto vendor = readHexAttribute(device + "idVendor");
        const auto product = readHexAttribute(device + "idProduct");
        if (vendor && product && filter.accepts(*vendor, *product)) modems.push_back("/dev/" + name);
    }
    return modems;
}

bool writeRawTty(const std::string& device, std::span<const std::uint8_t> bytes, std::uint32_t limitMs) {
    // Not blocking: a phone that does not take the bytes must not hold the caller past the limit.
    Descriptor fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios settings{};
    if (fd.get() < 0 || ::tcgetattr(fd.get(), &settings) != 0) return false; // not a tty
    ::cfmakeraw(&settings);
    if (::tcsetattr(fd.get(), TCSANOW, &settings) != 0) return false;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fd.get(), POLLOUT, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    }
    return true;
}

} // namespace telvane
