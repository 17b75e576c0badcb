#include "tools/cli/cli_run.h"

#include <algorithm>

#include "session/open_device.h"
#include "session/phone_identity.h"
#include "tools/cli/pc_paths.h"

namespace telvane::cli {

namespace stdfs = std::filesystem;

namespace {

constexpr std::uint32_t kNoSize = 0xFFFFFFFF;

// A download's bytes into its temporary PC file.
class PartialFileSink final : public ByteSink {
public:
    explicit PartialFileSink(PartialFile& file) : file_(file) {}
    bool write(std::span<const std::uint8_t> bytes) override { return file_.write(bytes); }

private:
    PartialFile& file_;
};

const char* transferText(TransferOutcome outcome) {
    switch (outcome) {
    case TransferOutcome::Done:
        return "ok";
    case TransferOutcome::OpenFailed:
        return "cannot open file";
    case TransferOutcome::SeekFailed:
        return "cannot seek to zero";
    case TransferOutcome::ReadFailed:
        return "cannot read file";
    case TransferOutcome::WriteFailed:
        return "cannot write file";
    case TransferOutcome::CloseFailed:
        return "cannot close file";
    case TransferOutcome::SinkFailed:
        return "cannot write";
    case TransferOutcome::Stopped:
        return "Canceled.";
    }
    return "failed";
}

} // namespace

int runCli(const std::vector<std::string>& args, CliEnvironment& environment) {
    CliRequest request;
    std::string text;
    switch (parseCliArguments(args, request, text)) {
    case ParseOutcome::Help:
        environment.out << text;
        return kExitDone;
    case ParseOutcome::UsageError:
        environment.err << "telvane-cli: " << text << " (telvane-cli --help tells more)\n";
        return kExitUsage;
    case ParseOutcome::Run:
        break;
    }
    std::string error;
    const std::string deviceText = request.device.empty() ? environment.defaultDevice : request.device;
    const auto choice = parseDeviceChoice(deviceText, error);
    if (!choice) {
        environment.err << "telvane-cli: " << error << "\n";
        return kExitUsage;
    }
    CliLog log(environment.err, request.verbose);
    auto port = environment.openPort(*choice, request.usbIds, log, error);
    if (!port) {
        environment.err << "telvane-cli: " << error << "\n";
        return kExitUsage;
    }
    CliRun run(request, environment, *port, log);
    return run.execute();
}

CliRun::CliRun(const CliRequest& request, CliEnvironment& environment, DevicePort& port, CliLog& log)
    : request_(request), environment_(environment), log_(log), session_(port, environment.clock, log, *this) {}

int CliRun::execute() {
    if (request_.command == "watch") {
        watch();
        return kExitDone;
    }
    const std::uint32_t waitMs = request_.waitSeconds > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : request_.waitSeconds * 1000;
    if (!session_.connect(waitMs, [this] { return interrupted(); })) {
        environment_.err << "telvane-cli: no phone on "
                         << (request_.device.empty() ? environment_.defaultDevice : request_.device) << " within "
                         << request_.waitSeconds << (request_.waitSeconds == 1 ? " second\n" : " seconds\n");
        return interrupted() ? kExitFailed : kExitNoPhone;
    }
    {
        // Everything below belongs to this connection: should the phone go and another come,
        // nothing reaches the other one.
        const ConnectionBinding connection(session_.channel);
        const std::string& c = request_.command;
        if (!readIdentity() && c != "info") {
            // Nothing can be named or placed without the volume.
        } else if (c == "info") info();
        else if (c == "ls") listFiles();
        else if (c == "get") request_.recursive ? getFolder() : getFiles();
        else if (c == "put") putFiles();
        else if (c == "rm") removeFiles();
        else if (c == "attr") setAttribute();
        else if (c == "seem get") getSeems();
        else if (c == "seem put") putSeem();
        else if (c == "suspend") control(true);
        else if (c == "restart") control(false);
        else if (c == "backup") backup();
        else if (c == "verify") verify();
        else if (c == "restore") restore();
    }
    session_.disconnect();
    if (interrupted()) {
        environment_.err << "telvane-cli: interrupted\n";
        return kExitFailed;
    }
    if (failures_.empty()) return kExitDone;
    if (failures_.size() + succeeded_ > 1) {
        std::string names;
        for (const std::string& name : failures_) names += (names.empty() ? "" : ", ") + name;
        environment_.err << "telvane-cli: " << failures_.size() << " of " << failures_.size() + succeeded_
                         << " failed: " << names << "\n";
    }
    return kExitFailed;
}

void CliRun::onLinkState(int state) {
    // Only `watch` runs the watcher; it reads each new phone's identity on the watcher's thread,
    // which waits for this before it goes on.
    if (!watching_.load()) return;
    if (state == 1) {
        const ConnectionBinding connection(session_.channel);
        PhoneInfo info;
        std::string model = "(unknown)";
        if (readPhoneIdentity(session_.fs, session_.seems, info) != IdentityRead::VolumeFailed &&
            info.model[0] != 0)
            model = utf8Text(info.modelText());
        say("connected " + model);
    } else {
        say("disconnected");
    }
}

bool CliRun::readIdentity() {
    const std::size_t mark = log_.mark();
    const IdentityRead read = readPhoneIdentity(session_.fs, session_.seems, session_.info);
    if (read == IdentityRead::VolumeFailed) {
        fail("phone", withCause("Volume name fail", mark));
        return false;
    }
    tree_ = volumeIsPath(session_.info.volume);
    volume_ = volumePath(session_.info.volume);
    if (read == IdentityRead::ModelFailed) {
        fail("phone", withCause("cannot read the model", mark));
        return false;
    }
    model_ = utf8Text(session_.info.modelText());
    if (read == IdentityRead::FreeSpaceFailed) {
        fail("phone", withCause("Volume size fail", mark));
        return false;
    }
    return true;
}

bool CliRun::readList() {
    const std::size_t mark = log_.mark();
    NullProgress progress;
    files_.clear();
    if (session_.files.readFileList(session_.fs, progress) != 0) {
        fail("file list", withCause("Receiving file list... Fail!", mark));
        return false;
    }
    for (std::uint32_t i = 0; i < session_.files.count(); ++i) {
        const FileEntry entry = session_.files.entry(i);
        if (!entry) continue;
        const std::uint32_t both = entryAttributes32(entry);
        files_.push_back(PhoneFileRecord{std::string(entryName(entry)), static_cast<std::uint16_t>(both & 0xFFFF),
                                         static_cast<std::uint16_t>(both >> 16), entrySize(entry)});
    }
    return true;
}

const PhoneFileRecord* CliRun::findFile(const std::string& given) const {
    const auto name = utf8ToLatin1(given);
    if (!name) return nullptr;
    auto byName = [this](const std::string& n) -> const PhoneFileRecord* {
        const auto it = std::find_if(files_.begin(), files_.end(), [&](const PhoneFileRecord& f) { return f.name == n; });
        return it == files_.end() ? nullptr : &*it;
    };
    if (const PhoneFileRecord* file = byName(*name)) return file;
    if (tree_ && !name->empty() && name->front() != '/') return byName(volume_ + "/" + *name);
    return nullptr;
}

std::string CliRun::phoneFolder(const std::string& given) const {
    std::string folder = utf8ToLatin1(given).value_or(given);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty() || folder == "/" || folder == volume_) return volume_;
    if (folder.front() != '/') folder = volume_ + "/" + folder;
    return folder;
}

