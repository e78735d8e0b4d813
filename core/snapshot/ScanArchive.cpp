#include "core/snapshot/ScanArchive.hpp"

#include "core/common/DecodingError.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/scan/ScanEngine.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <zlib.h>

namespace varnok {
namespace {

// Any real size or sum of sizes is far below this, so sums of accepted values cannot overflow
// before they are checked.
constexpr std::int64_t largestSize = std::int64_t{1} << 60;
constexpr size_t longestName = 4096;
constexpr size_t longestRootPath = 65536;
constexpr std::uint64_t largestExpansion = std::uint64_t{16} << 30;
// A saved scan shrinks about tenfold; one that grows far more than this is built to fill memory.
constexpr std::uint64_t largestRatio = 250;
constexpr std::uint64_t ratioCheckedFrom = std::uint64_t{64} << 20;

struct LinkKey {
    std::uint64_t device;
    std::uint64_t inode;
    friend bool operator==(const LinkKey&, const LinkKey&) = default;
};

struct LinkKeyHash {
    size_t operator()(const LinkKey& key) const noexcept {
        return std::hash<std::uint64_t>()(key.inode * 0x9E3779B97F4A7C15ULL ^ key.device);
    }
};

bool isHardLinked(const FileNode& node) {
    return !node.isDirectory && node.identity && node.identity->linkCount > 1;
}

LinkKey linkKey(const FileIdentity& identity) {
    return {static_cast<std::uint32_t>(identity.device), identity.inode};
}

// ---- Writing ----

class Writer {
public:
    Writer(std::int64_t takenAt, const std::function<void(std::string_view)>& sink)
        : takenAt_(takenAt), sink_(sink) {
        buffer_.reserve(chunk + 8192);
    }

    void document(const FileNode& root, const std::vector<std::string>& otherFileSystems) {
        collectLinks(root);
        for (const std::string& path : otherFileSystems) {
            const size_t slash = path.rfind('/');
            if (slash != std::string::npos && slash + 1 < path.size()) {
                otherFileSystems_[slash == 0 ? "/" : path.substr(0, slash)].push_back(
                    path.substr(slash + 1));
            }
        }
        text("[1,2,{\"progname\":\"ombrelo\",\"progver\":\"" OMBRELO_ARCHIVE_VERSION
             "\",\"timestamp\":");
        number(takenAt_);
        text("},\n");
        tree(root);
        text("]\n");
        flush();
    }

private:
    static constexpr size_t chunk = 1 << 20;

    // Every path of a hard-linked file is written with the file's blocks, as ncdu writes it;
    // the tree counts them at the first path only.
    void collectLinks(const FileNode& root) {
        std::vector<const FileNode*> pending{&root};
        while (!pending.empty()) {
            const FileNode* node = pending.back();
            pending.pop_back();
            if (isHardLinked(*node)) {
                std::int64_t& size = linkSizes_[linkKey(*node->identity)];
                size = std::max(size, node->allocatedSize);
            }
            for (const FileNode& child : node->children) {
                pending.push_back(&child);
            }
        }
    }

    void tree(const FileNode& root) {
        struct Step {
            const FileNode* node;
            size_t next;
        };
        std::vector<Step> stack;
        entry(root, true, nullptr);
        if (!root.isDirectory) {
            return;
        }
        stack.push_back({&root, 0});
        while (!stack.empty()) {
            Step& step = stack.back();
            if (step.next == step.node->children.size()) {
                // Mount points the scan did not enter, as ncdu marks them.
                auto mounts = otherFileSystems_.find(step.node->id.path());
                if (mounts != otherFileSystems_.end()) {
                    for (const std::string& mount : mounts->second) {
                        text(",\n{\"name\":");
                        name(mount);
                        text(",\"excluded\":\"otherfs\"}");
                    }
                }
                text("]");
                stack.pop_back();
                continue;
            }
            const FileNode& child = step.node->children[step.next++];
            if (++written_ % 4096 == 0) {
                Task::checkCancellation(); // a partial file is removed by `save`
            }
            text(",\n");
            entry(child, false, step.node);
            if (child.isDirectory) {
                stack.push_back({&child, 0});
            }
        }
    }

