// Back up and restore as the window runs them: the questions asked before anything is written,
// the log's lines, a restore cut short, the rows around a command's own list; on the virtual
// phone and a real PC folder.
#include <filesystem>
#include <set>

#include "backup/backup_folder.h"
#include "backup/pc_store.h"
#include "ui/operations_fixture.h"
#include "ui/whole_phone/restore_question.h"
#include "ui/whole_phone/whole_phone_commands.h"

namespace telvane {
namespace {

namespace stdfs = std::filesystem;
using test::OperationsTest;
using Bytes = std::vector<std::uint8_t>;

// The backup layer puts each journal line on the disk before it goes on: in a folder in memory
// (where the system has one; Wine shows Linux's as Z:\dev\shm) a backup of the seems 0000-0300
// takes milliseconds instead of seconds.
stdfs::path scratchBase() {
    for (const char* memory : {"/dev/shm", "Z:\\dev\\shm"}) {
        std::error_code error;
        if (stdfs::is_directory(memory, error)) return memory;
    }
    return stdfs::temp_directory_path();
}

// A backup folder of the test's own, removed with it.
class ScratchFolder {
public:
    ScratchFolder() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = scratchBase() / ("telvane-whole-phone-" + std::string(test->name()));
        stdfs::remove_all(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        stdfs::remove_all(path_, ignored);
    }
    const stdfs::path& path() const { return path_; }
    std::string text() const { return path_.string(); }
    // Every file and folder below it, with each file's size.
    std::set<std::string> contents() const {
        std::set<std::string> found;
        for (const auto& entry : stdfs::recursive_directory_iterator(path_))
            found.insert(entry.path().lexically_relative(path_).generic_string() +
                         (entry.is_regular_file() ? " " + std::to_string(entry.file_size()) : "/"));
        return found;
    }

private:
    stdfs::path path_;
};

class WholePhoneTest : public OperationsTest {
protected:
    static sim::PhoneProfile phone(std::string model = "Sim F") {
        sim::PhoneProfile p = flatPhone();
        p.model = std::move(model);
        p.files = {{"keep.bin", 0, 0, pattern(3000, 1)}, {"note.txt", 4, 0, pattern(20, 2)}};
        p.seems = {{0x60, 1, {1, 2, 3}}, {0x60, 2, {4}}};
        return p;
    }
    void open(const sim::PhoneProfile& profile) {
        connect(profile);
        commands = std::make_unique<WholePhoneCommands>(*session, log, desktop, progress, desktop);
    }
    void backUp() {
        desktop.answerFolder(folder.text());
        commands->backUpPhone();
    }
    std::vector<backup::Snapshot> snapshots() { return backup::BackupFolder(folder.path()).snapshots(); }

