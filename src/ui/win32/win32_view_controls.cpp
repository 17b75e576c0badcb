#include "ui/win32/win32_view_controls.h"

#include <commctrl.h>

#include "ui/win32/resource.h"

namespace telvane::win32 {

namespace {
HTREEITEM toItem(TreeNode node) {
    return reinterpret_cast<HTREEITEM>(node);
}
TreeNode toNode(LRESULT item) {
    return static_cast<TreeNode>(item);
}

// Many inserts drawn one by one cost more than the inserts: the control is drawn once at the end.
void setRedraw(HWND control, bool on) {
    SendMessageA(control, WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on) InvalidateRect(control, nullptr, TRUE);
}

void setText(HWND list, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}
} // namespace

// --- Tree

HWND Win32Tree::control() const {
    return GetDlgItem(dialog_, IDC_TREE);
}

TreeNode Win32Tree::next(TreeNode node, UINT relation) const {
    return toNode(SendMessageA(control(), TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(toItem(node))));
}

TreeNode Win32Tree::insertSorted(TreeNode parent, std::string_view text) {
    std::string copy(text);
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent != 0 ? toItem(parent) : TVI_ROOT;
    insert.hInsertAfter = TVI_SORT;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = copy.data();
    return toNode(SendMessageA(control(), TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

TreeNode Win32Tree::firstChild(TreeNode parent) {
    return parent != 0 ? next(parent, TVGN_CHILD) : next(0, TVGN_ROOT);
}

TreeNode Win32Tree::nextSibling(TreeNode node) {
    return node != 0 ? next(node, TVGN_NEXT) : 0;
}

TreeNode Win32Tree::parent(TreeNode node) {
    return node != 0 ? next(node, TVGN_PARENT) : 0;
}

std::string Win32Tree::text(TreeNode node) {
    char buffer[kTextRoom + 1] = {};
    TVITEMA item{};
    item.mask = TVIF_TEXT;
    item.hItem = toItem(node);
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    if (node == 0 || !SendMessageA(control(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return {};
    // The control may hand back its own text instead of filling the buffer.
    return item.pszText != nullptr ? std::string(item.pszText) : std::string();
}

TreeNode Win32Tree::selected() {
    return next(0, TVGN_CARET);
}

void Win32Tree::select(TreeNode node) {
    SendMessageA(control(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(toItem(node)));
}

void Win32Tree::expand(TreeNode node) {
    SendMessageA(control(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(toItem(node)));
}

void Win32Tree::remove(TreeNode node) {
    SendMessageA(control(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(node != 0 ? toItem(node) : TVI_ROOT));
}

void Win32Tree::beginUpdate() {
    if (updates_++ == 0) setRedraw(control(), false);
}

void Win32Tree::endUpdate() {
    if (updates_ > 0 && --updates_ == 0) setRedraw(control(), true);
}

// --- List

HWND Win32List::control() const {
    return GetDlgItem(dialog_, IDC_LIST);
}

void Win32List::clear() {
    SendMessageA(control(), LVM_DELETEALLITEMS, 0, 0);
}

void Win32List::appendRows(std::span<const ListRow> rows) {
    if (rows.empty()) return;
    HWND list = control();
    setRedraw(list, false);
    // Room for every row at once, and each row at the end, where no other row moves.
    int at = rowCount();
    SendMessageA(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(at) + rows.size(), LVSICF_NOINVALIDATEALL);
    for (const ListRow& row : rows) {
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = at;
        item.pszText = const_cast<char*>(row.text.c_str());
        item.iImage = row.image;
        item.lParam = reinterpret_cast<LPARAM>(row.data);
        const int inserted = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        if (inserted < 0) continue;
        for (std::size_t c = 0; c < row.cells.size(); ++c) setText(list, inserted, static_cast<int>(c) + 1, row.cells[c]);
        at = inserted + 1;
    }
    setRedraw(list, true);
}

int Win32List::rowCount() {
    return static_cast<int>(SendMessageA(control(), LVM_GETITEMCOUNT, 0, 0));
}

// --- Status bar and progress bar

void Win32Status::setPart(int part, std::string_view text) {
    std::string copy(text);
    SendDlgItemMessageA(dialog_, IDC_STATUS, SB_SETTEXTA, static_cast<WPARAM>(part),
                        reinterpret_cast<LPARAM>(copy.c_str()));
}

void Win32Progress::setRange(std::uint32_t low, std::uint32_t high) {
    shift_ = high > 0x7FFFFFFFu ? 1 : 0;
    SendDlgItemMessageA(dialog_, IDC_PROGRESS, PBM_SETRANGE32, static_cast<WPARAM>(low >> shift_),
                        static_cast<LPARAM>(high >> shift_));
}

void Win32Progress::setPosition(std::uint32_t position) {
    SendDlgItemMessageA(dialog_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position >> shift_), 0);
}

std::string ansiText(std::u16string_view text) {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return latin1Text(text);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, units, out.data(), bytes, nullptr, nullptr);
    return out;
}

} // namespace telvane::win32
