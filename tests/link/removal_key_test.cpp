#include "link/removal_key.h"

#include <gtest/gtest.h>

namespace telvane {
namespace {

constexpr const char* kClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\";

TEST(RemovalKeyTest, InterfacePath_BecomesItsClassControlKeyWithHashedPrefix) {
    const std::string path = "\\\\?\\usb#vid_22b8&pid_4902#5&2d1b3c4a&0&2#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
    const std::string key = removalKeyPath(path);
    EXPECT_EQ("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\"
              "##?#usb#vid_22b8&pid_4902#5&2d1b3c4a&0&2#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\#\\Control",
              key);
    // The replaced characters sit at offsets 86, 87 and 89 of the whole key.
    EXPECT_EQ('#', key[86]);
    EXPECT_EQ('#', key[87]);
    EXPECT_EQ('?', key[88]);
    EXPECT_EQ('#', key[89]);
}

TEST(RemovalKeyTest, ShortPaths_ReplaceOnlyTheirOwnCharacters) {
    EXPECT_EQ(std::string(kClassKey) + "\\#\\Control", removalKeyPath(""));
    EXPECT_EQ(std::string(kClassKey) + "#\\#\\Control", removalKeyPath("\\"));
    EXPECT_EQ(std::string(kClassKey) + "##?\\#\\Control", removalKeyPath("\\\\?"));
    EXPECT_EQ(std::string(kClassKey) + "##?#\\#\\Control", removalKeyPath("\\\\?\\"));
}

} // namespace
} // namespace telvane
