#include "core/snapshot/TreeChanges.hpp"

#include "core/common/Task.hpp"
#include "core/snapshot/MatchByName.hpp"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace varnok {

std::int64_t sizeIn(const FileNode& node, SizeMeasure measure) {
    return measure == SizeMeasure::onDisk ? node.allocatedSize : node.logicalSize;
}

namespace {

constexpr std::array<SizeMeasure, 2> measures{SizeMeasure::onDisk, SizeMeasure::apparent};

} // namespace

// Walks matched folders with a heap stack, each folder finished after everything below it, so
// that a folder's totals are the sums of its children's.
class TreeComparer {
public:
    explicit TreeComparer(TreeChanges& table) : table_(table) {}

    void run(const FileNode& older, const FileNode& newer) {
        frames_.push_back({&older, &newer, npos, false, {}, {}, {}});
        size_t visited = 0;
        while (!frames_.empty()) {
            if (++visited % 1024 == 0) {
                Task::checkCancellation();
            }
            const size_t top = frames_.size() - 1;
            if (!frames_[top].expanded) {
                frames_[top].expanded = true;
                expand(top);
            } else {
                finish(top);
                frames_.pop_back();
            }
        }
    }

private:
    static constexpr size_t npos = static_cast<size_t>(-1);

    static bool byNodeName(const TreeChanges::Entry& a, const TreeChanges::Entry& b) {
        return a.node.lastPathComponentView() < b.node.lastPathComponentView();
    }

    struct Frame {
        const FileNode* older;
        const FileNode* newer;
        size_t parent;
        bool expanded = false;
        std::array<ChangeTotals, 2> totals{};
        // The part of the folder's change that its children account for.
        std::array<std::int64_t, 2> childChange{};
        std::vector<TreeChanges::Entry> changed;
    };

    void appeared(Frame& frame, const FileNode& node) {
        for (size_t m = 0; m < 2; ++m) {
            frame.totals[m].appeared += sizeIn(node, measures[m]);
            frame.childChange[m] += sizeIn(node, measures[m]);
        }
        frame.changed.push_back({node.id, true, {}});
        // Every new folder is kept, so a node inside one is known new by its parent alone.
        std::vector<const FileNode*> pending;
        if (node.isDirectory) {
            pending.push_back(&node);
        }
        while (!pending.empty()) {
            const FileNode& folder = *pending.back();
            pending.pop_back();
            table_.folders_[folder.id].isNew = true;
            for (const FileNode& child : folder.children) {
                if (child.isDirectory) {
                    pending.push_back(&child);
                }
            }
        }
    }

    void gone(Frame& frame, const FileNode& node) {
        for (size_t m = 0; m < 2; ++m) {
            frame.totals[m].gone += sizeIn(node, measures[m]);
            frame.childChange[m] -= sizeIn(node, measures[m]);
        }
    }

    // The entry of a node present in both trees, when its size changed in either measure.
    static std::optional<TreeChanges::Entry> changed(const FileNode& older, const FileNode& newer) {
        const std::array<std::int64_t, 2> change{
            sizeIn(newer, SizeMeasure::onDisk) - sizeIn(older, SizeMeasure::onDisk),
            sizeIn(newer, SizeMeasure::apparent) - sizeIn(older, SizeMeasure::apparent)};
        if (change[0] == 0 && change[1] == 0) {
            return std::nullopt;
        }
        return TreeChanges::Entry{newer.id, false, change};
    }

    void expand(size_t index) {
        // Pushing a folder may move the frames: each step finds its frame again.
        const FileNode& older = *frames_[index].older;
        const FileNode& newer = *frames_[index].newer;
        matchChildrenByName(
            older, newer, [&](const FileNode& old) { gone(frames_[index], old); },
            [&](const FileNode& now) { appeared(frames_[index], now); },
            [&](const FileNode& old, const FileNode& now) {
                if (now.isDirectory) {
                    frames_.push_back({&old, &now, index, false, {}, {}, {}});
                    return;
                }
                Frame& frame = frames_[index];
                if (auto entry = changed(old, now)) {
                    frame.changed.push_back(std::move(*entry));
                }
                for (size_t m = 0; m < 2; ++m) {
                    const std::int64_t change = sizeIn(now, measures[m]) - sizeIn(old, measures[m]);
                    (change > 0 ? frame.totals[m].grew : frame.totals[m].shrank) +=
                        change > 0 ? change : -change;
                    frame.childChange[m] += change;
                }
            });
    }

