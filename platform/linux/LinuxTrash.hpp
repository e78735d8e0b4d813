#pragma once

#include "core/common/Url.hpp"

#include <optional>
#include <string>

namespace varnok {

// The freedesktop.org Trash (version 1.0): the home trash in $XDG_DATA_HOME/Trash for items on
// its file system, and $topdir/.Trash/$uid or $topdir/.Trash-$uid on other mounts. Items are only
// ever renamed into a trash on their own file system, never copied.
class LinuxTrash {
public:
    // Claims a name with its info file, then renames the item into the trash's files/ folder
    // without replacing anything. Returns the item's new URL (folder form for a folder). Throws
    // FileError for a failing system call and CleanupProblem when the item's file system has no
    // usable trash; on failure the info file just claimed is removed again.
    static Url moveToTrash(const Url& item);

    // True only for a path strictly inside the files/ folder of the home trash or of a trash of
    // the path's own mount.
    static bool isInTrash(const Url& url);

    // For an item inside a trash's files/ folder: that trash's info file for the top-level entry
    // holding it ("<trash>/info/<name>.trashinfo"), whether or not it exists.
    static std::optional<Url> infoFile(const Url& trashItem);

    // The home trash folder: $XDG_DATA_HOME/Trash, or ~/.local/share/Trash.
    static std::string homeTrashPath();
};

} // namespace varnok
