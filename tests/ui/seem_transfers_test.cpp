#include "ui/seem_transfers.h"

#include "ui/operations_fixture.h"

namespace telvane {
namespace {

using test::OperationsTest;
using Bytes = std::vector<std::uint8_t>;

TEST(ParseHexFieldTest, LeadingHexDigitsUpToEight) {
    EXPECT_EQ(0x10000u, parseHexField("10000"));
    EXPECT_EQ(0x300u, parseHexField("300"));
    EXPECT_EQ(0xABCDu, parseHexField("aBcD"));
    EXPECT_EQ(1u, parseHexField("1g"));
    EXPECT_EQ(0u, parseHexField(" 12"));
    EXPECT_EQ(0u, parseHexField(""));
    EXPECT_EQ(1u, parseHexField("000000012")); // the ninth digit does not count
    EXPECT_EQ(0xFFFFFFFFu, parseHexField("ffffffffff"));
    EXPECT_EQ(2u, parseHexField(std::string_view("2\0" "3", 3)));
}

class SeemTest : public OperationsTest {
protected:
    // A phone with no seems but the model and those a test gives.
    void connectWith(std::vector<sim::SeemRecordSpec> seems) {
        auto p = flatPhone();
        p.seems = std::move(seems);
        connect(p);
        desktop.addFolder("C:\\seems");
    }
    void range(const std::string& from, const std::string& to) {
        controls.fields[EditField::SeemFirst] = from;
        controls.fields[EditField::SeemLast] = to;
    }
    void download() {
        desktop.answerSave("C:\\seems\\whatever.seem");
        commands->downloadSeems();
    }
    std::vector<std::string> seemFiles() { return desktop.filesIn("C:\\seems"); }
    std::optional<Bytes> phoneSeem(std::uint16_t seem, std::uint16_t record) {
        return driver->withPhone([&](sim::VirtualPhone& p) -> std::optional<Bytes> {
            const auto* r = p.seems().get(seem, record);
            return r ? std::optional<Bytes>(*r) : std::nullopt;
        });
    }
};

TEST_F(SeemTest, Download_CancelledDialog_ReadsNothingAndLeavesTheFields) {
    connectWith({});
    range("10000", "1g");
    desktop.cancelNextDialog();
    const std::uint32_t before = commandCount();
    commands->downloadSeems();
    EXPECT_EQ("", log.text());
    EXPECT_EQ(before, commandCount());
    EXPECT_EQ("10000", controls.fields[EditField::SeemFirst]);
    ASSERT_EQ(1u, desktop.dialogs().size());
    EXPECT_EQ("xxxx_yyyy.seem", desktop.dialogs()[0].name);
    EXPECT_TRUE(desktop.dialogs()[0].save);
}

TEST_F(SeemTest, Download_FromAboveTo_ReadsTheFirstSeemOnlyWithTheFieldsSettled) {
    connectWith({{0x300, 1, {1, 2}}, {0x300, 2, {3}}, {0x301, 1, {4}}});
    range("300", "000000000012"); // only eight digits count: 0
    download();
    EXPECT_EQ("downloading seem data from 0300 to 0000\r\nPlease wait, it can take few minutes...\r\nDone.\r\n",
              log.text());
    EXPECT_EQ("0300", controls.fields[EditField::SeemFirst]);
    EXPECT_EQ("0000", controls.fields[EditField::SeemLast]);
    EXPECT_EQ((std::vector<std::string>{"0300_0001.seem", "0300_0002.seem"}), seemFiles());
    EXPECT_EQ((Bytes{1, 2}), desktop.file("C:\\seems\\0300_0001.seem")->bytes);
    EXPECT_EQ((std::pair<std::uint32_t, std::uint32_t>{0x300, 0}), progress.range);
    EXPECT_EQ((std::vector<std::uint32_t>{0, 0x300, 0x300, 0x300}), progress.positions);
    expectFilesClosed();
}

TEST_F(SeemTest, Download_FieldsAreClampedAndWrittenBack_AndARangeEndingAtFfffEnds) {
    connectWith({{0xFFFF, 1, {9}}, {0x0000, 1, {1}}});
    range("10000", "fffff");
    download();
    EXPECT_EQ("ffff", controls.fields[EditField::SeemFirst]);
    EXPECT_EQ("ffff", controls.fields[EditField::SeemLast]);
    EXPECT_EQ(std::vector<std::string>{"ffff_0001.seem"}, seemFiles());
    EXPECT_TRUE(log.text().ends_with("Done.\r\n"));

    range("1g", " 5");
    download();
    EXPECT_EQ("0001", controls.fields[EditField::SeemFirst]);
    EXPECT_EQ("0000", controls.fields[EditField::SeemLast]);
}

TEST_F(SeemTest, Download_RecordsOneToThreeThenAFailure_ThreeFilesAndTheNextSeemIsRead) {
    connectWith({{0x10, 1, {1}}, {0x10, 2, {2}}, {0x10, 3, {3}}, {0x10, 5, {5}}, {0x11, 1, {0x11}}});
    range("10", "11");
    download();
    EXPECT_EQ((std::vector<std::string>{"0010_0001.seem", "0010_0002.seem", "0010_0003.seem", "0011_0001.seem"}),
              seemFiles());
}

TEST_F(SeemTest, Download_EmptyRecordEndsItsSeem_AFirstReadFailingGivesNoFile) {
    connectWith({{0x20, 1, {}}, {0x20, 2, {2}}, {0x22, 1, {1}}});
    range("20", "22");
    download();
    EXPECT_EQ(std::vector<std::string>{"0022_0001.seem"}, seemFiles());
}

TEST_F(SeemTest, Download_128Records_128FilesAndNo129thRead) {
    std::vector<sim::SeemRecordSpec> seems;
    for (std::uint16_t r = 1; r <= 129; ++r) seems.push_back({0x40, r, {static_cast<std::uint8_t>(r)}});
    connectWith(seems);
    range("40", "40");
    const std::uint32_t before = commandCount();
    download();
    EXPECT_EQ(128u, seemFiles().size());
    EXPECT_EQ((Bytes{128}), desktop.file("C:\\seems\\0040_0080.seem")->bytes);
    EXPECT_EQ(before + 128, commandCount());
    expectFilesClosed();
}

TEST_F(SeemTest, Download_ExistingSeemFileUntouched_TheNextRecordStillWritten) {
    connectWith({{0x117, 1, {1, 1}}, {0x117, 2, {2, 2}}});
    desktop.addFile("C:\\seems\\0117_0001.seem", {7});
    range("117", "117");
    download();
    EXPECT_EQ((Bytes{7}), desktop.file("C:\\seems\\0117_0001.seem")->bytes);
    EXPECT_EQ((Bytes{2, 2}), desktop.file("C:\\seems\\0117_0002.seem")->bytes);
}

TEST_F(SeemTest, Download_CutOffWrite_RemovesThatFileAndGoesOn) {
    connectWith({{0x50, 1, Bytes(10, 1)}, {0x50, 2, Bytes(10, 2)}, {0x51, 1, Bytes(4, 3)}});
    desktop.setDiskSpace(15); // the first record fits, the second does not
    range("50", "51");
    download();
    EXPECT_EQ((std::vector<std::string>{"0050_0001.seem", "0051_0001.seem"}), seemFiles());
    EXPECT_EQ(Bytes(4, 3), desktop.file("C:\\seems\\0051_0001.seem")->bytes);
    EXPECT_EQ("downloading seem data from 0050 to 0051\r\nPlease wait, it can take few minutes...\r\n"
              " Fail: cannot write file 0050_0002.seem\r\nDone.\r\n",
              log.text());
    expectFilesClosed();
}

TEST_F(SeemTest, Download_RecordLongerThanOneReply_WritesNoCutFileAndGoesOn) {
    // 4081 bytes fit one reply after the result code; one byte more arrives cut short.
    connectWith({{0x61, 1, Bytes(4081, 1)}, {0x61, 2, Bytes(4082, 2)}, {0x62, 1, Bytes(5000, 3)}, {0x63, 1, {4}}});
    range("61", "63");
    download();
    EXPECT_EQ((std::vector<std::string>{"0061_0001.seem", "0063_0001.seem"}), seemFiles());
    EXPECT_EQ(Bytes(4081, 1), desktop.file("C:\\seems\\0061_0001.seem")->bytes);
    EXPECT_EQ("downloading seem data from 0061 to 0063\r\nPlease wait, it can take few minutes...\r\n"
              "CMD: Answer packet invalid!\r\nCMD: Answer packet invalid!\r\nDone.\r\n",
              log.text());
}

class SeemUploadTest : public SeemTest {
protected:
    void SetUp() override {
        connectWith({{0x60, 2, {1, 2, 3, 4}}, {0x60, 3, {}}, {0xFFFF, 1, {9}}});
        controls.fields[EditField::SeemNumber] = "60";
        controls.fields[EditField::SeemRecord] = "2";
    }
    void upload(const Bytes& bytes) {
        desktop.addFile("C:\\pc\\record.seem", bytes);
        desktop.answerOpen("C:\\pc", {"record.seem"});
        commands->uploadSeem();
    }
};

TEST_F(SeemUploadTest, FileOfTheRecordsSize_IsWritten) {
    upload({5, 6, 7, 8});
    EXPECT_EQ("uploading seem N 0060record N 0002 ok\r\n", log.text());
    EXPECT_EQ((Bytes{5, 6, 7, 8}), phoneSeem(0x60, 2));
    ASSERT_EQ(1u, desktop.dialogs().size());
    EXPECT_FALSE(desktop.dialogs()[0].save);
    EXPECT_EQ(0u, desktop.dialogs()[0].options);
    EXPECT_EQ("", desktop.dialogs()[0].name);
    EXPECT_EQ('\0', desktop.dialogs()[0].titleFirst);
    expectFilesClosed();
}

TEST_F(SeemUploadTest, FileOneByteShortOrLong_EndsSilentlyWithoutWriting) {
    upload({5, 6, 7});
    desktop.file("C:\\pc\\record.seem")->bytes = {5, 6, 7, 8, 9};
    desktop.answerOpen("C:\\pc", {"record.seem"});
    commands->uploadSeem();
    EXPECT_EQ("uploading seem N 0060record N 0002uploading seem N 0060record N 0002", log.text());
    EXPECT_EQ((Bytes{1, 2, 3, 4}), phoneSeem(0x60, 2));
    expectFilesClosed();
}

TEST_F(SeemUploadTest, CancelledDialog_EndsWithoutAWrite) {
    desktop.cancelNextDialog();
    commands->uploadSeem();
    EXPECT_EQ("uploading seem N 0060record N 0002", log.text());
    EXPECT_EQ((Bytes{1, 2, 3, 4}), phoneSeem(0x60, 2));
}

TEST_F(SeemUploadTest, EmptyRecord_IsRefusedBeforeTheDialog) {
    controls.fields[EditField::SeemRecord] = "3";
    commands->uploadSeem();
    EXPECT_EQ("uploading seem N 0060record N 0003", log.text());
    EXPECT_TRUE(desktop.dialogs().empty());
    EXPECT_EQ(Bytes{}, phoneSeem(0x60, 3));
}

TEST_F(SeemUploadTest, RecordFieldEmptyZeroOrFfff_BecomesOne_SeemFfffStays) {
    for (const char* rec : {"", "0", "ffff"}) {
        controls.fields[EditField::SeemNumber] = "ffff";
        controls.fields[EditField::SeemRecord] = rec;
        log.clear();
        desktop.cancelNextDialog();
        commands->uploadSeem();
        EXPECT_EQ("0001", controls.fields[EditField::SeemRecord]) << rec;
        EXPECT_EQ("ffff", controls.fields[EditField::SeemNumber]);
        EXPECT_EQ("uploading seem N ffffrecord N 0001", log.text());
    }
}

} // namespace
} // namespace telvane
