#include <fstream>
#include <map>
#include <set>

#include "link/command_transport.h"
#include "services/fs_commands.h"

#include "backup/backup_folder.h"
#include "backup/pc_names.h"
#include "backup/pc_store.h"
#include "cli_fixture.h"

namespace telvane::test {
namespace {

namespace stdfs = std::filesystem;

struct PhoneState {
    std::map<std::string, std::pair<std::uint16_t, std::vector<std::uint8_t>>> files; // name: attribute, bytes
    std::map<std::pair<int, int>, std::vector<std::uint8_t>> seems;
};

PhoneState stateOf(sim::VirtualDriver& driver) {
    return driver.withPhone([](sim::VirtualPhone& phone) {
        PhoneState state;
        for (const auto& f : phone.fileSystem().files()) state.files[f.name] = {f.attribute, f.bytes};
        for (int seem : {0x32, 0x105, 0x117, 0x200})
            for (int record = 1; record <= 4; ++record)
                if (const auto* bytes = phone.seems().get(static_cast<std::uint16_t>(seem),
                                                          static_cast<std::uint16_t>(record)))
                    state.seems[{seem, record}] = *bytes;
        return state;
    });
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const stdfs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Temporary files of the tool anywhere but in its own folder.
bool anyPartLeft(const stdfs::path& folder) {
    for (const auto& entry : stdfs::recursive_directory_iterator(folder)) {
        const std::string path = entry.path().string();
        if (path.find(backup::kToolFolderName) == std::string::npos && path.find(".telvane") != std::string::npos)
            return true;
    }
    return false;
}

std::vector<backup::Snapshot> snapshotsIn(const std::string& folder) {
    return backup::BackupFolder(folder).snapshots();
}

// Replaces a phone file's bytes (or adds it).
void putOnPhone(sim::VirtualDriver& driver, const std::string& name, const std::string& text, std::uint16_t attribute = 0) {
    driver.withPhone([&](sim::VirtualPhone& phone) {
        phone.fileSystem().remove(name);
        return phone.fileSystem().add(sim::PhoneFile{name, attribute, 0, {text.begin(), text.end()}});
    });
}

// A command frame carrying a piece of a phone file.
bool isFileWrite(std::span<const std::uint8_t> input) {
    return input.size() > frame::kPayloadOffset + 4 && input[frame::kOpcodeOffset + 1] == 0x4A &&
           input[frame::kPayloadOffset + 3] == fs::kWrite;
}

// A phone file's bytes as text ("" when it is not there).
std::string onPhone(sim::VirtualDriver& driver, const std::string& name) {
    const auto files = stateOf(driver).files;
    const auto it = files.find(name);
    return it == files.end() ? "" : std::string(it->second.second.begin(), it->second.second.end());
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class BackupRoundTrip : public CliTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BackupRoundTrip, RestoreOntoAFreshPhone_GivesItTheSameFilesAttributesAndSeems) {
    usePhone(GetParam());
    const bool tree = std::string(GetParam()) == "tree";
    const std::string deleted = tree ? "/a/notes.txt" : "notes.txt";
    writeFile(path("new.bin"), std::string("\x00\x01\xff new file", 13));
    writeFile(path("seem.bin"), "\x09\x08\x07\x06");
    ASSERT_EQ(0, run({"put", path("new.bin")})) << err();
    ASSERT_EQ(0, run({"attr", tree ? "mobile/video/clip.3gp" : "readme", "1f"})) << err();
    ASSERT_EQ(0, run({"seem", "put", "32", "1", path("seem.bin")})) << err();
    ASSERT_EQ(0, run({"rm", "-y", deleted})) << err();
    const PhoneState before = stateOf(driver());

    ASSERT_EQ(0, run({"backup", path("bk")})) << err();
    ASSERT_EQ(1u, snapshotsIn(path("bk")).size());
    EXPECT_FALSE(anyPartLeft(folder_));

    usePhone(GetParam());
    ASSERT_EQ(0, run({"restore", path("bk"), "--force"})) << err();
    const PhoneState after = stateOf(driver());
    for (const auto& [name, file] : before.files) {
        ASSERT_TRUE(after.files.count(name)) << name;
        EXPECT_EQ(file, after.files.at(name)) << name;
    }
    EXPECT_EQ(before.seems, after.seems);

    // The fresh phone still has the file deleted before the backup: verify names just that.
    EXPECT_EQ(1, run({"verify", path("bk")}));
    EXPECT_TRUE(out().starts_with("differs: " + deleted + ": not in the backup\n1 difference between")) << out();
    // A second restore has nothing left to do.
    ASSERT_EQ(0, run({"restore", path("bk")})) << err();
    EXPECT_TRUE(has(out(), "restored: 0 files written, 0 kept; 0 seem records written")) << out();
}

INSTANTIATE_TEST_SUITE_P(Profiles, BackupRoundTrip, ::testing::Values("tree", "flat"));

TEST_F(CliTest, FaultMidBackup_PublishesNothing_ASecondRunTakesUpWhatTheFirstFetchedWhole) {
    addFault("status=7@0x4a/1*1"); // the first file's first read is refused
    EXPECT_EQ(1, run({"backup", path("bk"), "--seems", "0030-0210"}));
    EXPECT_TRUE(has(err(), "/a/mobile/audio/ring.mp3: cannot read file")) << err();
    EXPECT_TRUE(has(out(), "backup incomplete: 1 failed")) << out();
    EXPECT_TRUE(snapshotsIn(path("bk")).empty()) << "nothing claims to be a whole backup";
    EXPECT_FALSE(anyPartLeft(folder_));

    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0210"})) << err();
    EXPECT_TRUE(has(out(), "10 files, 5 seem records (9 files taken from the run that was cut short)")) << out();
    EXPECT_FALSE(stdfs::exists(path("bk/.telvane/staging")));
    EXPECT_EQ(0, run({"verify", path("bk")})) << out() << err();
    EXPECT_TRUE(has(out(), "verified: 10 files and 5 seem records of ")) << out();
}

TEST_F(CliTest, ASecondBackup_ReadsEveryByteAgain_AndHoldsAFileThatChangedButKeptItsSize) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    const std::size_t size = stateOf(driver()).files.at("/a/notes.txt").second.size();
    putOnPhone(driver(), "/a/notes.txt", std::string("changed, the same size").substr(0, size), 0);
    ASSERT_EQ(size, stateOf(driver()).files.at("/a/notes.txt").second.size());
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    const auto snapshots = snapshotsIn(path("bk"));
    ASSERT_EQ(2u, snapshots.size());
    const std::string changed = std::string("changed, the same size").substr(0, size);
    EXPECT_EQ(changed, readFile(snapshots.back().folder / "files/notes.txt"));
    EXPECT_NE(changed, readFile(snapshots.front().folder / "files/notes.txt"))
        << "the earlier backup is as it was";
    EXPECT_EQ(0, run({"verify", path("bk")})) << out();
    // An unchanged file is not stored twice where the disk can link it.
    EXPECT_EQ(stdfs::hard_link_count(snapshots.back().folder / "files/mobile/audio/ring.mp3"), 2u);
}

TEST_F(CliTest, ANewFileWhosePcNameADeletedOneHad_GetsItsOwnPath_AndIsRestoredWithItsOwnBytes) {
    usePhone("flat");
    putOnPhone(driver(), "a_b", "the old file's bytes");
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    driver().withPhone([](sim::VirtualPhone& phone) { return phone.fileSystem().remove("a_b"); });
    putOnPhone(driver(), "a:b", "the new file");
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    const backup::Snapshot newest = snapshotsIn(path("bk")).back();
    for (const auto& f : newest.manifest.files) {
        if (f.phone == "a:b") {
            EXPECT_EQ("files/a_b~2", f.pc);
        }
    }
    EXPECT_EQ("the new file", readFile(newest.folder / "files/a_b~2"));

    usePhone("flat");
    ASSERT_EQ(0, run({"restore", path("bk"), "--force"})) << err();
    EXPECT_EQ("the new file", onPhone(driver(), "a:b"));
}

TEST_F(CliTest, NamesThatDifferOnlyInCase_KeepAFileEach) {
    for (const char* name : {"/a/x.txt", "/a/X.TXT", "/a/Dir/y", "/a/dir/Y"}) putOnPhone(driver(), name, name);
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    const backup::Snapshot newest = snapshotsIn(path("bk")).back();
    std::set<std::string> folded;
    int checked = 0;
    for (const auto& f : newest.manifest.files) {
        EXPECT_TRUE(folded.insert(backup::foldCase(f.pc)).second) << f.pc;
        if (f.phone.starts_with("/a/x") || f.phone.starts_with("/a/X") || f.phone.find("ir/") != std::string::npos) {
            EXPECT_EQ(f.phone, readFile(newest.folder / backup::pcPath(f.pc))) << f.pc;
            ++checked;
        }
    }
    EXPECT_EQ(4, checked);
}

TEST_F(CliTest, AnInterruptedSecondBackup_LeavesTheEarlierOneWholeForVerifyAndRestore) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    putOnPhone(driver(), "/a/notes.txt", "new bytes, another size");
    addFault("unplug@0x4a/1#" + std::to_string(driver().commandCount() + 40)); // part-way through the files
    EXPECT_EQ(1, run({"backup", path("bk"), "--seems", "0030-0040"}));
    ASSERT_EQ(1u, snapshotsIn(path("bk")).size());
    EXPECT_EQ(0, run({"verify", "--offline", path("bk")})) << out() << err();
    driver().plug();
    ASSERT_EQ(0, run({"restore", path("bk"), "--force"})) << err();
    EXPECT_NE("new bytes, another size", onPhone(driver(), "/a/notes.txt"));
}

TEST_F(CliTest, AnotherPhonesBackup_OrItsUnfinishedRun_IsRefusedAndLeftAlone_UnlessOtherPhoneSaysSo) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    usePhone("flat");
    EXPECT_EQ(1, run({"backup", path("bk"), "--no-seems"}));
    EXPECT_TRUE(has(err(), "holds another phone's backup: its backup is of Sim T1 (/a), the phone is Sim F1 (a)"))
        << err();
    EXPECT_EQ(1u, snapshotsIn(path("bk")).size());

