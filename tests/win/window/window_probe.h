#pragma once
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ui/win32/resource.h"

namespace telvane::test {

// Handles this thread's messages (dialog keys included) until done() holds or the time is up.
inline bool pumpUntil(HWND dialog, const std::function<bool()>& done, int limitMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        MSG message;
        bool handled = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            handled = true;
            if (dialog != nullptr && IsDialogMessageA(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (!handled) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return true;
}

// Handles whatever is waiting now.
inline void pumpPending(HWND dialog) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog != nullptr && IsDialogMessageA(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// A key pressed in a control, as the keyboard would deliver it (through the dialog's keys),
// with Ctrl held or not.
inline void pressKey(HWND dialog, HWND control, WPARAM key, bool ctrl = false) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    const BYTE before = keys[VK_CONTROL];
    keys[VK_CONTROL] = ctrl ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageA(control, WM_KEYDOWN, key, 1);
    pumpPending(dialog);
    keys[VK_CONTROL] = before;
    SetKeyboardState(keys);
}

// What the shell hands a window that takes dropped files: the paths, and the point (in the
// target's client area) where they were let go. The receiver frees it.
inline HDROP makeDrop(const std::vector<std::string>& paths, POINT point = {5, 5}) {
    std::string names;
    for (const std::string& path : paths) names += path + '\0';
    names += '\0';
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size());
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = point;
    drop->fNC = FALSE;
    drop->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size());
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// Drops files on a control as the shell does on this window, which takes the drops of its
// controls: to the window, at the point given in the control's client area.
inline void postDrop(HWND dialog, HWND over, const std::vector<std::string>& paths, POINT point = {5, 5}) {
    MapWindowPoints(over, dialog, &point, 1);
    PostMessageA(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(makeDrop(paths, point)), 0);
}

// --- Reading the controls back

inline std::string windowText(HWND control) {
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

inline std::string logText(HWND dialog) {
    return windowText(GetDlgItem(dialog, IDC_LOG));
}

inline std::string statusPart(HWND dialog, int part) {
    HWND bar = GetDlgItem(dialog, IDC_STATUS);
    const auto length = LOWORD(SendMessageA(bar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(bar, SB_GETTEXTA, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return text;
}

using Row = std::array<std::string, 4>;

inline std::string cellText(HWND list, int row, int column) {
    char buffer[512] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

inline std::vector<Row> listRows(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_LIST);
    std::vector<Row> rows;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < count; ++r) {
        Row row;
        for (int c = 0; c < 4; ++c) row[static_cast<std::size_t>(c)] = cellText(list, r, c);
        rows.push_back(row);
    }
    return rows;
}

// Column c of every row, top to bottom.
inline std::vector<std::string> listColumn(HWND dialog, int column) {
    std::vector<std::string> texts;
    for (const Row& row : listRows(dialog)) texts.push_back(row[static_cast<std::size_t>(column)]);
    return texts;
}

inline LPARAM rowData(HWND dialog, int row) {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendDlgItemMessageA(dialog, IDC_LIST, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

inline int rowImage(HWND dialog, int row) {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    SendDlgItemMessageA(dialog, IDC_LIST, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

inline HTREEITEM treeNext(HWND dialog, HTREEITEM item, UINT relation) {
    return reinterpret_cast<HTREEITEM>(
        SendDlgItemMessageA(dialog, IDC_TREE, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

inline std::string nodeText(HWND dialog, HTREEITEM node) {
    char buffer[512] = {};
    TVITEMA item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendDlgItemMessageA(dialog, IDC_TREE, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

// The texts of a node's children (null: the top level), in the tree's order.
inline std::vector<std::string> childTexts(HWND dialog, HTREEITEM parent) {
    std::vector<std::string> texts;
    HTREEITEM child = parent ? treeNext(dialog, parent, TVGN_CHILD) : treeNext(dialog, nullptr, TVGN_ROOT);
    for (; child != nullptr; child = treeNext(dialog, child, TVGN_NEXT)) texts.push_back(nodeText(dialog, child));
    return texts;
}

inline HTREEITEM childNamed(HWND dialog, HTREEITEM parent, const std::string& text) {
    HTREEITEM child = parent ? treeNext(dialog, parent, TVGN_CHILD) : treeNext(dialog, nullptr, TVGN_ROOT);
    for (; child != nullptr; child = treeNext(dialog, child, TVGN_NEXT))
        if (nodeText(dialog, child) == text) return child;
    return nullptr;
}

// Every node of the tree.
inline int nodeCount(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageA(dialog, IDC_TREE, TVM_GETCOUNT, 0, 0));
}

// The format and image of a list column's header.
inline std::pair<int, int> columnFormat(HWND dialog, int column) {
    LVCOLUMNA data{};
    data.mask = LVCF_FMT | LVCF_IMAGE;
    SendDlgItemMessageA(dialog, IDC_LIST, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&data));
    return {data.fmt, data.iImage};
}

} // namespace telvane::test