    void entry(const FileNode& node, bool isRoot, const FileNode* parent) {
        const FileIdentity* identity = node.identity ? &*node.identity : nullptr;
        text(node.isDirectory ? "[{\"name\":" : "{\"name\":");
        name(isRoot ? node.id.path() : std::string(node.id.lastPathComponentView()));
        text(",\"asize\":");
        if (node.isDirectory) {
            number(identity ? std::max<std::int64_t>(identity->size, 0) : 0);
            // A folder's own blocks: what its total holds beyond its children's.
            std::int64_t below = 0;
            for (const FileNode& child : node.children) {
                below += child.allocatedSize;
            }
            text(",\"dsize\":");
            number(std::max<std::int64_t>(node.allocatedSize - below, 0));
        } else {
            number(node.logicalSize);
            text(",\"dsize\":");
            if (isHardLinked(node)) {
                number(linkSizes_[linkKey(*identity)]);
            } else {
                number(node.allocatedSize);
            }
        }
        if (identity != nullptr) {
            const FileIdentity* parentIdentity =
                parent && parent->identity ? &*parent->identity : nullptr;
            if (isRoot || (parentIdentity && parentIdentity->device != identity->device)) {
                text(",\"dev\":");
                number(static_cast<std::uint32_t>(identity->device));
            }
            if (isHardLinked(node)) {
                text(",\"ino\":");
                number(identity->inode);
                text(",\"hlnkc\":true,\"nlink\":");
                number(identity->linkCount);
                if (node.allocatedSize == 0 && linkSizes_[linkKey(*identity)] > 0) {
                    // The tree counts this file's blocks at another of its paths; reading the
                    // file back must count them there too, whatever the order of the paths.
                    text(",\"ombrelo_repeat\":true");
                }
            }
            if (!node.isDirectory && !identity->isRegularFile()) {
                text(",\"notreg\":true");
            }
            text(",\"mode\":");
            number(identity->mode);
            text(",\"mtime\":");
            number(identity->modifiedSeconds);
        } else if (node.isSymbolicLink) {
            text(",\"notreg\":true");
        }
        if (failedItself(node)) {
            text(",\"read_error\":true");
        }
        text("}");
    }

    // Errors are marked where they happened, not on every folder above.
    static bool failedItself(const FileNode& node) {
        if (!node.hasReadErrors) {
            return false;
        }
        return std::none_of(node.children.begin(), node.children.end(),
                            [](const FileNode& child) { return child.hasReadErrors; });
    }

    void name(std::string_view value) {
        buffer_ += '"';
        for (unsigned char c : value) {
            if (c == '"' || c == '\\') {
                buffer_ += '\\';
                buffer_ += static_cast<char>(c);
            } else if (c < 0x20) {
                static const char hex[] = "0123456789abcdef";
                buffer_ += "\\u00";
                buffer_ += hex[c >> 4];
                buffer_ += hex[c & 15];
            } else {
                buffer_ += static_cast<char>(c);
            }
        }
        buffer_ += '"';
        flushIfFull();
    }

    template <typename Integer> void number(Integer value) {
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        buffer_.append(digits, end);
    }

    void text(std::string_view value) {
        buffer_ += value;
        flushIfFull();
    }

    void flushIfFull() {
        if (buffer_.size() >= chunk) {
            flush();
        }
    }

    void flush() {
        if (!buffer_.empty()) {
            sink_(buffer_);
            buffer_.clear();
        }
    }

    std::int64_t takenAt_;
    const std::function<void(std::string_view)>& sink_;
    std::string buffer_;
    std::unordered_map<LinkKey, std::int64_t, LinkKeyHash> linkSizes_;
    std::unordered_map<std::string, std::vector<std::string>> otherFileSystems_;
    size_t written_ = 0;
};

// ---- Reading ----

struct EntryInfo {
    std::string name;
    std::int64_t asize = 0;
    std::int64_t dsize = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t linkCount = 1;
    std::int64_t mtime = 0;
    std::uint32_t mode = 0;
    bool hasDevice = false;
    bool hasInode = false;
    bool hasDiskSize = false;
    bool hasMtime = false;
    bool hasMode = false;
    bool hardLinked = false;
    // Written by us on every path of a hard-linked file but the one the tree counted.
    bool repeatedLink = false;
    bool notRegular = false;
    bool readError = false;
    // "pattern", "otherfs", "kernfs", "frmlnk": left out by the scan that wrote the file.
    std::string excluded;
};

class Reader {
public:
    explicit Reader(std::string_view text)
        : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

