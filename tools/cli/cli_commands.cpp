// The commands on single files and seems, and the phone-control ones.
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "tools/cli/cli_run.h"
#include "tools/cli/pc_paths.h"
#include "backup/pc_names.h"
#include "session/pc_file_name.h"

namespace telvane::cli {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kDeleteQuestion = "A you sure you want to delete file %s ?";

std::string longLine(std::uint32_t attributes, std::uint32_t size, const std::string& name) {
    char text[48];
    std::snprintf(text, sizeof text, "%8x %10u ", static_cast<unsigned>(attributes), static_cast<unsigned>(size));
    return text + name;
}

std::uint64_t bytesOf(const std::vector<const PhoneFileRecord*>& files) {
    std::uint64_t total = 0;
    for (const PhoneFileRecord* f : files)
        if (f->size != 0xFFFFFFFF) total += f->size;
    return total;
}

bool isFolder(const stdfs::path& path) {
    std::error_code error;
    return stdfs::is_directory(path, error);
}

} // namespace

void CliRun::info() {
    const bool known = !volume_.empty();
    if (request_.json) {
        nlohmann::json j;
        j["state"] = "connected";
        j["device"] = session_.link.devicePath();
        j["model"] = model_;
        j["volume"] = latin1ToUtf8(volume_);
        j["freeSpace"] = session_.info.freeSpace;
        j["tree"] = tree_;
        say(j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
    } else {
        say("state: connected");
        say("device: " + session_.link.devicePath());
        say("model: " + model_);
        say("volume: " + latin1ToUtf8(volume_));
        say("free space: " + std::to_string(session_.info.freeSpace));
        say(std::string("folders: ") + (tree_ ? "yes" : "no"));
    }
    if (known) succeeded();
}

void CliRun::listFiles() {
    if (!readList()) return;
    struct Row {
        std::string name;
        const PhoneFileRecord* file = nullptr; // null for a folder
    };
    std::vector<Row> rows;
    if (request_.folder.empty()) {
        for (const PhoneFileRecord& f : files_) rows.push_back({latin1ToUtf8(f.name), &f});
    } else {
        if (!tree_) {
            fail(request_.folder, "this phone has no folders");
            return;
        }
        const std::string folder = phoneFolder(request_.folder) + "/";
        std::set<std::string> folders;
        for (const PhoneFileRecord& f : files_) {
            if (!f.name.starts_with(folder)) continue;
            const std::string rest = f.name.substr(folder.size());
            const std::size_t slash = rest.find('/');
            if (slash == std::string::npos) rows.push_back({latin1ToUtf8(rest), &f});
            else folders.insert(rest.substr(0, slash));
        }
        if (rows.empty() && folders.empty()) {
            fail(request_.folder, "no such folder on the phone");
            return;
        }
        for (const std::string& name : folders) rows.push_back({latin1ToUtf8(name) + "/", nullptr});
    }
    if (request_.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const Row& row : rows) {
            nlohmann::json item;
            item["name"] = row.name;
            if (row.file) {
                item["attribute"] = row.file->attribute;
                item["second"] = row.file->second;
                item["size"] = row.file->size;
            } else {
                item["folder"] = true;
            }
            list.push_back(item);
        }
        say(list.dump(2));
    } else {
        for (const Row& row : rows) {
            if (!request_.longFormat) say(row.name);
            else if (row.file) say(longLine(row.file->attributes32(), row.file->size, row.name));
            else say(longLine(0, 0, row.name));
        }
    }
    succeeded();
}

void CliRun::getFiles() {
    if (!readList()) return;
    std::vector<const PhoneFileRecord*> chosen;
    for (const std::string& name : request_.names) {
        const PhoneFileRecord* file = findFile(name);
        if (!file) fail(name, "not on the phone's list");
        else chosen.push_back(file);
    }
    if (chosen.empty()) return;
    // -o: a folder for several files (made when missing), for one file a folder or its name.
    const stdfs::path output = pcPath(request_.output.empty() ? "." : request_.output);
    const bool intoFolder = chosen.size() > 1 || request_.output.empty() || isFolder(output);
    if (intoFolder && chosen.size() > 1) {
        std::error_code error;
        stdfs::create_directories(output, error);
        if (!isFolder(output)) {
            fail(request_.output, "not a folder for " + std::to_string(chosen.size()) + " files");
            return;
        }
    }
    TransferProgress progress(environment_.err, environment_.errIsTerminal && !request_.quiet,
                              environment_.interrupted, bytesOf(chosen));
    // Each file a PC name of its own, also where two names differ only in case or in
    // characters the PC cannot hold (a:b, a_b, a?b): none is written over another.
    backup::PcNameMap names("");
    for (const PhoneFileRecord* file : chosen) {
        if (interrupted()) return;
        stdfs::path target = output;
        if (intoFolder) {
            // The window's PC name: the name after the last folder, made one Windows can hold.
            const std::size_t slash = file->name.rfind('/');
            const std::string folder = slash == std::string::npos ? "" : file->name.substr(0, slash);
            target = output / pcPath(names.pathFor(file->name, folder, true));
        }
        fetchFile(*file, target, request_.force, progress);
    }
}

