#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/discovery.h"
#include "sim/phone_factory.h"
#include "sim/phone_profile.h"
#include "sim/virtual_driver.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"
#include "support/fake_desktop.h"
#include "support/tap_port.h"
#include "ui/browser_views.h"
#include "ui/fake_view_controls.h"
#include "ui/file_operations.h"
#include "session/phone_session.h"

namespace telvane::test {

// The window's selection, tree and edit fields over the views' fake controls.
class FakeOperationControls final : public OperationControls {
public:
    FakeOperationControls(FakeList& list, FakeTree& tree) : list_(list), tree_(tree) {}

    int nextSelectedRow(int after) override {
        for (std::size_t row = static_cast<std::size_t>(after + 1); row < list_.rows.size(); ++row)
            if (list_.rows[row].selected) return static_cast<int>(row);
        return -1;
    }
    const void* rowData(int row) override { return list_.rows.at(static_cast<std::size_t>(row)).data; }
    TreeNode selectedTreeNode() override { return tree_.selected(); }
    std::string fieldText(EditField field) override { return fields[field]; }
    void setFieldText(EditField field, std::string_view text) override { fields[field] = std::string(text); }

    std::map<EditField, std::string> fields;

private:
    FakeList& list_;
    FakeTree& tree_;
};

class IgnoreLinkState final : public LinkStateListener {
public:
    void onLinkState(int) override {}
};

// The file and seem commands on the virtual phone, with the window's controls and the desktop
// in memory. The PC starts with the folder C:\pc as its current folder.
class OperationsTest : public ::testing::Test {
protected:
    using Bytes = std::vector<std::uint8_t>;

    static Bytes pattern(std::size_t size, std::uint8_t seed) {
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
        return bytes;
    }
    static sim::PhoneProfile flatPhone(std::uint32_t freeSpace = 1u << 20) {
        sim::PhoneProfile p;
        p.volume = "a";
        p.entrySize = 44;
        p.freeSpace = freeSpace;
        p.model = "Sim F";
        return p;
    }

    void connect(const sim::PhoneProfile& profile) {
        ASSERT_EQ("", sim::checkProfile(profile));
        driver = sim::makeVirtualDriver(profile);
        tap = std::make_unique<TapPort>(*driver);
        session = std::make_unique<PhoneSession>(*tap, clock, log, listener);
        views = std::make_unique<BrowserViews>(ViewControls{tree, list, status, progress}, log, session->fs,
                                               session->seems, session->files, session->info,
                                               session->channel);
        tree.onSelectionChanged = [this] {
            if (views->treeMode()) views->showFolder();
        };
        commands = std::make_unique<FileOperations>(
            *session, *views, Desktop{desktop, desktop, controls, progress, desktop}, [this] { return autoUpdate; });
        findPhoneInterface(*tap, session->link, session->channel);
        ASSERT_NE(0u, session->link.handle());
        session->link.setConnected(true);
        views->showPhoneInfo();
        desktop.addFolder("C:\\pc");
        desktop.setCurrentFolder("C:\\pc");
        log.clear();
    }
    // Reads the list into the views; the log starts afresh.
    void refresh() {
        ASSERT_EQ(0, views->refreshFileList());
        log.clear();
    }
    // Selects the rows showing these names (and no others).
    void select(const std::vector<std::string>& names) {
        for (auto& row : list.rows)
            row.selected = std::find(names.begin(), names.end(), row.cells[0]) != names.end();
        std::size_t selected = 0;
        for (const auto& row : list.rows) selected += row.selected ? 1 : 0;
        ASSERT_EQ(names.size(), selected);
    }
    void fault(const std::string& text) {
        auto rule = sim::parseFaultRule(text);
        ASSERT_TRUE(rule) << text;
        driver->addFault(*rule);
    }
    std::optional<Bytes> phoneFile(const std::string& name) {
        return driver->withPhone([&](sim::VirtualPhone& p) -> std::optional<Bytes> {
            const sim::PhoneFile* f = p.fileSystem().find(name);
            return f ? std::optional<Bytes>(f->bytes) : std::nullopt;
        });
    }
    bool phoneFileOpen() {
        return driver->withPhone([](sim::VirtualPhone& p) { return p.fileSystem().openName().has_value(); });
    }
    std::uint32_t commandCount() { return driver->commandCount(); }
    // What the watcher does when the phone is pulled and plugged in again: the link taken down,
    // then the phone found anew as the next connection.
    void reconnect() {
        {
            std::lock_guard<std::mutex> lock(session->link.requestMutex());
            tap->close(session->link.withdraw());
        }
        driver->unplug();
        driver->plug();
        findPhoneInterface(*tap, session->link, session->channel);
        ASSERT_NE(0u, session->link.handle());
        session->link.setConnected(true);
    }
    // Every PC file the operation opened is closed, each once.
    void expectFilesClosed() {
        EXPECT_EQ(0u, desktop.openFiles());
        EXPECT_EQ(0u, desktop.badCloses());
    }

    CaptureLog log;
    FakeClock clock;
    IgnoreLinkState listener;
    FakeTree tree;
    FakeList list;
    FakeStatus status;
    FakeProgress progress;
    FakeDesktop desktop;
    FakeOperationControls controls{list, tree};
    int autoUpdate = 0;
    std::unique_ptr<sim::VirtualDriver> driver;
    std::unique_ptr<TapPort> tap;
    std::unique_ptr<PhoneSession> session;
    std::unique_ptr<BrowserViews> views;
    std::unique_ptr<FileOperations> commands;
};

} // namespace telvane::test
