#include "ui/desktop.h"

#include <algorithm>
#include <cstring>

namespace telvane {

std::string_view dialogName(const FileDialogSetup& setup) {
    // The dialog writes into the buffer; its last byte is never trusted to be the end.
    const std::size_t limit = setup.name.size() - 1;
    const auto* end = static_cast<const char*>(std::memchr(setup.name.data(), '\0', limit));
    return {setup.name.data(), end != nullptr ? static_cast<std::size_t>(end - setup.name.data()) : limit};
}

void setDialogName(FileDialogSetup& setup, std::string_view text) {
    const std::size_t n = std::min(text.size(), setup.name.size() - 1);
    std::memcpy(setup.name.data(), text.data(), n);
    setup.name[n] = '\0';
}

std::span<char> openDialogBuffer(FileDialogSetup& setup) {
    if (!(setup.options & FileDialogSetup::kExplorerMultiSelect)) return setup.name;
    if (setup.choice.empty()) setup.choice.assign(FileDialogSetup::kChoiceBufferSize, '\0');
    return setup.choice;
}

bool PcFile::readAll(std::span<std::uint8_t> into) {
    std::size_t count = 0;
    return handle_ != 0 && files_->read(handle_, into, count) && count == into.size();
}

bool PcFile::writeAll(std::span<const std::uint8_t> bytes) {
    std::size_t count = 0;
    return handle_ != 0 && files_->write(handle_, bytes, count) && count == bytes.size();
}

bool PcFile::close() {
    if (handle_ == 0) return false;
    const PcFileHandle handle = handle_;
    handle_ = 0;
    return files_->close(handle);
}

} // namespace telvane
