#pragma once
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/file_transfer.h"
#include "session/phone_session.h"
#include "tools/cli/cli.h"
#include "tools/cli/cli_log.h"
#include "tools/cli/cli_request.h"
#include "backup/backup_reporter.h"
#include "backup/phone_files.h"
#include "backup/phone_match.h"
#include "backup/seem_undo.h"
#include "tools/cli/transfer_progress.h"

namespace telvane::cli {

using backup::PhoneFileRecord;
using backup::SeemRead;

// One command against one phone: the session, the phone's identity and list, and the tally of
// what failed. The commands live in cli_commands.cpp and cli_backup.cpp.
class CliRun final : public LinkStateListener {
public:
    CliRun(const CliRequest& request, CliEnvironment& environment, DevicePort& port, CliLog& log);

    // Connects (exit 3 when no phone comes), runs the command, prints the summary.
    int execute();

    void onLinkState(int state) override;

private:
    // --- shared steps (cli_run.cpp)
    bool readIdentity();
    bool readList();
    bool treeMode() const { return tree_; }
    std::string volume() const { return volume_; }
    std::string model() const { return model_; }
    // The phone file a user means: the name as listed, or on a tree phone also a path below
    // the volume ("mobile/audio/ring.mp3"). Null when the list has no such file.
    const PhoneFileRecord* findFile(const std::string& given) const;
    // A folder a user names on a tree phone, as the phone spells it ("/a/mobile"); "" for none.
    std::string phoneFolder(const std::string& given) const;
    // Copies a phone file into a PC file through a temporary name; replace allows an existing
    // PC file to be replaced. False (reported) on failure.
    bool fetchFile(const PhoneFileRecord& file, const std::filesystem::path& target, bool replace,
                   TransferProgress& progress);
    // Reads a phone file into a sink (size 0 reads nothing); why is set on failure.
    TransferOutcome readFile(const PhoneFileRecord& file, ByteSink& sink, TransferProgress& progress);
    // Writes a PC file as a phone file, piece by piece; false (reported) on failure.
    bool storeFile(const std::string& name, const std::filesystem::path& pcFile, TransferProgress& progress);
    SeemRead readSeemRecord(std::uint16_t seem, std::uint16_t record, std::vector<std::uint8_t>& bytes);
    using SeemLabel = std::function<std::string(std::uint16_t seem, std::uint16_t record)>;
    using SeemTaker = std::function<void(std::uint16_t seem, std::uint16_t record, const std::vector<std::uint8_t>&)>;
    // Reads every seem from `from` to `to` record by record, from 1 up to the first record the
    // phone lacks (at most seem::kMaxSavedRecord), handing each to take. False once the user
    // interrupted, or once a read itself failed (reported under label): the rest would fail alike.
    bool readSeemRange(std::uint16_t from, std::uint16_t to, const SeemLabel& label, const SeemTaker& take);
    bool interrupted() const { return environment_.interrupted != nullptr && environment_.interrupted->load(); }

    void say(const std::string& line);                           // stdout
    void fail(const std::string& what, const std::string& why);  // stderr, counted
    // why, with the link's last line since mark in brackets when it logged one.
    std::string withCause(const std::string& why, std::size_t mark) const;
    void succeeded() { ++succeeded_; }

    // --- commands (cli_commands.cpp)
    void info();
    void listFiles();
    void getFiles();
    void getFolder();
    void putFiles();
    void removeFiles();
    void setAttribute();
    void getSeems();
    void putSeem();
    void control(bool suspend);
    void watch();

    // --- the seem editor (cli_seems.cpp)
    void showSeem();
    void diffSeems();
    void setSeem();
    void undoSeem();
    void listUndo();
    backup::SeemUndoStore undoStore() const;
    // A record as the phone holds it; false (reported) when absent or unreadable.
    bool readRecord(std::uint16_t seem, std::uint16_t record, std::vector<std::uint8_t>& bytes);
    // Changes a record from before to after with its undo copy and read-back, and says how it went.
    bool writeRecord(std::uint16_t seem, std::uint16_t record, const std::vector<std::uint8_t>& before,
                     const std::vector<std::uint8_t>& after);

    // --- whole-phone commands (cli_backup.cpp): the backup layer's, with the tool's output
    void backup();
    void verify();
    void verifyOffline();
    void restore();
    backup::PhoneIdentity identity() const { return {model_, volume_, tree_}; }
    // The backup layer's reporter for this run; findings, when given, prefixes what a check
    // finds, printed on stdout instead of failing on stderr.
    std::unique_ptr<backup::BackupReporter> reporter(bool showProgress, const std::string& findings = "");
    // Counts a whole-phone command that did not end Done as failed.
    void endWith(backup::RunResult result);

    const CliRequest& request_;
    CliEnvironment& environment_;
    CliLog& log_;
    PhoneSession session_;
    backup::PhoneFiles phone_{session_};
    std::vector<PhoneFileRecord> files_;
    bool tree_ = false;
    std::string volume_;
    std::string model_;
    std::vector<std::string> failures_;
    std::size_t succeeded_ = 0;
    bool usageError_ = false; // found only once the phone was read (an edit past a record's end)
    std::atomic<bool> watching_{false};
};

} // namespace telvane::cli