void CliRun::say(const std::string& line) {
    environment_.out << line << "\n" << std::flush;
}

void CliRun::fail(const std::string& what, const std::string& why) {
    environment_.err << "telvane-cli: " << what << ": " << why << "\n" << std::flush;
    failures_.push_back(what);
}

std::string CliRun::withCause(const std::string& why, std::size_t mark) const {
    const std::string cause = log_.causeSince(mark);
    return cause.empty() ? why : why + " (" + cause + ")";
}

TransferOutcome CliRun::readFile(const PhoneFileRecord& file, ByteSink& sink, TransferProgress& progress) {
    if (file.size == 0) return TransferOutcome::Done;
    return readPhoneFile(session_.fs, session_.clock, file.name, file.attribute, file.size, sink, &progress);
}

bool CliRun::fetchFile(const PhoneFileRecord& file, const stdfs::path& target, bool replace, TransferProgress& progress) {
    const std::string shown = latin1ToUtf8(file.name);
    if (file.size == kNoSize) {
        fail(shown, "file size invalid");
        return false;
    }
    if (!replace && pcPathExists(target)) {
        fail(shown, pathText(target) + " exists on the PC (--force replaces it)");
        return false;
    }
    PartialFile partial(target);
    if (!partial.open()) {
        fail(shown, "cannot create file " + pathText(target));
        return false;
    }
    const std::size_t mark = log_.mark();
    progress.beginFile(shown, file.size);
    PartialFileSink sink(partial);
    const TransferOutcome outcome = readFile(file, sink, progress);
    progress.endFile();
    if (outcome != TransferOutcome::Done) {
        if (outcome != TransferOutcome::Stopped) fail(shown, withCause(transferText(outcome), mark));
        return false;
    }
    if (!partial.commit(replace)) {
        fail(shown, "cannot write " + pathText(target));
        return false;
    }
    succeeded();
    return true;
}

