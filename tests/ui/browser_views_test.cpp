#include "ui/browser_views.h"

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "link/discovery.h"
#include "sim/phone_profile.h"
#include "sim/virtual_driver.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"
#include "ui/fake_view_controls.h"
#include "session/phone_session.h"

namespace telvane {
namespace {

using sim::PhoneFile;
using sim::PhoneProfile;
using test::CaptureLog;
using test::FakeClock;
using test::FakeList;
using test::FakeProgress;
using test::FakeStatus;
using test::FakeTree;

class IgnoreLinkState final : public LinkStateListener {
public:
    void onLinkState(int) override {}
};

PhoneFile file(std::string name, std::size_t size = 1, std::uint16_t attribute = 0, std::uint16_t second = 0) {
    return PhoneFile{std::move(name), attribute, second, std::vector<std::uint8_t>(size, 0x5A)};
}

PhoneProfile profile(std::string volume, std::vector<PhoneFile> files, std::uint32_t entrySize = 268) {
    PhoneProfile p;
    p.volume = std::move(volume);
    p.entrySize = entrySize;
    p.recordsPerChunk = 2;
    p.model = "Sim Z";
    p.freeSpace = 3 * 1024 + 1023;
    p.files = std::move(files);
    return p;
}

// The browser views on the virtual phone, with the controls in memory.
class BrowserViewsTest : public ::testing::Test {
protected:
    void connect(const PhoneProfile& p) {
        ASSERT_EQ("", sim::checkProfile(p));
        driver = std::make_unique<sim::VirtualDriver>(std::make_unique<sim::VirtualPhone>(p));
        session = std::make_unique<PhoneSession>(*driver, clock, log, listener);
        views = std::make_unique<BrowserViews>(ViewControls{tree, list, status, progress}, log, session->fs,
                                               session->seems, session->files, session->info,
                                               session->channel);
        tree.onSelectionChanged = [this] {
            if (views->treeMode()) views->showFolder();
        };
        findPhoneInterface(*driver, session->link, session->channel);
        ASSERT_NE(0u, session->link.handle());
        session->link.setConnected(true);
    }
    // Unplugged and plugged again: the same phone, found anew.
    void replug() {
        driver->unplug();
        driver->plug();
        findPhoneInterface(*driver, session->link, session->channel);
        ASSERT_NE(0u, session->link.handle());
    }
    void fault(const std::string& text) {
        auto rule = sim::parseFaultRule(text);
        ASSERT_TRUE(rule) << text;
        driver->addFault(*rule);
    }
    std::vector<std::string> names() const { return list.column(0); }

