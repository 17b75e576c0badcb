#include "ui/whole_phone/restore_question.h"

#include <vector>


namespace telvane {

namespace {
// A message box taller than the screen hides its buttons.
constexpr std::size_t kPlanLinesShown = 12;
} // namespace

PlanCounts countPlan(const backup::RestorePlan& plan) {
    using backup::FileAction;
    PlanCounts counts;
    for (const backup::RestorePlan::File& f : plan.files) {
        switch (f.action) {
        case FileAction::Upload:
            ++counts.upload;
            break;
        case FileAction::Replace:
        case FileAction::AskReplace:
            ++counts.replace;
            break;
        case FileAction::Rewrite:
            ++counts.rewrite;
            break;
        case FileAction::SetAttribute:
            ++counts.attributes;
            break;
        case FileAction::Refuse:
            ++counts.refused;
            break;
        case FileAction::Keep:
        case FileAction::Unchanged:
            break;
        }
    }
    for (const backup::RestorePlan::Seem& s : plan.seems) {
        if (s.action == backup::SeemAction::Write) ++counts.seems;
        if (s.action == backup::SeemAction::Refuse) ++counts.refused;
    }
    return counts;
}

std::string snapshotText(const std::string& folder, const std::string& snapshotName) {
    if (snapshotName.empty() || folder.empty()) return folder;
    const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
    return (folder.back() == separator ? folder : folder + separator) + snapshotName;
}

std::string restoreQuestion(const backup::RestorePlan& plan, const std::string& folder, const std::string& model) {
    const PlanCounts counts = countPlan(plan);
    std::string text = "Restore from backup " + snapshotText(folder, plan.snapshot.name) + " onto " + model + "?\r\n\r\n";
    text += std::to_string(counts.upload) + " files to upload, " + std::to_string(counts.replace) + " to replace";
    if (counts.rewrite > 0) text += ", " + std::to_string(counts.rewrite) + " cut short to write again";
    if (counts.attributes > 0) text += ", " + std::to_string(counts.attributes) + " attributes to set";
    text += "; " + std::to_string(counts.seems) + " seem records to write";
    if (counts.refused > 0) text += "; " + std::to_string(counts.refused) + " cannot be restored";
    text += ".\r\nFree space: " + std::to_string(plan.freeBefore) + " bytes before, " +
            std::to_string(plan.freeAfter) + " after.";

    // The plan's own lines, without its closing count (said above).
    std::vector<std::string> lines = backup::describePlan(plan);
    if (!lines.empty()) lines.pop_back();
    if (!lines.empty()) text += "\r\n";
    for (std::size_t i = 0; i < lines.size() && i < kPlanLinesShown; ++i) text += "\r\n" + lines[i];
    if (lines.size() > kPlanLinesShown) text += "\r\nand " + std::to_string(lines.size() - kPlanLinesShown) + " more";
    return text;
}

} // namespace telvane
