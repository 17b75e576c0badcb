#include "backup/verify_run.h"

#include <map>
#include <set>
#include <vector>

#include "backup/backup_folder.h"
#include "backup/pc_store.h"
#include "backup/snapshot_record.h"
#include "common/sha256.h"
#include "session/pc_file_name.h"

namespace telvane::backup {

namespace stdfs = std::filesystem;

namespace {

// A phone file's bytes hashed, and compared with a PC file's as they arrive (for a backup that
// kept no hashes); remembers the first offset at which they part.
class CheckingSink final : public ByteSink {
public:
    explicit CheckingSink(const stdfs::path* compareWith) {
        if (compareWith != nullptr) comparing_ = reader_.open(*compareWith);
    }
    bool write(std::span<const std::uint8_t> bytes) override {
        hash_.update(bytes);
        if (comparing_) {
            pc_.resize(bytes.size());
            const auto got = reader_.read(pc_).value_or(0);
            for (std::size_t i = 0; i < bytes.size() && !firstDifference_; ++i)
                if (i >= got || pc_[i] != bytes[i]) firstDifference_ = offset_ + i;
        }
        offset_ += bytes.size();
        return true;
    }
    std::string digest() { return hash_.hexDigest(); }
    std::optional<std::uint64_t> firstDifference() const { return firstDifference_; }

private:
    Sha256 hash_;
    PcFileReader reader_;
    bool comparing_ = false;
    std::vector<std::uint8_t> pc_;
    std::uint64_t offset_ = 0;
    std::optional<std::uint64_t> firstDifference_;
};

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : "; ") + p;
    return text;
}

std::string seemLabel(std::uint16_t seem, std::uint16_t record) {
    const std::string name = seemFileName(seem, record);
    return "seem " + name.substr(0, 4) + " record " + name.substr(5, 4);
}

// Whether a backup's copy is as its manifest says: the hash where one was kept, else the size.
bool copyIsSound(const Snapshot& snapshot, const std::string& pc, std::uint64_t size, const std::string& sha256) {
    const auto digest = digestPcFile(snapshot.folder / pcPath(pc));
    return digest && digest->size == size && (sha256.empty() || digest->sha256 == sha256);
}

std::optional<Snapshot> pickSnapshot(const stdfs::path& folder, const std::string& name, BackupReporter& reporter) {
    std::string error;
    auto snapshot = BackupFolder(folder).pick(name, error);
    if (!snapshot) reporter.failed(pathText(folder), error);
    return snapshot;
}

} // namespace