    CaptureLog log;
    FakeClock clock;
    IgnoreLinkState listener;
    FakeTree tree;
    FakeList list;
    FakeStatus status;
    FakeProgress progress;
    std::unique_ptr<sim::VirtualDriver> driver;
    std::unique_ptr<PhoneSession> session;
    std::unique_ptr<BrowserViews> views;
};

TEST_F(BrowserViewsTest, Connection_ShowsModelVolumeAndFreeSpaceInKilobytesRoundedDown) {
    connect(profile("/a", {file("/a/z.txt")}));
    views->showPhoneInfo();
    EXPECT_EQ("", log.text());
    EXPECT_TRUE(views->treeMode());
    EXPECT_EQ(std::vector<std::string>{"Sim Z (/a)"}, tree.childTexts(0));
    EXPECT_EQ(views->rootNode(), tree.firstChild(0));
    EXPECT_EQ("Phone model: Sim Z", status.parts[1]);
    EXPECT_EQ("Volume name: /a, Free space 3 KBytes", status.parts[2]);
    EXPECT_EQ("", status.parts[0]); // the window's part
}

TEST_F(BrowserViewsTest, TreeMode_FoldersInTheTreeAndEachFolderItsOwnFiles) {
    connect(profile("/a", {file("/a/x/y.txt", 12, 0x20), file("/a/z.txt", 7)}));
    views->showPhoneInfo();
    ASSERT_EQ(0, views->refreshFileList());
    EXPECT_EQ("Receiving file list... ok\r\nFiles found: 2\r\n", log.text());

    const TreeNode root = views->rootNode();
    EXPECT_EQ(std::vector<std::string>{"x"}, tree.childTexts(root));
    EXPECT_EQ(root, tree.selected());
    EXPECT_EQ(std::vector<TreeNode>{root}, tree.expanded);
    ASSERT_EQ(1u, list.rows.size());
    EXPECT_EQ((std::array<std::string, 4>{"z.txt", "0", "7", "txt"}), list.rows[0].cells);
    EXPECT_EQ(BrowserViews::kFileImage, list.rows[0].image);
    EXPECT_EQ(session->files.entry(1).record, list.rows[0].data);

    tree.select(tree.child(root, "x"));
    ASSERT_EQ(1u, list.rows.size());
    EXPECT_EQ((std::array<std::string, 4>{"y.txt", "20", "12", "txt"}), list.rows[0].cells);
    EXPECT_EQ(session->files.entry(0).record, list.rows[0].data);
    EXPECT_EQ(std::vector<std::uint32_t>({0, 2}), progress.positions);
    EXPECT_EQ(std::make_pair(0u, 2u), progress.range);
}

TEST_F(BrowserViewsTest, FlatMode_WholeNamesLastRecordOnTopAndTreeHoldsOnlyTheRoot) {
    connect(profile("a", {file("one.txt"), file("two"), file("three.a.b.c")}, 44));
    views->showPhoneInfo();
    ASSERT_EQ(0, views->refreshFileList());
    EXPECT_FALSE(views->treeMode());
    EXPECT_EQ((std::vector<std::string>{"three.a.b.c", "two", "one.txt"}), names());
    EXPECT_EQ((std::vector<std::string>{"c", "", "txt"}), list.column(3));
    EXPECT_EQ(std::vector<std::string>{"Sim Z (a)"}, tree.childTexts(0));
    EXPECT_EQ(0u, tree.childTexts(views->rootNode()).size());
    EXPECT_EQ(0u, tree.selected());
}

TEST_F(BrowserViewsTest, TreePath_VolumeThenFoldersEachEndingInSlash) {
    connect(profile("/a", {file("/a/x/y/z.txt")}));
    views->showPhoneInfo();
    ASSERT_EQ(0, views->refreshFileList());
    const TreeNode x = tree.child(views->rootNode(), "x");
    EXPECT_EQ("/a/", views->treePath(views->rootNode()));
    EXPECT_EQ("/a/x/", views->treePath(x));
    EXPECT_EQ("/a/x/y/", views->treePath(tree.child(x, "y")));
    EXPECT_EQ("", views->treePath(0));
}

TEST_F(BrowserViewsTest, FolderNames_CaseMattersEmptyComponentsCountAndPrefixesDoNotMatch) {
    connect(profile("/a", {file("/a/Docs/1"), file("/a/docs/2"), file("/a//3"), file("/a/docsextra/4"),
                           file("/a/docs"), file("/a/docs/deep/5")}));
    views->showPhoneInfo();
    ASSERT_EQ(0, views->refreshFileList());
    const TreeNode root = views->rootNode();
    EXPECT_EQ((std::vector<std::string>{"", "Docs", "docs", "docsextra"}), tree.childTexts(root));
    EXPECT_EQ(std::vector<std::string>{"docs"}, names()); // a file named like a folder

    tree.select(tree.child(root, "docs"));
    EXPECT_EQ(std::vector<std::string>{"2"}, names());
    tree.select(tree.child(root, ""));
    EXPECT_EQ(std::vector<std::string>{"3"}, names());
}

TEST_F(BrowserViewsTest, RefreshTwice_AddsNoNodesAndAVanishedFolderStaysButShowsNothing) {
    connect(profile("/a", {file("/a/x/1"), file("/a/x/y/2"), file("/a/gone/3")}));
    views->showPhoneInfo();
    ASSERT_EQ(0, views->refreshFileList());
    const std::size_t nodes = tree.nodeCount();
    driver->withPhone([](sim::VirtualPhone& p) { return p.fileSystem().remove("/a/gone/3"); });

    ASSERT_EQ(0, views->refreshFileList());
    EXPECT_EQ(nodes, tree.nodeCount());
    // The root was already selected: its files are shown all the same.
    EXPECT_EQ(views->rootNode(), tree.selected());
    tree.select(tree.child(views->rootNode(), "gone"));
    EXPECT_TRUE(list.rows.empty());
}

TEST_F(BrowserViewsTest, ManyFolders_EachOnceInOrderAndARefreshReadsEachFoldersChildrenOnce) {
    std::vector<PhoneFile> files;
    for (int f = 0; f < 30; ++f) {
        const std::string folder = "/a/f" + std::to_string(29 - f); // listed out of order
        for (int i = 0; i < 10; ++i) files.push_back(file(folder + "/sub/" + std::to_string(i)));
    }
    connect(profile("/a", files));
    views->showPhoneInfo();
    tree.textReads = 0;
    ASSERT_EQ(0, views->refreshFileList());
    const TreeNode root = views->rootNode();
    std::vector<std::string> expected;
    for (int f = 0; f < 30; ++f) expected.push_back("f" + std::to_string(f));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, tree.childTexts(root));
    EXPECT_EQ(std::vector<std::string>{"sub"}, tree.childTexts(tree.child(root, "f7")));
    EXPECT_EQ(61u, tree.nodeCount());
    // Not once per record: 300 records under 30 folders would read thousands of texts.
    EXPECT_LE(tree.textReads, tree.nodeCount());

