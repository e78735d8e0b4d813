#include "core/common/Url.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <utf8proc.h>
#include <vector>

namespace varnok {

namespace PathText {

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') {
            ++i;
        }
        size_t j = i;
        while (j < path.size() && path[j] != '/') {
            ++j;
        }
        if (j > i) {
            parts.push_back(path.substr(i, j - i));
        }
        i = j;
    }
    return parts;
}

std::string standardize(std::string_view path) {
    std::vector<std::string_view> parts;
    for (std::string_view part : components(path)) {
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty()) {
        return "/";
    }
    std::string out;
    out.reserve(path.size());
    for (auto part : parts) {
        out += '/';
        out += part;
    }
    return out;
}

namespace {
bool isAscii(std::string_view s) {
    for (unsigned char c : s) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}
} // namespace

std::string canonical(std::string_view path) {
    if (isAscii(path)) {
        return std::string(path);
    }
    utf8proc_uint8_t* out = nullptr;
    auto length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(path.data()),
                               static_cast<utf8proc_ssize_t>(path.size()), &out,
                               static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length < 0) {
        return std::string(path);
    }
    std::string result(reinterpret_cast<char*>(out), static_cast<size_t>(length));
    std::free(out);
    return result;
}

bool equal(std::string_view a, std::string_view b) {
    return a == b;
}

bool isInside(std::string_view path, std::string_view ancestor) {
    if (ancestor == "/") {
        return path.size() > 1 && path.front() == '/';
    }
    return path.size() > ancestor.size() && path.substr(0, ancestor.size()) == ancestor &&
           path[ancestor.size()] == '/';
}

bool equivalent(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    if (isAscii(a) && isAscii(b)) {
        return false;
    }
    return canonical(a) == canonical(b);
}

bool foldersFirst(std::string_view a, std::string_view b) {
    auto rank = [](char c) { return c == '/' ? 0 : static_cast<unsigned char>(c) + 1; };
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            return rank(a[i]) < rank(b[i]);
        }
    }
    return a.size() < b.size();
}

bool isInsideEquivalent(std::string_view path, std::string_view ancestor) {
    if (isAscii(path) && isAscii(ancestor)) {
        return isInside(path, ancestor);
    }
    return isInside(canonical(path), canonical(ancestor));
}

std::string lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    if (path == "/") {
        return "/";
    }
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string parent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos || slash == 0) {
        return "/";
    }
    return std::string(path.substr(0, slash));
}

namespace {
bool keepsInPath(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case '=':
    case ':':
    case '@':
    case '/':
        return true;
    default:
        return false;
    }
}
} // namespace

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string percentEncode(std::string_view path) {
    std::string out;
    out.reserve(path.size() + 8);
    appendPercentEncoded(out, path);
    return out;
}

void appendPercentEncoded(std::string& out, std::string_view path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    for (unsigned char c : path) {
        if (keepsInPath(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0xF];
        }
    }
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        int high = hexDigitValue(text[i + 1]);
        int low = hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string displayable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto data = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        utf8proc_int32_t codepoint = 0;
        auto used = utf8proc_iterate(data, remaining, &codepoint);
        if (used <= 0) {
            out += "\xEF\xBF\xBD";
            used = 1;
        } else {
            out.append(reinterpret_cast<const char*>(data), static_cast<size_t>(used));
        }
        data += used;
        remaining -= used;
    }
    return out;
}

} // namespace PathText

// Reads and makes the blocks behind URLs. A linked file URL's stored text is the prefix of its
// parent, its name and the folder "/"; the prefix of a block is its text followed by a "/" unless
// that text ends in one.
struct UrlBlocks {
    using Block = Url::Block;

    static std::string_view own(const Block* block) {
        return {reinterpret_cast<const char*>(block + 1), block->length};
    }
    static bool isLinked(const Block* block) { return block->form == Url::linkedFileForm; }
    static bool isFile(const Block* block) { return block->form != Url::otherForm; }

