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
#include <sys/resource.h>
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

// Runs work(u) for every unit u below `units` on `threads` threads, the caller's included, and
// hands outcomes to consume(s, outcome) on the calling thread for every step s below `steps`, in
// step order, where step s takes the outcome of unit unitOf(s). Whatever consume does is thus the
// same as in a plain loop. Units start in index order, so they must be numbered in the order the
// steps first need them. Helper threads run as their own task, cancelled as soon as the caller's
// task is; the caller polls its own cancellation while it waits.
template <typename Outcome, typename Work, typename UnitOf, typename Consume>
void runInStepOrder(std::size_t units, std::size_t steps, unsigned threads, const Work& work,
                    const UnitOf& unitOf, const Consume& consume) {
    // Steps still to take each unit's outcome, so that an outcome is freed once fully used.
    std::vector<std::size_t> uses(units, 0);
    for (std::size_t step = 0; step < steps; ++step) {
        ++uses[unitOf(step)];
    }
    if (threads <= 1 || units <= 1) {
        std::vector<std::optional<Outcome>> outcomes(units);
        for (std::size_t step = 0; step < steps; ++step) {
            std::size_t unit = unitOf(step);
            if (!outcomes[unit]) {
                outcomes[unit].emplace(work(unit));
            }
            consume(step, *outcomes[unit]);
            if (--uses[unit] == 0) {
                outcomes[unit].reset();
            }
        }
        return;
    }
    struct Slot {
        std::optional<Outcome> outcome;
        std::exception_ptr failure; // what work threw, rethrown where a plain loop would throw
        bool ready = false;
    };
    std::vector<Slot> slots(units);
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
    unsigned helperCount = static_cast<unsigned>(std::min<std::size_t>(threads - 1, units - 1));
    for (unsigned h = 0; h < helperCount; ++h) {
        try {
            helpers.emplace_back([&, helperToken] {
                CancellationScope scope(helperToken);
                while (!helperToken->isCancelled()) {
                    std::size_t index = next.fetch_add(1);
                    if (index >= units) {
                        break;
                    }
                    runOne(index);
                }
            });
        } catch (const std::system_error&) {
            break; // no more threads to be had: the calling thread does the rest
        }
    }

    for (std::size_t step = 0; step < steps; ++step) {
        const std::size_t wanted = unitOf(step);
        Slot* slot = nullptr;
        for (;;) {
            if (Task::isCancelled()) {
                throw CancellationError();
            }
            {
                std::lock_guard lock(mutex);
                if (slots[wanted].ready) {
                    slot = &slots[wanted];
                    break;
                }
            }
            std::size_t index = next.fetch_add(1);
            if (index < units) {
                runOne(index);
                continue;
            }
            std::unique_lock lock(mutex);
            finished.wait_for(lock, std::chrono::milliseconds(20),
                              [&] { return slots[wanted].ready; });
        }
        // Once ready, a slot is only touched by this thread.
        if (slot->failure) {
            std::rethrow_exception(slot->failure);
        }
        consume(step, *slot->outcome);
        if (--uses[wanted] == 0) {
            slot->outcome.reset();
        }
    }
}

