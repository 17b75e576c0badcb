#include "tools/cli/transfer_progress.h"

#include <cstdio>

namespace telvane::cli {

namespace {

std::string kib(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1024.0);
    return text;
}

int percent(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 100 : static_cast<int>(part * 100 / whole);
}

} // namespace

TransferProgress::TransferProgress(std::ostream& err, bool show, const std::atomic<bool>* interrupted,
                                   std::uint64_t totalBytes)
    : err_(err), show_(show), interrupted_(interrupted), total_(totalBytes), start_(std::chrono::steady_clock::now()) {}

void TransferProgress::beginFile(const std::string& name, std::uint64_t size) {
    name_ = name;
    fileSize_ = size;
    fileDone_ = 0;
    draw(true);
}

void TransferProgress::endFile() {
    clear(); // what is said about the file comes on a line of its own
    done_ += fileSize_;
    fileSize_ = 0;
    fileDone_ = 0;
}

void TransferProgress::moved(std::uint32_t bytes) {
    fileDone_ += bytes;
    moved_ += bytes;
    draw(false);
}

bool TransferProgress::stopRequested() {
    return interrupted_ != nullptr && interrupted_->load();
}

void TransferProgress::draw(bool force) {
    if (!show_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(moved_) / seconds : 0;
    const std::uint64_t overall = done_ + fileDone_;
    std::string line = name_ + "  " + kib(fileDone_) + "/" + kib(fileSize_) + " KiB " +
                       std::to_string(percent(fileDone_, fileSize_)) + "%  all " + kib(overall) + "/" + kib(total_) +
                       " KiB " + std::to_string(percent(overall, total_)) + "%  " + kib(static_cast<std::uint64_t>(rate)) +
                       " KiB/s";
    if (rate > 0 && total_ > overall) {
        const auto left = static_cast<std::uint64_t>(static_cast<double>(total_ - overall) / rate);
        char text[32];
        std::snprintf(text, sizeof text, "  %llu:%02llu left", static_cast<unsigned long long>(left / 60),
                      static_cast<unsigned long long>(left % 60));
        line += text;
    }
    const std::size_t width = line.size();
    if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
    drawnWidth_ = width;
    err_ << '\r' << line << std::flush;
}

void TransferProgress::clear() {
    if (!show_ || drawnWidth_ == 0) return;
    err_ << '\r' << std::string(drawnWidth_, ' ') << '\r' << std::flush;
    drawnWidth_ = 0;
}

} // namespace telvane::cli