    static Block* make(std::uint32_t form, std::string_view text, bool folder, Block* parent) {
        if (text.size() >= (std::size_t{1} << 29)) {
            throw std::length_error("URL text too long");
        }
        Block* block = static_cast<Block*>(::operator new(sizeof(Block) + text.size()));
        new (block) Block{};
        block->references.store(1, std::memory_order_relaxed);
        block->length = static_cast<std::uint32_t>(text.size()) & ((1u << 29) - 1);
        block->form = form & 3u;
        block->folder = folder ? 1u : 0u;
        block->parent = parent;
        if (!text.empty()) {
            std::memcpy(reinterpret_cast<char*>(block + 1), text.data(), text.size());
        }
        return block;
    }
    static Url flat(std::string_view stored) {
        return Url(make(Url::flatFileForm, stored, false, nullptr));
    }
    static Url other(std::string_view text) {
        return text.empty() ? Url() : Url(make(Url::otherForm, text, false, nullptr));
    }
    static Url linked(Block* parent, std::string_view name, bool folder) {
        Block* block = make(Url::linkedFileForm, name, folder, parent);
        Url::retain(parent);
        return Url(block);
    }

    static std::size_t prefixLength(const Block* block) {
        std::size_t length = 0;
        for (; isLinked(block); block = block->parent) {
            length += block->length + 1;
        }
        std::string_view text = own(block);
        return length + text.size() + (text.empty() || text.back() != '/' ? 1 : 0);
    }
    static std::size_t storedLength(const Block* block) {
        if (!isLinked(block)) {
            return block->length;
        }
        return block->folder + block->length + prefixLength(block->parent);
    }
    static char* put(char* end, std::string_view text) {
        end -= text.size();
        if (!text.empty()) {
            std::memcpy(end, text.data(), text.size());
        }
        return end;
    }
    // Writes the stored text of `block` so that it ends just before `end`, parents last.
    static void fill(const Block* block, char* end) {
        if (isLinked(block)) {
            if (block->folder) {
                *--end = '/';
            }
            end = put(end, own(block));
            block = block->parent;
            for (; isLinked(block); block = block->parent) {
                *--end = '/';
                end = put(end, own(block));
            }
            std::string_view text = own(block);
            if (text.empty() || text.back() != '/') {
                *--end = '/';
            }
        }
        put(end, own(block));
    }
    static std::string stored(const Block* block) {
        std::string text(storedLength(block), '\0');
        fill(block, text.data() + text.size());
        return text;
    }

    // The stored text of a block (empty for none), formed in place for linked blocks.
    class StoredText {
    public:
        explicit StoredText(const Block* block) {
            if (block == nullptr) {
                return;
            }
            if (!isLinked(block)) {
                view_ = own(block);
                return;
            }
            std::size_t size = storedLength(block);
            char* data = small_;
            if (size > sizeof small_) {
                large_ = std::make_unique<char[]>(size);
                data = large_.get();
            }
            fill(block, data + size);
            view_ = std::string_view(data, size);
        }
        std::string_view view() const { return view_; }

    private:
        char small_[256];
        std::unique_ptr<char[]> large_;
        std::string_view view_;
    };

    // A stored text read backwards in pieces, reaching each parent's prefix in turn.
    class ReverseText {
    public:
        explicit ReverseText(const Block* block) {
            push(own(block));
            if (isLinked(block)) {
                if (block->folder) {
                    push("/");
                }
                next_ = block->parent;
            }
        }
        // True when what is left to read is exactly the prefix of `next()` (nothing when null).
        bool betweenBlocks() {
            dropEmpty();
            return count_ == 0;
        }
        const Block* next() const { return next_; }
        // The piece to read from its end next; null at the start of the text.
        std::string_view* piece() {
            for (;;) {
                dropEmpty();
                if (count_ > 0) {
                    return &pieces_[count_ - 1];
                }
                if (next_ == nullptr) {
                    return nullptr;
                }
                const Block* block = next_;
                std::string_view text = own(block);
                push(text);
                if (isLinked(block)) {
                    push("/");
                    next_ = block->parent;
                } else {
                    if (text.empty() || text.back() != '/') {
                        push("/");
                    }
                    next_ = nullptr;
                }
            }
        }

    private:
        void push(std::string_view text) { pieces_[count_++] = text; }
        void dropEmpty() {
            while (count_ > 0 && pieces_[count_ - 1].empty()) {
                --count_;
            }
        }
        std::string_view pieces_[2];
        int count_ = 0;
        const Block* next_ = nullptr;
    };

