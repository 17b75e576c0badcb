#include "backup/phone_files.h"

#include <algorithm>
#include <array>

namespace telvane::backup {

const char* transferFailureText(TransferOutcome outcome) {
    switch (outcome) {
    case TransferOutcome::Done:
        return "ok";
    case TransferOutcome::OpenFailed:
        return "cannot open file";
    case TransferOutcome::SeekFailed:
        return "cannot seek to zero";
    case TransferOutcome::ReadFailed:
        return "cannot read file";
    case TransferOutcome::WriteFailed:
        return "cannot write file";
    case TransferOutcome::CloseFailed:
        return "cannot close file";
    case TransferOutcome::SinkFailed:
        return "cannot write";
    case TransferOutcome::Stopped:
        return "Canceled.";
    }
    return "failed";
}

bool PhoneFiles::readList(std::vector<PhoneFileRecord>& files) {
    NullProgress progress;
    files.clear();
    if (session_.files.readFileList(session_.fs, progress) != 0) return false;
    for (std::uint32_t i = 0; i < session_.files.count(); ++i) {
        const FileEntry entry = session_.files.entry(i);
        if (!entry) continue;
        const std::uint32_t both = entryAttributes32(entry);
        files.push_back(PhoneFileRecord{std::string(entryName(entry)), static_cast<std::uint16_t>(both & 0xFFFF),
                                        static_cast<std::uint16_t>(both >> 16), entrySize(entry)});
    }
    return true;
}

TransferOutcome PhoneFiles::readFile(const PhoneFileRecord& file, ByteSink& sink, TransferWatch* watch) {
    if (file.size == 0) return TransferOutcome::Done;
    return readPhoneFile(session_.fs, session_.clock, file.name, file.attribute, file.size, sink, watch);
}

TransferOutcome PhoneFiles::writeFile(const std::string& name, ByteSource& source, std::uint32_t size,
                                      TransferWatch* watch) {
    FsCommands& fs = session_.fs;
    if (fs.FsOpen(name, 0) != 0) return TransferOutcome::OpenFailed;
    std::array<std::uint8_t, fs::kMaxTransfer> piece;
    for (std::uint32_t done = 0; done < size;) {
        if (watch != nullptr && watch->stopRequested()) {
            fs.FsClose();
            return TransferOutcome::Stopped;
        }
        const std::uint32_t n = std::min<std::uint32_t>(size - done, fs::kMaxTransfer);
        const std::span<std::uint8_t> bytes(piece.data(), n);
        if (!source.read(bytes)) {
            fs.FsClose();
            return TransferOutcome::SinkFailed;
        }
        if (fs.FsWrite(bytes) != 0) {
            fs.FsClose();
            return TransferOutcome::WriteFailed;
        }
        done += n;
        if (watch != nullptr) watch->moved(n);
    }
    return fs.FsClose() == 0 ? TransferOutcome::Done : TransferOutcome::CloseFailed;
}

bool PhoneFiles::setAttribute(const std::string& name, std::uint16_t attribute) {
    if (session_.fs.FsOpen(name, attribute) != 0) return false;
    session_.fs.FsClose();
    return true;
}

std::size_t PhoneFiles::longestName() const {
    const std::uint32_t entrySize = session_.files.recordSize();
    return entrySize == 0 ? 0 : entrySize - fs::kNameOverhead;
}

SeemRead PhoneFiles::readSeem(std::uint16_t seem, std::uint16_t record, std::vector<std::uint8_t>& bytes) {
    bytes.assign(seem::kAreaSize, 0);
    std::uint32_t size = 0;
    if (session_.seems.readSeem(seem, record, bytes, size) != 0) {
        bytes.clear();
        // A phone that answered (with a status or a result code) has no such record to give; only
        // an exchange that failed must not pass for an absent record.
        return session_.seems.lastReadAnswered() ? SeemRead::Absent : SeemRead::Failed;
    }
    if (size > bytes.size()) {
        bytes.clear();
        return SeemRead::Failed;
    }
    bytes.resize(size);
    return size == 0 ? SeemRead::Absent : SeemRead::Read;
}

bool PhoneFiles::writeSeem(std::uint16_t seem, std::uint16_t record, std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > seem::kMaxWriteLength) return false;
    return session_.seems.writeSeem(seem, record, 0, static_cast<std::uint32_t>(bytes.size()), bytes) == 0;
}

} // namespace telvane::backup
