// The seem editor: show a record, compare records with a backup or a file, change bytes and
// bits with an undo copy and a read-back, and put an undo copy back.
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "backup/backup_folder.h"
#include "backup/seem_edit.h"
#include "backup/seem_undo.h"
#include "backup/snapshot_record.h"
#include "tools/cli/cli_run.h"
#include "tools/cli/pc_paths.h"

namespace telvane::cli {

namespace stdfs = std::filesystem;

namespace {

std::string hexText(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0xF]);
    }
    return text;
}

// A record file named as the window and `seem get` name them: its seem and record.
bool recordOfFileName(const std::string& name, std::uint16_t& seem, std::uint16_t& record) {
    unsigned s = 0;
    unsigned r = 0;
    char tail[8] = {};
    if (name.size() != 14 || std::sscanf(name.c_str(), "%4x_%4x.%4s", &s, &r, tail) != 3 ||
        std::string(tail) != "seem" || r == 0)
        return false;
    seem = static_cast<std::uint16_t>(s);
    record = static_cast<std::uint16_t>(r);
    return true;
}

} // namespace

backup::SeemUndoStore CliRun::undoStore() const {
    return backup::SeemUndoStore(environment_.undoFolder.empty() ? backup::SeemUndoStore::defaultFolder()
                                                                 : environment_.undoFolder);
}

bool CliRun::readRecord(std::uint16_t seem, std::uint16_t record, std::vector<std::uint8_t>& bytes) {
    const std::string label = backup::seemRecordLabel(seem, record);
    const std::size_t mark = log_.mark();
    switch (readSeemRecord(seem, record, bytes)) {
    case SeemRead::Read:
        return true;
    case SeemRead::Absent:
        fail(label, "no such record on the phone");
        return false;
    case SeemRead::Failed:
        break;
    }
    fail(label, withCause("cannot read the record", mark));
    return false;
}

void CliRun::showSeem() {
    std::vector<std::uint8_t> bytes;
    if (!readRecord(request_.seem, request_.record, bytes)) return;
    if (request_.json) {
        const nlohmann::json j = {
            {"seem", request_.seem}, {"record", request_.record}, {"size", bytes.size()}, {"hex", hexText(bytes)}};
        say(j.dump(2));
    } else {
        say(backup::seemRecordLabel(request_.seem, request_.record) + ": " + std::to_string(bytes.size()) + " bytes");
        for (const std::string& line : backup::hexDump(bytes, request_.bits)) say(line);
    }
    succeeded();
}

