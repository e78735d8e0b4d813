#include "core/scan/ItemIndex.hpp"

#include "core/common/Task.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <utf8proc.h>

namespace varnok {

namespace {

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

void asciiLowerInto(std::string_view text, std::string& out) {
    out.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

// Folds into `out`, reusing its storage: most paths are ASCII and need no allocation.
void foldInto(std::string_view text, std::string& out) {
    if (isAscii(text)) {
        asciiLowerInto(text, out);
        return;
    }
    utf8proc_uint8_t* folded = nullptr;
    auto length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
        static_cast<utf8proc_ssize_t>(text.size()), &folded,
        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
    if (length < 0) {
        asciiLowerInto(text, out);
        return;
    }
    out.assign(reinterpret_cast<const char*>(folded), static_cast<size_t>(length));
    std::free(folded);
}

struct SortEntry {
    const FileNode* node;
    std::int64_t key;
    std::string_view extension;
    std::string path;
};

std::int64_t sortKey(const FileNode& node, ItemSort sort) {
    switch (sort) {
    case ItemSort::largest:
        return node.logicalSize;
    case ItemSort::oldest:
        return node.identity ? node.identity->modifiedSeconds
                             : std::numeric_limits<std::int64_t>::max();
    case ItemSort::newest:
        return node.identity ? node.identity->modifiedSeconds
                             : std::numeric_limits<std::int64_t>::min();
    case ItemSort::type:
        return 0;
    }
    return 0;
}

// Whether `a` goes before `b` on the chosen key alone; nullopt when they are equal on it.
std::optional<bool> keyOrder(const SortEntry& a, const SortEntry& b, ItemSort sort) {
    switch (sort) {
    case ItemSort::largest:
    case ItemSort::newest:
        if (a.key != b.key) {
            return a.key > b.key;
        }
        return std::nullopt;
    case ItemSort::oldest:
        if (a.key != b.key) {
            return a.key < b.key;
        }
        return std::nullopt;
    case ItemSort::type:
        if (a.extension != b.extension) {
            return a.extension < b.extension;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::string ItemIndex::foldedForSearch(std::string_view text) {
    std::string out;
    foldInto(text, out);
    return out;
}

std::vector<const FileNode*> ItemIndex::find(const FileNode& folder, std::optional<ItemKind> kind,
                                             ItemSort sort, std::string_view search,
                                             ItemScope scope) {
    const std::string needle = foldedForSearch(search);
    std::string haystack;
    std::vector<const FileNode*> matches;
    std::vector<const FileNode*> stack;
    for (const FileNode& child : folder.children) {
        stack.push_back(&child);
    }
    while (!stack.empty()) {
        const FileNode* node = stack.back();
        stack.pop_back();
        Task::checkCancellation();
        if (scope == ItemScope::descendants) {
            for (const FileNode& child : node->children) {
                stack.push_back(&child);
            }
        }
        if (node->isSymbolicLink) {
            continue;
        }
        // The kind test is the cheaper one, so it runs first; a node must pass both anyway.
        if (kind && !itemKindMatches(*kind, *node)) {
            continue;
        }
        if (!search.empty()) {
            foldInto(node->id.path(), haystack);
            if (haystack.find(needle) == std::string::npos) {
                continue;
            }
        }
        matches.push_back(node);
    }

    Task::checkCancellation();
    std::vector<SortEntry> entries;
    entries.reserve(matches.size());
    for (const FileNode* node : matches) {
        entries.push_back(SortEntry{
            node, sortKey(*node, sort),
            sort == ItemSort::type ? fileExtension(*node) : std::string_view(), node->id.path()});
    }
    std::uint64_t comparisons = 0;
    std::stable_sort(entries.begin(), entries.end(), [&](const SortEntry& a, const SortEntry& b) {
        if (++comparisons % 1024 == 0) {
            Task::checkCancellation();
        }
        if (auto order = keyOrder(a, b, sort)) {
            return *order;
        }
        return a.path < b.path;
    });
    Task::checkCancellation();

    std::vector<const FileNode*> result;
    result.reserve(entries.size());
    for (const SortEntry& entry : entries) {
        result.push_back(entry.node);
    }
    return result;
}

} // namespace varnok
