#pragma once

#include <cstddef>
#include <string>

namespace varnok {

// A read-only descriptor that is closed when the handle is released. Owned by one thread at a
// time; moving transfers the descriptor.
class FileHandle {
public:
    FileHandle(int descriptor, std::string path);
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // -1 once closed.
    int descriptor() const { return descriptor_; }
    const std::string& path() const { return path_; }

    // Reads up to `capacity` bytes at the current position; 0 means the end of the file. A
    // failure throws FileError with the path.
    std::size_t read(char* buffer, std::size_t capacity);
    // Closes the descriptor now; a failure to close is ignored, as nothing was written.
    void close() noexcept;

private:
    int descriptor_;
    std::string path_;
};

} // namespace varnok
