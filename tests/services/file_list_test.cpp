#include "services/file_list.h"

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "recording_progress.h"
#include "scripted_phone.h"

namespace telvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

// A record as the phone sends it.
Bytes record(std::uint32_t e, const std::string& name, std::uint16_t attribute, std::uint16_t second,
             std::uint32_t size) {
    Bytes r(e, 0);
    std::memcpy(r.data(), name.data(), std::min<std::size_t>(name.size(), e - 8));
    writeBe16(r.data() + e - 8, attribute);
    writeBe16(r.data() + e - 6, second);
    writeBe32(r.data() + e - 4, size);
    return r;
}

// A chunk reply: record number, two bytes, records.
Bytes chunk(std::uint16_t number, const std::vector<Bytes>& records) {
    Bytes c(4, 0);
    writeBe16(c.data(), number);
    for (const auto& r : records) c.insert(c.end(), r.begin(), r.end());
    return c;
}

Bytes countReply(std::uint16_t n) { return {static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)}; }

std::vector<Bytes> records(std::uint32_t e, int n, const std::string& prefix) {
    std::vector<Bytes> out;
    for (int i = 0; i < n; ++i)
        out.push_back(record(e, prefix + std::to_string(i), static_cast<std::uint16_t>(i), 0, 100u + i));
    return out;
}

class FileListTest : public ::testing::Test {
protected:
    int read() { return list.readFileList(fs, progress); }

    test::ScriptedPhone phone;
    FileList list{phone.log};
    FsCommands fs{phone.transport, phone.log, list};
    test::RecordingProgress progress;
};

TEST_F(FileListTest, ThreeLargeRecordsInOneChunk_DecodeToHostOrder) {
    phone.answerData(countReply(3));
    phone.answerData(chunk(3, {record(268, "/a/mobile/ring.mp3", 0x0102, 0x0304, 123456),
                               record(268, "/a/x.tar.gz", 1, 0, 7), record(268, "/a/readme", 0, 0, 0)}));
    EXPECT_EQ(0, read());
    ASSERT_TRUE(list.complete());
    EXPECT_EQ(3u, list.count());
    EXPECT_EQ(268u, list.recordSize());
    EXPECT_EQ(3u, list.recordsReceived());

    const FileEntry first = list.entry(0);
    EXPECT_EQ("/a/mobile/ring.mp3", entryName(first));
    EXPECT_EQ(0x0102u, entryAttribute(first));
    EXPECT_EQ(0x03040102u, entryAttributes32(first));
    EXPECT_EQ(123456u, entrySize(first));
    EXPECT_EQ("mp3", entryExtension(first));
    EXPECT_EQ("gz", entryExtension(list.entry(1)));
    EXPECT_EQ("", entryExtension(list.entry(2)));
    EXPECT_EQ(list.entry(1).record, list.entry(0).record + 268);
    EXPECT_FALSE(list.entry(3));
    EXPECT_EQ((Strings{"range 0-3", "pos 0", "pos 3"}), progress.calls);
    EXPECT_EQ("", phone.log.text());
}

TEST_F(FileListTest, RecordNumberSettlesAmbiguousChunkSizes) {
    // 11 × 268 = 67 × 44 = 2948 bytes: the chunk's record number tells which.
    phone.answerData(countReply(11));
    phone.answerData(chunk(11, records(268, 11, "/a/large")));
    EXPECT_EQ(0, read());
    EXPECT_EQ(268u, list.recordSize());
    EXPECT_EQ("/a/large10", entryName(list.entry(10)));
    EXPECT_EQ(110u, entrySize(list.entry(10)));

    phone.answerData(countReply(67));
    phone.answerData(chunk(67, records(44, 67, "small")));
    EXPECT_EQ(0, read());
    EXPECT_EQ(44u, list.recordSize());
    EXPECT_EQ("small66", entryName(list.entry(66)));
}

TEST_F(FileListTest, UnsettlingRecordNumber_FallsBackToFortyFourFirst) {
    // Two records announced, three small records' bytes: neither size matches the number.
    phone.answerData(countReply(2));
    phone.answerData(chunk(2, records(44, 3, "f")));
    EXPECT_EQ(0, read());
    EXPECT_EQ(44u, list.recordSize());
    EXPECT_EQ("f1", entryName(list.entry(1)));
}

TEST_F(FileListTest, SeveralChunks_ProgressFollowsTheRecordsReceived) {
    phone.answerData(countReply(5));
    phone.answerData(chunk(2, records(44, 2, "a")));
    phone.answerData(chunk(2, records(44, 2, "b")));
    phone.answerData(chunk(1, records(44, 1, "c")));
    EXPECT_EQ(0, read());
    EXPECT_EQ("b1", entryName(list.entry(3)));
    EXPECT_EQ("c0", entryName(list.entry(4)));
    EXPECT_EQ((Strings{"range 0-5", "pos 0", "pos 2", "pos 4", "pos 5"}), progress.calls);
    const auto sent = phone.sent();
    ASSERT_EQ(4u, sent.size());
    EXPECT_EQ((Bytes{0, 0, 0, 8}), sent[3].payload);
}