// runInStepOrder where step i takes the outcome of unit i.
template <typename Outcome, typename Work, typename Consume>
void runInOrder(std::size_t count, unsigned threads, const Work& work, const Consume& consume) {
    runInStepOrder<Outcome>(
        count, count, threads, work, [](std::size_t index) { return index; }, consume);
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
// `standard` tells that the path is known to be in standard form.
std::optional<FileIdentity> captureThroughNoLink(const std::string& path, bool standard) {
    if (!standard &&
        (PathText::standardize(path) != path || path.find('\0') != std::string::npos)) {
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

// DuplicateEngine::verifyIdentity given the node's path; `standard` tells that the path is
// known to be in standard form, as the path of every file already opened for reading is.
void verifyIdentityAt(const FileNode& node, const std::string& path, bool standard) {
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
    std::optional<FileIdentity> current = captureThroughNoLink(path, standard);
    if (!current) {
        if (Platform::current().resolvingSymlinks(node.id).path() != path) {
            refuse();
        }
        current = FileIdentity::capture(node.id);
    }
    if (*current != *node.identity) {
        refuse();
    }
}

// Chunk buffers per thread, kept for the thread's life and grown as needed: allocating them per
// file made the allocator hand the memory back and fault it in again for every comparison.
// Searches run on task threads that end with their work, which frees them. Page alignment
// matters: the kernel copies file pages into a misaligned buffer about a third more slowly.
char* chunkBuffers(std::size_t bytes) {
    struct Buffer {
        char* data = nullptr;
        std::size_t size = 0;
        ~Buffer() { release(); }
        void release() {
            if (data != nullptr) {
                ::operator delete[](data, std::align_val_t(pageAlignment));
                data = nullptr;
                size = 0;
            }
        }
    };
    thread_local Buffer buffer;
    if (buffer.size < bytes) {
        buffer.release();
        buffer.data = static_cast<char*>(::operator new[](bytes, std::align_val_t(pageAlignment)));
        buffer.size = bytes;
    }
    return buffer.data;
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

// Files of one size read together take at most this much buffer memory per thread, and at most
// this many are open at once per thread; a larger set of one size is hashed file by file.
constexpr std::size_t lockStepBudget = 4 * DuplicateEngine::chunkSize;
constexpr std::size_t lockStepFileLimit = 32;
// Descriptors left to the rest of the process when sizing lock-step reads.
constexpr rlim_t descriptorReserve = 256;

// How many files of one size each of `threads` threads may hold open together.
std::size_t lockStepLimit(unsigned threads) {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur <= descriptorReserve) {
        return 0;
    }
    rlim_t perThread = (limit.rlim_cur - descriptorReserve) / std::max(1u, threads);
    return static_cast<std::size_t>(std::min<rlim_t>(perThread, lockStepFileLimit));
}

// Reads up to `wanted` bytes of a file whose recorded size is `size`, of which `done` were read
// before. It stops early at the end of the file and, without asking for more, once the recorded
// size has been read: bytes beyond it would change the file's identity, which is checked after
// reading. Asking for one byte more than the recorded rest shows a file that grew.
std::size_t readChunk(FileHandle& handle, char* buffer, std::size_t wanted, std::int64_t done,
                      std::int64_t size, bool& ended) {
    std::size_t filled = 0;
    while (filled < wanted) {
        std::size_t count = handle.read(buffer + filled, wanted - filled);
        filled += count;
        if (count == 0 || done + static_cast<std::int64_t>(filled) == size) {
            ended = true;
            break;
        }
    }
    return filled;
}

// What became of the files of one unit of work: a single file hashed, or all the files of one
// size read together.
struct UnitOutcome {
    // Per file of the unit: reading it failed, so it is skipped and counts no bytes.
    std::vector<char> failed;
    // Single files: the digest.
    std::string digest;
    // Files read together: the sets proven equal, still to be checked once more, and the files
    // that could not be compared.
    std::vector<std::vector<const Candidate*>> groups;
    std::vector<const FileNode*> skipped;
    bool cancelled = false;
};

// Finds the identical files among files of one recorded size, in path order, reading each file
// once. The files are read side by side, chunk by chunk, and split into sets whose bytes have
// been equal so far, so the byte-by-byte proof comes from the same read that a hash would make.
// Every file is still read whole, even once no other file shares its bytes, and checked against
// its scanned identity before and after reading, so a file fails exactly where hashing it would
// fail. The sets are then split by
// metadata just as comparing each file with the first file of each set would split them.
UnitOutcome readTogether(const std::vector<const Candidate*>& files,
                         VerifiedFile::LocalDevices& localDevices) {
    const std::size_t count = files.size();
    const std::int64_t size = files.front()->node->logicalSize;
    UnitOutcome outcome;
    outcome.failed.assign(count, 0);
    std::vector<std::optional<FileHandle>> handles(count);
    auto fail = [&](std::size_t i) {
        outcome.failed[i] = 1;
        handles[i].reset();
    };
    auto live = [&](std::size_t i) { return outcome.failed[i] == 0; };
    try {
        for (std::size_t i = 0; i < count; ++i) {
            try {
                handles[i].emplace(
                    VerifiedFile::openForSearch(*files[i]->node, files[i]->path, localDevices));
            } catch (const CancellationError&) {
                throw;
            } catch (...) {
                outcome.failed[i] = 1;
            }
        }
        Task::checkCancellation();

        // A set of files whose bytes have been equal so far is named by its first member.
        std::vector<std::size_t> set(count, 0);
        std::vector<std::size_t> previousSet(count, 0);
        const std::size_t chunk = std::min(DuplicateEngine::chunkSize,
                                           lockStepBudget / count / pageAlignment * pageAlignment);
        char* buffers = chunkBuffers(chunk * count);
        std::vector<std::size_t> lengths(count, 0);
        std::vector<std::int64_t> totals(count, 0);
        std::vector<char> ended(count, 0);
        for (;;) {
            bool anyData = false;
            for (std::size_t i = 0; i < count; ++i) {
                lengths[i] = 0;
                if (!live(i) || ended[i] != 0) {
                    continue;
                }
                try {
                    bool atEnd = false;
                    const auto rest = static_cast<std::uint64_t>(size - totals[i]);
                    lengths[i] = readChunk(
                        *handles[i], buffers + i * chunk,
                        static_cast<std::size_t>(std::min<std::uint64_t>(chunk, rest + 1)),
                        totals[i], size, atEnd);
                    ended[i] = atEnd ? 1 : 0;
                } catch (...) {
                    fail(i); // a read error
                    continue;
                }
                totals[i] += static_cast<std::int64_t>(lengths[i]);
                if (totals[i] > size) {
                    fail(i); // grew during reading
                } else if (lengths[i] > 0) {
                    anyData = true;
                }
            }
            if (!anyData) {
                break;
            }
            // Each file joins the first earlier file of its set whose chunk equals its own.
            previousSet = set;
            for (std::size_t i = 0; i < count; ++i) {
                if (!live(i)) {
                    continue;
                }
                set[i] = i;
                for (std::size_t j = 0; j < i; ++j) {
                    if (live(j) && set[j] == j && previousSet[j] == previousSet[i] &&
                        lengths[j] == lengths[i] &&
                        std::memcmp(buffers + j * chunk, buffers + i * chunk, lengths[i]) == 0) {
                        set[i] = j;
                        break;
                    }
                }
            }
            Task::checkCancellation();
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (!live(i)) {
                continue;
            }
            const FileNode& node = *files[i]->node;
            try {
                // The path must still lead to the recorded object, unchanged. Holding it open,
                // the object at the path is the open one if device and inode agree, so this also
                // proves the open file unchanged.
                verifyIdentityAt(node, files[i]->path, true);
                if (totals[i] != size) {
                    fail(i); // shrank
                }
            } catch (...) {
                fail(i);
            }
        }

        // Within each set of equal bytes, in path order, a file joins the first bucket whose
        // first file has the same metadata; a file whose metadata, or that of the first file it
        // is held against, cannot be read is skipped; a file is never held against itself.
        std::vector<std::optional<VerifiedFile::Metadata>> metadata(count);
        std::vector<char> metadataRead(count, 0);
        auto metadataOf = [&](std::size_t i) -> const VerifiedFile::Metadata* {
            if (metadataRead[i] == 0) {
                metadataRead[i] = 1;
                try {
                    metadata[i] = VerifiedFile::metadata(*handles[i]);
                } catch (const CancellationError&) {
                    throw;
                } catch (...) {
                    // Left empty: comparing with this file fails.
                }
            }
            return metadata[i] ? &*metadata[i] : nullptr;
        };
        std::vector<std::vector<std::size_t>> sets;
        std::vector<std::size_t> setNames;
        for (std::size_t i = 0; i < count; ++i) {
            if (live(i)) {
                auto known = std::find(setNames.begin(), setNames.end(), set[i]);
                if (known == setNames.end()) {
                    setNames.push_back(set[i]);
                    sets.push_back({i});
                } else {
                    sets[static_cast<std::size_t>(known - setNames.begin())].push_back(i);
                }
            }
        }
        std::vector<std::vector<std::size_t>> buckets;
        for (const std::vector<std::size_t>& members : sets) {
            if (members.size() < 2) {
                continue;
            }
            std::size_t firstBucket = buckets.size();
            for (std::size_t i : members) {
                Task::checkCancellation();
                bool placed = false;
                bool failed = false;
                for (std::size_t b = firstBucket; b < buckets.size(); ++b) {
                    const FileNode& held = *files[buckets[b].front()]->node;
                    if (files[i]->node->identity->sameObject(*held.identity)) {
                        continue;
                    }
                    const VerifiedFile::Metadata* mine = metadataOf(i);
                    const VerifiedFile::Metadata* theirs =
                        mine != nullptr ? metadataOf(buckets[b].front()) : nullptr;
                    if (mine == nullptr || theirs == nullptr) {
                        failed = true;
                        break;
                    }
                    if (*mine == *theirs) {
                        buckets[b].push_back(i);
                        placed = true;
                        break;
                    }
                }
                if (failed) {
                    outcome.skipped.push_back(files[i]->node);
                } else if (!placed) {
                    buckets.push_back({i});
                }
            }
        }
        for (const auto& bucket : buckets) {
            if (bucket.size() >= 2) {
                std::vector<const Candidate*> group;
                for (std::size_t i : bucket) {
                    group.push_back(files[i]); // in path order
                }
                outcome.groups.push_back(std::move(group));
            }
        }
    } catch (const CancellationError&) {
        outcome.cancelled = true;
    }
    return outcome;
}

} // namespace

std::int64_t DuplicateResult::extraSize() const {
    std::int64_t sum = 0;
    for (const DuplicateGroup& group : groups) {
        sum += group.extraSize();
    }
    return sum;
}

namespace {

// The search; without `hashFile`, the engine reads files of one size together.
DuplicateResult search(const FileNode& root, const DuplicateProgressHandler& progress,
                       const FileHashFunction* hashFile, unsigned threads) {
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
    // Files the policy kept out: all files of a refused folder, and refused files of a shared size.
    std::int64_t policyLeftOut = 0;
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
            } else {
                policyLeftOut += node->fileCount;
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
        } else {
            ++policyLeftOut;
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

    // Hashing matching sizes. Each unit of work is one candidate hashed on its own or, with
    // the engine's own hash, all candidates of one size read together; units are numbered in the
    // order of their first candidate so that candidates can be taken up in order.
    const auto total = static_cast<std::int64_t>(candidates.size());
    const std::size_t lockStep = hashFile == nullptr ? lockStepLimit(threads) : 0;
    std::vector<std::vector<std::size_t>> units;
    std::vector<char> unitReadsTogether;
    std::vector<std::size_t> unitOf(candidates.size());
    std::vector<std::size_t> memberOf(candidates.size(), 0);
    {
        std::unordered_map<std::int64_t, std::vector<std::size_t>> bySize;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            bySize[candidates[i].node->logicalSize].push_back(i);
        }
        std::unordered_map<std::int64_t, std::size_t> unitOfSize;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const std::vector<std::size_t>& sameSize = bySize[candidates[i].node->logicalSize];
            if (sameSize.size() > lockStep) {
                unitOf[i] = units.size();
                units.push_back({i});
                unitReadsTogether.push_back(0);
                continue;
            }
            auto [slot, inserted] =
                unitOfSize.try_emplace(candidates[i].node->logicalSize, units.size());
            if (inserted) {
                units.push_back(sameSize);
                unitReadsTogether.push_back(1);
            }
            unitOf[i] = slot->second;
            memberOf[i] = static_cast<std::size_t>(std::find(sameSize.begin(), sameSize.end(), i) -
                                                   sameSize.begin());
        }
    }
    std::vector<std::string> keys; // in the order first met, for a fixed comparison order
    std::unordered_map<std::string, std::vector<const Candidate*>> hashTable;
    std::vector<const FileNode*> skipped;
    std::vector<std::vector<const Candidate*>> provenGroups;
    std::int64_t hashedBytes = 0;
    std::optional<std::chrono::steady_clock::time_point> lastReport;
    VerifiedFile::LocalDevices localDevices;
    runInStepOrder<UnitOutcome>(
        units.size(), candidates.size(), threads,
        [&](std::size_t unit) {
            if (unitReadsTogether[unit] != 0) {
                std::vector<const Candidate*> files;
                for (std::size_t index : units[unit]) {
                    files.push_back(&candidates[index]);
                }
                return readTogether(files, localDevices);
            }
            UnitOutcome outcome;
            outcome.failed.assign(1, 0);
            const FileNode& node = *candidates[units[unit].front()].node;
            try {
                Task::checkCancellation();
                outcome.digest =
                    hashFile != nullptr ? (*hashFile)(node) : DuplicateEngine::hash(node);
            } catch (const CancellationError&) {
                outcome.cancelled = true;
            } catch (...) {
                outcome.failed[0] = 1;
            }
            return outcome;
        },
        [&](std::size_t index) { return unitOf[index]; },
        [&](std::size_t index, UnitOutcome& outcome) {
            Task::checkCancellation();
            const Candidate& candidate = candidates[index];
            if (outcome.cancelled) {
                throw CancellationError();
            }
            const std::size_t member = memberOf[index];
            const bool together = unitReadsTogether[unitOf[index]] != 0;
            if (outcome.failed[member] != 0) {
                skipped.push_back(candidate.node);
            } else {
                if (!together) {
                    std::string key =
                        std::to_string(candidate.node->logicalSize) + ":" + outcome.digest;
                    auto [slot, inserted] = hashTable.try_emplace(key);
                    if (inserted) {
                        keys.push_back(std::move(key));
                    }
                    slot->second.push_back(&candidate);
                }
                hashedBytes += candidate.node->logicalSize;
            }
            if (together && member + 1 == outcome.failed.size()) {
                skipped.insert(skipped.end(), outcome.skipped.begin(), outcome.skipped.end());
                for (auto& group : outcome.groups) {
                    provenGroups.push_back(std::move(group));
                }
            }
            auto now = std::chrono::steady_clock::now();
            if (!lastReport || now - *lastReport > std::chrono::milliseconds(100)) {
                report(hashingPhase, static_cast<std::int64_t>(index) + 1, total, hashedBytes);
                lastReport = now;
            }
        });

    // Verifying file contents. Files read together were compared as they were read.
    report(verifyingPhase, total, total, hashedBytes);
    std::vector<const std::vector<const Candidate*>*> sharedKeys;
    for (const std::string& key : keys) {
        const auto& files = hashTable.at(key);
        if (files.size() >= 2) {
            sharedKeys.push_back(&files);
        }
    }
    DuplicateResult result;
    // The sets proven while reading keep the files that are still what was read.
    runInOrder<std::vector<const FileNode*>>(
        provenGroups.size(), threads,
        [&](std::size_t index) {
            std::vector<const FileNode*> kept;
            for (const Candidate* file : provenGroups[index]) {
                Task::checkCancellation();
                try {
                    verifyIdentityAt(*file->node, file->path, true);
                    kept.push_back(file->node);
                } catch (...) {
                    // Changed after it was proven equal: left out without being listed.
                }
            }
            return kept;
        },
        [&](std::size_t, std::vector<const FileNode*>& kept) {
            if (kept.size() >= 2) {
                DuplicateGroup group;
                for (const FileNode* file : kept) {
                    group.files.push_back(*file);
                }
                result.groups.push_back(std::move(group));
            }
        });
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
    result.policyLeftOutFiles = policyLeftOut;
    result.duration =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

} // namespace

DuplicateResult DuplicateEngine::find(const FileNode& root,
                                      const DuplicateProgressHandler& progress,
                                      const FileHashFunction& hashFile, unsigned threads) {
    return search(root, progress, &hashFile, threads);
}

DuplicateResult DuplicateEngine::find(const FileNode& root,
                                      const DuplicateProgressHandler& progress, unsigned threads) {
    return search(root, progress, nullptr, threads);
}

std::string DuplicateEngine::hash(const FileNode& node) {
    // Opening begins with verifyIdentity, so the path is proven before anything is read.
    FileHandle handle = VerifiedFile::open(node);
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available.");
    }
    Task::checkCancellation();
    char* buffer = chunkBuffers(chunkSize);
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
    verifyIdentityAt(node, node.id.path(), false);
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
    char* firstBuffer = chunkBuffers(2 * chunkSize);
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
