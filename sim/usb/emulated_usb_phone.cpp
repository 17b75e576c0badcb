#include "sim/usb/emulated_usb_phone.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include "common/byte_order.h"
#include "link/usb_channel.h"

namespace telvane::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kSetupSize = 8;
constexpr std::size_t kDriverHeaderSize = 4;
constexpr std::size_t kWriteAnswerRoom = 5;
constexpr std::uint8_t kDirectionIn = 0x80;
constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kStandardType = 0x00;
constexpr std::uint8_t kVendorType = 0x40;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kStringDescriptorType = 3;
constexpr std::uint16_t kEnglishUs = 0x0409;
constexpr int kMaxPhoneDevnum = 119;
constexpr int kOtherMakerDevnum = 120;
constexpr std::size_t kMaxModemLine = 256;
constexpr int kHungUpRetryMs = 50;

constexpr const char* kPhoneSysPath = "/sys/devices/usb1/1-4";
constexpr const char* kAcmTtySysPath = "/sys/devices/usb1/1-4/1-4:1.0/tty/ttyACM0";

// The phone's strings, by descriptor index.
constexpr std::uint8_t kProductString = 1;
constexpr std::uint8_t kForeignString = 3;
constexpr std::uint8_t kCommandString = 4;

struct InterfaceSpec {
    std::uint8_t number;
    std::uint8_t interfaceClass;
    std::uint8_t subclass;
    std::uint8_t protocol;
    std::uint8_t name;
};

// Appends bytes one by one (GCC 12 takes the range insert of a short list for a read past it).
void append(Bytes& to, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) to.push_back(b);
}

std::uint8_t low(std::uint16_t v) { return static_cast<std::uint8_t>(v); }
std::uint8_t high(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }

// Device descriptor, then one configuration with these interfaces (no endpoints of their own:
// everything goes over the default control pipe).
Bytes descriptors(std::uint8_t deviceClass, std::uint16_t vendor, std::uint16_t product, std::uint8_t productName,
                  std::initializer_list<InterfaceSpec> interfaces) {
    Bytes d = {18, 1, 0x00, 0x02, deviceClass, 0, 0, 64, low(vendor), high(vendor), low(product), high(product),
               0x00, 0x01, 0, productName, 0, 1};
    const std::size_t config = d.size();
    append(d, {9, 2, 0, 0, static_cast<std::uint8_t>(interfaces.size()), 1, 0, 0x80, 250});
    for (const InterfaceSpec& i : interfaces)
        append(d, {9, 4, i.number, 0, 0, i.interfaceClass, i.subclass, i.protocol, i.name});
    writeLe16(d.data() + config + 2, static_cast<std::uint16_t>(d.size() - config));
    return d;
}