void CliRun::getFolder() {
    if (!tree_) {
        fail(request_.folder, "this phone has no folders");
        return;
    }
    if (!readList()) return;
    const std::string folder = phoneFolder(request_.folder);
    std::vector<const PhoneFileRecord*> chosen;
    for (const PhoneFileRecord& f : files_)
        if (f.name.starts_with(folder + "/")) chosen.push_back(&f);
    if (chosen.empty()) {
        fail(request_.folder, "no such folder on the phone");
        return;
    }
    // The folder itself goes into DIR, with its sub-folders: DIR/audio/tones/beep.wav.
    const std::string parent = folder.substr(0, folder.find_last_of('/'));
    const stdfs::path output = pcPath(request_.output.empty() ? "." : request_.output);
    TransferProgress progress(environment_.err, environment_.errIsTerminal && !request_.quiet,
                              environment_.interrupted, bytesOf(chosen));
    backup::PcNameMap names("");
    for (const PhoneFileRecord* file : chosen) {
        if (interrupted()) return;
        // The same names a backup gives, taken below the folder's parent, none shared.
        const stdfs::path target = output / pcPath(names.pathFor(file->name, parent, true));
        std::error_code error;
        stdfs::create_directories(target.parent_path(), error);
        fetchFile(*file, target, request_.force, progress);
    }
}

void CliRun::putFiles() {
    if (!readList()) return;
    std::string folder;
    if (!request_.folder.empty()) {
        if (!tree_) {
            fail(request_.folder, "this phone has no folders");
            return;
        }
        folder = phoneFolder(request_.folder) + "/";
    } else if (tree_) {
        folder = volume_ + "/"; // the volume's root, as in the window without a selected folder
    }
    std::uint64_t total = 0;
    for (const std::string& name : request_.names) {
        std::error_code error;
        const auto size = stdfs::file_size(pcPath(name), error);
        if (!error) total += size;
    }
    std::uint32_t freeSpace = session_.info.freeSpace;
    TransferProgress progress(environment_.err, environment_.errIsTerminal && !request_.quiet,
                              environment_.interrupted, total);
    for (const std::string& pcName : request_.names) {
        if (interrupted()) return;
        const stdfs::path path = pcPath(pcName);
        if (isFolder(path)) {
            fail(pcName, "a folder: give files");
            continue;
        }
        // Its size from the file system: nothing is read before the phone is known to take it.
        std::error_code sizeError;
        const std::uintmax_t size = stdfs::file_size(backup::osPath(path), sizeError);
        if (sizeError) {
            fail(pcName, pcPathExists(path) ? "cannot read it" : "no such PC file");
            continue;
        }
        const auto own = utf8ToLatin1(pathText(path.filename()));
        if (!own) {
            fail(pcName, "a name the phone cannot hold (characters above U+00FF)");
            continue;
        }
        const std::string phoneName = folder + *own;
        const PhoneFileRecord* existing = findFile(latin1ToUtf8(phoneName));
        if (existing && !request_.force) {
            if (request_.skipExisting) {
                say("skipped " + latin1ToUtf8(phoneName) + " (on the phone already)");
                continue;
            }
            const bool yes =
                environment_.confirm && environment_.confirm("Replace " + latin1ToUtf8(phoneName) + " on the phone?");
            // Ctrl+C at the question is a no, and the end of the command.
            if (interrupted()) return;
            if (!yes) {
                fail(latin1ToUtf8(phoneName), "on the phone already (--force replaces it, --skip-existing skips it)");
                continue;
            }
        }
        // The room a replaced file leaves counts too.
        const std::uint64_t room = std::uint64_t{freeSpace} + (existing ? existing->size : 0);
        if (size >= room) {
            fail(latin1ToUtf8(phoneName), "file size invalid (" + std::to_string(freeSpace) + " bytes free)");
            continue;
        }
        if (storeFile(phoneName, path, progress)) freeSpace = static_cast<std::uint32_t>(room - size);
    }
}

