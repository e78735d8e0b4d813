#pragma once

#include "core/cleanup/CleanupCandidate.hpp"

#include <cstdint>
#include <vector>

namespace varnok {

// The user's selection of candidates, in the order they were added. `add` keeps it free of links,
// of items with read errors, of repeats and of items lying inside other queued items.
class CleanupQueue {
public:
    CleanupQueue() = default;

    const std::vector<CleanupCandidate>& items() const { return items_; }
    // Sum of the items' logical sizes.
    std::int64_t totalSize() const;

    // Silently ignores a link, an item with read errors, an item already queued (after
    // standardising) and an item inside a queued folder. A folder replaces the queued items
    // inside it and goes to the end.
    void add(const CleanupCandidate& candidate);
    // Removes every item whose URL equals `url` exactly, without standardising.
    void remove(const Url& url);
    void clear() { items_.clear(); }

private:
    std::vector<CleanupCandidate> items_;
};

} // namespace varnok
