#include "core/scan/FileNodeJson.hpp"
#include "core/scan/ScanEngine.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

// Small enough that a walk recursing once per level of the trees below overflows it.
constexpr size_t smallStack = 256 * 1024;

// Runs `body` on a thread with a small stack and waits for it.
void onSmallStack(std::function<void()> body) {
    pthread_attr_t attributes;
    ASSERT_EQ(::pthread_attr_init(&attributes), 0);
    ASSERT_EQ(::pthread_attr_setstacksize(&attributes, smallStack), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(::pthread_create(&thread, &attributes, run, &body), 0);
    ::pthread_join(thread, nullptr);
    ::pthread_attr_destroy(&attributes);
}

// A chain of `depth` folders named "d" inside `top`, with a file at the bottom, and with
// `sideFolders` a folder "e" holding a file "f" beside each "d". Made relative to descriptors:
// its paths are far longer than the system's path limit.
void makeChain(const std::string& top, int depth, bool sideFolders = false) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        if (sideFolders) {
            ASSERT_EQ(::mkdirat(fd, "e", 0755), 0);
            ::close(::openat(fd, "e/f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        }
        int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    int file = ::openat(fd, "leaf", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::write(file, "leaf", 4), 4);
    ::close(file);
    ::close(fd);
}

// Removes what makeChain made, deepest first.
void removeChain(const std::string& top, int depth, bool sideFolders = false) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < depth; ++i) {
        int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    ::unlinkat(fd, "leaf", 0);
    for (int i = 0; i < depth; ++i) {
        int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = up;
        ::unlinkat(fd, "d", AT_REMOVEDIR);
        if (sideFolders) {
            ::unlinkat(fd, "e/f", 0);
            ::unlinkat(fd, "e", AT_REMOVEDIR);
        }
    }
    ::close(fd);
}

// Scratch folders on a memory file system where there is one: removing thousands of folders
// from a disk that discards freed blocks takes seconds.
std::unique_ptr<ScopedEnv> scratchInMemory() {
    if (::access("/dev/shm", W_OK) != 0) {
        return nullptr;
    }
    return std::make_unique<ScopedEnv>("TMPDIR", "/dev/shm");
}

// How many levels of "children" lie below `node`, following the first child.
int depthOf(const nlohmann::json& node) {
    int depth = 0;
    for (const nlohmann::json* current = &node; !(*current)["children"].empty();
         current = &(*current)["children"][0]) {
        ++depth;
    }
    return depth;
}

} // namespace

TEST(DeepTrees, AreCopiedWrittenAndFreedWithoutRecursion) {
    static constexpr int depth = 10000;
    onSmallStack([] {
        // One short name for every level: full paths would make the tree quadratic in size.
        const Url name = Url::file("/t/d", true);
        FileNode root(name, true, 1, 1, {}, 1, 0, false, false, true);
        FileNode* bottom = &root;
        for (int i = 0; i < depth; ++i) {
            bottom->children.emplace_back(name, true, 1, 1, std::vector<FileNode>{}, 1, 0, false,
                                          false, true);
            bottom = &bottom->children.back();
        }
        ScanResult result;
        result.root = root; // a deep copy
        root.children.clear();

        std::string streamed;
        writeScanResultJson(result, [&](std::string_view piece) { streamed += piece; });
        EXPECT_LT(streamed.size(), 300u * depth);
        EXPECT_EQ(depthOf(nlohmann::json::parse(streamed)["root"]), depth);
        nlohmann::json built = result;
        EXPECT_EQ(depthOf(built["root"]), depth);
    });
}

TEST(DeepTrees, CommandsWriteAFolderChainOnASmallStack) {
    constexpr int depth = 1000;
    const auto memory = scratchInMemory();
    TempDir dir;
    const std::string cache = makeFolder(dir.at("home/Library/Caches/Firefox"));
    makeChain(cache, depth);
    const std::string cli = OMBRELO_CLI_PATH;
    const std::string limited = "ulimit -s " + std::to_string(smallStack / 1024) + " && exec ";
    for (const std::string& command :
         {cli + " scan --json '" + cache + "'",
          cli + " cleanup-scan --json --tree --home '" + dir.at("home") + "'"}) {
        CommandResult run = runShell(limited + command + " 2>/dev/null");
        ASSERT_EQ(run.status, 0) << command << "\n" << run.output.substr(0, 500);
        // Beyond the ids, whose paths grow with depth, linear in the number of entries: the
        // indentation does not grow without bound.
        size_t idBytes = 0;
        for (int level = 1; level <= depth + 1; ++level) {
            idBytes += std::string("file://").size() + cache.size() + 2 * level;
        }
        EXPECT_LT(run.output.size(), idBytes + 3000u * depth) << command;
        auto json = nlohmann::json::parse(run.output);
        const auto& top = json.contains("root") ? json["root"] : json["candidates"][0]["tree"];
        EXPECT_EQ(depthOf(top), depth + 1) << command; // the leaf file too
    }
    removeChain(cache, depth);
}

TEST(DeepTrees, MapSizesAFolderChainOnDiskOnASmallStack) {
    constexpr int depth = 5000;
    const auto memory = scratchInMemory();
    TempDir dir;
    const std::string top = makeFolder(dir.at("top"));
    makeChain(top, depth);
    CommandResult run =
        runShell("ulimit -s " + std::to_string(smallStack / 1024) + " && exec " + OMBRELO_CLI_PATH +
                 " map --disk-usage --depth 1 '" + top + "' 2>/dev/null");
    EXPECT_EQ(run.status, 0) << run.output.substr(0, 500);
    EXPECT_NE(run.output.find(" on disk\n"), std::string::npos) << run.output.substr(0, 500);
    removeChain(top, depth);
}

TEST(DeepTrees, AWalkOnSeveralThreadsKeepsFewFoldersOpen) {
    constexpr int depth = 5000;
    constexpr unsigned threads = 4;
    const auto memory = scratchInMemory();
    TempDir dir;
    const std::string top = makeFolder(dir.at("top"));
    makeChain(top, depth, true);
    // Each thread keeps about a hundred folders open and each waiting hand-off one, far fewer
    // than the depth of the tree.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{threads * 100 + 50, threads * 100 + 50};
        int code = ::setrlimit(RLIMIT_NOFILE, &limit) == 0 ? 0 : 3;
        try {
            ScanOptions options;
            options.threads = threads;
            ScanResult result = ScanEngine::scan(Url::file(top, true), {}, options);
            if (result.skippedCount != 0 || result.root.fileCount != depth + 1 ||
                result.root.folderCount != 2 * depth) {
                code = 1;
                std::fprintf(stderr, "%lld skipped, %lld files, %lld folders\n",
                             static_cast<long long>(result.skippedCount),
                             static_cast<long long>(result.root.fileCount),
                             static_cast<long long>(result.root.folderCount));
            }
        } catch (...) {
            code = 2;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    removeChain(top, depth, true);
}
