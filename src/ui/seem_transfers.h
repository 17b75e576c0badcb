#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "ui/desktop.h"
#include "session/phone_session.h"

namespace telvane {

// A seem field's hexadecimal text as a number: the digits from the first character on, at
// most eight of them; an empty text, or one that begins with anything else, gives 0.
std::uint32_t parseHexField(std::string_view text);

// Seem records between the phone and PC files: a range of seems saved record by record into
// "%.4x_%.4x.seem" files in a chosen folder, and one record written back from a file of exactly
// its size. Window's thread only, one at a time.
class SeemTransfers {
public:
    static constexpr std::size_t kDataBlockSize = 4096;
    static constexpr std::uint32_t kMaxRecord = seem::kMaxSavedRecord; // the download reads records 1 to 128

    SeemTransfers(PhoneSession& session, Desktop desktop, FileDialogSetup& dialog)
        : session_(session), desktop_(desktop), dialog_(dialog) {}

    // Saves every record of every seem from "From" to "to" into a file of its own.
    void downloadSeems();
    // Writes the record addressed by "Seem" and "rec" from a PC file of the record's size.
    void uploadSeem();

private:
    // Reads a field (15 characters at most), writes the value back as four digits and returns it.
    std::uint32_t settleField(EditField field, bool isRecord);
    void saveSeemFile(std::uint32_t seem, std::uint32_t record, std::span<const std::uint8_t> bytes);
    void log(std::string_view text) { session_.log.appendLog(text); }

    PhoneSession& session_;
    Desktop desktop_;
    FileDialogSetup& dialog_;
    std::array<std::uint8_t, kDataBlockSize> data_{};
};

} // namespace telvane
