#pragma once

#include "core/duplicates/DuplicateEngine.hpp"
#include "core/scan/FileNode.hpp"
#include "core/scan/ScanEngine.hpp"

#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace varnok::testing {

// A file node as a scan records it now.
inline FileNode scannedFile(const std::string& path) {
    FileNode node;
    node.id = Url::file(path, false);
    node.identity = FileIdentity::capture(node.id);
    node.isSymbolicLink = node.identity->isSymbolicLink();
    node.logicalSize = node.identity->size;
    node.fileCount = 1;
    return node;
}

// Each group as its files' paths below `root`, in result order: "[a b][c d]".
inline std::string groupsText(const DuplicateResult& result, const std::string& root) {
    std::string text;
    for (const DuplicateGroup& group : result.groups) {
        for (const FileNode& file : group.files) {
            text += (&file == &group.files.front() ? "[" : " ") +
                    file.id.path().substr(root.size() + 1);
        }
        text += "]";
    }
    return text;
}

// The groups as groupsText() writes them, then the skipped files, all in result order.
inline std::string describe(const DuplicateResult& result, const std::string& root) {
    std::string text = groupsText(result, root);
    for (size_t i = 0; i < result.skippedFiles.size(); ++i) {
        text +=
            (i == 0 ? " skipped " : " ") + result.skippedFiles[i].path().substr(root.size() + 1);
    }
    return text;
}

inline FileNode scannedTree(const std::string& folder) {
    return ScanEngine::scan(Url::file(folder, true), {}).root;
}

// Sets a user.* extended attribute; false when the file system of the folder has none.
inline bool setUserAttribute(const std::string& path, const std::string& name,
                             const std::string& value) {
    return ::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0;
}

// Sets the no-dump file flag; false when the file system cannot keep it.
inline bool setNoDumpFlag(const std::string& path) {
    int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = descriptor >= 0 && ::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
    flags |= FS_NODUMP_FL;
    done = done && ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    return done;
}

// The description of what `body` throws, or "no failure".
inline std::string failureOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

} // namespace varnok::testing
