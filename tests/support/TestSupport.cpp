#include "tests/support/TestSupport.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnok::testing {

namespace {
std::string temporaryRoot() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

void check(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error(what + ": " + std::strerror(errno));
    }
}
} // namespace

TempDir::TempDir() {
    std::string pattern = temporaryRoot() + "/varnok-test-XXXXXX";
    check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    check(::chmod(pattern.c_str(), 0755) == 0, "chmod");
    path_ = pattern;
}

TempDir::~TempDir() {
    // Test fixtures only: make everything removable again, then remove the scratch folder.
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            ::chmod(it->path().c_str(), 0755);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::at(const std::string& relative) const {
    return path_ + "/" + relative;
}

std::string makeFolder(const std::string& path) {
    std::filesystem::create_directories(path);
    ::chmod(path.c_str(), 0755);
    return path;
}

std::string writeFile(const std::string& path, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    check(static_cast<bool>(out), "write " + path);
    return path;
}

void makeSymlink(const std::string& target, const std::string& linkPath) {
    check(::symlink(target.c_str(), linkPath.c_str()) == 0, "symlink " + linkPath);
}

void setModifiedSecondsAgo(const std::string& path, double secondsAgo) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    double when = std::chrono::duration<double>(now).count() - secondsAgo;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(std::floor(when));
    times[1].tv_nsec = static_cast<long>((when - std::floor(when)) * 1e9);
    check(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0, "utimensat");
}

void setMode(const std::string& path, unsigned mode) {
    check(::chmod(path.c_str(), mode) == 0, "chmod " + path);
}

ChildOutcome runUnprivileged(const std::function<std::string()>& body) {
    int fds[2];
    check(::pipe(fds) == 0, "pipe");
    pid_t pid = ::fork();
    check(pid >= 0, "fork");
    if (pid == 0) {
        ::close(fds[0]);
        std::string reply;
        char status = '0';
        const gid_t nogroup = 65534;
        const uid_t nobody = 65534;
        // A normal user is already held by permission bits; only root has to give up its rights.
        const bool privileged = ::geteuid() == 0;
        if (privileged &&
            (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0)) {
            reply = "could not drop privileges";
        } else {
            try {
                reply = body();
                status = '1';
            } catch (const std::exception& error) {
                reply = error.what();
            }
        }
        std::string message = status + reply;
        const char* data = message.data();
        size_t left = message.size();
        while (left > 0) {
            ssize_t written = ::write(fds[1], data, left);
            if (written <= 0) {
                break;
            }
            data += written;
            left -= static_cast<size_t>(written);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string message;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        message.append(buffer, static_cast<size_t>(count));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ChildOutcome outcome;
    if (message.empty()) {
        outcome.output = "child ended without a reply";
        return outcome;
    }
    outcome.succeeded = message[0] == '1';
    outcome.output = message.substr(1);
    return outcome;
}

int openDescriptorCount() {
    int count = 0;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) {
        return -1;
    }
    while (dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(folder);
    return count - 1; // the listing's own descriptor
}

} // namespace varnok::testing