void CliRun::diffSeems() {
    // What the phone is compared with: records by address, each its bytes or why it cannot be had.
    struct Stored {
        std::vector<std::uint8_t> bytes;
        std::string damaged;
    };
    std::map<std::pair<std::uint16_t, std::uint16_t>, Stored> stored;
    const stdfs::path target = pcPath(request_.seemTarget);
    std::string where = "in the backup";
    auto wanted = [this](std::uint16_t seem, std::uint16_t record) {
        return seem >= request_.seemFrom && seem <= request_.seemTo && (!request_.recordGiven || record == request_.record);
    };
    if (backup::isPcFolder(target)) {
        std::string error;
        const auto snapshot = backup::BackupFolder(target).pick("", error);
        if (!snapshot) {
            fail(request_.seemTarget, error);
            return;
        }
        for (const backup::Manifest::Seem& s : snapshot->manifest.seems) {
            if (!wanted(s.seem, s.record)) continue;
            Stored& entry = stored[{s.seem, s.record}];
            if (auto bytes = backup::readSnapshotRecord(snapshot->folder, s)) entry.bytes = std::move(*bytes);
            else entry.damaged = s.pc + " in the backup is damaged or missing";
        }
    } else {
        where = "in the file";
        std::uint16_t seem = request_.seemFrom;
        std::uint16_t record = request_.record;
        std::uint16_t named = 0;
        std::uint16_t namedRecord = 0;
        const bool fromName = recordOfFileName(pathText(target.filename()), named, namedRecord);
        if (!request_.recordGiven) {
            if (!fromName || request_.seemFrom != request_.seemTo || named != request_.seemFrom) {
                fail(request_.seemTarget, "give the record to compare it with (SEEM REC FILE)");
                return;
            }
            record = namedRecord;
        }
        std::vector<std::uint8_t> bytes;
        if (!readPcFile(target, seem::kAreaSize, bytes)) {
            fail(request_.seemTarget, backup::pcPathExists(target) ? "cannot read it" : "no such file or folder");
            return;
        }
        stored[{seem, record}].bytes = std::move(bytes);
    }

    // The phone's side: the records asked for, or every record of the seems in the range.
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::vector<std::uint8_t>> onPhone;
    std::set<std::pair<std::uint16_t, std::uint16_t>> toRead;
    for (const auto& [address, entry] : stored) toRead.insert(address);
    bool failed = false;
    if (request_.recordGiven || !backup::isPcFolder(target)) {
        for (const auto& address : toRead) {
            std::vector<std::uint8_t> bytes;
            const std::size_t mark = log_.mark();
            const SeemRead read = readSeemRecord(address.first, address.second, bytes);
            if (read == SeemRead::Failed) {
                fail(backup::seemRecordLabel(address.first, address.second), withCause("cannot read the record", mark));
                return;
            }
            if (read == SeemRead::Read) onPhone[address] = std::move(bytes);
        }
        if (request_.recordGiven && stored.empty()) {
            for (std::uint32_t s = request_.seemFrom; s <= request_.seemTo; ++s) {
                std::vector<std::uint8_t> bytes;
                if (readSeemRecord(static_cast<std::uint16_t>(s), request_.record, bytes) == SeemRead::Read)
                    onPhone[{static_cast<std::uint16_t>(s), request_.record}] = std::move(bytes);
            }
        }
    } else {
        failed = !readSeemRange(request_.seemFrom, request_.seemTo, &backup::seemRecordLabel,
                                [&](std::uint16_t seem, std::uint16_t record, const std::vector<std::uint8_t>& bytes) {
                                    onPhone[{seem, record}] = bytes;
                                });
        if (failed) return;
    }

    std::set<std::pair<std::uint16_t, std::uint16_t>> all;
    for (const auto& [address, entry] : stored) all.insert(address);
    for (const auto& [address, bytes] : onPhone) all.insert(address);
    std::size_t differing = 0;
    for (const auto& address : all) {
        const std::string label = backup::seemRecordLabel(address.first, address.second);
        const auto mine = stored.find(address);
        const auto phone = onPhone.find(address);
        std::string line;
        if (mine != stored.end() && !mine->second.damaged.empty()) line = label + ": " + mine->second.damaged;
        else if (mine == stored.end()) line = label + ": not " + where;
        else if (phone == onPhone.end()) line = label + ": missing on the phone";
        else if (mine->second.bytes.size() != phone->second.size())
            line = label + ": " + std::to_string(phone->second.size()) + " bytes on the phone, " +
                   std::to_string(mine->second.bytes.size()) + " " + where;
        if (!line.empty()) {
            say(line);
            ++differing;
            continue;
        }
        const auto changes = backup::diffRecords(mine->second.bytes, phone->second);
        if (changes.empty()) continue;
        say(label + ":");
        for (const backup::ByteChange& change : changes) say("  " + backup::changeLine(change));
        ++differing;
    }
    if (differing > 0) {
        failures_.push_back("seem diff");
        return;
    }
    say("equal: " + std::to_string(all.size()) + (all.size() == 1 ? " record" : " records"));
    succeeded();
}

