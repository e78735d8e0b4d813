#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// What a file is, for people: "C++ source code" in the group "Code".
struct FileKindName {
    // The media type, "text/x-c++src"; "inode/directory" for a folder, "application/octet-stream"
    // when the name tells nothing.
    std::string mimeType;
    // Its description, first letter capitalised: "C++ source code", "Matroska video".
    std::string description;
    // One of "Folder", "Video", "Audio", "Image", "Document", "Archive", "Code", "Text", "Font",
    // "Program" or "Other".
    std::string group;

    friend bool operator==(const FileKindName&, const FileKindName&) = default;
};

// File kinds by name from the freedesktop shared-mime-info database (the `globs2` file of each
// `mime` folder of the XDG data folders), with a small built-in table where no database is
// installed. Matching is by name only: contents are never read. Safe to use from several threads.
class MimeDatabase {
public:
    // The database of this system, read the first time it is asked for.
    static const MimeDatabase& shared();
    // A database from the given `mime` folders, earlier folders first; the built-in table when
    // none of them holds a readable `globs2`.
    static std::unique_ptr<MimeDatabase> load(const std::vector<std::string>& mimeFolders);
    // The `mime` folders of the XDG data folders ($XDG_DATA_HOME, then $XDG_DATA_DIRS).
    static std::vector<std::string> systemFolders();

    // The kind of a file named `fileName` (the last path component).
    FileKindName kindOfFile(std::string_view fileName) const;
    // The kind of a folder.
    FileKindName kindOfFolder() const;
    // Whether the types came from an installed database rather than the built-in table.
    bool isInstalled() const { return !folders_.empty(); }

    MimeDatabase(const MimeDatabase&) = delete;
    MimeDatabase& operator=(const MimeDatabase&) = delete;
    ~MimeDatabase();

private:
    struct Glob {
        int weight;
        std::string type;
        std::string pattern;
        bool caseSensitive;
    };

    MimeDatabase() = default;
    void addGlob(int weight, std::string type, std::string pattern, bool caseSensitive);
    std::string typeOfName(std::string_view fileName) const;
    FileKindName describe(const std::string& type) const;
    std::string descriptionOf(const std::string& type) const;

    // Folders the types came from, for their descriptions; empty for the built-in table.
    std::vector<std::string> folders_;
    // "*.ext" patterns by their lower-cased text after "*.", and exact names by lower-cased name;
    // case-sensitive ones by their text as written.
    std::map<std::string, Glob, std::less<>> suffixes_;
    std::map<std::string, Glob, std::less<>> caseSensitiveSuffixes_;
    std::map<std::string, Glob, std::less<>> literals_;
    std::map<std::string, Glob, std::less<>> caseSensitiveLiterals_;
    // Every other pattern, matched with fnmatch.
    std::vector<Glob> wildcards_;
    std::map<std::string, std::string> genericIcons_;
    // Descriptions read so far.
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::string, std::less<>> descriptions_;
};

} // namespace varnok
