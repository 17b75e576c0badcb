#include <gtest/gtest.h>

#include "tools/cli/cli_request.h"
#include "tools/cli/pc_paths.h"

namespace telvane::cli {
namespace {

TEST(BackupPaths, PhoneNamesGoToUtf8AndBack) {
    const std::string bytes("\x41\xe9\xff\x7f", 4);
    EXPECT_EQ(bytes, utf8ToLatin1(latin1ToUtf8(bytes)));
    EXPECT_FALSE(utf8ToLatin1("\xe2\x82\xac")); // the euro sign is past U+00FF
    EXPECT_FALSE(utf8ToLatin1("\xc3"));         // cut short
}

TEST(SeemRanges, HexadecimalFromNotAboveTo) {
    std::uint16_t from = 0;
    std::uint16_t to = 0;
    EXPECT_TRUE(parseSeemRange("0032-0040", from, to));
    EXPECT_EQ(0x32, from);
    EXPECT_EQ(0x40, to);
    EXPECT_TRUE(parseSeemRange("ffff", from, to));
    EXPECT_EQ(0xFFFF, to);
    for (const char* bad : {"", "-", "10000", "40-32", "x", "1-", "0x"}) EXPECT_FALSE(parseSeemRange(bad, from, to)) << bad;
}

} // namespace
} // namespace telvane::cli
