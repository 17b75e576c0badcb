#pragma once
#include <cstddef>
#include <string>

#include "backup/restore_run.h"

namespace telvane {

// What a restore plan does, counted.
struct PlanCounts {
    std::size_t upload = 0;     // files not on the phone
    std::size_t replace = 0;    // phone files with other bytes
    std::size_t rewrite = 0;    // files an earlier restore cut short
    std::size_t attributes = 0; // the same bytes, another attribute word
    std::size_t seems = 0;      // seem records to write
    std::size_t refused = 0;    // files and records that cannot be restored
    std::size_t files() const { return upload + replace + rewrite; }
    // Something to write, or something to say it cannot be.
    bool anything() const { return files() + attributes + seems + refused > 0; }
};
PlanCounts countPlan(const backup::RestorePlan& plan);

// A snapshot of a backup folder as the user names the folder ("C:\bk" and "2026-12-10T014730Z"
// give "C:\bk\2026-12-10T014730Z"; a first-format backup is the folder itself).
std::string snapshotText(const std::string& folder, const std::string& snapshotName);

// The plan as the question the user answers before anything is written: the backup (in folder,
// as the user named it) and the phone, the counts, the free space before and after, then the
// plan's first lines.
std::string restoreQuestion(const backup::RestorePlan& plan, const std::string& folder, const std::string& model);

} // namespace telvane
