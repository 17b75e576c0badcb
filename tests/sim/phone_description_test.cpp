#include "sim/phone_description.h"

#include <gtest/gtest.h>

#include "common/byte_order.h"
#include "sim/phone_factory.h"

namespace telvane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string examplePath(const std::string& name) {
    std::string here = __FILE__; // .../tests/sim/this file
    return here.substr(0, here.rfind("/tests/")) + "/sim/phones/" + name;
}

TEST(PhoneDescription, EveryStatementAndContentForm) {
    const char* text = R"(# comment
volume /a
entry-size 268
records-per-chunk 2
free-space 0x1000
model "Demo \"Q\""
  # indented comment

file "/a/my music/a b.txt" attr=0x10 second=2 text="x\r\n\x01"
file /a/h.bin hex=00ff10
file /a/z.dat size=5 fill=0xAA
file /a/empty
seem 0x0032 1 hex=0102
seem 0x0105 2 utf16=Hi
fault zerofree@0x4a/0x0b
fault status=7#3
)";
    std::string error;
    auto p = parsePhoneDescription(text, error);
    ASSERT_TRUE(p) << error;
    EXPECT_EQ("/a", p->volume);
    EXPECT_EQ(268u, p->entrySize);
    EXPECT_EQ(2u, p->recordsPerChunk);
    EXPECT_EQ(0x1000u, p->freeSpace);
    EXPECT_EQ("Demo \"Q\"", p->model);
    ASSERT_EQ(4u, p->files.size());
    EXPECT_EQ("/a/my music/a b.txt", p->files[0].name);
    EXPECT_EQ(0x10u, p->files[0].attribute);
    EXPECT_EQ(2u, p->files[0].second);
    EXPECT_EQ((Bytes{'x', '\r', '\n', 1}), p->files[0].bytes);
    EXPECT_EQ((Bytes{0, 0xFF, 0x10}), p->files[1].bytes);
    EXPECT_EQ(Bytes(5, 0xAA), p->files[2].bytes);
    EXPECT_TRUE(p->files[3].bytes.empty());
    ASSERT_EQ(2u, p->seems.size());
    EXPECT_EQ((Bytes{0, 'H', 0, 'i', 0, 0}), p->seems[1].bytes);
    ASSERT_EQ(2u, p->faults.size());
    EXPECT_EQ(FaultKind::ZeroFreeSpace, p->faults[0].kind);

    // The model lands at seem 0x0117 record 1 as UTF-16BE.
    VirtualPhone phone(*p);
    const Bytes* model = phone.seems().get(0x0117, 1);
    ASSERT_NE(nullptr, model);
    EXPECT_EQ((Bytes{0, 'D', 0, 'e'}), Bytes(model->begin(), model->begin() + 4));
}

TEST(PhoneDescription, DefaultsFillTheRest) {
    std::string error;
    auto p = parsePhoneDescription("volume a\nentry-size 44\n", error);
    ASSERT_TRUE(p) << error;
    EXPECT_EQ(maxRecordsPerChunk(44), p->recordsPerChunk);
    EXPECT_EQ(92u, p->recordsPerChunk);
    EXPECT_TRUE(p->files.empty());
}

TEST(PhoneDescription, ErrorsNameTheLineAndTheReason) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"volume a\nbogus 1\n", "line 2: unknown statement 'bogus'"},
        {"volume a\nfile x hex=0g\n", "line 2: hex needs pairs of hexadecimal digits"},
        {"volume a\nfile x hex=0\n", "line 2: hex needs pairs of hexadecimal digits"},
        {"volume a\nfile x text=a hex=00\n", "line 2: give the contents one way only"},
        {"volume a\nfile x colour=red\n", "line 2: unknown file option 'colour'"},
        {"volume a\nfile x attr=0x10000\n", "line 2: attr must be a 16-bit number"},
        {"volume a\nfile x size=99999999999\n", "line 2: size must be a number up to 16777216"},
        {"volume \"a\n", "line 1: unterminated quote"},
        {"volume a\nfault sometimes\n", "line 2: bad fault rule 'sometimes'"},
        {"volume a\nseem 1 1\n", "line 2: seem takes a seem number, a record number and its contents"},
        {"volume a\nentry-size\n", "line 2: entry-size takes 1 value"},
        {"entry-size 44\n", "no volume given"},
        {"volume a\nentry-size 45\n", "entry size must be 44 or 268"},
        {"volume a\nentry-size 268\nrecords-per-chunk 16\n", "records per chunk must be 1 to 15 for 268-byte records"},
        {"volume a\nentry-size 44\nfile abcdefghijabcdefghijabcdefghijabcdefg\n",
         "file name 'abcdefghijabcdefghijabcdefghijabcdefg' must be 1 to 36 bytes"},
        {"volume a\nfile x\nfile x\n", "file name 'x' given twice"},
        {"volume a\nseem 1 0 hex=00\n", "seem records count from 1"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parsePhoneDescription(c.text, error)) << c.text;
        EXPECT_EQ(c.error, error) << c.text;
    }
}

