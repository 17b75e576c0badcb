#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backup/manifest.h"

namespace telvane::backup {
namespace {

const std::string kHash(64, 'a');

TEST(ManifestText, RoundTripsAndRefusesWhatARestoreMustNotTrust) {
    Manifest m;
    m.model = "Sim T1";
    m.volume = "/a";
    m.time = "2026-12-09T12:00:00Z";
    m.treeMode = true;
    m.seemRange = {{0x30, 0x40}};
    m.files = {{"/a/x", "files/x", 12, 4, kHash}};
    m.seems = {{0x32, 1, 4, "seems/0032_0001.seem", kHash}};
    Manifest back;
    std::string error;
    ASSERT_TRUE(parseManifest(manifestText(m), back, error)) << error;
    EXPECT_EQ("files/x", back.files.at(0).pc);
    EXPECT_EQ(4, back.files.at(0).attribute);
    EXPECT_EQ(kHash, back.files.at(0).sha256);
    EXPECT_EQ(0x32, back.seems.at(0).seem);
    EXPECT_TRUE(back.treeMode);
    EXPECT_EQ(0x40, back.seemRange->second);

    const std::string head = R"({"format":2,"model":"M","volume":"/a","time":"t","seems":[],"files":[)";
    const std::string hash = R"(,"sha256":")" + kHash + "\"}";
    for (const std::string& files : std::vector<std::string>{
             R"({"phone":"/a/x","pc":"../x","size":1,"attribute":0)" + hash,
          R"({"phone":"/a/x","pc":"/etc/x","size":1,"attribute":0)" + hash,
          R"({"phone":"/a/x","pc":"files/C:x","size":1,"attribute":0)" + hash,
          R"({"phone":"/a/x","pc":"files//x","size":1,"attribute":0)" + hash,
          R"({"phone":"/a/x","pc":"files/x","size":-1,"attribute":0)" + hash,
          R"({"phone":"/a/x","pc":"files/x","attribute":0)" + hash,
          std::string(R"({"phone":"/a/x","pc":"files/x","size":1,"attribute":0})"),              // no hash
          R"({"phone":"/a/x","pc":"files/x","size":1,"attribute":0,"sha256":"XYZ"})",             // not a hash
          R"({"phone":"/a/x","pc":"files/x","size":1,"attribute":0)" + hash + "," +             // one name twice
              R"({"phone":"/a/x","pc":"files/y","size":1,"attribute":0)" + hash,
          R"({"phone":"/a/x","pc":"files/x","size":1,"attribute":0)" + hash + "," +             // one file twice
              R"({"phone":"/a/y","pc":"files/X","size":1,"attribute":0)" + hash}) {
        EXPECT_FALSE(parseManifest(head + files + "]}", back, error)) << files;
    }
    EXPECT_FALSE(parseManifest(R"({"format":3})", back, error));
    EXPECT_FALSE(parseManifest("{", back, error));
    EXPECT_EQ("files/x", back.files.at(0).pc) << "a refused text leaves the manifest as it was";
}

TEST(ManifestText, TheFirstFormatWithoutHashesIsStillRead) {
    Manifest m;
    std::string error;
    ASSERT_TRUE(parseManifest(R"({"format":1,"model":"M","volume":"/a","time":"t","seems":[],)"
                              R"("files":[{"phone":"/a/x","pc":"files/x","size":1,"attribute":0}]})",
                              m, error))
        << error;
    EXPECT_EQ(1, m.format);
    EXPECT_EQ("", m.files.at(0).sha256);
}

} // namespace
} // namespace telvane::backup
