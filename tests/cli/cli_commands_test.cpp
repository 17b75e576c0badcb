#include <fstream>
#include <iterator>

#include "cli_fixture.h"
#include "services/file_transfer.h"

namespace telvane::test {
namespace {

namespace stdfs = std::filesystem;

std::string readText(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

std::string phoneText(sim::VirtualDriver& driver, const std::string& name) {
    return driver.withPhone([&](sim::VirtualPhone& phone) {
        const auto* file = phone.fileSystem().find(name);
        return file ? std::string(file->bytes.begin(), file->bytes.end()) : std::string("(none)");
    });
}

TEST_F(CliTest, UsageErrors_ExitWith2AndOneLine_BeforeAnythingReachesThePhone) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"bogus"},
        {"ls", "--bogus"},
        {"seem", "get", "0300-0200"},
        {"seem", "get", "zz"},
        {"seem", "put", "32", "0", "file"},
        {"attr", "notes.txt", "10001"},
        {"backup"},
        {"backup", "dir", "--seems", "1-2-3"},
        {"backup", "dir", "--seems", "0-1", "--no-seems"},
        {"put", "a", "--force", "--skip-existing"},
        {"restore", "dir", "--files-only", "--seems-only"},
        {"get", "-r", "one", "two"},
        {"--device", "nowhere", "info"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(2, run(args)) << shown;
        const std::string said = err();
        EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << shown << ": " << said;
        EXPECT_EQ(0u, said.find("telvane-cli: ")) << shown << ": " << said;
    }
    EXPECT_EQ(0, opens_);
    EXPECT_EQ(0u, driver().commandCount());
    EXPECT_EQ(0, run({"--help"}));
    EXPECT_NE(std::string::npos, out().find("backup")) << out();
}

TEST_F(CliTest, RefusedDelete_EndsWithExit1_WhileTheOtherFilesAreDeleted) {
    usePhone("flat");
    addFault("status=7@0x4a/5*1"); // the first delete is refused
    EXPECT_EQ(1, run({"rm", "-y", "ring01.mid", "ring02.mid", "nothere.mid", "ring03.mid"}));
    EXPECT_NE("(none)", phoneText(driver(), "ring01.mid"));
    EXPECT_EQ("(none)", phoneText(driver(), "ring02.mid"));
    EXPECT_EQ("(none)", phoneText(driver(), "ring03.mid"));
    EXPECT_EQ("deleted ring02.mid\ndeleted ring03.mid\n", out());
    EXPECT_NE(std::string::npos, err().find("telvane-cli: nothere.mid: not on the phone's list\n")) << err();
    EXPECT_NE(std::string::npos, err().find("telvane-cli: 2 of 4 failed: ring01.mid, nothere.mid\n")) << err();

    // Without -y the window's question is asked; no answer deletes nothing.
    EXPECT_EQ(1, run({"rm", "ring04.mid"}));
    EXPECT_EQ("A you sure you want to delete file ring04.mid ?", questions_.back());
    EXPECT_NE("(none)", phoneText(driver(), "ring04.mid"));
}

TEST_F(CliTest, NoPcFileIsReplacedWithoutForce) {
    stdfs::create_directories(path("out"));
    std::ofstream(path("out/notes.txt")) << "mine";
    std::ofstream(path("out/0032_0001.seem")) << "mine";
    EXPECT_EQ(1, run({"get", "/a/notes.txt", "-o", path("out")}));
    EXPECT_NE(std::string::npos, err().find("exists on the PC (--force replaces it)")) << err();
    EXPECT_EQ(1, run({"seem", "get", "32", "-o", path("out")}));
    EXPECT_EQ("mine", readText(path("out/notes.txt")));
    EXPECT_EQ("mine", readText(path("out/0032_0001.seem")));
    EXPECT_EQ(64u, readText(path("out/0032_0002.seem")).size()) << "the records not in the way are saved";

    EXPECT_EQ(0, run({"get", "notes.txt", "-o", path("out"), "--force"})) << err();
    EXPECT_EQ("Virtual phone notes.\r\n", readText(path("out/notes.txt")));
    // One file with -o naming a file: that name.
    EXPECT_EQ(0, run({"get", "mobile/system/config.txt", "-o", path("config.copy")})) << err();
    EXPECT_EQ("volume=3\r\nbacklight=on\r\n", readText(path("config.copy")));
}

TEST_F(CliTest, InterruptDuringADownload_LeavesNoPartialFile_AndClosesThePhoneFile) {
    // The pause after the phone file is opened is where the user presses Ctrl+C.
    clock_.setSleepHook([this](std::uint32_t ms) {
        if (ms == telvane::kDownloadPauseMs) interrupted_.store(true);
    });
    EXPECT_EQ(1, run({"get", "/a/notes.txt", "mobile/audio/ring.mp3", "-o", path("out")}));
    EXPECT_NE(std::string::npos, err().find("telvane-cli: interrupted\n")) << err();
    EXPECT_TRUE(stdfs::is_empty(path("out")));
    EXPECT_FALSE(driver().withPhone([](sim::VirtualPhone& phone) { return phone.fileSystem().openName(); }));
}

TEST_F(CliTest, VerboseShowsTheLinksLog_ProgressOnlyOnATerminalAndNotWithQuiet) {
    addFault("readfail@0x4a/1*1");
    EXPECT_EQ(1, run({"-v", "get", "notes.txt", "-o", path("a")}));
    EXPECT_EQ("USB: IO Failed!\nCMD: Data read fail!\ntelvane-cli: /a/notes.txt: cannot read file (CMD: Data read fail!)\n",
              err());
    EXPECT_EQ(0, run({"get", "notes.txt", "-o", path("a")})) << "the fault is spent: " << err();

    terminal_ = true;
    EXPECT_EQ(0, run({"get", "mobile/audio/ring.mp3", "mobile/video/clip.3gp", "-o", path("b")})) << err();
    EXPECT_NE(std::string::npos, err().find("\r/a/mobile/audio/ring.mp3  0.0/2.4 KiB 0%  all 0.0/3.9 KiB 0%")) << err();
    EXPECT_NE(std::string::npos, err().find("\r/a/mobile/video/clip.3gp  0.0/1.5 KiB 0%  all 2.4/3.9 KiB 62%")) << err();
    EXPECT_EQ(0, run({"-q", "get", "mobile/audio/ring.mp3", "-o", path("c")})) << err();
    EXPECT_EQ("", err());
}

TEST_F(CliTest, TreeFolders_ListedFetchedWholeAndUploadedInto) {
    EXPECT_EQ(0, run({"ls", "mobile/audio", "-l"})) << err();
    // Files in the phone's order, then the sub-folders.
    EXPECT_EQ("       0       2500 ring.mp3\n       1        700 alarm.mid\n       0          0 tones/\n", out());
    EXPECT_EQ(0, run({"ls", "/a/mobile/audio/", "--json"})) << err();
    EXPECT_NE(std::string::npos, out().find("\"name\": \"tones/\"")) << out();

    ASSERT_EQ(0, run({"get", "-r", "mobile/audio", "-o", path("pc")})) << err();
    EXPECT_EQ(phoneText(driver(), "/a/mobile/audio/tones/beep.wav"), readText(path("pc/audio/tones/beep.wav")));
    EXPECT_TRUE(stdfs::exists(path("pc/audio/ring.mp3")));

    std::ofstream(path("hello.txt")) << "hello";
    EXPECT_EQ(0, run({"put", path("hello.txt"), "-d", "mobile/audio/tones"})) << err();
    EXPECT_EQ("hello", phoneText(driver(), "/a/mobile/audio/tones/hello.txt"));
    // There now: neither replaced nor counted a success without being told which.
    EXPECT_EQ(1, run({"put", path("hello.txt"), "-d", "mobile/audio/tones"}));
    EXPECT_EQ(0, run({"put", path("hello.txt"), "-d", "mobile/audio/tones", "--skip-existing"}));
    EXPECT_EQ("skipped /a/mobile/audio/tones/hello.txt (on the phone already)\n", out());

    usePhone("flat");
    EXPECT_EQ(1, run({"ls", "mobile"}));
    EXPECT_EQ("telvane-cli: mobile: this phone has no folders\n", err());
}

TEST_F(CliTest, InfoAndAttr_ReadAndSetWhatTheWindowShows) {
    EXPECT_EQ(0, run({"info"})) << err();
    EXPECT_NE(std::string::npos, out().find("model: Sim T1\nvolume: /a\nfree space: 3145728\n")) << out();
    EXPECT_EQ(0, run({"attr", "notes.txt", "0x1a"})) << err();
    EXPECT_EQ(0x1a, driver().withPhone([](sim::VirtualPhone& phone) {
        return phone.fileSystem().find("/a/notes.txt")->attribute;
    }));
    EXPECT_EQ(1, run({"attr", "missing.txt", "1"}));
    EXPECT_EQ("telvane-cli: missing.txt: not on the phone's list\n", err());
}

TEST_F(CliTest, NoPhoneWithinTheWait_Exit3) {
    driver().unplug();
    EXPECT_EQ(3, run({"--wait", "3", "info"}));
    EXPECT_EQ("telvane-cli: no phone on virtual within 3 seconds\n", err());
    EXPECT_GE(clock_.sleptMs(), 3000u);
}

} // namespace
} // namespace telvane::test
