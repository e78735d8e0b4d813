#include "cli/CleanupOutput.hpp"

#include "cli/Cli.hpp"
#include "core/scan/FileNodeJson.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrelo::cli {

void printCandidateGroups(
    const std::vector<varnok::CleanupCandidate>& candidates,
    const std::function<std::string(const varnok::CleanupCandidate&)>& label,
    const std::function<std::vector<std::string>(const varnok::CleanupCandidate&)>& runningApps) {
    for (varnok::CleanupCategory category : varnok::CleanupCategory::allCases()) {
        std::vector<const varnok::CleanupCandidate*> group;
        std::int64_t total = 0;
        for (const auto& candidate : candidates) {
            if (candidate.category == category) {
                group.push_back(&candidate);
                total += candidate.node.logicalSize;
            }
        }
        if (group.empty()) {
            continue;
        }
        std::printf("\n%s: %zu %s, %s\n", std::string(category.rawValue()).c_str(), group.size(),
                    group.size() == 1 ? "item" : "items", formatBytes(total).c_str());
        for (const varnok::CleanupCandidate* candidate : group) {
            std::printf("  %10s  %s\n", formatBytes(candidate->node.logicalSize).c_str(),
                        pastablePath(label(*candidate)).c_str());
            std::printf("              %s\n", pastablePath(candidate->node.id.path()).c_str());
            std::printf("              %s\n",
                        varnok::PathText::displayable(candidate->evidence).c_str());
            if (runningApps) {
                std::vector<std::string> apps = runningApps(*candidate);
                if (!apps.empty()) {
                    std::string names;
                    for (const auto& name : apps) {
                        names += (names.empty() ? "" : ", ") + name;
                    }
                    std::printf("              Open now, close first: %s\n",
                                varnok::PathText::displayable(names).c_str());
                }
            }
        }
    }
}

nlohmann::json candidateJson(const varnok::CleanupCandidate& candidate, const std::string& title,
                             const std::vector<std::string>& owners, bool tree) {
    using varnok::PathText::displayable;
    const varnok::FileNode& node = candidate.node;
    nlohmann::json entry = {
        {"path", displayable(node.id.withDirectoryForm(false).path())},
        {"url", displayable(node.id.absoluteString())},
        {"title", displayable(title)},
        {"category", std::string(candidate.category.rawValue())},
        {"isDirectory", node.isDirectory},
        {"logicalSize", node.logicalSize},
        {"allocatedSize", node.allocatedSize},
        {"fileCount", node.fileCount},
        {"modified", nullptr},
        {"evidence", displayable(candidate.evidence)},
        {"projectPath", displayable(candidate.projectPath)},
        {"owners", owners},
        {"keeper", nullptr},
    };
    if (node.identity) {
        entry["modified"] = isoTimeOfUnixSeconds(node.identity->modifiedSeconds);
    }
    if (candidate.manualOnly) {
        entry["manualOnly"] = true;
    }
    if (candidate.keeper) {
        entry["keeper"] = displayable(candidate.keeper->id.withDirectoryForm(false).path());
    }
    if (tree) {
        entry["tree"] = node;
    }
    return entry;
}

std::string indentedJson(const nlohmann::json& document) {
    constexpr size_t deepestIndentedLevel = 32;
    constexpr auto replace = nlohmann::json::error_handler_t::replace;
    std::string out;
    auto indent = [&](size_t level) { out.append(2 * std::min(level, deepestIndentedLevel), ' '); };
    struct Open {
        const nlohmann::json* container;
        nlohmann::json::const_iterator next;
    };
    std::vector<Open> open;
    // Writes a scalar or an empty container whole; opens any other container.
    auto begin = [&](const nlohmann::json& value) {
        if (value.is_structured() && !value.empty()) {
            out += value.is_object() ? "{\n" : "[\n";
            open.push_back({&value, value.cbegin()});
        } else {
            out += value.dump(-1, ' ', false, replace);
        }
    };
    begin(document);
    while (!open.empty()) {
        Open& current = open.back();
        const size_t level = open.size();
        if (current.next == current.container->cend()) {
            out += '\n';
            indent(level - 1);
            out += current.container->is_object() ? '}' : ']';
            open.pop_back();
            continue;
        }
        if (current.next != current.container->cbegin()) {
            out += ",\n";
        }
        indent(level);
        if (current.container->is_object()) {
            out += nlohmann::json(current.next.key()).dump(-1, ' ', false, replace);
            out += ": ";
        }
        const nlohmann::json& value = *current.next;
        ++current.next;
        begin(value);
    }
    return out;
}

} // namespace ombrelo::cli
