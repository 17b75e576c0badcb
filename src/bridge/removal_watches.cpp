#include "bridge/removal_watches.h"

namespace telvane {

namespace {
// How often a waiter looks whether its watch has ended, between two looks at its peer.
constexpr std::uint32_t kPeerPollMs = 50;
} // namespace

RemovalWatches::WaitEnd RemovalWatches::wait(const std::string& path,
                                             const std::function<bool(std::uint32_t ms)>& peerLeft) {
    std::shared_ptr<Watch> watch;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        joinFinishedLocked();
        auto& slot = running_[path];
        if (!slot) {
            slot = std::make_shared<Watch>();
            slot->thread = std::thread([this, path, w = slot] { run(path, w); });
        }
        watch = slot;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (watch->done) return WaitEnd::Removed;
        }
        if (peerLeft(kPeerPollMs)) return WaitEnd::Abandoned;
    }
}

void RemovalWatches::run(const std::string& path, const std::shared_ptr<Watch>& watch) {
    port_.waitRemoval(path);
    std::lock_guard<std::mutex> lock(mutex_);
    watch->done = true;
    // A wait that starts from now on watches the interface anew.
    auto it = running_.find(path);
    if (it != running_.end() && it->second == watch) running_.erase(it);
    finished_.push_back(watch);
}

void RemovalWatches::joinFinishedLocked() {
    // Their threads have only to return: joining under the lock cannot wait on it.
    for (auto& watch : finished_) watch->thread.join();
    finished_.clear();
}

std::size_t RemovalWatches::runningCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_.size();
}

void RemovalWatches::joinAll() {
    std::vector<std::shared_ptr<Watch>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        joinFinishedLocked();
        for (auto& [path, watch] : running_) all.push_back(watch);
    }
    for (auto& watch : all) watch->thread.join();
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.clear(); // joined above
    running_.clear();
}

} // namespace telvane
