// The floor a folder walk can reach on this machine: every entry stat'ed once with fstatat, every
// folder opened relative to its parent's descriptor and listed with getdents64, on N threads that
// share one stack of folders still to open. Nothing is kept but a count and a byte sum. Built and
// run by run.sh.
//
//   floor [-j N] DIR

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// An open folder, closed when the last folder below it waiting to be opened is gone.
struct Folder {
    int fd;
    explicit Folder(int descriptor) : fd(descriptor) {}
    ~Folder() { ::close(fd); }
};

struct Pending {
    std::shared_ptr<Folder> parent;
    std::string name;
};

std::mutex mutex;
std::condition_variable wake;
std::vector<Pending> stack;
unsigned busy = 0;
unsigned long long entries = 0;
unsigned long long bytes = 0;

void walkOne(const std::shared_ptr<Folder>& folder, std::vector<Pending>& found,
             unsigned long long& count, unsigned long long& sum) {
    alignas(8) char buffer[64 * 1024];
    for (;;) {
        const long read = ::getdents64(folder->fd, buffer, sizeof buffer);
        if (read <= 0) {
            return;
        }
        for (long offset = 0; offset < read;) {
            auto* record = reinterpret_cast<dirent64*>(buffer + offset);
            offset += record->d_reclen;
            const char* name = record->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) {
                continue;
            }
            struct stat status {};
            if (::fstatat(folder->fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            ++count;
            sum += static_cast<unsigned long long>(status.st_size);
            if (S_ISDIR(status.st_mode)) {
                found.push_back({folder, name});
            }
        }
    }
}

void work() {
    unsigned long long count = 0;
    unsigned long long sum = 0;
    std::vector<Pending> found;
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [] { return !stack.empty() || busy == 0; });
        if (stack.empty()) {
            break;
        }
        Pending next = std::move(stack.back());
        stack.pop_back();
        ++busy;
        lock.unlock();
        const int fd = ::openat(next.parent->fd, next.name.c_str(), folderFlags);
        next.parent.reset();
        if (fd >= 0) {
            walkOne(std::make_shared<Folder>(fd), found, count, sum);
        }
        lock.lock();
        --busy;
        for (Pending& pending : found) {
            stack.push_back(std::move(pending));
        }
        found.clear();
        wake.notify_all();
    }
    entries += count;
    bytes += sum;
}

} // namespace

int main(int argc, char** argv) {
    unsigned threads = 1;
    int arg = 1;
    if (argc == 4 && std::strcmp(argv[1], "-j") == 0) {
        threads = static_cast<unsigned>(std::atoi(argv[2]));
        arg = 3;
    }
    if (arg != argc - 1 || threads == 0) {
        std::fprintf(stderr, "usage: floor [-j N] DIR\n");
        return 2;
    }
    const int root = ::open(argv[arg], folderFlags);
    if (root < 0) {
        std::perror(argv[arg]);
        return 1;
    }
    // The root's entries are the first work; "." opens the root itself again.
    stack.push_back({std::make_shared<Folder>(root), "."});
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads; ++i) {
        helpers.emplace_back(work);
    }
    work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    std::printf("%llu entries, %llu bytes\n", entries + 1, bytes);
    return 0;
}
