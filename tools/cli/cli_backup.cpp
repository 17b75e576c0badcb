// The whole phone: backup into a folder, verify against it, restore from it. The work is the
// backup layer's; this is what the command line shows of it.
#include <functional>

#include "backup/backup_run.h"
#include "backup/restore_run.h"
#include "backup/verify_run.h"
#include "tools/cli/cli_run.h"
#include "tools/cli/pc_paths.h"

namespace telvane::cli {

namespace stdfs = std::filesystem;

namespace {

// The backup layer's reports as the tool's output: lines on stdout, failures on stderr with the
// link's cause, progress on a terminal, questions at the prompt, Ctrl+C as a stop.
class CliReporter final : public backup::BackupReporter {
public:
    using Say = std::function<void(const std::string&)>;
    using Fail = std::function<void(const std::string&, const std::string&)>;
    CliReporter(CliLog& log, CliEnvironment& environment, bool showProgress, Say say, Fail fail,
                std::function<void()> succeeded)
        : log_(log), environment_(environment), progress_(environment.err, showProgress, environment.interrupted, 0),
          say_(std::move(say)), fail_(std::move(fail)), succeeded_(std::move(succeeded)), mark_(log.mark()) {}

    void say(const std::string& line) override { say_(line); }
    void failed(const std::string& what, const std::string& why) override {
        const std::string cause = log_.causeSince(mark_);
        fail_(what, cause.empty() ? why : why + " (" + cause + ")");
        mark_ = log_.mark();
    }
    void succeeded() override { succeeded_(); }
    void beginItem(const std::string& name, std::uint64_t bytes) override {
        mark_ = log_.mark();
        if (bytes > 0) progress_.beginFile(name, bytes);
        file_ = bytes > 0;
    }
    void endItem() override {
        if (file_) progress_.endFile();
        file_ = false;
    }
    void plannedTotal(std::uint64_t bytes, std::uint32_t) override { progress_.setTotal(bytes); }
    bool confirm(const std::string& question) override {
        return environment_.confirm && environment_.confirm(question);
    }
    void moved(std::uint32_t bytes) override { progress_.moved(bytes); }
    bool stopRequested() override { return progress_.stopRequested(); }

private:
    CliLog& log_;
    CliEnvironment& environment_;
    TransferProgress progress_;
    Say say_;
    Fail fail_;
    std::function<void()> succeeded_;
    std::size_t mark_;
    bool file_ = false;
};

} // namespace

std::unique_ptr<backup::BackupReporter> CliRun::reporter(bool showProgress, const std::string& findings) {
    // What verify finds is its output, on stdout; every other failure is an error, on stderr.
    auto failed = [this, findings](const std::string& what, const std::string& why) {
        if (findings.empty()) {
            fail(what, why);
            return;
        }
        say(findings + what + ": " + why);
        failures_.push_back(what);
    };
    return std::make_unique<CliReporter>(
        log_, environment_, showProgress, [this](const std::string& line) { say(line); }, failed,
        [this] { succeeded(); });
}

void CliRun::endWith(backup::RunResult result) {
    // A run that stopped short has said why; the exit status must say it too.
    if (result != backup::RunResult::Done && failures_.empty()) failures_.push_back(request_.directory);
}

void CliRun::backup() {
    backup::BackupOptions options;
    options.withSeems = request_.withSeems;
    options.seemFrom = request_.seemFrom;
    options.seemTo = request_.seemTo;
    options.otherPhone = request_.otherPhone;
    options.keep = request_.keep;
    const auto reporter = this->reporter(environment_.errIsTerminal && !request_.quiet);
    const backup::RunResult result =
        backup::backupPhone(phone_, identity(), pcPath(request_.directory), options, *reporter);
    endWith(result);
}

void CliRun::verify() {
    const auto reporter = this->reporter(environment_.errIsTerminal && !request_.quiet, "differs: ");
    const backup::RunResult result =
        backup::verifyBackup(phone_, identity(), pcPath(request_.directory), request_.snapshot, *reporter);
    endWith(result);
}

void CliRun::verifyOffline() {
    const auto reporter = this->reporter(false, "damaged: ");
    const backup::RunResult result = backup::verifyOffline(pcPath(request_.directory), request_.snapshot, *reporter);
    endWith(result);
}

void CliRun::restore() {
    backup::RestoreOptions options;
    options.snapshot = request_.snapshot;
    options.filesOnly = request_.filesOnly;
    options.seemsOnly = request_.seemsOnly;
    options.dryRun = request_.dryRun;
    options.force = request_.force;
    options.otherPhone = request_.otherPhone;
    options.canAsk = static_cast<bool>(environment_.confirm) && environment_.canAsk;
    const auto reporter = this->reporter(environment_.errIsTerminal && !request_.quiet && !request_.dryRun);
    const backup::RunResult result =
        backup::restoreBackup(phone_, identity(), pcPath(request_.directory), options, *reporter);
    endWith(result);
}

} // namespace telvane::cli
