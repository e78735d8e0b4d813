#pragma once

#include "core/trash/TrashOutcome.hpp"

#include <functional>
#include <string>

namespace varnok {

// Tells whether a Trash URL lies inside a Trash; may throw when that cannot be found out.
using TrashLocationCheck = std::function<bool(const Url&)>;

// Whether one moved item can be put back now, and why not. Valid only at the moment it was asked.
struct RecoveryAvailability {
    enum class State {
        available,
        alreadyRestored,
        originalOccupied,
        unavailable,
        changed,
        interrupted,
        notMoved,
    };

    State state = State::unavailable;
    // The saved Trash item was verified, so showing it in the Trash makes sense.
    bool canRevealInTrash = false;
    std::string message;

    bool canRestore() const { return state == State::available; }

    // Reads the file system without changing anything; never throws. An empty check means the
    // platform's own Trash test.
    static RecoveryAvailability inspect(const TrashOutcome& outcome,
                                        const TrashLocationCheck& trashLocationCheck = {});

    friend bool operator==(const RecoveryAvailability&, const RecoveryAvailability&) = default;
};

std::string_view storedText(RecoveryAvailability::State state);

} // namespace varnok
