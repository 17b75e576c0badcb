#include "platform/win32/timer_resolution.h"

#include <windows.h>
#include <mmsystem.h>

namespace telvane {

namespace {
constexpr UINT kResolutionMs = 1;
}

TimerResolution::TimerResolution() : active_(timeBeginPeriod(kResolutionMs) == TIMERR_NOERROR) {}

TimerResolution::~TimerResolution() {
    if (active_) timeEndPeriod(kResolutionMs);
}

} // namespace telvane