TEST(PhoneDescription, ExampleFilesLoadAndMissingFilesSaySo) {
    std::string error;
    auto tree = loadPhoneDescription(examplePath("small-tree.phone"), error);
    ASSERT_TRUE(tree) << error;
    EXPECT_EQ("/a/mobile/my documents/list.txt", tree->files[3].name);
    auto flat = loadPhoneDescription(examplePath("faulty-flat.phone"), error);
    ASSERT_TRUE(flat) << error;
    EXPECT_EQ(2u, flat->faults.size());

    EXPECT_FALSE(loadPhoneDescription(examplePath("no-such.phone"), error));
    EXPECT_EQ("cannot read " + examplePath("no-such.phone"), error);
    EXPECT_FALSE(selectPhoneProfile("round", "", error));
    EXPECT_EQ("unknown phone profile 'round' (built in: tree, flat)", error);
    EXPECT_TRUE(selectPhoneProfile("", "", error));
}

TEST(BuiltInPhones, AreSoundAndTheFlatOneListsInSeveralChunks) {
    for (const auto& name : builtinPhoneProfileNames()) {
        auto p = builtinPhoneProfile(name);
        ASSERT_TRUE(p);
        EXPECT_EQ("", checkProfile(*p)) << name;
        EXPECT_GT(p->files.size(), 2u * p->recordsPerChunk) << name;
    }
    EXPECT_EQ("/a", treePhoneProfile().volume);
    EXPECT_EQ(268u, treePhoneProfile().entrySize);
    EXPECT_EQ("a", flatPhoneProfile().volume);
    EXPECT_EQ(44u, flatPhoneProfile().entrySize);
}

TEST(VirtualPhoneModel, ListChunksNeverExceedOneReply) {
    PhoneProfile p = flatPhoneProfile();
    for (int i = 0; i < 200; ++i) p.files.push_back({"many" + std::to_string(i), 0, 0, {}});
    VirtualPhone phone(p);
    phone.setRecordsPerChunk(100000);
    EXPECT_EQ(92u, phone.recordsPerChunk());
    const std::uint8_t count[4] = {0, 0, 0, 7};
    const std::uint8_t next[4] = {0, 0, 0, 8};
    EXPECT_EQ((Bytes{0, static_cast<std::uint8_t>(p.files.size())}), phone.handleCommand(0x4A, count, {}).data);
    PhoneReply full = phone.handleCommand(0x4A, next, {});
    EXPECT_EQ(4u + 92 * 44, full.data.size());

    // Oversized records from a fault still fit one reply, with the header's number cut to match.
    FaultRule oversized{FaultKind::BadEntrySize, 4000, true, {}, {}, {}, 0};
    PhoneReply cut = phone.handleCommand(0x4A, next, oversized);
    EXPECT_EQ(4u + 4000, cut.data.size());
    EXPECT_EQ(1u, readBe16(cut.data.data()));
    EXPECT_LE(cut.data.size(), kMaxReplyData);
}

TEST(VirtualPhoneModel, MalformedPayloadsAnswerInvalidDataLength) {
    VirtualPhone phone;
    const std::uint8_t shortSub[2] = {0, 0};
    const std::uint8_t readWithExtra[9] = {0, 0, 0, 1, 0, 0, 0, 4, 0};
    const std::uint8_t writeCountTooBig[9] = {0, 0, 0, 2, 0, 0, 0, 5, 1};
    const std::uint8_t seemShort[6] = {0, 1, 0, 1, 0, 0};
    EXPECT_EQ(status::kInvalidDataLength, phone.handleCommand(0x4A, shortSub, {}).status);
    EXPECT_EQ(status::kInvalidDataLength, phone.handleCommand(0x4A, readWithExtra, {}).status);
    EXPECT_EQ(status::kInvalidDataLength, phone.handleCommand(0x4A, writeCountTooBig, {}).status);
    EXPECT_EQ(status::kInvalidDataLength, phone.handleCommand(0x20, seemShort, {}).status);
    EXPECT_EQ(status::kInvalidDataLength, phone.handleCommand(0x4A, Bytes{0, 0, 0, 0x0B, 0, 0}, {}).status);
    const std::uint8_t unknownSub[4] = {0, 0, 0, 9};
    EXPECT_EQ(status::kInvalidParameter, phone.handleCommand(0x4A, unknownSub, {}).status);
}

} // namespace
} // namespace telvane::sim
