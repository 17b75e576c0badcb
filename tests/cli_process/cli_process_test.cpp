// telvane-cli as a program of its own against telvane-phonesim over the bridge: what the
// in-process tests cannot show (the real signal, the process's exit status and streams).

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "cli_process/cli_process_fixture.h"

#if defined(TELVANE_PHONESIM_PATH) && defined(TELVANE_CLI_PATH)
namespace telvane {
namespace {

namespace stdfs = std::filesystem;
using test::CliProcess;
using test::ServedPhone;

// The built-in tree phone, and a small flat one (the built-in flat phone's forty files would
// spend most of the suite's time in the pauses each download makes).
const char* const kSmallFlatPhone = "volume a\nentry-size 44\nrecords-per-chunk 3\nfree-space 200000\n"
                                    "model \"Flat S\"\nfile ring.mid attr=0x0004 size=1500 fill=0x11\n"
                                    "file notes.txt text=\"flat notes\"\nfile empty.dat size=0\n"
                                    "file pic.jpg second=0x0001 size=3000 fill=0x22\nseem 0x0032 1 hex=01020304\n";

class CliRoundTrip : public CliProcess, public ::testing::WithParamInterface<const char*> {
protected:
    std::vector<std::string> phoneArgs() {
        if (std::string(GetParam()) == "tree") return {"--profile", "tree"};
        std::ofstream(path("flat.phone")) << kSmallFlatPhone;
        return {"--phone", path("flat.phone")};
    }
};

TEST_P(CliRoundTrip, BackupFromOnePhone_RestoredOntoAnother_VerifiesByteForByte) {
    ServedPhone first(phoneArgs());
    ServedPhone second(phoneArgs());
    std::ofstream(path("added.txt")) << "added over the bridge";
    std::ofstream(path("seem.bin"), std::ios::binary) << "\x0a\x0b\x0c\x0d";
    ASSERT_EQ(0, cli(first.device(), {"put", path("added.txt")}).status);
    ASSERT_EQ(0, cli(first.device(), {"seem", "put", "32", "1", path("seem.bin")}).status);

    const auto backup = cli(first.device(), {"backup", path("bk"), "--seems", "0030-0040"});
    ASSERT_EQ(0, backup.status) << backup.err;
    const auto restore = cli(second.device(), {"restore", path("bk"), "--force"});
    ASSERT_EQ(0, restore.status) << restore.err;
    const auto verify = cli(second.device(), {"-q", "verify", path("bk")});
    EXPECT_EQ(0, verify.status) << verify.out << verify.err;
    EXPECT_NE(std::string::npos, verify.out.find("verified: ")) << verify.out;
    EXPECT_EQ("", verify.err);
}

INSTANTIATE_TEST_SUITE_P(Profiles, CliRoundTrip, ::testing::Values("tree", "flat"));

TEST_F(CliProcess, UsageError_Exit2_AndThePhoneHearsNothing) {
    ServedPhone phone({});
    const auto run = cli(phone.device(), {"seem", "get", "0300-0100"});
    EXPECT_EQ(2, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("plugged=1 commands=0", phone.command("status"));
}

TEST_F(CliProcess, TelvaneDeviceVariable_ChoosesTheDeviceWhenNoneIsGiven) {
    ServedPhone phone({"--profile", "flat"});
    ASSERT_EQ(0, setenv("TELVANE_DEVICE", phone.device().c_str(), 1));
    const auto run = test::runProgram({TELVANE_CLI_PATH, "info"});
    unsetenv("TELVANE_DEVICE");
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("model: Sim F1\n")) << run.out;
}

TEST_F(CliProcess, CtrlCDuringADownload_EndsWithExit1_AndLeavesNoFileOnThePc) {
    // One file large enough to be still arriving when the signal comes.
    std::ofstream(path("big.phone")) << "volume /a\nentry-size 268\nrecords-per-chunk 4\nfree-space 9000000\n"
                                        "model \"Big\"\nfile /a/big.bin size=3000000 fill=0x33\n";
    ServedPhone phone({"--phone", path("big.phone")});
    stdfs::create_directories(path("out"));
    test::ChildProcess download({TELVANE_CLI_PATH, "--device", phone.device(), "get", "big.bin", "-o", path("out")});
    ASSERT_TRUE(download.running());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    download.signal(SIGINT);
    EXPECT_EQ(1, download.waitExit(10000));
    EXPECT_TRUE(stdfs::is_empty(path("out"))) << "neither the file nor its part remains";
}

TEST_F(CliProcess, Watch_SaysEachArrivalAndRemoval_UntilInterrupted) {
    ServedPhone phone({});
    test::ChildProcess watch({TELVANE_CLI_PATH, "--device", phone.device(), "watch"});
    EXPECT_EQ("connected Sim T1", watch.readLine(10000));
    phone.command("unplug");
    EXPECT_EQ("disconnected", watch.readLine(10000));
    watch.signal(SIGINT);
    EXPECT_EQ(0, watch.waitExit(5000));
}

} // namespace
} // namespace telvane
#endif
