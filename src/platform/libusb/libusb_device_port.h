#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/log_sink.h"
#include "link/device_port.h"
#include "platform/libusb/usb_names.h"

struct libusb_context;
struct libusb_device;

namespace telvane {

// The device port over libusb: the phone's vendor-specific interfaces answer the driver's
// requests as control transfers, the modem is its ACM tty (on Windows the COM port Windows
// lists for it). Paths are "usb:1-4.2:8". On Windows libusb reaches an interface only when
// WinUSB is bound to it, and tells no departures: removal is seen by reading the device list.
// Thread-safe; requests on different handles may run at once. Logs one line when an
// interface cannot be opened (and not again for the same path and cause), nothing else.
class LibusbDevicePort final : public DevicePort {
public:
    struct Settings {
        std::vector<UsbId> extraIds; // devices taken besides the maker's vendor id
        // "" for every interface; otherwise only this path, or the interfaces of this device
        // ("usb:1-4" takes "usb:1-4:8").
        std::string only;
    };

    // The link's limit for the mode-switch command's write.
    static constexpr std::uint32_t kModemWriteLimitMs = 1000;

    LibusbDevicePort(Settings settings, LogSink& log);
    ~LibusbDevicePort() override;
    LibusbDevicePort(const LibusbDevicePort&) = delete;
    LibusbDevicePort& operator=(const LibusbDevicePort&) = delete;

    // False when libusb could not start (on Windows, also when libusb-1.0.dll cannot be
    // loaded); the port then finds nothing, and unavailableReason() says why.
    bool started() const { return context_ != nullptr; }
    const std::string& unavailableReason() const { return unavailable_; }

    // The first ACM tty of an accepted device ("/dev/ttyACM0"; on Windows the phone's COM
    // port), "" when none.
    std::string modemPort() override;
    // Only to a port that modemPort() would report (a tty in raw mode).
    bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) override;
    std::vector<std::string> listInterfaces() override;
    // Claims the interface (detaching a kernel driver only when one is bound).
    DeviceHandle open(const std::string& path) override;
    // As open(); an interface another process has claimed is InUse.
    OpenResult tryOpen(const std::string& path) override;
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override;
    void close(DeviceHandle handle) override;
    // Returns once the device opened at path has left the bus (a device plugged in at the same
    // place since is another one), at once when none is there.
    void waitRemoval(const std::string& path) override;

    // Wakes every waitRemoval for good, so threads blocked in it can be joined.
    void shutdown();

private:
    enum class OpenFailure { None, NoPermission, Busy, Gone, NoDriver, Other };
    struct OpenInterface;
    struct Opened {
        libusb_device* device = nullptr; // referenced while kept
        bool departed = false;
    };

    bool acceptsPath(const std::string& path) const;
    // The present device at this bus and port chain, referenced, or null.
    libusb_device* findDevice(const UsbInterfacePath& where);
    DeviceHandle openInterface(const std::string& path, OpenFailure& failure);
    void reportOpenFailure(const std::string& path, OpenFailure failure);
    std::shared_ptr<OpenInterface> find(DeviceHandle handle);
    RequestResult controlTransfer(OpenInterface& open, std::span<const std::uint8_t> input,
                                  std::span<std::uint8_t> output, unsigned timeoutMs);
    RequestResult interfaceString(OpenInterface& open, std::span<const std::uint8_t> input,
                                  std::span<std::uint8_t> output, unsigned timeoutMs);
    bool stillThere(const std::string& path);
    // Lets libusb deliver its events (hotplug among them) for up to ms, without spinning on
    // device nodes that always look ready.
    void awaitEvents(std::uint32_t ms);
    // Hotplug: the device has left the bus.
    void noteDeparture(libusb_device* device);

    const Settings settings_;
    const UsbDeviceFilter filter_;
    LogSink& log_;
    libusb_context* context_ = nullptr;
    bool hotplug_ = false;
    int hotplugHandle_ = 0;
    std::string unavailable_;
#ifdef _WIN32
    std::mutex wakeMutex_;
    std::condition_variable wake_; // notified by shutdown()
#else
    int wakeFd_ = -1; // readable once shutdown() was called
#endif
    std::atomic<bool> stopping_{false};

    std::mutex mutex_; // guards the maps below
    std::map<DeviceHandle, std::shared_ptr<OpenInterface>> handles_;
    std::map<std::string, Opened> opened_; // the device last opened at each path
    std::map<std::string, OpenFailure> reported_;
    DeviceHandle nextHandle_ = 1;
};

} // namespace telvane