    // The same model and volume, but a seem record of another size: another phone all the same.
    usePhone("tree");
    driver().withPhone([](sim::VirtualPhone& phone) { return phone.seems().put(0x32, 2, {1, 2, 3}); });
    EXPECT_EQ(1, run({"backup", path("bk")}));
    EXPECT_TRUE(has(err(), "seem record 0032_0002 is 64 bytes there, 3 on this phone")) << err();
    EXPECT_EQ(0, run({"verify", "--offline", path("bk")})) << "refused, and left as it was";

    // A first run cut short leaves no manifest, and still keeps another phone out.
    addFault("status=7@0x4a/1*1");
    EXPECT_EQ(1, run({"backup", path("fresh"), "--no-seems"}));
    usePhone("flat");
    EXPECT_EQ(1, run({"backup", path("fresh"), "--no-seems"}));
    EXPECT_TRUE(has(err(), "holds an unfinished backup of Sim T1 (/a)")) << err();
    ASSERT_EQ(0, run({"backup", path("fresh"), "--no-seems", "--other-phone"})) << err();
    EXPECT_EQ("Sim F1", snapshotsIn(path("fresh")).back().manifest.model);
}

TEST_F(CliTest, TheToolsTemporaryNames_NeverTouchAFileOfTheUsers) {
    writeFile(path("out/.notes.txt.telvane-part"), "");
    stdfs::create_directories(path("out"));
    writeFile(path("out/.notes.txt.telvane-part"), "the user's own file");
    ASSERT_EQ(0, run({"get", "/a/notes.txt", "-o", path("out")})) << err();
    EXPECT_EQ("the user's own file", readFile(path("out/.notes.txt.telvane-part")));
    // In a backup, the phone's own file of such a name is a file like any other.
    putOnPhone(driver(), "/a/.notes.txt.telvane-part", "a phone file");
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    EXPECT_EQ("a phone file", readFile(snapshotsIn(path("bk")).back().folder / "files/.notes.txt.telvane-part"));
}