    ScratchFolder folder;
    std::unique_ptr<WholePhoneCommands> commands;
};

TEST_F(WholePhoneTest, FolderOfAnotherPhone_AskedBeforeAnythingIsWritten_NoLeavesIt_YesBacksUpBeside) {
    open(phone("Sim G"));
    backUp();
    const auto before = folder.contents();
    const std::string dir = folder.text();

    open(phone("Sim F"));
    log.clear();
    desktop.answerQuestion(false);
    backUp();
    EXPECT_EQ("Backup of Sim F in " + dir +
                  " not made: the folder holds another phone's backup: its backup is of Sim G (a), the phone is "
                  "Sim F (a)\r\n",
              log.text());
    ASSERT_EQ(1u, desktop.questions().size());
    EXPECT_EQ(dir + " holds another phone's backup: its backup is of Sim G (a), the phone is Sim F (a).\r\n\r\n"
                    "Back up Sim F there all the same?",
              desktop.questions()[0]);
    EXPECT_EQ("Back up phone", desktop.questionCaptions()[0]);
    EXPECT_EQ(before, folder.contents());

    // Nor is it restored onto this phone; the layer's hint for the command line is left out.
    log.clear();
    desktop.answerFolder(dir);
    commands->restoreBackup();
    EXPECT_EQ("Planning the restore of Sim F from " + dir + "...\r\n" + backup::pathText(folder.path()) +
                  " Fail: not this phone's backup: its backup is of Sim G (a), the phone is Sim F (a)\r\n"
                  "Restore of Sim F from " + dir + " not started (see above)\r\n",
              log.text());

    log.clear();
    desktop.answerQuestion(true);
    backUp();
    EXPECT_EQ("Backing up Sim F into " + dir + "...\r\nBackup of Sim F in " + dir + ": 2 files, 3 seem records ok\r\n",
              log.text());
    const auto made = snapshots();
    ASSERT_EQ(2u, made.size());
    EXPECT_EQ("Sim F", made[1].manifest.model);
    // Each dialog opened in the folder chosen last; only a backup's may be a new one.
    const auto& dialogs = desktop.folderDialogs();
    ASSERT_EQ(4u, dialogs.size());
    EXPECT_EQ("", dialogs[0].folder);
    EXPECT_EQ(dir, dialogs[3].folder);
    EXPECT_TRUE(dialogs[0].mayBeNew);
    EXPECT_EQ("Restore from backup", dialogs[2].title);
    EXPECT_FALSE(dialogs[2].mayBeNew);
}

TEST_F(WholePhoneTest, Restore_NoWritesNothing_AStopNamesTheFileCutShort_TheNextRestoreCompletesIt) {
    sim::PhoneProfile p = phone();
    p.files.push_back({"big.bin", 0, 0, pattern(9000, 5)});
    open(p);
    backUp();
    driver->withPhone([](sim::VirtualPhone& phone) { phone.fileSystem().remove("big.bin"); });
    const std::string dir = folder.text();
    const std::string opening = "Planning the restore of Sim F from " + dir + "...\r\n";

    log.clear();
    desktop.answerFolder(dir);
    desktop.answerQuestion(false);
    commands->restoreBackup();
    EXPECT_EQ(opening + "Restore of Sim F from " + dir + " not made: nothing written\r\n", log.text());
    EXPECT_FALSE(phoneFile("big.bin"));

    // Esc once two pieces of big.bin are on the phone.
    desktop.stopWhen = [&] {
        const auto written = phoneFile("big.bin");
        return written && written->size() >= 2048;
    };
    log.clear();
    desktop.answerFolder(dir);
    desktop.answerQuestion(true);
    commands->restoreBackup();
    EXPECT_EQ(opening + "Restore of Sim F from " + dir +
                  " stopped: big.bin is incomplete on the phone; Restore from backup again completes it\r\n",
              log.text());
    ASSERT_TRUE(phoneFile("big.bin"));
    EXPECT_LT(phoneFile("big.bin")->size(), 9000u);

    desktop.stopWhen = nullptr;
    log.clear();
    desktop.answerFolder(dir);
    desktop.answerQuestion(true);
    commands->restoreBackup();
    EXPECT_NE(std::string::npos, desktop.questions()[2].find("0 files to upload, 0 to replace, 1 cut short to write "
                                                             "again; 0 seem records to write."));
    EXPECT_EQ(opening + "Restore of Sim F from " + dir + ": 1 file, 0 seem records written ok\r\n", log.text());
    EXPECT_EQ(pattern(9000, 5), phoneFile("big.bin"));
}

TEST_F(WholePhoneTest, ListReadByACommand_TheRowsPointIntoTheNewRecords_TheTreeKeepsItsFolder) {
    open(sim::treePhoneProfile());
    refresh();
    tree.select(tree.child(tree.child(views->rootNode(), "mobile"), "picture"));
    const auto pictures = list.column(0);
    ASSERT_FALSE(pictures.empty());
    views->setRowsAside();
    EXPECT_EQ(0, list.rowCount());
    ASSERT_EQ(0, session->files.readFileList(session->fs, progress)); // as a backup reads it
    views->showRowsAgain();
    EXPECT_EQ(pictures, list.column(0));
    for (const auto& row : list.rows) EXPECT_TRUE(session->files.entryAt(row.data)) << row.cells[0];
    EXPECT_EQ("", log.text());
}

TEST(RestoreQuestionTest, CountsFreeSpaceAndTheFirstLinesOfAPlanTooLongForTheBox) {
    backup::RestorePlan plan;
    plan.snapshot.name = "2026-12-10T014730Z";
    plan.freeBefore = 50000;
    plan.freeAfter = 20000;
    for (int i = 0; i < 14; ++i) {
        backup::RestorePlan::File f;
        f.entry.phone = "/a/f" + std::to_string(i);
        f.entry.size = 10;
        f.action = i < 12 ? backup::FileAction::Upload : backup::FileAction::Replace;
        plan.files.push_back(f);
    }
    backup::RestorePlan::Seem seem;
    seem.entry.seem = 0x60;
    seem.entry.record = 1;
    seem.bytes = {1, 2};
    seem.action = backup::SeemAction::Write;
    plan.seems.push_back(seem);

    std::string expected = "Restore from backup C:\\bk\\2026-12-10T014730Z onto ZX-7?\r\n\r\n"
                           "12 files to upload, 2 to replace; 1 seem records to write.\r\n"
                           "Free space: 50000 bytes before, 20000 after.\r\n";
    for (int i = 0; i < 12; ++i) expected += "\r\nupload /a/f" + std::to_string(i) + " (10 bytes)";
    expected += "\r\nand 3 more";
    EXPECT_EQ(expected, restoreQuestion(plan, "C:\\bk", "ZX-7"));
    EXPECT_EQ("/home/u/bk/2026-12-10T014730Z", snapshotText("/home/u/bk/", "2026-12-10T014730Z"));
}

} // namespace
} // namespace telvane
