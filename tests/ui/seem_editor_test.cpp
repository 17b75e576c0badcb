// The window's seem editor below the window: edits and their count, the write with its undo copy
// and read-back, the put-back, comparisons, and the writes it refuses.
#include <filesystem>
#include <fstream>

#include "backup/backup_folder.h"
#include "backup/pc_store.h"
#include "backup/seem_undo.h"
#include "services/seem_commands.h"
#include "ui/operations_fixture.h"
#include "ui/whole_phone/seem_editor.h"

namespace telvane {
namespace {

namespace stdfs = std::filesystem;
using test::OperationsTest;

class SeemEditorTest : public OperationsTest {
protected:
    SeemEditorTest() : folder(stdfs::temp_directory_path() / "telvane-seem-editor") {
        stdfs::remove_all(folder);
        stdfs::create_directories(folder);
    }
    ~SeemEditorTest() override {
        std::error_code ignored;
        stdfs::remove_all(folder, ignored);
    }
    void open(Bytes record = {1, 2, 3, 4}) {
        sim::PhoneProfile p = flatPhone();
        p.seems = {{0x32, 1, std::move(record)}};
        connect(p);
        editor = std::make_unique<SeemEditor>(*session, log, backup::SeemUndoStore(folder / "undo"));
    }
    Bytes onPhone() {
        return driver->withPhone([](sim::VirtualPhone& p) { return *p.seems().get(0x32, 1); });
    }
    std::size_t undoCopies() { return backup::SeemUndoStore(folder / "undo").list().size(); }

    stdfs::path folder;
    std::unique_ptr<SeemEditor> editor;
};

TEST_F(SeemEditorTest, EditWriteUndo_CountsChangedBytes_WritesWithUndoCopy_PutsItBack) {
    open();
    ASSERT_TRUE(editor->read(0x32, 1));
    EXPECT_EQ("no bytes changed", editor->changedText());
    EXPECT_TRUE(editor->setBit(0, 7, true));
    EXPECT_TRUE(editor->setByte(2, 0x30));
    EXPECT_TRUE(editor->setBit(3, 0, false)); // already 0: no change
    EXPECT_FALSE(editor->setByte(4, 0)) << "past the record's end";
    EXPECT_FALSE(editor->setBit(0, 8, true));
    EXPECT_TRUE(editor->changed(0));
    EXPECT_FALSE(editor->changed(1));
    EXPECT_EQ("2 bytes changed", editor->changedText());
    EXPECT_EQ("", editor->whyNotWritable());

    ASSERT_TRUE(editor->write());
    EXPECT_EQ((Bytes{0x81, 2, 0x30, 4}), onPhone());
    ASSERT_EQ(1u, undoCopies());
    const std::string undo = backup::pathText(editor->lastUndo());
    EXPECT_EQ("Seem 0032_0001: 2 bytes written, read back ok, undo saved as " + undo + "\r\n", log.text());
    EXPECT_EQ("no bytes changed", editor->changedText()) << "what was written is the record as read now";

    log.clear();
    ASSERT_TRUE(editor->undoLast());
    EXPECT_EQ((Bytes{1, 2, 3, 4}), onPhone());
    EXPECT_EQ((Bytes{1, 2, 3, 4}), editor->bytes());
    EXPECT_EQ(2u, undoCopies()) << "the record replaced by the put-back is saved too";
    EXPECT_EQ(0u, log.text().find("Seem 0032_0001: put back from " + undo + ", read back ok, undo saved as "))
        << log.text();
}

TEST_F(SeemEditorTest, Refusals_AnotherConnection_ABadReadBack_ATooLongRecord) {
    open();
    ASSERT_TRUE(editor->read(0x32, 1));
    editor->setByte(0, 0xff);
    reconnect();
    const std::uint32_t commands = commandCount();
    EXPECT_FALSE(editor->write());
    EXPECT_EQ("Seem 0032_0001: not written: the phone is not the one the record was read from; read it again\r\n",
              log.text());
    EXPECT_EQ(commands, commandCount());
    EXPECT_EQ(0u, undoCopies());

    ASSERT_TRUE(editor->read(0x32, 1));
    editor->setByte(0, 0xff);
    log.clear();
    fault("seemflip=2@0x2f*1");
    EXPECT_FALSE(editor->write());
    EXPECT_EQ(0u, log.text().find("Seem 0032_0001: WRITTEN, BUT READS BACK DIFFERENT (1 byte differ); the record as "
                                  "it was is saved as " + backup::pathText(editor->lastUndo())))
        << log.text();
    EXPECT_EQ(1u, undoCopies());

    open(Bytes(seem::kMaxWriteLength + 1, 7));
    ASSERT_TRUE(editor->read(0x32, 1));
    EXPECT_EQ("Cannot be written: " + std::to_string(seem::kMaxWriteLength + 1) +
                  " bytes, more than one write carries (" + std::to_string(seem::kMaxWriteLength) + ").",
              editor->whyNotWritable());
    editor->setByte(0, 0);
    EXPECT_FALSE(editor->write());
    EXPECT_EQ(Bytes(seem::kMaxWriteLength + 1, 7), onPhone());
}

TEST_F(SeemEditorTest, CompareWith_ARecordFileOrABackupFoldersNewestRecord) {
    open();
    ASSERT_TRUE(editor->read(0x32, 1));
    editor->setByte(1, 0x0a);
    const stdfs::path file = folder / "0032_0001.seem";
    std::ofstream(file, std::ios::binary) << std::string("\x01\x02\x03\x05", 4);
    const std::string name = backup::pathText(file);
    EXPECT_EQ((std::vector<std::string>{name + ": 2 bytes differ", "0001: 02 -> 0a (bits 3)",
                                        "0003: 05 -> 04 (bits 0)"}),
              editor->compareWith(file));
    std::ofstream(file, std::ios::binary) << std::string("\x01", 1);
    EXPECT_EQ(std::vector<std::string>{name + ": 1 byte, the record 4 bytes"}, editor->compareWith(file));

    const stdfs::path none = folder / "none";
    stdfs::create_directories(none);
    ASSERT_EQ(1u, editor->compareWith(none).size());
    EXPECT_EQ(0u, editor->compareWith(none)[0].find(backup::pathText(none) + ": "));
}

} // namespace
} // namespace telvane