    static bool sameText(const Block* a, const Block* b) {
        if (a == nullptr || b == nullptr || isFile(a) != isFile(b)) {
            return false;
        }
        if (!isLinked(a) && !isLinked(b)) {
            return own(a) == own(b);
        }
        // Compared from the end, where names differ; a shared parent ends the comparison.
        ReverseText x(a);
        ReverseText y(b);
        for (;;) {
            if (x.betweenBlocks() && y.betweenBlocks() && x.next() == y.next()) {
                return true;
            }
            std::string_view* p = x.piece();
            std::string_view* q = y.piece();
            if (p == nullptr || q == nullptr) {
                return p == q;
            }
            std::size_t n = std::min(p->size(), q->size());
            if (std::memcmp(p->data() + p->size() - n, q->data() + q->size() - n, n) != 0) {
                return false;
            }
            p->remove_suffix(n);
            q->remove_suffix(n);
        }
    }
};

void Url::destroy(Block* block) noexcept {
    while (block != nullptr) {
        Block* parent = block->parent;
        block->~Block();
        ::operator delete(block);
        if (parent == nullptr || parent->references.fetch_sub(1, std::memory_order_acq_rel) != 1) {
            return;
        }
        block = parent;
    }
}

bool Url::sameText(const Block* a, const Block* b) {
    return UrlBlocks::sameText(a, b);
}

size_t Url::hash() const {
    UrlBlocks::StoredText text(block_);
    return std::hash<std::string_view>{}(text.view()) ^ (isFileUrl() ? size_t{0} : size_t{1});
}

Url Url::file(std::string_view path, bool isDirectory) {
    std::string stored(path);
    while (stored.size() > 1 && stored.back() == '/') {
        stored.pop_back();
    }
    if (stored.empty()) {
        stored = "/";
    }
    if (isDirectory && stored != "/") {
        stored += '/';
    }
    return UrlBlocks::flat(stored);
}

Url Url::file(std::string_view path) {
    return file(path, !path.empty() && path.back() == '/');
}

std::optional<Url> Url::parse(std::string_view text) {
    constexpr std::string_view filePrefix = "file://";
    if (text.substr(0, filePrefix.size()) == filePrefix) {
        std::string_view rest = text.substr(filePrefix.size());
        constexpr std::string_view localhost = "localhost";
        if (rest.substr(0, localhost.size()) == localhost) {
            rest.remove_prefix(localhost.size());
        }
        if (rest.empty() || rest.front() != '/') {
            return std::nullopt;
        }
        auto decoded = PathText::percentDecode(rest);
        if (!decoded || decoded->find('\0') != std::string::npos) {
            return std::nullopt;
        }
        return file(*decoded);
    }
    auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    for (size_t i = 0; i < colon; ++i) {
        char c = text[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) {
            return std::nullopt;
        }
    }
    return UrlBlocks::other(text);
}

bool Url::hasDirectoryPath() const {
    if (block_ == nullptr) {
        return false;
    }
    if (UrlBlocks::isLinked(block_)) {
        return block_->folder != 0;
    }
    std::string_view text = UrlBlocks::own(block_);
    return !text.empty() && text.back() == '/';
}

std::string Url::scheme() const {
    if (isFileUrl()) {
        return "file";
    }
    std::string_view text = block_ == nullptr ? std::string_view() : UrlBlocks::own(block_);
    auto colon = text.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(text.substr(0, colon));
}

namespace {
// The path part of "scheme://authority/path" or "scheme:path".
std::string_view otherPathPart(std::string_view text) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return {};
    }
    std::string_view rest = text.substr(colon + 1);
    if (rest.substr(0, 2) == "//") {
        auto slash = rest.find('/', 2);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    auto end = rest.find_first_of("?#");
    return end == std::string_view::npos ? rest : rest.substr(0, end);
}
} // namespace

std::string Url::path() const {
    if (block_ == nullptr) {
        return {};
    }
    if (UrlBlocks::isLinked(block_)) {
        std::string text = UrlBlocks::stored(block_);
        if (block_->folder) {
            text.pop_back();
        }
        return text;
    }
    std::string_view text = UrlBlocks::own(block_);
    if (isFileUrl()) {
        if (text.size() > 1 && text.back() == '/') {
            text.remove_suffix(1);
        }
        return std::string(text);
    }
    std::string_view part = otherPathPart(text);
    auto decoded = PathText::percentDecode(part);
    std::string result = decoded ? *decoded : std::string(part);
    if (result.size() > 1 && result.back() == '/') {
        result.pop_back();
    }
    return result;
}

