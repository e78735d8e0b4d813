#include "core/duplicates/FileHandle.hpp"

#include "core/common/FileError.hpp"

#include <cerrno>
#include <unistd.h>

namespace varnok {

FileHandle::FileHandle(int descriptor, std::string path)
    : descriptor_(descriptor), path_(std::move(path)) {}

FileHandle::~FileHandle() {
    close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : descriptor_(other.descriptor_), path_(std::move(other.path_)) {
    other.descriptor_ = -1;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        descriptor_ = other.descriptor_;
        path_ = std::move(other.path_);
        other.descriptor_ = -1;
    }
    return *this;
}

std::size_t FileHandle::read(char* buffer, std::size_t capacity) {
    for (;;) {
        ssize_t count = ::read(descriptor_, buffer, capacity);
        if (count >= 0) {
            return static_cast<std::size_t>(count);
        }
        if (errno != EINTR) {
            throw FileError::fromReadErrno(errno, path_);
        }
    }
}

void FileHandle::close() noexcept {
    if (descriptor_ >= 0) {
        // Linux releases the descriptor even when close reports an error; never retry.
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

} // namespace varnok
