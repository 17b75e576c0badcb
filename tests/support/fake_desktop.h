#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ui/desktop.h"

namespace telvane::test {

// The desktop's dialogs and PC files in memory. Paths look like Windows paths: "C:\pc\x.bin"
// is absolute, anything else is a name in the current folder, which every confirmed dialog
// sets to the chosen folder. Dialog answers and Yes/No answers are scripted; a dialog or a
// question with no answer left fails the test. Every file handed out is tracked, so a test can
// see that each was closed exactly once. A transfer stops between two pieces when stopWhen says so.
class FakeDesktop final : public DesktopDialogs, public PcFiles, public TransferCancel {
public:
    using Bytes = std::vector<std::uint8_t>;

    struct StoredFile {
        Bytes bytes;
        bool locked = false;     // open in another program (or read-only): cannot be opened
        bool shortRead = false;  // a read delivers one byte fewer than asked
    };
    // What a dialog saw when it was shown.
    struct ShownDialog {
        bool save = false;
        std::uint32_t options = 0;
        std::string name;      // the name buffer's first text
        char titleFirst = 0;   // the title buffer's first character
        bool nameCleared = false; // every byte of the buffer the dialog writes into was 0
    };

    FakeDesktop();

    // --- The PC's files
    void addFolder(const std::string& folder);
    void addFile(const std::string& path, Bytes bytes);
    // The file at a path (resolved like every other path), or null.
    StoredFile* file(const std::string& path);
    bool exists(const std::string& path) { return file(path) != nullptr; }
    std::vector<std::string> filesIn(const std::string& folder) const;
    const std::string& currentFolder() const { return current_; }
    void setCurrentFolder(const std::string& folder) { current_ = folder; }
    // Bytes the disk still takes (unlimited unless set); a write beyond them is cut short, a
    // removed file gives its bytes back.
    void setDiskSpace(std::size_t bytes) { diskSpace_ = bytes; }
    void setWriteFails(bool fails) { writeFails_ = fails; }
    void setRemoveFails(bool fails) { removeFails_ = fails; }

    // --- Scripted answers
    // Confirms the open dialog with one file, or with several names in a folder.
    void answerOpen(const std::string& folder, std::vector<std::string> names);
    void answerSave(const std::string& path);
    void cancelNextDialog();
    void answerQuestion(bool yes);
    // Confirms the next folder dialog with this folder ("" cancels it).
    void answerFolder(const std::string& folder);
    // Runs while a question is open (before its answer is given), as the window's other
    // messages would during a message box.
    std::function<void()> whileAsking;
    // Runs while an open or save dialog is open (before its answer is given).
    std::function<void()> whileDialog;
    // Asked between two pieces of a transfer: true stops it (the user's Esc).
    std::function<bool()> stopWhen;

    const std::vector<ShownDialog>& dialogs() const { return shown_; }
    const std::vector<std::string>& questions() const { return questions_; }
    // Each folder dialog as it was shown.
    struct ShownFolderDialog {
        std::string title;
        std::string folder; // where it opened
        bool mayBeNew = false;
    };
    const std::vector<ShownFolderDialog>& folderDialogs() const { return folderDialogs_; }
    // The captions of confirm()'s questions (their texts are in questions()), and the warnings.
    const std::vector<std::string>& questionCaptions() const { return captions_; }
    const std::vector<std::string>& warnings() const { return warnings_; }
    std::size_t openFiles() const { return open_.size(); }
    std::size_t filesHandedOut() const { return handedOut_; }
    // Closes of handles not open (twice, or never handed out).
    std::size_t badCloses() const { return badCloses_; }

    // --- DesktopDialogs
    bool openFileDialog(FileDialogSetup& setup) override;
    bool saveFileDialog(FileDialogSetup& setup) override;
    bool askYesNo(std::string_view text) override;
    bool pickFolder(std::string_view title, std::string& folder, bool mayBeNew) override;
    bool confirm(std::string_view caption, std::string_view text) override;
    void warn(std::string_view caption, std::string_view text) override;

    // --- PcFiles
    PcFileHandle openExisting(std::string_view path) override;
    PcFileHandle createNew(std::string_view path) override;
    PcFileHandle createReplacing(std::string_view path) override;
    bool lookUp(std::string_view path, PcPathInfo& info) override;
    bool size(PcFileHandle file, std::uint64_t& bytes) override;
    bool read(PcFileHandle file, std::span<std::uint8_t> into, std::size_t& count) override;
    bool write(PcFileHandle file, std::span<const std::uint8_t> bytes, std::size_t& count) override;
    bool close(PcFileHandle file) override;
    bool remove(std::string_view path) override;

    // --- TransferCancel
    bool cancelRequested() override { return stopWhen && stopWhen(); }

private:
    struct Answer {
        bool confirm = false;
        std::string folder;
        std::vector<std::string> names; // open: one or several names; save: the full path in folder
    };
    struct OpenFile {
        std::string path;
        std::size_t position = 0;
    };
    std::string resolve(std::string_view path) const;
    static std::string folderOf(const std::string& path);
    std::optional<Answer> nextAnswer();
    ShownDialog record(const FileDialogSetup& setup, bool save) const;
    bool isOpen(const std::string& path) const;

    std::map<std::string, StoredFile> files_;
    std::set<std::string> folders_;
    std::string current_ = "C:\\";
    std::optional<std::size_t> diskSpace_;
    bool writeFails_ = false;
    bool removeFails_ = false;
    std::deque<Answer> answers_;
    std::deque<bool> questionAnswers_;
    std::vector<ShownDialog> shown_;
    std::vector<std::string> questions_;
    std::deque<std::string> folderAnswers_;
    std::vector<ShownFolderDialog> folderDialogs_;
    std::vector<std::string> captions_;
    std::vector<std::string> warnings_;
    std::map<PcFileHandle, OpenFile> open_;
    PcFileHandle nextHandle_ = 0x40;
    std::size_t handedOut_ = 0;
    std::size_t badCloses_ = 0;
};

} // namespace telvane::test
