#pragma once
#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "services/progress.h"
#include "ui/view_controls.h"

namespace telvane::test {

// A tree control in memory: children kept in sorted order, selection changes reported.
class FakeTree final : public TreeControl {
public:
    TreeNode insertSorted(TreeNode parent, std::string_view text) override {
        if (parent != 0 && !nodes_.count(parent)) return 0;
        const TreeNode node = next_++;
        nodes_[node] = Node{parent, std::string(text)};
        auto& siblings = children_[parent];
        auto at = std::find_if(siblings.begin(), siblings.end(), [&](TreeNode n) { return nodes_[n].text > text; });
        siblings.insert(at, node);
        return node;
    }
    TreeNode firstChild(TreeNode parent) override {
        auto it = children_.find(parent);
        return it == children_.end() || it->second.empty() ? 0 : it->second.front();
    }
    TreeNode nextSibling(TreeNode node) override {
        if (!nodes_.count(node)) return 0;
        const auto& siblings = children_[nodes_[node].parent];
        auto it = std::find(siblings.begin(), siblings.end(), node);
        return it == siblings.end() || it + 1 == siblings.end() ? 0 : *(it + 1);
    }
    TreeNode parent(TreeNode node) override { return nodes_.count(node) ? nodes_[node].parent : 0; }
    std::string text(TreeNode node) override {
        ++textReads;
        return nodes_.count(node) ? nodes_[node].text.substr(0, kTextRoom) : std::string();
    }
    TreeNode selected() override { return selected_; }
    void select(TreeNode node) override {
        if (node == selected_) return;
        selected_ = node;
        if (onSelectionChanged) onSelectionChanged();
    }
    void expand(TreeNode node) override { expanded.push_back(node); }
    void remove(TreeNode node) override {
        if (node == 0) {
            nodes_.clear();
            children_.clear();
            selected_ = 0;
            return;
        }
        if (!nodes_.count(node)) return;
        auto& siblings = children_[nodes_[node].parent];
        siblings.erase(std::find(siblings.begin(), siblings.end(), node));
        removeSubtree(node);
    }

    // Children's texts of a node (0: the top level), in order.
    std::vector<std::string> childTexts(TreeNode parent) {
        std::vector<std::string> texts;
        for (TreeNode n = firstChild(parent); n != 0; n = nextSibling(n)) texts.push_back(nodes_[n].text);
        return texts;
    }
    TreeNode child(TreeNode parent, const std::string& text) {
        for (TreeNode n = firstChild(parent); n != 0; n = nextSibling(n))
            if (nodes_[n].text == text) return n;
        return 0;
    }
    std::size_t nodeCount() const { return nodes_.size(); }

    std::function<void()> onSelectionChanged;
    std::vector<TreeNode> expanded;
    std::size_t textReads = 0; // node texts read back, as each costs the real control a message

private:
    struct Node {
        TreeNode parent = 0;
        std::string text;
    };
    void removeSubtree(TreeNode node) {
        for (TreeNode child : children_[node]) removeSubtree(child);
        children_.erase(node);
        nodes_.erase(node);
        if (selected_ == node) selected_ = 0;
    }

    std::map<TreeNode, Node> nodes_;
    std::map<TreeNode, std::vector<TreeNode>> children_;
    TreeNode next_ = 0x10;
    TreeNode selected_ = 0;
};

// A list control in memory: rows of four texts with their image and item data.
class FakeList final : public ListControl {
public:
    struct Row {
        std::array<std::string, 4> cells;
        int image = -1;
        const void* data = nullptr;
        bool selected = false;
    };
    void clear() override { rows.clear(); }
    void appendRows(std::span<const ListRow> added) override {
        for (const ListRow& r : added) {
            Row row;
            row.cells = {r.text, r.cells[0], r.cells[1], r.cells[2]};
            row.image = r.image;
            row.data = r.data;
            rows.push_back(row);
        }
    }
    int rowCount() override { return static_cast<int>(rows.size()); }

    std::vector<std::string> column(std::size_t c) const {
        std::vector<std::string> out;
        for (const auto& r : rows) out.push_back(r.cells[c]);
        return out;
    }

    std::vector<Row> rows;
};

class FakeStatus final : public StatusControl {
public:
    void setPart(int part, std::string_view text) override { parts.at(static_cast<std::size_t>(part)) = text; }
    std::array<std::string, 4> parts;
};

class FakeProgress final : public Progress {
public:
    void setRange(std::uint32_t low, std::uint32_t high) override { range = {low, high}; }
    void setPosition(std::uint32_t position) override { positions.push_back(position); }
    std::pair<std::uint32_t, std::uint32_t> range{0, 0};
    std::vector<std::uint32_t> positions;
};

} // namespace telvane::test
