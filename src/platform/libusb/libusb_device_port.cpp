#include "platform/libusb/libusb_device_port.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>

#include <libusb.h>
#ifdef _WIN32
#include "platform/win32/win32_modem.h"
#else
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/libusb/acm_modem.h"
#endif

#include "common/byte_order.h"
#include "link/usb_channel.h"
#include "platform/libusb/libusb_runtime.h"
#include "platform/libusb/usb_request.h"

namespace telvane {

namespace {

constexpr std::uint8_t kVendorSpecificClass = 0xFF;
#ifdef _WIN32
// No hotplug there: each look reads the whole device list, so not too often.
constexpr std::uint32_t kRemovalPollMs = 500;
#else
constexpr std::uint32_t kRemovalPollMs = 250;
constexpr long kEventHandlingUs = 10000;
#endif
constexpr std::size_t kMaxStringDescriptor = 255;
constexpr std::uint8_t kLanguageTableIndex = 0;
constexpr std::size_t kMaxPortDepth = 7;
constexpr std::size_t kMaxReportedPaths = 64;
#ifndef _WIN32
constexpr const char* kUdevRule = "packaging/linux/70-telvane-p2k.rules";
#endif

// The list libusb holds now, released with its references.
class DeviceList {
public:
    explicit DeviceList(libusb_context* context) {
        if (context == nullptr) return;
        const ssize_t n = libusb_get_device_list(context, &list_);
        count_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    ~DeviceList() {
        if (list_ != nullptr) libusb_free_device_list(list_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    std::span<libusb_device* const> devices() const { return {list_, count_}; }

private:
    libusb_device** list_ = nullptr;
    std::size_t count_ = 0;
};

// A device's active configuration (the first one while it has none), released at the end.
class Configuration {
public:
    explicit Configuration(libusb_device* device) {
        if (libusb_get_active_config_descriptor(device, &config_) != LIBUSB_SUCCESS &&
            libusb_get_config_descriptor(device, 0, &config_) != LIBUSB_SUCCESS)
            config_ = nullptr;
    }
    ~Configuration() {
        if (config_ != nullptr) libusb_free_config_descriptor(config_);
    }
    Configuration(const Configuration&) = delete;
    Configuration& operator=(const Configuration&) = delete;

    // The vendor-specific interfaces, by their first alternate setting.
    std::vector<const libusb_interface_descriptor*> vendorInterfaces() const {
        std::vector<const libusb_interface_descriptor*> found;
        if (config_ == nullptr) return found;
        for (int i = 0; i < config_->bNumInterfaces; ++i) {
            const libusb_interface& interface = config_->interface[i];
            if (interface.num_altsetting < 1) continue;
            if (interface.altsetting[0].bInterfaceClass == kVendorSpecificClass) found.push_back(&interface.altsetting[0]);
        }
        return found;
    }

private:
    libusb_config_descriptor* config_ = nullptr;
};

// Bus and port chain of a device, or nothing for one without ports (a root hub).
std::optional<UsbInterfacePath> placeOf(libusb_device* device) {
    std::array<std::uint8_t, kMaxPortDepth> ports{};
    const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    if (depth <= 0) return std::nullopt;
    UsbInterfacePath place;
    place.bus = libusb_get_bus_number(device);
    place.ports.assign(ports.begin(), ports.begin() + depth);
    return place;
}

bool accepted(const UsbDeviceFilter& filter, libusb_device* device) {
    libusb_device_descriptor descriptor{};
    return libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
           filter.accepts(descriptor.idVendor, descriptor.idProduct);
}

RequestOutcome outcomeOf(int error) {
    return error == LIBUSB_ERROR_TIMEOUT ? RequestOutcome::TimedOut : RequestOutcome::Failed;
}

// A string descriptor read with the request's own limit (libusb's helper has a fixed one).
int readStringDescriptor(libusb_device_handle* handle, std::uint8_t index, std::uint16_t language,
                         std::array<std::uint8_t, kMaxStringDescriptor>& buffer, unsigned timeoutMs) {
    return libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                   static_cast<std::uint16_t>((LIBUSB_DT_STRING << 8) | index), language,
                                   buffer.data(), static_cast<std::uint16_t>(buffer.size()), timeoutMs);
}

} // namespace

// A claimed interface. Released, given back to its kernel driver and closed when the last
// request using it has ended, so close() never pulls it from under a transfer.
struct LibusbDevicePort::OpenInterface {
    libusb_device_handle* handle = nullptr;
    std::uint8_t number = 0;
    std::uint8_t stringIndex = 0;
    bool claimed = false;
    bool detached = false;

