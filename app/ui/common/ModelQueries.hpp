#pragma once

#include "app/model/AppModel.hpp"

#include <cstdint>
#include <unordered_set>
#include <vector>

namespace ombrelo::ui {

// Small read-only views of the model's state shared by the screens.

// The open applications holding the item, empty when none.
inline const QStringList& runningOwners(const varnok::AppModel& model, const varnok::Url& url) {
    static const QStringList none;
    const auto& running = model.cleanup().cleanRunning();
    auto found = running.find(url);
    return found == running.end() ? none : found->second;
}

inline std::unordered_set<varnok::Url> queuedURLs(const varnok::AppModel& model) {
    std::unordered_set<varnok::Url> urls;
    for (const auto& item : model.cleanup().queue().items()) {
        urls.insert(item.id());
    }
    return urls;
}

// Total size of the suggestions no open application holds.
inline std::int64_t readySize(const varnok::AppModel& model) {
    std::int64_t total = 0;
    for (const auto& candidate : model.cleanup().candidates()) {
        if (runningOwners(model, candidate.id()).empty()) {
            total += candidate.node.logicalSize;
        }
    }
    return total;
}

} // namespace ombrelo::ui
