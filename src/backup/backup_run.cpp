#include "backup/backup_run.h"

#include <map>
#include <set>
#include <system_error>

#include <nlohmann/json.hpp>

#include "backup/backup_folder.h"
#include "backup/pc_names.h"
#include "backup/pc_store.h"
#include "common/sha256.h"
#include "session/pc_file_name.h"

namespace telvane::backup {

namespace stdfs = std::filesystem;
using nlohmann::json;

namespace {

constexpr int kJournalFormat = 1;

// A phone file's bytes into a new PC file, hashed as they pass.
class HashingFileSink final : public ByteSink {
public:
    explicit HashingFileSink(PcFileWriter& writer) : writer_(writer) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        hash_.update(bytes);
        return writer_.write(bytes);
    }
    std::string digest() { return hash_.hexDigest(); }

private:
    PcFileWriter& writer_;
    Sha256 hash_;
};

// What the unfinished run had fetched completely, as its journal says.
struct Unfinished {
    bool present = false;
    std::string model;
    std::string volume;
    bool treeMode = false;
    std::map<std::string, Manifest::File> files;                         // by phone name
    std::map<std::uint16_t, std::vector<Manifest::Seem>> seems;           // whole seems only
};

Unfinished readUnfinished(const BackupFolder& folder) {
    Unfinished run;
    const std::vector<std::string> lines = readJournalLines(folder.backupJournalPath());
    if (lines.empty()) return run;
    const json header = json::parse(lines.front(), nullptr, false);
    if (!header.is_object() || header.value("journal", 0) != kJournalFormat || !header.contains("model") ||
        !header["model"].is_string() || !header.contains("volume") || !header["volume"].is_string())
        return run;
    run.present = true;
    run.model = header["model"].get<std::string>();
    run.volume = header["volume"].get<std::string>();
    run.treeMode = header.value("tree", false);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const json line = json::parse(lines[i], nullptr, false);
        if (!line.is_object()) continue;
        // Each entry goes through the manifest's own checks: nothing here is taken on trust.
        Manifest probe;
        std::string error;
        const json asManifest = {{"format", kManifestFormat}, {"model", ""}, {"volume", ""}, {"time", ""},
                                 {"files", line.contains("file") ? json::array({line["file"]}) : json::array()},
                                 {"seems", line.contains("seem") ? line["seem"] : json::array()}};
        if (!parseManifest(asManifest.dump(), probe, error)) continue;
        for (Manifest::File& f : probe.files) run.files[f.phone] = std::move(f);
        if (!probe.seems.empty()) {
            const std::uint16_t seem = probe.seems.front().seem;
            bool oneSeem = true;
            for (const Manifest::Seem& s : probe.seems) oneSeem = oneSeem && s.seem == seem;
            if (oneSeem) run.seems[seem] = std::move(probe.seems);
        } else if (line.contains("emptySeem") && line["emptySeem"].is_number_unsigned() &&
                   line["emptySeem"].get<std::uint64_t>() <= 0xFFFF) {
            run.seems[static_cast<std::uint16_t>(line["emptySeem"].get<std::uint64_t>())] = {};
        }
    }
    return run;
}

// Why the unfinished run in a folder is not this phone's, or nothing when there is none or it is.
std::optional<std::string> otherPhonesRun(const Unfinished& run, const PhoneIdentity& identity) {
    if (!run.present || (run.model == identity.model && run.volume == latin1ToUtf8(identity.volume) &&
                         run.treeMode == identity.treeMode))
        return std::nullopt;
    return "holds an unfinished backup of " + phoneLabel(run.model, run.volume);
}

json fileEntry(const Manifest::File& f) {
    return {{"phone", f.phone}, {"pc", f.pc}, {"size", f.size}, {"attribute", f.attribute}, {"sha256", f.sha256}};
}

json seemEntry(const Manifest::Seem& s) {
    return {{"seem", s.seem}, {"record", s.record}, {"size", s.size}, {"pc", s.pc}, {"sha256", s.sha256}};
}

bool sameDigest(const stdfs::path& path, std::uint64_t size, const std::string& sha256) {
    const auto digest = digestPcFile(path);
    return digest && digest->size == size && digest->sha256 == sha256;
}

// One backup run: the folder, the phone, and what the run has done so far.
class BackupRun {
public:
    BackupRun(PhoneFiles& phone, const PhoneIdentity& identity, const stdfs::path& root, const BackupOptions& options,
              BackupReporter& reporter)
        : phone_(phone), identity_(identity), folder_(root), options_(options), reporter_(reporter),
          label_(pathText(root)) {}

