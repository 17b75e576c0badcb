#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/virtual_driver.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace telvane::sim {

// The virtual phone on an emulated USB bus (umockdev): sysfs entries, usbfs device nodes and,
// in modem mode, an ACM tty. Every control transfer to the command interface is handed to the
// virtual driver as its control request, so the same phone model stands behind the
// in-process, bridge and USB paths. The process holding it runs with libumockdev-preload from
// its start (the testbed's uevents reach libusb only through it), and so do its children that
// use libusb; their libusb contexts start after this object exists and end before it goes.
//
// Bus 1: a root hub, the phone in port 4 (interfaces 0, foreign, and 8, the command
// interface; in modem mode ACM interfaces and /dev/ttyACM0), and on request another maker's
// device in port 5.
class EmulatedUsbPhone {
public:
    static constexpr std::uint16_t kVendorId = 0x22B8;
    static constexpr std::uint16_t kProductId = 0x4902;
    static constexpr std::uint16_t kModemProductId = 0x4901;
    static constexpr std::uint16_t kOtherVendorId = 0x1234;
    static constexpr std::uint16_t kOtherProductId = 0x5678;
    static constexpr std::uint8_t kForeignInterface = 0;
    static constexpr std::uint8_t kCommandInterface = 8;
    static constexpr const char* kCommandPath = "usb:1-4:8";
    static constexpr const char* kForeignPath = "usb:1-4:0";
    static constexpr const char* kOtherMakerPath = "usb:1-5:0";
    static constexpr const char* kModemNode = "/dev/ttyACM0";

    // Creates the testbed and shows the phone as the driver has it: absent while unplugged,
    // a modem while its modem port is set (give it kModemNode), else with its interfaces.
    explicit EmulatedUsbPhone(VirtualDriver& driver);
    ~EmulatedUsbPhone();
    EmulatedUsbPhone(const EmulatedUsbPhone&) = delete;
    EmulatedUsbPhone& operator=(const EmulatedUsbPhone&) = delete;

    // False when the testbed could not be made.
    bool ready() const { return testbed_ != nullptr; }

    // Plugs the driver's phone in and shows it on the bus.
    void plug();
    // As a real unplug: the phone leaves the bus and every transfer in flight fails (ENODEV).
    void unplug();
    // Puts another maker's device with a vendor-specific interface on the bus.
    void addOtherMakersDevice();
    // While set, claiming an interface fails as when another program holds it.
    void setInterfaceBusy(bool busy);
    // The kernel driver bound to the command interface, now and at later plug-ins ("" none).
    void setKernelDriver(const std::string& name);
    // The phone's usbfs node as a file of the testbed ("" when it is not on the bus).
    std::string nodeFile() const;

    // Waits until a transfer the phone leaves unanswered (the model let it time out) is held.
    bool waitForHeldTransfer(std::uint32_t timeoutMs);
    // Requests on the phone's interfaces so far, in order: "claim 8", "release 8", "detach 8", "attach 8".
    std::vector<std::string> interfaceRequests() const;
    // Control transfers submitted to the phone so far.
    std::uint32_t submittedTransfers() const;

private:
    struct Appearance;
    enum class Job { Sync, Plug, Unplug, AddOther, Stop };

    // Hands a job to the bus thread; its ticket tells when it is done.
    std::uint64_t post(Job job);
    // Runs one job on the bus thread and waits for it.
    void run(Job job);
    void busLoop();
    void doJob(Job job);
    // Brings the bus in line with the driver: the phone leaves when it was unplugged or
    // restarted, and appears when plugged.
    void syncWithDriver();
    void addPhone();
    void removePhone();
    void readModem();
    bool addRecord(const std::string& record);

    // The ioctl handler (umockdev's worker thread).
    bool handleIoctl(Appearance& appearance, UMockdevIoctlClient* client);
    void submit(Appearance& appearance, UMockdevIoctlClient* client);
    void reap(Appearance& appearance, UMockdevIoctlClient* client);
    void discard(Appearance& appearance, UMockdevIoctlClient* client);
    // Carries out one control transfer; false when the phone leaves it unanswered.
    bool transfer(Appearance& appearance, std::uint8_t* buffer, std::size_t length, int& status, int& actual);

    VirtualDriver& driver_;
    UMockdevTestbed* testbed_ = nullptr;

    // Bus thread: every change of the testbed happens on it.
    std::thread bus_;
    int wakeFd_ = -1;
    std::mutex jobsMutex_;
    std::condition_variable jobDone_;
    std::deque<Job> jobs_;
    std::uint64_t jobsPosted_ = 0;
    std::uint64_t jobsDone_ = 0;
    int modemFd_ = -1; // the ACM tty's other side, while the phone is a modem
    std::string modemLine_;
    int nextDevnum_ = 2;

    // Shared with the ioctl handler.
    mutable std::mutex mutex_;
    std::condition_variable held_;
    std::vector<std::unique_ptr<Appearance>> appearances_; // kept: old descriptors may still ask
    Appearance* current_ = nullptr;
    bool busy_ = false;
    std::string kernelDriver_;
    std::vector<std::string> interfaceRequests_;
    std::uint32_t submitted_ = 0;
};

} // namespace telvane::sim
