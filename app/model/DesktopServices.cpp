#include "app/model/DesktopServices.hpp"

namespace varnok {

bool SettingsDefaults::boolValue(const std::string&) {
    return false;
}
void SettingsDefaults::setBoolValue(const std::string&, bool) {}
void DesktopWorkspace::reveal(const Url&) {}
void DesktopWorkspace::open(const Url&) {}

} // namespace varnok
