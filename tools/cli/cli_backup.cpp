// The whole phone: backup into a folder, verify against it, restore from it.
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "tools/cli/cli_run.h"
#include "tools/cli/manifest.h"
#include "tools/cli/pc_paths.h"

namespace telvane::cli {

namespace stdfs = std::filesystem;

namespace {

// Compares a phone file's bytes with a PC file's as they arrive; remembers the first offset at
// which they part.
class CompareSink final : public ByteSink {
public:
    explicit CompareSink(const stdfs::path& path) : stream_(path, std::ios::binary) {}
    bool opened() const { return stream_.is_open(); }
    bool write(std::span<const std::uint8_t> bytes) override {
        pc_.resize(bytes.size());
        stream_.read(reinterpret_cast<char*>(pc_.data()), static_cast<std::streamsize>(pc_.size()));
        const auto got = static_cast<std::size_t>(stream_.gcount());
        for (std::size_t i = 0; i < bytes.size() && !firstDifference_; ++i)
            if (i >= got || pc_[i] != bytes[i]) firstDifference_ = offset_ + i;
        offset_ += bytes.size();
        return true;
    }
    std::optional<std::uint64_t> firstDifference() const { return firstDifference_; }

private:
    std::ifstream stream_;
    std::vector<std::uint8_t> pc_;
    std::uint64_t offset_ = 0;
    std::optional<std::uint64_t> firstDifference_;
};

std::uint64_t pcFileSize(const stdfs::path& path) {
    std::error_code error;
    const std::uintmax_t size = stdfs::file_size(path, error);
    return error ? ~std::uint64_t{0} : size;
}

// A PC path not yet taken by this backup: the mapped name, or the same with "~2", "~3"...
std::string uniquePath(const std::string& path, std::set<std::string>& taken) {
    std::string candidate = path;
    for (int n = 2; !taken.insert(candidate).second; ++n) candidate = path + "~" + std::to_string(n);
    return candidate;
}

std::string seemLabel(std::uint16_t seem, std::uint16_t record) {
    const std::string name = seemFileName(seem, record);
    return "seem " + name.substr(0, 4) + " record " + name.substr(5, 4);
}

bool readManifestFile(const stdfs::path& folder, Manifest& manifest, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!readPcFile(folder / kManifestName, 64u << 20, bytes)) {
        error = "no " + std::string(kManifestName) + " in " + pathText(folder);
        return false;
    }
    if (!parseManifest(std::string(bytes.begin(), bytes.end()), manifest, error)) {
        error = pathText(folder / kManifestName) + ": " + error;
        return false;
    }
    return true;
}

} // namespace

bool CliRun::loadManifest(const stdfs::path& folder, Manifest& manifest) {
    std::string error;
    if (readManifestFile(folder, manifest, error)) return true;
    fail(request_.directory, error);
    return false;
}

bool CliRun::isThisPhone(const Manifest& manifest) const {
    return manifest.model == model_ && manifest.volume == latin1ToUtf8(volume_);
}

