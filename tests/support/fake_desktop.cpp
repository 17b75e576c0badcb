#include "support/fake_desktop.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

namespace telvane::test {

FakeDesktop::FakeDesktop() {
    folders_.insert(current_);
}

std::string FakeDesktop::resolve(std::string_view path) const {
    const bool absolute = path.size() >= 3 && path[1] == ':' && path[2] == '\\';
    if (absolute) return std::string(path);
    std::string full = current_;
    if (full.back() != '\\') full += '\\';
    return full + std::string(path);
}

std::string FakeDesktop::folderOf(const std::string& path) {
    const std::size_t at = path.rfind('\\');
    if (at == std::string::npos) return {};
    // A drive's root keeps its separator: "C:\".
    return at == 2 ? path.substr(0, 3) : path.substr(0, at);
}

void FakeDesktop::addFolder(const std::string& folder) {
    folders_.insert(folder);
}

void FakeDesktop::addFile(const std::string& path, Bytes bytes) {
    const std::string full = resolve(path);
    folders_.insert(folderOf(full));
    files_[full].bytes = std::move(bytes);
}

FakeDesktop::StoredFile* FakeDesktop::file(const std::string& path) {
    auto it = files_.find(resolve(path));
    return it == files_.end() ? nullptr : &it->second;
}

std::vector<std::string> FakeDesktop::filesIn(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& [path, stored] : files_)
        if (folderOf(path) == folder) names.push_back(path.substr(path.rfind('\\') + 1));
    return names;
}

bool FakeDesktop::isOpen(const std::string& path) const {
    return std::any_of(open_.begin(), open_.end(), [&](const auto& f) { return f.second.path == path; });
}

// --- Dialogs

void FakeDesktop::answerOpen(const std::string& folder, std::vector<std::string> names) {
    answers_.push_back(Answer{true, folder, std::move(names)});
}

void FakeDesktop::answerSave(const std::string& path) {
    answers_.push_back(Answer{true, folderOf(path), {path}});
}

void FakeDesktop::cancelNextDialog() {
    answers_.push_back(Answer{});
}

void FakeDesktop::answerQuestion(bool yes) {
    questionAnswers_.push_back(yes);
}

std::optional<FakeDesktop::Answer> FakeDesktop::nextAnswer() {
    if (answers_.empty()) {
        ADD_FAILURE() << "a dialog was shown that the test did not expect";
        return std::nullopt;
    }
    Answer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

FakeDesktop::ShownDialog FakeDesktop::record(const FileDialogSetup& setup, bool save) const {
    ShownDialog shown;
    shown.save = save;
    shown.options = setup.options;
    shown.name = std::string(dialogName(setup));
    shown.titleFirst = setup.title[0];
    // The buffer the dialog writes into.
    const bool several = setup.options & FileDialogSetup::kExplorerMultiSelect;
    const std::span<const char> buffer = several ? std::span<const char>(setup.choice) : std::span<const char>(setup.name);
    shown.nameCleared = std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == '\0'; });
    return shown;
}

bool FakeDesktop::openFileDialog(FileDialogSetup& setup) {
    shown_.push_back(record(setup, false));
    if (whileDialog) whileDialog();
    const auto answer = nextAnswer();
    if (!answer || !answer->confirm || answer->names.empty()) return false;

    // As the platform fills the buffer: one full path, or the folder and then the names.
    std::string text;
    const bool several = answer->names.size() > 1;
    if (several) {
        if (!(setup.options & FileDialogSetup::kExplorerMultiSelect)) {
            ADD_FAILURE() << "several files chosen in a dialog that allows one";
            return false;
        }
        text = answer->folder + '\0';
        for (const auto& name : answer->names) text += name + '\0';
    } else {
        const std::string folder = answer->folder.back() == '\\' ? answer->folder : answer->folder + '\\';
        text = folder + answer->names.front() + '\0';
    }
    text += '\0';
    // The platform refuses a choice its buffer cannot hold, and says so.
    const std::span<char> buffer = openDialogBuffer(setup);
    if (text.size() > buffer.size()) {
        setup.choiceTooLarge = (setup.options & FileDialogSetup::kExplorerMultiSelect) != 0;
        return false;
    }
    std::memcpy(buffer.data(), text.data(), text.size());
    if (!several) {
        const std::string& title = answer->names.front();
        const std::size_t n = std::min(title.size(), setup.title.size() - 1);
        std::memcpy(setup.title.data(), title.data(), n);
        setup.title[n] = '\0';
    }
    current_ = answer->folder;
    return true;
}

bool FakeDesktop::saveFileDialog(FileDialogSetup& setup) {
    shown_.push_back(record(setup, true));
    if (whileDialog) whileDialog();
    const auto answer = nextAnswer();
    if (!answer || !answer->confirm) return false;
    setDialogName(setup, answer->names.front());
    current_ = answer->folder;
    return true;
}

