#include "session/phone_session.h"

#include <chrono>
#include <mutex>
#include <string>

#include "link/discovery.h"

namespace telvane {

PhoneSession::~PhoneSession() {
    stopWatcher();
}

ConnectOutcome PhoneSession::connect(std::uint32_t waitMs, const std::function<bool()>& stop) {
    const std::uint32_t start = clock.tickMs();
    bool switched = false;
    for (;;) {
        std::string modem;
        // Once is enough: the modem port may linger while the phone switches over.
        if (!switched && queryModemPort(port, modem) == 0) switched = switchModemToP2k(port, modem) == 0;
        const InterfaceSearch search = findPhoneInterface(port, link, channel);
        if (link.handle() != 0) {
            link.setConnected(true);
            return ConnectOutcome::Connected;
        }
        if (search == InterfaceSearch::InUse) return ConnectOutcome::InUse;
        // A switched phone takes a few seconds to come back with its command interface.
        if (clock.tickMs() - start >= waitMs || (stop && stop())) return ConnectOutcome::NoPhone;
        clock.sleepMs(ConnectionWatcher::kSearchPauseMs);
    }
}

void PhoneSession::disconnect() {
    std::lock_guard<std::mutex> lock(link.requestMutex());
    port.close(link.withdraw());
}

void PhoneSession::startWatcher() {
    if (thread_.joinable()) return;
    finished_.store(false);
    thread_ = std::thread([this] {
        watcher.run();
        finished_.store(true);
    });
}

void PhoneSession::stopWatcher(const std::function<void()>& whileWaiting) {
    if (!thread_.joinable()) return;
    watcher.requestStop();
    while (!finished_.load()) {
        if (whileWaiting) whileWaiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
}

} // namespace telvane