void CliRun::backup() {
    const stdfs::path folder = pcPath(request_.directory);
    Manifest previous;
    if (pcPathExists(folder / kManifestName)) {
        if (!loadManifest(folder, previous)) return;
        // Two phones' files in one folder would make neither backup whole.
        if (!isThisPhone(previous)) {
            fail(request_.directory, "holds the backup of " + previous.model + " (" + previous.volume +
                                         "), not of this phone (" + model_ + ", " + latin1ToUtf8(volume_) + ")");
            return;
        }
    }
    std::error_code made;
    stdfs::create_directories(folder / "files", made);
    stdfs::create_directories(folder / "seems", made);
    if (made) {
        fail(request_.directory, "cannot make its folders (" + made.message() + ")");
        return;
    }
    if (!readList()) return;

    Manifest manifest;
    manifest.model = model_;
    manifest.volume = latin1ToUtf8(volume_);
    // The same phone file keeps the PC path it had, so a resumed backup finds what it fetched.
    std::map<std::string, std::string> earlier;
    for (const Manifest::File& f : previous.files) earlier[f.phone] = f.pc;
    std::set<std::string> taken;
    struct Planned {
        const PhoneFileRecord* file;
        std::string pc;
        bool present;
    };
    std::vector<Planned> plan;
    std::uint64_t toFetch = 0;
    for (const PhoneFileRecord& file : files_) {
        const auto known = earlier.find(latin1ToUtf8(file.name));
        const std::string pc = uniquePath(known != earlier.end() ? known->second
                                                                 : backupFilePath(file.name, volume_, tree_),
                                          taken);
        // What is there at its full size was fetched before (downloads are renamed only once whole).
        const bool present = pcFileSize(folder / pcPath(pc)) == file.size;
        if (!present) toFetch += file.size;
        plan.push_back({&file, pc, present});
    }

    std::size_t fetched = 0;
    std::size_t kept = 0;
    TransferProgress progress(environment_.err, environment_.errIsTerminal && !request_.quiet,
                              environment_.interrupted, toFetch);
    for (const Planned& p : plan) {
        if (interrupted()) return;
        const stdfs::path target = folder / pcPath(p.pc);
        if (p.present) {
            ++kept;
        } else {
            std::error_code ignored;
            stdfs::create_directories(target.parent_path(), ignored);
            // The backup's own copy, out of date or cut short: it is replaced.
            if (!fetchFile(*p.file, target, true, progress)) continue;
            ++fetched;
        }
        manifest.files.push_back({latin1ToUtf8(p.file->name), p.pc, p.file->size, p.file->attribute});
    }

    std::size_t records = 0;
    std::vector<std::uint8_t> stored;
    const bool seemsRead =
        !request_.withSeems ||
        readSeemRange(request_.seemFrom, request_.seemTo, &seemLabel,
                      [&](std::uint16_t seem, std::uint16_t record, const std::vector<std::uint8_t>& bytes) {
                          const std::string pc = "seems/" + seemFileName(seem, record);
                          const stdfs::path target = folder / pcPath(pc);
                          if (!readPcFile(target, bytes.size(), stored) || stored != bytes) {
                              PartialFile file(target);
                              if (!file.open() || !file.write(bytes) || !file.commit(true)) {
                                  fail(seemLabel(seem, record), "cannot write file " + pc);
                                  return;
                              }
                          }
                          manifest.seems.push_back({seem, record, static_cast<std::uint32_t>(bytes.size()), pc});
                          ++records;
                      });
    if (!seemsRead) return;
    if (!failures_.empty()) {
        say("backup incomplete: run it again to fetch what is missing");
        return;
    }
    // Written last: a folder with a manifest holds a whole backup.
    manifest.time = utcNow();
    const std::string text = manifestText(manifest);
    PartialFile file(folder / kManifestName);
    if (!file.open() || !file.write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}) ||
        !file.commit(true)) {
        fail(request_.directory, std::string("cannot write ") + kManifestName);
        return;
    }
    say("backup of " + model_ + " in " + request_.directory + ": " + std::to_string(manifest.files.size()) +
        " files (" + std::to_string(fetched) + " fetched, " + std::to_string(kept) + " already there), " +
        std::to_string(records) + " seem records");
    succeeded();
}