    RunResult run();

private:
    RunResult prepare();
    bool startJournal();
    bool fetchFile(const PhoneFileRecord& file, const std::string& pc, Manifest::File& entry);
    // False once a read failed (the rest of the seems would fail alike) or the user stopped.
    bool readSeems(Manifest& manifest);
    bool storeRecord(const std::string& pc, const std::vector<std::uint8_t>& bytes, std::string& sha256);
    bool moveIntoStaging(const stdfs::path& temporary, const std::string& pc);
    void removeStrays(const Manifest& manifest);
    bool commit(Manifest& manifest);
    void discardUnfinished();
    bool stopped() { return reporter_.stopRequested(); }

    PhoneFiles& phone_;
    const PhoneIdentity& identity_;
    BackupFolder folder_;
    const BackupOptions& options_;
    BackupReporter& reporter_;
    std::string label_;
    FolderLock lock_;
    std::vector<Snapshot> snapshots_;
    Unfinished unfinished_;
    JournalWriter journal_;
    std::size_t failures_ = 0;
    std::size_t reused_ = 0;
};

void BackupRun::discardUnfinished() {
    std::error_code ignored;
    removePcTree(folder_.stagingFolder());
    stdfs::remove(osPath(folder_.backupJournalPath()), ignored);
    unfinished_ = Unfinished{};
}

RunResult BackupRun::prepare() {
    std::error_code made;
    stdfs::create_directories(osPath(folder_.toolFolder()), made);
    if (!isPcFolder(folder_.toolFolder())) {
        reporter_.failed(label_, "cannot make its folders (" + made.message() + ")");
        return RunResult::Refused;
    }
    if (!lock_.acquire(folder_.toolFolder())) {
        reporter_.failed(label_, "another telvane run is working in this folder");
        return RunResult::Refused;
    }
    std::vector<std::string> unreadable;
    snapshots_ = folder_.snapshots(&unreadable);
    for (const std::string& why : unreadable) reporter_.say("not a backup, left as it is: " + why);
    if (!snapshots_.empty()) {
        std::string why;
        switch (matchPhone(snapshots_.back().manifest, identity_, phone_, true, why)) {
        case PhoneMatch::Same:
            break;
        case PhoneMatch::Unknown:
            reporter_.failed(label_, why);
            return RunResult::Failed;
        case PhoneMatch::Other:
            if (!options_.otherPhone) {
                // Two phones' files in one folder would make neither backup whole.
                reporter_.failed(label_, "holds another phone's backup: " + why +
                                             " (--other-phone backs this phone up there all the same)");
                return RunResult::Refused;
            }
            break;
        }
    }
    unfinished_ = readUnfinished(folder_);
    if (const auto other = otherPhonesRun(unfinished_, identity_)) {
        if (!options_.otherPhone) {
            reporter_.failed(label_, *other + ", the phone is " +
                                         phoneLabel(identity_.model, latin1ToUtf8(identity_.volume)) +
                                         " (--other-phone backs this phone up there all the same)");
            return RunResult::Refused;
        }
        discardUnfinished();
    } else if (!unfinished_.present || !isPcFolder(folder_.stagingFolder())) {
        // Whatever a run killed before its journal began left behind is the tool's own.
        discardUnfinished();
    }
    return startJournal() ? RunResult::Done : RunResult::Failed;
}

bool BackupRun::startJournal() {
    std::error_code error;
    stdfs::create_directories(osPath(folder_.stagingFolder()), error);
    const bool fresh = !unfinished_.present;
    if (!isPcFolder(folder_.stagingFolder()) || !journal_.open(folder_.backupJournalPath()) ||
        (fresh && !journal_.append(json{{"journal", kJournalFormat},
                                        {"model", identity_.model},
                                        {"volume", latin1ToUtf8(identity_.volume)},
                                        {"tree", identity_.treeMode}}
                                       .dump(-1, ' ', false, json::error_handler_t::replace)))) {
        reporter_.failed(label_, "cannot write in " + pathText(folder_.toolFolder()));
        return false;
    }
    return true;
}

