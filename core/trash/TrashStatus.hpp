#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnok {

// Where one item of a cleanup stands. Stored in history files by name.
enum class TrashStatus {
    notAttempted,
    moving,
    moved,
    failed,
    restoring,
    restored,
};

std::string_view storedText(TrashStatus status);
// Exactly one of the six stored names; nothing otherwise.
std::optional<TrashStatus> trashStatusFromStoredText(std::string_view text);

} // namespace varnok