std::string hex(const Bytes& bytes) {
    std::string text;
    char pair[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text;
}

std::string number(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One USB device in umockdev's description format: sysfs attributes, udev properties and a
// usbfs node holding the descriptors.
std::string usbDeviceRecord(const std::string& sysPath, unsigned devnum, std::uint16_t vendor, std::uint16_t product,
                            const Bytes& descriptorBytes) {
    const std::string node = "bus/usb/001/" + number("%03u", devnum);
    return "P: " + sysPath.substr(4) + "\nN: " + node + "=" + hex(descriptorBytes) + "\nE: DEVNAME=/dev/" + node +
           "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nA: busnum=1\\n\nA: devnum=" + number("%u", devnum) +
           "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nA: idVendor=" + number("%04x", vendor) +
           "\\n\nA: idProduct=" + number("%04x", product) + "\\n\nH: descriptors=" + hex(descriptorBytes) + "\n\n";
}

std::optional<Bytes> phoneString(std::uint8_t index) {
    std::string text;
    switch (index) {
    case 0:
        return Bytes{4, kStringDescriptorType, low(kEnglishUs), high(kEnglishUs)};
    case kProductString:
        text = "Telvane virtual phone";
        break;
    case kForeignString:
        text = kForeignInterfaceName;
        break;
    case kCommandString:
        text = kPhoneInterfaceName;
        break;
    default:
        return std::nullopt;
    }
    Bytes d = {static_cast<std::uint8_t>(2 + 2 * text.size()), kStringDescriptorType};
    for (char c : text) append(d, {static_cast<std::uint8_t>(c), 0});
    return d;
}

// Memory of the client process, resolved for the handler; released at the end.
class Resolved {
public:
    Resolved(UMockdevIoctlData* parent, std::size_t offset, std::size_t length)
        : data_(umockdev_ioctl_data_resolve(parent, offset, length, nullptr)) {}
    ~Resolved() {
        if (data_ != nullptr) g_object_unref(data_);
    }
    Resolved(const Resolved&) = delete;
    Resolved& operator=(const Resolved&) = delete;
    explicit operator bool() const { return data_ != nullptr; }
    UMockdevIoctlData* get() const { return data_; }
    template <class T>
    T* as() const {
        return reinterpret_cast<T*>(data_->data);
    }
    UMockdevIoctlData* release() { return std::exchange(data_, nullptr); }

private:
    UMockdevIoctlData* data_;
};

void finish(UMockdevIoctlClient* client, long result, int error = 0) {
    umockdev_ioctl_client_complete(client, result, error);
}

usbdevfs_urb* urbOf(UMockdevIoctlData* data) { return reinterpret_cast<usbdevfs_urb*>(data->data); }

// A new ACM tty turns "\n" into "\r\n" on output, as every tty does until a program sets it
// raw; umockdev's pty starts raw. Set on the pty's own side, which is the tty programs open.
void cookTty(int otherSide) {
    const char* name = otherSide >= 0 ? ::ptsname(otherSide) : nullptr;
    if (name == nullptr) return;
    const int tty = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return;
    termios settings{};
    if (::tcgetattr(tty, &settings) == 0) {
        settings.c_oflag |= OPOST | ONLCR;
        ::tcsetattr(tty, TCSANOW, &settings);
    }
    ::close(tty);
}

} // namespace

// One appearance of the phone on the bus: a device address with its node and handler. Kept
// until the end, since descriptors opened on it may still send requests after it has gone.
struct EmulatedUsbPhone::Appearance {
    EmulatedUsbPhone* owner = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::string node;
    bool present = true;
    bool modem = false;
    std::uint64_t plugCount = 0;
    DeviceHandle driverHandle = 0;
    std::string kernelDriver;                   // bound to the command interface
    std::string detachedDriver;                 // taken away by a DISCONNECT, back on CONNECT
    std::deque<UMockdevIoctlData*> finished;    // completed URBs waiting to be reaped (referenced)
    std::vector<UMockdevIoctlData*> held;       // URBs the phone has not answered (referenced)
};

EmulatedUsbPhone::EmulatedUsbPhone(VirtualDriver& driver) : driver_(driver) {
    testbed_ = umockdev_testbed_new();
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (testbed_ == nullptr || wakeFd_ < 0) return;
    const Bytes hub = descriptors(9, 0x1D6B, 0x0002, 0, {{0, 9, 0, 0, 0}});
    addRecord(usbDeviceRecord("/sys/devices/usb1", 1, 0x1D6B, 0x0002, hub));
    bus_ = std::thread([this] { busLoop(); });
    run(Job::Sync);
}

EmulatedUsbPhone::~EmulatedUsbPhone() {
    if (bus_.joinable()) {
        post(Job::Stop);
        bus_.join();
    }
    for (auto& appearance : appearances_) {
        umockdev_testbed_detach_ioctl(testbed_, appearance->node.c_str(), nullptr);
        g_object_unref(appearance->handler);
        for (UMockdevIoctlData* urb : appearance->finished) g_object_unref(urb);
        for (UMockdevIoctlData* urb : appearance->held) g_object_unref(urb);
        if (appearance->driverHandle != 0) driver_.close(appearance->driverHandle);
    }
    if (testbed_ != nullptr) g_object_unref(testbed_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void EmulatedUsbPhone::plug() { run(Job::Plug); }
void EmulatedUsbPhone::unplug() { run(Job::Unplug); }
void EmulatedUsbPhone::addOtherMakersDevice() { run(Job::AddOther); }

void EmulatedUsbPhone::setInterfaceBusy(bool busy) {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = busy;
}

void EmulatedUsbPhone::setKernelDriver(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    kernelDriver_ = name;
    if (current_ != nullptr) current_->kernelDriver = name;
}

std::string EmulatedUsbPhone::nodeFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_ == nullptr || testbed_ == nullptr) return {};
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string file = std::string(root) + current_->node;
    g_free(root);
    return file;
}

bool EmulatedUsbPhone::waitForHeldTransfer(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return held_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return current_ != nullptr && !current_->held.empty(); });
}