    OpenInterface() = default;
    OpenInterface(const OpenInterface&) = delete;
    OpenInterface& operator=(const OpenInterface&) = delete;
    ~OpenInterface() {
        if (claimed) libusb_release_interface(handle, number);
#ifndef _WIN32
        if (detached) libusb_attach_kernel_driver(handle, number);
#endif
        if (handle != nullptr) libusb_close(handle);
    }
};

LibusbDevicePort::LibusbDevicePort(Settings settings, LogSink& log)
    : settings_(std::move(settings)), filter_(settings_.extraIds), log_(log) {
    if (!libusbAvailable(unavailable_)) return;
#ifndef _WIN32
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
#endif
    if (libusb_init(&context_) != LIBUSB_SUCCESS) {
        context_ = nullptr;
        unavailable_ = "libusb could not start";
        return;
    }
#ifndef _WIN32
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
        auto left = [](libusb_context*, libusb_device* device, libusb_hotplug_event, void* self) -> int {
            static_cast<LibusbDevicePort*>(self)->noteDeparture(device);
            return 0; // stay registered
        };
        hotplug_ = libusb_hotplug_register_callback(context_, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_NO_FLAGS,
                                                    LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                                    LIBUSB_HOTPLUG_MATCH_ANY, left, this,
                                                    &hotplugHandle_) == LIBUSB_SUCCESS;
    }
#endif
}

LibusbDevicePort::~LibusbDevicePort() {
    shutdown();
    handles_.clear();
    for (auto& [path, opened] : opened_) libusb_unref_device(opened.device);
    if (context_ != nullptr) {
#ifndef _WIN32
        if (hotplug_) libusb_hotplug_deregister_callback(context_, hotplugHandle_);
#endif
        libusb_exit(context_);
    }
#ifndef _WIN32
    if (wakeFd_ >= 0) ::close(wakeFd_);
#endif
}

void LibusbDevicePort::shutdown() {
#ifdef _WIN32
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stopping_.store(true);
    }
    wake_.notify_all();
#else
    stopping_.store(true);
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
#endif
}

#ifdef _WIN32
// The modem switch goes through the COM port Windows lists for the phone's modem, as with the
// maker's driver.
std::string LibusbDevicePort::modemPort() { return findModemPort(); }

bool LibusbDevicePort::writeModem(const std::string& port, std::span<const std::uint8_t> bytes) {
    // The name may come from another process over the bridge: write to no port but the modem's.
    if (port.empty() || port != findModemPort()) return false;
    return writeModemPort(port, bytes);
}
#else
std::string LibusbDevicePort::modemPort() {
    const auto modems = findAcmModems(filter_);
    return modems.empty() ? std::string() : modems.front();
}

bool LibusbDevicePort::writeModem(const std::string& port, std::span<const std::uint8_t> bytes) {
    // The name may come from another process over the bridge: write to no file but a phone's tty.
    const auto modems = findAcmModems(filter_);
    if (std::find(modems.begin(), modems.end(), port) == modems.end()) return false;
    return writeRawTty(port, bytes, kModemWriteLimitMs);
}
#endif

bool LibusbDevicePort::acceptsPath(const std::string& path) const {
    const std::string& only = settings_.only;
    if (only.empty() || path == only) return true;
    return path.size() > only.size() && path.compare(0, only.size(), only) == 0 && path[only.size()] == ':';
}

std::vector<std::string> LibusbDevicePort::listInterfaces() {
    std::vector<std::string> paths;
    DeviceList list(context_);
    for (libusb_device* device : list.devices()) {
        if (!accepted(filter_, device)) continue;
        auto place = placeOf(device);
        if (!place) continue;
        const Configuration configuration(device);
        for (const libusb_interface_descriptor* interface : configuration.vendorInterfaces()) {
            place->interfaceNumber = interface->bInterfaceNumber;
            std::string path = formatUsbPath(*place);
            if (acceptsPath(path)) paths.push_back(std::move(path));
        }
    }
    return paths;
}

libusb_device* LibusbDevicePort::findDevice(const UsbInterfacePath& where) {
    DeviceList list(context_);
    for (libusb_device* device : list.devices()) {
        const auto place = placeOf(device);
        if (place && place->bus == where.bus && place->ports == where.ports) return libusb_ref_device(device);
    }
    return nullptr;
}

DeviceHandle LibusbDevicePort::open(const std::string& path) { return tryOpen(path).handle; }

OpenResult LibusbDevicePort::tryOpen(const std::string& path) {
    OpenFailure failure = OpenFailure::None;
    const DeviceHandle handle = openInterface(path, failure);
    if (handle != 0) return {handle, OpenOutcome::Opened};
    if (failure != OpenFailure::None) reportOpenFailure(path, failure);
    return {0, failure == OpenFailure::Busy ? OpenOutcome::InUse : OpenOutcome::Failed};
}

DeviceHandle LibusbDevicePort::openInterface(const std::string& path, OpenFailure& failure) {
    const auto where = parseUsbPath(path);
    if (!where || !acceptsPath(path)) return 0; // never listed here: nothing to say
    auto failed = [&failure](OpenFailure why) {
        failure = why;
        return DeviceHandle{0};
    };
    auto failedWith = [&failed](int error) {
        switch (error) {
#ifdef _WIN32
        // Windows' libusb reaches only interfaces WinUSB (or a driver like it) is bound to.
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return failed(OpenFailure::NoDriver);
#endif
        case LIBUSB_ERROR_ACCESS:
            return failed(OpenFailure::NoPermission);
        case LIBUSB_ERROR_BUSY:
            return failed(OpenFailure::Busy);
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return failed(OpenFailure::Gone);
        default:
            return failed(OpenFailure::Other);
        }
    };

    libusb_device* device = findDevice(*where);
    if (device == nullptr) return failed(OpenFailure::Gone);
    std::unique_ptr<libusb_device, decltype(&libusb_unref_device)> reference(device, libusb_unref_device);
    if (!accepted(filter_, device)) return failed(OpenFailure::Gone);

    auto open = std::make_shared<OpenInterface>();
    bool found = false;
    const Configuration configuration(device);
    for (const libusb_interface_descriptor* interface : configuration.vendorInterfaces()) {
        if (interface->bInterfaceNumber != where->interfaceNumber) continue;
        open->number = interface->bInterfaceNumber;
        open->stringIndex = interface->iInterface;
        found = true;
    }
    if (!found) return failed(OpenFailure::Gone);

    int result = libusb_open(device, &open->handle);
    if (result != LIBUSB_SUCCESS) {
        open->handle = nullptr;
        return failedWith(result);
    }
#ifdef _WIN32
    result = libusb_claim_interface(open->handle, open->number);
    // On a composite device the parent opens; an interface without WinUSB is then not found.
    if (result == LIBUSB_ERROR_NOT_FOUND) return failed(OpenFailure::NoDriver);
    if (result != LIBUSB_SUCCESS) return failedWith(result);
#else
    // Take the interface from a kernel driver only when one holds it; it gets it back on close.
    if (libusb_kernel_driver_active(open->handle, open->number) == 1) {
        result = libusb_detach_kernel_driver(open->handle, open->number);
        if (result != LIBUSB_SUCCESS && result != LIBUSB_ERROR_NOT_FOUND) return failedWith(result);
        open->detached = result == LIBUSB_SUCCESS;
    }
    result = libusb_claim_interface(open->handle, open->number);
    if (result != LIBUSB_SUCCESS) return failedWith(result);
#endif
    open->claimed = true;

    libusb_device* replaced = nullptr;
    DeviceHandle handle = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handle = nextHandle_++;
        handles_[handle] = std::move(open);
        Opened& opened = opened_[path];
        replaced = opened.device;
        opened = Opened{libusb_ref_device(device), false};
        reported_.erase(path);
    }
    if (replaced != nullptr) libusb_unref_device(replaced);
    return handle;
}

