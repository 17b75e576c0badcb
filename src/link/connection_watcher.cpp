#include "link/connection_watcher.h"

#include <mutex>
#include <string>

#include "link/discovery.h"

namespace telvane {

bool ConnectionWatcher::pause(std::uint32_t ms) {
    clock_.sleepMs(ms);
    return stop_.load();
}

void ConnectionWatcher::takeLinkDown() {
    {
        // Held while closing so that no driver request runs on the handle as it is closed, and
        // every later request finds no device and fails at once.
        std::lock_guard<std::mutex> lock(link_.requestMutex());
        port_.close(link_.withdraw());
    }
    // Never tell the window while holding the lock: it may be waiting for it.
    listener_.onLinkState(0);
}

void ConnectionWatcher::run() {
    while (!stop_.load()) {
        // Searching.
        if (pause(kSearchPauseMs)) return;
        std::string modem;
        if (queryModemPort(port_, modem) == 0) {
            switchModemToP2k(port_, modem);
            if (pause(kModeSwitchPauseMs)) return;
        }
        findPhoneInterface(port_, link_, channel_);
        if (link_.handle() == 0) continue;

        // Connected until the interface goes away.
        link_.setConnected(true);
        listener_.onLinkState(1);
        port_.waitRemoval(link_.devicePath());

        // Cooling down.
        takeLinkDown();
        if (pause(kCoolDownMs)) return;
    }
}

} // namespace telvane
