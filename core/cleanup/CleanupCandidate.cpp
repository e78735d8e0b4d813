#include "core/cleanup/CleanupCandidate.hpp"

#include "core/scan/FileNodeJson.hpp"

#include <nlohmann/json.hpp>

namespace varnok {

CleanupCandidate::CleanupCandidate(FileNode node, CleanupCategory category, std::string projectPath,
                                   std::string evidence, bool isExample,
                                   std::optional<FileNode> keeper)
    : node(std::move(node)), category(category), projectPath(std::move(projectPath)),
      evidence(std::move(evidence)), keeper(std::move(keeper)), isExample(isExample) {}

void to_json(nlohmann::json& json, const CleanupCandidate& candidate) {
    json = nlohmann::json::object();
    json["node"] = candidate.node;
    json["category"] = std::string(candidate.category.rawValue());
    json["projectPath"] = PathText::displayable(candidate.projectPath);
    json["evidence"] = PathText::displayable(candidate.evidence);
    json["isExample"] = candidate.isExample;
    if (candidate.manualOnly) {
        json["manualOnly"] = true;
    }
    if (candidate.keeper) {
        json["keeper"] = *candidate.keeper;
    }
}

} // namespace varnok
