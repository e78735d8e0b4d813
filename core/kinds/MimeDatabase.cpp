#include "core/kinds/MimeDatabase.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fnmatch.h>
#include <fstream>
#include <sstream>

namespace varnok {
namespace {

struct BuiltInType {
    std::string_view extension;
    std::string_view type;
    std::string_view description;
};

// Used only where no shared-mime-info database is installed: the kinds people meet most, with the
// database's own types and descriptions.
constexpr std::array<BuiltInType, 62> builtInTypes{{
    {"c", "text/x-csrc", "C source code"},
    {"h", "text/x-chdr", "C header"},
    {"cpp", "text/x-c++src", "C++ source code"},
    {"cc", "text/x-c++src", "C++ source code"},
    {"cxx", "text/x-c++src", "C++ source code"},
    {"hpp", "text/x-c++hdr", "C++ header"},
    {"hh", "text/x-c++hdr", "C++ header"},
    {"py", "text/x-python3", "Python script"},
    {"js", "text/javascript", "JavaScript program"},
    {"ts", "text/vnd.trolltech.linguist", "message catalog"},
    {"rs", "text/rust", "Rust source code"},
    {"go", "text/x-go", "Go source code"},
    {"java", "text/x-java", "Java source code"},
    {"swift", "text/x-swift", "Swift source code"},
    {"sh", "application/x-shellscript", "shell script"},
    {"json", "application/json", "JSON document"},
    {"xml", "application/xml", "XML document"},
    {"html", "text/html", "HTML document"},
    {"css", "text/css", "CSS stylesheet"},
    {"md", "text/markdown", "Markdown document"},
    {"txt", "text/plain", "plain text document"},
    {"log", "text/x-log", "application log"},
    {"csv", "text/csv", "CSV document"},
    {"pdf", "application/pdf", "PDF document"},
    {"odt", "application/vnd.oasis.opendocument.text", "ODT document"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet", "ODS spreadsheet"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
     "Word 2007 document"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
     "Excel 2007 spreadsheet"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation",
     "PowerPoint 2007 presentation"},
    {"png", "image/png", "PNG image"},
    {"jpg", "image/jpeg", "JPEG image"},
    {"jpeg", "image/jpeg", "JPEG image"},
    {"gif", "image/gif", "GIF image"},
    {"svg", "image/svg+xml", "SVG image"},
    {"webp", "image/webp", "WebP image"},
    {"heic", "image/heif", "HEIF image"},
    {"mp3", "audio/mpeg", "MP3 audio"},
    {"flac", "audio/flac", "FLAC audio"},
    {"ogg", "audio/ogg", "Ogg audio"},
    {"opus", "audio/x-opus+ogg", "Opus audio"},
    {"wav", "audio/x-wav", "WAV audio"},
    {"m4a", "audio/mp4", "MPEG-4 audio"},
    {"mp4", "video/mp4", "MPEG-4 video"},
    {"m4v", "video/mp4", "MPEG-4 video"},
    {"mkv", "video/x-matroska", "Matroska video"},
    {"webm", "video/webm", "WebM video"},
    {"mov", "video/quicktime", "QuickTime video"},
    {"avi", "video/x-msvideo", "AVI video"},
    {"zip", "application/zip", "Zip archive"},
    {"tar", "application/x-tar", "Tar archive"},
    {"gz", "application/gzip", "Gzip archive"},
    {"tgz", "application/x-compressed-tar", "Tar archive (gzip-compressed)"},
    {"xz", "application/x-xz", "XZ archive"},
    {"bz2", "application/x-bzip2", "Bzip2 archive"},
    {"zst", "application/zstd", "Zstandard archive"},
    {"7z", "application/x-7z-compressed", "7-zip archive"},
    {"rar", "application/vnd.rar", "RAR archive"},
    {"iso", "application/x-cd-image", "raw CD image"},
    {"deb", "application/vnd.debian.binary-package", "Debian package"},
    {"o", "application/x-object", "object code"},
    {"so", "application/x-sharedlib", "shared library"},
    {"a", "application/x-archive", "AR archive"},
}};

constexpr std::string_view unknownType = "application/octet-stream";
constexpr std::string_view folderType = "inode/directory";
constexpr std::string_view logType = "text/x-log";

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool hasWildcard(std::string_view pattern) {
    return pattern.find_first_of("*?[") != std::string_view::npos;
}

std::string xmlUnescaped(std::string_view text) {
    static constexpr std::array<std::pair<std::string_view, char>, 5> entities{
        {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [entity, c] : entities) {
                if (text.substr(i, entity.size()) == entity) {
                    out += c;
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            out += text[i++];
        }
    }
    return out;
}

bool readFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = std::move(buffer).str();
    return true;
}

bool startsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Source and script types that the database's generic icons file under documents or plain text.
bool isCode(std::string_view type, std::string_view icon) {
    static constexpr std::array<std::string_view, 12> codeTypes{
        "application/json",      "application/xml",    "application/x-shellscript",
        "application/x-perl",    "application/x-php",  "application/x-ruby",
        "application/sql",       "application/x-yaml", "application/toml",
        "application/x-desktop", "text/x-makefile",    "text/x-cmake"};
    if (icon == "text-x-script") {
        return true;
    }
    for (std::string_view code : codeTypes) {
        if (type == code) {
            return true;
        }
    }
    const std::string_view subtype = type.substr(type.find('/') + 1);
    if (!startsWith(type, "text/")) {
        return subtype.find("script") != std::string_view::npos;
    }
    return endsWith(subtype, "src") || endsWith(subtype, "hdr") ||
           subtype.find("script") != std::string_view::npos || subtype == "x-python" ||
           subtype == "x-python3" || subtype == "rust" || subtype == "x-go" ||
           subtype == "x-java" || subtype == "css" || subtype == "x-csharp" ||
           subtype == "x-kotlin" || subtype == "x-swift" || subtype == "x-ruby";
}

std::string groupOf(std::string_view type, std::string_view icon) {
    if (type == folderType) {
        return "Folder";
    }
    if (startsWith(type, "video/") || icon == "video-x-generic") {
        return "Video";
    }
    if (startsWith(type, "audio/") || icon == "audio-x-generic") {
        return "Audio";
    }
    if (startsWith(type, "image/") || icon == "image-x-generic") {
        return "Image";
    }
    if (startsWith(type, "font/") || icon == "font-x-generic") {
        return "Font";
    }
    if (isCode(type, icon)) {
        return "Code";
    }
    // The archive types of the built-in table, which has no generic icons, are listed too.
    static constexpr std::array<std::string_view, 12> archiveTypes{
        "application/zip",
        "application/x-tar",
        "application/gzip",
        "application/x-xz",
        "application/x-bzip2",
        "application/zstd",
        "application/vnd.rar",
        "application/x-7z-compressed",
        "application/x-compressed-tar",
        "application/x-archive",
        "application/x-cd-image",
        "application/vnd.debian.binary-package"};
    if (icon == "package-x-generic" ||
        std::find(archiveTypes.begin(), archiveTypes.end(), type) != archiveTypes.end()) {
        return "Archive";
    }
    if (type == "application/x-object" || type == "application/x-sharedlib" ||
        type == "application/x-executable" || type == "application/x-pie-executable" ||
        icon == "application-x-executable") {
        return "Program";
    }
    if (startsWith(icon, "x-office-") || type == "application/pdf") {
        return "Document";
    }
    if (startsWith(type, "text/")) {
        return "Text";
    }
    return "Other";
}

std::string capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    return text;
}

} // namespace

