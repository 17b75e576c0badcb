// The services end to end on the virtual phone: the link unchanged on the virtual driver.
#include <gtest/gtest.h>

#include "recording_progress.h"
#include "services/file_list.h"
#include "services/file_transfer.h"
#include "services/fs_commands.h"
#include "services/phone_info.h"
#include "services/seem_commands.h"
#include "sim/phone_factory.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"

namespace telvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

class PhoneServices : public ::testing::TestWithParam<std::string> {
protected:
    PhoneServices() : profile(*sim::builtinPhoneProfile(GetParam())), driver(sim::makeVirtualDriver(profile)) {
        link.setHandle(driver->open(sim::kPhoneInterfacePath));
    }

    void fault(const std::string& rule) { driver->addFault(*sim::parseFaultRule(rule)); }
    const sim::PhoneFile* phoneFile(const std::string& name) {
        return driver->withPhone([&](sim::VirtualPhone& p) { return p.fileSystem().find(name); });
    }
    std::uint32_t phoneFree() {
        return driver->withPhone([](sim::VirtualPhone& p) { return p.fileSystem().freeSpace(); });
    }
    std::string prefix() const { return profile.volume.find('/') != std::string::npos ? "/a/" : ""; }

    sim::PhoneProfile profile;
    std::unique_ptr<sim::VirtualDriver> driver;
    PhoneLink link;
    test::CaptureLog log;
    test::FakeClock clock;
    UsbChannel channel{*driver, link, log};
    CommandTransport transport{channel, clock, log};
    FileList list{log};
    FsCommands fs{transport, log, list};
    SeemCommands seems{transport};
    test::RecordingProgress progress;
};

TEST_P(PhoneServices, WholeList_MatchesThePhonesFiles) {
    ASSERT_EQ(0, list.readFileList(fs, progress));
    ASSERT_EQ(profile.files.size(), list.count());
    EXPECT_EQ(profile.entrySize, list.recordSize());
    EXPECT_GT(progress.calls.size(), 3u); // range, 0, and one position per chunk: several chunks
    for (std::uint32_t i = 0; i < list.count(); ++i) {
        const auto& f = profile.files[i];
        const FileEntry e = list.entry(i);
        EXPECT_EQ(f.name, entryName(e));
        EXPECT_EQ(f.attribute, entryAttribute(e));
        EXPECT_EQ(f.attribute | (std::uint32_t{f.second} << 16), entryAttributes32(e));
        EXPECT_EQ(f.bytes.size(), entrySize(e));
    }
    EXPECT_EQ("", log.text());
}

TEST_P(PhoneServices, UploadDownloadDelete_RoundTrip) {
    ASSERT_EQ(0, list.readFileList(fs, progress));
    const std::string name = prefix() + "up.bin";
    Bytes data(2 * 1024 + 452);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::uint32_t freeBefore = phoneFree();

    ASSERT_EQ(0, fs.FsOpen(name, 0));
    ASSERT_EQ(0, fs.FsWrite(data));
    ASSERT_EQ(0, fs.FsClose());
    EXPECT_EQ(freeBefore - data.size(), phoneFree());

    Bytes back(data.size());
    ASSERT_EQ(0, fs.FsOpen(name, 0));
    ASSERT_EQ(0, fs.FsSeek(0, 0));
    ASSERT_EQ(0, fs.FsRead(back));
    ASSERT_EQ(0, fs.FsClose());
    EXPECT_EQ(data, back);

    // Writing it anew replaces it; a read past its end fails.
    ASSERT_EQ(0, fs.FsOpen(name, 0));
    ASSERT_EQ(0, fs.FsWrite(std::span(data).first(10)));
    ASSERT_EQ(0, fs.FsSeek(0, 0));
    Bytes eleven(11);
    EXPECT_NE(0, fs.FsRead(eleven));
    ASSERT_EQ(0, fs.FsClose());
    EXPECT_EQ(10u, phoneFile(name)->bytes.size());

    ASSERT_EQ(0, fs.FsDelete(name));
    EXPECT_EQ(nullptr, phoneFile(name));
    EXPECT_EQ(freeBefore, phoneFree());
    EXPECT_NE(0, fs.FsDelete(name));
    EXPECT_NE(0, fs.FsClose()); // nothing open
    EXPECT_EQ("", log.text());
}

TEST_P(PhoneServices, OpenWithNewAttribute_ShowsInTheNextList) {
    const std::string& name = profile.files[1].name;
    ASSERT_EQ(0, fs.FsOpen(name, 0x10005)); // the attribute word is the low 16 bits
    ASSERT_EQ(0, fs.FsClose());
    ASSERT_EQ(0, list.readFileList(fs, progress));
    EXPECT_EQ(5u, entryAttribute(list.entry(1)));
}

TEST_P(PhoneServices, NamesLongerThanTheRecordsHold_AreNotSent) {
    ASSERT_EQ(0, list.readFileList(fs, progress));
    const std::uint32_t before = driver->commandCount();
    EXPECT_NE(0, fs.FsOpen(prefix() + std::string(list.recordSize() - 8 - prefix().size() + 1, 'n'), 0));
    EXPECT_EQ(before, driver->commandCount());
    EXPECT_EQ(0, fs.FsOpen(prefix() + std::string(list.recordSize() - 8 - prefix().size(), 'n'), 0));
}