    SavedScan document() {
        SavedScan saved;
        expect('[', "'[' at the start");
        const std::uint64_t major = unsignedNumber("the format's version", 1000);
        if (major != 1) {
            fail("its format version is " + std::to_string(major) + "; only version 1 is read");
        }
        expect(',', "','");
        unsignedNumber("the format's minor version", 1000000);
        expect(',', "','");
        metadata(saved);
        expect(',', "','");
        skipSpace();
        if (p_ < end_ && *p_ == '{') {
            fail("the scanned item is not a folder");
        }
        expect('[', "the scanned folder");
        tree(saved);
        skipSpace();
        // Later minor versions may add elements after the tree.
        while (p_ < end_ && *p_ == ',') {
            ++p_;
            skipValue();
            skipSpace();
        }
        expect(']', "']' after the scanned folder");
        skipSpace();
        if (p_ != end_) {
            fail("text follows the end of the scan");
        }
        return saved;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw DecodingError(what + " (at byte " + std::to_string(p_ - begin_) + ")");
    }

    [[noreturn]] void failEarlyEnd() const { fail("the file ends in the middle of the scan"); }

    void skipSpace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) {
            ++p_;
        }
    }

    void expect(char c, const char* what) {
        skipSpace();
        if (p_ >= end_) {
            failEarlyEnd();
        }
        if (*p_ != c) {
            fail(std::string("expected ") + what);
        }
        ++p_;
    }

    void metadata(SavedScan& saved) {
        std::string program;
        std::string version;
        object([&](const std::string& key) {
            if (key == "progname") {
                string(program, "\"progname\"");
            } else if (key == "progver") {
                string(version, "\"progver\"");
            } else if (key == "timestamp") {
                saved.takenAt = static_cast<std::int64_t>(
                    unsignedNumber("\"timestamp\"", static_cast<std::uint64_t>(largestSize)));
            } else {
                skipValue();
            }
        });
        saved.writer = version.empty() ? program : program + " " + version;
        writtenByGdu_ = program == "gdu";
    }