TEST_F(FileListTest, InvalidCountOrNoMemory_KeepsThePreviousListWhole) {
    phone.answerData(countReply(1));
    phone.answerData(chunk(1, {record(44, "kept.txt", 0, 0, 5)}));
    ASSERT_EQ(0, read());
    const FileEntry kept = list.entry(0);

    phone.answerData(countReply(0));
    phone.answerData(countReply(0xFFFF));
    EXPECT_NE(0, read());
    EXPECT_NE(0, read());
    EXPECT_EQ("Invalid files count!\r\nInvalid files count!\r\n", phone.log.text());

    FileList starved(phone.log, [](std::size_t) { return std::unique_ptr<std::uint8_t[]>(); });
    phone.log.clear();
    phone.answerData(countReply(4));
    EXPECT_NE(0, starved.readFileList(fs, progress));
    EXPECT_EQ(" Memory allocation fail\r\n", phone.log.text());

    EXPECT_EQ(kept.record, list.entry(0).record);
    EXPECT_EQ("kept.txt", entryName(list.entry(0)));
    EXPECT_EQ(1u, list.count());
    EXPECT_TRUE(list.complete());
}

TEST_F(FileListTest, ChunkOfInvalidSize_LogsAndClearsTheEntrySize) {
    phone.answerData(countReply(3));
    phone.answerData(Bytes(104, 0)); // L - 4 = 100
    EXPECT_NE(0, read());
    EXPECT_EQ("FileList entry size invalid!\r\n", phone.log.text());
    EXPECT_EQ(0u, list.recordSize());
    EXPECT_EQ(0u, list.recordsReceived());
    EXPECT_FALSE(list.complete());
}

TEST_F(FileListTest, ReadFailingPartWay_ExposesOnlyTheRecordsReceived) {
    struct Case {
        const char* what;
        std::function<void(test::ScriptedPhone&)> second;
    } cases[] = {
        {"no records", [](auto& p) { p.answerData(chunk(0, {})); }},
        {"more than remain", [](auto& p) { p.answerData(chunk(3, records(44, 3, "x"))); }},
        {"reply too short for a header", [](auto& p) { p.answerData({0, 1}); }},
        {"no data", [](auto& p) { p.answerNoData(); }},
        {"failed command", [](auto& p) { p.answer(7); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        phone.log.clear();
        phone.answerData(countReply(4));
        phone.answerData(chunk(2, records(44, 2, "got")));
        c.second(phone);
        EXPECT_NE(0, read());
        EXPECT_FALSE(list.complete());
        EXPECT_EQ(4u, list.count());
        EXPECT_EQ(2u, list.recordsReceived());
        EXPECT_EQ("got1", entryName(list.entry(1)));
        EXPECT_FALSE(list.entry(2));
        EXPECT_EQ(list.entry(1).record, list.entryAt(list.entry(1).record).record);
        EXPECT_FALSE(list.entryAt(list.entry(1).record + 44));
    }
}

TEST_F(FileListTest, EntryAt_AcceptsOnlyRecordStartsOfThisList) {
    phone.answerData(countReply(2));
    phone.answerData(chunk(2, records(268, 2, "/a/f")));
    ASSERT_EQ(0, read());
    const std::uint8_t* second = list.entry(1).record;
    EXPECT_EQ("/a/f1", entryName(list.entryAt(second)));
    EXPECT_FALSE(list.entryAt(second + 1));
    EXPECT_FALSE(list.entryAt(second + 268));
    const std::uint8_t elsewhere[268] = {};
    EXPECT_FALSE(list.entryAt(elsewhere));
    EXPECT_FALSE(list.entryAt(nullptr));
}

TEST(FileEntryAccessors, ExtensionScanRules) {
    auto converted = [](std::uint32_t e, const std::string& name, std::uint16_t attribute) {
        Bytes r = record(e, name, attribute, 0, 1);
        convertRecord(r.data(), e);
        return r;
    };
    const Bytes folderDot = converted(268, "/a/my.folder/readme", 0);
    EXPECT_EQ("folder/readme", entryExtension({folderDot.data(), 268}));
    const Bytes trailingDot = converted(44, "name.", 0);
    EXPECT_EQ("", entryExtension({trailingDot.data(), 44}));

    // A name filling its field has no terminator: the name stops at the field, the extension
    // scan sees the attribute word's first byte (low byte in host order).
    const std::string full = std::string(31, 'n') + ".abcd"; // 36 = 44 - 8
    const Bytes filled = converted(44, full, 0x0041);
    EXPECT_EQ(full, entryName({filled.data(), 44}));
    EXPECT_EQ("abcdA", entryExtension({filled.data(), 44}));
    EXPECT_EQ(0x41u, entryAttribute({filled.data(), 44}));

    EXPECT_EQ("", entryName({}));
    EXPECT_EQ("", entryExtension({filled.data(), 45}));
    EXPECT_EQ(0u, entrySize({}));
}

} // namespace
} // namespace telvane
