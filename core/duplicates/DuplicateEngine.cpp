#include "core/duplicates/DuplicateEngine.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/duplicates/VerifiedFile.hpp"
#include "core/scan/FilePolicy.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <linux/openat2.h>
#include <memory>
#include <mutex>
#include <openssl/evp.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace varnok {
namespace {

constexpr std::size_t pageAlignment = 4096;

const char* const groupingPhase = "Grouping by size";
const char* const hashingPhase = "Hashing matching sizes";
const char* const verifyingPhase = "Verifying file contents";

struct Candidate {
    const FileNode* node;
    std::string path;
};

bool byPath(const Candidate& a, const Candidate& b) {
    return a.path < b.path;
}

// Everything but the file policy, which is asked last because it is the costly test.
bool passesCheapEligibility(const FileNode& node) {
    return node.logicalSize >= 1 && node.identity && node.identity->isRegularFile() &&
           node.identity->linkCount == 1 && !node.hasReadErrors && !node.isSymbolicLink;
}

// Runs work(i) for every i below `count` on `threads` threads, the caller's included, and hands
// each outcome to consume(i, outcome) on the calling thread in index order, so that whatever
// consume does is the same as in a plain loop. Helper threads run as their own task, cancelled
// as soon as the caller's task is; the caller polls its own cancellation while it waits.
template <typename Outcome, typename Work, typename Consume>
void runInOrder(std::size_t count, unsigned threads, const Work& work, const Consume& consume) {
    if (threads <= 1 || count <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            Outcome outcome = work(i);
            consume(i, outcome);
        }
        return;
    }
    struct Slot {
        std::optional<Outcome> outcome;
        std::exception_ptr failure; // what work threw, rethrown where a plain loop would throw
        bool ready = false;
    };
    std::vector<Slot> slots(count);
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    auto helperToken = std::make_shared<CancellationToken>();
    auto runOne = [&](std::size_t index) {
        Slot slot;
        try {
            slot.outcome.emplace(work(index));
        } catch (...) {
            slot.failure = std::current_exception();
        }
        slot.ready = true;
        {
            std::lock_guard lock(mutex);
            slots[index] = std::move(slot);
        }
        finished.notify_all();
    };

    std::vector<std::thread> helpers;
    struct Joiner {
        std::vector<std::thread>& helpers;
        CancellationToken& token;
        ~Joiner() {
            token.cancel();
            for (std::thread& helper : helpers) {
                helper.join();
            }
        }
    } joiner{helpers, *helperToken};
    unsigned helperCount = static_cast<unsigned>(std::min<std::size_t>(threads - 1, count - 1));
    for (unsigned h = 0; h < helperCount; ++h) {
        try {
            helpers.emplace_back([&, helperToken] {
                CancellationScope scope(helperToken);
                while (!helperToken->isCancelled()) {
                    std::size_t index = next.fetch_add(1);
                    if (index >= count) {
                        break;
                    }
                    runOne(index);
                }
            });
        } catch (const std::system_error&) {
            break; // no more threads to be had: the calling thread does the rest
        }
    }

    for (std::size_t wanted = 0; wanted < count; ++wanted) {
        Slot slot;
        for (;;) {
            if (Task::isCancelled()) {
                throw CancellationError();
            }
            {
                std::lock_guard lock(mutex);
                if (slots[wanted].ready) {
                    slot = std::move(slots[wanted]);
                    slots[wanted] = Slot{};
                    break;
                }
            }
            std::size_t index = next.fetch_add(1);
            if (index < count) {
                runOne(index);
                continue;
            }
            std::unique_lock lock(mutex);
            finished.wait_for(lock, std::chrono::milliseconds(20),
                              [&] { return slots[wanted].ready; });
        }
        if (slot.failure) {
            std::rethrow_exception(slot.failure);
        }
        consume(wanted, *slot.outcome);
    }
}

struct HashOutcome {
    std::string digest;
    bool failed = false;
    bool cancelled = false;
};

struct VerifyOutcome {
    std::vector<std::vector<const FileNode*>> groups;
    std::vector<const FileNode*> skipped;
    bool cancelled = false;
};

