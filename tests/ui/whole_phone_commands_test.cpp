// Back up, verify and restore as the window runs them: the folder dialog, the questions asked
// before anything is written, the log's lines and the progress bar, on the virtual phone and a
// real PC folder.
#include <filesystem>
#include <set>

#include "backup/backup_folder.h"
#include "backup/pc_store.h"
#include "ui/operations_fixture.h"
#include "ui/whole_phone/restore_question.h"
#include "ui/whole_phone/whole_phone_commands.h"
#include "ui/whole_phone/window_reporter.h"

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
    void changePhone(const std::string& name, Bytes bytes) {
        driver->withPhone([&](sim::VirtualPhone& p) {
            p.fileSystem().remove(name);
            p.fileSystem().add({name, 0, 0, std::move(bytes)});
        });
    }
    std::vector<backup::Snapshot> snapshots() { return backup::BackupFolder(folder.path()).snapshots(); }
    std::vector<std::string> phoneNames() {
        return driver->withPhone([](sim::VirtualPhone& p) {
            std::vector<std::string> names;
            for (const sim::PhoneFile& f : p.fileSystem().files()) names.push_back(f.name);
            return names;
        });
    }

    ScratchFolder folder;
    std::unique_ptr<WholePhoneCommands> commands;
};

TEST_F(WholePhoneTest, BackUpThenVerify_EachAnOpeningAndAClosingLine_TheDialogsRememberTheFolder) {
    open(phone());
    backUp();
    const std::string dir = folder.text();
    EXPECT_EQ("Backing up Sim F into " + dir + "...\r\nBackup of Sim F in " + dir + ": 2 files, 3 seem records ok\r\n",
              log.text());
    ASSERT_EQ(1u, snapshots().size());
    EXPECT_EQ(2u, snapshots()[0].manifest.files.size());
    // The bar ran over the bytes and the seems 0000-0300, to its end.
    EXPECT_EQ((std::pair<std::uint32_t, std::uint32_t>{0, 3020 + 0x301 * WindowReporter::kItemWeight}), progress.range);
    EXPECT_EQ(progress.range.second, progress.positions.back());

    log.clear();
    desktop.answerFolder(dir);
    commands->verifyBackup();
    EXPECT_EQ("Verifying " + dir + " against Sim F...\r\nVerify of " + dir +
                  ": 2 files, 3 seem records equal the phone ok\r\n",
              log.text());
    EXPECT_TRUE(desktop.warnings().empty());

    ASSERT_EQ(2u, desktop.folderDialogs().size());
    EXPECT_EQ("Back up phone", desktop.folderDialogs()[0].title);
    EXPECT_EQ("", desktop.folderDialogs()[0].folder);
    EXPECT_TRUE(desktop.folderDialogs()[0].mayBeNew); // a new folder for a first backup
    EXPECT_EQ("Verify backup", desktop.folderDialogs()[1].title);
    EXPECT_EQ(dir, desktop.folderDialogs()[1].folder);
    EXPECT_FALSE(desktop.folderDialogs()[1].mayBeNew);

    // A cancelled dialog: nothing said, nothing written.
    log.clear();
    const auto before = folder.contents();
    desktop.answerFolder("");
    commands->backUpPhone();
    EXPECT_EQ("", log.text());
    EXPECT_EQ(before, folder.contents());
}

TEST_F(WholePhoneTest, Verify_OneLinePerDifferenceThenTheirCountAndAWarning) {
    open(phone());
    backUp();
    Bytes changed = pattern(3000, 1);
    changed[1500] ^= 0xFF;
    changePhone("keep.bin", changed);
    driver->withPhone([](sim::VirtualPhone& p) { p.seems().put(0x60, 2, {5}); });
    log.clear();
    desktop.answerFolder(folder.text());
    commands->verifyBackup();
    const std::string dir = folder.text();
    EXPECT_EQ("Verifying " + dir + " against Sim F...\r\n"
              "keep.bin: bytes differ\r\n"
              "seem 0060 record 0002: bytes differ from offset 0\r\n"
              "Verify of " + dir + ": 2 differences\r\n",
              log.text());
    ASSERT_EQ(1u, desktop.warnings().size());
    EXPECT_EQ("Verify backup: The phone differs from the backup in " + snapshotText(dir, snapshots()[0].name) +
                  ": 2 differences, each named in the log.",
              desktop.warnings()[0]);
}

