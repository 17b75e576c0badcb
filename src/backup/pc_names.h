#pragma once
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace telvane::backup {

// The longest PC name component a phone name becomes, in UTF-8 bytes: well inside the 255 that
// both Windows and Linux allow, with room for a "~N" that tells two names apart.
inline constexpr std::size_t kMaxPcComponent = 200;

// Gives every phone file a PC path of its own below a root folder ("files" in a backup): the
// folders below the volume kept on a phone with folders, every component a name the PC can hold
// (as the window names its downloads), long components shortened with a hash of the phone name,
// and no two paths equal when case is ignored, so a folder copied between Linux and Windows keeps
// every file. A phone name keeps the path reserved for it (from an earlier backup in the folder).
class PcNameMap {
public:
    explicit PcNameMap(std::string root) : root_(std::move(root)) {}

    // Takes an earlier run's path for a phone name (UTF-8). False, and nothing reserved, when the
    // path is not one this map could have made, or clashes with one already taken.
    bool reserve(const std::string& phoneUtf8, const std::string& pcPath);
    // The path of a phone file (its 8-bit name): the one reserved for it, or a new one. On a
    // phone with folders the part of the name below volume/ is used.
    std::string pathFor(std::string_view phoneName, std::string_view volume, bool treeMode);
    // True when a phone name has this path (ignoring case).
    bool taken(const std::string& pcPath) const;

private:
    bool fits(const std::string& path) const;
    void take(const std::string& phoneUtf8, const std::string& path);

    std::string root_;
    std::map<std::string, std::string> byPhone_;
    std::set<std::string> fileKeys_;                    // folded paths of files
    std::map<std::string, std::string> folderSpelling_; // folded folder path -> its one spelling
    std::map<std::string, std::string> folderAlias_;    // folded natural folder path -> the one used
};

// The same text with letters of either case made one (ASCII and Latin-1, as Windows folds them).
std::string foldCase(std::string_view utf8);

// One component of a PC path made from a phone name's component (8-bit): the window's PC name,
// shortened when longer than kMaxPcComponent bytes with a hash of wholeName. UTF-8.
std::string pcComponent(std::string_view phoneComponent, std::string_view wholeName);

} // namespace telvane::backup
