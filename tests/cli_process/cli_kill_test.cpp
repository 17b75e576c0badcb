// telvane-cli killed with SIGKILL at points spread over a backup and over a restore: whenever the
// kill comes, the backup folder holds only whole snapshots, an earlier snapshot stays as it was,
// the phone loses no file, and the next plain run finishes the work.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <signal.h>

#include <gtest/gtest.h>

#include "backup/backup_folder.h"
#include "cli_process/cli_process_fixture.h"

#if defined(TELVANE_PHONESIM_PATH) && defined(TELVANE_CLI_PATH)
namespace telvane {
namespace {

namespace stdfs = std::filesystem;
using test::CliProcess;
using test::ServedPhone;

// A small tree phone, so that a backup takes a fifth of a second: two files (one of several
// pieces), three seem records in the range the runs read.
const char* const kPhone = "volume /a\nentry-size 268\nrecords-per-chunk 2\nfree-space 65536\nmodel \"Kill T\"\n"
                           "file /a/notes.txt text=\"first notes\"\n"
                           "file /a/pics/big.bin attr=0x0001 size=6000 fill=0x5a\n"
                           "seem 0x0032 1 hex=01020304\nseem 0x0032 2 text=\"plain bytes\"\nseem 0x0033 1 hex=0a0b\n";
// The same model with other contents: a file of its own, one the backup replaces, another seem
// record of the same size.
const char* const kOtherPhone = "volume /a\nentry-size 268\nrecords-per-chunk 2\nfree-space 65536\nmodel \"Kill T\"\n"
                                "file /a/notes.txt text=\"the other phone's notes\"\n"
                                "file /a/keep.txt text=\"only on this phone\"\n"
                                "seem 0x0032 1 hex=05060708\nseem 0x0032 2 text=\"plain bytes\"\n"
                                "seem 0x0033 1 hex=0a0b\n";
const char* const kSeems = "0030-0033";

// Where a run was stopped.
struct KillPoint {
    std::uint32_t after = 0;    // the kill was due once the phone had this many commands of the run
    std::uint32_t commands = 0; // it had this many when the kill went (or the run ended)
    bool killed = false;        // false: the run ended on its own first
    int status = -1;            // its exit status when it ended on its own
};

std::string describe(const KillPoint& p) {
    return "kill due after " + std::to_string(p.after) + " commands, " +
           (p.killed ? "killed after " + std::to_string(p.commands)
                     : "ended on its own (status " + std::to_string(p.status) + ") after " +
                           std::to_string(p.commands));
}

// Runs telvane-cli on the phone and kills it with SIGKILL once the phone has received `after`
// commands of it. A run that ends first ends as it does.
KillPoint runAndKill(ServedPhone& phone, std::vector<std::string> args, std::uint32_t after) {
    const std::uint32_t start = phone.commands();
    args.insert(args.begin(), {TELVANE_CLI_PATH, "--device", phone.device(), "-q"});
    test::ChildProcess run(args);
    KillPoint point;
    point.after = after;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (true) {
        const int status = run.waitExit(0);
        point.commands = phone.commands() - start;
        if (status != -1) {
            point.status = status;
            return point;
        }
        if (point.commands >= after || std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    run.signal(SIGKILL);
    point.status = run.waitExit(10000);
    point.killed = point.status == -1;
    // A command the kill cut off may leave its reply in the phone: the bridge drops it once the
    // program is gone, so the next run is not answered one command late.
    return point;
}

// Every file below a folder, by its path there, with its bytes.
using Contents = std::map<std::string, std::string>;

Contents contentsOf(const stdfs::path& folder) {
    Contents contents;
    std::error_code error;
    for (stdfs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file()) continue;
        std::ifstream in(it->path(), std::ios::binary);
        contents[it->path().lexically_relative(folder).string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return contents;
}

// The first path whose bytes differ between two looks at a folder ("" when none does).
std::string firstDifference(const Contents& was, const Contents& is) {
    for (const auto& [name, bytes] : was) {
        const auto now = is.find(name);
        if (now == is.end()) return name + " is gone";
        if (now->second != bytes) return name + " changed";
    }
    for (const auto& [name, bytes] : is)
        if (was.count(name) == 0) return name + " appeared";
    return "";
}

std::set<std::string> lines(const std::string& text) {
    std::set<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) found.insert(line);
    return found;
}

class CliKills : public CliProcess {
protected:
    std::string backupFolder() const { return path("bk"); }

    // A new size each time, so no run can take the file for one it fetched before the change.
    void changeNotes(ServedPhone& phone, std::size_t n) {
        std::ofstream(path("notes.txt"), std::ios::trunc) << "notes of change " << n << std::string(n, '+');
        const auto put = cli(phone.device(), {"-q", "put", path("notes.txt"), "-d", "/a", "--force"});
        ASSERT_EQ(0, put.status) << put.err;
    }

    // After a run ended or was killed: every folder named as a snapshot is a complete one, each
    // snapshot seen before holds the bytes it held then, and the newest is a whole backup of the
    // phone. True when a new snapshot was published.
    bool checkFolder(ServedPhone& phone) {
        const stdfs::path root = backupFolder();
        std::vector<std::string> unreadable;
        const auto snapshots = backup::BackupFolder(root).snapshots(&unreadable);
        for (const std::string& why : unreadable) ADD_FAILURE() << "unreadable snapshot: " << why;
        std::set<std::string> listed;
        for (const auto& s : snapshots) listed.insert(s.name);
        std::error_code error;
        for (stdfs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            EXPECT_TRUE(!backup::isSnapshotName(name) || listed.count(name) != 0)
                << name << " is named as a snapshot but is not a complete one";
        }
        for (const auto& [name, contents] : seen_)
            EXPECT_EQ("", firstDifference(contents, contentsOf(root / name))) << "in the earlier snapshot " << name;
        std::size_t published = 0;
        for (const auto& s : snapshots) {
            if (seen_.count(s.name) != 0) continue;
            seen_[s.name] = contentsOf(s.folder);
            ++published;
        }
        EXPECT_LE(published, 1u);
        if (snapshots.empty()) return false;

        // Nothing beside what the manifest names: no piece of a killed write was published.
        std::set<std::string> named{backup::kManifestName};
        for (const auto& f : snapshots.back().manifest.files) named.insert(f.pc);
        for (const auto& r : snapshots.back().manifest.seems) named.insert(r.pc);
        for (const auto& [name, bytes] : seen_[snapshots.back().name])
            EXPECT_EQ(1u, named.count(name)) << name << " in " << snapshots.back().name << " is in no manifest";

        const auto offline = cli(phone.device(), {"-q", "verify", "--offline", root.string()});
        EXPECT_EQ(0, offline.status) << offline.out << offline.err;
        // The phone changes only between runs, so a snapshot checked against it once stays checked.
        if (snapshots.back().name != verifiedNewest_) {
            const auto verify = cli(phone.device(), {"-q", "verify", root.string()});
            EXPECT_EQ(0, verify.status) << verify.out << verify.err;
            verifiedNewest_ = snapshots.back().name;
        }
        return published > 0;
    }

    std::map<std::string, Contents> seen_; // every snapshot seen, as it was first seen
    std::string verifiedNewest_;
};

TEST_F(CliKills, BackupKilledAnywhere_LeavesOnlyWholeSnapshots_AndThePlainBackupAfterFinishes) {
    std::ofstream(path("kill.phone")) << kPhone;
    ServedPhone phone({"--phone", path("kill.phone")});
    // The commands of one whole backup, to spread the kill points over.
    const std::uint32_t before = phone.commands();
    ASSERT_EQ(0, cli(phone.device(), {"-q", "backup", path("whole"), "--seems", kSeems}).status);
    const std::uint32_t whole = phone.commands() - before;
    const std::uint32_t step = std::max<std::uint32_t>(4, whole / 4);

    // A round is one backup cut short again and again, each run later into its own commands than
    // the one before, until one gets to the end. The first round is a first backup, the later
    // ones add a snapshot beside the others; each begins at another offset, so that its kill
    // points fall between the earlier rounds'. The phone changes once a round, after a run was
    // killed past half its way: that run had linked the first file to the newest snapshot's copy,
    // and the next fetches other bytes for it.
    std::vector<KillPoint> points;
    for (std::uint32_t round = 0; round < 8 && (points.size() < 15 || round < 3); ++round) {
        bool changed = false;
        for (std::uint32_t after = round % 4 * step / 4;; after += step) {
            if (!changed && !points.empty() && points.back().killed && points.back().commands * 2 >= whole) {
                ASSERT_NO_FATAL_FAILURE(changeNotes(phone, points.size()));
                changed = true;
            }
            points.push_back(runAndKill(phone, {"backup", backupFolder(), "--seems", kSeems}, after));
            const KillPoint& point = points.back();
            SCOPED_TRACE("round " + std::to_string(round) + ", " + describe(point));
            ASSERT_TRUE(point.killed || point.status == 0) << "the backup failed on its own";
            if (checkFolder(phone) || !point.killed || after > 4 * whole) break;
        }
    }
    std::size_t killed = 0;
    for (const KillPoint& p : points) killed += p.killed;
    EXPECT_GE(killed, 10u) << "too few runs were stopped before their end to test anything";

    ASSERT_NO_FATAL_FAILURE(changeNotes(phone, points.size()));
    const auto last = cli(phone.device(), {"-q", "backup", backupFolder(), "--seems", kSeems});
    ASSERT_EQ(0, last.status) << last.err;
    EXPECT_TRUE(checkFolder(phone));
}

TEST_F(CliKills, RestoreKilledPartWay_IsFinishedByThePlainRestoreAfter_AndDeletesNoPhoneFile) {
    std::ofstream(path("kill.phone")) << kPhone;
    std::ofstream(path("other.phone")) << kOtherPhone;
    ServedPhone source({"--phone", path("kill.phone")});
    ASSERT_EQ(0, cli(source.device(), {"-q", "backup", backupFolder(), "--seems", kSeems}).status);
    ServedPhone phone({"--phone", path("other.phone")});
    const auto listed = cli(phone.device(), {"ls"});
    ASSERT_EQ(0, listed.status);
    const std::set<std::string> before = lines(listed.out);
    ASSERT_EQ(2u, before.size()) << listed.out;

    // The commands of one whole restore, on a twin of the phone.
    std::uint32_t whole = 0;
    {
        ServedPhone twin({"--phone", path("other.phone")});
        ASSERT_EQ(0, cli(twin.device(), {"-q", "restore", backupFolder(), "--force"}).status);
        whole = twin.commands();
    }
    for (std::uint32_t k = 1; k <= 4; ++k) {
        const KillPoint point = runAndKill(phone, {"restore", backupFolder(), "--force"}, whole * k / 5);
        SCOPED_TRACE(describe(point));
        ASSERT_TRUE(point.killed || point.status == 0) << "the restore failed on its own";
        const auto now = cli(phone.device(), {"ls"});
        ASSERT_EQ(0, now.status) << now.err;
        for (const std::string& name : before) EXPECT_EQ(1u, lines(now.out).count(name)) << name << " was deleted";
    }

    const auto restore = cli(phone.device(), {"-q", "restore", backupFolder(), "--force"});
    EXPECT_EQ(0, restore.status) << restore.out << restore.err;
    // The one difference is the phone's own file, which a restore leaves.
    const auto verify = cli(phone.device(), {"-q", "verify", backupFolder()});
    EXPECT_EQ(1, verify.status);
    EXPECT_EQ("differs: /a/keep.txt: not in the backup\n1 difference between the phone and the backup " +
                  (backup::BackupFolder(backupFolder()).snapshots().back().folder.string()) + "\n",
              verify.out);
    const auto after = cli(phone.device(), {"ls"});
    for (const std::string& name : before) EXPECT_EQ(1u, lines(after.out).count(name)) << name << " was deleted";
}

} // namespace
} // namespace telvane
#endif
