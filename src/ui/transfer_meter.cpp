#include "ui/transfer_meter.h"

#include <algorithm>

namespace telvane {

TransferMeter::TransferMeter(Progress& progress, TransferCancel& cancel, std::uint64_t total)
    : progress_(progress), cancel_(cancel), total_(total) {
    while ((total_ >> shift_) > 0xFFFFFFFFu) ++shift_;
    progress_.setRange(0, static_cast<std::uint32_t>(total_ >> shift_));
    progress_.setPosition(0);
}

bool TransferMeter::stopRequested() {
    if (!stopped_) stopped_ = cancel_.cancelRequested();
    return stopped_;
}

void TransferMeter::advance(std::uint64_t bytes) {
    // A file may hold more than it was counted with; the bar never runs past its end.
    done_ = std::min(total_, done_ + std::min(bytes, total_));
    progress_.setPosition(static_cast<std::uint32_t>(done_ >> shift_));
}

} // namespace telvane
