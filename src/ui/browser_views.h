#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "common/log_sink.h"
#include "link/usb_channel.h"
#include "services/file_list.h"
#include "services/fs_commands.h"
#include "services/phone_info.h"
#include "services/seem_commands.h"
#include "ui/view_controls.h"

namespace telvane {

// List columns, in order.
enum ListColumn : int { kColumnFile = 0, kColumnAttributes = 1, kColumnSize = 2, kColumnType = 3 };

// The texts of a row's columns 1 to 3. A record of a list whose read broke off part-way still
// has the phone's byte order; phoneOrder says so, and its numbers are read accordingly.
std::string attributesText(FileEntry entry, bool phoneOrder = false);
std::string sizeText(FileEntry entry, bool phoneOrder = false);
std::string typeText(FileEntry entry);

// The list's sort order: 1 when the first row goes after the second, else 0 (never negative);
// descending inverts the result. Entries that are not records compare as 0.
int compareRows(FileEntry first, FileEntry second, int column, bool descending);

// The phone's files in the tree and the list, and its identity in the status bar. Tree mode
// (a volume name with '/'): the tree shows folders, the list the selected folder's files.
// Flat mode: the list shows every file by its whole name. Window's thread only.
class BrowserViews {
public:
    static constexpr int kFileImage = 2;

    // channel: the one the list is read through, which tells the connection it was read on.
    BrowserViews(ViewControls controls, LogSink& log, FsCommands& fs, SeemCommands& seems, FileList& files,
                 PhoneInfo& info, UsbChannel& channel)
        : controls_(controls), log_(log), fs_(fs), seems_(seems), files_(files), info_(info), channel_(channel) {}

    // Reads the volume name, the model and the free space, sets the mode, replaces the root node
    // and fills status parts 1 and 2. Stops at the first failure, keeping what it had.
    void showPhoneInfo();
    // Reads the file list into the views. 0 when the list was read, -1 otherwise.
    int refreshFileList();
    // Fills the list with the files of the selected folder (tree mode).
    void showFolder();
    // Around a command that reads the file list itself (a whole-phone backup, verify or restore):
    // setRowsAside takes the rows down before the records they point into can go; showRowsAgain
    // shows the list there is afterwards (the one that command read, on the connection in use),
    // keeping the selected folder. Nothing is logged.
    void setRowsAside();
    void showRowsAgain();
    // The path of a node: the volume, then the folders down to it, each followed by '/'.
    // A node outside the root's subtree gives its folders only; no node gives "".
    std::string treePath(TreeNode node);

    // The folders of a record's path, added under the root where missing.
    void addTreePath(FileEntry entry);
    // The child of parent with the text, made when missing.
    TreeNode ensureTreeChild(std::string_view text, TreeNode parent);
    // The first child of parent with the text, found by walking the tree's children; or 0.
    TreeNode findTreeChild(std::string_view text, TreeNode parent);

    bool treeMode() const { return treeMode_; }
    TreeNode rootNode() const { return rootNode_; }

    // False when the list's records (the rows, and the folders they added to the tree) were read
    // on an earlier connection than the one in use now: their names may be another phone's, or
    // stale. True while no list has been read.
    bool listFromThisConnection() const;

private:
    // Makes a root node from the volume name when a refresh in tree mode finds none yet.
    void ensureRoot();
    // The records read into the tree's folders (tree mode) or the list's rows (flat mode).
    void fillViews();
    static ListRow listRow(FileEntry entry, std::string_view text, bool phoneOrder);
    // The connection commands go to now: the one the channel is bound to, else the link's.
    std::uint64_t currentConnection() const;
    // The volume name reduced to 8 bits by each unit's low byte, as paths use it.
    std::string volumePath() const;

    ViewControls controls_;
    LogSink& log_;
    FsCommands& fs_;
    SeemCommands& seems_;
    FileList& files_;
    PhoneInfo& info_;
    UsbChannel& channel_;
    std::optional<std::uint64_t> listConnection_; // the connection the list's records came from
    bool treeMode_ = true;
    TreeNode rootNode_ = 0;
    const std::uint8_t* asideBlock_ = nullptr; // the records' block when the rows were set aside

    // Folder nodes by parent and text, kept while a refresh adds folders: finding a child by
    // the tree's own walk costs a control message per sibling, for every record.
    class FolderIndexScope {
    public:
        explicit FolderIndexScope(BrowserViews& views) : views_(views) { views_.indexing_ = true; }
        ~FolderIndexScope() {
            views_.indexing_ = false;
            views_.folders_.clear();
        }
        FolderIndexScope(const FolderIndexScope&) = delete;
        FolderIndexScope& operator=(const FolderIndexScope&) = delete;

    private:
        BrowserViews& views_;
    };
    bool indexing_ = false;
    std::map<TreeNode, std::map<std::string, TreeNode, std::less<>>> folders_;
};

} // namespace telvane