void LibusbDevicePort::reportOpenFailure(const std::string& path, OpenFailure failure) {
    {
        // Discovery tries again every second: say a cause once, not once a second.
        std::lock_guard<std::mutex> lock(mutex_);
        if (reported_.size() >= kMaxReportedPaths) reported_.clear();
        auto [it, added] = reported_.emplace(path, failure);
        if (!added && it->second == failure) return;
        it->second = failure;
    }
    std::string why;
#ifdef _WIN32
    const auto where = parseUsbPath(path);
    const std::string interface = "the phone's Interface " + std::to_string(where ? where->interfaceNumber : 8);
#endif
    switch (failure) {
    case OpenFailure::NoPermission:
#ifdef _WIN32
        why = "access denied (another program or driver holds " + interface + ")";
#else
        why = std::string("no permission (install ") + kUdevRule + ")";
#endif
        break;
    case OpenFailure::Busy:
        why = "interface busy (another program holds it)";
        break;
    case OpenFailure::Gone:
        why = "device gone";
        break;
    case OpenFailure::NoDriver:
#ifdef _WIN32
        why = "no WinUSB driver: bind WinUSB to " + interface + " (with a driver installer such as Zadig; see the README)";
#else
        why = "no driver";
#endif
        break;
    case OpenFailure::None:
    case OpenFailure::Other:
        why = "libusb failure";
        break;
    }
    log_.appendLog("USB: cannot open " + path + ": " + why + "\r\n");
}