TEST_F(CliTest, GetOfSeveralNamesThatMeetOnThePc_WritesEachToAFileOfItsOwn) {
    for (const char* name : {"/a/d/a:b", "/a/d/a_b", "/a/d/a?b", "/a/d/A_B"}) putOnPhone(driver(), name, name);
    ASSERT_EQ(0, run({"get", "-r", "/a/d", "-o", path("out"), "--force"})) << err();
    EXPECT_EQ("/a/d/a:b", readFile(path("out/d/a_b")));
    EXPECT_EQ("/a/d/a_b", readFile(path("out/d/a_b~2")));
    EXPECT_EQ("/a/d/a?b", readFile(path("out/d/a_b~3")));
    EXPECT_EQ("/a/d/A_B", readFile(path("out/d/A_B~4")));
    ASSERT_EQ(0, run({"get", "/a/d/a:b", "/a/d/a_b", "-o", path("two")})) << err();
    EXPECT_EQ("/a/d/a_b", readFile(path("two/a_b~2")));
}

TEST_F(CliTest, RestoreStoppedMidFile_KeepsThePhoneFile_NamesItIncomplete_AndTheNextRunRewritesIt) {
    std::string big(5000, 'x');
    putOnPhone(driver(), "/a/big.bin", big);
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    putOnPhone(driver(), "/a/big.bin", std::string(5000, 'y'));
    // Ctrl+C once the second piece of the file is on its way.
    int pieces = 0;
    onRequest_ = [&](std::span<const std::uint8_t> input) {
        if (isFileWrite(input) && ++pieces == 2) interrupted_ = true;
    };
    EXPECT_EQ(1, run({"restore", path("bk"), "--force"}));
    onRequest_ = {};
    EXPECT_TRUE(has(out(), "incomplete: /a/big.bin was cut short on the phone; run the restore again")) << out();
    const auto cut = stateOf(driver()).files;
    ASSERT_TRUE(cut.count("/a/big.bin")) << "never deleted";

    interrupted_ = false;
    // Its size may now be anything, the bytes too: the journal, not the size, says it is unfinished.
    ASSERT_EQ(0, run({"restore", path("bk")})) << out() << err();
    EXPECT_TRUE(has(out(), "rewrite /a/big.bin (5000 bytes): an earlier restore cut it short")) << out();
    EXPECT_EQ(big, onPhone(driver(), "/a/big.bin"));
    EXPECT_FALSE(stdfs::exists(path("bk/.telvane/restore-journal.jsonl")));
}