    // Calls `member` for each key with the cursor on its value.
    template <typename Member> void object(Member&& member) {
        expect('{', "an object");
        skipSpace();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            return;
        }
        while (true) {
            skipSpace();
            if (p_ >= end_) {
                failEarlyEnd();
            }
            if (*p_ != '"') {
                fail("expected a member name");
            }
            string(key_, "a member name");
            expect(':', "':'");
            skipSpace();
            member(key_);
            skipSpace();
            if (p_ >= end_) {
                failEarlyEnd();
            }
            if (*p_ == '}') {
                ++p_;
                return;
            }
            if (*p_ != ',') {
                fail("expected ',' or '}' in an object");
            }
            ++p_;
        }
    }

    void string(std::string& out, const char* what) {
        skipSpace();
        if (p_ >= end_) {
            failEarlyEnd();
        }
        if (*p_ != '"') {
            fail(std::string("expected a string for ") + what);
        }
        ++p_;
        out.clear();
        while (true) {
            const char* run = p_;
            while (p_ < end_ && *p_ != '"' && *p_ != '\\') {
                ++p_;
            }
            out.append(run, p_);
            if (p_ >= end_) {
                failEarlyEnd();
            }
            if (*p_ == '"') {
                ++p_;
                return;
            }
            escape(out);
        }
    }

    void escape(std::string& out) {
        ++p_;
        if (p_ >= end_) {
            failEarlyEnd();
        }
        const char c = *p_++;
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out += c;
            return;
        case 'b':
            out += '\b';
            return;
        case 'f':
            out += '\f';
            return;
        case 'n':
            out += '\n';
            return;
        case 'r':
            out += '\r';
            return;
        case 't':
            out += '\t';
            return;
        case 'u':
            break;
        default:
            --p_;
            fail("a string holds an unknown escape");
        }
        std::uint32_t code = hex4();
        if (code >= 0xD800 && code < 0xDC00) {
            if (end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
                p_ += 2;
                const std::uint32_t low = hex4();
                if (low < 0xDC00 || low >= 0xE000) {
                    fail("a string holds a broken surrogate pair");
                }
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else {
                fail("a string holds a broken surrogate pair");
            }
        } else if (code >= 0xDC00 && code < 0xE000) {
            fail("a string holds a broken surrogate pair");
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::uint32_t hex4() {
        if (end_ - p_ < 4) {
            failEarlyEnd();
        }
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p_;
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                fail("a string holds a broken \\u escape");
            }
            ++p_;
        }
        return value;
    }

    // A whole number from 0 to `maximum`.
    std::uint64_t unsignedNumber(const char* what, std::uint64_t maximum) {
        skipSpace();
        if (p_ >= end_) {
            failEarlyEnd();
        }
        if (*p_ < '0' || *p_ > '9') {
            fail(std::string("expected a whole number of at least 0 for ") + what);
        }
        std::uint64_t value = 0;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
            const std::uint64_t digit = static_cast<std::uint64_t>(*p_ - '0');
            if (value > (maximum - digit) / 10) {
                fail(std::string("the number for ") + what + " is too large");
            }
            value = value * 10 + digit;
            ++p_;
        }
        if (p_ < end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E')) {
            fail(std::string("expected a whole number for ") + what);
        }
        return value;
    }

    std::int64_t signedNumber(const char* what) {
        skipSpace();
        const bool negative = p_ < end_ && *p_ == '-';
        if (negative) {
            ++p_;
        }
        const auto magnitude = static_cast<std::int64_t>(
            unsignedNumber(what, static_cast<std::uint64_t>(largestSize)));
        return negative ? -magnitude : magnitude;
    }

    bool boolean(const char* what) {
        skipSpace();
        if (end_ - p_ >= 4 && std::memcmp(p_, "true", 4) == 0) {
            p_ += 4;
            return true;
        }
        if (end_ - p_ >= 5 && std::memcmp(p_, "false", 5) == 0) {
            p_ += 5;
            return false;
        }
        fail(std::string("expected true or false for ") + what);
    }

    // Skips one value of any kind, nested to any depth, without recursing.
    void skipValue() {
        std::int64_t depth = 0;
        do {
            skipSpace();
            if (p_ >= end_) {
                failEarlyEnd();
            }
            const char c = *p_;
            if (c == '{' || c == '[') {
                ++depth;
                ++p_;
            } else if (c == '}' || c == ']') {
                if (depth == 0) {
                    fail("expected a value");
                }
                --depth;
                ++p_;
            } else if (c == ',' || c == ':') {
                if (depth == 0) {
                    fail("expected a value");
                }
                ++p_;
            } else if (c == '"') {
                string(scratch_, "a value");
            } else if (c == '-' || (c >= '0' && c <= '9')) {
                ++p_;
                while (p_ < end_ && ((*p_ >= '0' && *p_ <= '9') || *p_ == '.' || *p_ == 'e' ||
                                     *p_ == 'E' || *p_ == '+' || *p_ == '-')) {
                    ++p_;
                }
            } else if (end_ - p_ >= 4 &&
                       (std::memcmp(p_, "true", 4) == 0 || std::memcmp(p_, "null", 4) == 0)) {
                p_ += 4;
            } else if (end_ - p_ >= 5 && std::memcmp(p_, "false", 5) == 0) {
                p_ += 5;
            } else {
                fail("expected a value");
            }
        } while (depth > 0);
    }

    void info(EntryInfo& entry) {
        entry.name.clear();
        entry.excluded.clear();
        entry.asize = entry.dsize = 0;
        entry.linkCount = 1;
        entry.hasDevice = entry.hasInode = entry.hasMtime = entry.hasMode = false;
        entry.hasDiskSize = false;
        entry.hardLinked = entry.notRegular = entry.readError = entry.repeatedLink = false;
        bool named = false;
        object([&](const std::string& key) {
            if (key == "name") {
                string(entry.name, "\"name\"");
                named = true;
            } else if (key == "asize") {
                entry.asize = static_cast<std::int64_t>(
                    unsignedNumber("\"asize\"", static_cast<std::uint64_t>(largestSize)));
            } else if (key == "dsize") {
                entry.dsize = static_cast<std::int64_t>(
                    unsignedNumber("\"dsize\"", static_cast<std::uint64_t>(largestSize)));
                entry.hasDiskSize = true;
            } else if (key == "dev") {
                entry.device = unsignedNumber("\"dev\"", UINT64_MAX);
                entry.hasDevice = true;
            } else if (key == "ino") {
                entry.inode = unsignedNumber("\"ino\"", UINT64_MAX);
                entry.hasInode = true;
            } else if (key == "nlink") {
                entry.linkCount =
                    static_cast<std::int64_t>(unsignedNumber("\"nlink\"", UINT32_MAX));
            } else if (key == "hlnkc") {
                entry.hardLinked = boolean("\"hlnkc\"");
            } else if (key == "ombrelo_repeat") {
                entry.repeatedLink = boolean("\"ombrelo_repeat\"");
            } else if (key == "notreg") {
                entry.notRegular = boolean("\"notreg\"");
            } else if (key == "read_error") {
                entry.readError = boolean("\"read_error\"");
            } else if (key == "excluded") {
                string(entry.excluded, "\"excluded\"");
            } else if (key == "mtime") {
                entry.mtime = signedNumber("\"mtime\"");
                entry.hasMtime = true;
            } else if (key == "mode") {
                entry.mode = static_cast<std::uint32_t>(unsignedNumber("\"mode\"", 0xFFFF));
                entry.hasMode = true;
            } else {
                skipValue();
            }
        });
        if (!named) {
            fail("an entry has no name");
        }
    }

    void checkName(const std::string& name, bool isRoot) {
        if (isRoot) {
            if (name.empty() || name[0] != '/') {
                fail("the scanned folder's name is not an absolute path");
            }
            if (name.size() > longestRootPath) {
                fail("the scanned folder's path is too long");
            }
            if (name.find('\0') != std::string::npos) {
                fail("the scanned folder's path holds a zero byte");
            }
            // Paths are compared as text: the root's must be the one way of writing it.
            const std::string padded = name + "/";
            if (padded.find("/./") != std::string::npos ||
                padded.find("/../") != std::string::npos ||
                (name.size() > 1 && padded.find("//") != std::string::npos)) {
                fail("the scanned folder's path holds '.', '..' or an empty part");
            }
            return;
        }
        if (name.empty() || name == "." || name == "..") {
            fail("an entry has the name \"" + name + "\"");
        }
        if (name.size() > longestName) {
            fail("a name is longer than " + std::to_string(longestName) + " bytes");
        }
        if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
            fail("a name holds '/' or a zero byte");
        }
    }

    struct Frame {
        FileNode node;
        std::uint64_t device;
    };

    FileNode node(const EntryInfo& entry, bool isFolder, const Frame* parent,
                  std::uint64_t device) {
        Url url = parent == nullptr ? Url::file(entry.name, true)
                                    : parent->node.id.appendingPathComponent(entry.name, isFolder);
        FileIdentity identity;
        identity.inode = entry.inode;
        identity.size = entry.asize;
        identity.modifiedSeconds = entry.mtime;
        identity.device = static_cast<std::int32_t>(static_cast<std::uint32_t>(device));
        if (entry.hasMode) {
            identity.mode = static_cast<std::uint16_t>(entry.mode);
        } else if (isFolder) {
            identity.mode = S_IFDIR | 0755;
        } else if (!entry.notRegular) {
            identity.mode = S_IFREG | 0644;
        }
        if (isFolder && (identity.mode & S_IFMT) != S_IFDIR) {
            fail("a folder's mode is not a folder's");
        }
        identity.linkCount =
            static_cast<std::uint16_t>(std::min<std::int64_t>(entry.linkCount, UINT16_MAX));
        const bool link = (identity.mode & S_IFMT) == S_IFLNK;

        std::int64_t allocated = entry.dsize;
        bool repeatedLink = false;
        if (isFolder && !entry.hasDiskSize && writtenByGdu_) {
            // gdu leaves out folders' own blocks and counts one block for each when it reads
            // its file back; the totals it shows are what a reader of its file expects.
            allocated = 4096;
        }
        if (!isFolder && entry.hasInode && (entry.hardLinked || entry.linkCount > 1)) {
            if (identity.linkCount < 2) {
                identity.linkCount = 2;
            }
            // Counted once, at its first path, as du counts it.
            if (entry.repeatedLink || !links_.insert({device, entry.inode}).second) {
                allocated = 0;
                repeatedLink = true;
            }
        }
        // Without its times an entry has no identity worth keeping: ncdu writes them only with
        // -e, and a made-up 1970 would sort and show as a real date.
        std::optional<FileIdentity> known;
        if (entry.hasMtime) {
            known = identity;
        }
        FileNode node(std::move(url), isFolder, isFolder ? 0 : entry.asize, allocated, {},
                      isFolder ? 0 : 1, 0, link, entry.readError, !entry.readError, known);
        node.isRepeatedLink = repeatedLink;
        return node;
    }

    void noteReadError(const FileNode& node, SavedScan& saved) {
        ++saved.result.skippedCount;
        if (saved.result.inaccessiblePaths.size() < 100) {
            saved.result.inaccessiblePaths.push_back(node.id.path());
        }
    }

    void noteFile(const FileNode& node, const EntryInfo& entry, SavedScan& saved) {
        const double days = entry.hasMtime && saved.takenAt != 0
                                ? static_cast<double>(saved.takenAt - entry.mtime) / 86400.0
                                : 0.0;
        saved.result.ageSizes[static_cast<size_t>(ScanEngine::ageBucket(days))] += node.logicalSize;
        saved.result.typeSizes[static_cast<size_t>(
            ScanEngine::kindBucket(node.id.lastPathComponentView()))] += node.logicalSize;
    }

    void add(std::int64_t& total, std::int64_t amount) {
        if (__builtin_add_overflow(total, amount, &total) || total > largestSize) {
            fail("the sizes add up to more than can be counted");
        }
    }

    void attach(FileNode&& child, FileNode& parent) {
        add(parent.logicalSize, child.logicalSize);
        add(parent.allocatedSize, child.allocatedSize);
        parent.fileCount += child.fileCount;
        parent.folderCount += child.folderCount + (child.isDirectory ? 1 : 0);
        parent.hasReadErrors = parent.hasReadErrors || child.hasReadErrors;
        parent.allocatedSizeComplete =
            parent.allocatedSizeComplete && child.allocatedSizeComplete && !child.hasReadErrors;
        parent.children.push_back(std::move(child));
    }

    static void rank(FileNode& folder) {
        std::sort(folder.children.begin(), folder.children.end(),
                  [](const FileNode& a, const FileNode& b) {
                      if (a.logicalSize != b.logicalSize) {
                          return a.logicalSize > b.logicalSize;
                      }
                      return a.id.lastPathComponentView() < b.id.lastPathComponentView();
                  });
        // The room left by growing the list one child at a time is a fifth of a loaded tree.
        folder.children.shrink_to_fit();
    }

    // The cursor is just after the '[' that opens the scanned folder.
    void tree(SavedScan& saved) {
        std::vector<Frame> stack;
        EntryInfo entry;
        info(entry);
        if (entry.name.size() > 1 && entry.name.back() == '/') {
            entry.name.pop_back(); // "/srv/data/" names the same folder
        }
        checkName(entry.name, true);
        openFolder(entry, stack, saved);
        size_t entries = 0;
        while (true) {
            if (++entries % 4096 == 0) {
                Task::checkCancellation();
            }
            skipSpace();
            if (p_ >= end_) {
                failEarlyEnd();
            }
            if (*p_ == ']') {
                ++p_;
                Frame done = std::move(stack.back());
                stack.pop_back();
                rank(done.node);
                if (stack.empty()) {
                    saved.result.root = std::move(done.node);
                    return;
                }
                attach(std::move(done.node), stack.back().node);
                continue;
            }
            if (*p_ != ',') {
                fail("expected ',' or ']' after an entry");
            }
            ++p_;
            skipSpace();
            if (p_ >= end_) {
                failEarlyEnd();
            }
            if (*p_ == '[') {
                ++p_;
                info(entry);
                checkName(entry.name, false);
                if (!entry.excluded.empty()) {
                    fail("a folder's list is marked as left out");
                }
                openFolder(entry, stack, saved);
            } else if (*p_ == '{') {
                info(entry);
                checkName(entry.name, false);
                file(entry, stack.back(), saved);
            } else {
                fail("expected an entry: an object, or a list for a folder");
            }
        }
    }

    void openFolder(const EntryInfo& entry, std::vector<Frame>& stack, SavedScan& saved) {
        if (stack.size() >= static_cast<size_t>(ScanArchive::maximumDepth)) {
            fail("folders are nested deeper than " + std::to_string(ScanArchive::maximumDepth) +
                 " levels");
        }
        const Frame* parent = stack.empty() ? nullptr : &stack.back();
        const std::uint64_t device = entry.hasDevice ? entry.device : (parent ? parent->device : 0);
        FileNode folder = node(entry, true, parent, device);
        if (entry.readError) {
            noteReadError(folder, saved);
        }
        stack.push_back({std::move(folder), device});
    }

    void file(const EntryInfo& entry, Frame& parent, SavedScan& saved) {
        const std::uint64_t device = entry.hasDevice ? entry.device : parent.device;
        if (!entry.excluded.empty()) {
            // Left out by the scan that wrote the file: told, not counted.
            if (entry.excluded == "otherfs") {
                saved.result.otherFileSystems.push_back(
                    parent.node.id.appendingPathComponent(entry.name, true).path());
            } else {
                ++saved.result.excludedCount;
            }
            return;
        }
        // ncdu writes a folder it could not read as an object.
        const bool isFolder = entry.hasMode && (entry.mode & S_IFMT) == S_IFDIR;
        FileNode made = node(entry, isFolder, &parent, device);
        if (entry.readError) {
            noteReadError(made, saved);
        }
        if (!isFolder) {
            noteFile(made, entry, saved);
        }
        attach(std::move(made), parent.node);
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    std::string key_;
    std::string scratch_;
    std::unordered_set<LinkKey, LinkKeyHash> links_;
    bool writtenByGdu_ = false;
};

