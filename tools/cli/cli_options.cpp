// The command line, read with CLI11. Everything that can be checked without the phone is
// checked here, so a usage error never reaches it.
#include <CLI/CLI.hpp>

#include "backup/seem_edit.h"
#include "tools/cli/cli_request.h"

namespace telvane::cli {

namespace {

bool parseHex(const std::string& text, std::uint32_t limit, std::uint32_t& value) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    std::uint64_t v = 0;
    for (char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) return false;
        v = v * 16 + static_cast<std::uint64_t>(d);
    }
    if (v > limit) return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

// The largest attribute value the phone takes as it is (the window's rule).
constexpr std::uint32_t kMaxAttribute = 0x10000;

} // namespace

bool parseSeemRange(const std::string& text, std::uint16_t& from, std::uint16_t& to) {
    const std::size_t dash = text.find('-');
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    if (dash == std::string::npos) {
        if (!parseHex(text, 0xFFFF, a)) return false;
        b = a;
    } else if (!parseHex(text.substr(0, dash), 0xFFFF, a) || !parseHex(text.substr(dash + 1), 0xFFFF, b) || b < a) {
        return false;
    }
    from = static_cast<std::uint16_t>(a);
    to = static_cast<std::uint16_t>(b);
    return true;
}

ParseOutcome parseCliArguments(const std::vector<std::string>& args, CliRequest& request, std::string& text) {
    CLI::App app{"Manages the files and seems of a P2K phone.", "telvane-cli"};
    app.require_subcommand(1);
    app.fallthrough();
    // Phone paths begin with '/': never "/a/notes.txt" taken for a Windows-style option
    // (the Windows default; the subcommands inherit this).
    app.allow_windows_style_options(false);
    app.add_option("--device", request.device,
                   "auto | usb | usb:PATH | virtual[:tree|:flat] | tcp:HOST:PORT | driver (default: usb on Linux, "
                   "auto on Windows: the maker's driver where it lists a phone, WinUSB otherwise; TELVANE_DEVICE "
                   "overrides the default)");
    app.add_option("--usb-id", request.usbIds, "take the USB device VID:PID for a phone too (repeatable)")
        ->allow_extra_args(false);
    app.add_option("--wait", request.waitSeconds, "seconds to wait for the phone (default 10)");
    app.add_flag("-q,--quiet", request.quiet, "no progress");
    app.add_flag("-v,--verbose", request.verbose, "print the whole log of the link on stderr");
    app.set_version_flag("--version", "telvane-cli " TELVANE_VERSION);

    auto* info = app.add_subcommand("info", "state, model, volume and free space");
    info->add_flag("--json", request.json, "as JSON");

    auto* ls = app.add_subcommand("ls", "the phone's files");
    ls->add_option("FOLDER", request.folder, "a folder (tree phones only)");
    ls->add_flag("-l", request.longFormat, "with attributes and size");
    ls->add_flag("--json", request.json, "as JSON");

    auto* get = app.add_subcommand("get", "copy phone files to the PC");
    get->add_option("PHONEFILE", request.names, "phone files (with -r: one folder)")->required();
    get->add_option("-o", request.output, "a folder for several files, a file name for one");
    get->add_flag("-r", request.recursive, "a folder with its sub-folders (tree phones)");
    get->add_flag("--force", request.force, "replace PC files");

    auto* put = app.add_subcommand("put", "copy PC files to the phone");
    put->add_option("PCFILE", request.names, "PC files")->required();
    put->add_option("-d", request.folder, "the phone folder (tree phones)");
    auto* force = put->add_flag("--force", request.force, "replace phone files");
    auto* skip = put->add_flag("--skip-existing", request.skipExisting, "leave phone files that exist alone");
    force->excludes(skip);

    auto* rm = app.add_subcommand("rm", "delete phone files");
    rm->add_option("PHONEFILE", request.names, "phone files")->required();
    rm->add_flag("-y", request.yes, "do not ask");

    std::string attributeText;
    std::string attributeFile;
    auto* attr = app.add_subcommand("attr", "set a phone file's attribute word");
    attr->add_option("PHONEFILE", attributeFile, "the phone file")->required();
    attr->add_option("VALUE", attributeText, "the attribute, hexadecimal")->required();

    auto* seem = app.add_subcommand("seem", "seem records");
    seem->require_subcommand(1);
    std::string seemRange;
    auto* seemGet = seem->add_subcommand("get", "save records to \"%.4x_%.4x.seem\" files");
    seemGet->add_option("RANGE", seemRange, "FROM[-TO], hexadecimal")->required();
    seemGet->add_option("-o", request.output, "the folder (default: here)");
    seemGet->add_flag("--force", request.force, "replace PC files");
    std::string seemText;
    std::string recordText;
    auto* seemPut = seem->add_subcommand("put", "write one record from a PC file");
    seemPut->add_option("SEEM", seemText, "seem, hexadecimal")->required();
    seemPut->add_option("REC", recordText, "record, hexadecimal")->required();
    seemPut->add_option("FILE", request.seemFile, "the PC file, of the record's size")->required();

    std::string showSeemText;
    std::string showRecordText;
    auto* seemShow = seem->add_subcommand("show", "show a record's bytes");
    seemShow->add_option("SEEM", showSeemText, "seem, hexadecimal")->required();
    seemShow->add_option("REC", showRecordText, "record, hexadecimal")->required();
    seemShow->add_flag("--bits", request.bits, "each byte's 8 bits too (bit 7 first)");
    seemShow->add_flag("--json", request.json, "as JSON");
    std::string diffRange;
    std::vector<std::string> diffRest;
    auto* seemDiff = seem->add_subcommand("diff", "compare the phone's records with a backup or a record file");
    seemDiff->add_option("SEEMS", diffRange, "SEEM[-SEEM2], hexadecimal")->required();
    seemDiff->add_option("WHAT", diffRest, "[REC] DIR|FILE")->required()->expected(1, 2);
    std::string setSeemText;
    std::string setRecordText;
    auto* seemSet = seem->add_subcommand("set", "change bytes or bits of a record, with an undo copy");
    seemSet->add_option("SEEM", setSeemText, "seem, hexadecimal")->required();
    seemSet->add_option("REC", setRecordText, "record, hexadecimal")->required();
    seemSet->add_option("EDIT", request.seemEdits, "OFFSET=BYTES or OFFSET.BIT=0|1, hexadecimal")->required();
    seemSet->add_flag("--dry-run", request.dryRun, "show the change, write nothing");
    auto* seemUndo = seem->add_subcommand("undo", "list the saved records, or write one back");
    seemUndo->add_option("WHAT", request.seemTarget, "list | UNDOFILE")->required();

    std::string backupRange;
    bool noSeems = false;
    auto* backup = app.add_subcommand("backup", "copy every file and seem record into DIR");
    backup->add_option("DIR", request.directory, "the backup folder")->required();
    auto* seemsOption = backup->add_option("--seems", backupRange, "FROM-TO (default 0000-0300)");
    backup->add_flag("--no-seems", noSeems, "no seem records")->excludes(seemsOption);
    backup->add_flag("--other-phone", request.otherPhone, "back up into a folder holding another phone's backup");
    backup->add_option("--keep", request.keep, "keep the newest N backups in DIR (default: all)")
        ->check(CLI::PositiveNumber);

    auto* verify = app.add_subcommand("verify", "compare a backup with the phone, byte for byte");
    verify->add_option("DIR", request.directory, "the backup folder")->required();
    verify->add_flag("--offline", request.offline, "check the backup's files against its hashes, with no phone");
    verify->add_option("--snapshot", request.snapshot, "the backup in DIR to check (default: the newest)");

    auto* restore = app.add_subcommand("restore", "put a backup back on the phone");
    restore->add_option("DIR", request.directory, "the backup folder")->required();
    auto* filesOnly = restore->add_flag("--files-only", request.filesOnly, "only the files");
    auto* seemsOnly = restore->add_flag("--seems-only", request.seemsOnly, "only the seem records");
    filesOnly->excludes(seemsOnly);
    restore->add_flag("--dry-run", request.dryRun, "print what would change, change nothing");
    restore->add_flag("--force", request.force, "replace phone files without asking");
    restore->add_flag("--other-phone", request.otherPhone, "restore another phone's backup onto this phone");
    restore->add_option("--snapshot", request.snapshot, "the backup in DIR to restore (default: the newest)");

    app.add_subcommand("suspend", "suspend the phone");
    app.add_subcommand("restart", "restart the phone");
    app.add_subcommand("watch", "print \"connected MODEL\" and \"disconnected\" until interrupted");

    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        text = app.help();
        return ParseOutcome::Help;
    } catch (const CLI::CallForAllHelp&) {
        text = app.help("", CLI::AppFormatMode::All);
        return ParseOutcome::Help;
    } catch (const CLI::CallForVersion& e) {
        text = std::string(e.what()) + "\n";
        return ParseOutcome::Help;
    } catch (const CLI::ParseError& e) {
        text = e.what();
        // CLI11 takes a word that is no command for a stray argument; say what it is.
        if (app.get_subcommands().empty()) {
            for (std::size_t i = 0; i < args.size(); ++i) {
                const std::string& arg = args[i];
                if (arg == "--device" || arg == "--usb-id" || arg == "--wait") {
                    ++i;
                } else if (!arg.empty() && arg[0] != '-') {
                    text = "unknown command \"" + arg + "\"";
                    break;
                }
            }
        }
        return ParseOutcome::UsageError;
    }

    for (const CLI::App* sub : app.get_subcommands()) {
        request.command = sub->get_name();
        for (const CLI::App* inner : sub->get_subcommands()) request.command += " " + inner->get_name();
    }
    if (!request.device.empty() && request.device.find_first_not_of(' ') == std::string::npos) {
        text = "--device needs a device";
        return ParseOutcome::UsageError;
    }
    if (request.command == "attr") request.names = {attributeFile};
    if (request.command == "attr" && !parseHex(attributeText, kMaxAttribute, request.attribute)) {
        text = "not an attribute value: \"" + attributeText + "\"; give 0 to 10000 in hexadecimal";
        return ParseOutcome::UsageError;
    }
    if (request.command == "seem get" && !parseSeemRange(seemRange, request.seemFrom, request.seemTo)) {
        text = "not a seem range: \"" + seemRange + "\"; give FROM or FROM-TO in hexadecimal, FROM not above TO";
        return ParseOutcome::UsageError;
    }
    if (request.command == "seem put") {
        std::uint32_t s = 0;
        std::uint32_t r = 0;
        if (!parseHex(seemText, 0xFFFF, s)) {
            text = "not a seem number: \"" + seemText + "\"; give 0 to ffff in hexadecimal";
            return ParseOutcome::UsageError;
        }
        if (!parseHex(recordText, 0xFFFF, r) || r == 0) {
            text = "not a record number: \"" + recordText + "\"; give 1 to ffff in hexadecimal";
            return ParseOutcome::UsageError;
        }
        request.seem = static_cast<std::uint16_t>(s);
        request.record = static_cast<std::uint16_t>(r);
    }
    // A seem and a record, as seem put, show and set take them.
    auto seemAndRecord = [&](const std::string& seemArg, const std::string& recordArg) {
        std::uint32_t s = 0;
        std::uint32_t r = 0;
        if (!parseHex(seemArg, 0xFFFF, s)) {
            text = "not a seem number: \"" + seemArg + "\"; give 0 to ffff in hexadecimal";
            return false;
        }
        if (!parseHex(recordArg, 0xFFFF, r) || r == 0) {
            text = "not a record number: \"" + recordArg + "\"; give 1 to ffff in hexadecimal";
            return false;
        }
        request.seem = static_cast<std::uint16_t>(s);
        request.record = static_cast<std::uint16_t>(r);
        return true;
    };
    if (request.command == "seem show" && !seemAndRecord(showSeemText, showRecordText)) return ParseOutcome::UsageError;
    if (request.command == "seem set") {
        if (!seemAndRecord(setSeemText, setRecordText)) return ParseOutcome::UsageError;
        for (const std::string& edit : request.seemEdits) {
            std::string error;
            if (!backup::parseSeemEdit(edit, error)) {
                text = error;
                return ParseOutcome::UsageError;
            }
        }
    }
    if (request.command == "seem diff") {
        if (!parseSeemRange(diffRange, request.seemFrom, request.seemTo)) {
            text = "not a seem range: \"" + diffRange + "\"; give SEEM or SEEM-SEEM2 in hexadecimal";
            return ParseOutcome::UsageError;
        }
        request.seemTarget = diffRest.back();
        if (diffRest.size() == 2) {
            std::uint32_t r = 0;
            if (!parseHex(diffRest.front(), 0xFFFF, r) || r == 0) {
                text = "not a record number: \"" + diffRest.front() + "\"; give 1 to ffff in hexadecimal";
                return ParseOutcome::UsageError;
            }
            request.record = static_cast<std::uint16_t>(r);
            request.recordGiven = true;
        }
    }
    if (request.command == "backup") {
        request.withSeems = !noSeems;
        if (!backupRange.empty() && !parseSeemRange(backupRange, request.seemFrom, request.seemTo)) {
            text = "not a seem range: \"" + backupRange + "\"; give FROM-TO in hexadecimal, FROM not above TO";
            return ParseOutcome::UsageError;
        }
        if (backupRange.empty()) {
            request.seemFrom = kDefaultSeemFrom;
            request.seemTo = kDefaultSeemTo;
        }
    }
    if (request.command == "get" && request.recursive && request.names.size() != 1) {
        text = "get -r takes one folder";
        return ParseOutcome::UsageError;
    }
    if (request.command == "get" && request.recursive) {
        request.folder = request.names.front();
        request.names.clear();
    }
    return ParseOutcome::Run;
}

} // namespace telvane::cli