std::vector<std::string> EmulatedUsbPhone::interfaceRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return interfaceRequests_;
}

std::uint32_t EmulatedUsbPhone::submittedTransfers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return submitted_;
}

// --- The bus thread

std::uint64_t EmulatedUsbPhone::post(Job job) {
    std::uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> lock(jobsMutex_);
        jobs_.push_back(job);
        ticket = ++jobsPosted_;
    }
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    return ticket;
}

void EmulatedUsbPhone::run(Job job) {
    if (!bus_.joinable()) return;
    const std::uint64_t ticket = post(job);
    std::unique_lock<std::mutex> lock(jobsMutex_);
    jobDone_.wait(lock, [&] { return jobsDone_ >= ticket; });
}

void EmulatedUsbPhone::busLoop() {
    bool hungUp = false;
    for (;;) {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {modemFd_, POLLIN, 0}};
        const nfds_t count = modemFd_ >= 0 && !hungUp ? 2 : 1;
        // With nobody holding the tty its other side reports a hang-up at once: look again shortly.
        ::poll(fds, count, hungUp ? kHungUpRetryMs : -1);
        hungUp = false;
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            readModem();
        } else if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR)) != 0) {
            hungUp = true;
        }
        if ((fds[0].revents & POLLIN) == 0) continue;
        std::uint64_t wakes = 0;
        (void)!::read(wakeFd_, &wakes, sizeof wakes);
        for (;;) {
            Job job;
            {
                std::lock_guard<std::mutex> lock(jobsMutex_);
                if (jobs_.empty()) break;
                job = jobs_.front();
                jobs_.pop_front();
            }
            if (job == Job::Stop) return;
            doJob(job);
            std::lock_guard<std::mutex> lock(jobsMutex_);
            ++jobsDone_;
            jobDone_.notify_all();
        }
    }
}

void EmulatedUsbPhone::doJob(Job job) {
    switch (job) {
    case Job::Plug:
        driver_.plug();
        break;
    case Job::Unplug:
        driver_.unplug();
        break;
    case Job::AddOther:
        addRecord(usbDeviceRecord("/sys/devices/usb1/1-5", kOtherMakerDevnum, kOtherVendorId, kOtherProductId,
                                  descriptors(0, kOtherVendorId, kOtherProductId, 0, {{0, 0xFF, 0, 0, 0}})));
        return;
    case Job::Sync:
    case Job::Stop:
        break;
    }
    syncWithDriver();
}

bool EmulatedUsbPhone::addRecord(const std::string& record) {
    GError* error = nullptr;
    const bool added = umockdev_testbed_add_from_string(testbed_, record.c_str(), &error);
    if (error != nullptr) {
        std::fprintf(stderr, "emulated USB: %s\n", error->message);
        g_error_free(error);
    }
    return added;
}

void EmulatedUsbPhone::syncWithDriver() {
    const bool plugged = driver_.isPlugged();
    const std::uint64_t plugCount = driver_.plugCount();
    bool shown = false;
    bool stale = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shown = current_ != nullptr;
        stale = shown && (!plugged || current_->plugCount != plugCount);
    }
    if (stale) {
        removePhone();
        shown = false;
    }
    if (!shown && plugged) addPhone();
}

