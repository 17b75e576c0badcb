#pragma once
#include <windows.h>

#include <string>

#include "services/progress.h"
#include "ui/view_controls.h"

namespace telvane::win32 {

// The browser views' controls over the dialog's real ones. Each holds a reference to the
// dialog's handle and finds its control by identifier on every use, so it works as soon as the
// dialog exists and never outlives a control's handle.

class Win32Tree final : public TreeControl {
public:
    explicit Win32Tree(const HWND& dialog) : dialog_(dialog) {}
    TreeNode insertSorted(TreeNode parent, std::string_view text) override;
    TreeNode firstChild(TreeNode parent) override;
    TreeNode nextSibling(TreeNode node) override;
    TreeNode parent(TreeNode node) override;
    std::string text(TreeNode node) override;
    TreeNode selected() override;
    void select(TreeNode node) override;
    void expand(TreeNode node) override;
    void remove(TreeNode node) override;
    void beginUpdate() override;
    void endUpdate() override;

private:
    HWND control() const;
    TreeNode next(TreeNode node, UINT relation) const;
    int updates_ = 0;
    const HWND& dialog_;
};

class Win32List final : public ListControl {
public:
    explicit Win32List(const HWND& dialog) : dialog_(dialog) {}
    void clear() override;
    void appendRows(std::span<const ListRow> rows) override;
    int rowCount() override;

private:
    HWND control() const;
    const HWND& dialog_;
};

class Win32Status final : public StatusControl {
public:
    explicit Win32Status(const HWND& dialog) : dialog_(dialog) {}
    void setPart(int part, std::string_view text) override;

private:
    const HWND& dialog_;
};

// The progress bar (control 1018), for the file list, the transfers and the seem download.
class Win32Progress final : public Progress {
public:
    explicit Win32Progress(const HWND& dialog) : dialog_(dialog) {}
    void setRange(std::uint32_t low, std::uint32_t high) override;
    void setPosition(std::uint32_t position) override;

private:
    const HWND& dialog_;
    // The control counts in signed 32 bits: a range beyond them is shown halved.
    unsigned shift_ = 0;
};

// A UTF-16 text in the system's 8-bit code page, as the window's "%S" texts show it.
std::string ansiText(std::u16string_view text);

} // namespace telvane::win32
