#include "core/common/FileError.hpp"

#include <cerrno>

namespace varnok {
namespace {

// "“name”" for a known path, nothing otherwise.
std::string quotedName(const std::optional<std::string>& path) {
    if (!path) {
        return "";
    }
    std::string name = *path;
    while (name.size() > 1 && name.back() == '/') {
        name.pop_back();
    }
    auto slash = name.rfind('/');
    if (slash != std::string::npos && name.size() > 1) {
        name = name.substr(slash + 1);
    }
    return "\u201c" + name + "\u201d";
}

std::string describe(int code, const std::optional<std::string>& path) {
    // "The file “name” " with a known path, "The file " without.
    const std::string name = quotedName(path);
    const std::string file = name.empty() ? "The file " : "The file " + name + " ";
    switch (code) {
    case FileError::noSuchFile:
        return file + "doesn\u2019t exist.";
    case FileError::readNoPermission:
        return file + "couldn\u2019t be opened because you don\u2019t have permission to view it.";
    case FileError::readNoSuchFile:
        return file + "couldn\u2019t be opened because there is no such file.";
    case FileError::writeUnknown:
        return file + "couldn\u2019t be saved.";
    case FileError::writeNoPermission:
        return name.empty() ? "You don\u2019t have permission to save the file."
                            : "You don\u2019t have permission to save the file " + name + ".";
    case FileError::writeFileExists:
        return file + "couldn\u2019t be saved because a file with the same name already exists.";
    case FileError::writeOutOfSpace:
        return file + "couldn\u2019t be saved because there isn\u2019t enough space.";
    case FileError::writeVolumeReadOnly:
        return file + "couldn\u2019t be saved because the volume is read only.";
    default:
        return file + "couldn\u2019t be opened.";
    }
}

} // namespace

FileError::FileError(int code, std::optional<std::string> path, int posixError)
    : code(code), path(std::move(path)), posixError(posixError) {
    description_ = describe(code, this->path);
}

FileError FileError::fromReadErrno(int errnoValue, std::optional<std::string> path) {
    switch (errnoValue) {
    case ENOENT:
    case ENOTDIR:
        return FileError(readNoSuchFile, std::move(path), errnoValue);
    case EACCES:
    case EPERM:
        return FileError(readNoPermission, std::move(path), errnoValue);
    default:
        return FileError(readUnknown, std::move(path), errnoValue);
    }
}

FileError FileError::fromWriteErrno(int errnoValue, std::optional<std::string> path) {
    switch (errnoValue) {
    case EEXIST:
        return FileError(writeFileExists, std::move(path), errnoValue);
    case EACCES:
    case EPERM:
        return FileError(writeNoPermission, std::move(path), errnoValue);
    case ENOSPC:
    case EDQUOT:
        return FileError(writeOutOfSpace, std::move(path), errnoValue);
    case EROFS:
        return FileError(writeVolumeReadOnly, std::move(path), errnoValue);
    case ENOENT:
    case ENOTDIR:
        return FileError(noSuchFile, std::move(path), errnoValue);
    default:
        return FileError(writeUnknown, std::move(path), errnoValue);
    }
}

} // namespace varnok