TEST_F(CliTest, RestoreCutByAFailedWrite_IsIncomplete_NotKept) {
    putOnPhone(driver(), "/a/big.bin", std::string(3000, 'x'));
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    putOnPhone(driver(), "/a/big.bin", std::string(3000, 'y'));
    addFault("status=7@0x4a/2*1"); // the phone refuses the first piece
    EXPECT_EQ(1, run({"restore", path("bk"), "--force"}));
    EXPECT_TRUE(has(err(), "/a/big.bin: cannot write file")) << err();
    EXPECT_TRUE(has(err(), "it is incomplete on the phone: run the restore again")) << err();
    answer_ = false; // nobody would be asked about it: it is rewritten
    ASSERT_EQ(0, run({"restore", path("bk")})) << out() << err();
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(std::string(3000, 'x'), onPhone(driver(), "/a/big.bin"));
}

TEST_F(CliTest, CtrlCAtTheReplaceQuestion_EndsItAsNo_AndLeavesThePhoneFile) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    putOnPhone(driver(), "/a/notes.txt", "the phone's own notes");
    const PhoneState before = stateOf(driver());
    // The question is ended by the interrupt; a "yes" typed after it does not count.
    answer_ = true;
    interruptOnQuestion_ = true;
    EXPECT_EQ(1, run({"restore", path("bk")}));
    EXPECT_EQ(1u, questions_.size());
    EXPECT_EQ(before.files, stateOf(driver()).files);
}

