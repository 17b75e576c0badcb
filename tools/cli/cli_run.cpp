#include "tools/cli/cli_run.h"

#include <algorithm>

#include "session/open_device.h"
#include "session/phone_identity.h"
#include "tools/cli/pc_paths.h"

namespace telvane::cli {

namespace stdfs = std::filesystem;

namespace {

class PartialFileSink final : public ByteSink {
public:
    explicit PartialFileSink(PartialFile& file) : file_(file) {}
    bool write(std::span<const std::uint8_t> bytes) override { return file_.write(bytes); }

private:
    PartialFile& file_;
};

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
    if (request_.command == "seem undo" && request_.seemTarget == "list") {
        listUndo(); // the PC's folder alone
        return kExitDone;
    }
    if (request_.command == "verify" && request_.offline) {
        // The folder against its own hashes: no phone is needed.
        verifyOffline();
        return failures_.empty() ? kExitDone : kExitFailed;
    }
    const std::uint32_t waitMs = request_.waitSeconds > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : request_.waitSeconds * 1000;
    const std::string& device = request_.device.empty() ? environment_.defaultDevice : request_.device;
    switch (session_.connect(waitMs, [this] { return interrupted(); })) {
    case ConnectOutcome::Connected:
        break;
    case ConnectOutcome::InUse:
        environment_.err << "telvane-cli: the phone on " << device
                         << " is in use by another program; end that program and try again\n";
        return kExitFailed;
    case ConnectOutcome::NoPhone:
        environment_.err << "telvane-cli: no phone on " << device << " within " << request_.waitSeconds
                         << (request_.waitSeconds == 1 ? " second\n" : " seconds\n");
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
        else if (c == "seem show") showSeem();
        else if (c == "seem diff") diffSeems();
        else if (c == "seem set") setSeem();
        else if (c == "seem undo") undoSeem();
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
    if (usageError_) return kExitUsage;
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
    if (!phone_.readList(files_)) {
        fail("file list", withCause("Receiving file list... Fail!", mark));
        return false;
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
    return phone_.readFile(file, sink, &progress);
}

bool CliRun::fetchFile(const PhoneFileRecord& file, const stdfs::path& target, bool replace, TransferProgress& progress) {
    const std::string shown = latin1ToUtf8(file.name);
    if (file.size == backup::kNoSize) {
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
        if (outcome != TransferOutcome::Stopped) fail(shown, withCause(backup::transferFailureText(outcome), mark));
        return false;
    }
    if (!partial.commit(replace)) {
        fail(shown, "cannot write " + pathText(target));
        return false;
    }
    succeeded();
    return true;
}

namespace {

// A PC file read piece by piece into the phone: a file of any size costs one piece of memory.
class PcFileSource final : public backup::ByteSource {
public:
    explicit PcFileSource(backup::PcFileReader& reader) : reader_(reader) {}
    bool read(std::span<std::uint8_t> bytes) override {
        const auto n = reader_.read(bytes);
        return n && *n == bytes.size();
    }

private:
    backup::PcFileReader& reader_;
};

} // namespace

bool CliRun::storeFile(const std::string& name, const stdfs::path& pcFile, TransferProgress& progress) {
    const std::string shown = latin1ToUtf8(name);
    const std::size_t longest = phone_.longestName();
    if (longest != 0 && name.size() > longest) {
        fail(shown, "name longer than the phone's " + std::to_string(longest) + " bytes");
        return false;
    }
    backup::PcFileReader reader;
    if (!reader.open(pcFile) || reader.size() > 0xFFFFFFFEu) {
        fail(shown, "cannot read " + pathText(pcFile));
        return false;
    }
    PcFileSource source(reader);
    const std::size_t mark = log_.mark();
    progress.beginFile(shown, reader.size());
    const TransferOutcome outcome =
        phone_.writeFile(name, source, static_cast<std::uint32_t>(reader.size()), &progress);
    progress.endFile();
    if (outcome == TransferOutcome::Stopped) {
        // The phone has no rename: what arrived stays, and is said to be incomplete.
        fail(shown, "cut short on the phone: put it again to complete it");
        return false;
    }
    if (outcome != TransferOutcome::Done) {
        fail(shown, withCause(outcome == TransferOutcome::SinkFailed ? "cannot read " + pathText(pcFile)
                                                                     : backup::transferFailureText(outcome),
                              mark));
        return false;
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
    return phone_.readSeem(seem, record, bytes);
}

} // namespace telvane::cli
