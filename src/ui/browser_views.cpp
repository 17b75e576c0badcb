#include "ui/browser_views.h"

#include <array>
#include <cstdio>
#include <vector>

#include "common/byte_order.h"
#include "session/phone_identity.h"
#include "services/wide_text.h"

namespace telvane {

namespace {
constexpr const char* kVolumeNameFail = "Volume name fail\r\n";
constexpr const char* kVolumeSizeFail = "Volume size fail\r\n";
constexpr const char* kReceivingList = "Receiving file list...";
constexpr const char* kListFail = " Fail!\r\n";
constexpr const char* kListOk = " ok\r\n";

std::uint32_t attributesOf(FileEntry entry, bool phoneOrder) {
    if (!phoneOrder || !entry) return entryAttributes32(entry);
    const std::uint8_t* p = entry.record + entry.entrySize - 8;
    return std::uint32_t{readBe16(p)} | (std::uint32_t{readBe16(p + 2)} << 16);
}

std::uint32_t sizeOf(FileEntry entry, bool phoneOrder) {
    if (!phoneOrder || !entry) return entrySize(entry);
    return readBe32(entry.record + entry.entrySize - 4);
}

// 1 when a sorts after b, comparing bytes as unsigned values; a text that ends first is smaller.
int textGoesAfter(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x > y ? 1 : 0;
    }
    return a.size() > b.size() ? 1 : 0;
}

// The text after the last '.' of the name. Unlike entryExtension it never reaches past the
// name field into the attribute word of a name that fills its field.
std::string_view nameExtension(FileEntry entry) {
    const std::string_view name = entryName(entry);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

std::string hexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}
} // namespace

std::string attributesText(FileEntry entry, bool phoneOrder) {
    return hexText(attributesOf(entry, phoneOrder));
}

std::string sizeText(FileEntry entry, bool phoneOrder) {
    // Unsigned: sizes of 2 GiB and more are sizes, not negative numbers.
    return std::to_string(sizeOf(entry, phoneOrder));
}

std::string typeText(FileEntry entry) {
    return std::string(nameExtension(entry));
}

int compareRows(FileEntry first, FileEntry second, int column, bool descending) {
    if (!first || !second) return 0;
    int after = 0;
    switch (column) {
    case kColumnAttributes:
        after = entryAttributes32(first) >= entryAttributes32(second) ? 1 : 0;
        break;
    case kColumnSize:
        after = entrySize(first) >= entrySize(second) ? 1 : 0;
        break;
    case kColumnType:
        after = textGoesAfter(nameExtension(first), nameExtension(second));
        break;
    default:
        after = textGoesAfter(entryName(first), entryName(second));
        break;
    }
    return descending ? 1 - after : after;
}

void BrowserViews::showPhoneInfo() {
    const IdentityRead read = readPhoneIdentity(fs_, seems_, info_);
    if (read == IdentityRead::VolumeFailed) {
        log_.appendLog(kVolumeNameFail);
        return;
    }
    treeMode_ = volumeIsPath(info_.volume);
    if (read == IdentityRead::ModelFailed) return;

    const std::string modelText = controls_.narrow(info_.modelText());
    const std::string volumeText = controls_.narrow(info_.volumeText());
    controls_.tree.remove(rootNode_);
    rootNode_ = controls_.tree.insertSorted(0, modelText + " (" + volumeText + ")");
    controls_.status.setPart(1, "Phone model: " + modelText);

    if (read == IdentityRead::FreeSpaceFailed) {
        log_.appendLog(kVolumeSizeFail);
        return;
    }
    controls_.status.setPart(2, "Volume name: " + volumeText + ", Free space " + std::to_string(info_.freeSpace / 1024) +
                                    " KBytes");
}

int BrowserViews::refreshFileList() {
    // No row may outlive the block its record lives in.
    controls_.list.clear();
    log_.appendLog(kReceivingList);
    const std::uint64_t connection = currentConnection();
    const std::uint8_t* blockBefore = files_.entry(0).record;
    if (files_.readFileList(fs_, controls_.progress) != 0) {
        // A read that failed part-way has replaced the records with the ones it got (a new block
        // is allocated while the old one lives, so its address differs); one that failed before
        // that leaves the old records, and the old connection with them.
        const std::uint8_t* blockAfter = files_.entry(0).record;
        if (blockAfter != nullptr && blockAfter != blockBefore) listConnection_ = connection;
        log_.appendLog(kListFail);
        return -1;
    }
    listConnection_ = connection;
    log_.appendLog(kListOk);

    fillViews();
    log_.appendLog("Files found: " + std::to_string(files_.count()) + "\r\n");

    if (treeMode_) {
        // Selecting the node already selected changes nothing, so show its files directly.
        if (controls_.tree.selected() == rootNode_) {
            showFolder();
        } else {
            controls_.tree.select(rootNode_);
        }
    }
    return 0;
}