std::shared_ptr<LibusbDevicePort::OpenInterface> LibusbDevicePort::find(DeviceHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    return it != handles_.end() ? it->second : nullptr;
}

void LibusbDevicePort::close(DeviceHandle handle) {
    std::shared_ptr<OpenInterface> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) return;
        closing = std::move(it->second);
        handles_.erase(it);
    }
    // Released here, or by the request still using it when that ends.
}

RequestResult LibusbDevicePort::request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output, std::uint32_t limitMs) {
    const auto open = find(handle);
    if (!open) return {RequestOutcome::Failed, 0};
    // libusb reads a timeout of 0 as "no limit"; the smallest limit it can honour is 1 ms.
    const unsigned timeoutMs = std::max<std::uint32_t>(limitMs, 1);
    if (code == UsbChannel::kControlCode) return controlTransfer(*open, input, output, timeoutMs);
    if (code == UsbChannel::kInterfaceStringCode) return interfaceString(*open, input, output, timeoutMs);
    return {RequestOutcome::Failed, 0};
}

RequestResult LibusbDevicePort::controlTransfer(OpenInterface& open, std::span<const std::uint8_t> input,
                                                std::span<std::uint8_t> output, unsigned timeoutMs) {
    const auto transfer = usbreq::decodeControlTransfer(input, output.size());
    if (!transfer) return {RequestOutcome::Failed, 0};
    if (transfer->in()) {
        const int received = libusb_control_transfer(open.handle, transfer->requestType, transfer->request,
                                                     transfer->value, transfer->index,
                                                     output.data() + usbreq::kAnswerHeaderSize, transfer->length,
                                                     timeoutMs);
        if (received < 0) return {outcomeOf(received), 0};
        return usbreq::completeReadAnswer(output, static_cast<std::size_t>(received));
    }
    // libusb only reads a host-to-device data stage, though its parameter is not const.
    auto* data = const_cast<std::uint8_t*>(transfer->data.data());
    const int sent = libusb_control_transfer(open.handle, transfer->requestType, transfer->request, transfer->value,
                                             transfer->index, data, transfer->length, timeoutMs);
    if (sent < 0) return {outcomeOf(sent), 0};
    return {RequestOutcome::Completed, 0};
}