RunResult verifyBackup(PhoneFiles& phone, const PhoneIdentity& identity, const stdfs::path& folder,
                       const std::string& snapshotName, BackupReporter& reporter) {
    const auto snapshot = pickSnapshot(folder, snapshotName, reporter);
    if (!snapshot) return RunResult::Refused;
    const Manifest& manifest = snapshot->manifest;
    std::size_t differences = 0;
    auto differs = [&](const std::string& what, const std::vector<std::string>& why) {
        reporter.failed(what, joined(why));
        ++differences;
    };
    std::string why;
    const PhoneMatch match = matchPhone(manifest, identity, phone, false, why);
    if (match != PhoneMatch::Same) differs("phone", {why});
    std::vector<PhoneFileRecord> files;
    if (!phone.readList(files)) {
        reporter.failed("file list", "Receiving file list... Fail!");
        return RunResult::Failed;
    }
    std::map<std::string, const PhoneFileRecord*> onPhone;
    for (const PhoneFileRecord& f : files) onPhone[latin1ToUtf8(f.name)] = &f;
    std::uint64_t total = 0;
    for (const Manifest::File& f : manifest.files) total += f.size;
    reporter.plannedTotal(total, 0);

    for (const Manifest::File& f : manifest.files) {
        if (reporter.stopRequested()) return RunResult::Interrupted;
        std::vector<std::string> problems;
        if (!copyIsSound(*snapshot, f.pc, f.size, f.sha256)) problems.push_back(f.pc + " in the backup is damaged or missing");
        const auto it = onPhone.find(f.phone);
        if (it == onPhone.end()) {
            problems.push_back("missing on the phone");
            differs(f.phone, problems);
            continue;
        }
        const PhoneFileRecord& file = *it->second;
        if (file.attribute != f.attribute)
            problems.push_back("attribute " + std::to_string(file.attribute) + " on the phone, " +
                               std::to_string(f.attribute) + " in the backup");
        if (file.size != f.size) {
            problems.push_back(std::to_string(file.size) + " bytes on the phone, " + std::to_string(f.size) +
                               " in the backup");
        } else {
            const stdfs::path copy = snapshot->folder / pcPath(f.pc);
            CheckingSink sink(f.sha256.empty() ? &copy : nullptr);
            reporter.beginItem(f.phone, f.size);
            const TransferOutcome outcome = phone.readFile(file, sink, &reporter);
            reporter.endItem();
            if (outcome == TransferOutcome::Stopped) return RunResult::Interrupted;
            if (outcome != TransferOutcome::Done) {
                reporter.failed(f.phone, transferFailureText(outcome));
                ++differences;
                continue;
            }
            if (f.sha256.empty() ? sink.firstDifference().has_value() : sink.digest() != f.sha256)
                problems.push_back(sink.firstDifference()
                                       ? "bytes differ from offset " + std::to_string(*sink.firstDifference())
                                       : "bytes differ");
        }
        if (problems.empty()) reporter.succeeded();
        else differs(f.phone, problems);
    }
    std::set<std::string> inBackup;
    for (const Manifest::File& f : manifest.files) inBackup.insert(f.phone);
    for (const PhoneFileRecord& f : files)
        if (!inBackup.count(latin1ToUtf8(f.name))) differs(latin1ToUtf8(f.name), {"not in the backup"});

    std::vector<std::uint8_t> bytes;
    for (const Manifest::Seem& s : manifest.seems) {
        if (reporter.stopRequested()) return RunResult::Interrupted;
        const std::string label = seemLabel(s.seem, s.record);
        reporter.beginItem(label, 0);
        const SeemRead read = phone.readSeem(s.seem, s.record, bytes);
        reporter.endItem();
        if (read == SeemRead::Failed) {
            reporter.failed(label, "cannot read the record");
            return RunResult::Failed;
        }
        std::vector<std::string> problems;
        const auto stored = readSnapshotRecord(snapshot->folder, s);
        const bool sound = stored.has_value();
        if (!sound) problems.push_back(s.pc + " in the backup is damaged or missing");
        if (read == SeemRead::Absent) {
            problems.push_back("missing on the phone");
        } else if (bytes.size() != s.size) {
            problems.push_back(std::to_string(bytes.size()) + " bytes on the phone, " + std::to_string(s.size) +
                               " in the backup");
        } else if (sound && bytes != *stored) {
            std::size_t at = 0;
            while (bytes[at] == (*stored)[at]) ++at;
            problems.push_back("bytes differ from offset " + std::to_string(at));
        } else if (!sound && !s.sha256.empty() && sha256Hex(bytes) != s.sha256) {
            problems.push_back("bytes differ");
        }
        if (problems.empty()) reporter.succeeded();
        else differs(label, problems);
    }
    if (differences > 0) {
        reporter.say(std::to_string(differences) + (differences == 1 ? " difference" : " differences") +
                     " between the phone and the backup " + pathText(snapshot->folder));
        return RunResult::Failed;
    }
    reporter.say("verified: " + std::to_string(manifest.files.size()) + " files and " +
                 std::to_string(manifest.seems.size()) + " seem records of " + pathText(snapshot->folder) +
                 " match the phone");
    return RunResult::Done;
}

RunResult verifyOffline(const stdfs::path& folder, const std::string& snapshotName, BackupReporter& reporter) {
    const auto snapshot = pickSnapshot(folder, snapshotName, reporter);
    if (!snapshot) return RunResult::Refused;
    const Manifest& manifest = snapshot->manifest;
    std::size_t damaged = 0;
    auto check = [&](const std::string& what, const std::string& pc, std::uint64_t size, const std::string& sha256) {
        if (reporter.stopRequested()) return;
        const stdfs::path path = snapshot->folder / pcPath(pc);
        if (!pcPathExists(path)) {
            reporter.failed(what, pc + " is missing from the backup");
            ++damaged;
            return;
        }
        if (!copyIsSound(*snapshot, pc, size, sha256)) {
            reporter.failed(what, pc + " is damaged: not the bytes the backup recorded");
            ++damaged;
            return;
        }
        reporter.succeeded();
    };
    for (const Manifest::File& f : manifest.files) check(f.phone, f.pc, f.size, f.sha256);
    for (const Manifest::Seem& s : manifest.seems) check(seemLabel(s.seem, s.record), s.pc, s.size, s.sha256);
    if (reporter.stopRequested()) return RunResult::Interrupted;
    if (manifest.format == 1) reporter.say("this backup keeps no hashes (an older format): only sizes were checked");
    if (damaged > 0) {
        reporter.say(std::to_string(damaged) + " of " + std::to_string(manifest.files.size() + manifest.seems.size()) +
                     " files of " + pathText(snapshot->folder) + " are damaged or missing");
        return RunResult::Failed;
    }
    reporter.say("verified: " + std::to_string(manifest.files.size()) + " files and " +
                 std::to_string(manifest.seems.size()) + " seem records of " + pathText(snapshot->folder) +
                 " are as the backup recorded them");
    return RunResult::Done;
}

} // namespace telvane::backup