    void finish(size_t index) {
        Frame& frame = frames_[index];
        bool any = false;
        for (size_t m = 0; m < 2; ++m) {
            const std::int64_t change =
                sizeIn(*frame.newer, measures[m]) - sizeIn(*frame.older, measures[m]);
            // The folder's own blocks, and anything its children's sums do not explain.
            const std::int64_t own = change - frame.childChange[m];
            (own > 0 ? frame.totals[m].grew : frame.totals[m].shrank) += own > 0 ? own : -own;
            any = any || frame.totals[m] != ChangeTotals{};
            if (frame.parent != npos) {
                Frame& parent = frames_[frame.parent];
                parent.totals[m].grew += frame.totals[m].grew;
                parent.totals[m].shrank += frame.totals[m].shrank;
                parent.totals[m].appeared += frame.totals[m].appeared;
                parent.totals[m].gone += frame.totals[m].gone;
                parent.childChange[m] += change;
            }
        }
        auto entry = changed(*frame.older, *frame.newer);
        if (entry && frame.parent != npos) {
            frames_[frame.parent].changed.push_back(std::move(*entry));
        } else if (entry) {
            table_.root_ = std::move(*entry);
        }
        if (any || !frame.changed.empty()) {
            // Folders below were noted as they finished, after the files.
            std::sort(frame.changed.begin(), frame.changed.end(), byNodeName);
            TreeChanges::Folder& folder = table_.folders_[frame.newer->id];
            folder.children = std::move(frame.changed);
            folder.totals = frame.totals;
        }
    }

    TreeChanges& table_;
    std::vector<Frame> frames_;
};

TreeChanges TreeChanges::compare(const FileNode& older, const FileNode& newer) {
    TreeChanges table;
    table.root_.node = newer.id;
    TreeComparer(table).run(older, newer);
    return table;
}

size_t TreeChanges::size() const {
    size_t kept = root_.change != std::array<std::int64_t, 2>{} ? 1 : 0;
    for (const auto& [url, folder] : folders_) {
        kept += folder.children.size();
    }
    return kept;
}

NodeChange TreeChanges::changeOf(const FileNode& node, SizeMeasure measure) const {
    const size_t m = measure == SizeMeasure::onDisk ? 0 : 1;
    NodeChange result;
    result.after = sizeIn(node, measure);
    result.before = result.after;
    const Entry* entry = nullptr;
    if (node.id == root_.node) {
        entry = &root_;
    } else if (node.id.isFileUrl()) {
        const auto parent = folders_.find(node.id.deletingLastPathComponent());
        if (parent == folders_.end()) {
            return result;
        }
        if (parent->second.isNew) {
            result.kind = NodeChange::Kind::appeared;
            result.before = 0;
            return result;
        }
        const auto& children = parent->second.children;
        const std::string_view name = node.id.lastPathComponentView();
        const auto found = std::lower_bound(children.begin(), children.end(), name,
                                            [](const Entry& each, std::string_view key) {
                                                return each.node.lastPathComponentView() < key;
                                            });
        if (found != children.end() && found->node.lastPathComponentView() == name) {
            entry = &*found;
        }
    }
    if (entry == nullptr) {
        return result;
    }
    if (entry->isNew) {
        result.kind = NodeChange::Kind::appeared;
        result.before = 0;
        return result;
    }
    result.before = result.after - entry->change[m];
    if (result.after != result.before) {
        result.kind =
            result.after > result.before ? NodeChange::Kind::grew : NodeChange::Kind::shrank;
    }
    return result;
}

ChangeTotals TreeChanges::totalsBelow(const FileNode& folder, SizeMeasure measure) const {
    const auto found = folders_.find(folder.id);
    if (found == folders_.end()) {
        return {};
    }
    if (found->second.isNew) {
        return {0, 0, sizeIn(folder, measure), 0};
    }
    return found->second.totals[measure == SizeMeasure::onDisk ? 0 : 1];
}

} // namespace varnok