TEST_F(WholePhoneTest, FolderOfAnotherPhone_AskedBeforeAnythingIsWritten_NoLeavesIt_YesBacksUpBeside) {
    open(phone("Sim G"));
    backUp();
    const auto before = folder.contents();

    open(phone("Sim F"));
    desktop.answerQuestion(false);
    backUp();
    const std::string dir = folder.text();
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

    log.clear();
    desktop.answerQuestion(true);
    backUp();
    EXPECT_EQ("Backing up Sim F into " + dir + "...\r\nBackup of Sim F in " + dir + ": 2 files, 3 seem records ok\r\n",
              log.text());
    const auto made = snapshots();
    ASSERT_EQ(2u, made.size());
    EXPECT_EQ("Sim G", made[0].manifest.model);
    EXPECT_EQ("Sim F", made[1].manifest.model);
}

TEST_F(WholePhoneTest, Restore_ThePlanIsAskedFirst_NoWritesNothing_YesMakesThePhoneTheBackup) {
    open(phone());
    backUp();
    changePhone("keep.bin", pattern(100, 9));
    driver->withPhone([](sim::VirtualPhone& p) {
        p.fileSystem().remove("note.txt");
        p.seems().put(0x60, 1, {7, 7, 7});
    });
    const std::string dir = folder.text();

    log.clear();
    desktop.answerFolder(dir);
    desktop.answerQuestion(false);
    commands->restoreBackup();
    EXPECT_EQ("Planning the restore of Sim F from " + dir + "...\r\nRestore of Sim F from " + dir +
                  " not made: nothing written\r\n",
              log.text());
    EXPECT_EQ(pattern(100, 9), phoneFile("keep.bin"));
    EXPECT_FALSE(phoneFile("note.txt"));
    ASSERT_EQ(1u, desktop.questions().size());
    const std::string& question = desktop.questions()[0];
    EXPECT_EQ(0u, question.find("Restore from backup " + dir));
    EXPECT_NE(std::string::npos, question.find(" onto Sim F?\r\n\r\n1 files to upload, 1 to replace; 1 seem records to "
                                               "write.\r\nFree space: "));
    EXPECT_NE(std::string::npos, question.find("\r\nreplace keep.bin (3000 bytes)"));
    EXPECT_NE(std::string::npos, question.find("\r\nupload note.txt (20 bytes)"));
    EXPECT_NE(std::string::npos, question.find("\r\nwrite seem 0060 record 0001 (3 bytes)"));
    EXPECT_EQ("Restore from backup", desktop.questionCaptions()[0]);

    log.clear();
    progress.positions.clear();
    desktop.answerFolder(dir);
    desktop.answerQuestion(true);
    commands->restoreBackup();
    EXPECT_EQ("Planning the restore of Sim F from " + dir + "...\r\nRestore of Sim F from " + dir +
                  ": 2 files, 1 seem record written ok\r\n",
              log.text());
    EXPECT_EQ(pattern(3000, 1), phoneFile("keep.bin"));
    EXPECT_EQ(pattern(20, 2), phoneFile("note.txt"));
    EXPECT_EQ((Bytes{1, 2, 3}), driver->withPhone([](sim::VirtualPhone& p) { return *p.seems().get(0x60, 1); }));
    EXPECT_EQ((std::pair<std::uint32_t, std::uint32_t>{0, 3020 + WindowReporter::kItemWeight}), progress.range);
    EXPECT_EQ(progress.range.second, progress.positions.back());

    // Nothing left to do: said, and nothing asked.
    log.clear();
    desktop.answerFolder(dir);
    commands->restoreBackup();
    EXPECT_EQ("Planning the restore of Sim F from " + dir + "...\r\nRestore of Sim F from " + dir +
                  ": the phone already equals the backup ok\r\n",
              log.text());
    EXPECT_EQ(2u, desktop.questions().size());
}

