#include <fstream>
#include <map>

#include "cli_fixture.h"
#include "tools/cli/manifest.h"

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

bool anyPartLeft(const stdfs::path& folder) {
    for (const auto& entry : stdfs::recursive_directory_iterator(folder))
        if (entry.path().string().find(".telvane-part") != std::string::npos) return true;
    return false;
}

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
    EXPECT_TRUE(stdfs::exists(path("bk/manifest.json")));
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
    EXPECT_EQ("differs: " + deleted + ": not in the backup\n", out());
}

INSTANTIATE_TEST_SUITE_P(Profiles, BackupRoundTrip, ::testing::Values("tree", "flat"));

TEST_F(CliTest, FaultMidBackup_EndsWithExit1AndNoManifest_ASecondRunFetchesOnlyWhatIsMissing) {
    addFault("status=7@0x4a/1*1"); // the first file's first read is refused
    EXPECT_EQ(1, run({"backup", path("bk"), "--seems", "0030-0210"}));
    EXPECT_NE(std::string::npos, err().find("/a/mobile/audio/ring.mp3: cannot read file")) << err();
    EXPECT_FALSE(stdfs::exists(path("bk/manifest.json")));
    EXPECT_FALSE(stdfs::exists(path("bk/files/mobile/audio/ring.mp3")));
    EXPECT_TRUE(stdfs::exists(path("bk/files/notes.txt")));
    EXPECT_FALSE(anyPartLeft(folder_));

    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0210"})) << err();
    EXPECT_NE(std::string::npos, out().find("10 files (1 fetched, 9 already there), 5 seem records")) << out();
    EXPECT_EQ(0, run({"verify", path("bk")})) << out() << err();
    EXPECT_EQ("verified: 10 files and 5 seem records match the phone\n", out());
}

TEST_F(CliTest, ASeemReadThatFails_FailsTheBackup_InsteadOfPassingForAnAbsentRecord) {
    const std::uint32_t before = driver().commandCount();
    ASSERT_EQ(0, run({"backup", path("first"), "--seems", "0030-0040"})) << err();
    const std::uint32_t perRun = driver().commandCount() - before;
    // The same run again: its last command reads seem 0040, which the phone does not have.
    addFault("readfail#" + std::to_string(driver().commandCount() + perRun) + "*1");
    EXPECT_EQ(1, run({"backup", path("second"), "--seems", "0030-0040"}));
    EXPECT_NE(std::string::npos, err().find("seem 0040 record 0001: cannot read the record")) << err();
    EXPECT_FALSE(stdfs::exists(path("second/manifest.json")));
}

TEST_F(CliTest, DryRunRestore_SaysWhatItWouldChange_AndChangesNothing) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    driver().withPhone([](sim::VirtualPhone& phone) {
        phone.fileSystem().remove("/a/notes.txt");
        phone.seems().put(0x32, 1, {0xAA, 0xBB, 0xCC, 0xDD});
        return 0;
    });
    const PhoneState changed = stateOf(driver());
    const std::uint32_t commands = driver().commandCount();

    EXPECT_EQ(0, run({"restore", path("bk"), "--dry-run"})) << err();
    EXPECT_NE(std::string::npos, out().find("would upload /a/notes.txt (22 bytes)\n")) << out();
    EXPECT_NE(std::string::npos, out().find("would replace /a/mobile/audio/ring.mp3 (2500 bytes)\n")) << out();
    EXPECT_NE(std::string::npos, out().find("would write seem 0032 record 0001 (4 bytes)\n")) << out();
    EXPECT_EQ(std::string::npos, out().find("seem 0032 record 0002")) << "an unchanged record is not written";
    EXPECT_EQ(changed.files, stateOf(driver()).files);
    EXPECT_EQ(changed.seems, stateOf(driver()).seems);
    EXPECT_GT(driver().commandCount(), commands); // it did read the phone to compare
}

TEST_F(CliTest, Restore_AsksBeforeReplacing_AndRefusesASeemRecordOfAnotherSize) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    driver().withPhone([](sim::VirtualPhone& phone) { return phone.seems().put(0x32, 1, {1, 2, 3, 4, 5}); });

    answer_ = false;
    EXPECT_EQ(1, run({"restore", path("bk")}));
    EXPECT_EQ("Replace /a/mobile/audio/ring.mp3 on the phone?", questions_.at(0));
    EXPECT_NE(std::string::npos, out().find("kept /a/notes.txt (on the phone already; --force replaces it)")) << out();
    EXPECT_NE(std::string::npos, err().find("seem 0032 record 0001: refused: 5 bytes on the phone, 4 in the backup"))
        << err();
    const PhoneState after = stateOf(driver());
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3, 4, 5}), after.seems.at({0x32, 1}));
}

TEST_F(CliTest, Backup_IntoTheFolderOfAnotherPhonesBackup_IsRefused) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--no-seems"})) << err();
    usePhone("flat");
    EXPECT_EQ(1, run({"backup", path("bk"), "--no-seems"}));
    EXPECT_NE(std::string::npos, err().find("holds the backup of Sim T1 (/a), not of this phone (Sim F1, a)")) << err();
    EXPECT_FALSE(stdfs::exists(path("bk/files/ring01.mid")));
}

TEST_F(CliTest, Verify_NamesEachDifference) {
    ASSERT_EQ(0, run({"backup", path("bk"), "--seems", "0030-0040"})) << err();
    // One byte changed on the phone, one file cut short in the backup.
    driver().withPhone([](sim::VirtualPhone& phone) {
        std::string text = "virtual phone notes.\r\n";
        phone.fileSystem().remove("/a/notes.txt");
        return phone.fileSystem().add(sim::PhoneFile{"/a/notes.txt", 0, 0, {text.begin(), text.end()}});
    });
    stdfs::resize_file(path("bk/files/mobile/video/clip.3gp"), 10);
    EXPECT_EQ(1, run({"verify", path("bk")}));
    EXPECT_NE(std::string::npos, out().find("differs: /a/notes.txt: bytes differ from offset 0\n")) << out();
    EXPECT_NE(std::string::npos,
              out().find("differs: /a/mobile/video/clip.3gp: files/mobile/video/clip.3gp is not in the backup at its "
                         "size of 1500 bytes\n"))
        << out();
}

} // namespace
} // namespace telvane::test
