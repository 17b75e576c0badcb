#include "sim/phone_file_system.h"

#include <gtest/gtest.h>

namespace telvane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

class PhoneFileSystemTest : public ::testing::Test {
protected:
    PhoneFileSystemTest() { fs.add({"old.txt", 3, 9, Bytes{1, 2, 3, 4, 5, 6}}); }

    Bytes readAll(const std::string& name) {
        Bytes out;
        EXPECT_EQ(FsOutcome::Ok, fs.open(name, fs.find(name)->attribute));
        EXPECT_EQ(FsOutcome::Ok, fs.read(1000, out));
        EXPECT_EQ(FsOutcome::Ok, fs.close());
        return out;
    }

    PhoneFileSystem fs{100, 36};
};

TEST_F(PhoneFileSystemTest, OpenCreatesAMissingFileAndSetsTheAttributeWord) {
    EXPECT_EQ(FsOutcome::Ok, fs.open("new.bin", 0x12345));
    ASSERT_NE(nullptr, fs.find("new.bin"));
    EXPECT_EQ(0x2345u, fs.find("new.bin")->attribute);
    EXPECT_EQ("new.bin", fs.files().back().name);
    EXPECT_EQ(FsOutcome::Ok, fs.open("old.txt", 0));
    EXPECT_EQ(0u, fs.find("old.txt")->attribute);
    EXPECT_EQ(9u, fs.find("old.txt")->second);
    EXPECT_EQ("old.txt", *fs.openName()); // one open file: the newer open took its place
    EXPECT_EQ(FsOutcome::BadName, fs.open(std::string(37, 'x'), 0));
    EXPECT_EQ(FsOutcome::BadName, fs.open("", 0));
}

TEST_F(PhoneFileSystemTest, ReadSeekAndPosition) {
    Bytes out;
    EXPECT_EQ(FsOutcome::NotOpen, fs.read(1, out));
    ASSERT_EQ(FsOutcome::Ok, fs.open("old.txt", 3));
    EXPECT_EQ(FsOutcome::Ok, fs.read(4, out));
    EXPECT_EQ((Bytes{1, 2, 3, 4}), out);
    EXPECT_EQ(FsOutcome::Ok, fs.read(4, out));
    EXPECT_EQ((Bytes{5, 6}), out);
    EXPECT_EQ(FsOutcome::Ok, fs.read(4, out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(FsOutcome::Ok, fs.seek(2, 0));
    EXPECT_EQ(FsOutcome::Ok, fs.seek(1, 1));
    EXPECT_EQ(3u, fs.position());
    EXPECT_EQ(FsOutcome::Ok, fs.seek(0, 2));
    EXPECT_EQ(6u, fs.position());
    EXPECT_EQ(FsOutcome::BadPosition, fs.seek(7, 0));
    EXPECT_EQ(FsOutcome::BadPosition, fs.seek(0, 3));
    EXPECT_EQ(6u, fs.position());
}

TEST_F(PhoneFileSystemTest, WritesTakeFreeSpaceAndRewritingReplaces) {
    ASSERT_EQ(FsOutcome::Ok, fs.open("old.txt", 3));
    EXPECT_EQ(FsOutcome::Ok, fs.write(Bytes{9, 9}));
    EXPECT_EQ(FsOutcome::Ok, fs.write(Bytes{8}));
    EXPECT_EQ(FsOutcome::Ok, fs.close());
    EXPECT_EQ((Bytes{9, 9, 8}), readAll("old.txt"));
    EXPECT_EQ(103u, fs.freeSpace()); // three bytes given back

    // Patching after a seek keeps what lies beyond the written bytes only before the first write.
    ASSERT_EQ(FsOutcome::Ok, fs.open("old.txt", 3));
    ASSERT_EQ(FsOutcome::Ok, fs.seek(1, 0));
    EXPECT_EQ(FsOutcome::Ok, fs.write(Bytes(5, 7)));
    EXPECT_EQ(FsOutcome::Ok, fs.close());
    EXPECT_EQ((Bytes{9, 7, 7, 7, 7, 7}), readAll("old.txt"));
    EXPECT_EQ(100u, fs.freeSpace());

    ASSERT_EQ(FsOutcome::Ok, fs.open("big", 0));
    EXPECT_EQ(FsOutcome::NoSpace, fs.write(Bytes(101, 1)));
    EXPECT_EQ(0u, fs.find("big")->bytes.size());
    EXPECT_EQ(FsOutcome::Ok, fs.write(Bytes(100, 1)));
    EXPECT_EQ(0u, fs.freeSpace());
}

TEST_F(PhoneFileSystemTest, DeleteGivesSpaceBackButNotForTheOpenFile) {
    ASSERT_EQ(FsOutcome::Ok, fs.open("old.txt", 3));
    EXPECT_EQ(FsOutcome::Busy, fs.remove("old.txt"));
    EXPECT_EQ(FsOutcome::Ok, fs.close());
    EXPECT_EQ(FsOutcome::NotOpen, fs.close());
    EXPECT_EQ(FsOutcome::Ok, fs.remove("old.txt"));
    EXPECT_EQ(106u, fs.freeSpace());
    EXPECT_EQ(FsOutcome::NotFound, fs.remove("old.txt"));
    EXPECT_FALSE(fs.add({"", 0, 0, {}}));
    EXPECT_TRUE(fs.add({"x", 0, 0, {}}));
    EXPECT_FALSE(fs.add({"x", 0, 0, {}}));
}

TEST_F(PhoneFileSystemTest, DeletingFromTheMiddleKeepsEveryOtherFileFoundInListingOrder) {
    for (const char* name : {"a", "b", "c", "d"}) ASSERT_TRUE(fs.add({name, 0, 0, Bytes{static_cast<std::uint8_t>(name[0])}}));
    ASSERT_EQ(FsOutcome::Ok, fs.remove("b"));
    ASSERT_EQ(FsOutcome::Ok, fs.remove("old.txt"));
    std::vector<std::string> names;
    for (const auto& f : fs.files()) names.push_back(f.name);
    EXPECT_EQ((std::vector<std::string>{"a", "c", "d"}), names);
    for (const char* name : {"a", "c", "d"}) {
        ASSERT_NE(nullptr, fs.find(name)) << name;
        EXPECT_EQ(Bytes{static_cast<std::uint8_t>(name[0])}, readAll(name));
    }
    EXPECT_EQ(nullptr, fs.find("b"));
    // The name is free again, and a file opened under it goes to the end.
    EXPECT_EQ(FsOutcome::Ok, fs.open("b", 1));
    EXPECT_EQ("b", fs.files().back().name);
    EXPECT_EQ(&fs.files().back(), fs.find("b"));
    EXPECT_FALSE(fs.add({"d", 0, 0, {}}));
}

} // namespace
} // namespace telvane::sim
