#include "backup/seem_undo.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include <nlohmann/json.hpp>

#include "backup/manifest.h"
#include "backup/pc_store.h"
#include "services/seem_commands.h"
#include "session/pc_file_name.h"

namespace telvane::backup {

namespace stdfs = std::filesystem;
using nlohmann::json;

namespace {

stdfs::path notePath(const stdfs::path& file) {
    stdfs::path note = file;
    note.replace_extension(".json");
    return note;
}

} // namespace

stdfs::path SeemUndoStore::defaultFolder() {
#ifdef _WIN32
    if (const char* local = std::getenv("LOCALAPPDATA"); local != nullptr && *local != '\0')
        return stdfs::path(local) / "Telvane" / "undo";
    return {};
#else
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
        return stdfs::path(state) / "telvane" / "undo";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return stdfs::path(home) / ".local" / "state" / "telvane" / "undo";
    return {};
#endif
}

std::optional<stdfs::path> SeemUndoStore::save(std::uint16_t seem, std::uint16_t record,
                                               const std::vector<std::uint8_t>& bytes, const PhoneIdentity& phone,
                                               std::string& error) const {
    if (folder_.empty()) {
        error = "no folder for undo copies (set HOME, XDG_STATE_HOME or LOCALAPPDATA)";
        return std::nullopt;
    }
    std::error_code made;
    stdfs::create_directories(osPath(folder_), made);
    const std::string stem = seemFileName(seem, record).substr(0, 9) + "-" + utcNow("%Y%m%dT%H%M%SZ");
    // Two changes in one second each keep their copy.
    stdfs::path file;
    for (int n = 1;; ++n) {
        file = folder_ / pcPath(stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".seem");
        if (!pcPathExists(file) && !pcPathExists(notePath(file))) break;
    }
    const json note = {{"model", phone.model}, {"volume", latin1ToUtf8(phone.volume)}, {"seem", seem},
                       {"record", record},     {"time", utcNow()},                      {"size", bytes.size()}};
    PcFileWriter writer;
    if (!writer.create(file) || !writer.write(bytes) || !writer.finish() ||
        !publishTextFile(notePath(file), note.dump(2, ' ', false, json::error_handler_t::replace) + "\n") ||
        !syncFolder(folder_)) {
        std::error_code ignored;
        stdfs::remove(osPath(file), ignored);
        error = "cannot save the record in " + pathText(folder_);
        return std::nullopt;
    }
    return file;
}

std::optional<UndoEntry> SeemUndoStore::load(const stdfs::path& file, std::vector<std::uint8_t>& bytes,
                                             std::string& error) const {
    const auto text = readTextFile(notePath(file), 1 << 16);
    const json note = text ? json::parse(*text, nullptr, false) : json();
    if (!note.is_object() || !note.contains("model") || !note["model"].is_string() || !note.contains("seem") ||
        !note["seem"].is_number_unsigned() || note["seem"].get<std::uint64_t>() > 0xFFFF ||
        !note.contains("record") || !note["record"].is_number_unsigned() ||
        note["record"].get<std::uint64_t>() > 0xFFFF || note["record"].get<std::uint64_t>() == 0) {
        error = "no note of the phone beside it (" + pathText(notePath(file)) + ")";
        return std::nullopt;
    }
    const auto saved = readTextFile(file, seem::kAreaSize);
    if (!saved) {
        error = "cannot read it";
        return std::nullopt;
    }
    bytes.assign(saved->begin(), saved->end());
    UndoEntry entry;
    entry.file = file;
    entry.model = note["model"].get<std::string>();
    entry.volume = note.value("volume", std::string());
    entry.seem = static_cast<std::uint16_t>(note["seem"].get<std::uint64_t>());
    entry.record = static_cast<std::uint16_t>(note["record"].get<std::uint64_t>());
    entry.time = note.value("time", std::string());
    entry.size = bytes.size();
    return entry;
}

std::vector<UndoEntry> SeemUndoStore::list() const {
    std::vector<UndoEntry> entries;
    std::error_code error;
    for (stdfs::directory_iterator it(osPath(folder_), error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() != ".seem") continue;
        std::vector<std::uint8_t> bytes;
        std::string why;
        if (auto entry = load(folder_ / it->path().filename(), bytes, why)) entries.push_back(std::move(*entry));
    }
    std::sort(entries.begin(), entries.end(), [](const UndoEntry& a, const UndoEntry& b) {
        return a.time != b.time ? a.time > b.time : a.file.filename() > b.file.filename();
    });
    return entries;
}

std::uint64_t SeemUndoStore::totalBytes() const {
    std::uint64_t total = 0;
    std::error_code error;
    for (stdfs::directory_iterator it(osPath(folder_), error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error)) total += it->file_size(error);
    return total;
}

SeemWriteOutcome writeSeemWithUndo(PhoneFiles& phone, const SeemUndoStore& undo, const PhoneIdentity& identity,
                                   std::uint16_t seem, std::uint16_t record, const std::vector<std::uint8_t>& before,
                                   const std::vector<std::uint8_t>& after) {
    SeemWriteOutcome outcome;
    if (before == after) return outcome;
    if (after.empty() || after.size() > seem::kMaxWriteLength) {
        outcome.result = SeemWriteResult::TooLong;
        outcome.error = "longer than one write carries (" + std::to_string(seem::kMaxWriteLength) + " bytes)";
        return outcome;
    }
    // No write without the record as it was on the disk first.
    const auto saved = undo.save(seem, record, before, identity, outcome.error);
    if (!saved) {
        outcome.result = SeemWriteResult::UndoFailed;
        return outcome;
    }
    outcome.undo = *saved;
    if (!phone.writeSeem(seem, record, after)) {
        outcome.result = SeemWriteResult::WriteFailed;
        return outcome;
    }
    if (phone.readSeem(seem, record, outcome.readBack) != SeemRead::Read) {
        outcome.result = SeemWriteResult::ReadBackFailed;
        return outcome;
    }
    outcome.result = outcome.readBack == after ? SeemWriteResult::Written : SeemWriteResult::ReadBackDiffers;
    return outcome;
}

} // namespace telvane::backup