void CliRun::removeFiles() {
    if (!readList()) return;
    for (const std::string& given : request_.names) {
        if (interrupted()) return;
        const PhoneFileRecord* file = findFile(given);
        if (!file) {
            fail(given, "not on the phone's list");
            continue;
        }
        const std::string name = file->name;
        const std::string shown = latin1ToUtf8(name);
        if (!request_.yes) {
            std::string question = kDeleteQuestion;
            question.replace(question.find("%s"), 2, shown);
            const bool yes = environment_.confirm && environment_.confirm(question);
            if (interrupted()) return;
            if (!yes) {
                fail(shown, "not deleted (-y deletes without asking)");
                continue;
            }
        }
        const std::size_t mark = log_.mark();
        if (session_.fs.FsDelete(name) != 0) {
            fail(shown, withCause("Fail!", mark));
            continue;
        }
        say("deleted " + shown);
        succeeded();
    }
}

void CliRun::setAttribute() {
    if (!readList()) return;
    const PhoneFileRecord* file = findFile(request_.names.front());
    if (!file) {
        fail(request_.names.front(), "not on the phone's list");
        return;
    }
    const std::size_t mark = log_.mark();
    if (session_.fs.FsOpen(file->name, request_.attribute) != 0) {
        fail(latin1ToUtf8(file->name), withCause("Changing attrib failed", mark));
        return;
    }
    session_.fs.FsClose();
    succeeded();
}

void CliRun::getSeems() {
    const stdfs::path folder = pcPath(request_.output.empty() ? "." : request_.output);
    std::error_code error;
    stdfs::create_directories(folder, error);
    if (!isFolder(folder)) {
        fail(request_.output, "not a folder");
        return;
    }
    readSeemRange(request_.seemFrom, request_.seemTo, &seemFileName,
                  [&](std::uint16_t seem, std::uint16_t record, const std::vector<std::uint8_t>& bytes) {
                      const std::string name = seemFileName(seem, record);
                      if (!request_.force && pcPathExists(folder / name)) {
                          fail(name, "exists on the PC (--force replaces it)");
                          return;
                      }
                      PartialFile file(folder / name);
                      if (!file.open() || !file.write(bytes) || !file.commit(request_.force)) {
                          fail(name, "cannot write file " + name);
                          return;
                      }
                      say(name + " " + std::to_string(bytes.size()));
                      succeeded();
                  });
}

void CliRun::putSeem() {
    const std::string name = seemFileName(request_.seem, request_.record);
    std::vector<std::uint8_t> current;
    const std::size_t mark = log_.mark();
    const SeemRead read = readSeemRecord(request_.seem, request_.record, current);
    if (read != SeemRead::Read) {
        // An empty record would be written as one byte of no settled value.
        fail(name, withCause(read == SeemRead::Absent ? "no such record on the phone" : "cannot read the record", mark));
        return;
    }
    const stdfs::path path = pcPath(request_.seemFile);
    std::error_code error;
    const std::uintmax_t size = stdfs::file_size(path, error);
    if (error) {
        fail(request_.seemFile, pcPathExists(path) ? "cannot read it" : "no such PC file");
        return;
    }
    if (size != current.size()) {
        fail(request_.seemFile, std::to_string(size) + " bytes, the record holds " + std::to_string(current.size()));
        return;
    }
    std::vector<std::uint8_t> bytes;
    if (!readPcFile(path, current.size(), bytes)) {
        fail(request_.seemFile, "cannot read it");
        return;
    }
    if (session_.seems.writeSeem(request_.seem, request_.record, 0, static_cast<std::uint32_t>(bytes.size()), bytes) !=
        0) {
        fail(name, withCause("cannot write the record", mark));
        return;
    }
    succeeded();
}

void CliRun::control(bool suspend) {
    const std::size_t mark = log_.mark();
    if ((suspend ? session_.seems.suspendPhone() : session_.seems.restartPhone()) != 0) {
        fail(suspend ? "suspend" : "restart", withCause("failed", mark));
        return;
    }
    succeeded();
}

void CliRun::watch() {
    watching_.store(true);
    session_.startWatcher();
    while (!interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The watcher may be waiting for a removal that never comes: the process ends around it.
    environment_.out.flush();
    if (environment_.endProcess) environment_.endProcess(kExitDone);
    session_.watcher.requestStop();
}

} // namespace telvane::cli
