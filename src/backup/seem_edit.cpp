#include "backup/seem_edit.h"

#include <cstdio>

#include "session/pc_file_name.h"

namespace telvane::backup {

namespace {

std::optional<std::size_t> hexNumber(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    std::size_t value = 0;
    for (char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<std::size_t>(d);
    }
    return value;
}

std::string hex(std::size_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%.*zx", digits, value);
    return text;
}

} // namespace

std::optional<SeemEdit> parseSeemEdit(std::string_view text, std::string& error) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        error = "not an edit: \"" + std::string(text) + "\"; give OFFSET=BYTES or OFFSET.BIT=0|1";
        return std::nullopt;
    }
    std::string_view where = text.substr(0, equals);
    const std::string_view value = text.substr(equals + 1);
    SeemEdit edit;
    const std::size_t dot = where.find('.');
    // A record holds at most 10000 bytes: four digits reach every offset.
    const auto offset = hexNumber(where.substr(0, dot), 4);
    if (!offset) {
        error = "not an offset: \"" + std::string(where.substr(0, dot)) + "\"; give it in hexadecimal";
        return std::nullopt;
    }
    edit.offset = *offset;
    if (dot != std::string_view::npos) {
        const std::string_view bit = where.substr(dot + 1);
        if (bit.size() != 1 || bit[0] < '0' || bit[0] > '7' || (value != "0" && value != "1")) {
            error = "not a bit edit: \"" + std::string(text) + "\"; give OFFSET.BIT=0 or =1, BIT from 0 to 7";
            return std::nullopt;
        }
        edit.bit = static_cast<unsigned>(bit[0] - '0');
        edit.bitValue = value == "1";
        return edit;
    }
    if (value.empty() || value.size() % 2 != 0) {
        error = "not bytes: \"" + std::string(value) + "\"; give two hexadecimal digits per byte";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < value.size(); i += 2) {
        const auto byte = hexNumber(value.substr(i, 2), 2);
        if (!byte) {
            error = "not bytes: \"" + std::string(value) + "\"; give two hexadecimal digits per byte";
            return std::nullopt;
        }
        edit.bytes.push_back(static_cast<std::uint8_t>(*byte));
    }
    return edit;
}

bool applySeemEdits(std::vector<std::uint8_t>& record, const std::vector<SeemEdit>& edits, std::string& error) {
    std::vector<std::uint8_t> edited = record;
    for (const SeemEdit& edit : edits) {
        const std::size_t length = edit.bit ? 1 : edit.bytes.size();
        if (edit.offset >= edited.size() || length > edited.size() - edit.offset) {
            error = "an edit at " + hex(edit.offset, 4) + " reaches past the record's end (" +
                    std::to_string(edited.size()) + " bytes)";
            return false;
        }
        if (edit.bit) {
            const auto mask = static_cast<std::uint8_t>(1u << *edit.bit);
            edited[edit.offset] = static_cast<std::uint8_t>(edit.bitValue ? edited[edit.offset] | mask
                                                                           : edited[edit.offset] & ~mask);
        } else {
            std::copy(edit.bytes.begin(), edit.bytes.end(), edited.begin() + static_cast<std::ptrdiff_t>(edit.offset));
        }
    }
    record = std::move(edited);
    return true;
}

std::vector<ByteChange> diffRecords(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after) {
    std::vector<ByteChange> changes;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
        if (before[i] != after[i]) changes.push_back({i, before[i], after[i]});
    return changes;
}

std::string changeLine(const ByteChange& change) {
    std::string bits;
    for (unsigned bit = 0; bit < 8; ++bit)
        if (((change.before ^ change.after) >> bit) & 1) bits += (bits.empty() ? "" : ",") + std::to_string(bit);
    return hex(change.offset, 4) + ": " + hex(change.before, 2) + " -> " + hex(change.after, 2) + " (bits " + bits + ")";
}

std::vector<std::string> hexDump(std::span<const std::uint8_t> bytes, bool bits) {
    std::vector<std::string> lines;
    for (std::size_t row = 0; row < bytes.size(); row += 16) {
        std::string line = hex(row, 4) + " ";
        std::string printable;
        for (std::size_t i = row; i < row + 16; ++i) {
            if (i < bytes.size()) {
                line += " " + hex(bytes[i], 2);
                printable += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
            } else {
                line += "   ";
            }
        }
        lines.push_back(line + "  |" + printable + "|");
    }
    if (bits) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            std::string pattern;
            for (int bit = 7; bit >= 0; --bit) pattern += ((bytes[i] >> bit) & 1) ? '1' : '0';
            lines.push_back(hex(i, 4) + ": " + hex(bytes[i], 2) + " " + pattern);
        }
    }
    return lines;
}

std::string seemRecordLabel(std::uint16_t seem, std::uint16_t record) {
    const std::string name = seemFileName(seem, record);
    return "seem " + name.substr(0, 4) + " record " + name.substr(5, 4);
}

} // namespace telvane::backup
