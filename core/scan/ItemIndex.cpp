#include "core/scan/ItemIndex.hpp"

#include "core/common/Task.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <utf8proc.h>
#include <vector>

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

constexpr auto foldOptions =
    static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD);

// Folds into `out` without allocating in the common case: ASCII is lower-cased directly, other
// text goes through a code point buffer kept between calls.
void foldInto(std::string_view text, std::string& out) {
    if (isAscii(text)) {
        asciiLowerInto(text, out);
        return;
    }
    thread_local std::vector<utf8proc_int32_t> buffer;
    auto data = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto size = static_cast<utf8proc_ssize_t>(text.size());
    if (buffer.size() < text.size() + 1) {
        buffer.resize(text.size() + 1);
    }
    utf8proc_ssize_t count = 0;
    for (;;) {
        count = utf8proc_decompose(data, size, buffer.data(),
                                   static_cast<utf8proc_ssize_t>(buffer.size()) - 1, foldOptions);
        if (count < 0 || static_cast<size_t>(count) < buffer.size()) {
            break;
        }
        buffer.resize(static_cast<size_t>(count) + 1);
    }
    utf8proc_ssize_t length =
        count < 0 ? count : utf8proc_reencode(buffer.data(), count, foldOptions);
    if (length < 0) {
        asciiLowerInto(text, out); // not UTF-8: fold what can be folded
        return;
    }
    out.assign(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(length));
}

// The search over full paths, done a component at a time: folding is per code point and "/"
// never composes, so a path folds to its parent's folded path, "/", and its folded name. Once a
// folder's path contains the text, everything below it does; otherwise a match must end in the
// name, so only the parent path's last few bytes are needed.
class PathSearch {
public:
    explicit PathSearch(std::string_view search) : needle_(ItemIndex::foldedForSearch(search)) {}

    struct Folder {
        bool matched = false;
        // The last needle-length − 1 bytes of the folded path.
        std::string tail;
    };

    Folder root(const FileNode& node) const {
        std::string path = node.id.path();
        std::string folded;
        foldInto(path == "/" ? std::string_view() : std::string_view(path), folded);
        return Folder{folded.find(needle_) != std::string::npos, tailOf(folded)};
    }

    // Whether `node`, a child of `parent`, matches; fills `child` for a folder to descend into.
    bool matches(const FileNode& node, const Folder& parent, Folder* child) {
        if (parent.matched) {
            if (child != nullptr) {
                child->matched = true;
            }
            return true;
        }
        foldInto(node.id.lastPathComponentView(), name_);
        probe_.assign(parent.tail);
        probe_ += '/';
        probe_ += name_;
        bool found = probe_.find(needle_) != std::string::npos;
        if (child != nullptr) {
            child->matched = found;
            child->tail = tailOf(probe_);
        }
        return found;
    }

private:
    std::string tailOf(const std::string& folded) const {
        size_t keep = needle_.empty() ? 0 : needle_.size() - 1;
        return folded.size() <= keep ? folded : folded.substr(folded.size() - keep);
    }

    std::string needle_;
    std::string name_;
    std::string probe_;
};

struct SortEntry {
    const FileNode* node;
    // Index of the folder the node was found in.
    size_t parent;
    std::int64_t key;
    std::string_view extension;
    // Place in the order of full paths, among the items whose key ties with another's.
    size_t rank = 0;
};

// An item of a folder in the walk in path order: an entry of the folder, or everything below one
// of its subfolders. Ordered by the name, with "/" after it for what is below, the items come in
// the order of their full paths: those share the folder's path and "/", and no name holds a "/".
// So "a" comes before "a-b", which comes before what is below "a", which comes before "a0".
struct WalkItem {
    std::string_view name;
    size_t index; // of the entry, or of the folder below
    bool below;
};

bool walksBefore(const WalkItem& a, const WalkItem& b) {
    const size_t common = std::min(a.name.size(), b.name.size());
    if (const int order = a.name.substr(0, common).compare(b.name.substr(0, common)); order != 0) {
        return order < 0;
    }
    // The character after the common part: -1 where the text ends.
    auto next = [common](const WalkItem& item) {
        if (item.name.size() > common) {
            return static_cast<int>(static_cast<unsigned char>(item.name[common]));
        }
        return item.below ? int{'/'} : -1;
    };
    return next(a) < next(b);
}

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

