#pragma once
#include <cstdint>

#include "services/file_transfer.h"
#include "services/progress.h"
#include "ui/desktop.h"

namespace telvane {

// Follows every piece of one user operation's transfers (all its files): the progress bar runs
// from 0 to the operation's total bytes, and between two pieces the user may stop it. A total
// beyond 32 bits is shown scaled down. Once a stop has been asked for, it stays asked.
class TransferMeter final : public TransferWatch {
public:
    TransferMeter(Progress& progress, TransferCancel& cancel, std::uint64_t total);

    void moved(std::uint32_t bytes) override { advance(bytes); }
    bool stopRequested() override;
    // A file's share of the total that will not be moved (a refused file): the bar passes it.
    void skip(std::uint64_t bytes) { advance(bytes); }

    std::uint64_t done() const { return done_; }

private:
    void advance(std::uint64_t bytes);

    Progress& progress_;
    TransferCancel& cancel_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    unsigned shift_ = 0;
    bool stopped_ = false;
};

} // namespace telvane