// ---- Files ----

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// `compressedSize` is 0 when it is not known (a pipe).
std::string inflate(int fd, const std::string& path, std::uint64_t compressedSize) {
    const int copy = ::dup(fd);
    if (copy < 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    gzFile gz = ::gzdopen(copy, "rb");
    if (gz == nullptr) {
        ::close(copy);
        throw FileError::fromReadErrno(ENOMEM, path);
    }
    ::gzbuffer(gz, 1 << 17);
    std::string text;
    // A saved scan expands about sixfold; growing the text from nothing copies it many times.
    text.reserve(
        static_cast<size_t>(std::min<std::uint64_t>(compressedSize * 7, largestExpansion)));
    std::string failure;
    while (true) {
        const size_t start = text.size();
        if (start >= largestExpansion || (compressedSize > 0 && start >= ratioCheckedFrom &&
                                          start / largestRatio > compressedSize)) {
            failure = "it expands to far more than a saved scan would";
            break;
        }
        if (start > 0 && start <= (1 << 20)) {
            const size_t first = text.find_first_not_of(" \t\r\n");
            if (first != std::string::npos && text[first] != '[') {
                break; // not a scan: the parser says so without the rest
            }
        }
        text.resize(start + (1 << 20));
        const int got = ::gzread(gz, text.data() + start, 1 << 20);
        if (got < 0) {
            int code = 0;
            const char* message = ::gzerror(gz, &code);
            failure = code == Z_ERRNO ? std::string(std::strerror(errno))
                                      : "its compressed data is damaged (" +
                                            std::string(message ? message : "") + ")";
            text.resize(start);
            break;
        }
        text.resize(start + static_cast<size_t>(got));
        if (got == 0) {
            break;
        }
    }
    ::gzclose(gz);
    if (!failure.empty()) {
        throw DecodingError(failure);
    }
    return text;
}

void writeAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t done = ::write(fd, data.data(), data.size());
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError::fromWriteErrno(errno, path);
        }
        data.remove_prefix(static_cast<size_t>(done));
    }
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

} // namespace

