#include <gtest/gtest.h>

#include "tools/cli/cli_request.h"
#include "tools/cli/manifest.h"
#include "tools/cli/pc_paths.h"

namespace telvane::cli {
namespace {

TEST(BackupPaths, KeepTreeFoldersBelowTheVolume_AndMakeEveryNameOneThePcHolds) {
    EXPECT_EQ("files/mobile/audio/ring.mp3", backupFilePath("/a/mobile/audio/ring.mp3", "/a", true));
    EXPECT_EQ("files/x/CON_/_", backupFilePath("/a/x/CON_/.", "/a", true));
    EXPECT_EQ("files/_CON/a_b", backupFilePath("/a/CON//a:b", "/a", true));
    EXPECT_EQ("files/other/f", backupFilePath("/other/f", "/a", true)); // not below the volume: kept whole
    EXPECT_EQ("files/a_b_c", backupFilePath("a/b:c", "a", false));     // flat: one name
    EXPECT_EQ("files/caf\xc3\xa9.mp3", backupFilePath("caf\xe9.mp3", "a", false));
    EXPECT_EQ("0032_0001.seem", seemFileName(0x32, 1));
}

TEST(BackupPaths, PhoneNamesGoToUtf8AndBack) {
    const std::string bytes("\x41\xe9\xff\x7f", 4);
    EXPECT_EQ(bytes, utf8ToLatin1(latin1ToUtf8(bytes)));
    EXPECT_FALSE(utf8ToLatin1("\xe2\x82\xac")); // the euro sign is past U+00FF
    EXPECT_FALSE(utf8ToLatin1("\xc3"));         // cut short
}

TEST(ManifestText, RoundTripsAndRefusesWhatARestoreMustNotTrust) {
    Manifest m;
    m.model = "Sim T1";
    m.volume = "/a";
    m.time = "2026-12-09T12:00:00Z";
    m.files = {{"/a/x", "files/x", 12, 4}};
    m.seems = {{0x32, 1, 4, "seems/0032_0001.seem"}};
    Manifest back;
    std::string error;
    ASSERT_TRUE(parseManifest(manifestText(m), back, error)) << error;
    EXPECT_EQ("files/x", back.files.at(0).pc);
    EXPECT_EQ(4, back.files.at(0).attribute);
    EXPECT_EQ(0x32, back.seems.at(0).seem);

    const std::string head = R"({"format":1,"model":"M","volume":"/a","time":"t","seems":[],"files":[)";
    for (const char* files : {R"({"phone":"/a/x","pc":"../x","size":1,"attribute":0})",
                                     R"({"phone":"/a/x","pc":"/etc/x","size":1,"attribute":0})",
                                     R"({"phone":"/a/x","pc":"files/C:x","size":1,"attribute":0})",
                                     R"({"phone":"/a/x","pc":"files//x","size":1,"attribute":0})",
                                     R"({"phone":"/a/x","pc":"files/x","size":-1,"attribute":0})",
                                     R"({"phone":"/a/x","pc":"files/x","attribute":0})"}) {
        EXPECT_FALSE(parseManifest(head + files + "]}", back, error)) << files;
    }
    EXPECT_FALSE(parseManifest(R"({"format":2})", back, error));
    EXPECT_FALSE(parseManifest("{", back, error));
    EXPECT_EQ("files/x", back.files.at(0).pc) << "a refused text leaves the manifest as it was";
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
