#pragma once

namespace telvane {

// Holds the system timer at 1 ms resolution while it lives, so a 1 ms sleep (the transaction's
// poll interval) lasts about 1 ms rather than a whole default tick. main() keeps one.
class TimerResolution {
public:
    TimerResolution();
    ~TimerResolution();
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;

    // Whether the resolution was granted (and will be given back).
    bool active() const { return active_; }

private:
    bool active_ = false;
};

} // namespace telvane
