#include "ui/file_operations.h"

#include "common/byte_order.h"

#include "ui/operations_fixture.h"
#include "session/pc_file_name.h"

namespace telvane {
namespace {

using test::OperationsTest;
using Bytes = std::vector<std::uint8_t>;

sim::PhoneFile makeFile(std::string name, Bytes bytes, std::uint16_t attribute = 0) {
    return sim::PhoneFile{std::move(name), attribute, 0, std::move(bytes)};
}

// The attribute word of the last FsOpen sent for a name, as it went over the wire.
std::optional<std::uint32_t> sentOpenAttribute(const std::vector<std::vector<std::uint8_t>>& requests,
                                               const std::string& name) {
    std::optional<std::uint32_t> found;
    const std::size_t at = frame::kPayloadOffset;
    for (const auto& r : requests) {
        if (r.size() < at + 8 + name.size() || readBe16(r.data() + frame::kOpcodeOffset) != fs::kOpcode) continue;
        if (readBe16(r.data() + frame::kPayloadLengthOffset) != 8 + name.size()) continue;
        if (readBe32(r.data() + at) != fs::kOpen) continue;
        if (std::string_view(reinterpret_cast<const char*>(r.data() + at + 8), name.size()) != name) continue;
        found = readBe32(r.data() + at + 4);
    }
    return found;
}

// --- Upload

TEST_F(OperationsTest, Upload_ZeroFreeSpace_LogsBothTextsAndShowsNoDialog) {
    auto p = flatPhone();
    p.faults.push_back(*sim::parseFaultRule("zerofree"));
    connect(p);
    commands->uploadFiles();
    EXPECT_EQ("File upload... Zero free space recv'd!\r\n Fail: cannot get vol info\r\n", log.text());
    EXPECT_TRUE(desktop.dialogs().empty());
}

TEST_F(OperationsTest, Upload_SizeEqualToFreeSpaceRefused_OneByteSmallerSentUnderItsOwnName) {
    connect(flatPhone(1000));
    desktop.addFile("C:\\pc\\big.bin", pattern(1000, 1));
    desktop.addFile("C:\\pc\\small.bin", pattern(999, 2));
    desktop.answerOpen("C:\\pc", {"big.bin", "small.bin"});
    commands->uploadFiles();

    EXPECT_EQ("File upload... big.bin Fail: file size invalid\r\nsmall.bin ok\r\n", log.text());
    EXPECT_FALSE(phoneFile("big.bin"));
    EXPECT_EQ(pattern(999, 2), phoneFile("small.bin"));
    ASSERT_EQ(1u, desktop.dialogs().size());
    const auto& shown = desktop.dialogs()[0];
    EXPECT_FALSE(shown.save);
    EXPECT_EQ(FileDialogSetup::kExplorerMultiSelect, shown.options);
    EXPECT_TRUE(shown.nameCleared);
    EXPECT_EQ('\0', shown.titleFirst);
    expectFilesClosed();
    EXPECT_EQ(2u, desktop.filesHandedOut());
}

TEST_F(OperationsTest, Upload_ThreeFilesOf400With1000Free_TwoSentThirdRefusedThenRefreshed) {
    connect(flatPhone(1000));
    autoUpdate = 1;
    for (const char* name : {"one", "two", "three"}) desktop.addFile(std::string("C:\\pc\\") + name, pattern(400, 3));
    desktop.answerOpen("C:\\pc", {"one", "two", "three"});
    commands->uploadFiles();

    EXPECT_EQ("File upload... one ok\r\ntwo ok\r\nthree Fail: file size invalid\r\n"
              "Receiving file list... ok\r\nFiles found: 2\r\n",
              log.text());
    EXPECT_EQ(2u, list.rows.size());
    expectFilesClosed();
}

TEST_F(OperationsTest, Upload_EmptyFileRefused_TheNextStillSent) {
    connect(flatPhone());
    desktop.addFile("C:\\pc\\empty", {});
    desktop.addFile("C:\\pc\\full", pattern(3000, 4));
    desktop.answerOpen("C:\\pc", {"empty", "full"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... empty Fail: file size invalid\r\nfull ok\r\n", log.text());
    EXPECT_EQ(pattern(3000, 4), phoneFile("full"));
    EXPECT_FALSE(phoneFile("empty"));
    expectFilesClosed();
}

TEST_F(OperationsTest, Upload_TreeMode_GoesIntoTheSelectedFolderOrTheRoot) {
    auto p = sim::treePhoneProfile();
    p.files = {makeFile("/a/b/old.txt", {1})};
    connect(p);
    refresh();
    desktop.addFolder("D:\\far\\away");
    desktop.addFile("D:\\far\\away\\song.mp3", pattern(10, 5));

    tree.select(tree.child(views->rootNode(), "b"));
    desktop.answerOpen("D:\\far\\away", {"song.mp3"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... /a/b/song.mp3 ok\r\n", log.text());
    EXPECT_EQ(pattern(10, 5), phoneFile("/a/b/song.mp3"));
    EXPECT_EQ("D:\\far\\away", desktop.currentFolder());

    log.clear();
    tree.select(views->rootNode());
    desktop.answerOpen("D:\\far\\away", {"song.mp3"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... /a/song.mp3 ok\r\n", log.text());
    EXPECT_EQ(pattern(10, 5), phoneFile("/a/song.mp3"));
    expectFilesClosed();
}

TEST_F(OperationsTest, Upload_NameLongerThanTheListAllows_EndsSilentlyWithoutSendingOrRefresh) {
    auto p = flatPhone();
    p.files = {makeFile("old", {1})};
    connect(p);
    autoUpdate = 1;
    refresh(); // 44-byte records: names of at most 36 characters
    const std::string longName(37, 'n');
    desktop.addFile("C:\\pc\\" + longName, pattern(5, 6));
    desktop.addFile("C:\\pc\\next", pattern(5, 6));
    desktop.answerOpen("C:\\pc", {longName, "next"});
    const std::uint32_t before = commandCount();
    commands->uploadFiles();
    EXPECT_EQ("File upload... " + longName, log.text());
    EXPECT_EQ(before + 1, commandCount()); // the free space only
    expectFilesClosed();
}

TEST_F(OperationsTest, Upload_FileThatCannotBeOpened_EndsTheUploadWithoutRefresh) {
    connect(flatPhone());
    autoUpdate = 1;
    desktop.addFile("C:\\pc\\first", pattern(5, 7));
    desktop.addFile("C:\\pc\\held", pattern(5, 7));
    desktop.addFile("C:\\pc\\last", pattern(5, 7));
    desktop.file("C:\\pc\\held")->locked = true;
    desktop.answerOpen("C:\\pc", {"first", "held", "last"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... first ok\r\n Fail: cannot open file\r\n", log.text());
    EXPECT_TRUE(phoneFile("first"));
    EXPECT_FALSE(phoneFile("last"));
    expectFilesClosed();
}

TEST_F(OperationsTest, Upload_ShortPcRead_EndsSilentlyAndSendsNothing) {
    connect(flatPhone());
    desktop.addFile("C:\\pc\\x", pattern(50, 8));
    desktop.file("C:\\pc\\x")->shortRead = true;
    desktop.answerOpen("C:\\pc", {"x"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... x", log.text());
    EXPECT_FALSE(phoneFile("x"));
    expectFilesClosed();
}

TEST_F(OperationsTest, Upload_ChoiceOfFortyNamesBeyondOnePathsRoom_EverySent) {
    connect(flatPhone());
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("upload-file-number-" + std::to_string(100 + i) + ".bin");
        desktop.addFile("C:\\pc\\" + names.back(), pattern(3, static_cast<std::uint8_t>(i)));
    }
    desktop.answerOpen("C:\\pc", names);
    commands->uploadFiles();
    for (int i = 0; i < 40; ++i) EXPECT_EQ(pattern(3, static_cast<std::uint8_t>(i)), phoneFile(names[i])) << names[i];
    EXPECT_TRUE(desktop.dialogs().at(0).nameCleared);
    expectFilesClosed();
}

TEST_F(OperationsTest, Upload_ChoiceTheDialogCannotHandBack_IsSaidAndNothingSent) {
    connect(flatPhone());
    autoUpdate = 1;
    // 1,100 names of 250 characters: more than 1,000 names of a full path's length.
    std::vector<std::string> names;
    for (int i = 0; i < 1100; ++i) names.push_back(std::to_string(1000 + i) + std::string(246, 'n'));
    desktop.answerOpen("C:\\pc", names);
    commands->uploadFiles();
    EXPECT_EQ("File upload...  Fail: too many files chosen at once, choose fewer\r\n", log.text());
    EXPECT_EQ(0u, desktop.filesHandedOut());
}

TEST_F(OperationsTest, Upload_CancelledDialog_EndsWithoutAWord) {
    connect(flatPhone());
    autoUpdate = 1;
    desktop.cancelNextDialog();
    commands->uploadFiles();
    EXPECT_EQ("File upload... ", log.text());
}

TEST_F(OperationsTest, Upload_PhoneRefusesTheData_IsReportedClosedOnThePhoneAndEndsTheUpload) {
    connect(flatPhone());
    autoUpdate = 1;
    fault("status=7@0x4a/2*1");
    desktop.addFile("C:\\pc\\a1", pattern(5, 9));
    desktop.addFile("C:\\pc\\a2", pattern(5, 9));
    desktop.answerOpen("C:\\pc", {"a1", "a2"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... a1GENERIC FAILURE\r\n Fail: cannot write file\r\n", log.text());
    EXPECT_FALSE(phoneFileOpen());
    EXPECT_FALSE(phoneFile("a2"));
    expectFilesClosed();
}

TEST_F(OperationsTest, Upload_PhoneRefusesTheClose_IsReportedAndEndsTheUpload) {
    connect(flatPhone());
    autoUpdate = 1;
    fault("status=7@0x4a/4*1");
    desktop.addFile("C:\\pc\\a1", pattern(5, 9));
    desktop.addFile("C:\\pc\\a2", pattern(5, 9));
    desktop.answerOpen("C:\\pc", {"a1", "a2"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... a1GENERIC FAILURE\r\n Fail: cannot close file\r\n", log.text());
    EXPECT_FALSE(phoneFile("a2"));
}

// --- Dropped files

TEST_F(OperationsTest, Drop_GoesAsAnUploadWithoutTheDialog_ItsRulesTextsAndRefresh) {
    connect(flatPhone(1000));
    autoUpdate = 1;
    desktop.addFolder("D:\\far");
    desktop.addFile("D:\\far\\one.bin", pattern(400, 1));
    desktop.addFile("D:\\far\\empty", {});
    desktop.addFile("D:\\far\\big.bin", pattern(600, 2));
    commands->uploadDroppedFiles({"D:\\far\\one.bin", "D:\\far\\empty", "D:\\far\\big.bin"}, 0);
    EXPECT_EQ("File upload... one.bin ok\r\nempty Fail: file size invalid\r\nbig.bin Fail: file size invalid\r\n"
              "Receiving file list... ok\r\nFiles found: 1\r\n",
              log.text());
    EXPECT_EQ(pattern(400, 1), phoneFile("one.bin"));
    EXPECT_TRUE(desktop.dialogs().empty());
    EXPECT_EQ("C:\\pc", desktop.currentFolder());
    expectFilesClosed();
}

TEST_F(OperationsTest, Drop_TreeMode_IntoTheFolderDroppedOnOrElseTheSelectedOne) {
    auto p = sim::treePhoneProfile();
    p.files = {makeFile("/a/b/old.txt", {1}), makeFile("/a/c/old.txt", {1})};
    connect(p);
    refresh();
    desktop.addFile("D:\\song.mp3", pattern(10, 5));
    tree.select(tree.child(views->rootNode(), "b"));
    commands->uploadDroppedFiles({"D:\\song.mp3"}, tree.child(views->rootNode(), "c"));
    commands->uploadDroppedFiles({"D:\\song.mp3"}, 0);
    EXPECT_EQ("File upload... /a/c/song.mp3 ok\r\nFile upload... /a/b/song.mp3 ok\r\n", log.text());
    EXPECT_EQ(pattern(10, 5), phoneFile("/a/c/song.mp3"));
    EXPECT_EQ(pattern(10, 5), phoneFile("/a/b/song.mp3"));
}

TEST_F(OperationsTest, Drop_WithAFolder_IsRefusedInOneLineBeforeAnythingIsSent) {
    connect(flatPhone());
    autoUpdate = 1;
    desktop.addFile("D:\\x\\file.bin", pattern(10, 1));
    desktop.addFolder("D:\\x\\photos");
    const std::uint32_t before = commandCount();
    commands->uploadDroppedFiles({"D:\\x\\file.bin", "D:\\x\\photos"}, 0);
    EXPECT_EQ("File upload... photos Fail: folders cannot be dropped, only files\r\n", log.text());
    EXPECT_EQ(before, commandCount());
    EXPECT_FALSE(phoneFile("file.bin"));
    expectFilesClosed();
}

// --- Saving the log

TEST_F(OperationsTest, SaveLog_WritesTheTextAsItStandsReplacingTheFileTheDialogAskedAbout) {
    connect(flatPhone());
    desktop.addFile("C:\\logs\\old.log", pattern(5000, 1));
    desktop.answerSave("C:\\logs\\old.log");
    const std::string text = "File upload... a ok\r\nphone not connected\r\nno line end";
    commands->saveLog(text);
    ASSERT_EQ(1u, desktop.dialogs().size());
    EXPECT_TRUE(desktop.dialogs()[0].save);
    EXPECT_EQ(FileDialogSetup::kAskBeforeReplacing, desktop.dialogs()[0].options);
    EXPECT_EQ("telvane.log", desktop.dialogs()[0].name);
    EXPECT_EQ(Bytes(text.begin(), text.end()), desktop.file("C:\\logs\\old.log")->bytes);
    EXPECT_EQ("Saving log to C:\\logs\\old.log ok\r\n", log.text());
    expectFilesClosed();
}

TEST_F(OperationsTest, SaveLog_CancelWritesNothing_FailuresSaySoAndLeaveNoPart) {
    connect(flatPhone());
    desktop.cancelNextDialog();
    commands->saveLog("text");
    EXPECT_EQ("", log.text());

    desktop.answerSave("C:\\nowhere\\x.log"); // no such folder
    commands->saveLog("text");
    EXPECT_EQ("Saving log to C:\\nowhere\\x.log Fail: cannot create file\r\n", log.text());

    log.clear();
    desktop.setDiskSpace(3);
    desktop.answerSave("C:\\pc\\x.log");
    commands->saveLog("text");
    EXPECT_EQ("Saving log to C:\\pc\\x.log Fail: cannot write\r\n", log.text());
    EXPECT_FALSE(desktop.exists("C:\\pc\\x.log"));
    expectFilesClosed();
}

// --- Download

class DownloadTest : public OperationsTest {
protected:
    void SetUp() override {
        auto p = flatPhone();
        p.files = {makeFile("first.bin", pattern(2500, 1), 0x20), makeFile("second.txt", pattern(10, 2)),
                   makeFile("empty.dat", {}), makeFile("nul", pattern(3, 3))};
        connect(p);
        refresh();
        desktop.addFolder("C:\\dl");
    }
};

TEST_F(DownloadTest, TwoRows_OneSaveDialog_TheSecondBesideTheFirstUnderItsOwnName) {
    select({"first.bin", "second.txt"});
    clock.recordSleeps();
    desktop.answerSave("C:\\dl\\chosen.bin");
    commands->downloadFiles();

    // The list shows the records last first.
    EXPECT_EQ("File download...second.txt ok\r\nFile download...first.bin ok\r\n", log.text());
    ASSERT_EQ(1u, desktop.dialogs().size());
    EXPECT_TRUE(desktop.dialogs()[0].save);
    EXPECT_EQ("second.txt", desktop.dialogs()[0].name);
    EXPECT_EQ(0u, desktop.dialogs()[0].options);
    EXPECT_EQ(pattern(10, 2), desktop.file("C:\\dl\\chosen.bin")->bytes);
    EXPECT_EQ(pattern(2500, 1), desktop.file("C:\\dl\\first.bin")->bytes);
    const auto sleeps = clock.recordedSleeps();
    EXPECT_EQ(6, std::count(sleeps.begin(), sleeps.end(), 32u));
    expectFilesClosed();
}

TEST_F(DownloadTest, IntoAFolderHoldingTheName_ExistingFileUntouchedAndNoFurtherRows) {
    desktop.addFile("C:\\dl\\first.bin", {9, 9});
    select({"first.bin", "second.txt"});
    desktop.answerSave("C:\\dl\\second.txt");
    commands->downloadFiles();
    EXPECT_EQ("File download...second.txt ok\r\nFile download...first.bin Fail: cannot create file\r\n", log.text());
    EXPECT_EQ((Bytes{9, 9}), desktop.file("C:\\dl\\first.bin")->bytes);
    expectFilesClosed();
}

TEST_F(DownloadTest, CancelledDialog_ComesAfterThePhoneFileIsOpenAndSought_WhichItClosesAgain) {
    select({"second.txt"});
    clock.recordSleeps();
    bool openDuringDialog = false;
    std::size_t pausesBeforeDialog = 0;
    desktop.whileDialog = [&] {
        openDuringDialog = phoneFileOpen();
        const auto sleeps = clock.recordedSleeps();
        pausesBeforeDialog = static_cast<std::size_t>(std::count(sleeps.begin(), sleeps.end(), 32u));
    };
    desktop.cancelNextDialog();
    const std::uint32_t before = commandCount();
    commands->downloadFiles();
    EXPECT_EQ("File download...second.txt Canceled.\r\n", log.text());
    EXPECT_TRUE(openDuringDialog);
    EXPECT_EQ(2u, pausesBeforeDialog); // after the open and after the seek
    EXPECT_EQ(before + 3, commandCount()); // open, seek, close
    EXPECT_TRUE(desktop.filesIn("C:\\pc").empty());
    EXPECT_EQ(0u, desktop.filesHandedOut());
    EXPECT_FALSE(phoneFileOpen());
}

TEST_F(DownloadTest, PhoneFileThatCannotBeOpenedOrSought_CostsNoSaveDialog) {
    struct Case {
        std::uint32_t failingCommand; // of this download: open, then seek
        const char* log;
    } cases[] = {
        {1, "File download...second.txtGENERIC FAILURE\r\n Fail: cannot open file\r\n"},
        {2, "File download...second.txtGENERIC FAILURE\r\n Fail: cannot seek to zero\r\n"},
    };
    for (const Case& c : cases) {
        log.clear();
        fault("status=7#" + std::to_string(commandCount() + c.failingCommand));
        select({"first.bin", "second.txt"}); // second.txt first: the list shows the records last first
        commands->downloadFiles(); // a dialog shown here would find no answer and fail the test
        EXPECT_EQ(c.log, log.text()) << c.failingCommand;
        EXPECT_TRUE(desktop.dialogs().empty()) << c.failingCommand;
        EXPECT_EQ(0u, desktop.filesHandedOut()) << c.failingCommand;
        EXPECT_FALSE(phoneFileOpen()) << c.failingCommand;
    }
}

TEST_F(DownloadTest, RowOfSizeZero_EndsTheDownload) {
    select({"empty.dat", "first.bin"});
    commands->downloadFiles();
    EXPECT_EQ("File download...empty.dat Fail: file size invalid\r\n", log.text());
    EXPECT_TRUE(desktop.dialogs().empty());
}

TEST_F(DownloadTest, NothingSelected_SaysSoAndNeverRefreshes) {
    autoUpdate = 1;
    commands->downloadFiles();
    EXPECT_EQ("No files selected.\r\n", log.text());
}

TEST_F(DownloadTest, PhoneFailsAfterTheFileWasCreated_NoPcFileLeftAndThePhoneFileClosed) {
    struct Case {
        std::uint32_t failingCommand; // of this download: open, seek, then the pieces
        const char* log;
    } cases[] = {
        {3, "File download...first.binGENERIC FAILURE\r\n Fail: cannot read file\r\n"}, // the first piece
        {4, "File download...first.binGENERIC FAILURE\r\n Fail: cannot read file\r\n"}, // the second piece
    };
    for (const Case& c : cases) {
        log.clear();
        fault("status=7#" + std::to_string(commandCount() + c.failingCommand));
        select({"first.bin"});
        desktop.answerSave("C:\\dl\\first.bin");
        commands->downloadFiles();
        EXPECT_EQ(c.log, log.text()) << c.failingCommand;
        EXPECT_FALSE(desktop.exists("C:\\dl\\first.bin")) << c.failingCommand;
        EXPECT_FALSE(phoneFileOpen()) << c.failingCommand;
        expectFilesClosed();
    }
}

TEST_F(DownloadTest, PhoneReplacedWhileTheSaveDialogIsOpen_NoPcFileAndNothingSent) {
    select({"first.bin", "second.txt"});
    std::uint32_t before = 0;
    desktop.answerSave("C:\\dl\\second.txt");
    desktop.whileDialog = [&] {
        reconnect();
        before = commandCount();
    };
    commands->downloadFiles();
    // The file was opened on the phone that went; neither its read nor its close reaches the new one.
    EXPECT_EQ("File download...second.txtUSB: IO Failed!\r\nCMD: Data write fail!\r\n"
              "USB: IO Failed!\r\nCMD: Data write fail!\r\n Fail: cannot read file\r\n",
              log.text());
    EXPECT_EQ(before, commandCount());
    EXPECT_TRUE(desktop.filesIn("C:\\dl").empty());
    expectFilesClosed();
}

TEST_F(DownloadTest, SizeTheListClaims_IsNeverAllocated_TheFileStreamsInPieces) {
    // A list claiming almost 4 GiB for a 2500-byte file: the download asks for pieces until the
    // phone runs short, and never sets aside the size claimed.
    fault("listsize=0xFFFFFFF0@0x4a/7*1");
    refresh();
    std::vector<std::size_t> allocations;
    static std::vector<std::size_t>* seen = nullptr;
    seen = &allocations;
    FileOperations operations(*session, *views, Desktop{desktop, desktop, controls, progress, desktop}, [] { return 0; },
                              [](std::size_t n) {
                                  seen->push_back(n);
                                  return std::unique_ptr<std::uint8_t[]>();
                              });
    select({"first.bin"});
    const std::uint32_t before = commandCount();
    desktop.answerSave("C:\\dl\\first.bin");
    operations.downloadFiles();
    EXPECT_EQ("File download...first.bin Fail: cannot read file\r\n", log.text());
    EXPECT_TRUE(allocations.empty());
    EXPECT_FALSE(desktop.exists("C:\\dl\\first.bin"));
    EXPECT_FALSE(phoneFileOpen());
    // Open, seek, three pieces (the third comes back short), close.
    EXPECT_EQ(before + 6, commandCount());
}

TEST_F(DownloadTest, FullDisk_ThePartFileIsRemovedButAnEarlierFileStays) {
    select({"first.bin", "second.txt"});
    desktop.setDiskSpace(10 + 100); // room for the second file and part of the first
    desktop.answerSave("C:\\dl\\second.txt");
    commands->downloadFiles();
    EXPECT_EQ("File download...second.txt ok\r\nFile download...first.bin Fail: cannot write\r\n", log.text());
    EXPECT_EQ(std::vector<std::string>{"second.txt"}, desktop.filesIn("C:\\dl"));
    expectFilesClosed();
}

TEST_F(DownloadTest, FailedWriteWhoseRemovalFails_LeavesTheFileAndStillSaysSo) {
    select({"second.txt"});
    desktop.setWriteFails(true);
    desktop.setRemoveFails(true);
    desktop.answerSave("C:\\dl\\second.txt");
    commands->downloadFiles();
    EXPECT_EQ("File download...second.txt Fail: cannot write\r\n", log.text());
    EXPECT_TRUE(desktop.exists("C:\\dl\\second.txt"));
    expectFilesClosed();
}

TEST_F(DownloadTest, DeviceName_IsSavedAsAnOrdinaryFile) {
    select({"nul"});
    desktop.answerSave("C:\\dl\\_nul");
    commands->downloadFiles();
    EXPECT_EQ("_nul", desktop.dialogs()[0].name);
    EXPECT_EQ(pattern(3, 3), desktop.file("C:\\dl\\_nul")->bytes);
}

TEST(PcFileNameTest, KeepsTheWholeLastComponentAndMakesItAWindowsName) {
    EXPECT_EQ("ring.mp3", pcFileName("/a/mobile/audio/ring.mp3"));
    EXPECT_EQ("x.tar.gz", pcFileName("x.tar.gz"));
    EXPECT_EQ("a_b_c_d_e_f_g_h_i_.txt", pcFileName("a\\b:c*d?e\"f<g>h|i\x01.txt"));
    EXPECT_EQ("name", pcFileName("name. . "));
    EXPECT_EQ("_nul", pcFileName("/a/nul"));
    EXPECT_EQ("_Com1.txt", pcFileName("Com1.txt"));
    EXPECT_EQ("_lpt9", pcFileName("lpt9"));
    EXPECT_EQ("_aux .x", pcFileName("aux .x"));
    EXPECT_EQ("com10", pcFileName("com10"));
    EXPECT_EQ("nullish", pcFileName("nullish"));
    EXPECT_EQ("_", pcFileName(""));
    EXPECT_EQ("_", pcFileName("/a/b/"));
    EXPECT_EQ("_", pcFileName("."));
    EXPECT_EQ("_", pcFileName(".."));
    EXPECT_EQ("..x", pcFileName("..x"));
}

// --- Delete

class DeleteTest : public OperationsTest {
protected:
    void SetUp() override {
        auto p = flatPhone();
        p.files = {makeFile("f3", {3}), makeFile("f2", {2}), makeFile("f1", {1})};
        connect(p);
        refresh();
    }
};

TEST_F(DeleteTest, ThreeRowsNoOnTheSecond_FirstDeletedRestLeftAndNoRefresh) {
    autoUpdate = 1;
    select({"f1", "f2", "f3"});
    desktop.answerQuestion(true);
    desktop.answerQuestion(false);
    commands->deleteFiles();
    EXPECT_EQ("Deleting file f1 ok\r\nDeleting file f2 Canceled.\r\n", log.text());
    EXPECT_EQ((std::vector<std::string>{"A you sure you want to delete file f1 ?",
                                        "A you sure you want to delete file f2 ?"}),
              desktop.questions());
    EXPECT_FALSE(phoneFile("f1"));
    EXPECT_TRUE(phoneFile("f2"));
    EXPECT_TRUE(phoneFile("f3"));
}

TEST_F(DeleteTest, PhoneRefuses_FailEndsTheDeleteWithoutRefresh) {
    autoUpdate = 1;
    fault("status=7@0x4a/5");
    select({"f1", "f2"});
    desktop.answerQuestion(true);
    commands->deleteFiles();
    EXPECT_EQ("Deleting file f1GENERIC FAILURE\r\n Fail!\r\n", log.text());
}

TEST_F(DeleteTest, NothingSelected_SaysSoThenRefreshesWhenAutomatic) {
    commands->deleteFiles();
    EXPECT_EQ("No files selected.\r\n", log.text());
    log.clear();
    autoUpdate = 1;
    commands->deleteFiles();
    EXPECT_EQ("No files selected.\r\nReceiving file list... ok\r\nFiles found: 3\r\n", log.text());
}

TEST_F(DeleteTest, ListReplacedWhileTheQuestionIsOpen_DeletesTheFileAskedAboutAndStops) {
    // What an unguarded link change would do during the message box: the list's block and
    // every row replaced.
    select({"f1", "f2"});
    desktop.whileAsking = [this] { views->refreshFileList(); };
    desktop.answerQuestion(true);
    commands->deleteFiles();
    EXPECT_FALSE(phoneFile("f1"));
    EXPECT_TRUE(phoneFile("f2"));
    EXPECT_EQ(1u, desktop.questions().size());
}

TEST_F(DeleteTest, PhoneReplacedWhileTheQuestionIsOpen_NothingReachesTheNewPhone) {
    select({"f1", "f2"});
    std::uint32_t before = 0;
    desktop.whileAsking = [&] {
        reconnect();
        before = commandCount();
    };
    desktop.answerQuestion(true);
    autoUpdate = 1;
    commands->deleteFiles();
    EXPECT_EQ("Deleting file f1USB: IO Failed!\r\nCMD: Data write fail!\r\n Fail!\r\n", log.text());
    EXPECT_EQ(before, commandCount());
    EXPECT_TRUE(phoneFile("f1"));
    EXPECT_TRUE(phoneFile("f2"));
    for (const auto& row : list.rows) EXPECT_TRUE(session->files.entryAt(row.data)); // no row on a freed record
}

// --- Attributes

class AttributeTest : public OperationsTest {
protected:
    void SetUp() override {
        auto p = flatPhone();
        p.files = {makeFile("x1", {1}), makeFile("x2", {2})};
        connect(p);
        refresh();
    }
    std::optional<std::uint32_t> changeTo(const std::string& field) {
        controls.fields[EditField::Attribute] = field;
        tap->clear();
        log.clear();
        commands->changeAttributes();
        return sentOpenAttribute(tap->requests(), "x1");
    }
};

TEST_F(AttributeTest, FieldIsDecimal_UpTo65536AsItStandsAnythingElseZero) {
    select({"x1"});
    EXPECT_EQ(32u, changeTo("32"));
    EXPECT_EQ(" Changing attrib for file x1 ok\r\n", log.text());
    EXPECT_EQ(0x10000u, changeTo("65536"));
    EXPECT_EQ(0u, changeTo("65537"));
    EXPECT_EQ(0u, changeTo("abc"));
    EXPECT_EQ(0u, changeTo("12abc"));
    EXPECT_EQ(0u, changeTo(""));
    EXPECT_EQ(0u, changeTo("99999999999999999999"));
    EXPECT_FALSE(phoneFileOpen());
}

TEST_F(AttributeTest, FailedRowIsPassedOver_NextRowsStillChangedThenRefreshed) {
    autoUpdate = 1;
    controls.fields[EditField::Attribute] = "4";
    fault("status=7@0x4a/0*1");
    select({"x1", "x2"});
    commands->changeAttributes();
    EXPECT_EQ(" Changing attrib for file x2GENERIC FAILURE\r\n Changing attrib for file x1 ok\r\n"
              "Receiving file list... ok\r\nFiles found: 2\r\n",
              log.text());
}

TEST_F(AttributeTest, NothingSelected_SaysSo) {
    commands->changeAttributes();
    EXPECT_EQ("No files selected.\r\n", log.text());
}

// --- Rows of an earlier connection

constexpr const char* kEarlierList = "The list is from an earlier connection: Update list first.\r\n";

TEST_F(OperationsTest, RowsReadBeforeAReplug_EveryOperationRefusesThemUntilTheListIsReadAgain) {
    auto p = flatPhone();
    p.files = {makeFile("f1", pattern(10, 1)), makeFile("f2", pattern(10, 2))};
    connect(p);
    refresh();
    desktop.addFolder("C:\\dl");
    autoUpdate = 1; // a refusal is no change: nothing to refresh
    controls.fields[EditField::Attribute] = "4";
    reconnect(); // the same phone again, or another: the rows name files of the one that went
    select({"f1"});

    const std::pair<const char*, void (FileOperations::*)()> operations[] = {
        {"download", &FileOperations::downloadFiles},
        {"delete", &FileOperations::deleteFiles},
        {"change attributes", &FileOperations::changeAttributes},
    };
    for (const auto& [what, operation] : operations) {
        log.clear();
        const std::uint32_t before = commandCount();
        ((*commands).*operation)();
        EXPECT_EQ(kEarlierList, log.text()) << what;
        EXPECT_EQ(before, commandCount()) << what;
    }
    EXPECT_TRUE(desktop.dialogs().empty());
    EXPECT_TRUE(desktop.questions().empty());
    EXPECT_EQ(0, driver->withPhone([](sim::VirtualPhone& phone) { return phone.fileSystem().find("f1")->attribute; }));

    // Read on this connection, the rows are good again.
    autoUpdate = 0;
    refresh();
    select({"f1"});
    desktop.answerSave("C:\\dl\\f1");
    commands->downloadFiles();
    EXPECT_EQ("File download...f1 ok\r\n", log.text());
    EXPECT_EQ(pattern(10, 1), desktop.file("C:\\dl\\f1")->bytes);
}

class EarlierTreeTest : public OperationsTest {
protected:
    void SetUp() override {
        auto p = sim::treePhoneProfile();
        p.files = {makeFile("/a/b/old.txt", pattern(10, 1)), makeFile("/a/c/old.txt", pattern(10, 2))};
        connect(p);
        refresh();
        desktop.addFile("D:\\song.mp3", pattern(10, 5));
    }
    TreeNode folder(const char* name) { return tree.child(views->rootNode(), name); }
};

TEST_F(EarlierTreeTest, UploadIntoAFolderOfTheEarlierList_IsRefusedBeforeAnythingIsSent_TheRootStillTakesFiles) {
    reconnect();
    tree.select(folder("b"));
    std::uint32_t before = commandCount();
    commands->uploadFiles();
    commands->uploadDroppedFiles({"D:\\song.mp3"}, folder("c"));
    commands->uploadDroppedFiles({"D:\\song.mp3"}, 0); // into the selected folder, b
    EXPECT_EQ(std::string(kEarlierList) + kEarlierList + kEarlierList, log.text());
    EXPECT_EQ(before, commandCount());
    EXPECT_TRUE(desktop.dialogs().empty());

    // The root is the volume of the phone attached now, not a folder of the list.
    log.clear();
    tree.select(views->rootNode());
    commands->uploadDroppedFiles({"D:\\song.mp3"}, 0);
    EXPECT_EQ("File upload... /a/song.mp3 ok\r\n", log.text());

    refresh();
    commands->uploadDroppedFiles({"D:\\song.mp3"}, folder("c"));
    EXPECT_EQ("File upload... /a/c/song.mp3 ok\r\n", log.text());
    EXPECT_EQ(pattern(10, 5), phoneFile("/a/c/song.mp3"));
}

TEST_F(EarlierTreeTest, RefreshFailingOnTheNewConnectionBeforeTheListArrives_LeavesTheOldRowsRefused) {
    reconnect();
    fault("status=7#" + std::to_string(commandCount() + 1)); // the count
    EXPECT_EQ(-1, views->refreshFileList());
    tree.select(folder("b")); // the old list's records, shown again
    select({"old.txt"});
    log.clear();
    const std::uint32_t before = commandCount();
    commands->deleteFiles();
    EXPECT_EQ(kEarlierList, log.text());
    EXPECT_EQ(before, commandCount());
}

TEST_F(EarlierTreeTest, RefreshFailingPartWayOnThisConnection_TheRowsItGotAreThisConnections) {
    reconnect();
    fault("status=7#" + std::to_string(commandCount() + 3)); // the count, the first chunk, then the second
    driver->withPhone([](sim::VirtualPhone& phone) {
        // Listed after the two there were: the first chunk brings those.
        for (int i = 0; i < 40; ++i) phone.fileSystem().add(makeFile("/a/b/n" + std::to_string(i), {1}));
        return 0;
    });
    EXPECT_EQ(-1, views->refreshFileList());
    tree.select(folder("b"));
    select({"old.txt"});
    log.clear();
    desktop.answerQuestion(true);
    commands->deleteFiles();
    EXPECT_EQ("Deleting file /a/b/old.txt ok\r\n", log.text());
}

} // namespace
} // namespace telvane