void BrowserViews::fillViews() {
    const std::uint32_t count = files_.count();
    controls_.tree.beginUpdate();
    if (treeMode_) {
        ensureRoot();
        FolderIndexScope index(*this);
        for (std::uint32_t i = 0; i < count; ++i) addTreePath(files_.entry(i));
    } else {
        // The list shows the records last first.
        std::vector<ListRow> rows;
        rows.reserve(count);
        for (std::uint32_t i = count; i-- > 0;) {
            const FileEntry entry = files_.entry(i);
            rows.push_back(listRow(entry, entryName(entry), false));
        }
        controls_.list.appendRows(rows);
    }
    if (rootNode_ != 0) controls_.tree.expand(rootNode_);
    controls_.tree.endUpdate();
}

void BrowserViews::setRowsAside() {
    controls_.list.clear();
    asideBlock_ = files_.entry(0).record;
}

void BrowserViews::showRowsAgain() {
    const std::uint8_t* block = files_.entry(0).record;
    // A list read anew (whole or not) is this connection's, as after a refresh.
    if (block != asideBlock_) listConnection_ = currentConnection();
    asideBlock_ = nullptr;
    // Rows only for a whole list, as a refresh shows them; a refresh that broke off showed none.
    if (block == nullptr || !files_.complete()) return;
    fillViews();
    if (treeMode_) showFolder();
}

bool BrowserViews::listFromThisConnection() const {
    return !listConnection_ || *listConnection_ == currentConnection();
}

std::uint64_t BrowserViews::currentConnection() const {
    const std::uint64_t bound = channel_.boundConnection();
    return bound != UsbChannel::kUnbound ? bound : channel_.link().generation();
}

void BrowserViews::showFolder() {
    controls_.list.clear();
    const TreeNode node = controls_.tree.selected();
    if (node == 0) return;
    const std::string path = treePath(node);

    // Of a list that broke off part-way only the records wholly received are shown.
    const std::uint32_t received = files_.recordsReceived();
    const bool phoneOrder = !files_.complete();
    std::vector<ListRow> rows;
    // Last record first, as in the flat list.
    for (std::uint32_t i = received; i-- > 0;) {
        const FileEntry entry = files_.entry(i);
        const std::string_view name = entryName(entry);
        if (name.size() <= path.size() || name.compare(0, path.size(), path) != 0) continue;
        const std::string_view rest = name.substr(path.size());
        if (rest.find('/') != std::string_view::npos) continue;
        rows.push_back(listRow(entry, rest, phoneOrder));
    }
    controls_.list.appendRows(rows);
}

std::string BrowserViews::treePath(TreeNode node) {
    if (node == 0) return {};
    std::string path;
    while (node != rootNode_) {
        path = controls_.tree.text(node) + "/" + path;
        node = controls_.tree.parent(node);
        if (node == 0) return path;
    }
    return volumePath() + "/" + path;
}

ListRow BrowserViews::listRow(FileEntry entry, std::string_view text, bool phoneOrder) {
    ListRow row;
    row.text = std::string(text);
    row.cells = {attributesText(entry, phoneOrder), sizeText(entry, phoneOrder), typeText(entry)};
    row.image = kFileImage;
    row.data = entry.record;
    return row;
}

void BrowserViews::addTreePath(FileEntry entry) {
    const std::string_view name = entryName(entry);
    TreeNode parent = rootNode_;
    // The first component is the volume: it is the root, not a folder of its own.
    std::size_t folderStart = std::string_view::npos;
    for (std::size_t i = 1; i < name.size(); ++i) {
        if (name[i] != '/') continue;
        if (folderStart != std::string_view::npos) {
            parent = ensureTreeChild(name.substr(folderStart + 1, i - folderStart - 1), parent);
            if (parent == 0) return;
        }
        folderStart = i;
    }
}

TreeNode BrowserViews::ensureTreeChild(std::string_view text, TreeNode parent) {
    if (!indexing_) {
        const TreeNode found = findTreeChild(text, parent);
        return found != 0 ? found : controls_.tree.insertSorted(parent, text);
    }
    // A parent's children are read from the tree once per refresh, the first time it is met.
    auto [at, fresh] = folders_.try_emplace(parent);
    auto& children = at->second;
    if (fresh) {
        for (TreeNode child = controls_.tree.firstChild(parent); child != 0;
             child = controls_.tree.nextSibling(child)) {
            children.emplace(controls_.tree.text(child), child); // the first of equal texts wins
        }
    }
    if (const auto known = children.find(text); known != children.end()) return known->second;
    const TreeNode node = controls_.tree.insertSorted(parent, text);
    if (node != 0) children.emplace(std::string(text), node);
    return node;
}

TreeNode BrowserViews::findTreeChild(std::string_view text, TreeNode parent) {
    for (TreeNode child = controls_.tree.firstChild(parent); child != 0; child = controls_.tree.nextSibling(child)) {
        if (controls_.tree.text(child) == text) return child;
    }
    return 0;
}

void BrowserViews::ensureRoot() {
    // Folders need a home even when no connection got as far as the model name.
    if (rootNode_ == 0) rootNode_ = controls_.tree.insertSorted(0, controls_.narrow(info_.volumeText()));
}

std::string BrowserViews::volumePath() const { return telvane::volumePath(info_.volume); }

} // namespace telvane
