// The file and seem commands in turn on the built-in tree phone, each undoing the other's work.
#include "ui/operations_fixture.h"

namespace telvane {
namespace {

using test::OperationsTest;

TEST_F(OperationsTest, UploadRefreshAndDownloadElsewhere_GivesTheSameBytes) {
    connect(sim::treePhoneProfile());
    autoUpdate = 1;
    refresh();
    const auto original = pattern(5000, 0x3C);
    desktop.addFile("C:\\pc\\photo.raw", original);

    tree.select(tree.child(tree.child(views->rootNode(), "mobile"), "picture"));
    desktop.answerOpen("C:\\pc", {"photo.raw"});
    commands->uploadFiles();
    EXPECT_EQ("File upload... /a/mobile/picture/photo.raw ok\r\nReceiving file list... ok\r\nFiles found: 11\r\n",
              log.text());

    // The refresh selected the root; back to the folder, and the new file is listed there.
    tree.select(tree.child(tree.child(views->rootNode(), "mobile"), "picture"));
    select({"photo.raw"});
    desktop.addFolder("E:\\copies");
    desktop.answerSave("E:\\copies\\photo.raw");
    log.clear();
    commands->downloadFiles();
    EXPECT_EQ("File download.../a/mobile/picture/photo.raw ok\r\n", log.text());
    EXPECT_EQ(original, desktop.file("E:\\copies\\photo.raw")->bytes);
    expectFilesClosed();
}

TEST_F(OperationsTest, SeemRangeSavedThenOneRecordWrittenBack) {
    connect(sim::treePhoneProfile());
    desktop.addFolder("C:\\backup");
    controls.fields[EditField::SeemFirst] = "0032";
    controls.fields[EditField::SeemLast] = "0033";
    desktop.answerSave("C:\\backup\\xxxx_yyyy.seem");
    commands->downloadSeems();
    // Record 3 of seem 0x32 is empty: it ends the seem.
    EXPECT_EQ((std::vector<std::string>{"0032_0001.seem", "0032_0002.seem"}), desktop.filesIn("C:\\backup"));

    auto saved = desktop.file("C:\\backup\\0032_0002.seem")->bytes;
    const auto onPhone = driver->withPhone([](sim::VirtualPhone& p) { return *p.seems().get(0x32, 2); });
    EXPECT_EQ(onPhone, saved);
    desktop.file("C:\\backup\\0032_0002.seem")->bytes[0] ^= 0xFF;

    controls.fields[EditField::SeemNumber] = "32";
    controls.fields[EditField::SeemRecord] = "2";
    desktop.answerOpen("C:\\backup", {"0032_0002.seem"});
    log.clear();
    commands->uploadSeem();
    EXPECT_EQ("uploading seem N 0032record N 0002 ok\r\n", log.text());
    saved[0] ^= 0xFF;
    EXPECT_EQ(saved, driver->withPhone([](sim::VirtualPhone& p) { return *p.seems().get(0x32, 2); }));
    expectFilesClosed();
}

} // namespace
} // namespace telvane