// Buckets the files of one size-and-digest key by proven equality and keeps the buckets whose
// files all still verify.
VerifyOutcome verifyKey(const std::vector<const Candidate*>& files) {
    VerifyOutcome outcome;
    try {
        std::vector<std::vector<const Candidate*>> buckets;
        for (const Candidate* file : files) {
            Task::checkCancellation();
            bool placed = false;
            bool failed = false;
            for (auto& bucket : buckets) {
                bool equal = false;
                try {
                    equal = DuplicateEngine::equalContents(*file->node, *bucket.front()->node);
                } catch (const CancellationError&) {
                    throw;
                } catch (...) {
                    failed = true;
                    break;
                }
                if (equal) {
                    bucket.push_back(file);
                    placed = true;
                    break;
                }
            }
            if (failed) {
                outcome.skipped.push_back(file->node);
            } else if (!placed) {
                buckets.push_back({file});
            }
        }
        for (auto& bucket : buckets) {
            if (bucket.size() < 2) {
                continue;
            }
            std::vector<const Candidate*> kept;
            for (const Candidate* file : bucket) {
                try {
                    DuplicateEngine::verifyIdentity(*file->node);
                    kept.push_back(file);
                } catch (...) {
                    // Changed after it was proven equal: left out without being listed.
                }
            }
            if (kept.size() < 2) {
                continue;
            }
            std::sort(kept.begin(), kept.end(),
                      [](const Candidate* a, const Candidate* b) { return a->path < b->path; });
            std::vector<const FileNode*> group;
            for (const Candidate* file : kept) {
                group.push_back(file->node);
            }
            outcome.groups.push_back(std::move(group));
        }
    } catch (const CancellationError&) {
        outcome.cancelled = true;
    }
    return outcome;
}

// The identity at a standard path whose every component, the last one included, is no symbolic
// link, read in one lookup that refuses to cross a link. A final link yields the link's own
// identity, as lstat would. A path that crosses a link, or is not in standard form, yields the
// identity of nothing (an empty file type), so that it never matches a recorded one. Returns
// nothing when the kernel cannot do such a lookup; the caller then resolves the path itself.
std::optional<FileIdentity> captureThroughNoLink(const Url& url) {
    std::string path = url.path();
    if (PathText::standardize(path) != path || path.find('\0') != std::string::npos) {
        return FileIdentity{};
    }
    open_how how{};
    how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    long descriptor = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (descriptor < 0) {
        int failure = errno;
        if (failure == ENOSYS || failure == EPERM || failure == E2BIG) {
            return std::nullopt;
        }
        if (failure == ELOOP || failure == EXDEV) {
            return FileIdentity{};
        }
        throw FileError(FileError::readUnknown, path, failure);
    }
    struct stat record {};
    int statResult = ::fstat(static_cast<int>(descriptor), &record);
    int failure = errno;
    ::close(static_cast<int>(descriptor));
    if (statResult != 0) {
        throw FileError(FileError::readUnknown, path, failure);
    }
    return FileIdentity::fromStat(record);
}

// Two chunk buffers per thread, kept for the thread's life: allocating them per file made the
// allocator hand the memory back and fault it in again for every comparison. Searches run on
// task threads that end with their work, which frees them. Page alignment matters: the kernel
// copies file pages into a misaligned buffer about a third more slowly.
char* chunkBuffers() {
    struct Deleter {
        void operator()(char* buffers) const {
            ::operator delete[](buffers, std::align_val_t(pageAlignment));
        }
    };
    thread_local std::unique_ptr<char[], Deleter> buffers(static_cast<char*>(
        ::operator new[](2 * DuplicateEngine::chunkSize, std::align_val_t(pageAlignment))));
    return buffers.get();
}

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

const EVP_MD* sha256() {
    // Fetched once: an implicit fetch on every initialisation costs a provider lookup per file.
    static const EVP_MD* const digest = [] {
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        return fetched != nullptr ? fetched : EVP_sha256();
    }();
    return digest;
}

} // namespace

std::int64_t DuplicateResult::extraSize() const {
    std::int64_t sum = 0;
    for (const DuplicateGroup& group : groups) {
        sum += group.extraSize();
    }
    return sum;
}

