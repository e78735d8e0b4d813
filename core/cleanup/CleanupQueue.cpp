#include "core/cleanup/CleanupQueue.hpp"

#include <algorithm>

namespace varnok {

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
    const std::string path = candidate.node.id.standardized().path();
    std::vector<std::string> queuedPaths;
    queuedPaths.reserve(items_.size());
    for (const CleanupCandidate& item : items_) {
        std::string queued = item.node.id.standardized().path();
        if (PathText::equal(queued, path) || PathText::isInside(path, queued)) {
            return;
        }
        queuedPaths.push_back(std::move(queued));
    }
    std::vector<CleanupCandidate> kept;
    kept.reserve(items_.size() + 1);
    for (size_t i = 0; i < items_.size(); ++i) {
        if (!PathText::isInside(queuedPaths[i], path)) {
            kept.push_back(std::move(items_[i]));
        }
    }
    items_ = std::move(kept);
    items_.push_back(candidate);
}

void CleanupQueue::remove(const Url& url) {
    std::erase_if(items_, [&](const CleanupCandidate& item) { return item.node.id == url; });
}

} // namespace varnok
