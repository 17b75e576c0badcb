#include "ui/whole_phone/window_reporter.h"

namespace telvane {

namespace {
// The layer's reasons end with the option that would have made it go on; the window has its
// own questions instead.
std::string withoutCommandLineHint(const std::string& why) {
    const std::size_t hint = why.rfind(" (--");
    return hint != std::string::npos && why.back() == ')' ? why.substr(0, hint) : why;
}
} // namespace

WindowReporter::WindowReporter(LogSink& log, Progress& progress, TransferCancel& cancel, Findings findings)
    : log_(log), progress_(progress), cancel_(cancel), findings_(findings) {}

void WindowReporter::failed(const std::string& what, const std::string& why) {
    ++failures_;
    const std::string reason = withoutCommandLineHint(why);
    log_.appendLog(findings_ == Findings::Failures ? what + " Fail: " + reason + "\r\n" : what + ": " + reason + "\r\n");
}

void WindowReporter::beginItem(const std::string& name, std::uint64_t bytes) {
    item_ = name;
    itemBytes_ = bytes;
    inItem_ = true;
}

void WindowReporter::endItem() {
    // A record's (or an empty file's) share of the bar passes once it is done.
    if (meter_ && !countSeems_ && itemBytes_ == 0) meter_->skip(kItemWeight);
    inItem_ = false;
}

void WindowReporter::plannedTotal(std::uint64_t bytes, std::uint32_t seems) {
    countSeems_ = seems > 0;
    const std::uint64_t items = countSeems_ ? seems : expectedItems_;
    meter_.emplace(progress_, cancel_, bytes + items * kItemWeight);
}

void WindowReporter::seemDone() {
    if (meter_ && countSeems_) meter_->skip(kItemWeight);
}

void WindowReporter::moved(std::uint32_t bytes) {
    if (meter_) meter_->moved(bytes);
}

bool WindowReporter::stopRequested() {
    if (stopped_) return true;
    stopped_ = meter_ ? meter_->stopRequested() : cancel_.cancelRequested();
    if (stopped_ && inItem_) stoppedIn_ = item_;
    return stopped_;
}

} // namespace telvane