void CliRun::verify() {
    const stdfs::path folder = pcPath(request_.directory);
    Manifest manifest;
    if (!loadManifest(folder, manifest)) return;
    auto differs = [this](const std::string& what, const std::string& text) {
        say("differs: " + what + ": " + text);
        failures_.push_back(what);
    };
    if (!isThisPhone(manifest))
        differs("phone", "the backup is of " + manifest.model + " (" + manifest.volume + "), the phone is " + model_ +
                             " (" + latin1ToUtf8(volume_) + ")");
    if (!readList()) return;
    std::map<std::string, const PhoneFileRecord*> onPhone;
    for (const PhoneFileRecord& f : files_) onPhone[latin1ToUtf8(f.name)] = &f;

    std::uint64_t total = 0;
    for (const Manifest::File& f : manifest.files) total += f.size;
    TransferProgress progress(environment_.err, environment_.errIsTerminal && !request_.quiet,
                              environment_.interrupted, total);
    std::set<std::string> inBackup;
    for (const Manifest::File& f : manifest.files) {
        if (interrupted()) return;
        inBackup.insert(f.phone);
        const auto it = onPhone.find(f.phone);
        const stdfs::path pc = folder / pcPath(f.pc);
        if (it == onPhone.end()) {
            differs(f.phone, "missing on the phone");
            continue;
        }
        if (pcFileSize(pc) != f.size) {
            differs(f.phone, f.pc + " is not in the backup at its size of " + std::to_string(f.size) + " bytes");
            continue;
        }
        if (it->second->size != f.size) {
            differs(f.phone, std::to_string(it->second->size) + " bytes on the phone, " + std::to_string(f.size) +
                                 " in the backup");
            continue;
        }
        if (it->second->attribute != f.attribute)
            differs(f.phone, "attribute " + std::to_string(it->second->attribute) + " on the phone, " +
                                 std::to_string(f.attribute) + " in the backup");
        CompareSink sink(pc);
        if (!sink.opened()) {
            differs(f.phone, "cannot read " + f.pc);
            continue;
        }
        const std::size_t mark = log_.mark();
        progress.beginFile(f.phone, f.size);
        const TransferOutcome outcome = readFile(*it->second, sink, progress);
        progress.endFile();
        if (outcome == TransferOutcome::Stopped) return;
        if (outcome != TransferOutcome::Done) {
            fail(f.phone, withCause("cannot read file", mark));
            continue;
        }
        if (sink.firstDifference())
            differs(f.phone, "bytes differ from offset " + std::to_string(*sink.firstDifference()));
        else
            succeeded();
    }
    for (const PhoneFileRecord& f : files_)
        if (!inBackup.count(latin1ToUtf8(f.name))) differs(latin1ToUtf8(f.name), "not in the backup");

    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> stored;
    for (const Manifest::Seem& s : manifest.seems) {
        if (interrupted()) return;
        const std::string label = seemLabel(s.seem, s.record);
        const std::size_t mark = log_.mark();
        const SeemRead read = readSeemRecord(s.seem, s.record, bytes);
        if (read == SeemRead::Failed) {
            fail(label, withCause("cannot read the record", mark));
            return;
        }
        if (!readPcFile(folder / pcPath(s.pc), s.size, stored) || stored.size() != s.size) {
            differs(label, s.pc + " is not in the backup at its size of " + std::to_string(s.size) + " bytes");
        } else if (read == SeemRead::Absent) {
            differs(label, "missing on the phone");
        } else if (bytes.size() != stored.size()) {
            differs(label, std::to_string(bytes.size()) + " bytes on the phone, " + std::to_string(stored.size()) +
                               " in the backup");
        } else if (bytes != stored) {
            std::size_t at = 0;
            while (bytes[at] == stored[at]) ++at;
            differs(label, "bytes differ from offset " + std::to_string(at));
        } else {
            succeeded();
        }
    }
    if (failures_.empty())
        say("verified: " + std::to_string(manifest.files.size()) + " files and " +
            std::to_string(manifest.seems.size()) + " seem records match the phone");
}