TEST_F(CliTest, PutOfAFileLargerThanThePhoneHolds_IsRefusedBeforeItIsRead) {
    {
        std::ofstream huge(path("huge.bin"), std::ios::binary);
    }
    stdfs::resize_file(path("huge.bin"), 3ull << 30); // sparse: no disk, but 3 GiB to read
    EXPECT_EQ(1, run({"put", path("huge.bin")}));
    EXPECT_TRUE(has(err(), "huge.bin: file size invalid (")) << err();
}

TEST_F(CliTest, DryRunAndRestore_PrintOnePlan_WithTheFreeSpaceCountedOverEveryFile) {
    putOnPhone(driver(), "/a/one.bin", std::string(4000, '1'));
    putOnPhone(driver(), "/a/two.bin", std::string(4000, '2'));
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    driver().withPhone([](sim::VirtualPhone& phone) {
        phone.fileSystem().remove("/a/one.bin");
        phone.fileSystem().remove("/a/two.bin");
        phone.fileSystem().setFreeSpace(6000); // room for one of them, not both
        return 0;
    });
    EXPECT_EQ(1, run({"restore", path("bk"), "--dry-run"}));
    const std::string planned = out();
    EXPECT_TRUE(has(planned, "would upload /a/one.bin (4000 bytes)\n")) << planned;
    EXPECT_TRUE(has(planned, "would refuse /a/two.bin: no room: 2000 bytes free when its turn comes\n")) << planned;
    EXPECT_EQ(1, run({"restore", path("bk")}));
    std::string done = out();
    // The same plan, without the "would".
    std::string expected = planned;
    for (std::size_t at; (at = expected.find("would ")) != std::string::npos;) expected.erase(at, 6);
    EXPECT_TRUE(done.starts_with(expected)) << done;
    EXPECT_TRUE(stateOf(driver()).files.count("/a/one.bin"));
    EXPECT_FALSE(stateOf(driver()).files.count("/a/two.bin"));
}

TEST_F(CliTest, APhoneNameAsLongAsThePhoneAllows_IsBackedUpAndRestored) {
    const std::string name = "/a/" + std::string(255, '\xe9');
    putOnPhone(driver(), name, "long");
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    driver().withPhone([&](sim::VirtualPhone& phone) { return phone.fileSystem().remove(name); });
    ASSERT_EQ(0, run({"restore", path("bk")})) << err();
    EXPECT_TRUE(stateOf(driver()).files.count(name));
}

TEST_F(CliTest, ASeemReadThePhoneAnswersWithAStatus_EndsThatSeem_AFailedExchangeFailsTheBackup) {
    // Up to the seems, a backup into an empty folder sends what one without seems sends.
    std::uint32_t mark = driver().commandCount();
    ASSERT_EQ(0, run({"backup", path("probe"), "--no-seems"})) << err();
    const std::uint32_t upToSeems = driver().commandCount() - mark;
    // Seem 0032 record 0001 is the third record read (after 0030 and 0031): the phone refuses it.
    addFault("status=5#" + std::to_string(driver().commandCount() + upToSeems + 3) + "*1");
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    EXPECT_TRUE(snapshotsIn(path("bk")).back().manifest.seems.empty()) << "that seem ends there, as in the window";

    const std::uint32_t before = driver().commandCount();
    ASSERT_EQ(0, run({"backup", path("first"), "--seems", "0030-0040"})) << err();
    const std::uint32_t perRun = driver().commandCount() - before;
    // The same run again: its last command reads seem 0040, which the phone does not have.
    addFault("readfail#" + std::to_string(driver().commandCount() + perRun) + "*1");
    EXPECT_EQ(1, run({"backup", path("second"), "--seems", "0030-0040"}));
    EXPECT_TRUE(has(err(), "seem 0040 record 0001: cannot read the record")) << err();
    EXPECT_TRUE(snapshotsIn(path("second")).empty());
}