bool CliRun::writeRecord(std::uint16_t seem, std::uint16_t record, const std::vector<std::uint8_t>& before,
                         const std::vector<std::uint8_t>& after) {
    const std::string label = backup::seemRecordLabel(seem, record);
    const std::size_t mark = log_.mark();
    const backup::SeemWriteOutcome outcome =
        backup::writeSeemWithUndo(phone_, undoStore(), identity(), seem, record, before, after);
    const std::string undo = outcome.undo.empty() ? "" : pathText(outcome.undo);
    const std::string putBack = "; the record as it was is saved as " + undo + " (telvane-cli seem undo " + undo +
                                " puts it back)";
    switch (outcome.result) {
    case backup::SeemWriteResult::Unchanged:
        say(label + ": nothing to change");
        succeeded();
        return true;
    case backup::SeemWriteResult::Written:
        say(label + ": " + std::to_string(backup::diffRecords(before, after).size()) +
            " bytes written, read back ok, undo saved as " + undo);
        succeeded();
        return true;
    case backup::SeemWriteResult::TooLong:
    case backup::SeemWriteResult::UndoFailed:
        fail(label, "nothing written: " + outcome.error);
        return false;
    case backup::SeemWriteResult::WriteFailed:
        fail(label, withCause("cannot write the record", mark) + putBack);
        return false;
    case backup::SeemWriteResult::ReadBackFailed:
        fail(label, withCause("written, but cannot be read back", mark) + putBack);
        return false;
    case backup::SeemWriteResult::ReadBackDiffers:
        fail(label, "WRITTEN, BUT READS BACK DIFFERENT" + putBack);
        for (const backup::ByteChange& change : backup::diffRecords(after, outcome.readBack))
            environment_.err << "  " << backup::changeLine(change) << "\n";
        return false;
    }
    return false;
}

void CliRun::setSeem() {
    std::vector<std::uint8_t> before;
    if (!readRecord(request_.seem, request_.record, before)) return;
    std::vector<backup::SeemEdit> edits;
    for (const std::string& text : request_.seemEdits) {
        std::string error;
        edits.push_back(*backup::parseSeemEdit(text, error)); // checked with the command line
    }
    std::vector<std::uint8_t> after = before;
    std::string error;
    if (!backup::applySeemEdits(after, edits, error)) {
        environment_.err << "telvane-cli: " << error << "; nothing written\n";
        usageError_ = true;
        return;
    }
    const std::string label = backup::seemRecordLabel(request_.seem, request_.record);
    const auto changes = backup::diffRecords(before, after);
    if (!changes.empty()) {
        say(label + ":");
        for (const backup::ByteChange& change : changes) say("  " + backup::changeLine(change));
    }
    if (request_.dryRun) {
        say(changes.empty() ? label + ": nothing to change" : "dry run: nothing written");
        succeeded();
        return;
    }
    writeRecord(request_.seem, request_.record, before, after);
}

void CliRun::undoSeem() {
    const backup::SeemUndoStore store = undoStore();
    std::vector<std::uint8_t> saved;
    std::string error;
    const auto entry = store.load(pcPath(request_.seemTarget), saved, error);
    if (!entry) {
        fail(request_.seemTarget, error);
        return;
    }
    if (entry->model != model_ || entry->volume != latin1ToUtf8(volume_)) {
        fail(request_.seemTarget, "saved from " + backup::phoneLabel(entry->model, entry->volume) + ", the phone is " +
                                      backup::phoneLabel(model_, latin1ToUtf8(volume_)) + ": nothing written");
        return;
    }
    std::vector<std::uint8_t> current;
    if (!readRecord(entry->seem, entry->record, current)) return;
    if (current.size() != saved.size()) {
        fail(backup::seemRecordLabel(entry->seem, entry->record),
             std::to_string(current.size()) + " bytes on the phone, " + std::to_string(saved.size()) +
                 " saved: not this record; nothing written");
        return;
    }
    const auto changes = backup::diffRecords(current, saved);
    if (!changes.empty()) {
        say(backup::seemRecordLabel(entry->seem, entry->record) + ":");
        for (const backup::ByteChange& change : changes) say("  " + backup::changeLine(change));
    }
    writeRecord(entry->seem, entry->record, current, saved);
}

void CliRun::listUndo() {
    const backup::SeemUndoStore store = undoStore();
    const auto entries = store.list();
    for (const backup::UndoEntry& e : entries)
        say(e.time + "  " + e.model + "  " + backup::seemRecordLabel(e.seem, e.record) + "  " + pathText(e.file));
    say(std::to_string(entries.size()) + (entries.size() == 1 ? " saved record, " : " saved records, ") +
        std::to_string(store.totalBytes()) + " bytes in " + pathText(store.folder()));
    succeeded();
}

} // namespace telvane::cli