void CliRun::restore() {
    const stdfs::path folder = pcPath(request_.directory);
    Manifest manifest;
    if (!loadManifest(folder, manifest)) return;
    if (!isThisPhone(manifest) && !request_.force) {
        fail(request_.directory, "the backup is of " + manifest.model + " (" + manifest.volume + "), the phone is " +
                                     model_ + " (" + latin1ToUtf8(volume_) + "); --force restores it anyway");
        return;
    }
    const char* would = request_.dryRun ? "would " : "";
    std::size_t uploaded = 0;
    std::size_t keptFiles = 0;
    if (!request_.seemsOnly) {
        if (!readList()) return;
        std::uint64_t total = 0;
        for (const Manifest::File& f : manifest.files) total += f.size;
        TransferProgress progress(environment_.err, environment_.errIsTerminal && !request_.quiet && !request_.dryRun,
                                  environment_.interrupted, total);
        std::uint32_t freeSpace = session_.info.freeSpace;
        for (const Manifest::File& f : manifest.files) {
            if (interrupted()) return;
            const auto name = utf8ToLatin1(f.phone);
            if (!name) {
                fail(f.phone, "a name the phone cannot hold");
                continue;
            }
            std::vector<std::uint8_t> bytes;
            if (!readPcFile(folder / pcPath(f.pc), f.size, bytes) || bytes.size() != f.size) {
                fail(f.phone, f.pc + " is not in the backup at its size of " + std::to_string(f.size) + " bytes");
                continue;
            }
            const PhoneFileRecord* existing = findFile(f.phone);
            if (existing && !request_.force && !request_.dryRun &&
                (!environment_.confirm || !environment_.confirm("Replace " + f.phone + " on the phone?"))) {
                say("kept " + f.phone + " (on the phone already; --force replaces it)");
                ++keptFiles;
                continue;
            }
            const std::uint64_t room = std::uint64_t{freeSpace} + (existing ? existing->size : 0);
            if (f.size != 0 && f.size >= room) {
                fail(f.phone, "file size invalid (" + std::to_string(freeSpace) + " bytes free)");
                continue;
            }
            if (request_.dryRun) {
                say(std::string(would) + (existing ? "replace " : "upload ") + f.phone + " (" +
                    std::to_string(f.size) + " bytes)");
                continue;
            }
            if (!storeFile(*name, bytes, f.attribute, progress)) continue;
            freeSpace = static_cast<std::uint32_t>(room - f.size);
            ++uploaded;
        }
    }
    std::size_t written = 0;
    std::size_t unchanged = 0;
    if (!request_.filesOnly) {
        std::vector<std::uint8_t> current;
        std::vector<std::uint8_t> stored;
        for (const Manifest::Seem& s : manifest.seems) {
            if (interrupted()) return;
            const std::string label = seemLabel(s.seem, s.record);
            if (!readPcFile(folder / pcPath(s.pc), s.size, stored) || stored.size() != s.size) {
                fail(label, s.pc + " is not in the backup at its size of " + std::to_string(s.size) + " bytes");
                continue;
            }
            const std::size_t mark = log_.mark();
            const SeemRead read = readSeemRecord(s.seem, s.record, current);
            if (read == SeemRead::Failed) {
                fail(label, withCause("cannot read the record", mark));
                return;
            }
            // A record is written only over one of its own size: anything else is not this record.
            if (read == SeemRead::Absent || current.size() != stored.size()) {
                fail(label, "refused: " + std::to_string(read == SeemRead::Absent ? 0 : current.size()) +
                                " bytes on the phone, " + std::to_string(stored.size()) + " in the backup");
                continue;
            }
            if (current == stored) {
                ++unchanged;
                continue;
            }
            if (stored.size() > seem::kMaxWriteLength) {
                fail(label, "refused: longer than one write can carry (" + std::to_string(seem::kMaxWriteLength) +
                                " bytes)");
                continue;
            }
            if (request_.dryRun) {
                say(std::string(would) + "write " + label + " (" + std::to_string(stored.size()) + " bytes)");
                continue;
            }
            if (session_.seems.writeSeem(s.seem, s.record, 0, static_cast<std::uint32_t>(stored.size()), stored) != 0) {
                fail(label, withCause("cannot write the record", mark));
                continue;
            }
            ++written;
            succeeded();
        }
    }
    if (!request_.dryRun)
        say("restored: " + std::to_string(uploaded) + " files uploaded, " + std::to_string(keptFiles) + " kept; " +
            std::to_string(written) + " seem records written, " + std::to_string(unchanged) + " unchanged");
}

} // namespace telvane::cli