TEST_P(PhoneServices, VolumeFreeSpaceAndModel_FillThePhoneInfo) {
    PhoneInfo info;
    ASSERT_EQ(0, fs.FsVolumeName(info.volume));
    wideBeToHost(info.volume);
    EXPECT_EQ(std::u16string(profile.volume.begin(), profile.volume.end()), info.volumeText());
    ASSERT_EQ(0, fs.FsFreeSpace(info.volume, info.freeSpace));
    EXPECT_EQ(profile.freeSpace, info.freeSpace);

    std::uint32_t size = 0;
    ASSERT_EQ(0, seems.readSeem(seem::kModelSeem, seem::kModelRecord, info.modelBytes(), size));
    wideBeToHost(info.model);
    EXPECT_EQ(std::u16string(profile.model.begin(), profile.model.end()), info.modelText());

    // Another volume's free space is refused.
    std::uint32_t free = 1;
    EXPECT_NE(0, fs.FsFreeSpace(u"other", free));
    EXPECT_EQ("", log.text());
}

TEST_P(PhoneServices, SeemRecords_EndWhereThePhonesDo_AndWritesReplaceThem) {
    Bytes area(4096);
    std::uint32_t size = 0;
    std::vector<std::uint32_t> sizes;
    for (std::uint16_t record = 1; record <= 128; ++record) {
        if (seems.readSeem(0x0032, record, area, size) != 0) break;
        sizes.push_back(size);
    }
    EXPECT_EQ((std::vector<std::uint32_t>{4, 64, 0}), sizes);

    const Bytes written{9, 8, 7, 6, 5};
    ASSERT_EQ(0, seems.writeSeem(0x0032, 1, 0, 5, written));
    ASSERT_EQ(0, seems.readSeem(0x0032, 1, area, size));
    EXPECT_EQ(written, Bytes(area.begin(), area.begin() + size));
    EXPECT_NE(0, seems.writeSeem(0x0032, 0, 0, 5, written)); // records count from 1
    EXPECT_EQ(0, seems.suspendPhone());
    EXPECT_EQ(0, seems.restartPhone());
    EXPECT_EQ("", log.text());
}

TEST_P(PhoneServices, PhoneLevelFaults_ReachTheServicesAsTheirFailures) {
    PhoneInfo info;
    ASSERT_EQ(0, fs.FsVolumeName(info.volume));
    wideBeToHost(info.volume);
    fault("zerofree*1");
    EXPECT_NE(0, fs.FsFreeSpace(info.volume, info.freeSpace));
    fault("count=0xffff*1");
    EXPECT_NE(0, list.readFileList(fs, progress));
    fault("badentry@0x4a/8*1");
    EXPECT_NE(0, list.readFileList(fs, progress));
    EXPECT_EQ("Zero free space recv'd!\r\nInvalid files count!\r\nFileList entry size invalid!\r\n", log.text());

    // A read answered one byte short fails instead of leaving a zero in the file.
    log.clear();
    fault("shortread@0x4a/1*1");
    const auto& f = profile.files[0];
    Bytes back(f.bytes.size());
    ASSERT_EQ(0, fs.FsOpen(f.name, f.attribute));
    EXPECT_NE(0, fs.FsRead(back));
    ASSERT_EQ(0, fs.FsSeek(0, 0));
    EXPECT_EQ(0, fs.FsRead(back));
    EXPECT_EQ(f.bytes, back);
    EXPECT_EQ("", log.text());

    // A count beyond the files: the chunks run dry and the read fails.
    fault("count=200*1");
    EXPECT_NE(0, list.readFileList(fs, progress));
    EXPECT_EQ(profile.files.size(), list.recordsReceived());
}

// Keeps what arrives; counts the pieces it was told of and stops after `stopAfter` of them.
struct KeepingWatch final : ByteSink, TransferWatch {
    bool write(std::span<const std::uint8_t> bytes) override {
        kept.insert(kept.end(), bytes.begin(), bytes.end());
        return true;
    }
    void moved(std::uint32_t bytes) override {
        pieces.push_back(bytes);
    }
    bool stopRequested() override { return pieces.size() >= stopAfter; }
    Bytes kept;
    std::vector<std::uint32_t> pieces;
    std::size_t stopAfter = ~std::size_t{0};
};

TEST_P(PhoneServices, FileTransfers_PieceByPieceBothWays_AStopBetweenPiecesClosesTheFile) {
    Bytes bytes(2500);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13);
    KeepingWatch up;
    ASSERT_EQ(TransferOutcome::Done, writePhoneFile(fs, prefix() + "t.bin", bytes, &up));
    EXPECT_EQ((std::vector<std::uint32_t>{1024, 1024, 452}), up.pieces);

    KeepingWatch down;
    ASSERT_EQ(TransferOutcome::Done, readPhoneFile(fs, clock, prefix() + "t.bin", 0, 2500, down, &down));
    EXPECT_EQ(bytes, down.kept);

    KeepingWatch stopped;
    stopped.stopAfter = 1;
    EXPECT_EQ(TransferOutcome::Stopped, readPhoneFile(fs, clock, prefix() + "t.bin", 0, 2500, stopped, &stopped));
    EXPECT_EQ(1024u, stopped.kept.size());
    EXPECT_FALSE(driver->withPhone([](sim::VirtualPhone& p) { return p.fileSystem().openName().has_value(); }));
}

INSTANTIATE_TEST_SUITE_P(BuiltInPhones, PhoneServices, ::testing::Values("tree", "flat"));

} // namespace
} // namespace telvane
