// The floor a size-then-hash duplicate finder can reach: walk the tree, and open each file whose
// size another file shares once, read it through one reused 1 MiB buffer and SHA-256 it with
// OpenSSL. Nothing is compared or verified. Built and run by run.py.
//
//   floor DIR [THREADS [aligned]]
//
// The buffer comes from malloc, as in the plainest program; with "aligned" it is page-aligned,
// which lets the kernel copy file pages into it about a third faster.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <openssl/evp.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

std::unordered_map<off_t, std::vector<std::string>> bySize;

int visit(const char* path, const struct stat* record, int type, struct FTW*) {
    if (type == FTW_F && S_ISREG(record->st_mode) && record->st_size > 0) {
        bySize[record->st_size].push_back(path);
    }
    return 0;
}

long long hashFile(const std::string& path, char* buffer, EVP_MD_CTX* context) {
    int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return 0;
    }
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    long long total = 0;
    ssize_t count;
    while ((count = ::read(descriptor, buffer, 1 << 20)) > 0) {
        EVP_DigestUpdate(context, buffer, static_cast<size_t>(count));
        total += count;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    ::close(descriptor);
    return total;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: floor DIR [THREADS]\n");
        return 2;
    }
    unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    bool aligned = argc > 3 && std::string(argv[3]) == "aligned";
    if (::nftw(argv[1], visit, 64, FTW_PHYS) != 0) {
        std::perror("nftw");
        return 1;
    }
    std::vector<const std::string*> files;
    for (const auto& [size, paths] : bySize) {
        if (paths.size() > 1) {
            for (const auto& path : paths) {
                files.push_back(&path);
            }
        }
    }
    std::atomic<size_t> next{0};
    std::atomic<long long> bytes{0};
    auto work = [&] {
        void* memory = aligned ? std::aligned_alloc(4096, 1 << 20) : std::malloc(1 << 20);
        std::unique_ptr<char, decltype(&std::free)> buffer(static_cast<char*>(memory), &std::free);
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        long long mine = 0;
        for (size_t i; (i = next.fetch_add(1)) < files.size();) {
            mine += hashFile(*files[i], buffer.get(), context);
        }
        EVP_MD_CTX_free(context);
        bytes += mine;
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) {
        helpers.emplace_back(work);
    }
    work();
    for (auto& helper : helpers) {
        helper.join();
    }
    std::printf("%zu files, %lld bytes hashed\n", files.size(), bytes.load());
    return 0;
}