bool BackupRun::moveIntoStaging(const stdfs::path& temporary, const std::string& pc) {
    const stdfs::path target = folder_.stagingFolder() / pcPath(pc);
    std::error_code error;
    stdfs::create_directories(osPath(target.parent_path()), error);
    // A copy an earlier attempt of this run left there is out of date.
    stdfs::remove(osPath(target), error);
    stdfs::rename(osPath(temporary), osPath(target), error);
    if (error) return false;
    return true;
}

bool BackupRun::fetchFile(const PhoneFileRecord& file, const std::string& pc, Manifest::File& entry) {
    const std::string shown = latin1ToUtf8(file.name);
    if (file.size == kNoSize) {
        reporter_.failed(shown, "file size invalid");
        return false;
    }
    const stdfs::path temporary = folder_.stagingFolder() / uniqueTemporaryName(".part-");
    PcFileWriter writer;
    if (!writer.create(temporary)) {
        reporter_.failed(shown, "cannot create file in " + pathText(folder_.stagingFolder()));
        return false;
    }
    HashingFileSink sink(writer);
    reporter_.beginItem(shown, file.size);
    const TransferOutcome outcome = phone_.readFile(file, sink, &reporter_);
    const bool written = writer.finish(false);
    reporter_.endItem();
    std::error_code ignored;
    if (outcome != TransferOutcome::Done || !written) {
        stdfs::remove(osPath(temporary), ignored);
        if (outcome == TransferOutcome::Stopped) return false;
        reporter_.failed(shown, outcome != TransferOutcome::Done ? transferFailureText(outcome)
                                                                : "cannot write " + pathText(temporary));
        return false;
    }
    entry = {shown, pc, file.size, file.attribute, sink.digest()};
    // A file the newest backup holds with the same bytes is linked, not stored twice; it was
    // read from the phone all the same.
    const stdfs::path target = folder_.stagingFolder() / pcPath(pc);
    bool linked = false;
    if (!snapshots_.empty()) {
        const Snapshot& newest = snapshots_.back();
        for (const Manifest::File& f : newest.manifest.files) {
            if (f.phone != shown || f.sha256 != entry.sha256 || f.size != entry.size) continue;
            const stdfs::path earlier = newest.folder / pcPath(f.pc);
            if (!sameDigest(earlier, f.size, f.sha256)) break;
            std::error_code error;
            stdfs::create_directories(osPath(target.parent_path()), error);
            stdfs::remove(osPath(target), error);
            stdfs::create_hard_link(osPath(earlier), osPath(target), error);
            linked = !error;
            break;
        }
    }
    if (linked) {
        stdfs::remove(osPath(temporary), ignored);
    } else if (!moveIntoStaging(temporary, pc)) {
        stdfs::remove(osPath(temporary), ignored);
        reporter_.failed(shown, "cannot write " + pathText(target));
        return false;
    }
    // Not flushed: a line lost only costs fetching that file again, and a file whose bytes were
    // lost is found by its hash when the run is taken up.
    if (!journal_.append(json{{"file", fileEntry(entry)}}.dump(-1, ' ', false, json::error_handler_t::replace),
                         false)) {
        reporter_.failed(shown, "cannot write the journal in " + pathText(folder_.toolFolder()));
        return false;
    }
    reporter_.succeeded();
    return true;
}

bool BackupRun::storeRecord(const std::string& pc, const std::vector<std::uint8_t>& bytes, std::string& sha256) {
    const stdfs::path temporary = folder_.stagingFolder() / uniqueTemporaryName(".part-");
    PcFileWriter writer;
    if (!writer.create(temporary) || !writer.write(bytes) || !writer.finish(false) ||
        !moveIntoStaging(temporary, pc)) {
        std::error_code ignored;
        stdfs::remove(osPath(temporary), ignored);
        return false;
    }
    sha256 = sha256Hex(bytes);
    return true;
}

