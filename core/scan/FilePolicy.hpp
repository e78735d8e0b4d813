#pragma once

#include "core/common/Url.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// Decides which paths may ever be offered for removal. Every doubtful case is a refusal; nothing
// here throws. Names and paths are compared with the tables in lower case.
class FilePolicy {
public:
    // A folder that may be suggested as a cleanup folder under `home`: a project's dependency or
    // build folder, or the user's own Xcode DerivedData folder. Its own name is not examined;
    // nothing inside a dependency, bundle, version-control or credential folder, nor inside a
    // macOS Library or Applications folder, is allowed.
    static bool allowsCleanupFolder(const Url& url, const Url& home);
    // A single file that may be offered as a user file (a duplicate): no project, credential,
    // database, source or hidden file, nothing inside a bundle or a protected folder.
    static bool allowsUserFile(const Url& url);

    // True for a Trash folder of this platform and for everything inside one: the home Trash
    // ($XDG_DATA_HOME/Trash and ~/.local/share/Trash), and the volume Trash folders ".Trash",
    // ".Trash-UID" and ".Trashes". Reads the environment, and resolves the home Trash's links.
    static bool isInTrash(const Url& url);
    // The home Trash folders, lower-cased and standardised: as configured and with links resolved.
    static std::vector<std::string> homeTrashPaths();
    // True when `name` is the name of a volume Trash folder for any user (".Trash-1000").
    static bool isVolumeTrashName(std::string_view name);

    // Unicode-aware lower case, in canonical composed form. Bytes that are not valid UTF-8 are
    // kept, with ASCII letters lowered.
    static std::string lowercased(std::string_view text);

    // True for a folder of the operating system itself (/usr, /etc, /var, /opt, /proc, ...) and
    // everything below one, where no search starts. Drives mounted for the user, /var/home, the
    // user's home and the temporary folder are never system folders, wherever they lie.
    static bool isSystemFolder(const Url& url);

    // The file policy's protected folder names and bundle suffixes, for walks that must not
    // descend where the policy would refuse.
    static bool isProtectedName(std::string_view lowercasedName);
    static bool hasBundleSuffix(std::string_view lowercasedName);
    // "library" and "applications": protected only where macOS puts them, so a walk must ask
    // the policy about the path rather than stop at the name.
    static bool isMacOSPlaceName(std::string_view lowercasedName);
};

} // namespace varnok
