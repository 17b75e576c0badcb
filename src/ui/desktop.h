#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "services/progress.h"
#include "ui/view_controls.h"

namespace telvane {

// The one setup of the open and save dialogs. The buffers keep their contents from one use to
// the next; the options are set anew for every use.
struct FileDialogSetup {
    static constexpr std::size_t kBufferSize = 512; // 511 characters and a terminator

    enum Options : std::uint32_t {
        kNoOptions = 0,
        // Explorer style with several files allowed: a choice of several comes back as the
        // folder, then each name, each ended by a 0 and the list by an empty name.
        kExplorerMultiSelect = 1,
        // The save dialog asks before a file of the chosen name is replaced.
        kAskBeforeReplacing = 2,
    };

    // A choice of several files needs more room than one path: 1,000 names of a full path's
    // length, besides the folder.
    static constexpr std::size_t kChoiceNames = 1000;
    static constexpr std::size_t kPathRoom = 261; // the longest Windows path and a terminator
    static constexpr std::size_t kChoiceBufferSize = (kChoiceNames + 1) * kPathRoom;

    std::array<char, kBufferSize> name{};
    std::array<char, kBufferSize> title{};
    std::uint32_t options = kNoOptions;
    // With kExplorerMultiSelect the open dialog writes into this instead of name: sized by the
    // caller, kChoiceBufferSize when left empty.
    std::vector<char> choice;
    // Set by the open dialog: the files chosen did not fit the buffer, and none came back.
    bool choiceTooLarge = false;
};

// The buffer the open dialog writes its answer into, for the setup's options.
std::span<char> openDialogBuffer(FileDialogSetup& setup);

// The name buffer's first text (up to its first 0; the buffer's last byte always ends it).
std::string_view dialogName(const FileDialogSetup& setup);
// Puts a text into the name buffer, cut to the 511 characters it can hold.
void setDialogName(FileDialogSetup& setup, std::string_view text);

// The modal parts of the desktop. Each is owned by the main window, so the window takes no
// input while one is open.
class DesktopDialogs {
public:
    virtual ~DesktopDialogs() = default;
    // The open dialog with setup's options. True when confirmed: setup.name holds one full path
    // (and setup.title its file name), or, with kExplorerMultiSelect, the folder and the names.
    // A confirmed dialog makes the chosen folder the current folder.
    virtual bool openFileDialog(FileDialogSetup& setup) = 0;
    // The save dialog, prefilled with setup.name; only with kAskBeforeReplacing does it ask
    // before replacing a file. True when confirmed, with the full path in setup.name; the folder
    // becomes the current folder.
    virtual bool saveFileDialog(FileDialogSetup& setup) = 0;
    // A question with the buttons Yes and No and no caption of its own. True only for Yes.
    virtual bool askYesNo(std::string_view text) = 0;

    // The whole-phone commands' dialogs. Desktops without them choose no folder and show nothing.
    // The folder dialog (the common file dialog choosing a folder, where a typed path is taken
    // too), with a title, opened in folder when that names one. True when confirmed, with the
    // folder's full path in folder. A folder that does not exist yet is taken only when mayBeNew.
    virtual bool pickFolder(std::string_view title, std::string& folder, bool mayBeNew) {
        (void)title, (void)folder, (void)mayBeNew;
        return false;
    }
    // A question of our own with a caption: Yes and No. True only for Yes.
    virtual bool confirm(std::string_view caption, std::string_view text) {
        (void)caption;
        return askYesNo(text);
    }
    // A warning with a caption and an OK button.
    virtual void warn(std::string_view caption, std::string_view text) { (void)caption, (void)text; }
};

// A file on the PC as PcFiles knows it; 0 means none.
using PcFileHandle = std::uintptr_t;

// What stands at a PC path.
struct PcPathInfo {
    bool folder = false;
    std::uint64_t size = 0; // a file's bytes
};

// Files on the PC. Relative paths resolve in the current folder. Every file is opened for
// reading and writing and shared with no one.
class PcFiles {
public:
    virtual ~PcFiles() = default;
    // An existing file, or 0.
    virtual PcFileHandle openExisting(std::string_view path) = 0;
    // A new file, or 0; an existing file of that name is never replaced.
    virtual PcFileHandle createNew(std::string_view path) = 0;
    // A new, empty file that replaces one of that name (the user has agreed to it), or 0.
    virtual PcFileHandle createReplacing(std::string_view path) = 0;
    // What is at the path, without opening it; false when there is nothing.
    virtual bool lookUp(std::string_view path, PcPathInfo& info) = 0;
    virtual bool size(PcFileHandle file, std::uint64_t& bytes) = 0;
    // Reads up to into.size() bytes from the position on; count says how many arrived.
    virtual bool read(PcFileHandle file, std::span<std::uint8_t> into, std::size_t& count) = 0;
    // Writes the bytes at the position; count says how many were written (fewer on a full disk).
    virtual bool write(PcFileHandle file, std::span<const std::uint8_t> bytes, std::size_t& count) = 0;
    virtual bool close(PcFileHandle file) = 0;
    virtual bool remove(std::string_view path) = 0;
};

// An open PC file that is closed exactly once: by close() or, failing that, when it goes.
class PcFile {
public:
    PcFile(PcFiles& files, PcFileHandle handle) : files_(&files), handle_(handle) {}
    ~PcFile() { close(); }
    PcFile(const PcFile&) = delete;
    PcFile& operator=(const PcFile&) = delete;

    explicit operator bool() const { return handle_ != 0; }
    bool size(std::uint64_t& bytes) { return handle_ != 0 && files_->size(handle_, bytes); }
    // True only when every byte asked for arrived.
    bool readAll(std::span<std::uint8_t> into);
    // True only when every byte was written.
    bool writeAll(std::span<const std::uint8_t> bytes);
    // Closes the file; later calls do nothing. False when the close failed or nothing was open.
    bool close();

private:
    PcFiles* files_;
    PcFileHandle handle_;
};

// The main window's edit fields the operations read and write.
enum class EditField : int {
    SeemFirst = 1009,  // "From"
    SeemLast = 1010,   // "to"
    SeemNumber = 1013, // "Seem"
    SeemRecord = 1014, // "rec"
    Attribute = 1015,
};

// What the operations read of the window's controls.
class OperationControls {
public:
    virtual ~OperationControls() = default;
    // The next selected row of the file list after the given one (-1: from the first row), in
    // list order; -1 when there is none.
    virtual int nextSelectedRow(int after) = 0;
    // The row's item data: the address of its record in the file list.
    virtual const void* rowData(int row) = 0;
    // The tree's selected node, or 0.
    virtual TreeNode selectedTreeNode() = 0;
    virtual std::string fieldText(EditField field) = 0;
    virtual void setFieldText(EditField field, std::string_view text) = 0;
};

// Asked between two pieces of a file transfer. The window stays painted meanwhile and takes no
// other command; true once the user has asked to stop (Esc).
class TransferCancel {
public:
    virtual ~TransferCancel() = default;
    virtual bool cancelRequested() = 0;
};

// Everything of the desktop the file and seem operations use.
struct Desktop {
    DesktopDialogs& dialogs;
    PcFiles& files;
    OperationControls& controls;
    Progress& progress;
    TransferCancel& cancel;
};

} // namespace telvane
