#include "sim/phone_file_system.h"

#include <algorithm>

namespace telvane::sim {

bool PhoneFileSystem::nameValid(std::string_view name) const {
    return !name.empty() && name.size() <= maxNameLength_ && name.find('\0') == std::string_view::npos;
}

PhoneFile* PhoneFileSystem::findMutable(std::string_view name) {
    const auto at = index_.find(name);
    return at == index_.end() ? nullptr : &files_[at->second];
}

const PhoneFile* PhoneFileSystem::find(std::string_view name) const {
    const auto at = index_.find(name);
    return at == index_.end() ? nullptr : &files_[at->second];
}

void PhoneFileSystem::append(PhoneFile file) {
    index_.emplace(file.name, files_.size());
    files_.push_back(std::move(file));
}

bool PhoneFileSystem::add(PhoneFile file) {
    if (!nameValid(file.name) || find(file.name) != nullptr) return false;
    append(std::move(file));
    return true;
}

std::optional<std::string> PhoneFileSystem::openName() const { return open_; }

void PhoneFileSystem::reset() {
    open_.reset();
    position_ = 0;
    written_ = false;
}

FsOutcome PhoneFileSystem::open(std::string_view name, std::uint32_t attribute) {
    if (!nameValid(name)) return FsOutcome::BadName;
    PhoneFile* file = findMutable(name);
    if (file == nullptr) {
        append(PhoneFile{std::string(name), 0, 0, {}});
        file = &files_.back();
    }
    file->attribute = static_cast<std::uint16_t>(attribute);
    // One open file at a time: a new open takes the place of the old one.
    open_ = std::string(name);
    position_ = 0;
    written_ = false;
    return FsOutcome::Ok;
}

FsOutcome PhoneFileSystem::read(std::uint32_t count, std::vector<std::uint8_t>& out) {
    out.clear();
    const PhoneFile* file = open_ ? find(*open_) : nullptr;
    if (file == nullptr) return FsOutcome::NotOpen;
    const std::size_t available = file->bytes.size() - position_;
    const std::size_t n = std::min<std::size_t>(count, available);
    out.assign(file->bytes.begin() + position_, file->bytes.begin() + position_ + n);
    position_ += static_cast<std::uint32_t>(n);
    return FsOutcome::Ok;
}

FsOutcome PhoneFileSystem::write(std::span<const std::uint8_t> bytes) {
    PhoneFile* file = open_ ? findMutable(*open_) : nullptr;
    if (file == nullptr) return FsOutcome::NotOpen;
    const std::size_t oldSize = file->bytes.size();
    // Writing a file anew replaces what lay beyond the write position.
    const std::size_t keep = written_ ? oldSize : std::min<std::size_t>(oldSize, position_);
    const std::size_t newSize = std::max<std::size_t>(keep, position_ + bytes.size());
    if (newSize > oldSize && newSize - oldSize > freeSpace_) return FsOutcome::NoSpace;
    if (newSize > 0xFFFFFFFFu) return FsOutcome::NoSpace;

    if (newSize >= oldSize) {
        freeSpace_ -= static_cast<std::uint32_t>(newSize - oldSize);
    } else {
        freeSpace_ = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(0xFFFFFFFFu, std::uint64_t{freeSpace_} + (oldSize - newSize)));
    }
    file->bytes.resize(newSize);
    std::copy(bytes.begin(), bytes.end(), file->bytes.begin() + position_);
    position_ += static_cast<std::uint32_t>(bytes.size());
    written_ = true;
    return FsOutcome::Ok;
}

FsOutcome PhoneFileSystem::seek(std::uint32_t offset, std::uint8_t mode) {
    const PhoneFile* file = open_ ? find(*open_) : nullptr;
    if (file == nullptr) return FsOutcome::NotOpen;
    std::uint64_t base = 0;
    if (mode == 1) base = position_;
    else if (mode == 2) base = file->bytes.size();
    else if (mode != 0) return FsOutcome::BadPosition;
    const std::uint64_t target = base + offset;
    if (target > file->bytes.size()) return FsOutcome::BadPosition;
    position_ = static_cast<std::uint32_t>(target);
    return FsOutcome::Ok;
}

FsOutcome PhoneFileSystem::close() {
    if (!open_) return FsOutcome::NotOpen;
    reset();
    return FsOutcome::Ok;
}

FsOutcome PhoneFileSystem::remove(std::string_view name) {
    const auto at = index_.find(name);
    if (at == index_.end()) return FsOutcome::NotFound;
    if (open_ && *open_ == name) return FsOutcome::Busy;
    const std::size_t position = at->second;
    freeSpace_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(0xFFFFFFFFu, std::uint64_t{freeSpace_} + files_[position].bytes.size()));
    index_.erase(at);
    files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(position));
    // The files after it have moved up one place.
    for (std::size_t i = position; i < files_.size(); ++i) index_[files_[i].name] = i;
    return FsOutcome::Ok;
}

} // namespace telvane::sim
