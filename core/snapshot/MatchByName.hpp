#pragma once

#include "core/scan/FileNode.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

namespace varnok {

// Walks the children of two scans of one folder in name order, pairing those of the same name:
// `gone` for a child only the older scan has, `appeared` for one only the newer has, `matched`
// for a pair of the same kind. A child that changed between file and folder is gone and appeared.
template <typename Gone, typename Appeared, typename Matched>
void matchChildrenByName(const FileNode& older, const FileNode& newer, Gone gone, Appeared appeared,
                         Matched matched) {
    auto byName = [](const FileNode& folder) {
        std::vector<const FileNode*> children;
        children.reserve(folder.children.size());
        for (const FileNode& child : folder.children) {
            children.push_back(&child);
        }
        std::sort(children.begin(), children.end(), [](const FileNode* a, const FileNode* b) {
            return a->id.lastPathComponentView() < b->id.lastPathComponentView();
        });
        return children;
    };
    const std::vector<const FileNode*> before = byName(older);
    const std::vector<const FileNode*> after = byName(newer);
    size_t i = 0;
    size_t j = 0;
    while (i < before.size() || j < after.size()) {
        const FileNode* old = i < before.size() ? before[i] : nullptr;
        const FileNode* now = j < after.size() ? after[j] : nullptr;
        const std::string_view oldName = old ? old->id.lastPathComponentView() : std::string_view();
        const std::string_view newName = now ? now->id.lastPathComponentView() : std::string_view();
        if (now == nullptr || (old != nullptr && oldName < newName)) {
            gone(*old);
            ++i;
        } else if (old == nullptr || newName < oldName) {
            appeared(*now);
            ++j;
        } else {
            ++i;
            ++j;
            if (old->isDirectory != now->isDirectory) {
                gone(*old);
                appeared(*now);
            } else {
                matched(*old, *now);
            }
        }
    }
}

} // namespace varnok
