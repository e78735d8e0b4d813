#pragma once

#include "core/duplicates/DuplicateEngine.hpp"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace varnok {

// How the copy to keep of a set of duplicates is chosen.
enum class KeepRule {
    // The copy a person would keep: a name without a copy marker, then the oldest modification
    // time, then the shortest path, then path order.
    original,
    // The first by path.
    first,
    // The oldest or newest modification time; ties go to the first by path.
    oldest,
    newest,
    // The shortest path text; ties go to the first by path.
    shortestPath,
};

// "original", "first", "oldest", "newest" and "shortest-path".
std::string_view rawValue(KeepRule rule);
std::optional<KeepRule> keepRuleFromRawValue(std::string_view text);

class DuplicateKeeper {
public:
    // Whether a file name says it is a copy of another: " copy", " (copy)", " (1)" to " (99)" or
    // " - Copy" before the extension, "Copy of " in front, a "~" or ".bak" ending. Letters are
    // compared without case.
    static bool isMarkedCopy(std::string_view fileName);

    // The index in `group.files` of the copy `rule` keeps.
    static std::size_t choose(const DuplicateGroup& group, KeepRule rule);
    // The index the `original` rule keeps among the indexes `among` (not empty), which lets a
    // caller narrow the copies first.
    static std::size_t original(const DuplicateGroup& group, const std::vector<std::size_t>& among);
};

} // namespace varnok