void Url::appendAbsoluteString(std::string& out) const {
    if (block_ == nullptr) {
        return;
    }
    if (isFileUrl()) {
        out += "file://";
        PathText::appendPercentEncoded(out, UrlBlocks::StoredText(block_).view());
    } else {
        out += UrlBlocks::own(block_);
    }
}

std::string Url::absoluteString() const {
    std::string text;
    appendAbsoluteString(text);
    return text;
}

std::string Url::lastPathComponent() const {
    if (block_ != nullptr && UrlBlocks::isLinked(block_)) {
        return std::string(UrlBlocks::own(block_));
    }
    return PathText::lastComponent(path());
}

std::string_view Url::lastPathComponentView() const {
    if (block_ == nullptr) {
        return {};
    }
    std::string_view text = UrlBlocks::own(block_);
    if (UrlBlocks::isLinked(block_)) {
        return text;
    }
    if (!isFileUrl()) {
        text = otherPathPart(text);
    }
    while (text.size() > 1 && text.back() == '/') {
        text.remove_suffix(1);
    }
    auto slash = text.rfind('/');
    if (slash == std::string_view::npos || text.size() == 1) {
        return text;
    }
    return text.substr(slash + 1);
}

Url Url::deletingLastPathComponent() const {
    if (isFileUrl()) {
        if (UrlBlocks::isLinked(block_)) {
            // The parent's prefix is the stored text of the parent in folder form.
            Block* parent = block_->parent;
            if (UrlBlocks::isLinked(parent)) {
                if (parent->folder) {
                    retain(parent);
                    return Url(parent);
                }
                return UrlBlocks::linked(parent->parent, UrlBlocks::own(parent), true);
            }
            std::string_view text = UrlBlocks::own(parent);
            if (!text.empty() && text.back() == '/') {
                retain(parent);
                return Url(parent);
            }
        }
        return file(PathText::parent(path()), true);
    }
    std::string_view text = block_ == nullptr ? std::string_view() : UrlBlocks::own(block_);
    std::string_view part = otherPathPart(text);
    size_t pathStart = part.empty() ? text.size() : static_cast<size_t>(part.data() - text.data());
    std::string_view trimmed = part;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.remove_suffix(1);
    }
    auto slash = trimmed.rfind('/');
    return UrlBlocks::other(
        std::string(text.substr(0, pathStart)) +
        std::string(slash == std::string_view::npos ? "/" : trimmed.substr(0, slash + 1)));
}

Url Url::appendingPathComponent(std::string_view component, bool isDirectory) const {
    if (isFileUrl()) {
        // A plain name is kept on its own; anything else is resolved into a whole path.
        if (!component.empty() && component.find('/') == std::string_view::npos) {
            return UrlBlocks::linked(block_, component, isDirectory);
        }
        std::string base = path();
        if (base != "/") {
            base += '/';
        }
        base += component;
        return file(base, isDirectory);
    }
    std::string text(block_ == nullptr ? std::string_view() : UrlBlocks::own(block_));
    if (text.empty() || text.back() != '/') {
        text += '/';
    }
    text += PathText::percentEncode(component);
    if (isDirectory) {
        text += '/';
    }
    return UrlBlocks::other(text);
}

Url Url::standardized() const {
    if (!isFileUrl()) {
        return *this;
    }
    return file(PathText::standardize(path()), hasDirectoryPath());
}

Url Url::withDirectoryForm(bool isDirectory) const {
    if (!isFileUrl()) {
        return *this;
    }
    if (UrlBlocks::isLinked(block_)) {
        if ((block_->folder != 0) == isDirectory) {
            return *this;
        }
        return UrlBlocks::linked(block_->parent, UrlBlocks::own(block_), isDirectory);
    }
    return file(path(), isDirectory);
}

bool Url::isAppendedTo(const Url& base) const {
    return block_ != nullptr && UrlBlocks::isLinked(block_) && block_->parent == base.block_;
}

} // namespace varnok