bool BackupRun::readSeems(Manifest& manifest) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t seem = options_.seemFrom; seem <= options_.seemTo; ++seem) {
        const auto s = static_cast<std::uint16_t>(seem);
        if (stopped()) return false;
        // A seem the unfinished run read whole is taken as it left it, when its files are sound.
        if (const auto done = unfinished_.seems.find(s); done != unfinished_.seems.end()) {
            bool sound = true;
            for (const Manifest::Seem& r : done->second)
                sound = sound && sameDigest(folder_.stagingFolder() / pcPath(r.pc), r.size, r.sha256);
            if (sound) {
                manifest.seems.insert(manifest.seems.end(), done->second.begin(), done->second.end());
                reporter_.seemDone();
                continue;
            }
        }
        std::vector<Manifest::Seem> records;
        bool whole = true;
        for (std::uint16_t record = 1; record <= seem::kMaxSavedRecord; ++record) {
            if (stopped()) return false;
            const std::string name = seemFileName(s, record);
            const std::string label = "seem " + name.substr(0, 4) + " record " + name.substr(5, 4);
            reporter_.beginItem(label, 0);
            const SeemRead read = phone_.readSeem(s, record, bytes);
            if (read == SeemRead::Failed) {
                reporter_.failed(label, "cannot read the record");
                reporter_.endItem();
                ++failures_;
                return false;
            }
            if (read == SeemRead::Absent) {
                reporter_.endItem();
                break;
            }
            Manifest::Seem entry{s, record, static_cast<std::uint32_t>(bytes.size()), "seems/" + name, {}};
            const bool stored = storeRecord(entry.pc, bytes, entry.sha256);
            reporter_.endItem();
            if (!stored) {
                reporter_.failed(label, "cannot write file " + entry.pc);
                ++failures_;
                whole = false;
                continue;
            }
            records.push_back(std::move(entry));
        }
        // A seem with a record missing is no seem to take up again: the next run reads it anew.
        if (!whole) continue;
        json line = records.empty() ? json{{"emptySeem", s}} : json{{"seem", json::array()}};
        for (const Manifest::Seem& r : records) line["seem"].push_back(seemEntry(r));
        if (!journal_.append(line.dump(), false)) {
            reporter_.failed(label_, "cannot write the journal in " + pathText(folder_.toolFolder()));
            ++failures_;
            return false;
        }
        manifest.seems.insert(manifest.seems.end(), records.begin(), records.end());
        reporter_.seemDone();
    }
    return true;
}

void BackupRun::removeStrays(const Manifest& manifest) {
    std::set<stdfs::path> kept;
    for (const Manifest::File& f : manifest.files) kept.insert(pcPath(f.pc));
    for (const Manifest::Seem& s : manifest.seems) kept.insert(pcPath(s.pc));
    const stdfs::path staging = folder_.stagingFolder();
    const auto files = pcFilesBelow(staging);
    if (!files) return;
    std::error_code error;
    for (const stdfs::path& file : *files)
        if (kept.count(file) == 0) stdfs::remove(osPath(staging / file), error);
}

bool BackupRun::commit(Manifest& manifest) {
    // Files of phone files gone since the unfinished run began, and pieces of killed writes, are
    // no part of this backup.
    removeStrays(manifest);
    manifest.time = utcNow();
    const stdfs::path staging = folder_.stagingFolder();
    // Every byte the manifest vouches for is on the disk before the manifest is, and the manifest
    // before the snapshot is published. The files were written without a flush each (a run taken
    // up again checks them against its journal), so they are flushed here, all at once.
    std::vector<stdfs::path> files;
    std::set<stdfs::path> folders;
    auto take = [&](const std::string& pc) {
        files.push_back(pcPath(pc));
        for (stdfs::path folder = pcPath(pc).parent_path(); !folder.empty(); folder = folder.parent_path())
            folders.insert(staging / folder);
    };
    for (const Manifest::File& f : manifest.files) take(f.pc);
    for (const Manifest::Seem& s : manifest.seems) take(s.pc);
    bool synced = flushPcFiles(staging, files);
    for (const stdfs::path& folder : folders) synced = syncFolder(folder) && synced;
    if (!publishTextFile(staging / kManifestName, manifestText(manifest)) || !synced) {
        reporter_.failed(label_, std::string("cannot write ") + kManifestName);
        return false;
    }
    const std::string name = folder_.newSnapshotName();
    if (!folder_.publish(name)) {
        reporter_.failed(label_, "cannot publish the backup as " + name);
        return false;
    }
    // Windows removes no file that is still open.
    journal_.close();
    std::error_code ignored;
    stdfs::remove(osPath(folder_.backupJournalPath()), ignored);
    reporter_.say("backup of " + identity_.model + " in " + pathText(folder_.root() / pcPath(name)) + ": " +
                  std::to_string(manifest.files.size()) + " files, " + std::to_string(manifest.seems.size()) +
                  " seem records" + (reused_ > 0 ? " (" + std::to_string(reused_) + " files taken from the run "
                                                          "that was cut short)"
                                                    : ""));
    for (const std::string& removed : folder_.prune(options_.keep))
        reporter_.say("removed the older backup " + removed);
    return true;
}

