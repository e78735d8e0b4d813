#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnok {

// An absolute URL. File URLs keep the decoded path and a folder flag: the folder form ends in "/"
// ("file:///home/a/Microsoft%20Edge/"). Other schemes ("varnok-group://…") keep their text as
// given. Two URLs are equal when their absolute texts are equal.
//
// A URL is one pointer to an immutable, reference-counted block, so copies are cheap and may be
// handed between threads. A file URL made by appending a name keeps only that name and its
// parent's block: the nodes of a scanned tree share their ancestors' names, and texts are formed
// when asked for.
class Url {
public:
    Url() noexcept = default;
    Url(const Url& other) noexcept : block_(other.block_) { retain(block_); }
    Url(Url&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    Url& operator=(const Url& other) noexcept {
        Url copy(other);
        std::swap(block_, copy.block_);
        return *this;
    }
    Url& operator=(Url&& other) noexcept {
        Url taken(std::move(other));
        std::swap(block_, taken.block_);
        return *this;
    }
    ~Url() { release(block_); }

    // `path` must be absolute. Trailing slashes are dropped from the stored path; the folder
    // form is chosen by `isDirectory`.
    static Url file(std::string_view path, bool isDirectory);
    // Folder form exactly when `path` ends in "/".
    static Url file(std::string_view path);
    // Parses absolute URL text: "file:///…" (or "file://localhost/…") with percent-encoding, or
    // any "scheme:…" text. Returns nothing for text that is not an absolute URL.
    static std::optional<Url> parse(std::string_view text);

    bool isEmpty() const { return block_ == nullptr; }
    bool isFileUrl() const { return block_ != nullptr && block_->form != otherForm; }
    // True for the folder form of a file URL, and for other URLs whose text ends in "/".
    bool hasDirectoryPath() const;
    std::string scheme() const;
    // The absolute path without a trailing "/" ("/" for the root folder). For other schemes, the
    // decoded path part of the text.
    std::string path() const;
    std::string absoluteString() const;
    // Appends the absolute text to `out`, for writers of many URLs.
    void appendAbsoluteString(std::string& out) const;

    std::string lastPathComponent() const;
    // The last path component of a file URL without copying it (for sorting many names). Valid
    // while this URL or a copy of it lives.
    std::string_view lastPathComponentView() const;
    // The parent, in folder form.
    Url deletingLastPathComponent() const;
    Url appendingPathComponent(std::string_view component, bool isDirectory = false) const;
    // "." and ".." removed lexically; the folder form is kept.
    Url standardized() const;
    Url withDirectoryForm(bool isDirectory) const;

    // A cheap test for writers of trees: true when this URL was made by
    // `base.appendingPathComponent(name, …)` (on `base` or a copy of it) with a plain name, so
    // that its text is the text of `base`, a "/" unless that text ends in one, the encoded
    // `lastPathComponentView()` and the folder "/". False does not mean the texts differ.
    bool isAppendedTo(const Url& base) const;

    friend bool operator==(const Url& a, const Url& b) {
        return a.block_ == b.block_ || sameText(a.block_, b.block_);
    }
    friend bool operator<(const Url& a, const Url& b) {
        return a.block_ != b.block_ && a.absoluteString() < b.absoluteString();
    }
    size_t hash() const;

private:
    friend struct UrlBlocks;

    // The shared, immutable representation.
    struct Block {
        std::atomic<std::uint32_t> references;
        // Bytes of own text after the block: the whole stored text for flat file URLs (the
        // decoded path, with a trailing "/" in folder form) and other URLs; the last name for
        // linked file URLs.
        std::uint32_t length : 29;
        std::uint32_t form : 2;
        // The folder form of a linked file URL.
        std::uint32_t folder : 1;
        // The URL that a linked file URL was appended to; null otherwise.
        Block* parent;
    };
    static constexpr std::uint32_t flatFileForm = 0;
    static constexpr std::uint32_t linkedFileForm = 1;
    static constexpr std::uint32_t otherForm = 2;

    explicit Url(Block* block) noexcept : block_(block) {}
    static void retain(Block* block) noexcept {
        if (block != nullptr) {
            block->references.fetch_add(1, std::memory_order_relaxed);
        }
    }
    static void release(Block* block) noexcept {
        if (block != nullptr && block->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            destroy(block);
        }
    }
    // Frees the block and every parent that no other URL holds, without recursing.
    static void destroy(Block* block) noexcept;
    static bool sameText(const Block* a, const Block* b);

    Block* block_ = nullptr;
};

// Path text helpers.
//
// On Linux a name is its bytes: a composed "é" and an "e" followed by a combining accent are two
// files side by side in one folder. So `equal` and `isInside` compare bytes, and only they may
// decide which file is picked, matched, queued or moved. Unicode canonical equivalence
// (`equivalent`, `isInsideEquivalent`) may only make a refusal stricter, as the overlap checks of
// a plan do: two spellings of one name are refused together rather than told apart there.
namespace PathText {

// The non-empty components of a path, in order, as views into it.
std::vector<std::string_view> components(std::string_view path);
// Lexically removes ".", ".." and repeated or trailing slashes of an absolute path.
std::string standardize(std::string_view path);
// The path in Unicode Normalization Form C; text that is not valid UTF-8 is returned unchanged.
std::string canonical(std::string_view path);
// The same bytes: the same file.
bool equal(std::string_view a, std::string_view b);
// True when `path` begins with `ancestor` followed by "/" (equal paths are not inside).
bool isInside(std::string_view path, std::string_view ancestor);
// Orders paths with "/" before every other byte, so that the paths inside a folder follow it
// directly and the nearest enclosing folder of a path sorts just before it.
bool foldersFirst(std::string_view a, std::string_view b);
// The same text under canonical equivalence. For refusals only.
bool equivalent(std::string_view a, std::string_view b);
// `isInside` under canonical equivalence. For refusals only.
bool isInsideEquivalent(std::string_view path, std::string_view ancestor);
std::string lastComponent(std::string_view path);
// The parent folder path ("/" for top-level entries and for "/").
std::string parent(std::string_view path);
// `path` with every byte outside the unreserved and path-safe set percent-encoded.
std::string percentEncode(std::string_view path);
void appendPercentEncoded(std::string& out, std::string_view path);
std::optional<std::string> percentDecode(std::string_view text);
// The value of one hexadecimal digit in either case, or -1.
int hexDigitValue(char c);
// Valid UTF-8 is kept; other bytes become U+FFFD, for display and JSON.
std::string displayable(std::string_view text);

} // namespace PathText

} // namespace varnok

template <> struct std::hash<varnok::Url> {
    size_t operator()(const varnok::Url& url) const noexcept { return url.hash(); }
};
