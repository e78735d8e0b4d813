#include "core/cleanup/CleanupCategory.hpp"

namespace varnok {
namespace {

struct CategoryText {
    std::string_view rawValue;
    std::string_view explanation;
    std::string_view symbol;
};

constexpr std::string_view cacheExplanation =
    "Temporary cache files only. Close the related app first. Cached content may need to "
    "download or rebuild again.";

// Indexed by the case.
constexpr std::array<CategoryText, 9> texts = {{
    {"App caches", cacheExplanation, "square.stack"},
    {"Browser caches",
     "Cached browser content only. Close the browser first. Pages may load more slowly "
     "initially; cookies, passwords and browsing history are not selected.",
     "globe"},
    {"Old logs & crash reports",
     "Log or crash report last modified over 30 days ago. It may still be useful for "
     "troubleshooting; review before removing.",
     "doc.text"},
    {"AI app caches", cacheExplanation, "sparkles"},
    {"Chat app caches", cacheExplanation, "bubble.left.and.bubble.right"},
    {"Xcode build files",
     "Close Xcode and stop builds first. Review any custom files stored here; only generated "
     "output can be recreated.",
     "square.stack"},
    {"Project dependencies",
     "Review local edits and custom files first. Reinstalling dependencies may require network "
     "access and will not restore your edits.",
     "square.stack"},
    {"Build caches",
     "Stop the development server first. Review custom files here; the next build recreates "
     "generated output only.",
     "square.stack"},
    {"Duplicate files",
     "An identical copy will be kept at the path shown. Make sure you are keeping the copy you "
     "need.",
     "square.stack"},
}};

} // namespace

std::optional<CleanupCategory> CleanupCategory::fromRawValue(std::string_view rawValue) {
    for (CleanupCategory category : allCases()) {
        if (category.rawValue() == rawValue) {
            return category;
        }
    }
    return std::nullopt;
}

const std::array<CleanupCategory, 9>& CleanupCategory::allCases() {
    static const std::array<CleanupCategory, 9> cases = {
        appCaches, browserCaches, oldLogs, aiCaches,   communicationCaches,
        xcode,     dependencies,  builds,  duplicates,
    };
    return cases;
}

std::string_view CleanupCategory::rawValue() const {
    return texts[value_].rawValue;
}

std::string_view CleanupCategory::explanation() const {
    return texts[value_].explanation;
}

std::string_view CleanupCategory::symbol() const {
    return texts[value_].symbol;
}

} // namespace varnok
