#pragma once

#include "core/scan/FileNode.hpp"
#include "core/scan/ItemKind.hpp"
#include "core/scan/ItemScope.hpp"
#include "core/scan/ItemSort.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace varnok {

// Listings of the items below a folder of a scanned tree, in memory only.
class ItemIndex {
public:
    // The items below `folder` (never `folder` itself) that are not symbolic links nor later paths
    // of a file with several hard links (FileNode::isRepeatedLink), match `kind`
    // (no filter when absent) and whose full path contains `search` case-insensitively, in the
    // order `sort` asks for, ties by path. The pointers refer into `folder`'s tree, which must
    // outlive the result: copying each hit would copy whole subtrees. Checks the current task for
    // cancellation per node and per 1024 sort comparisons; throws only CancellationError.
    static std::vector<const FileNode*> find(const FileNode& folder, std::optional<ItemKind> kind,
                                             ItemSort sort, std::string_view search,
                                             ItemScope scope);

    // `text` case-folded (Unicode full case folding, composed form) for substring tests; bytes
    // that are not UTF-8 are only ASCII-lower-cased.
    static std::string foldedForSearch(std::string_view text);
};

} // namespace varnok
