#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backup/phone_files.h"
#include "backup/phone_match.h"
#include "backup/seem_undo.h"
#include "common/log_sink.h"
#include "session/phone_session.h"

namespace telvane {

// One seem record as the window's editor holds it: the bytes as read from the phone, the bytes as
// edited, and the write back with an undo copy and a read-back. Bound to the connection it read
// from: a write after the phone went (or another came) is refused. Each step reports to the log.
class SeemEditor {
public:
    SeemEditor(PhoneSession& session, LogSink& log, backup::SeemUndoStore undo);

    // Reads the record afresh, dropping every edit; false (with a log line) when it cannot be had.
    bool read(std::uint16_t seem, std::uint16_t record);
    bool loaded() const { return loaded_; }
    std::uint16_t seem() const { return seem_; }
    std::uint16_t record() const { return record_; }
    const std::vector<std::uint8_t>& original() const { return original_; }
    const std::vector<std::uint8_t>& bytes() const { return edited_; }

    // False when the offset (or bit) lies outside the record.
    bool setByte(std::size_t offset, std::uint8_t value);
    bool setBit(std::size_t offset, unsigned bit, bool value);
    bool changed(std::size_t offset) const;
    std::size_t changedCount() const;
    // "3 bytes changed", "1 byte changed", "no bytes changed".
    std::string changedText() const;

    // Empty when the record can be written, else why not.
    std::string whyNotWritable() const;

    // The differences between the edited record and a record file, or, for a folder, the record in
    // its newest backup: "OFFSET: FILE -> HERE (bits ...)" lines, or a line saying why none.
    std::vector<std::string> compareWith(const std::filesystem::path& fileOrFolder) const;

    // Writes the edited record (undo copy first, read-back after), with a log line either way.
    // True only when it was written and reads back the same.
    bool write();
    // Puts back the record saved before this editor's last write; true when done.
    bool undoLast();
    const std::filesystem::path& lastUndo() const { return lastUndo_; }

private:
    std::string label() const;
    bool samePhone();
    bool writeBytes(const std::vector<std::uint8_t>& after, const char* what);

    PhoneSession& session_;
    LogSink& log_;
    backup::SeemUndoStore undo_;
    backup::PhoneFiles phone_;
    bool loaded_ = false;
    std::uint16_t seem_ = 0;
    std::uint16_t record_ = 0;
    std::uint64_t generation_ = 0;
    backup::PhoneIdentity identity_;
    std::vector<std::uint8_t> original_;
    std::vector<std::uint8_t> edited_;
    std::filesystem::path lastUndo_;
};

} // namespace telvane
