#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "services/file_transfer.h"

namespace telvane::cli {

// Follows the files of one command on stderr: the file's and the whole command's bytes, the
// rate and the time left, on one line rewritten at most ten times a second. Shows nothing when
// told not to (-q, or stderr is no terminal). Stops a transfer between two pieces once the
// user has interrupted the program.
class TransferProgress final : public TransferWatch {
public:
    TransferProgress(std::ostream& err, bool show, const std::atomic<bool>* interrupted, std::uint64_t totalBytes);
    ~TransferProgress() override { clear(); }

    // What the command moves in all, once it is known.
    void setTotal(std::uint64_t totalBytes) { total_ = totalBytes; }
    void beginFile(const std::string& name, std::uint64_t size);
    // The file's bytes count as done whether it moved or not (skipped, failed part-way).
    void endFile();

    void moved(std::uint32_t bytes) override;
    bool stopRequested() override;

private:
    void draw(bool force);
    void clear();

    std::ostream& err_;
    bool show_;
    const std::atomic<bool>* interrupted_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;     // bytes of the files ended
    std::uint64_t fileSize_ = 0;
    std::uint64_t fileDone_ = 0;
    std::uint64_t moved_ = 0;    // bytes really moved, for the rate
    std::string name_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::size_t drawnWidth_ = 0;
};

} // namespace telvane::cli
