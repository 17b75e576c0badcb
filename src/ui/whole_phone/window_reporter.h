#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_reporter.h"
#include "common/log_sink.h"
#include "services/progress.h"
#include "ui/desktop.h"
#include "ui/transfer_meter.h"

namespace telvane {

// What the backup layer reports, as the window shows it: each failure one log line in the
// window's style, the progress bar over the run's bytes and records, and the user's Esc between
// two pieces (the window stays painted and takes no other command meanwhile). The lines the
// layer says are kept, not logged: the window writes its own opening and closing lines.
class WindowReporter final : public backup::BackupReporter {
public:
    enum class Findings {
        Failures,    // "name Fail: why"
        Differences, // "name: what differs" (verify)
    };
    // What a record (a seem read or written, an attribute set) counts on the bar: it costs one
    // exchange with the phone, as a piece of a file does.
    static constexpr std::uint64_t kItemWeight = 1024;

    WindowReporter(LogSink& log, Progress& progress, TransferCancel& cancel, Findings findings);

    // The records a run that counts none in plannedTotal will go through (a restore's, a
    // verify's), so the bar covers them beside the bytes.
    void expectItems(std::uint64_t items) { expectedItems_ = items; }

    void say(const std::string& line) override { said_.push_back(line); }
    void failed(const std::string& what, const std::string& why) override;
    void beginItem(const std::string& name, std::uint64_t bytes) override;
    void endItem() override;
    void plannedTotal(std::uint64_t bytes, std::uint32_t seems) override;
    void seemDone() override;
    void moved(std::uint32_t bytes) override;
    bool stopRequested() override;

    std::size_t failures() const { return failures_; }
    const std::vector<std::string>& said() const { return said_; }
    bool stopped() const { return stopped_; }
    // The item (a file being read or written) the user's stop cut short, or "".
    const std::string& stoppedIn() const { return stoppedIn_; }

private:
    LogSink& log_;
    Progress& progress_;
    TransferCancel& cancel_;
    Findings findings_;
    std::optional<TransferMeter> meter_;
    bool countSeems_ = false; // the bar counts whole seems (a backup), not single records
    std::uint64_t expectedItems_ = 0;
    std::string item_;
    bool inItem_ = false;
    std::uint64_t itemBytes_ = 0;
    std::size_t failures_ = 0;
    std::vector<std::string> said_;
    bool stopped_ = false;
    std::string stoppedIn_;
};

} // namespace telvane
