// The progress bar over a whole upload or download, and the user's stop between two pieces.
#include "ui/transfer_meter.h"

#include "ui/operations_fixture.h"

namespace telvane {
namespace {

using test::OperationsTest;
using Bytes = std::vector<std::uint8_t>;

class NeverStop final : public TransferCancel {
public:
    bool cancelRequested() override { return false; }
};

TEST(TransferMeterTest, TotalBeyond32Bits_IsScaledAndNeverRunsPastItsEnd) {
    test::FakeProgress progress;
    NeverStop never;
    const std::uint64_t total = 0x2'8000'0000ull; // 10 GiB: two bits too many
    TransferMeter meter(progress, never, total);
    EXPECT_EQ(std::make_pair(0u, 0xA000'0000u), progress.range);
    meter.moved(1024);
    meter.skip(0x2'0000'0000ull);
    meter.skip(total); // a file bigger than it was counted with
    EXPECT_EQ((std::vector<std::uint32_t>{0, 256, 0x8000'0100u, 0xA000'0000u}), progress.positions);
    EXPECT_EQ(total, meter.done());
}

class TransferTest : public OperationsTest {
protected:
    void SetUp() override {
        auto p = flatPhone();
        // The list shows them last first: c.bin, big.bin, a.bin.
        p.files = {sim::PhoneFile{"a.bin", 0, 0, pattern(100, 1)}, sim::PhoneFile{"big.bin", 0, 0, pattern(5000, 2)},
                   sim::PhoneFile{"c.bin", 0, 0, pattern(200, 3)}};
        connect(p);
        refresh();
        desktop.addFolder("C:\\dl");
        progress.positions.clear();
    }
    // Esc once the bar has reached the bytes given.
    void stopAt(std::uint32_t bytes) {
        desktop.stopWhen = [this, bytes] { return !progress.positions.empty() && progress.positions.back() >= bytes; };
    }
};

TEST_F(TransferTest, Download_TheBarFollowsTheBytesOfEverySelectedFile) {
    select({"a.bin", "big.bin", "c.bin"});
    desktop.answerSave("C:\\dl\\c.bin");
    commands->downloadFiles();
    EXPECT_EQ("File download...c.bin ok\r\nFile download...big.bin ok\r\nFile download...a.bin ok\r\n", log.text());
    EXPECT_EQ(std::make_pair(0u, 5300u), progress.range);
    EXPECT_EQ((std::vector<std::uint32_t>{0, 200, 1224, 2248, 3272, 4296, 5200, 5300}), progress.positions);
}

TEST_F(TransferTest, Download_StoppedInAFile_ItsPartGoesThePhoneFileIsClosedAndLaterRowsAreLeftAlone) {
    select({"a.bin", "big.bin", "c.bin"});
    desktop.answerSave("C:\\dl\\c.bin");
    stopAt(200 + 2048); // two pieces of big.bin written
    commands->downloadFiles();
    EXPECT_EQ("File download...c.bin ok\r\nFile download...big.bin Canceled.\r\n", log.text());
    EXPECT_EQ(std::vector<std::string>{"c.bin"}, desktop.filesIn("C:\\dl"));
    EXPECT_FALSE(phoneFileOpen());
    EXPECT_EQ(2248u, progress.positions.back());
    expectFilesClosed();
}

TEST_F(TransferTest, Download_StoppedDuringTheLastPieceOfAFile_TheNextIsNotBegun) {
    select({"a.bin", "big.bin", "c.bin"});
    desktop.answerSave("C:\\dl\\c.bin");
    stopAt(200);
    commands->downloadFiles();
    const std::uint32_t after = commandCount();
    EXPECT_EQ("File download...c.bin ok\r\nFile download...big.bin Canceled.\r\n", log.text());
    EXPECT_EQ(std::vector<std::string>{"c.bin"}, desktop.filesIn("C:\\dl"));
    EXPECT_EQ(pattern(200, 3), desktop.file("C:\\dl\\c.bin")->bytes);
    EXPECT_EQ(after, commandCount());
}

TEST_F(TransferTest, Upload_TheBarCountsRefusedFilesAsPassed) {
    desktop.addFile("C:\\pc\\one", pattern(1500, 4));
    desktop.addFile("C:\\pc\\empty", {});
    desktop.addFile("C:\\pc\\two", pattern(600, 5));
    desktop.answerOpen("C:\\pc", {"one", "empty", "two"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... one ok\r\nempty Fail: file size invalid\r\ntwo ok\r\n", log.text());
    EXPECT_EQ(std::make_pair(0u, 2100u), progress.range);
    EXPECT_EQ((std::vector<std::uint32_t>{0, 1024, 1500, 1500, 2100}), progress.positions);
}

TEST_F(TransferTest, Upload_StoppedInAFile_ThePartSentIsDeletedLaterFilesAreNotSentAndNoRefresh) {
    autoUpdate = 1;
    desktop.addFile("C:\\pc\\first", pattern(100, 6));
    desktop.addFile("C:\\pc\\long", pattern(3000, 7));
    desktop.addFile("C:\\pc\\last", pattern(10, 8));
    desktop.answerOpen("C:\\pc", {"first", "long", "last"});
    stopAt(100 + 1024);
    commands->uploadFiles();
    EXPECT_EQ("File upload... first ok\r\nlong Canceled.\r\n", log.text());
    EXPECT_EQ(pattern(100, 6), phoneFile("first"));
    EXPECT_FALSE(phoneFile("long"));
    EXPECT_FALSE(phoneFile("last"));
    EXPECT_FALSE(phoneFileOpen());
    expectFilesClosed();
}

} // namespace
} // namespace telvane
