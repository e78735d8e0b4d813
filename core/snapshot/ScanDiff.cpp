#include "core/snapshot/ScanDiff.hpp"

#include "core/common/Task.hpp"
#include "core/snapshot/MatchByName.hpp"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace varnok {
namespace {

class Comparison {
public:
    explicit Comparison(const DiffOptions& options) : options_(options) {}

    std::vector<ScanChange> run(const FileNode& older, const FileNode& newer) {
        pending_.push_back({&older, &newer, std::string(), 0});
        size_t visited = 0;
        while (!pending_.empty()) {
            if (++visited % 1024 == 0) {
                Task::checkCancellation();
            }
            Pair pair = std::move(pending_.back());
            pending_.pop_back();
            compareFolders(pair);
        }
        std::sort(changes_.begin(), changes_.end(), [](const ScanChange& a, const ScanChange& b) {
            const std::int64_t sizeA = std::llabs(a.change());
            const std::int64_t sizeB = std::llabs(b.change());
            if (sizeA != sizeB) {
                return sizeA > sizeB;
            }
            // A path that changed between file and folder is listed new, then gone.
            return a.path != b.path ? a.path < b.path : a.kind < b.kind;
        });
        return std::move(changes_);
    }

private:
    struct Pair {
        const FileNode* older;
        const FileNode* newer;
        std::string path;
        int depth;
    };

    bool deepEnough(int depth) const {
        return options_.maximumDepth <= 0 || depth <= options_.maximumDepth;
    }

    void note(ScanChange change) {
        if (!deepEnough(change.depth)) {
            return;
        }
        const std::int64_t size = std::llabs(change.change());
        const bool presence = change.kind == ScanChange::Kind::appeared ||
                              change.kind == ScanChange::Kind::disappeared;
        if ((size == 0 && !presence) || size < options_.minimumChange) {
            return;
        }
        changes_.push_back(std::move(change));
    }

    std::string childPath(const std::string& parent, std::string_view name) const {
        std::string path;
        path.reserve(parent.size() + name.size() + 1);
        path = parent;
        if (!path.empty()) {
            path += '/';
        }
        path += name;
        return path;
    }

    void gone(const FileNode& node, const std::string& parent, int depth) {
        ScanChange change;
        change.path = childPath(parent, node.id.lastPathComponentView());
        change.kind = ScanChange::Kind::disappeared;
        change.isDirectory = node.isDirectory;
        change.oldSize = node.allocatedSize;
        change.ownChange = -node.allocatedSize;
        change.depth = depth;
        note(std::move(change));
    }

    void appeared(const FileNode& node, const std::string& parent, int depth) {
        ScanChange change;
        change.path = childPath(parent, node.id.lastPathComponentView());
        change.kind = ScanChange::Kind::appeared;
        change.isDirectory = node.isDirectory;
        change.newSize = node.allocatedSize;
        change.ownChange = node.allocatedSize;
        change.depth = depth;
        note(std::move(change));
    }

    void compareFolders(const Pair& pair) {
        const int depth = pair.depth + 1;
        // The part of the folder's change that lies in folders below it.
        std::int64_t inFolders = 0;
        matchChildrenByName(
            *pair.older, *pair.newer,
            [&](const FileNode& old) {
                inFolders -= old.isDirectory ? old.allocatedSize : 0;
                gone(old, pair.path, depth);
            },
            [&](const FileNode& now) {
                inFolders += now.isDirectory ? now.allocatedSize : 0;
                appeared(now, pair.path, depth);
            },
            [&](const FileNode& old, const FileNode& now) {
                const std::string_view name = now.id.lastPathComponentView();
                if (!now.isDirectory) {
                    if (old.allocatedSize != now.allocatedSize) {
                        ScanChange change;
                        change.path = childPath(pair.path, name);
                        change.oldSize = old.allocatedSize;
                        change.newSize = now.allocatedSize;
                        change.kind =
                            change.change() > 0 ? ScanChange::Kind::grew : ScanChange::Kind::shrank;
                        change.ownChange = change.change();
                        change.depth = depth;
                        note(std::move(change));
                    }
                    return;
                }
                inFolders += now.allocatedSize - old.allocatedSize;
                if (deepEnough(depth)) {
                    pending_.push_back({&old, &now, childPath(pair.path, name), depth});
                }
            });
        if (pair.depth > 0) {
            ScanChange change;
            change.path = pair.path;
            change.isDirectory = true;
            change.oldSize = pair.older->allocatedSize;
            change.newSize = pair.newer->allocatedSize;
            change.kind = change.change() >= 0 ? ScanChange::Kind::grew : ScanChange::Kind::shrank;
            change.ownChange = change.change() - inFolders;
            change.depth = pair.depth;
            note(std::move(change));
        }
    }

    const DiffOptions& options_;
    std::vector<Pair> pending_;
    std::vector<ScanChange> changes_;
};

} // namespace

ScanDiff ScanDiff::compare(const FileNode& older, const FileNode& newer,
                           const DiffOptions& options) {
    ScanDiff diff;
    diff.oldTotal = older.allocatedSize;
    diff.newTotal = newer.allocatedSize;
    diff.changes = Comparison(options).run(older, newer);
    return diff;
}

const char* textValue(ScanChange::Kind kind) {
    switch (kind) {
    case ScanChange::Kind::appeared:
        return "new";
    case ScanChange::Kind::disappeared:
        return "gone";
    case ScanChange::Kind::grew:
        return "grew";
    case ScanChange::Kind::shrank:
        return "shrank";
    }
    return "";
}

} // namespace varnok