TEST_F(WholePhoneTest, RestoreStoppedInAFile_NamesItAsIncomplete_TheNextRestoreCompletesIt) {
    sim::PhoneProfile p = phone();
    p.files.push_back({"big.bin", 0, 0, pattern(9000, 5)});
    open(p);
    backUp();
    driver->withPhone([](sim::VirtualPhone& phone) { phone.fileSystem().remove("big.bin"); });
    const std::string dir = folder.text();

    log.clear();
    // Esc once two pieces of big.bin are on the phone.
    desktop.stopWhen = [&] {
        const auto written = phoneFile("big.bin");
        return written && written->size() >= 2048;
    };
    desktop.answerFolder(dir);
    desktop.answerQuestion(true);
    commands->restoreBackup();
    EXPECT_EQ("Planning the restore of Sim F from " + dir + "...\r\nRestore of Sim F from " + dir +
                  " stopped: big.bin is incomplete on the phone; Restore from backup again completes it\r\n",
              log.text());
    ASSERT_TRUE(phoneFile("big.bin"));
    EXPECT_LT(phoneFile("big.bin")->size(), 9000u);

    desktop.stopWhen = nullptr;
    log.clear();
    desktop.answerFolder(dir);
    desktop.answerQuestion(true);
    commands->restoreBackup();
    EXPECT_NE(std::string::npos, desktop.questions()[1].find("0 files to upload, 0 to replace, 1 cut short to write again;"));
    EXPECT_NE(std::string::npos, desktop.questions()[1].find("\r\nrewrite big.bin (9000 bytes): an earlier restore cut it short"));
    EXPECT_EQ("Planning the restore of Sim F from " + dir + "...\r\nRestore of Sim F from " + dir +
                  ": 1 file, 0 seem records written ok\r\n",
              log.text());
    EXPECT_EQ(pattern(9000, 5), phoneFile("big.bin"));
}

TEST_F(WholePhoneTest, ListReadByACommand_RowsPointIntoTheNewRecords_AndTheTreeKeepsItsFolder) {
    open(phone());
    refresh();
    const auto names = list.column(0);
    views->setRowsAside();
    EXPECT_EQ(0, list.rowCount());
    ASSERT_EQ(0, session->files.readFileList(session->fs, progress)); // as a backup reads it
    views->showRowsAgain();
    EXPECT_EQ(names, list.column(0));
    for (const auto& row : list.rows) EXPECT_TRUE(session->files.entryAt(row.data)) << row.cells[0];

    // Tree mode: the selected folder's files again, from the new records.
    open(sim::treePhoneProfile());
    refresh();
    tree.select(tree.child(tree.child(views->rootNode(), "mobile"), "picture"));
    const auto pictures = list.column(0);
    ASSERT_FALSE(pictures.empty());
    views->setRowsAside();
    ASSERT_EQ(0, session->files.readFileList(session->fs, progress));
    views->showRowsAgain();
    EXPECT_EQ(pictures, list.column(0));
    for (const auto& row : list.rows) EXPECT_TRUE(session->files.entryAt(row.data)) << row.cells[0];
    EXPECT_EQ("", log.text()); // nothing logged of it
}

// --- The pieces

TEST(WindowReporterTest, FailuresAndDifferencesInTheWindowsStyle_WithoutTheCommandLinesHints) {
    test::CaptureLog log;
    test::FakeProgress progress;
    test::FakeDesktop desktop;
    WindowReporter failures(log, progress, desktop, WindowReporter::Findings::Failures);
    failures.failed("C:\\bk", "holds another phone's backup: ... (--other-phone backs this phone up there all the same)");
    failures.failed("a.bin", "cannot open file");
    WindowReporter differences(log, progress, desktop, WindowReporter::Findings::Differences);
    differences.failed("b.bin", "missing on the phone");
    differences.say("1 difference between the phone and the backup");
    EXPECT_EQ("C:\\bk Fail: holds another phone's backup: ...\r\na.bin Fail: cannot open file\r\n"
              "b.bin: missing on the phone\r\n",
              log.text());
    EXPECT_EQ(2u, failures.failures());
    EXPECT_EQ(1u, differences.said().size()); // kept, not logged
}

