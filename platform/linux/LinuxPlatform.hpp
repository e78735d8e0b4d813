#pragma once

#include "platform/Platform.hpp"

namespace varnok {

// The file services on Linux, from POSIX calls and the XDG base folders.
class LinuxPlatform : public Platform {
public:
    std::unique_ptr<DirectoryEnumerator> enumerator(const Url& root,
                                                    EnumerationErrorHandler onError) override;
    Url resolvingSymlinks(const Url& url) override;
    ResourceValues resourceValues(const Url& url) override;
    Url homeDirectory() override;
    Url temporaryDirectory() override;
    Url applicationSupportDirectory() override;
    std::vector<Url> contentsOfDirectory(const Url& folder) override;
    bool fileExists(const Url& url) override;
    bool isReadableFile(const Url& url) override;
    void createDirectory(const Url& folder, bool withIntermediateDirectories) override;
    void writeNew(const Url& file, std::string_view bytes) override;
    void writeAtomically(const Url& file, std::string_view bytes) override;
    std::string readFile(const Url& file) override;
    // The freedesktop.org Trash; see LinuxTrash.
    std::optional<Url> moveToTrash(const Url& url) override;
    bool isInTrash(const Url& url) override;
    void forgetTrashedItem(const Url& trashURL) override;
};

// Opens a depth-first walk of `rootPath`; null when the folder cannot be opened (errno is set).
std::unique_ptr<DirectoryEnumerator> openLinuxDirectoryEnumerator(const std::string& rootPath,
                                                                  EnumerationErrorHandler onError);

} // namespace varnok