// Gives each tied entry its place in the order of full paths, without forming a path: a walk
// through the folders that hold tied entries, each folder's items in name order.
void rankByPath(std::vector<SortEntry>& entries, const std::vector<std::pair<size_t, size_t>>& runs,
                const std::vector<const FileNode*>& folderNodes,
                const std::vector<size_t>& folderParents) {
    // Each folder's items side by side: its tied entries and the folders leading to others,
    // grouped by counting first.
    std::vector<size_t> first(folderNodes.size() + 1, 0);
    std::vector<bool> needed(folderNodes.size(), false);
    for (const auto& [run, end] : runs) {
        for (size_t index = run; index < end; ++index) {
            ++first[entries[index].parent + 1];
            for (size_t folder = entries[index].parent; folder != 0 && !needed[folder];) {
                needed[folder] = true;
                folder = folderParents[folder];
                ++first[folder + 1];
            }
        }
    }
    for (size_t folder = 0; folder < folderNodes.size(); ++folder) {
        first[folder + 1] += first[folder];
    }
    std::vector<WalkItem> items(first.back());
    std::vector<size_t> fill(first.begin(), first.end() - 1);
    for (const auto& [run, end] : runs) {
        for (size_t index = run; index < end; ++index) {
            const SortEntry& entry = entries[index];
            items[fill[entry.parent]++] = {entry.node->id.lastPathComponentView(), index, false};
        }
    }
    for (size_t folder = 1; folder < folderNodes.size(); ++folder) {
        if (needed[folder]) {
            items[fill[folderParents[folder]]++] = {folderNodes[folder]->id.lastPathComponentView(),
                                                    folder, true};
        }
    }

    struct Level {
        size_t next;
        size_t end;
    };
    std::vector<Level> levels;
    auto enter = [&](size_t folder) {
        std::sort(items.begin() + static_cast<std::ptrdiff_t>(first[folder]),
                  items.begin() + static_cast<std::ptrdiff_t>(first[folder + 1]), walksBefore);
        levels.push_back({first[folder], first[folder + 1]});
    };
    size_t rank = 0;
    enter(0);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.end) {
            levels.pop_back();
            continue;
        }
        const WalkItem& item = items[level.next++];
        Task::checkCancellation();
        if (item.below) {
            enter(item.index);
        } else {
            entries[item.index].rank = rank++;
        }
    }
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
    const bool searching = !search.empty();
    PathSearch pathSearch(search);
    // The folders whose children wait on the stack, for the search; index 0 is `folder`.
    std::vector<PathSearch::Folder> folders;
    folders.push_back(searching ? pathSearch.root(folder) : PathSearch::Folder{});
    struct Pending {
        const FileNode* node;
        size_t parent;
    };
    // The folders of `folders` themselves, and the index of each one's parent, for the order of
    // paths among tied items.
    std::vector<const FileNode*> folderNodes{&folder};
    std::vector<size_t> folderParents{0};
    std::vector<Pending> matches;
    std::vector<Pending> stack;
    for (const FileNode& child : folder.children) {
        stack.push_back(Pending{&child, 0});
    }
    while (!stack.empty()) {
        Pending current = stack.back();
        stack.pop_back();
        const FileNode* node = current.node;
        Task::checkCancellation();
        bool descends = scope == ItemScope::descendants && !node->children.empty();
        bool found = true;
        if (searching) {
            PathSearch::Folder below;
            found = pathSearch.matches(*node, folders[current.parent], descends ? &below : nullptr);
            if (descends) {
                folders.push_back(std::move(below));
            }
        } else if (descends) {
            folders.emplace_back();
        }
        if (descends) {
            folderNodes.push_back(node);
            folderParents.push_back(current.parent);
            for (const FileNode& child : node->children) {
                stack.push_back(Pending{&child, folders.size() - 1});
            }
        }
        // A file with several hard links is listed once, at the path where its blocks count.
        if (node->isSymbolicLink || node->isRepeatedLink || !found) {
            continue;
        }
        if (kind && !itemKindMatches(*kind, *node)) {
            continue;
        }
        matches.push_back(current);
    }

    Task::checkCancellation();
    std::vector<SortEntry> entries;
    entries.reserve(matches.size());
    for (const Pending& match : matches) {
        const FileNode& node = *match.node;
        entries.push_back(
            SortEntry{&node, match.parent, sortKey(node, sort),
                      sort == ItemSort::type ? fileExtension(node) : std::string_view()});
    }
    std::uint64_t comparisons = 0;
    auto counted = [&comparisons] {
        if (++comparisons % 1024 == 0) {
            Task::checkCancellation();
        }
    };
    // By key first, then each run of equal keys by path. Paths are unique, so the order is total
    // and neither sort needs to be stable.
    std::sort(entries.begin(), entries.end(), [&](const SortEntry& a, const SortEntry& b) {
        counted();
        return keyOrder(a, b, sort).value_or(false);
    });
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t run = 0; run < entries.size();) {
        size_t end = run + 1;
        while (end < entries.size() && !keyOrder(entries[run], entries[end], sort)) {
            ++end;
        }
        if (end - run > 1) {
            runs.emplace_back(run, end);
        }
        run = end;
    }
    if (!runs.empty()) {
        Task::checkCancellation();
        rankByPath(entries, runs, folderNodes, folderParents);
        for (const auto& [run, end] : runs) {
            std::sort(entries.begin() + static_cast<std::ptrdiff_t>(run),
                      entries.begin() + static_cast<std::ptrdiff_t>(end),
                      [&](const SortEntry& a, const SortEntry& b) {
                          counted();
                          return a.rank < b.rank;
                      });
        }
    }
    Task::checkCancellation();

    std::vector<const FileNode*> result;
    result.reserve(entries.size());
    for (const SortEntry& entry : entries) {
        result.push_back(entry.node);
    }
    return result;
}

} // namespace varnok
