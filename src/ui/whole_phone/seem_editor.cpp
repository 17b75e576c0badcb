#include "ui/whole_phone/seem_editor.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "backup/backup_folder.h"
#include "backup/pc_store.h"
#include "backup/seem_edit.h"
#include "backup/snapshot_record.h"
#include "link/usb_channel.h"
#include "services/seem_commands.h"
#include "services/wide_text.h"
#include "session/phone_identity.h"

namespace telvane {

namespace {

std::string bytesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// A record file's bytes; nothing when it cannot be read or is larger than any record.
std::optional<std::vector<std::uint8_t>> readRecordFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || bytes.size() > seem::kAreaSize) return std::nullopt;
    return bytes;
}

} // namespace

SeemEditor::SeemEditor(PhoneSession& session, LogSink& log, backup::SeemUndoStore undo)
    : session_(session), log_(log), undo_(std::move(undo)), phone_(session) {}

std::string SeemEditor::label() const {
    char text[32];
    std::snprintf(text, sizeof text, "Seem %.4x_%.4x", static_cast<unsigned>(seem_), static_cast<unsigned>(record_));
    return text;
}

bool SeemEditor::read(std::uint16_t seem, std::uint16_t record) {
    loaded_ = false;
    seem_ = seem;
    record_ = record;
    original_.clear();
    edited_.clear();
    // Whatever comes of this read belongs to the phone connected now.
    const ConnectionBinding connection(session_.channel);
    // The phone's identity goes with the undo copy, so it is read with the record.
    if (readPhoneIdentity(session_.fs, session_.seems, session_.info) != IdentityRead::Complete) {
        log_.appendLog(label() + ": cannot read the phone's model and volume\r\n");
        return false;
    }
    const std::uint64_t generation = session_.link.generation();
    std::vector<std::uint8_t> bytes;
    switch (phone_.readSeem(seem, record, bytes)) {
    case backup::SeemRead::Read:
        break;
    case backup::SeemRead::Absent:
        log_.appendLog(label() + ": no such record on the phone\r\n");
        return false;
    case backup::SeemRead::Failed:
        log_.appendLog(label() + ": cannot read the record\r\n");
        return false;
    }
    identity_ = backup::PhoneIdentity{utf8Text(session_.info.modelText()), volumePath(session_.info.volume),
                                      volumeIsPath(session_.info.volume)};
    generation_ = generation;
    original_ = bytes;
    edited_ = std::move(bytes);
    loaded_ = true;
    return true;
}

bool SeemEditor::setByte(std::size_t offset, std::uint8_t value) {
    if (offset >= edited_.size()) return false;
    edited_[offset] = value;
    return true;
}

bool SeemEditor::setBit(std::size_t offset, unsigned bit, bool value) {
    if (offset >= edited_.size() || bit > 7) return false;
    const auto mask = static_cast<std::uint8_t>(1u << bit);
    edited_[offset] = static_cast<std::uint8_t>(value ? edited_[offset] | mask : edited_[offset] & ~mask);
    return true;
}

bool SeemEditor::changed(std::size_t offset) const {
    return offset < edited_.size() && edited_[offset] != original_[offset];
}

std::size_t SeemEditor::changedCount() const {
    return backup::diffRecords(original_, edited_).size();
}

std::string SeemEditor::changedText() const {
    const std::size_t count = changedCount();
    return (count == 0 ? std::string("no bytes") : bytesText(count)) + " changed";
}

std::string SeemEditor::whyNotWritable() const {
    if (!loaded_) return "Read a record first.";
    if (edited_.size() > seem::kMaxWriteLength)
        return "Cannot be written: " + bytesText(edited_.size()) + ", more than one write carries (" +
               std::to_string(seem::kMaxWriteLength) + ").";
    return "";
}

