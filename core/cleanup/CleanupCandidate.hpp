#pragma once

#include "core/cleanup/CleanupCategory.hpp"
#include "core/scan/FileNode.hpp"

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace varnok {

// One suggested item, identified by its node's URL. Two candidates with the same URL are the same
// item; there is no other equality.
struct CleanupCandidate {
    // The file or folder to move to Trash, as captured at scan time.
    FileNode node;
    CleanupCategory category = CleanupCategory::appCaches;
    // Context shown with the item: the home folder for known locations, the containing project
    // folder for detected developer output.
    std::string projectPath;
    // The one-line reason shown to the user.
    std::string evidence;
    // Only for duplicates: the identical copy that stays.
    std::optional<FileNode> keeper;
    // Illustrative demo data, never moved to Trash.
    bool isExample = false;
    // Offered only to be chosen one by one: never selected by a "select all" of the window or by
    // `clean --all`.
    bool manualOnly = false;

    CleanupCandidate() = default;
    CleanupCandidate(FileNode node, CleanupCategory category, std::string projectPath,
                     std::string evidence, bool isExample = false,
                     std::optional<FileNode> keeper = std::nullopt);

    const Url& id() const { return node.id; }
};

// `node` and `keeper` as scanned nodes, `category` as its raw value; `keeper` only when present.
void to_json(nlohmann::json& json, const CleanupCandidate& candidate);

} // namespace varnok