TEST_F(CliTest, DryRunRestore_SaysWhatItWouldChange_AndChangesNothing) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    driver().withPhone([](sim::VirtualPhone& phone) {
        phone.fileSystem().remove("/a/notes.txt");
        phone.seems().put(0x32, 1, {0xAA, 0xBB, 0xCC, 0xDD});
        return 0;
    });
    putOnPhone(driver(), "/a/mobile/audio/ring.mp3", "other bytes");
    const PhoneState changed = stateOf(driver());
    const std::uint32_t commands = driver().commandCount();

    EXPECT_EQ(0, run({"restore", path("bk"), "--dry-run"})) << err();
    EXPECT_TRUE(has(out(), "would upload /a/notes.txt (22 bytes)\n")) << out();
    EXPECT_TRUE(has(out(), "would replace (asks first) /a/mobile/audio/ring.mp3 (2500 bytes)\n")) << out();
    EXPECT_TRUE(has(out(), "would write seem 0032 record 0001 (4 bytes)\n")) << out();
    EXPECT_FALSE(has(out(), "seem 0032 record 0002")) << "an unchanged record is not written";
    EXPECT_FALSE(has(out(), "alarm.mid")) << "an unchanged file is not written";
    EXPECT_EQ(changed.files, stateOf(driver()).files);
    EXPECT_EQ(changed.seems, stateOf(driver()).seems);
    EXPECT_GT(driver().commandCount(), commands); // it did read the phone to compare
}

TEST_F(CliTest, Restore_AsksBeforeReplacing_AndRefusesASeemRecordOfAnotherSize) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    driver().withPhone([](sim::VirtualPhone& phone) { return phone.seems().put(0x32, 1, {1, 2, 3, 4, 5}); });
    putOnPhone(driver(), "/a/mobile/audio/ring.mp3", std::string(2500, 'r'));

    answer_ = false;
    EXPECT_EQ(1, run({"restore", path("bk")}));
    ASSERT_EQ(1u, questions_.size());
    EXPECT_EQ("Replace /a/mobile/audio/ring.mp3 on the phone?", questions_.at(0));
    EXPECT_TRUE(has(out(), "kept /a/mobile/audio/ring.mp3 (on the phone with other bytes)")) << out();
    EXPECT_TRUE(has(err(), "seem 0032 record 0001: refused: 5 bytes on the phone, 4 in the backup")) << err();
    const PhoneState after = stateOf(driver());
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3, 4, 5}), after.seems.at({0x32, 1}));
}

TEST_F(CliTest, Verify_NamesEachDifferenceOnce_AndOfflineFindsADamagedCopy) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    const stdfs::path snapshot = snapshotsIn(path("bk")).back().folder;
    putOnPhone(driver(), "/a/notes.txt", "virtual phone notes.\r\n", 0x20);
    ASSERT_EQ(0, run({"attr", "/a/mobile/audio/alarm.mid", "7"})) << err();
    stdfs::resize_file(snapshot / "files/mobile/video/clip.3gp", 10);
    EXPECT_EQ(1, run({"verify", path("bk")}));
    EXPECT_TRUE(has(out(), "differs: /a/notes.txt: attribute 32 on the phone, 0 in the backup; bytes differ\n"))
        << out();
    EXPECT_TRUE(has(out(), "differs: /a/mobile/audio/alarm.mid: attribute 7 on the phone, 1 in the backup\n"))
        << out();
    EXPECT_TRUE(has(out(), "differs: /a/mobile/video/clip.3gp: files/mobile/video/clip.3gp in the backup is "
                           "damaged or missing\n"))
        << out();
    EXPECT_TRUE(has(out(), "3 differences between the phone and the backup")) << out();

    EXPECT_EQ(1, run({"verify", "--offline", path("bk")}));
    EXPECT_EQ("damaged: /a/mobile/video/clip.3gp: files/mobile/video/clip.3gp is damaged: not the bytes the backup "
              "recorded\n",
              out().substr(0, out().find('\n') + 1));
}

TEST_F(CliTest, AHostileManifest_IsNeverAPlaceToWrite) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    const stdfs::path manifest = snapshotsIn(path("bk")).back().folder / "manifest.json";
    std::string text = readFile(manifest);
    // Its paths point outside the folder: the manifest is refused, and no backup writes there.
    for (std::size_t at; (at = text.find("\"files/")) != std::string::npos;) text.replace(at, 7, "\"../../");
    stdfs::remove(manifest);
    writeFile(manifest.string(), text);
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    EXPECT_TRUE(has(out(), "not a backup, left as it is")) << out();
    EXPECT_FALSE(stdfs::exists(path("notes.txt")));
    EXPECT_FALSE(stdfs::exists(folder_.parent_path() / "notes.txt"));
}

} // namespace
} // namespace telvane::test