TEST(WindowReporterTest, TheBarCoversBytesAndRecords_AStopStaysAndNamesTheItemItCut) {
    test::CaptureLog log;
    test::FakeProgress progress;
    test::FakeDesktop desktop;
    constexpr std::uint64_t kRecord = WindowReporter::kItemWeight;
    {
        // A backup counts whole seems.
        WindowReporter reporter(log, progress, desktop, WindowReporter::Findings::Failures);
        reporter.plannedTotal(5000, 3);
        reporter.beginItem("a.bin", 5000);
        reporter.moved(5000);
        reporter.endItem();
        reporter.beginItem("seem 0001 record 0001", 0);
        reporter.endItem(); // a record of a seem: the seem counts once it is whole
        EXPECT_EQ(5000u, progress.positions.back());
        reporter.seemDone();
        EXPECT_EQ(5000 + kRecord, progress.positions.back());
        EXPECT_EQ(5000 + 3 * kRecord, progress.range.second);
    }
    {
        // A restore counts its records one by one.
        WindowReporter reporter(log, progress, desktop, WindowReporter::Findings::Failures);
        reporter.expectItems(2);
        reporter.plannedTotal(100, 0);
        EXPECT_EQ(100 + 2 * kRecord, progress.range.second);
        reporter.beginItem("seem 0060 record 0001", 0);
        reporter.endItem();
        EXPECT_EQ(kRecord, progress.positions.back());

        int asked = 0;
        desktop.stopWhen = [&] { return ++asked == 2; };
        reporter.beginItem("big.bin", 100);
        EXPECT_FALSE(reporter.stopRequested());
        EXPECT_TRUE(reporter.stopRequested());
        reporter.endItem();
        EXPECT_TRUE(reporter.stopRequested()); // stays asked, without asking again
        EXPECT_EQ(2, asked);
        EXPECT_EQ("big.bin", reporter.stoppedIn());
    }
    {
        // A stop between two items cuts none short.
        desktop.stopWhen = [] { return true; };
        WindowReporter reporter(log, progress, desktop, WindowReporter::Findings::Failures);
        EXPECT_TRUE(reporter.stopRequested());
        EXPECT_EQ("", reporter.stoppedIn());
    }
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
    backup::RestorePlan::File same;
    same.action = backup::FileAction::Unchanged;
    plan.files.push_back(same);
    backup::RestorePlan::Seem seem;
    seem.entry.seem = 0x60;
    seem.entry.record = 1;
    seem.bytes = {1, 2};
    seem.action = backup::SeemAction::Write;
    plan.seems.push_back(seem);

    const std::string text = restoreQuestion(plan, "C:\\bk", "ZX-7");
    std::string expected = "Restore from backup C:\\bk\\2026-12-10T014730Z onto ZX-7?\r\n\r\n"
                           "12 files to upload, 2 to replace; 1 seem records to write.\r\n"
                           "Free space: 50000 bytes before, 20000 after.\r\n";
    for (int i = 0; i < 12; ++i) expected += "\r\nupload /a/f" + std::to_string(i) + " (10 bytes)";
    expected += "\r\nand 3 more";
    EXPECT_EQ(expected, text);

    const PlanCounts counts = countPlan(plan);
    EXPECT_EQ(14u, counts.files());
    EXPECT_TRUE(counts.anything());
    EXPECT_FALSE(countPlan(backup::RestorePlan{}).anything());

    // The snapshot as the user names the folder; a first-format backup is the folder itself.
    EXPECT_EQ("/home/u/bk/2026-12-10T014730Z", snapshotText("/home/u/bk/", "2026-12-10T014730Z"));
    EXPECT_EQ("C:\\bk", snapshotText("C:\\bk", ""));
}

} // namespace
} // namespace telvane
