// Whole-phone backups on the Windows file system, through telvane-cli in this process: names
// the phone tells apart only by case, PC paths past 260 characters, and the lock that keeps a
// second run out of a backup folder.
#include <map>
#include <set>

#include "backup/backup_folder.h"
#include "backup/pc_names.h"
#include "backup/pc_store.h"
#include "cli/cli_fixture.h"

namespace telvane::test {
namespace {

namespace stdfs = std::filesystem;

using PhoneFiles = std::map<std::string, std::string>; // phone name: bytes

PhoneFiles filesOn(sim::VirtualDriver& driver) {
    return driver.withPhone([](sim::VirtualPhone& phone) {
        PhoneFiles files;
        for (const auto& f : phone.fileSystem().files()) files[f.name] = std::string(f.bytes.begin(), f.bytes.end());
        return files;
    });
}

std::string readPcFile(const stdfs::path& path) {
    backup::PcFileReader reader;
    if (!reader.open(path)) return "(cannot be opened)";
    std::string bytes(static_cast<std::size_t>(reader.size()), '\0');
    const auto n = reader.read({reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
    return n && *n == bytes.size() ? bytes : "(cannot be read)";
}

class WindowsBackupTest : public CliTest {
protected:
    // std::filesystem::remove_all cannot open the deep folders here.
    void TearDown() override {
        EXPECT_TRUE(backup::removePcTree(folder_));
        CliTest::TearDown();
    }

    // Each name holds its own text, so a file written over another shows.
    void putOnPhone(const std::vector<std::string>& names) {
        driver().withPhone([&](sim::VirtualPhone& phone) {
            for (const std::string& name : names)
                EXPECT_TRUE(phone.fileSystem().add(sim::PhoneFile{name, 0, 0, {name.begin(), name.end()}})) << name;
            return 0;
        });
    }
    void removeFromPhone(const std::string& name) {
        driver().withPhone([&](sim::VirtualPhone& phone) { return phone.fileSystem().remove(name); });
    }

    backup::Snapshot newest() {
        const auto all = backup::BackupFolder(path("bk")).snapshots();
        return all.empty() ? backup::Snapshot{} : all.back();
    }

    // Backs the phone up and checks the snapshot: a PC file of its own, with its bytes, for every
    // phone file, and nothing else. Returns the snapshot.
    backup::Snapshot backUpWhole() {
        const PhoneFiles phone = filesOn(driver());
        EXPECT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
        const backup::Snapshot snapshot = newest();
        EXPECT_EQ(phone.size(), snapshot.manifest.files.size());
        std::set<std::string> folded;
        for (const auto& f : snapshot.manifest.files) {
            EXPECT_TRUE(folded.insert(backup::foldCase(f.pc)).second) << f.pc << " shared ignoring case";
            const std::string name = backup::utf8ToLatin1(f.phone).value_or(f.phone);
            EXPECT_EQ(phone.at(name), readPcFile(snapshot.folder / backup::pcPath(f.pc))) << f.pc;
        }
        const auto stored = backup::pcFilesBelow(snapshot.folder / "files");
        EXPECT_EQ(phone.size(), stored ? stored->size() : 0u);
        EXPECT_EQ(0, run({"verify", "--offline", path("bk")})) << out() << err();
        // A finished run leaves no journal, though Windows removes no file still open.
        EXPECT_FALSE(backup::pcPathExists(path("bk/.telvane/backup-journal.jsonl")));
        return snapshot;
    }

    // Restores the backup onto a fresh phone, which has none of the files the test put on the
    // one backed up: every file comes back as it was.
    void restoreOntoAFreshPhone(const PhoneFiles& expected) {
        usePhone("tree");
        ASSERT_EQ(0, run({"restore", path("bk"), "--force"})) << err();
        EXPECT_EQ(expected, filesOn(driver()));
        EXPECT_FALSE(backup::pcPathExists(path("bk/.telvane/restore-journal.jsonl")));
    }
};

TEST_F(WindowsBackupTest, NamesThatDifferOnlyInCase_KeepAPcFileEach_AndAllComeBack) {
    // A file and a folder named alike are one name on Windows too.
    putOnPhone({"/a/x.txt", "/a/X.TXT", "/a/Dir/y", "/a/dir/Y", "/a/DIR"});
    const PhoneFiles before = filesOn(driver());
    backUpWhole();
    restoreOntoAFreshPhone(before);
}

// Past 260 characters on the PC: a file in folders whose own path is that long, and a name
// longer than a PC name may be (shortened).
const std::string kDeepFile =
    "/a/" + std::string(90, 'd') + "/" + std::string(90, 'e') + "/" + std::string(60, 'f') + "/deep.bin";
const std::string kLongName = "/a/" + std::string(250, 'n') + ".txt";

TEST_F(WindowsBackupTest, PathsPast260Characters_AreBackedUpVerifiedAndRestored) {
    putOnPhone({kDeepFile, kLongName});
    const PhoneFiles before = filesOn(driver());
    const backup::Snapshot snapshot = backUpWhole();
    for (const auto& f : snapshot.manifest.files) {
        const stdfs::path file = stdfs::absolute(snapshot.folder / backup::pcPath(f.pc));
        const stdfs::path longest = f.phone == kDeepFile ? file.parent_path() : file;
        if (f.phone == kDeepFile || f.phone == kLongName) {
            EXPECT_GT(longest.native().size(), 260u) << f.pc;
        }
    }
    restoreOntoAFreshPhone(before);
}

TEST_F(WindowsBackupTest, DeepFilesOfARunCutShort_OrOfAPrunedSnapshot_AreRemovedWhole) {
    putOnPhone({kDeepFile});
    addFault("status=7@0x4a/1*1"); // the first file's first read is refused: the run fetches the rest
    ASSERT_EQ(1, run({"backup", path("bk"), "--no-seems"}));
    // The deep file the cut run fetched is gone from the phone when the next run finishes it.
    removeFromPhone(kDeepFile);
    const backup::Snapshot first = backUpWhole();
    const stdfs::path deepCopy = first.folder / "files" / backup::pcPath(kDeepFile.substr(3));
    EXPECT_FALSE(backup::pcPathExists(deepCopy));

    putOnPhone({kDeepFile});
    const backup::Snapshot withDeepFile = backUpWhole();
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems", "--keep", "1"})) << err();
    EXPECT_FALSE(backup::pcPathExists(first.folder));
    EXPECT_FALSE(backup::pcPathExists(withDeepFile.folder)) << "deep folders and all";
    EXPECT_EQ(1u, backup::BackupFolder(path("bk")).snapshots().size());
    // The one kept shared its files with those removed.
    EXPECT_EQ(0, run({"verify", "--offline", path("bk")})) << out() << err();
}

TEST_F(WindowsBackupTest, ABackupFolderHeldByAnotherRun_IsRefusedUntilThatRunEnds) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    auto other = std::make_unique<backup::FolderLock>();
    ASSERT_TRUE(other->acquire(backup::BackupFolder(path("bk")).toolFolder()));
    EXPECT_EQ(1, run({"backup", path("bk"), "--no-seems"}));
    EXPECT_NE(err().find("another telvane run is working in this folder"), std::string::npos) << err();
    EXPECT_EQ(1, run({"restore", path("bk"), "--force"}));
    other.reset();
    EXPECT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
}

} // namespace
} // namespace telvane::test