MimeDatabase::~MimeDatabase() = default;

const MimeDatabase& MimeDatabase::shared() {
    static const std::unique_ptr<MimeDatabase> database = load(systemFolders());
    return *database;
}

std::vector<std::string> MimeDatabase::systemFolders() {
    std::vector<std::string> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        folders.push_back(std::string(dataHome) + "/mime");
    } else if (home != nullptr && home[0] == '/') {
        folders.push_back(std::string(home) + "/.local/share/mime");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string_view dirs =
        dataDirs != nullptr && dataDirs[0] != '\0' ? dataDirs : "/usr/local/share/:/usr/share/";
    while (!dirs.empty()) {
        const size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        if (dir.empty() || dir[0] != '/') {
            continue; // relative entries are invalid and ignored
        }
        while (dir.size() > 1 && dir.back() == '/') {
            dir.pop_back();
        }
        folders.push_back(dir + "/mime");
    }
    return folders;
}

std::unique_ptr<MimeDatabase> MimeDatabase::load(const std::vector<std::string>& mimeFolders) {
    std::unique_ptr<MimeDatabase> database(new MimeDatabase());
    for (const std::string& folder : mimeFolders) {
        std::string text;
        if (!readFile(folder + "/globs2", text)) {
            continue;
        }
        database->folders_.push_back(folder);
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            // weight:type:pattern[:flags]
            if (line.empty() || line[0] == '#') {
                continue;
            }
            const size_t first = line.find(':');
            const size_t second = line.find(':', first + 1);
            if (first == std::string::npos || second == std::string::npos) {
                continue;
            }
            const size_t third = line.find(':', second + 1);
            std::string pattern = line.substr(
                second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
            const bool caseSensitive =
                third != std::string::npos && line.find("cs", third + 1) != std::string::npos;
            const int weight = std::atoi(line.c_str());
            if (pattern.empty() || pattern == "__NOGLOBS__") {
                continue;
            }
            database->addGlob(weight, line.substr(first + 1, second - first - 1),
                              std::move(pattern), caseSensitive);
        }
        if (readFile(folder + "/generic-icons", text)) {
            std::istringstream icons(text);
            while (std::getline(icons, line)) {
                const size_t colon = line.find(':');
                if (colon != std::string::npos) {
                    database->genericIcons_.try_emplace(line.substr(0, colon),
                                                        line.substr(colon + 1));
                }
            }
        }
    }
    if (database->folders_.empty()) {
        for (const BuiltInType& entry : builtInTypes) {
            database->addGlob(50, std::string(entry.type), "*." + std::string(entry.extension),
                              false);
        }
    }
    // Rotated and session logs, which the database does not name: above its default weight, so
    // that "syslog.log.1" is not taken for a manual page by its "*.[1-9]".
    database->addGlob(55, std::string(logType), "*.log.[0-9]*", false);
    database->addGlob(55, std::string(logType), "*.log.old", false);
    database->addGlob(55, std::string(logType), ".xsession-errors*", false);
    return database;
}