DuplicateResult DuplicateEngine::find(const FileNode& root,
                                      const DuplicateProgressHandler& progress,
                                      const FileHashFunction& hashFile, unsigned threads) {
    const auto start = std::chrono::steady_clock::now();
    auto report = [&](const char* phase, std::int64_t checked, std::int64_t total,
                      std::int64_t bytesRead) {
        if (progress) {
            progress(DuplicateProgress{phase, checked, total, bytesRead});
        }
    };

    // Grouping by size, without touching the file system. The policy is asked only about files
    // whose size another file shares: a file alone in its size can never be a candidate anyway.
    std::unordered_map<std::int64_t, std::vector<const FileNode*>> sizeTable;
    std::vector<const FileNode*> stack{&root};
    std::int64_t visited = 0;
    while (!stack.empty()) {
        const FileNode* node = stack.back();
        stack.pop_back();
        Task::checkCancellation();
        ++visited;
        if (node->isDirectory) {
            if (FilePolicy::allowsUserFile(node->id)) {
                for (const FileNode& child : node->children) {
                    stack.push_back(&child);
                }
            }
        } else if (passesCheapEligibility(*node)) {
            sizeTable[node->logicalSize].push_back(node);
        }
        if (visited % 10000 == 0) {
            report(groupingPhase, visited, 0, 0);
        }
    }
    // Asking the policy reads the file system's folder locations, so with several threads the
    // files are judged in parallel; the verdicts are the same.
    std::vector<const FileNode*> shared;
    for (const auto& [size, files] : sizeTable) {
        if (files.size() >= 2) {
            shared.insert(shared.end(), files.begin(), files.end());
        }
    }
    std::vector<char> allowed(shared.size(), 0);
    runInOrder<char>(
        shared.size(), threads,
        [&](std::size_t index) { return FilePolicy::allowsUserFile(shared[index]->id) ? 1 : 0; },
        [&](std::size_t index, char verdict) { allowed[index] = verdict; });
    std::unordered_map<std::int64_t, std::vector<const FileNode*>> allowedBySize;
    for (std::size_t i = 0; i < shared.size(); ++i) {
        if (allowed[i] != 0) {
            allowedBySize[shared[i]->logicalSize].push_back(shared[i]);
        }
    }
    std::vector<Candidate> candidates;
    for (const auto& [size, files] : allowedBySize) {
        if (files.size() >= 2) {
            for (const FileNode* file : files) {
                candidates.push_back(Candidate{file, file->id.path()});
            }
        }
    }
    sizeTable.clear();
    std::stable_sort(candidates.begin(), candidates.end(), byPath);

    // Hashing matching sizes.
    const auto total = static_cast<std::int64_t>(candidates.size());
    std::vector<std::string> keys; // in the order first met, for a fixed comparison order
    std::unordered_map<std::string, std::vector<const Candidate*>> hashTable;
    std::vector<const FileNode*> skipped;
    std::int64_t hashedBytes = 0;
    std::optional<std::chrono::steady_clock::time_point> lastReport;
    runInOrder<HashOutcome>(
        candidates.size(), threads,
        [&](std::size_t index) {
            HashOutcome outcome;
            try {
                Task::checkCancellation();
                outcome.digest = hashFile(*candidates[index].node);
            } catch (const CancellationError&) {
                outcome.cancelled = true;
            } catch (...) {
                outcome.failed = true;
            }
            return outcome;
        },
        [&](std::size_t index, HashOutcome& outcome) {
            Task::checkCancellation();
            const Candidate& candidate = candidates[index];
            if (outcome.cancelled) {
                throw CancellationError();
            }
            if (outcome.failed) {
                skipped.push_back(candidate.node);
            } else {
                std::string key =
                    std::to_string(candidate.node->logicalSize) + ":" + outcome.digest;
                auto [slot, inserted] = hashTable.try_emplace(key);
                if (inserted) {
                    keys.push_back(std::move(key));
                }
                slot->second.push_back(&candidate);
                hashedBytes += candidate.node->logicalSize;
            }
            auto now = std::chrono::steady_clock::now();
            if (!lastReport || now - *lastReport > std::chrono::milliseconds(100)) {
                report(hashingPhase, static_cast<std::int64_t>(index) + 1, total, hashedBytes);
                lastReport = now;
            }
        });

    // Verifying file contents.
    report(verifyingPhase, total, total, hashedBytes);
    std::vector<const std::vector<const Candidate*>*> sharedKeys;
    for (const std::string& key : keys) {
        const auto& files = hashTable.at(key);
        if (files.size() >= 2) {
            sharedKeys.push_back(&files);
        }
    }
    DuplicateResult result;
    runInOrder<VerifyOutcome>(
        sharedKeys.size(), threads,
        [&](std::size_t index) { return verifyKey(*sharedKeys[index]); },
        [&](std::size_t, VerifyOutcome& outcome) {
            if (outcome.cancelled) {
                throw CancellationError();
            }
            skipped.insert(skipped.end(), outcome.skipped.begin(), outcome.skipped.end());
            for (const auto& files : outcome.groups) {
                DuplicateGroup group;
                for (const FileNode* file : files) {
                    group.files.push_back(*file);
                }
                result.groups.push_back(std::move(group));
            }
        });

    // Finishing.
    std::vector<std::pair<std::string, std::size_t>> order;
    for (std::size_t i = 0; i < result.groups.size(); ++i) {
        order.emplace_back(result.groups[i].id().path(), i);
    }
    std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
        std::int64_t extraA = result.groups[a.second].extraSize();
        std::int64_t extraB = result.groups[b.second].extraSize();
        return extraA != extraB ? extraA > extraB : a.first < b.first;
    });
    std::vector<DuplicateGroup> sorted;
    sorted.reserve(order.size());
    for (const auto& entry : order) {
        sorted.push_back(std::move(result.groups[entry.second]));
    }
    result.groups = std::move(sorted);
    std::unordered_set<Url> seen;
    for (const FileNode* file : skipped) {
        if (seen.insert(file->id).second) {
            result.skippedFiles.push_back(file->id);
        }
    }
    result.hashedFiles = total;
    result.bytesHashed = hashedBytes;
    result.duration =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