void EmulatedUsbPhone::addPhone() {
    if (nextDevnum_ > kMaxPhoneDevnum) return; // out of addresses for this run
    const unsigned devnum = static_cast<unsigned>(nextDevnum_++);
    const bool modem = !driver_.modemPort().empty();

    auto appearance = std::make_unique<Appearance>();
    appearance->owner = this;
    appearance->modem = modem;
    appearance->plugCount = driver_.plugCount();
    appearance->node = "/dev/bus/usb/001/" + number("%03u", devnum);
    if (!modem) appearance->driverHandle = driver_.open(kPhoneInterfacePath);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        appearance->kernelDriver = kernelDriver_;
    }
    auto onIoctl = [](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) -> gboolean {
        auto* self = static_cast<Appearance*>(data);
        return self->owner->handleIoctl(*self, client) ? TRUE : FALSE;
    };
    appearance->handler = umockdev_ioctl_base_new();
    g_signal_connect(appearance->handler, "handle-ioctl",
                     G_CALLBACK(static_cast<gboolean (*)(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer)>(onIoctl)),
                     appearance.get());
    // Before the node exists: libusb may open it as soon as the device is announced.
    umockdev_testbed_attach_ioctl(testbed_, appearance->node.c_str(), appearance->handler, nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = appearance.get();
        appearances_.push_back(std::move(appearance));
    }

    if (!modem) {
        addRecord(usbDeviceRecord(kPhoneSysPath, devnum, kVendorId, kProductId,
                                  descriptors(0, kVendorId, kProductId, kProductString,
                                              {{kForeignInterface, 0xFF, 0, 0, kForeignString},
                                               {kCommandInterface, 0xFF, 0, 0, kCommandString}})));
        return;
    }
    addRecord(usbDeviceRecord(kPhoneSysPath, devnum, kVendorId, kModemProductId,
                              descriptors(2, kVendorId, kModemProductId, kProductString,
                                          {{0, 2, 2, 1, 0}, {1, 0x0A, 0, 0, 0}})) +
              "P: /devices/usb1/1-4/1-4:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n"
              "P: /devices/usb1/1-4/1-4:1.0/tty/ttyACM0\nN: ttyACM0\nE: DEVNAME=/dev/ttyACM0\nE: SUBSYSTEM=tty\n"
              "A: dev=166:0\\n\n\n");
    umockdev_testbed_set_attribute_link(testbed_, kAcmTtySysPath, "device", "../../../1-4:1.0");
    modemFd_ = umockdev_testbed_get_dev_fd(testbed_, kModemNode);
    cookTty(modemFd_);
}

void EmulatedUsbPhone::removePhone() {
    DeviceHandle driverHandle = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current_ == nullptr) return;
        Appearance& gone = *current_;
        current_ = nullptr;
        gone.present = false;
        // As the kernel does: every transfer in flight ends with "no device", else libusb would wait for ever.
        for (UMockdevIoctlData* urb : gone.held) {
            urbOf(urb)->status = -ENODEV;
            urbOf(urb)->actual_length = 0;
            gone.finished.push_back(urb);
        }
        gone.held.clear();
        driverHandle = std::exchange(gone.driverHandle, 0);
    }
    modemFd_ = -1; // umockdev closes it with the tty
    modemLine_.clear();
    umockdev_testbed_uevent(testbed_, kPhoneSysPath, "remove");
    umockdev_testbed_remove_device(testbed_, kPhoneSysPath);
    if (driverHandle != 0) driver_.close(driverHandle);
}

void EmulatedUsbPhone::readModem() {
    char chunk[64];
    const ssize_t n = ::read(modemFd_, chunk, sizeof chunk);
    if (n <= 0) return;
    modemLine_.append(chunk, static_cast<std::size_t>(n));
    if (modemLine_.size() > kMaxModemLine) modemLine_.erase(0, modemLine_.size() - kMaxModemLine);
    const auto end = modemLine_.find('\n');
    if (end == std::string::npos) return;
    const std::string line = modemLine_.substr(0, end + 1);
    modemLine_.erase(0, end + 1);
    driver_.writeModem(kModemNode, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(line.data()),
                                                                 line.size()));
    if (!driver_.modemPort().empty()) return;
    // Switched over: the phone leaves the bus and comes back with its command interface.
    removePhone();
    addPhone();
}