bool CliRun::storeFile(const std::string& name, const std::vector<std::uint8_t>& bytes, std::uint16_t attribute,
                       TransferProgress& progress) {
    const std::string shown = latin1ToUtf8(name);
    const std::uint32_t entrySize = session_.files.recordSize();
    if (entrySize != 0 && name.size() > entrySize - telvane::fs::kNameOverhead) {
        fail(shown, "name longer than the phone's " + std::to_string(entrySize - telvane::fs::kNameOverhead) + " bytes");
        return false;
    }
    const std::size_t mark = log_.mark();
    progress.beginFile(shown, bytes.size());
    const TransferOutcome outcome = writePhoneFile(session_.fs, name, bytes, &progress);
    progress.endFile();
    if (outcome == TransferOutcome::Stopped) {
        // What arrived is not the PC's file: it does not stay on the phone.
        session_.fs.FsDelete(name);
        return false;
    }
    if (outcome != TransferOutcome::Done) {
        fail(shown, withCause(transferText(outcome), mark));
        return false;
    }
    // Opening a phone file with an attribute value gives the file that attribute.
    if (attribute != 0) {
        if (session_.fs.FsOpen(name, attribute) != 0) {
            fail(shown, withCause("cannot set its attribute", mark));
            return false;
        }
        session_.fs.FsClose();
    }
    succeeded();
    return true;
}

bool CliRun::readSeemRange(std::uint16_t from, std::uint16_t to, const SeemLabel& label, const SeemTaker& take) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t seem = from; seem <= to; ++seem) {
        const auto s = static_cast<std::uint16_t>(seem);
        for (std::uint16_t record = 1; record <= seem::kMaxSavedRecord; ++record) {
            if (interrupted()) return false;
            const std::size_t mark = log_.mark();
            const SeemRead read = readSeemRecord(s, record, bytes);
            if (read == SeemRead::Failed) {
                fail(label(s, record), withCause("cannot read the record", mark));
                return false;
            }
            if (read == SeemRead::Absent) break;
            take(s, record, bytes);
        }
    }
    return true;
}

SeemRead CliRun::readSeemRecord(std::uint16_t seem, std::uint16_t record, std::vector<std::uint8_t>& bytes) {
    bytes.assign(seem::kAreaSize, 0);
    std::uint32_t size = 0;
    if (session_.seems.readSeem(seem, record, bytes, size) != 0) {
        bytes.clear();
        // Only a phone that answered says the record is not there: a failed exchange must not
        // pass for an absent record, or a backup would leave it out without a word.
        return session_.seems.lastReadAnswered() ? SeemRead::Absent : SeemRead::Failed;
    }
    if (size > bytes.size()) {
        bytes.clear();
        return SeemRead::Failed;
    }
    bytes.resize(size);
    return size == 0 ? SeemRead::Absent : SeemRead::Read;
}

} // namespace telvane::cli
