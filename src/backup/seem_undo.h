#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backup/phone_files.h"
#include "backup/phone_match.h"

namespace telvane::backup {

// One record saved before it was changed: "%.4x_%.4x-TIME.seem" holds its bytes exactly, and a
// note beside it ("...-TIME.json") the phone it came from.
struct UndoEntry {
    std::filesystem::path file;
    std::string model;
    std::string volume; // UTF-8
    std::uint16_t seem = 0;
    std::uint16_t record = 0;
    std::string time; // UTC, ISO 8601
    std::uint64_t size = 0;
};

// The records saved before each seem change, in the user's state folder. Nothing in it is ever
// removed by the program.
class SeemUndoStore {
public:
    explicit SeemUndoStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // Linux: $XDG_STATE_HOME/telvane/undo, else ~/.local/state/telvane/undo; Windows:
    // %LOCALAPPDATA%\Telvane\undo. Empty when none of these is set.
    static std::filesystem::path defaultFolder();

    const std::filesystem::path& folder() const { return folder_; }
    // Saves a record as it is now, its bytes and note written and flushed to the disk before this
    // returns. The saved file's path, or nothing (with why in error).
    std::optional<std::filesystem::path> save(std::uint16_t seem, std::uint16_t record,
                                              const std::vector<std::uint8_t>& bytes, const PhoneIdentity& phone,
                                              std::string& error) const;
    // The saved records, newest first.
    std::vector<UndoEntry> list() const;
    // The bytes of the folder's files.
    std::uint64_t totalBytes() const;
    // A saved record and its note; nothing (with why) when the file or its note cannot be read.
    std::optional<UndoEntry> load(const std::filesystem::path& file, std::vector<std::uint8_t>& bytes,
                                  std::string& error) const;

private:
    std::filesystem::path folder_;
};

enum class SeemWriteResult {
    Written,         // written, and read back the same
    Unchanged,       // nothing to write
    TooLong,         // longer than one write carries: nothing written
    UndoFailed,      // the record as it was could not be saved: nothing written
    WriteFailed,     // the phone refused the write (it may hold either)
    ReadBackFailed,  // written, but could not be read back
    ReadBackDiffers, // written, and reads back different
};

struct SeemWriteOutcome {
    SeemWriteResult result = SeemWriteResult::Unchanged;
    std::filesystem::path undo; // where the record as it was is saved (once saved)
    std::vector<std::uint8_t> readBack;
    std::string error;
};

// Changes a record from `before` (as just read) to `after`: the undo copy is on the disk first,
// then the write, then a read-back compared with `after`.
SeemWriteOutcome writeSeemWithUndo(PhoneFiles& phone, const SeemUndoStore& undo, const PhoneIdentity& identity,
                                   std::uint16_t seem, std::uint16_t record, const std::vector<std::uint8_t>& before,
                                   const std::vector<std::uint8_t>& after);

} // namespace telvane::backup
