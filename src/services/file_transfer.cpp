#include "services/file_transfer.h"

#include <algorithm>
#include <array>

namespace telvane {

namespace {
bool stopping(TransferWatch* watch) { return watch != nullptr && watch->stopRequested(); }
void moved(TransferWatch* watch, std::uint32_t bytes) {
    if (watch != nullptr) watch->moved(bytes);
}
} // namespace

TransferOutcome openPhoneFile(FsCommands& fs, Clock& clock, std::string_view name, std::uint16_t attribute) {
    if (fs.FsOpen(name, attribute) != 0) return TransferOutcome::OpenFailed;
    clock.sleepMs(kDownloadPauseMs);
    if (fs.FsSeek(0, 0) != 0) {
        fs.FsClose();
        return TransferOutcome::SeekFailed;
    }
    clock.sleepMs(kDownloadPauseMs);
    return TransferOutcome::Done;
}

TransferOutcome readOpenPhoneFile(FsCommands& fs, Clock& clock, std::uint32_t size, ByteSink& sink,
                                  TransferWatch* watch) {
    // Every way out closes the phone file, so the phone is never left holding it.
    auto closing = [&fs](TransferOutcome outcome) {
        fs.FsClose();
        return outcome;
    };
    std::array<std::uint8_t, fs::kMaxTransfer> piece;
    for (std::uint32_t done = 0; done < size;) {
        if (stopping(watch)) return closing(TransferOutcome::Stopped);
        const std::uint32_t n = std::min<std::uint32_t>(size - done, fs::kMaxTransfer);
        const std::span<std::uint8_t> bytes(piece.data(), n);
        if (fs.FsRead(bytes) != 0) return closing(TransferOutcome::ReadFailed);
        if (!sink.write(bytes)) return closing(TransferOutcome::SinkFailed);
        done += n;
        moved(watch, n);
    }
    clock.sleepMs(kDownloadPauseMs);
    return closing(TransferOutcome::Done);
}

TransferOutcome readPhoneFile(FsCommands& fs, Clock& clock, std::string_view name, std::uint16_t attribute,
                              std::uint32_t size, ByteSink& sink, TransferWatch* watch) {
    const TransferOutcome opened = openPhoneFile(fs, clock, name, attribute);
    if (opened != TransferOutcome::Done) return opened;
    return readOpenPhoneFile(fs, clock, size, sink, watch);
}

TransferOutcome writePhoneFile(FsCommands& fs, std::string_view name, std::span<const std::uint8_t> bytes,
                               TransferWatch* watch) {
    if (fs.FsOpen(name, 0) != 0) return TransferOutcome::OpenFailed;
    for (std::size_t done = 0; done < bytes.size();) {
        if (stopping(watch)) {
            fs.FsClose();
            return TransferOutcome::Stopped;
        }
        const std::size_t n = std::min<std::size_t>(bytes.size() - done, fs::kMaxTransfer);
        if (fs.FsWrite(bytes.subspan(done, n)) != 0) {
            fs.FsClose();
            return TransferOutcome::WriteFailed;
        }
        done += n;
        moved(watch, static_cast<std::uint32_t>(n));
    }
    return fs.FsClose() == 0 ? TransferOutcome::Done : TransferOutcome::CloseFailed;
}

} // namespace telvane