RequestResult LibusbDevicePort::interfaceString(OpenInterface& open, std::span<const std::uint8_t> input,
                                                std::span<std::uint8_t> output, unsigned timeoutMs) {
    // The request asks for the interface's own name; its index is the driver's, not a USB string index.
    if (input.size() < usbreq::kStringIndexSize || output.size() < usbreq::kAnswerHeaderSize)
        return {RequestOutcome::Failed, 0};
    if (open.stringIndex == 0) return usbreq::interfaceStringAnswer({}, output); // the interface has no name

    std::array<std::uint8_t, kMaxStringDescriptor> buffer{};
    int length = readStringDescriptor(open.handle, kLanguageTableIndex, 0, buffer, timeoutMs);
    if (length < 0) return {outcomeOf(length), 0};
    const auto languages = usbreq::stringDescriptorUnits(std::span<const std::uint8_t>(buffer.data(), length));
    if (!languages || languages->size() < 2) return {RequestOutcome::Failed, 0};
    const std::uint16_t language = readLe16(languages->data());

    length = readStringDescriptor(open.handle, open.stringIndex, language, buffer, timeoutMs);
    if (length < 0) return {outcomeOf(length), 0};
    const auto units = usbreq::stringDescriptorUnits(std::span<const std::uint8_t>(buffer.data(), length));
    if (!units) return {RequestOutcome::Failed, 0};
    return usbreq::interfaceStringAnswer(*units, output);
}

#ifndef _WIN32
void LibusbDevicePort::noteDeparture(libusb_device* device) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [path, opened] : opened_)
        if (opened.device == device) opened.departed = true;
}

#endif

bool LibusbDevicePort::stillThere(const std::string& path) {
    const auto where = parseUsbPath(path);
    if (!where) return false;
    libusb_device* since = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = opened_.find(path);
        if (it != opened_.end()) {
            if (it->second.departed) return false;
            since = it->second.device;
        }
    }
    libusb_device* now = findDevice(*where);
    if (now == nullptr) return false;
    libusb_unref_device(now);
    // Only compared, never used: the opened device stays referenced in opened_.
    return since == nullptr || now == since;
}

void LibusbDevicePort::waitRemoval(const std::string& path) {
    while (!stopping_.load() && stillThere(path)) awaitEvents(kRemovalPollMs);
}

#ifdef _WIN32
void LibusbDevicePort::awaitEvents(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}
#else
void LibusbDevicePort::awaitEvents(std::uint32_t ms) {
    std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}};
    if (hotplug_) {
        // libusb's own event and timer descriptors (POLLIN) bring the hotplug news. The device
        // nodes (POLLOUT) are left to the transfers' own callers: an emulated node always looks
        // ready, and waiting on it would spin.
        if (const libusb_pollfd** all = libusb_get_pollfds(context_)) {
            for (const libusb_pollfd** p = all; *p != nullptr; ++p)
                if (((*p)->events & POLLIN) != 0) fds.push_back({(*p)->fd, POLLIN, 0});
            libusb_free_pollfds(all);
        }
    }
    if (::poll(fds.data(), fds.size(), static_cast<int>(ms)) <= 0 || fds[0].revents != 0) return;
    // Runs the hotplug callbacks; waits a little instead when another thread handles events.
    timeval limit{0, kEventHandlingUs};
    libusb_handle_events_timeout_completed(context_, &limit, nullptr);
}

#endif

} // namespace telvane