void ScanArchive::write(const ScanResult& result, std::int64_t takenAt,
                        const std::function<void(std::string_view)>& sink) {
    write(result.root, result.otherFileSystems, takenAt, sink);
}

void ScanArchive::write(const FileNode& root, const std::vector<std::string>& otherFileSystems,
                        std::int64_t takenAt, const std::function<void(std::string_view)>& sink) {
    Writer(takenAt, sink).document(root, otherFileSystems);
}

namespace {

void writeTo(int fd, bool compressed, const FileNode& root,
             const std::vector<std::string>& otherFileSystems, std::int64_t takenAt,
             const std::string& path) {
    if (!compressed) {
        ScanArchive::write(root, otherFileSystems, takenAt,
                           [&](std::string_view piece) { writeAll(fd, piece, path); });
        return;
    }
    const int copy = ::dup(fd);
    if (copy < 0) {
        throw FileError::fromWriteErrno(errno, path);
    }
    // Level 1: the file shrinks nearly as much, at a fraction of the time.
    gzFile gz = ::gzdopen(copy, "wb1");
    if (gz == nullptr) {
        ::close(copy);
        throw FileError::fromWriteErrno(ENOMEM, path);
    }
    int failure = 0;
    ScanArchive::write(root, otherFileSystems, takenAt, [&](std::string_view piece) {
        if (failure == 0 && !piece.empty() &&
            ::gzwrite(gz, piece.data(), static_cast<unsigned>(piece.size())) == 0) {
            failure = errno != 0 ? errno : EIO;
        }
    });
    if (::gzclose(gz) != Z_OK && failure == 0) {
        failure = errno != 0 ? errno : EIO;
    }
    if (failure != 0) {
        throw FileError::fromWriteErrno(failure, path);
    }
}

} // namespace

