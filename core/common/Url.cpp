#include "core/common/Url.hpp"

#include <cstdlib>
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

Url Url::file(std::string_view path, bool isDirectory) {
    Url url;
    url.kind_ = Kind::file;
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
    url.text_ = std::move(stored);
    return url;
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
    Url url;
    url.kind_ = Kind::other;
    url.text_ = std::string(text);
    return url;
}

bool Url::hasDirectoryPath() const {
    return !text_.empty() && text_.back() == '/';
}

std::string Url::scheme() const {
    if (kind_ == Kind::file) {
        return "file";
    }
    auto colon = text_.find(':');
    return colon == std::string::npos ? std::string() : text_.substr(0, colon);
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
    if (kind_ == Kind::file) {
        if (text_.size() > 1 && text_.back() == '/') {
            return text_.substr(0, text_.size() - 1);
        }
        return text_;
    }
    std::string_view part = otherPathPart(text_);
    auto decoded = PathText::percentDecode(part);
    std::string result = decoded ? *decoded : std::string(part);
    if (result.size() > 1 && result.back() == '/') {
        result.pop_back();
    }
    return result;
}

void Url::appendAbsoluteString(std::string& out) const {
    if (kind_ == Kind::file) {
        out += "file://";
        PathText::appendPercentEncoded(out, text_);
    } else {
        out += text_;
    }
}

std::string Url::absoluteString() const {
    if (kind_ == Kind::file) {
        return "file://" + PathText::percentEncode(text_);
    }
    return text_;
}

std::string Url::lastPathComponent() const {
    return PathText::lastComponent(path());
}

std::string_view Url::lastPathComponentView() const {
    std::string_view text = text_;
    if (kind_ != Kind::file) {
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
    if (kind_ == Kind::file) {
        return file(PathText::parent(path()), true);
    }
    std::string_view part = otherPathPart(text_);
    size_t pathStart =
        part.empty() ? text_.size() : static_cast<size_t>(part.data() - text_.data());
    std::string_view trimmed = part;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.remove_suffix(1);
    }
    auto slash = trimmed.rfind('/');
    Url url = *this;
    url.text_ = text_.substr(0, pathStart) +
                std::string(slash == std::string_view::npos ? "/" : trimmed.substr(0, slash + 1));
    return url;
}

Url Url::appendingPathComponent(std::string_view component, bool isDirectory) const {
    if (kind_ == Kind::file) {
        std::string base = path();
        if (base != "/") {
            base += '/';
        }
        base += component;
        return file(base, isDirectory);
    }
    Url url = *this;
    if (url.text_.empty() || url.text_.back() != '/') {
        url.text_ += '/';
    }
    url.text_ += PathText::percentEncode(component);
    if (isDirectory) {
        url.text_ += '/';
    }
    return url;
}

Url Url::standardized() const {
    if (kind_ != Kind::file) {
        return *this;
    }
    return file(PathText::standardize(path()), hasDirectoryPath());
}

Url Url::withDirectoryForm(bool isDirectory) const {
    if (kind_ != Kind::file) {
        return *this;
    }
    return file(path(), isDirectory);
}

} // namespace varnok