std::vector<std::string> SeemEditor::compareWith(const std::filesystem::path& fileOrFolder) const {
    const std::string name = backup::pathText(fileOrFolder);
    std::optional<std::vector<std::uint8_t>> theirs;
    if (backup::isPcFolder(fileOrFolder)) {
        std::string error;
        const auto snapshot = backup::BackupFolder(fileOrFolder).pick("", error);
        if (!snapshot) return {name + ": " + error};
        const backup::Manifest::Seem* found = nullptr;
        for (const backup::Manifest::Seem& s : snapshot->manifest.seems)
            if (s.seem == seem_ && s.record == record_) found = &s;
        if (found == nullptr) return {name + ": the backup holds no " + backup::seemRecordLabel(seem_, record_)};
        theirs = backup::readSnapshotRecord(snapshot->folder, *found);
        if (!theirs) return {name + ": " + found->pc + " in the backup is damaged or missing"};
    } else {
        theirs = readRecordFile(fileOrFolder);
        if (!theirs) return {name + ": cannot read it as a record"};
    }
    if (theirs->size() != edited_.size())
        return {name + ": " + bytesText(theirs->size()) + ", the record " + bytesText(edited_.size())};
    const auto changes = backup::diffRecords(*theirs, edited_);
    if (changes.empty()) return {name + ": equal"};
    std::vector<std::string> lines{name + ": " + bytesText(changes.size()) + " differ"};
    for (const backup::ByteChange& change : changes) lines.push_back(backup::changeLine(change));
    return lines;
}

bool SeemEditor::samePhone() {
    if (session_.link.isConnected() && session_.link.generation() == generation_) return true;
    log_.appendLog(label() + ": not written: the phone is not the one the record was read from; read it again\r\n");
    return false;
}

bool SeemEditor::writeBytes(const std::vector<std::uint8_t>& after, const char* what) {
    const backup::SeemWriteOutcome outcome =
        backup::writeSeemWithUndo(phone_, undo_, identity_, seem_, record_, original_, after);
    const std::string undo = backup::pathText(outcome.undo);
    const std::string saved = "; the record as it was is saved as " + undo;
    std::string line = label() + ": ";
    bool ok = false;
    switch (outcome.result) {
    case backup::SeemWriteResult::Written:
        line += std::string(what) + ", read back ok, undo saved as " + undo;
        original_ = after;
        lastUndo_ = outcome.undo;
        ok = true;
        break;
    case backup::SeemWriteResult::Unchanged:
        line += "nothing changed, nothing written";
        break;
    case backup::SeemWriteResult::TooLong:
        line += "not written: " + whyNotWritable();
        break;
    case backup::SeemWriteResult::UndoFailed:
        line += "not written: the undo copy cannot be saved: " + outcome.error;
        break;
    case backup::SeemWriteResult::WriteFailed:
        line += "WRITE FAILED, the phone may hold either record" + saved;
        lastUndo_ = outcome.undo;
        break;
    case backup::SeemWriteResult::ReadBackFailed:
        line += "WRITTEN, BUT CANNOT BE READ BACK" + saved;
        lastUndo_ = outcome.undo;
        break;
    case backup::SeemWriteResult::ReadBackDiffers:
        line += "WRITTEN, BUT READS BACK DIFFERENT (" +
                bytesText(backup::diffRecords(after, outcome.readBack).size()) + " differ)" + saved;
        lastUndo_ = outcome.undo;
        break;
    }
    log_.appendLog(line + "\r\n");
    return ok;
}

bool SeemEditor::write() {
    if (!loaded_) return false;
    if (!samePhone()) return false;
    const ConnectionBinding connection(session_.channel);
    return writeBytes(edited_, (bytesText(changedCount()) + " written").c_str());
}

bool SeemEditor::undoLast() {
    if (!loaded_ || lastUndo_.empty()) return false;
    if (!samePhone()) return false;
    const ConnectionBinding connection(session_.channel);
    std::vector<std::uint8_t> saved;
    std::string error;
    if (!undo_.load(lastUndo_, saved, error)) {
        log_.appendLog(label() + ": cannot put back " + backup::pathText(lastUndo_) + ": " + error + "\r\n");
        return false;
    }
    // What the phone holds now is what gets saved before the put-back.
    std::vector<std::uint8_t> now;
    if (phone_.readSeem(seem_, record_, now) != backup::SeemRead::Read) {
        log_.appendLog(label() + ": cannot read the record\r\n");
        return false;
    }
    original_ = std::move(now);
    const std::string what = "put back from " + backup::pathText(lastUndo_);
    if (!writeBytes(saved, what.c_str())) return false;
    edited_ = saved;
    return true;
}

} // namespace telvane