void ScanArchive::save(const ScanResult& result, std::int64_t takenAt, const std::string& path) {
    save(result.root, result.otherFileSystems, takenAt, path);
}

void ScanArchive::save(const FileNode& root, const std::vector<std::string>& otherFileSystems,
                       std::int64_t takenAt, const std::string& path) {
    const bool compressed = endsWith(path, ".gz");
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode)) {
            throw FileError::fromWriteErrno(EISDIR, path);
        }
        // A device or a pipe (/dev/null, /dev/stdout) is written in place: a file renamed over
        // it would take the device's place.
        Descriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (fd.get() < 0) {
            throw FileError::fromWriteErrno(errno, path);
        }
        writeTo(fd.get(), compressed, root, otherFileSystems, takenAt, path);
        if (::close(fd.release()) != 0) {
            throw FileError::fromWriteErrno(errno, path);
        }
        return;
    }
    // Through a symbolic link, the file it names is replaced and the link stays.
    std::string target = path;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    // A new name of our own beside it, created with the permissions a new file gets (the umask
    // applies), as the saved file should have.
    std::string temporary;
    Descriptor fd(-1);
    std::random_device random;
    for (int attempt = 0; fd.get() < 0; ++attempt) {
        temporary = target + ".partial-" + std::to_string(random());
        fd = Descriptor(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (fd.get() < 0 && (errno != EEXIST || attempt == 100)) {
            throw FileError::fromWriteErrno(errno, path);
        }
    }
    try {
        writeTo(fd.get(), compressed, root, otherFileSystems, takenAt, path);
        if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
            throw FileError::fromWriteErrno(errno, path);
        }
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            throw FileError::fromWriteErrno(errno, path);
        }
    } catch (...) {
        // Only our own partial file goes; whatever was at `path` stays.
        ::unlink(temporary.c_str());
        throw;
    }
}

