#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/device_port.h"

namespace telvane {

// Removal waits that a waiter can walk away from. The port's waitRemoval cannot be cancelled,
// so each interface path has one watch thread blocked in it, shared by everyone waiting on that
// path; a waiter whose peer has gone leaves at once while the watch runs on for the others (or
// alone, until the interface goes or the port is woken). A client that vanishes therefore never
// leaves a thread of its own behind, and the threads left are at most one per present interface.
class RemovalWatches {
public:
    explicit RemovalWatches(DevicePort& port) : port_(port) {}
    // Joins every watch: the port must have been woken, or the interfaces be gone.
    ~RemovalWatches() { joinAll(); }
    RemovalWatches(const RemovalWatches&) = delete;
    RemovalWatches& operator=(const RemovalWatches&) = delete;

    enum class WaitEnd { Removed, Abandoned };
    // Blocks until the interface at path has gone, as the port's waitRemoval tells it.
    // peerLeft(ms) waits up to ms for the waiter's reason to wait to go away (its client leaving)
    // and tells whether it has; it is asked in a loop, and true abandons the wait.
    WaitEnd wait(const std::string& path, const std::function<bool(std::uint32_t ms)>& peerLeft);
    // Watches still running.
    std::size_t runningCount();
    // Waits for every watch to end (after the port was woken). No wait may start afterwards.
    void joinAll();

private:
    struct Watch {
        bool done = false; // guarded by mutex_
        std::thread thread;
    };
    void run(const std::string& path, const std::shared_ptr<Watch>& watch);
    void joinFinishedLocked();

    DevicePort& port_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Watch>> running_;
    std::vector<std::shared_ptr<Watch>> finished_; // ended, not yet joined
};

} // namespace telvane
