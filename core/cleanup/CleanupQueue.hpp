#pragma once

#include "core/cleanup/CleanupCandidate.hpp"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
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
    // inside it and goes to the end. Costs O(log N) for an item that replaces nothing.
    void add(const CleanupCandidate& candidate);
    // Removes every item whose URL equals `url` exactly, without standardising.
    void remove(const Url& url);
    void clear();

private:
    // `PathText::foldersFirst`: the queued folder enclosing a path, if any, is its nearest
    // predecessor.
    struct FoldersFirst {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };

    // Drops the items whose index `drop` accepts, keeping the others in order.
    template <typename Drop> void dropWhere(Drop drop);

    std::vector<CleanupCandidate> items_;
    // The standardized path of each item, in the order of `items_`.
    std::vector<std::string> paths_;
    std::set<std::string, FoldersFirst> queued_;
};

} // namespace varnok
