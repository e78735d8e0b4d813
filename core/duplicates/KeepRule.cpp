#include "core/duplicates/KeepRule.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>

namespace varnok {

namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool endsWith(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() &&
           sameLetters(text.substr(text.size() - ending.size()), ending);
}

bool startsWith(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && sameLetters(text.substr(0, start.size()), start);
}

// " (1)" to " (99)" at the end of a name's stem.
bool endsWithNumberInBrackets(std::string_view stem) {
    if (stem.size() < 4 || stem.back() != ')') {
        return false;
    }
    const std::size_t open = stem.rfind(" (");
    if (open == std::string_view::npos) {
        return false;
    }
    const std::string_view digits = stem.substr(open + 2, stem.size() - open - 3);
    if (digits.empty() || digits.size() > 2 || digits.front() == '0' ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        return false;
    }
    return true;
}

// Nanoseconds since the epoch; a file without an identity counts as the newest, so that a copy
// of known age is preferred.
std::int64_t modified(const FileNode& file) {
    if (!file.identity) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return file.identity->modifiedSeconds * 1000000000 + file.identity->modifiedNanoseconds;
}

} // namespace

std::string_view rawValue(KeepRule rule) {
    switch (rule) {
    case KeepRule::original:
        return "original";
    case KeepRule::first:
        return "first";
    case KeepRule::oldest:
        return "oldest";
    case KeepRule::newest:
        return "newest";
    case KeepRule::shortestPath:
        return "shortest-path";
    }
    return "original";
}

std::optional<KeepRule> keepRuleFromRawValue(std::string_view text) {
    for (KeepRule rule : {KeepRule::original, KeepRule::first, KeepRule::oldest, KeepRule::newest,
                          KeepRule::shortestPath}) {
        if (rawValue(rule) == text) {
            return rule;
        }
    }
    return std::nullopt;
}

bool DuplicateKeeper::isMarkedCopy(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    if (name.back() == '~' || endsWith(name, ".bak") || startsWith(name, "Copy of ")) {
        return true;
    }
    // The stem: the name without its last extension; a leading dot starts no extension.
    const std::size_t dot = name.rfind('.');
    const std::string_view stem =
        dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
    return endsWith(stem, " copy") || endsWith(stem, " (copy)") || endsWith(stem, " - Copy") ||
           endsWithNumberInBrackets(stem);
}

std::size_t DuplicateKeeper::original(const DuplicateGroup& group,
                                      const std::vector<std::size_t>& among) {
    auto rank = [&](std::size_t i) {
        const FileNode& file = group.files[i];
        return std::make_tuple(isMarkedCopy(file.id.lastPathComponent()), modified(file),
                               file.id.path().size(), i);
    };
    return *std::min_element(among.begin(), among.end(),
                             [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });
}

std::size_t DuplicateKeeper::choose(const DuplicateGroup& group, KeepRule rule) {
    std::vector<std::size_t> all(group.files.size());
    std::iota(all.begin(), all.end(), std::size_t{0});
    auto best = [&](auto&& key) {
        return *std::min_element(all.begin(), all.end(), [&](std::size_t a, std::size_t b) {
            return std::make_pair(key(a), a) < std::make_pair(key(b), b);
        });
    };
    switch (rule) {
    case KeepRule::original:
        return original(group, all);
    case KeepRule::first:
        return 0;
    case KeepRule::oldest:
        return best([&](std::size_t i) { return modified(group.files[i]); });
    case KeepRule::newest:
        // A file without an identity has no known age: it never wins as the newest.
        return best([&](std::size_t i) {
            const std::int64_t time = modified(group.files[i]);
            return time == std::numeric_limits<std::int64_t>::max()
                       ? std::numeric_limits<std::int64_t>::max()
                       : -time;
        });
    case KeepRule::shortestPath:
        return best([&](std::size_t i) { return group.files[i].id.path().size(); });
    }
    return 0;
}

} // namespace varnok
