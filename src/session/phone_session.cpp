#include "session/phone_session.h"

#include <chrono>

namespace telvane {

PhoneSession::~PhoneSession() {
    stopWatcher();
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