    // The next refresh finds the folders already there and adds only the new one.
    driver->withPhone([](sim::VirtualPhone& p) { return p.fileSystem().add(file("/a/f7/new/1")); });
    tree.textReads = 0;
    ASSERT_EQ(0, views->refreshFileList());
    EXPECT_EQ(62u, tree.nodeCount());
    EXPECT_EQ((std::vector<std::string>{"new", "sub"}), tree.childTexts(tree.child(root, "f7")));
    EXPECT_LE(tree.textReads, tree.nodeCount());

    // Outside a refresh the folders are found by the tree's own walk.
    EXPECT_EQ(tree.child(root, "f12"), views->ensureTreeChild("f12", root));
    EXPECT_EQ(62u, tree.nodeCount());
}

TEST_F(BrowserViewsTest, RootAlreadySelected_RefreshStillShowsTheRootsFiles) {
    connect(profile("/a", {file("/a/top.txt")}));
    views->showPhoneInfo();
    ASSERT_EQ(0, views->refreshFileList());
    ASSERT_EQ(std::vector<std::string>{"top.txt"}, names());
    ASSERT_EQ(0, views->refreshFileList());
    EXPECT_EQ(std::vector<std::string>{"top.txt"}, names());
}

TEST_F(BrowserViewsTest, Reconnection_ReplacesTheTreeByTheNewRootButKeepsTheRows) {
    connect(profile("/a", {file("/a/x/1"), file("/a/2")}));
    views->showPhoneInfo();
    ASSERT_EQ(0, views->refreshFileList());
    const auto rows = names();

    driver->withPhone([](sim::VirtualPhone& p) {
        p.fileSystem().remove("/a/x/1");
        return p.fileSystem().add(file("/a/other/1"));
    });
    replug();
    views->showPhoneInfo();
    EXPECT_EQ(std::vector<std::string>{"Sim Z (/a)"}, tree.childTexts(0));
    EXPECT_TRUE(tree.childTexts(views->rootNode()).empty());
    EXPECT_EQ(rows, names());
}

TEST_F(BrowserViewsTest, VolumeNameFailure_LogsAndKeepsModeTreeAndStatus) {
    connect(profile("a", {file("f")}, 44));
    views->showPhoneInfo();
    const auto before = status.parts;
    const auto info = session->info.volumeText();
    fault("status=7@0x4a/10");
    log.clear();
    views->showPhoneInfo();
    EXPECT_EQ("GENERIC FAILURE\r\nVolume name fail\r\n", log.text());
    EXPECT_FALSE(views->treeMode());
    EXPECT_EQ(std::vector<std::string>{"Sim Z (a)"}, tree.childTexts(0));
    EXPECT_EQ(before, status.parts);
    EXPECT_EQ(info, session->info.volumeText());
}

TEST_F(BrowserViewsTest, ModelFailure_SetsTheModeButMakesNoRootAndNoModelText) {
    connect(profile("a", {file("f")}, 44));
    fault("status=7@0x20");
    ASSERT_TRUE(views->treeMode()); // the mode a fresh window starts in
    views->showPhoneInfo();
    EXPECT_EQ("GENERIC FAILURE\r\n", log.text());
    EXPECT_FALSE(views->treeMode());
    EXPECT_EQ(0u, views->rootNode());
    EXPECT_EQ(0u, tree.nodeCount());
    EXPECT_EQ("", status.parts[1]);
}

TEST_F(BrowserViewsTest, ZeroFreeSpace_LogsBothTextsAndKeepsPartTwo) {
    connect(profile("/a", {}));
    status.parts[2] = "earlier";
    fault("zerofree");
    views->showPhoneInfo();
    EXPECT_EQ("Zero free space recv'd!\r\nVolume size fail\r\n", log.text());
    EXPECT_EQ("earlier", status.parts[2]);
    EXPECT_EQ("Phone model: Sim Z", status.parts[1]);
}

TEST_F(BrowserViewsTest, NoRootYetInTreeMode_FoldersHangUnderANodeNamedByTheVolume) {
    connect(profile("/a", {file("/a/x/1"), file("/a/2")}));
    fault("status=7@0x20");
    views->showPhoneInfo(); // the volume is read, the model is not
    ASSERT_EQ(0u, views->rootNode());
    log.clear();
    ASSERT_EQ(0, views->refreshFileList());
    EXPECT_EQ(std::vector<std::string>{"/a"}, tree.childTexts(0));
    EXPECT_EQ(std::vector<std::string>{"x"}, tree.childTexts(views->rootNode()));
    EXPECT_EQ(std::vector<std::string>{"2"}, names());
}

TEST_F(BrowserViewsTest, ListFailure_LogsFailLeavesListEmptyAndTreeAsItWas) {
    connect(profile("/a", {file("/a/x/1"), file("/a/2")}));
    views->showPhoneInfo();
    ASSERT_EQ(0, views->refreshFileList());
    const std::size_t nodes = tree.nodeCount();
    fault("count=0");
    log.clear();
    EXPECT_EQ(-1, views->refreshFileList());
    EXPECT_EQ("Receiving file list...Invalid files count!\r\n Fail!\r\n", log.text());
    EXPECT_TRUE(list.rows.empty());
    EXPECT_EQ(nodes, tree.nodeCount());
}

TEST_F(BrowserViewsTest, ListBrokenOffPartWay_FolderShowsOnlyRecordsReceivedWithTheirRealNumbers) {
    connect(profile("/a", {file("/a/1.txt", 300, 0x20), file("/a/2.txt"), file("/a/3.txt"), file("/a/4.txt")}));
    views->showPhoneInfo();
    // Count, first chunk (two records), then the second chunk fails.
    fault("status=7@0x4a/8#" + std::to_string(driver->commandCount() + 3));
    EXPECT_EQ(-1, views->refreshFileList());
    EXPECT_TRUE(list.rows.empty());

    tree.select(0);
    tree.select(views->rootNode());
    ASSERT_EQ((std::vector<std::string>{"2.txt", "1.txt"}), names());
    EXPECT_EQ("20", list.rows[1].cells[1]);
    EXPECT_EQ("300", list.rows[1].cells[2]);
}

// Records laid out as the file list holds them once converted (host order).
class RecordBlock {
public:
    explicit RecordBlock(std::uint32_t entrySize = 44) : e_(entrySize) {}
    FileEntry add(const std::string& name, std::uint32_t size, std::uint16_t attribute = 0, std::uint16_t second = 0) {
        auto record = std::make_unique<std::uint8_t[]>(e_);
        std::copy(name.begin(), name.end(), record.get());
        std::memcpy(record.get() + e_ - 8, &attribute, 2);
        std::memcpy(record.get() + e_ - 6, &second, 2);
        std::memcpy(record.get() + e_ - 4, &size, 4);
        records_.push_back(std::move(record));
        return {records_.back().get(), e_};
    }

private:
    std::uint32_t e_;
    std::vector<std::unique_ptr<std::uint8_t[]>> records_;
};

TEST(RowTextsTest, AttributesHexWithSecondWordInFrontSizeUnsignedTypeAfterLastDot) {
    RecordBlock block;
    EXPECT_EQ("20", attributesText(block.add("a", 0, 0x20)));
    EXPECT_EQ("0", attributesText(block.add("a", 0, 0)));
    EXPECT_EQ("1020004", attributesText(block.add("a", 0, 0x0004, 0x0102)));
    EXPECT_EQ("2147483648", sizeText(block.add("a", 0x80000000u)));
    EXPECT_EQ("4294967295", sizeText(block.add("a", 0xFFFFFFFFu)));
    EXPECT_EQ("gz", typeText(block.add("x.tar.gz", 0)));
    EXPECT_EQ("", typeText(block.add("readme", 0)));
    // A name filling its whole field: the attribute word after it is no part of the type.
    EXPECT_EQ("xy", typeText(block.add("a-name-that-fills-the-whole-field.xy", 0, 0x0008)));
    EXPECT_EQ("", typeText(block.add("a-name-that-fills-the-whole-field.", 0, 0x0078)));
}

TEST(CompareRowsTest, SizesCompareUnsignedAndDescendingInvertsEveryResult) {
    RecordBlock block;
    const FileEntry small = block.add("s", 5);
    const FileEntry big = block.add("b", 0x80000000u);
    const FileEntry biggest = block.add("m", 0xFFFFFFFFu);
    EXPECT_EQ(0, compareRows(small, big, kColumnSize, false));
    EXPECT_EQ(1, compareRows(big, small, kColumnSize, false));
    EXPECT_EQ(0, compareRows(big, biggest, kColumnSize, false));
    EXPECT_EQ(1, compareRows(big, big, kColumnSize, false)); // equal keys go after
    EXPECT_EQ(1, compareRows(small, big, kColumnSize, true));
    EXPECT_EQ(0, compareRows(big, big, kColumnSize, true));
    EXPECT_EQ(0, compareRows(FileEntry{}, big, kColumnSize, true));
}

TEST(CompareRowsTest, NamesAndTypesCompareBytesUnsignedAndAttributesAsOneNumber) {
    RecordBlock block;
    const FileEntry a = block.add("abc.txt", 0, 0x0001, 0x0000);
    const FileEntry ab = block.add("ab.zip", 0, 0x0000, 0x0001);
    const FileEntry high = block.add("\xE4.mid", 0);
    EXPECT_EQ(1, compareRows(a, ab, kColumnFile, false));   // 'c' after '.'
    EXPECT_EQ(1, compareRows(high, a, kColumnFile, false)); // 0xE4 is above every ASCII byte
    EXPECT_EQ(0, compareRows(a, a, kColumnFile, false));    // equal texts do not go after
    EXPECT_EQ(0, compareRows(a, ab, kColumnType, false));   // "txt" before "zip"
    EXPECT_EQ(1, compareRows(ab, a, kColumnType, false));
    EXPECT_EQ(0, compareRows(a, ab, kColumnAttributes, false)); // 0x00000001 < 0x00010000
    EXPECT_EQ(1, compareRows(a, ab, kColumnAttributes, true));
}

} // namespace
} // namespace telvane
