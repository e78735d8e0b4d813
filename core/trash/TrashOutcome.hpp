#pragma once

#include "core/common/Date.hpp"
#include "core/common/Url.hpp"
#include "core/scan/FileIdentity.hpp"
#include "core/trash/TrashStatus.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace varnok {

// One item of a cleanup run, identified by where it was when it was selected.
struct TrashOutcome {
    Url originalURL;
    std::int64_t logicalSize = 0;
    TrashStatus status = TrashStatus::notAttempted;
    // Where the mover said the item went.
    std::optional<Url> trashURL;
    std::optional<std::string> message;
    // The object found at `trashURL` right after the move; only when the move was verified.
    std::optional<FileIdentity> trashIdentity;
    std::optional<Date> restoredAt;
    // The parent folder just before the move, to prove at restore time it is still the same one.
    std::optional<FileIdentity> originalParentIdentity;

    const Url& id() const { return originalURL; }
};

} // namespace varnok
