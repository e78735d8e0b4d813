#pragma once

#include "platform/Workspace.hpp"

namespace varnok {

// The per-user defaults in QSettings: $XDG_CONFIG_HOME/Ombrelo/Ombrelo.conf.
class SettingsDefaults : public UserDefaults {
public:
    bool boolValue(const std::string& key) override;
    void setBoolValue(const std::string& key, bool value) override;
};

// Reveal through the file manager's D-Bus interface on the session bus, falling back to opening
// the parent folder with the desktop's URL opener. No access settings page on Linux.
class DesktopWorkspace : public Workspace {
public:
    void reveal(const Url& url) override;
    std::optional<Url> accessSettingsAddress() override { return std::nullopt; }
    void open(const Url& url) override;
};

} // namespace varnok
