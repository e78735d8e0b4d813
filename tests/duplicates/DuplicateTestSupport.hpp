#pragma once

#include "core/scan/FileNode.hpp"
#include "core/scan/ScanEngine.hpp"

#include <string>
#include <sys/stat.h>

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

inline FileNode scannedTree(const std::string& folder) {
    return ScanEngine::scan(Url::file(folder, true), {}).root;
}

// Sets a user.* extended attribute; false when the file system of the folder has none.
bool setUserAttribute(const std::string& path, const std::string& name, const std::string& value);
// Sets the no-dump file flag; false when the file system cannot keep it.
bool setNoDumpFlag(const std::string& path);

} // namespace varnok::testing