bool FakeDesktop::askYesNo(std::string_view text) {
    questions_.emplace_back(text);
    if (whileAsking) whileAsking();
    if (questionAnswers_.empty()) {
        ADD_FAILURE() << "a question was asked that the test did not expect: " << text;
        return false;
    }
    const bool yes = questionAnswers_.front();
    questionAnswers_.pop_front();
    return yes;
}

void FakeDesktop::answerFolder(const std::string& folder) {
    folderAnswers_.push_back(folder);
}

bool FakeDesktop::pickFolder(std::string_view title, std::string& folder, bool mayBeNew) {
    folderDialogs_.push_back({std::string(title), folder, mayBeNew});
    if (folderAnswers_.empty()) {
        ADD_FAILURE() << "a folder dialog was shown that the test did not expect";
        return false;
    }
    const std::string answer = folderAnswers_.front();
    folderAnswers_.pop_front();
    if (answer.empty()) return false;
    folder = answer;
    return true;
}

bool FakeDesktop::confirm(std::string_view caption, std::string_view text) {
    captions_.emplace_back(caption);
    return askYesNo(text);
}

void FakeDesktop::warn(std::string_view caption, std::string_view text) {
    warnings_.push_back(std::string(caption) + ": " + std::string(text));
}

// --- Files

PcFileHandle FakeDesktop::openExisting(std::string_view path) {
    const std::string full = resolve(path);
    auto it = files_.find(full);
    // Unshared: a file open already, here or elsewhere, cannot be opened.
    if (it == files_.end() || it->second.locked || isOpen(full)) return 0;
    const PcFileHandle handle = nextHandle_++;
    open_[handle] = OpenFile{full, 0};
    ++handedOut_;
    return handle;
}

PcFileHandle FakeDesktop::createNew(std::string_view path) {
    const std::string full = resolve(path);
    if (files_.count(full) || !folders_.count(folderOf(full))) return 0;
    files_[full] = StoredFile{};
    const PcFileHandle handle = nextHandle_++;
    open_[handle] = OpenFile{full, 0};
    ++handedOut_;
    return handle;
}

PcFileHandle FakeDesktop::createReplacing(std::string_view path) {
    const std::string full = resolve(path);
    auto it = files_.find(full);
    if (it != files_.end()) {
        if (it->second.locked || isOpen(full)) return 0;
        if (diskSpace_) *diskSpace_ += it->second.bytes.size();
        files_.erase(it);
    }
    return createNew(full);
}

bool FakeDesktop::lookUp(std::string_view path, PcPathInfo& info) {
    const std::string full = resolve(path);
    if (folders_.count(full)) {
        info = PcPathInfo{true, 0};
        return true;
    }
    auto it = files_.find(full);
    if (it == files_.end()) return false;
    info = PcPathInfo{false, it->second.bytes.size()};
    return true;
}

bool FakeDesktop::size(PcFileHandle file, std::uint64_t& bytes) {
    auto it = open_.find(file);
    if (it == open_.end()) return false;
    bytes = files_[it->second.path].bytes.size();
    return true;
}

bool FakeDesktop::read(PcFileHandle file, std::span<std::uint8_t> into, std::size_t& count) {
    count = 0;
    auto it = open_.find(file);
    if (it == open_.end()) return false;
    const StoredFile& stored = files_[it->second.path];
    std::size_t n = std::min(into.size(), stored.bytes.size() - it->second.position);
    if (stored.shortRead && n > 0) --n;
    std::copy_n(stored.bytes.begin() + static_cast<std::ptrdiff_t>(it->second.position), n, into.begin());
    it->second.position += n;
    count = n;
    return true;
}

bool FakeDesktop::write(PcFileHandle file, std::span<const std::uint8_t> bytes, std::size_t& count) {
    count = 0;
    auto it = open_.find(file);
    if (it == open_.end() || writeFails_) return false;
    std::size_t n = bytes.size();
    if (diskSpace_) {
        n = std::min(n, *diskSpace_);
        *diskSpace_ -= n;
    }
    Bytes& stored = files_[it->second.path].bytes;
    const std::size_t end = it->second.position + n;
    if (stored.size() < end) stored.resize(end);
    std::copy_n(bytes.begin(), n, stored.begin() + static_cast<std::ptrdiff_t>(it->second.position));
    it->second.position = end;
    count = n;
    return true;
}

bool FakeDesktop::close(PcFileHandle file) {
    if (open_.erase(file) == 0) {
        ++badCloses_;
        return false;
    }
    return true;
}

bool FakeDesktop::remove(std::string_view path) {
    const std::string full = resolve(path);
    auto it = files_.find(full);
    if (it == files_.end() || removeFails_ || isOpen(full)) return false;
    if (diskSpace_) *diskSpace_ += it->second.bytes.size();
    files_.erase(it);
    return true;
}

} // namespace telvane::test
