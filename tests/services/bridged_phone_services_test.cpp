// The services on a virtual phone served over the bridge, both ends in one process.
#include <gtest/gtest.h>

#include "bridge/bridge_client.h"
#include "bridge/bridge_server.h"
#include "recording_progress.h"
#include "services/file_list.h"
#include "services/fs_commands.h"
#include "services/phone_info.h"
#include "services/seem_commands.h"
#include "sim/phone_factory.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"

namespace telvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BridgedPhoneServices, ListFileRoundTripAndModel_OverLoopback) {
    for (const char* name : {"tree", "flat"}) {
        SCOPED_TRACE(name);
        const sim::PhoneProfile profile = *sim::builtinPhoneProfile(name);
        auto driver = sim::makeVirtualDriver(profile);
        BridgeServer server(*driver, [&driver] { driver->shutdown(); });
        ASSERT_TRUE(server.start(0));
        BridgeClient client("127.0.0.1", server.port());
        PhoneLink link;
        link.setHandle(client.open(sim::kPhoneInterfacePath));
        ASSERT_NE(0u, link.handle());
        test::CaptureLog log;
        test::FakeClock clock;
        UsbChannel channel(client, link, log);
        CommandTransport transport(channel, clock, log);
        FileList list(log);
        FsCommands fs(transport, log, list);
        SeemCommands seems(transport);
        test::RecordingProgress progress;

        ASSERT_EQ(0, list.readFileList(fs, progress));
        EXPECT_EQ(profile.files.size(), list.count());
        EXPECT_EQ(profile.files.back().name, entryName(list.entry(list.count() - 1)));

        const std::string file = std::string(profile.entrySize == 268 ? "/a/" : "") + "bridged.bin";
        Bytes data(3000);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
        ASSERT_EQ(0, fs.FsOpen(file, 0));
        ASSERT_EQ(0, fs.FsWrite(data));
        ASSERT_EQ(0, fs.FsClose());
        Bytes back(data.size());
        ASSERT_EQ(0, fs.FsOpen(file, 0));
        ASSERT_EQ(0, fs.FsSeek(0, 0));
        ASSERT_EQ(0, fs.FsRead(back));
        ASSERT_EQ(0, fs.FsClose());
        EXPECT_EQ(data, back);
        ASSERT_EQ(0, fs.FsDelete(file));

        PhoneInfo info;
        std::uint32_t size = 0;
        ASSERT_EQ(0, seems.readSeem(seem::kModelSeem, seem::kModelRecord, info.modelBytes(), size));
        wideBeToHost(info.model);
        EXPECT_EQ(std::u16string(profile.model.begin(), profile.model.end()), info.modelText());
        EXPECT_EQ("", log.text());

        client.close(link.handle());
        server.stop();
    }
}

} // namespace
} // namespace telvane
