#include "core/cleanup/CleanupQueue.hpp"

#include <algorithm>
#include <unordered_set>

namespace varnok {

bool CleanupQueue::FoldersFirst::operator()(std::string_view a, std::string_view b) const {
    return PathText::foldersFirst(a, b);
}

std::int64_t CleanupQueue::totalSize() const {
    std::int64_t total = 0;
    for (const CleanupCandidate& item : items_) {
        total += item.node.logicalSize;
    }
    return total;
}

void CleanupQueue::add(const CleanupCandidate& candidate) {
    if (candidate.node.isSymbolicLink || candidate.node.hasReadErrors) {
        return;
    }
    std::string path = candidate.node.id.standardized().path();
    auto after = queued_.lower_bound(path);
    if (after != queued_.end() && PathText::equal(*after, path)) {
        return;
    }
    // No queued item lies inside another, so an enclosing folder sorts right before the path.
    if (after != queued_.begin() && PathText::isInside(path, *std::prev(after))) {
        return;
    }
    std::unordered_set<std::string_view> inside;
    auto end = after;
    while (end != queued_.end() && PathText::isInside(*end, path)) {
        inside.insert(*end);
        ++end;
    }
    if (!inside.empty()) {
        dropWhere([&](size_t i) { return inside.count(paths_[i]) != 0; });
        queued_.erase(after, end);
    }
    queued_.insert(path);
    items_.push_back(candidate);
    paths_.push_back(std::move(path));
}

void CleanupQueue::remove(const Url& url) {
    dropWhere([&](size_t i) {
        if (items_[i].node.id != url) {
            return false;
        }
        queued_.erase(paths_[i]);
        return true;
    });
}

template <typename Drop> void CleanupQueue::dropWhere(Drop drop) {
    // One pass that keeps the order of the items and of their paths in step.
    size_t kept = 0;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (drop(i)) {
            continue;
        }
        if (kept != i) {
            items_[kept] = std::move(items_[i]);
            paths_[kept] = std::move(paths_[i]);
        }
        ++kept;
    }
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(kept), items_.end());
    paths_.erase(paths_.begin() + static_cast<std::ptrdiff_t>(kept), paths_.end());
}

void CleanupQueue::clear() {
    items_.clear();
    paths_.clear();
    queued_.clear();
}

} // namespace varnok
