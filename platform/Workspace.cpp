#include "platform/Workspace.hpp"

#include "platform/RunningApplications.hpp"

namespace varnok {

std::vector<CleanupAppSession> CleanupAppSession::current() {
    std::vector<CleanupAppSession> sessions;
    for (RunningApplication& application : RunningApplications::current()) {
        if (!application.bundleIdentifier) {
            continue;
        }
        CleanupAppSession session;
        session.bundleID = *application.bundleIdentifier;
        session.name = application.localizedName.value_or(session.bundleID);
        session.isRegular = application.isRegular;
        auto terminate = std::move(application.terminate);
        auto isTerminated = std::move(application.isTerminated);
        session.requestQuit = [terminate] { return terminate && terminate(); };
        // A record that cannot tell is treated as still running: nothing is cleaned under it.
        session.hasTerminated = [isTerminated] { return isTerminated && isTerminated(); };
        sessions.push_back(std::move(session));
    }
    return sessions;
}

} // namespace varnok