SavedScan ScanArchive::read(std::string_view text) {
    return Reader(text).document();
}

SavedScan ScanArchive::load(const std::string& path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    if (S_ISDIR(status.st_mode)) {
        throw FileError::fromReadErrno(EISDIR, path);
    }
    const auto prefix = [&](const DecodingError& error) {
        return DecodingError(path + " is not a scan saved in ncdu's JSON format: " + error.what());
    };
    try {
        if (!S_ISREG(status.st_mode)) {
            // A pipe or a device (`--load /dev/stdin`) is read as it comes; zlib passes text
            // that is not compressed through unchanged.
            const std::string text = inflate(fd.get(), path, 0);
            if (text.empty()) {
                throw DecodingError("the file is empty");
            }
            return read(text);
        }
        unsigned char magic[2] = {0, 0};
        const ssize_t got = ::pread(fd.get(), magic, 2, 0);
        if (got < 0) {
            throw FileError::fromReadErrno(errno, path);
        }
        if (got == 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
            const std::string text =
                inflate(fd.get(), path, static_cast<std::uint64_t>(status.st_size));
            return read(text);
        }
        const auto size = static_cast<size_t>(status.st_size);
        if (size == 0) {
            throw DecodingError("the file is empty");
        }
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
        if (mapped == MAP_FAILED) {
            throw FileError::fromReadErrno(errno, path);
        }
        ::madvise(mapped, size, MADV_SEQUENTIAL);
        struct Unmap {
            void* address;
            size_t size;
            ~Unmap() { ::munmap(address, size); }
        } unmap{mapped, size};
        return read(std::string_view(static_cast<const char*>(mapped), size));
    } catch (const DecodingError& error) {
        throw prefix(error);
    }
}

} // namespace varnok
