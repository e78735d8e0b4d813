#pragma once

#include "platform/Workspace.hpp"

#include <functional>
#include <memory>

class QObject;

namespace varnok {

// The per-user defaults in QSettings: $XDG_CONFIG_HOME/Ombrelo/Ombrelo.conf.
class SettingsDefaults : public UserDefaults {
public:
    bool boolValue(const std::string& key) override;
    void setBoolValue(const std::string& key, bool value) override;
};

// Reveal asks the file manager over D-Bus (org.freedesktop.FileManager1.ShowItems on the session
// bus) without waiting for it; when no file manager answers, the parent folder is opened instead.
// Linux has no settings page for file access, so there is no address to open.
class DesktopWorkspace : public Workspace {
public:
    using Opener = std::function<void(const Url&)>;

    // `opener` opens a URL with the desktop's default application; xdg-open when empty.
    explicit DesktopWorkspace(Opener opener = {});
    ~DesktopWorkspace() override;

    // Must be called on a thread with an event loop (the GUI thread).
    void reveal(const Url& url) override;
    std::optional<Url> accessSettingsAddress() override { return std::nullopt; }
    void open(const Url& url) override;

private:
    Opener opener_;
    // Parent of the pending calls' watchers, so that none outlives this object.
    std::unique_ptr<QObject> calls_;
};

} // namespace varnok
