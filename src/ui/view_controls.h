#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "services/progress.h"

namespace telvane {

// A node of the folder tree as the tree control knows it; 0 means none.
using TreeNode = std::uintptr_t;

// The folder tree (control 1004) as the browser views use it.
class TreeControl {
public:
    // Room for a node's text when it is read back.
    static constexpr std::size_t kTextRoom = 384;

    virtual ~TreeControl() = default;
    // Inserts a node with the text under parent (0: at the top level), in sorted position.
    // The new node, or 0 when the control refused it.
    virtual TreeNode insertSorted(TreeNode parent, std::string_view text) = 0;
    // The first child of parent (0: the first top-level node), or 0.
    virtual TreeNode firstChild(TreeNode parent) = 0;
    virtual TreeNode nextSibling(TreeNode node) = 0;
    virtual TreeNode parent(TreeNode node) = 0;
    // The node's text, at most kTextRoom characters.
    virtual std::string text(TreeNode node) = 0;
    virtual TreeNode selected() = 0;
    // Makes node the selected one; a change of selection reaches the window's selection
    // handling before this returns.
    virtual void select(TreeNode node) = 0;
    virtual void expand(TreeNode node) = 0;
    // Deletes the node with all its descendants; 0 deletes every node.
    virtual void remove(TreeNode node) = 0;
    // Brackets many inserts: the control is drawn once, when the last bracket ends.
    virtual void beginUpdate() {}
    virtual void endUpdate() {}
};

// One row of the file list: column 0's text, the texts of columns 1 to 3, the row's image and
// the address of its record.
struct ListRow {
    std::string text;
    std::array<std::string, 3> cells;
    int image = 0;
    const void* data = nullptr;
};

// The file list (control 1008): rows of four texts, each with an image and its record's address.
class ListControl {
public:
    virtual ~ListControl() = default;
    virtual void clear() = 0;
    // Adds the rows below the last one, in the order given, drawing the list once at the end.
    virtual void appendRows(std::span<const ListRow> rows) = 0;
    virtual int rowCount() = 0;
};

// The status bar (control 1019): four parts.
class StatusControl {
public:
    virtual ~StatusControl() = default;
    virtual void setPart(int part, std::string_view text) = 0;
};

// How a phone's UTF-16 text becomes one of the window's 8-bit texts.
using NarrowText = std::string (*)(std::u16string_view);

// Units up to 0xFF as themselves, any other unit as '?'.
std::string latin1Text(std::u16string_view text);

// The controls the browser views draw into.
struct ViewControls {
    TreeControl& tree;
    ListControl& list;
    StatusControl& status;
    Progress& progress;
    NarrowText narrow = &latin1Text;
};

} // namespace telvane
