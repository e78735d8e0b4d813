#include "tests/trash/TrashTestSupport.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace varnok::testing {

ScopedEnvironment::ScopedEnvironment(const std::map<std::string, std::string>& values) {
    for (const auto& [name, value] : values) {
        const char* old = std::getenv(name.c_str());
        previous_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv(name.c_str(), value.c_str(), 1);
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& [name, value] : previous_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
}

TmpfsMount::TmpfsMount(const std::string& folder, const std::string& size)
    : folder_(folder), size_(size) {
    std::string options = "size=" + size + ",mode=0755";
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
    if (mounted_) {
        ::umount2(folder_.c_str(), MNT_DETACH);
    }
}

bool TmpfsMount::setReadOnly(bool readOnly) {
    std::string options = "size=" + size_ + ",mode=0755";
    unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("tmpfs", folder_.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

void TmpfsMount::fill(const std::string& name) {
    std::string path = folder_ + "/" + name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    std::vector<char> block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    // Byte by byte for the last partial page.
    while (::write(fd, block.data(), 1) > 0) {
    }
    ::close(fd);
}

CommandResult runShell(const std::string& command, const std::string& input) {
    std::string full = "printf '%s' \"$OMBRELO_TEST_INPUT\" | (" + command + ") 2>&1";
    ::setenv("OMBRELO_TEST_INPUT", input.c_str(), 1);
    CommandResult result;
    FILE* pipe = ::popen(full.c_str(), "r");
    ::unsetenv("OMBRELO_TEST_INPUT");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) {
        result.output.append(buffer, count);
    }
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace varnok::testing