std::string DuplicateEngine::hash(const FileNode& node) {
    // Opening begins with verifyIdentity, so the path is proven before anything is read.
    FileHandle handle = VerifiedFile::open(node);
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available.");
    }
    Task::checkCancellation();
    char* buffer = chunkBuffers();
    std::int64_t totalRead = 0;
    for (;;) {
        std::size_t count = handle.read(buffer, chunkSize);
        if (count == 0) {
            break;
        }
        totalRead += static_cast<std::int64_t>(count);
        if (totalRead > node.logicalSize) {
            throw CleanupProblem("File grew during reading.");
        }
        if (EVP_DigestUpdate(context.get(), buffer, count) != 1) {
            throw std::runtime_error("SHA-256 failed.");
        }
        Task::checkCancellation();
    }
    VerifiedFile::verify(handle, node);
    verifyIdentity(node);
    if (totalRead != node.logicalSize) {
        throw CleanupProblem("File size changed while reading.");
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        throw std::runtime_error("SHA-256 failed.");
    }
    static const char hexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text += hexDigits[digest[i] >> 4];
        text += hexDigits[digest[i] & 0x0f];
    }
    return text;
}

void DuplicateEngine::verifyIdentity(const FileNode& node) {
    auto refuse = [&]() {
        throw CleanupProblem(PathText::displayable(node.id.lastPathComponent()) +
                             " changed or cannot be verified. Scan again.");
    };
    if (!node.identity || !node.identity->isRegularFile() || node.identity->linkCount != 1 ||
        node.isSymbolicLink || node.hasReadErrors || !node.id.isFileUrl()) {
        refuse();
    }
    // No component of the path, the parent folders included, may be a symbolic link: the path
    // must be the one its links resolve to.
    std::optional<FileIdentity> current = captureThroughNoLink(node.id);
    if (!current) {
        if (Platform::current().resolvingSymlinks(node.id).path() != node.id.path()) {
            refuse();
        }
        current = FileIdentity::capture(node.id);
    }
    if (*current != *node.identity) {
        refuse();
    }
}

bool DuplicateEngine::equalContents(const FileNode& a, const FileNode& b) {
    verifyIdentity(a);
    verifyIdentity(b);
    if (a.logicalSize != b.logicalSize) {
        return false;
    }
    if (a.identity->sameObject(*b.identity)) {
        return false; // a file is never a duplicate of itself
    }
    FileHandle first = VerifiedFile::open(a);
    FileHandle second = VerifiedFile::open(b);
    VerifiedFile::Metadata firstMetadata = VerifiedFile::metadata(first);
    VerifiedFile::Metadata secondMetadata = VerifiedFile::metadata(second);
    if (firstMetadata != secondMetadata) {
        return false;
    }
    Task::checkCancellation();
    char* firstBuffer = chunkBuffers();
    char* secondBuffer = firstBuffer + chunkSize;
    std::int64_t totalRead = 0;
    for (;;) {
        std::size_t firstCount = first.read(firstBuffer, chunkSize);
        std::size_t secondCount = second.read(secondBuffer, chunkSize);
        if (firstCount == 0 && secondCount == 0) {
            break;
        }
        if (firstCount != secondCount || std::memcmp(firstBuffer, secondBuffer, firstCount) != 0) {
            return false;
        }
        totalRead += static_cast<std::int64_t>(firstCount);
        if (totalRead > a.logicalSize) {
            throw CleanupProblem("File grew during comparison.");
        }
        Task::checkCancellation();
    }
    VerifiedFile::verify(first, a);
    VerifiedFile::verify(second, b);
    verifyIdentity(a);
    verifyIdentity(b);
    return totalRead == a.logicalSize;
}

} // namespace varnok
