#include <set>

#include <gtest/gtest.h>

#include "backup/pc_names.h"
#include "backup/pc_store.h"

namespace telvane::backup {
namespace {

std::string folded(const std::string& path) { return foldCase(path); }

TEST(PcNames, KeepTreeFoldersBelowTheVolume_AndMakeEveryNameOneThePcHolds) {
    PcNameMap names("files");
    EXPECT_EQ("files/mobile/audio/ring.mp3", names.pathFor("/a/mobile/audio/ring.mp3", "/a", true));
    EXPECT_EQ("files/x/CON_/_", names.pathFor("/a/x/CON_/.", "/a", true));
    EXPECT_EQ("files/_CON/a_b", names.pathFor("/a/CON//a:b", "/a", true));
    EXPECT_EQ("files/other/f", names.pathFor("/other/f", "/a", true)); // not below the volume: kept whole
    EXPECT_EQ("files/a_b_c", names.pathFor("a/b:c", "a", false));     // flat: one name
    EXPECT_EQ("files/caf\xc3\xa9.mp3", names.pathFor("caf\xe9.mp3", "a", false));
    EXPECT_EQ("files/mobile/audio/ring.mp3", names.pathFor("/a/mobile/audio/ring.mp3", "/a", true))
        << "a name asked again keeps its path";
}

TEST(PcNames, NamesThatMeetOnThePc_IgnoringCaseOrRefusedCharacters_EachGetAPathOfTheirOwn) {
    PcNameMap names("files");
    std::set<std::string> keys;
    for (const char* name : {"a:b", "a_b", "a?b", "A_B", "Ring.mp3", "ring.MP3", "\xc9t\xe9", "\xe9T\xc9"})
        EXPECT_TRUE(keys.insert(folded(names.pathFor(name, "a", false))).second) << name;
    EXPECT_EQ("files/a_b~2", names.pathFor("a_b", "a", false));
    EXPECT_EQ("files/ring~2.MP3", names.pathFor("ring.MP3", "a", false)) << "the number goes before the extension";
}

TEST(PcNames, AFolderIsSpelledOneWay_AndNeverSharesAPathWithAFile) {
    PcNameMap names("files");
    EXPECT_EQ("files/Music/x", names.pathFor("/a/Music/x", "/a", true));
    EXPECT_EQ("files/Music/y", names.pathFor("/a/music/y", "/a", true)) << "one folder on Windows is one on Linux";
    EXPECT_EQ("files/Music/X~2", names.pathFor("/a/MUSIC/X", "/a", true));
    EXPECT_EQ("files/notes", names.pathFor("/a/notes", "/a", true));
    EXPECT_EQ("files/Notes~2/z", names.pathFor("/a/Notes/z", "/a", true));
    EXPECT_EQ("files/Notes~2/w", names.pathFor("/a/Notes/w", "/a", true));
    EXPECT_EQ("files/music~2", names.pathFor("/a/music", "/a", true)) << "nor a file with a folder";
}

TEST(PcNames, LongNamesAreShortenedWithAHash_WithinTheLimit_AndStayApart) {
    PcNameMap names("files");
    const std::string stem(250, '\xe9'); // 500 bytes once UTF-8
    const std::string first = names.pathFor("/a/" + stem + "1.mp3", "/a", true);
    const std::string second = names.pathFor("/a/" + stem + "2.mp3", "/a", true);
    EXPECT_NE(first, second);
    for (const std::string& path : {first, second}) {
        EXPECT_LE(path.size() - 6, kMaxPcComponent) << path;
        EXPECT_TRUE(path.ends_with(".mp3")) << path;
        EXPECT_TRUE(utf8ToLatin1(path)) << "never cut inside a character";
    }
}

TEST(PcNames, ReservedPathsStayWithTheirNames_AndAreNeverGivenToAnother) {
    PcNameMap names("files");
    EXPECT_TRUE(names.reserve("a_b", "files/a_b"));
    // The deleted file's path is not taken over by a new name that maps to it.
    EXPECT_EQ("files/a_b~2", names.pathFor("a:b", "a", false));
    EXPECT_EQ("files/a_b", names.pathFor("a_b", "a", false));
    EXPECT_FALSE(names.reserve("c", "files/A_B")) << "taken, ignoring case";
    for (const char* bad : {"../x", "files/../x", "files/a:b", "files/CON", "other/x", "files", "files/x/"})
        EXPECT_FALSE(names.reserve(std::string("n") + bad, bad)) << bad;
}

} // namespace
} // namespace telvane::backup