// --- The ioctl handler

bool EmulatedUsbPhone::handleIoctl(Appearance& appearance, UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mutex_);
    if (request == USBDEVFS_REAPURBNDELAY) {
        reap(appearance, client);
        return true;
    }
    if (!appearance.present) {
        finish(client, -1, ENODEV);
        return true;
    }
    switch (request) {
    case USBDEVFS_SUBMITURB:
        submit(appearance, client);
        return true;
    case USBDEVFS_DISCARDURB:
        discard(appearance, client);
        return true;
    case USBDEVFS_GET_CAPABILITIES: {
        Resolved caps(arg, 0, sizeof(std::uint32_t));
        if (!caps) break;
        *caps.as<std::uint32_t>() = 0;
        finish(client, 0);
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        Resolved query(arg, 0, sizeof(usbdevfs_getdriver));
        if (!query) break;
        auto* getDriver = query.as<usbdevfs_getdriver>();
        if (getDriver->interface != kCommandInterface || appearance.kernelDriver.empty()) {
            finish(client, -1, ENODATA);
            return true;
        }
        std::snprintf(getDriver->driver, sizeof getDriver->driver, "%s", appearance.kernelDriver.c_str());
        finish(client, 0);
        return true;
    }
    case USBDEVFS_IOCTL: {
        Resolved command(arg, 0, sizeof(usbdevfs_ioctl));
        if (!command) break;
        const auto* ioctl = command.as<usbdevfs_ioctl>();
        const std::string interface = std::to_string(ioctl->ifno);
        if (static_cast<unsigned long>(ioctl->ioctl_code) == USBDEVFS_DISCONNECT) {
            interfaceRequests_.push_back("detach " + interface);
            if (ioctl->ifno == kCommandInterface) appearance.detachedDriver = std::exchange(appearance.kernelDriver, "");
        } else if (static_cast<unsigned long>(ioctl->ioctl_code) == USBDEVFS_CONNECT) {
            interfaceRequests_.push_back("attach " + interface);
            if (ioctl->ifno == kCommandInterface) appearance.kernelDriver = std::exchange(appearance.detachedDriver, "");
        } else {
            finish(client, -1, ENOTTY);
            return true;
        }
        finish(client, 0);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        Resolved number(arg, 0, sizeof(unsigned));
        if (!number) break;
        const bool claim = request == USBDEVFS_CLAIMINTERFACE;
        if (claim && busy_) {
            finish(client, -1, EBUSY);
            return true;
        }
        interfaceRequests_.push_back((claim ? "claim " : "release ") + std::to_string(*number.as<unsigned>()));
        finish(client, 0);
        return true;
    }
    default:
        finish(client, -1, ENOTTY);
        return true;
    }
    finish(client, -1, EFAULT);
    return true;
}

