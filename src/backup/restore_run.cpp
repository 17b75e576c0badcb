#include "backup/restore_run.h"

#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "backup/pc_store.h"
#include "backup/snapshot_record.h"
#include "common/sha256.h"
#include "session/pc_file_name.h"

namespace telvane::backup {

namespace stdfs = std::filesystem;
using nlohmann::json;

namespace {

std::string seemLabel(std::uint16_t seem, std::uint16_t record) {
    const std::string name = seemFileName(seem, record);
    return "seem " + name.substr(0, 4) + " record " + name.substr(5, 4);
}

// A phone file's bytes hashed as they pass into a sink (planning compares them with the backup).
class HashSink final : public ByteSink {
public:
    bool write(std::span<const std::uint8_t> bytes) override {
        hash_.update(bytes);
        return true;
    }
    std::string digest() { return hash_.hexDigest(); }

private:
    Sha256 hash_;
};

// The backup's copy of a file read piece by piece into the phone, hashed as it goes, so a copy
// that changed after it was planned is caught.
class BackupCopySource final : public ByteSource {
public:
    bool open(const stdfs::path& path) { return reader_.open(path); }
    bool read(std::span<std::uint8_t> bytes) override {
        const auto n = reader_.read(bytes);
        if (!n || *n != bytes.size()) {
            failed_ = true;
            return false;
        }
        hash_.update(bytes);
        return true;
    }
    bool failed() const { return failed_; }
    std::string digest() { return hash_.hexDigest(); }

private:
    PcFileReader reader_;
    Sha256 hash_;
    bool failed_ = false;
};

// The files earlier restores of this phone began and did not finish, from the journal.
std::set<std::string> incompleteFiles(const stdfs::path& journal, const PhoneIdentity& identity) {
    std::set<std::string> open;
    const std::string volume = latin1ToUtf8(identity.volume);
    for (const std::string& text : readJournalLines(journal)) {
        const json line = json::parse(text, nullptr, false);
        if (!line.is_object() || line.value("model", std::string()) != identity.model ||
            line.value("volume", std::string()) != volume)
            continue;
        if (line.contains("begin") && line["begin"].is_string()) open.insert(line["begin"].get<std::string>());
        if (line.contains("done") && line["done"].is_string()) open.erase(line["done"].get<std::string>());
    }
    return open;
}

const char* actionText(FileAction action) {
    switch (action) {
    case FileAction::Upload:
        return "upload";
    case FileAction::Replace:
        return "replace";
    case FileAction::AskReplace:
        return "replace (asks first)";
    case FileAction::Keep:
        return "keep";
    case FileAction::Rewrite:
        return "rewrite";
    case FileAction::SetAttribute:
        return "set the attribute of";
    case FileAction::Unchanged:
        return "unchanged";
    case FileAction::Refuse:
        return "refuse";
    }
    return "";
}

bool writes(FileAction action) {
    return action == FileAction::Upload || action == FileAction::Replace || action == FileAction::AskReplace ||
           action == FileAction::Rewrite;
}

} // namespace

std::optional<RestorePlan> planRestore(PhoneFiles& phone, const PhoneIdentity& identity, const stdfs::path& folder,
                                       const RestoreOptions& options, BackupReporter& reporter) {
    const BackupFolder backups(folder);
    std::string error;
    auto snapshot = backups.pick(options.snapshot, error);
    if (!snapshot) {
        reporter.failed(pathText(folder), error);
        return std::nullopt;
    }
    std::string why;
    switch (matchPhone(snapshot->manifest, identity, phone, false, why)) {
    case PhoneMatch::Same:
        break;
    case PhoneMatch::Unknown:
        reporter.failed(pathText(folder), why);
        return std::nullopt;
    case PhoneMatch::Other:
        if (!options.otherPhone) {
            reporter.failed(pathText(folder), "not this phone's backup: " + why +
                                                  " (--other-phone restores it all the same)");
            return std::nullopt;
        }
        break;
    }
    RestorePlan plan;
    plan.snapshot = std::move(*snapshot);
    plan.freeBefore = phone.freeSpace();
    const Manifest& manifest = plan.snapshot.manifest;

    if (!options.seemsOnly) {
        std::vector<PhoneFileRecord> files;
        if (!phone.readList(files)) {
            reporter.failed("file list", "Receiving file list... Fail!");
            return std::nullopt;
        }
        std::map<std::string, const PhoneFileRecord*> onPhone;
        for (const PhoneFileRecord& f : files) onPhone[f.name] = &f;
        const std::set<std::string> incomplete = incompleteFiles(backups.restoreJournalPath(), identity);
        std::uint64_t free = plan.freeBefore;
        const std::size_t longest = phone.longestName();
        for (const Manifest::File& f : manifest.files) {
            if (reporter.stopRequested()) return std::nullopt;
            RestorePlan::File item;
            item.entry = f;
            const auto name = utf8ToLatin1(f.phone);
            const auto copy = digestPcFile(plan.snapshot.folder / pcPath(f.pc));
            if (!name || name->empty() || (longest != 0 && name->size() > longest)) {
                item.action = FileAction::Refuse;
                item.why = "a name the phone cannot hold";
            } else if (!copy || copy->size != f.size || (!f.sha256.empty() && copy->sha256 != f.sha256)) {
                item.action = FileAction::Refuse;
                item.why = f.pc + " in the backup is damaged or missing";
            } else {
                item.phoneName = *name;
                item.expectedSha256 = copy->sha256;
                const auto existing = onPhone.find(*name);
                if (existing != onPhone.end()) item.sizeOnPhone = existing->second->size;
                if (incomplete.count(f.phone) != 0) {
                    item.action = FileAction::Rewrite;
                } else if (existing == onPhone.end()) {
                    item.action = FileAction::Upload;
                } else {
                    bool same = false;
                    if (existing->second->size == f.size) {
                        HashSink sink;
                        reporter.beginItem(f.phone, f.size);
                        const TransferOutcome read = phone.readFile(*existing->second, sink, &reporter);
                        reporter.endItem();
                        if (read == TransferOutcome::Stopped) return std::nullopt;
                        // A file that cannot be read to compare counts as one with other bytes.
                        same = read == TransferOutcome::Done && sink.digest() == copy->sha256;
                    }
                    if (same) {
                        item.action = existing->second->attribute == f.attribute ? FileAction::Unchanged
                                                                                 : FileAction::SetAttribute;
                    } else {
                        item.action = options.force ? FileAction::Replace
                                      : options.canAsk ? FileAction::AskReplace
                                                       : FileAction::Keep;
                    }
                }
                if (writes(item.action)) {
                    // As the window's upload: a file must be smaller than the room it goes into;
                    // the room of a file it replaces counts.
                    const std::uint64_t room = free + (existing != onPhone.end() ? existing->second->size : 0);
                    if (f.size != 0 && f.size >= room) {
                        item.why = "no room: " + std::to_string(free) + " bytes free when its turn comes";
                        item.action = FileAction::Refuse;
                    } else {
                        free = room - f.size;
                    }
                }
            }
            plan.files.push_back(std::move(item));
        }
        plan.freeAfter = free;
    } else {
        plan.freeAfter = plan.freeBefore;
    }

    if (!options.filesOnly) {
        std::vector<std::uint8_t> current;
        for (const Manifest::Seem& s : manifest.seems) {
            if (reporter.stopRequested()) return std::nullopt;
            RestorePlan::Seem item;
            item.entry = s;
            auto stored = readSnapshotRecord(plan.snapshot.folder, s);
            if (!stored) {
                item.action = SeemAction::Refuse;
                item.why = s.pc + " in the backup is damaged or missing";
                plan.seems.push_back(std::move(item));
                continue;
            }
            item.bytes = std::move(*stored);
            const std::string label = seemLabel(s.seem, s.record);
            reporter.beginItem(label, 0);
            const SeemRead read = phone.readSeem(s.seem, s.record, current);
            reporter.endItem();
            if (read == SeemRead::Failed) {
                reporter.failed(label, "cannot read the record");
                plan.seemsFailed = true;
                break;
            }
            if (read == SeemRead::Absent || current.size() != item.bytes.size()) {
                // A record is written only over one of its own size: anything else is not this record.
                item.action = SeemAction::Refuse;
                item.why = std::to_string(read == SeemRead::Absent ? 0 : current.size()) + " bytes on the phone, " +
                           std::to_string(item.bytes.size()) + " in the backup";
            } else if (current == item.bytes) {
                item.action = SeemAction::Unchanged;
            } else if (item.bytes.size() > seem::kMaxWriteLength) {
                item.action = SeemAction::Refuse;
                item.why = "longer than one write can carry (" + std::to_string(seem::kMaxWriteLength) + " bytes)";
            } else {
                item.action = SeemAction::Write;
            }
            plan.seems.push_back(std::move(item));
        }
    }
    return plan;
}

std::vector<std::string> describePlan(const RestorePlan& plan) {
    std::vector<std::string> lines;
    std::map<FileAction, std::size_t> counts;
    for (const RestorePlan::File& f : plan.files) {
        ++counts[f.action];
        if (f.action == FileAction::Unchanged) continue;
        std::string line = std::string(actionText(f.action)) + " " + f.entry.phone;
        if (writes(f.action)) line += " (" + std::to_string(f.entry.size) + " bytes)";
        if (f.action == FileAction::Rewrite) line += ": an earlier restore cut it short";
        if (f.action == FileAction::Keep) line += ": on the phone with other bytes (--force replaces it)";
        if (f.action == FileAction::Refuse) line += ": " + f.why;
        lines.push_back(line);
    }
    std::size_t toWrite = 0;
    std::size_t unchangedSeems = 0;
    std::size_t refusedSeems = 0;
    for (const RestorePlan::Seem& s : plan.seems) {
        const std::string label = seemLabel(s.entry.seem, s.entry.record);
        if (s.action == SeemAction::Write) {
            ++toWrite;
            lines.push_back("write " + label + " (" + std::to_string(s.bytes.size()) + " bytes)");
        } else if (s.action == SeemAction::Refuse) {
            ++refusedSeems;
            lines.push_back("refuse " + label + ": " + s.why);
        } else {
            ++unchangedSeems;
        }
    }
    lines.push_back("plan from " + pathText(plan.snapshot.folder) + ": " + std::to_string(counts[FileAction::Upload]) +
                    " files to upload, " +
                    std::to_string(counts[FileAction::Replace] + counts[FileAction::AskReplace]) + " to replace, " +
                    std::to_string(counts[FileAction::Rewrite]) + " to rewrite, " +
                    std::to_string(counts[FileAction::SetAttribute]) + " attributes to set, " +
                    std::to_string(counts[FileAction::Keep]) + " kept, " +
                    std::to_string(counts[FileAction::Unchanged]) + " unchanged, " +
                    std::to_string(counts[FileAction::Refuse]) + " refused; " + std::to_string(toWrite) +
                    " seem records to write, " + std::to_string(unchangedSeems) + " unchanged, " +
                    std::to_string(refusedSeems) + " refused; free space " + std::to_string(plan.freeBefore) +
                    " bytes before, " + std::to_string(plan.freeAfter) + " after");
    return lines;
}

RunResult carryOutRestore(PhoneFiles& phone, const PhoneIdentity& identity, const stdfs::path& folder,
                          const RestorePlan& plan, BackupReporter& reporter) {
    const BackupFolder backups(folder);
    std::error_code made;
    stdfs::create_directories(osPath(backups.toolFolder()), made);
    FolderLock lock;
    JournalWriter journal;
    if (!isPcFolder(backups.toolFolder())) {
        reporter.failed(pathText(folder), "cannot make " + pathText(backups.toolFolder()) +
                                              ", where a restore keeps its journal (" + made.message() + ")");
        return RunResult::Refused;
    }
    if (!lock.acquire(backups.toolFolder())) {
        reporter.failed(pathText(folder), "another telvane run is working in this folder");
        return RunResult::Refused;
    }
    if (!journal.open(backups.restoreJournalPath())) {
        reporter.failed(pathText(folder), "cannot write in " + pathText(backups.toolFolder()));
        return RunResult::Refused;
    }
    const std::string volume = latin1ToUtf8(identity.volume);
    // "begin" is on the disk before the phone file is touched; a lost "done" only costs writing
    // that file again.
    auto journalLine = [&](const char* key, const std::string& name) {
        return journal.append(json{{key, name}, {"model", identity.model}, {"volume", volume}}.dump(
                                  -1, ' ', false, json::error_handler_t::replace),
                              std::string(key) == "begin");
    };
    std::size_t failures = 0;
    std::size_t uploaded = 0;
    std::size_t kept = 0;
    std::size_t incomplete = 0;
    std::uint64_t total = 0;
    for (const RestorePlan::File& f : plan.files)
        if (writes(f.action)) total += f.entry.size;
    reporter.plannedTotal(total, 0);

    for (const RestorePlan::File& f : plan.files) {
        if (reporter.stopRequested()) return RunResult::Interrupted;
        const std::string& shown = f.entry.phone;
        switch (f.action) {
        case FileAction::Unchanged:
            continue;
        case FileAction::Refuse:
            reporter.failed(shown, f.why);
            ++failures;
            continue;
        case FileAction::Keep:
            reporter.say("kept " + shown + " (on the phone with other bytes; --force replaces it)");
            ++kept;
            continue;
        case FileAction::SetAttribute:
            reporter.beginItem(shown, 0);
            if (phone.setAttribute(f.phoneName, f.entry.attribute)) reporter.succeeded();
            else {
                reporter.failed(shown, "cannot set its attribute");
                ++failures;
            }
            reporter.endItem();
            continue;
        case FileAction::AskReplace:
            if (!reporter.confirm("Replace " + shown + " on the phone?")) {
                // A question ended by the user's interrupt is a no, and ends the restore.
                if (reporter.stopRequested()) return RunResult::Interrupted;
                reporter.say("kept " + shown + " (on the phone with other bytes)");
                ++kept;
                continue;
            }
            break;
        case FileAction::Upload:
        case FileAction::Replace:
        case FileAction::Rewrite:
            break;
        }
        BackupCopySource source;
        if (!source.open(plan.snapshot.folder / pcPath(f.entry.pc))) {
            reporter.failed(shown, "cannot read " + f.entry.pc + " in the backup");
            ++failures;
            continue;
        }
        // Journaled before the first byte: from here until "done" the phone file may be partial.
        if (!journalLine("begin", shown)) {
            reporter.failed(shown, "cannot write the restore journal");
            ++failures;
            continue;
        }
        reporter.beginItem(shown, f.entry.size);
        const TransferOutcome outcome = phone.writeFile(f.phoneName, source, f.entry.size, &reporter);
        reporter.endItem();
        const bool sameBytes = outcome == TransferOutcome::Done && source.digest() == f.expectedSha256;
        const bool attributed =
            sameBytes && (f.entry.attribute == 0 || phone.setAttribute(f.phoneName, f.entry.attribute));
        if (outcome == TransferOutcome::Stopped) {
            reporter.say("incomplete: " + shown + " was cut short on the phone; run the restore again to complete it");
            return RunResult::Interrupted;
        }
        if (!attributed) {
            const std::string cause = outcome != TransferOutcome::Done
                                          ? (source.failed() ? "cannot read " + f.entry.pc + " in the backup"
                                                             : std::string(transferFailureText(outcome)))
                                      : !sameBytes ? f.entry.pc + " in the backup changed while it was read"
                                                   : "cannot set its attribute";
            reporter.failed(shown, cause + "; it is incomplete on the phone: run the restore again to complete it");
            ++failures;
            ++incomplete;
            continue;
        }
        journalLine("done", shown);
        ++uploaded;
        reporter.succeeded();
    }

    std::size_t written = 0;
    std::vector<std::uint8_t> back;
    for (const RestorePlan::Seem& s : plan.seems) {
        if (reporter.stopRequested()) return RunResult::Interrupted;
        const std::string label = seemLabel(s.entry.seem, s.entry.record);
        if (s.action == SeemAction::Unchanged) continue;
        if (s.action == SeemAction::Refuse) {
            reporter.failed(label, "refused: " + s.why);
            ++failures;
            continue;
        }
        reporter.beginItem(label, 0);
        const bool stored = phone.writeSeem(s.entry.seem, s.entry.record, s.bytes);
        // Read back: a write the phone took differently is not a restored record.
        const bool checked = stored && phone.readSeem(s.entry.seem, s.entry.record, back) == SeemRead::Read &&
                             back == s.bytes;
        reporter.endItem();
        if (!checked) {
            reporter.failed(label, stored ? "written, but reads back different" : "cannot write the record");
            ++failures;
            continue;
        }
        ++written;
        reporter.succeeded();
    }
    if (plan.seemsFailed) ++failures;
    journal.close(); // Windows removes no file that is still open
    if (incomplete == 0) {
        // Every file begun is whole: the journal has nothing left to say.
        std::error_code ignored;
        if (incompleteFiles(backups.restoreJournalPath(), identity).empty())
            stdfs::remove(osPath(backups.restoreJournalPath()), ignored);
    }
    reporter.say("restored: " + std::to_string(uploaded) + " files written, " + std::to_string(kept) + " kept; " +
                 std::to_string(written) + " seem records written" +
                 (failures > 0 ? "; " + std::to_string(failures) + " failed" : ""));
    return failures > 0 ? RunResult::Failed : RunResult::Done;
}

RunResult restoreBackup(PhoneFiles& phone, const PhoneIdentity& identity, const stdfs::path& folder,
                        const RestoreOptions& options, BackupReporter& reporter) {
    auto plan = planRestore(phone, identity, folder, options, reporter);
    if (!plan) return reporter.stopRequested() ? RunResult::Interrupted : RunResult::Failed;
    for (const std::string& line : describePlan(*plan))
        reporter.say((options.dryRun && !line.starts_with("plan ") ? "would " : "") + line);
    if (!options.dryRun) return carryOutRestore(phone, identity, folder, *plan, reporter);
    std::size_t refused = 0;
    for (const RestorePlan::File& f : plan->files) refused += f.action == FileAction::Refuse;
    for (const RestorePlan::Seem& s : plan->seems) refused += s.action == SeemAction::Refuse;
    if (refused > 0 || plan->seemsFailed) {
        reporter.failed("restore", std::to_string(refused) + " would be refused");
        return RunResult::Failed;
    }
    return RunResult::Done;
}

} // namespace telvane::backup