RunResult BackupRun::run() {
    if (const RunResult prepared = prepare(); prepared != RunResult::Done) return prepared;
    std::vector<PhoneFileRecord> files;
    if (!phone_.readList(files)) {
        reporter_.failed("file list", "Receiving file list... Fail!");
        return RunResult::Failed;
    }
    // Paths once given stay with their names: the unfinished run's first (its files are there),
    // then the backups' from the newest back.
    PcNameMap names("files");
    for (const auto& [phone, f] : unfinished_.files) names.reserve(phone, f.pc);
    for (auto it = snapshots_.rbegin(); it != snapshots_.rend(); ++it)
        for (const Manifest::File& f : it->manifest.files) names.reserve(f.phone, f.pc);

    struct Planned {
        const PhoneFileRecord* file;
        std::string pc;
        const Manifest::File* fetched; // by the unfinished run, whole
    };
    std::vector<Planned> plan;
    std::uint64_t toFetch = 0;
    std::set<std::string> listed;
    for (const PhoneFileRecord& file : files) {
        // A name the manifest could not hold once (empty, or twice) would make the whole backup
        // unreadable: such an entry fails alone.
        if (file.name.empty() || !listed.insert(file.name).second) {
            reporter_.failed(file.name.empty() ? "(a file without a name)" : latin1ToUtf8(file.name),
                             "listed twice by the phone, or without a name");
            ++failures_;
            continue;
        }
        const std::string pc = names.pathFor(file.name, identity_.volume, identity_.treeMode);
        const auto earlier = unfinished_.files.find(latin1ToUtf8(file.name));
        const Manifest::File* fetched = nullptr;
        if (earlier != unfinished_.files.end() && earlier->second.pc == pc && earlier->second.size == file.size &&
            earlier->second.attribute == file.attribute &&
            sameDigest(folder_.stagingFolder() / pcPath(pc), file.size, earlier->second.sha256))
            fetched = &earlier->second;
        else if (file.size != kNoSize)
            toFetch += file.size;
        plan.push_back({&file, pc, fetched});
    }
    const std::uint32_t seemCount = options_.withSeems ? options_.seemTo - options_.seemFrom + 1u : 0u;
    reporter_.plannedTotal(toFetch, seemCount);

    Manifest manifest;
    manifest.model = identity_.model;
    manifest.volume = latin1ToUtf8(identity_.volume);
    manifest.treeMode = identity_.treeMode;
    if (options_.withSeems) manifest.seemRange = {options_.seemFrom, options_.seemTo};
    for (const Planned& p : plan) {
        if (stopped()) break;
        if (p.fetched != nullptr) {
            manifest.files.push_back(*p.fetched);
            ++reused_;
            continue;
        }
        Manifest::File entry;
        if (fetchFile(*p.file, p.pc, entry)) manifest.files.push_back(std::move(entry));
        else if (!stopped()) ++failures_;
    }
    if (!stopped() && options_.withSeems) readSeems(manifest);
    if (stopped()) {
        reporter_.say("backup stopped: the earlier backups are as they were; run it again to go on from here");
        return RunResult::Interrupted;
    }
    if (failures_ > 0) {
        reporter_.say("backup incomplete: " + std::to_string(failures_) +
                      " failed; the earlier backups are as they were; run it again to fetch what is missing");
        return RunResult::Failed;
    }
    return commit(manifest) ? RunResult::Done : RunResult::Failed;
}

} // namespace

RunResult backupPhone(PhoneFiles& phone, const PhoneIdentity& identity, const stdfs::path& folder,
                      const BackupOptions& options, BackupReporter& reporter) {
    BackupRun run(phone, identity, folder, options, reporter);
    return run.run();
}

std::optional<std::string> otherPhoneBackupIn(PhoneFiles& phone, const PhoneIdentity& identity,
                                              const stdfs::path& folder) {
    // The same two checks BackupRun::prepare makes, without its lock and folders.
    const BackupFolder backups(folder);
    const std::vector<Snapshot> snapshots = backups.snapshots();
    std::string why;
    if (!snapshots.empty() &&
        matchPhone(snapshots.back().manifest, identity, phone, true, why) == PhoneMatch::Other)
        return "holds another phone's backup: " + why;
    return otherPhonesRun(readUnfinished(backups), identity);
}

} // namespace telvane::backup