void EmulatedUsbPhone::submit(Appearance& appearance, UMockdevIoctlClient* client) {
    Resolved urb(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    if (!urb) return finish(client, -1, EFAULT);
    usbdevfs_urb* fields = urbOf(urb.get());
    if (fields->type != USBDEVFS_URB_TYPE_CONTROL || fields->buffer_length < static_cast<int>(kSetupSize) ||
        fields->buffer_length > static_cast<int>(kSetupSize + 0xFFFF))
        return finish(client, -1, EINVAL); // a control transfer's setup packet and at most 64 KiB of data
    Resolved buffer(urb.get(), offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(fields->buffer_length));
    if (!buffer) return finish(client, -1, EFAULT);
    ++submitted_;
    int status = 0;
    int actual = 0;
    const bool answered = transfer(appearance, buffer.get()->data, static_cast<std::size_t>(fields->buffer_length),
                                   status, actual);
    fields->status = status;
    fields->actual_length = actual;
    if (answered) {
        appearance.finished.push_back(urb.release());
    } else {
        appearance.held.push_back(urb.release());
        held_.notify_all();
    }
    finish(client, 0);
}

void EmulatedUsbPhone::reap(Appearance& appearance, UMockdevIoctlClient* client) {
    if (appearance.finished.empty()) return finish(client, -1, appearance.present ? EAGAIN : ENODEV);
    Resolved slot(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
    if (!slot) return finish(client, -1, EFAULT);
    UMockdevIoctlData* urb = appearance.finished.front();
    appearance.finished.pop_front();
    umockdev_ioctl_data_set_ptr(slot.get(), 0, urb); // the client learns which of its URBs ended
    finish(client, 0);
    g_object_unref(urb);
}

void EmulatedUsbPhone::discard(Appearance& appearance, UMockdevIoctlClient* client) {
    // The argument is the URB's address in the client.
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min(sizeof address, static_cast<std::size_t>(arg->data_len)));
    auto it = std::find_if(appearance.held.begin(), appearance.held.end(),
                           [&](UMockdevIoctlData* urb) { return urb->client_addr == address; });
    if (it == appearance.held.end()) return finish(client, -1, EINVAL); // already finished
    urbOf(*it)->status = -ENOENT; // what the kernel gives a URB cancelled in flight
    urbOf(*it)->actual_length = 0;
    appearance.finished.push_back(*it);
    appearance.held.erase(it);
    finish(client, 0);
}

bool EmulatedUsbPhone::transfer(Appearance& appearance, std::uint8_t* buffer, std::size_t length, int& status,
                                int& actual) {
    const std::uint8_t requestType = buffer[0];
    const std::uint8_t request = buffer[1];
    const std::uint16_t value = readLe16(buffer + 2);
    const std::uint16_t index = readLe16(buffer + 4);
    const std::size_t room = std::min<std::size_t>(readLe16(buffer + 6), length - kSetupSize);
    std::uint8_t* data = buffer + kSetupSize;
    const bool in = (requestType & kDirectionIn) != 0;
    status = -EPIPE; // a stall, unless answered below
    actual = 0;

    if ((requestType & kTypeMask) == kStandardType && in && request == kGetDescriptor &&
        (value >> 8) == kStringDescriptorType) {
        const auto string = appearance.modem ? std::nullopt : phoneString(static_cast<std::uint8_t>(value));
        if (!string) return true;
        actual = static_cast<int>(std::min(string->size(), room));
        std::memcpy(data, string->data(), static_cast<std::size_t>(actual));
        status = 0;
        return true;
    }
    if ((requestType & kTypeMask) != kVendorType || (index & 0xFF) != kCommandInterface || appearance.driverHandle == 0)
        return true;

    // The driver's control request: the setup packet (and the data stage of a write) in, its
    // 4-byte header and the data stage of a read out.
    const Bytes input(buffer, buffer + kSetupSize + (in ? 0 : room));
    Bytes output(in ? kDriverHeaderSize + room : kWriteAnswerRoom);
    const RequestResult result = driver_.request(appearance.driverHandle, UsbChannel::kControlCode, input, output, 0);
    if (!driver_.isPlugged() || driver_.plugCount() != appearance.plugCount) {
        post(Job::Sync); // unplugged or restarted by this very command: the bus follows, after the answer
    }
    switch (result.outcome) {
    case RequestOutcome::Completed:
        if (in) {
            const std::size_t answered = result.outputLength > kDriverHeaderSize ? result.outputLength - kDriverHeaderSize : 0;
            actual = static_cast<int>(std::min(answered, room));
            std::memcpy(data, output.data() + kDriverHeaderSize, static_cast<std::size_t>(actual));
        } else {
            actual = static_cast<int>(room);
        }
        status = 0;
        return true;
    case RequestOutcome::TimedOut:
        return false;
    default:
        return true;
    }
}

} // namespace telvane::sim
