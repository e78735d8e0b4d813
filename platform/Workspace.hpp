#pragma once

#include "core/common/Url.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varnok {

// One running application as the cleanup flow sees it. Copies share the process they describe.
struct CleanupAppSession {
    std::string bundleID;
    // The display name, or the bundle identifier when the application has none.
    std::string name;
    // An ordinary application with a window; background agents and helper processes are not.
    bool isRegular = false;
    // Politely asks the application to quit (never a forced kill); true when the request was
    // delivered.
    std::function<bool()> requestQuit;
    // Whether the application has quit by now.
    std::function<bool()> hasTerminated;

    // The running applications in the platform's order, without those that have no identifier.
    static std::vector<CleanupAppSession> current();
};

// The per-user defaults: one boolean so far. Absent means false.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    virtual bool boolValue(const std::string& key) = 0;
    virtual void setBoolValue(const std::string& key, bool value) = 0;
};

// The desktop services the application asks for. Both are fire and forget: they return at once
// and report nothing back.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Shows the item selected in the file manager, or at least opens its folder.
    virtual void reveal(const Url& url) = 0;
    // The settings page where the user grants the application access to more folders; none when
    // the desktop has no such page (Linux has none).
    virtual std::optional<Url> accessSettingsAddress() = 0;
    virtual void open(const Url& url) = 0;
};

} // namespace varnok