namespace telvane::test {
namespace {

TEST_F(CliTest, ABackupOfTheFirstFormat_AtTheTopWithoutHashes_IsStillVerifiedAndRestored) {
    ASSERT_EQ(0, run({"backup", path("new"), "--seems", "0030-0040"})) << err();
    const stdfs::path snapshot = snapshotsIn(path("new")).back().folder;
    // The layout earlier versions wrote: files/, seems/ and a manifest of format 1 in the folder itself.
    stdfs::create_directories(path("old"));
    stdfs::copy(snapshot / "files", path("old/files"), stdfs::copy_options::recursive);
    stdfs::copy(snapshot / "seems", path("old/seems"), stdfs::copy_options::recursive);
    std::string text = readFile(snapshot / "manifest.json");
    text.replace(text.find("\"format\": 2"), 11, "\"format\": 1");
    for (std::size_t at; (at = text.find(",\n      \"sha256\"")) != std::string::npos;)
        text.erase(at, text.find('"', text.find(':', at) + 3) + 1 - at);
    writeFile(path("old/manifest.json"), text);
    ASSERT_EQ(1u, snapshotsIn(path("old")).size());
    ASSERT_EQ(1, snapshotsIn(path("old")).back().manifest.format) << text;

    EXPECT_EQ(0, run({"verify", path("old")})) << out() << err();
    EXPECT_EQ(0, run({"verify", "--offline", path("old")})) << out() << err();
    EXPECT_TRUE(has(out(), "only sizes were checked")) << out();
    driver().withPhone([](sim::VirtualPhone& phone) { return phone.fileSystem().remove("/a/notes.txt"); });
    ASSERT_EQ(0, run({"restore", path("old")})) << err();
    EXPECT_EQ(readFile(path("old/files/notes.txt")), onPhone(driver(), "/a/notes.txt"));
    // A new backup goes beside it, as a snapshot of its own; the old one stays as it is.
    ASSERT_EQ(0, run({"backup", path("old"), "--seems", "0030-0040"})) << err();
    EXPECT_EQ(2u, snapshotsIn(path("old")).size());
    EXPECT_TRUE(stdfs::exists(path("old/manifest.json")));
}

} // namespace
} // namespace telvane::test

#include <csignal>
#include <sys/resource.h>

namespace telvane::test {
namespace {

// A disk that fills up part-way through a run: every file write past the limit fails (as with
// no space left), for this process only.
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes) {
        previousSignal_ = std::signal(SIGXFSZ, SIG_IGN); // a write past it fails instead of killing
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FullDisk() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousSignal_);
    }

private:
    rlimit previous_{};
    void (*previousSignal_)(int) = nullptr;
};

TEST_F(CliTest, ADiskThatFillsUpMidBackup_FailsIt_AndLeavesTheEarlierBackupWhole) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    const auto before = snapshotsIn(path("bk"));
    putOnPhone(driver(), "/a/mobile/audio/ring.mp3", std::string(2500, 'n'));
    {
        const FullDisk full(2000); // ring.mp3's 2500 bytes no longer fit
        EXPECT_EQ(1, run({"backup", path("bk"), "--seems", "0030-0040"}));
    }
    EXPECT_TRUE(has(err(), "/a/mobile/audio/ring.mp3: cannot write")) << err();
    const auto after = snapshotsIn(path("bk"));
    ASSERT_EQ(1u, after.size()) << "nothing claims to be a whole backup";
    EXPECT_EQ(before.back().name, after.back().name);
    EXPECT_EQ(0, run({"verify", "--offline", path("bk")})) << out();
    // With room again, the next run finishes and holds the phone's new bytes.
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    EXPECT_EQ(std::string(2500, 'n'), readFile(snapshotsIn(path("bk")).back().folder / "files/mobile/audio/ring.mp3"));
}

} // namespace
} // namespace telvane::test
