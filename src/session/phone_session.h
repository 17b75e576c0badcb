#pragma once
#include <atomic>
#include <functional>
#include <thread>

#include "common/clock.h"
#include "common/log_sink.h"
#include "common/phone_link.h"
#include "link/command_transport.h"
#include "link/connection_watcher.h"
#include "link/device_port.h"
#include "link/usb_channel.h"
#include "services/file_list.h"
#include "services/fs_commands.h"
#include "services/phone_info.h"
#include "services/seem_commands.h"

namespace telvane {

// How PhoneSession::connect ended.
enum class ConnectOutcome {
    Connected,
    NoPhone, // none within the wait (or the search was stopped)
    InUse,   // the phone's interface is held by another program
};

// The phone stack wired once: link, channel, transaction, services, the phone's identity and
// the connection watcher. The window, the program and the tests all build on one of these.
class PhoneSession {
public:
    PhoneSession(DevicePort& port, Clock& clock, LogSink& log, LinkStateListener& listener)
        : port(port), clock(clock), log(log), watcher(port, link, channel, clock, listener) {}
    // Stops a watcher still running; the port must let a pending waitRemoval return.
    ~PhoneSession();
    PhoneSession(const PhoneSession&) = delete;
    PhoneSession& operator=(const PhoneSession&) = delete;

    DevicePort& port;
    Clock& clock;
    LogSink& log;
    PhoneLink link;
    UsbChannel channel{port, link, log};
    CommandTransport transport{channel, clock, log};
    FileList files{log};
    FsCommands fs{transport, log, files};
    SeemCommands seems{transport};
    PhoneInfo info;
    ConnectionWatcher watcher;

    // Without the watcher (tools): looks for the phone until it is found or waitMs have passed,
    // switching a phone in modem mode over first, and marks the link connected. A phone held by
    // another program ends the search at once: waiting would not free it.
    // stop, when given, is asked between two looks: true ends the search there.
    ConnectOutcome connect(std::uint32_t waitMs, const std::function<bool()>& stop = {});
    // Closes the interface connect() opened and marks the link down.
    void disconnect();

    // Runs the watcher on a thread of its own. In the program it runs until the process ends.
    void startWatcher();
    bool watcherRunning() const { return thread_.joinable() && !finished_.load(); }
    // Asks the watcher to end and waits for it, calling whileWaiting between looks (a window
    // thread keeps handling the watcher's messages there, or the watcher could never finish).
    void stopWatcher(const std::function<void()>& whileWaiting = {});

private:
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

} // namespace telvane
