#pragma once

#include <exception>
#include <optional>
#include <string>

namespace varnok {

// A file-system failure with the numeric codes the rest of the system keys on (the Cocoa file
// error codes). `path` is present when the failing path is known; `posixError` keeps the errno
// for diagnostics and is 0 when the failure did not come from a system call.
class FileError : public std::exception {
public:
    enum Code : int {
        noSuchFile = 4,
        readUnknown = 256,
        readNoPermission = 257,
        readNoSuchFile = 260,
        writeUnknown = 512,
        writeNoPermission = 513,
        writeFileExists = 516,
        writeOutOfSpace = 640,
        writeVolumeReadOnly = 642,
    };

    FileError(int code, std::optional<std::string> path = std::nullopt, int posixError = 0);

    // Maps an errno from a read to 257 / 260 / 256, or from a write to 513 / 516 / 640 / 642 / 512.
    static FileError fromReadErrno(int errnoValue, std::optional<std::string> path);
    static FileError fromWriteErrno(int errnoValue, std::optional<std::string> path);

    const char* what() const noexcept override { return description_.c_str(); }

    int code;
    std::optional<std::string> path;
    int posixError;

private:
    std::string description_;
};

} // namespace varnok