void MimeDatabase::addGlob(int weight, std::string type, std::string pattern, bool caseSensitive) {
    Glob glob{weight, std::move(type), pattern, caseSensitive};
    // The first folder that names a pattern decides it, as the earlier folders take precedence.
    if (!hasWildcard(pattern)) {
        auto& literals = caseSensitive ? caseSensitiveLiterals_ : literals_;
        literals.try_emplace(caseSensitive ? pattern : lowerAscii(pattern), std::move(glob));
    } else if (startsWith(pattern, "*.") && !hasWildcard(std::string_view(pattern).substr(2))) {
        auto& suffixes = caseSensitive ? caseSensitiveSuffixes_ : suffixes_;
        const std::string suffix = pattern.substr(2);
        suffixes.try_emplace(caseSensitive ? suffix : lowerAscii(suffix), std::move(glob));
    } else {
        wildcards_.push_back(std::move(glob));
    }
}

std::string MimeDatabase::typeOfName(std::string_view fileName) const {
    // The highest weight wins, then the longest pattern, as the database's readers agree.
    const Glob* best = nullptr;
    auto consider = [&](const Glob& glob) {
        if (best == nullptr || glob.weight > best->weight ||
            (glob.weight == best->weight && glob.pattern.size() > best->pattern.size())) {
            best = &glob;
        }
    };
    const std::string lower = lowerAscii(fileName);
    if (auto found = caseSensitiveLiterals_.find(fileName); found != caseSensitiveLiterals_.end()) {
        consider(found->second);
    }
    if (auto found = literals_.find(lower); found != literals_.end()) {
        consider(found->second);
    }
    for (size_t dot = fileName.find('.'); dot != std::string_view::npos;
         dot = fileName.find('.', dot + 1)) {
        const std::string_view suffix = fileName.substr(dot + 1);
        if (auto found = caseSensitiveSuffixes_.find(suffix);
            found != caseSensitiveSuffixes_.end()) {
            consider(found->second);
        }
        if (auto found = suffixes_.find(std::string_view(lower).substr(dot + 1));
            found != suffixes_.end()) {
            consider(found->second);
        }
    }
    const std::string name(fileName);
    for (const Glob& glob : wildcards_) {
        if (best != nullptr &&
            (glob.weight < best->weight ||
             (glob.weight == best->weight && glob.pattern.size() <= best->pattern.size()))) {
            continue;
        }
        if (::fnmatch(glob.pattern.c_str(), name.c_str(), glob.caseSensitive ? 0 : FNM_CASEFOLD) ==
            0) {
            consider(glob);
        }
    }
    return best == nullptr ? std::string(unknownType) : best->type;
}

FileKindName MimeDatabase::kindOfFile(std::string_view fileName) const {
    return describe(typeOfName(fileName));
}

FileKindName MimeDatabase::kindOfFolder() const {
    return describe(std::string(folderType));
}

FileKindName MimeDatabase::describe(const std::string& type) const {
    auto icon = genericIcons_.find(type);
    std::string description = descriptionOf(type);
    if (description != type) {
        description = capitalised(std::move(description));
    }
    return {type, std::move(description),
            groupOf(type, icon == genericIcons_.end() ? std::string_view() : icon->second)};
}

std::string MimeDatabase::descriptionOf(const std::string& type) const {
    std::lock_guard lock(mutex_);
    if (auto known = descriptions_.find(type); known != descriptions_.end()) {
        return known->second;
    }
    std::string description;
    // Each type's own file holds its descriptions; the first <comment> without a language is
    // the English one.
    for (const std::string& folder : folders_) {
        std::string text;
        if (type.find("..") != std::string::npos || !readFile(folder + "/" + type + ".xml", text)) {
            continue;
        }
        const size_t start = text.find("<comment>");
        const size_t end = text.find("</comment>", start);
        if (start != std::string::npos && end != std::string::npos) {
            description = xmlUnescaped(std::string_view(text).substr(start + 9, end - start - 9));
            break;
        }
    }
    if (description.empty()) {
        for (const BuiltInType& entry : builtInTypes) {
            if (entry.type == type) {
                description = entry.description;
                break;
            }
        }
    }
    if (description.empty()) {
        description = type == unknownType  ? "unknown"
                      : type == folderType ? "folder"
                      : type == logType    ? "application log"
                                           : type;
    }
    descriptions_.emplace(type, description);
    return description;
}

} // namespace varnok
