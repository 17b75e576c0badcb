#include "sim/fault_plan.h"

#include <cstdlib>
#include <utility>

namespace telvane::sim {

namespace {

const std::pair<const char*, FaultKind> kKinds[] = {
    {"status", FaultKind::Status},           {"noreply", FaultKind::NoReply},
    {"wrongseq", FaultKind::WrongSequence},  {"badcount", FaultKind::BadPacketCount},
    {"notreply", FaultKind::NotAReply},      {"baddatalen", FaultKind::BadDataLength},
    {"writetimeout", FaultKind::WriteTimeout}, {"writefail", FaultKind::WriteFail},
    {"readtimeout", FaultKind::ReadTimeout}, {"readfail", FaultKind::ReadFail},
    {"unplug", FaultKind::Unplug},           {"zerofree", FaultKind::ZeroFreeSpace},
    {"count", FaultKind::FileCount},         {"badentry", FaultKind::BadEntrySize},
    {"shortread", FaultKind::ShortRead},
    {"listsize", FaultKind::ListedSize},
    {"seemflip", FaultKind::SeemFlip},
};

std::optional<std::uint32_t> parseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || v > 0xFFFFFFFFull || text[0] == '-' || text[0] == '+') return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

// Cuts the text at the first of the given markers; returns what followed the marker.
std::optional<std::string> cutAt(std::string& text, char marker) {
    auto pos = text.find(marker);
    if (pos == std::string::npos) return std::nullopt;
    std::string rest = text.substr(pos + 1);
    text.erase(pos);
    return rest;
}

} // namespace

std::string faultKindName(FaultKind kind) {
    for (const auto& [name, k] : kKinds)
        if (k == kind) return name;
    return "?";
}

std::optional<FaultRule> parseFaultRule(const std::string& input) {
    std::string text = input;
    FaultRule rule;
    // Suffixes are cut from the right in reverse order of appearance: *TIMES, #N, @OP[/SUB].
    if (auto times = cutAt(text, '*')) {
        auto v = parseNumber(*times);
        if (!v) return std::nullopt;
        rule.times = *v;
    }
    if (auto nth = cutAt(text, '#')) {
        auto v = parseNumber(*nth);
        if (!v || *v == 0) return std::nullopt;
        rule.nth = *v;
    }
    if (auto target = cutAt(text, '@')) {
        std::string op = *target;
        if (auto sub = cutAt(op, '/')) {
            auto v = parseNumber(*sub);
            if (!v) return std::nullopt;
            rule.subcommand = *v;
        }
        auto v = parseNumber(op);
        if (!v || *v > 0x0FFF) return std::nullopt;
        rule.opcode = static_cast<std::uint16_t>(*v);
    }
    if (auto value = cutAt(text, '=')) {
        auto v = parseNumber(*value);
        if (!v) return std::nullopt;
        rule.value = *v;
        rule.hasValue = true;
    }
    for (const auto& [name, k] : kKinds) {
        if (text == name) {
            rule.kind = k;
            if (k == FaultKind::Status && (!rule.hasValue || rule.value > 15)) return std::nullopt;
            return rule;
        }
    }
    return std::nullopt;
}

void FaultPlan::add(const FaultRule& rule) { rules_.push_back({rule, 0}); }

void FaultPlan::clear() { rules_.clear(); }

std::optional<FaultRule> FaultPlan::match(std::uint32_t commandNumber, std::uint16_t opcode,
                                          std::optional<std::uint32_t> subcommand) {
    for (auto& live : rules_) {
        const FaultRule& r = live.rule;
        if (r.times != 0 && live.hits >= r.times) continue;
        if (r.opcode && *r.opcode != opcode) continue;
        if (r.subcommand && (!subcommand || *r.subcommand != *subcommand)) continue;
        if (r.nth && *r.nth != commandNumber) continue;
        ++live.hits;
        return r;
    }
    return std::nullopt;
}

} // namespace telvane::sim
