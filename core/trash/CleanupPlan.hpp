#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/common/Date.hpp"
#include "core/common/Url.hpp"
#include "core/trash/Uuid.hpp"

#include <cstdint>
#include <vector>

namespace varnok {

// A reviewed selection, ready to be moved to Trash for a limited time after `createdAt`.
struct CleanupPlan {
    Uuid id;
    Date createdAt;
    // Exactly the candidates passed to preparation, in their order.
    std::vector<CleanupCandidate> items;
    // As passed in, not standardised.
    Url scanRoot;

    std::int64_t totalSize() const {
        std::int64_t total = 0;
        for (const auto& item : items) {
            total += item.node.logicalSize;
        }
        return total;
    }
};

} // namespace varnok
