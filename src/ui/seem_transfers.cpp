#include "ui/seem_transfers.h"

#include <cstdio>
#include <string>

#include "session/pc_file_name.h"

namespace telvane {

namespace {
constexpr const char* kDownloadDialogName = "xxxx_yyyy.seem";
constexpr const char* kDownloadStart = "downloading seem data from ";
constexpr const char* kRangeTo = " to ";
constexpr const char* kLineEnd = "\r\n";
constexpr const char* kPleaseWait = "Please wait, it can take few minutes...\r\n";
constexpr const char* kDone = "Done.\r\n";
constexpr const char* kUploadStart = "uploading seem N ";
constexpr const char* kRecord = "record N ";
constexpr const char* kOk = " ok\r\n";
constexpr const char* kCannotWriteFile = " Fail: cannot write file ";

constexpr std::size_t kFieldChars = 15;
constexpr std::size_t kMaxHexDigits = 8;
constexpr std::uint32_t kHighest = 0xFFFF;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string fourDigits(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.4x", static_cast<unsigned>(value));
    return text;
}
} // namespace

std::uint32_t parseHexField(std::string_view text) {
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) break;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
        if (++digits == kMaxHexDigits) break;
    }
    return value;
}

std::uint32_t SeemTransfers::settleField(EditField field, bool isRecord) {
    const std::string text = desktop_.controls.fieldText(field);
    std::uint32_t value = parseHexField(std::string_view(text).substr(0, kFieldChars));
    if (isRecord) {
        if (value >= kHighest || value == 0) value = 1;
    } else if (value >= kHighest) {
        value = kHighest;
    }
    desktop_.controls.setFieldText(field, fourDigits(value));
    return value;
}

void SeemTransfers::downloadSeems() {
    const ConnectionBinding connection(session_.channel);
    // The dialog only chooses the folder; the name typed in it is not used.
    setDialogName(dialog_, kDownloadDialogName);
    dialog_.options = FileDialogSetup::kNoOptions;
    if (!desktop_.dialogs.saveFileDialog(dialog_)) return;

    log(kDownloadStart);
    const std::uint32_t from = settleField(EditField::SeemFirst, false);
    log(fourDigits(from));
    const std::uint32_t to = settleField(EditField::SeemLast, false);
    log(kRangeTo);
    log(fourDigits(to));
    log(kLineEnd);
    log(kPleaseWait);

    Progress& progress = desktop_.progress;
    progress.setRange(from, to);
    progress.setPosition(0);
    // Held in 32 bits, so a range ending at ffff ends instead of wrapping; the first seem is read
    // even when "From" lies above "to".
    std::uint32_t seem = from;
    do {
        for (std::uint32_t record = 1; record <= kMaxRecord; ++record) {
            progress.setPosition(seem);
            std::uint32_t size = 0;
            // A failed or empty record ends its seem.
            if (session_.seems.readSeem(static_cast<std::uint16_t>(seem), static_cast<std::uint16_t>(record), data_,
                                        size) != 0 ||
                size == 0 || size > data_.size())
                break;
            saveSeemFile(seem, record, std::span<const std::uint8_t>(data_.data(), size));
        }
        ++seem;
    } while (seem <= to);
    log(kDone);
}

void SeemTransfers::saveSeemFile(std::uint32_t seem, std::uint32_t record, std::span<const std::uint8_t> bytes) {
    const std::string name =
        seemFileName(static_cast<std::uint16_t>(seem), static_cast<std::uint16_t>(record));
    // An existing file is never replaced: one that cannot be created is skipped.
    PcFile file(desktop_.files, desktop_.files.createNew(name));
    if (!file) return;
    const bool complete = file.writeAll(bytes);
    file.close();
    // A cut-off record would pass for a backup: it goes, and the user hears which one.
    if (!complete) {
        desktop_.files.remove(name);
        log(std::string(kCannotWriteFile) + name + kLineEnd);
    }
}

void SeemTransfers::uploadSeem() {
    const ConnectionBinding connection(session_.channel);
    log(kUploadStart);
    const std::uint32_t seem = settleField(EditField::SeemNumber, false);
    log(fourDigits(seem));
    const std::uint32_t record = settleField(EditField::SeemRecord, true);
    log(kRecord);
    log(fourDigits(record));

    std::uint32_t size = 0;
    if (session_.seems.readSeem(static_cast<std::uint16_t>(seem), static_cast<std::uint16_t>(record), data_, size) !=
        0)
        return;
    // An empty record would be written as one byte of no settled value.
    if (size == 0 || size > data_.size()) return;

    dialog_.name[0] = '\0';
    dialog_.title[0] = '\0';
    dialog_.options = FileDialogSetup::kNoOptions;
    if (!desktop_.dialogs.openFileDialog(dialog_)) return;

    PcFile file(desktop_.files, desktop_.files.openExisting(dialogName(dialog_)));
    if (!file) return;
    std::uint64_t fileSize = 0;
    if (!file.size(fileSize) || fileSize != size) return;
    const std::span<std::uint8_t> bytes(data_.data(), size);
    if (!file.readAll(bytes)) return;
    if (session_.seems.writeSeem(static_cast<std::uint16_t>(seem), static_cast<std::uint16_t>(record), 0, size, bytes) !=
        0)
        return;
    file.close();
    log(kOk);
}

} // namespace telvane
