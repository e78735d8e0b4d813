#include "cli/Cli.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/common/Url.hpp"
#include "core/scan/FilePolicy.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrelo::cli {

Arguments::Arguments(const std::vector<std::string>& raw, const std::vector<std::string>& flags,
                     const std::vector<std::string>& valued,
                     const std::vector<std::string>& repeatable) {
    auto contains = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const std::string& word = raw[i];
        if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
            if (!optionsEnded && word.size() > 1 && word[0] == '-' && word != "-") {
                throw UsageError("unknown option '" + word + "'");
            }
            operands_.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word.substr(2);
        std::optional<std::string> inlineValue;
        if (auto equals = name.find('='); equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (contains(flags, name)) {
            if (inlineValue) {
                throw UsageError("option '--" + name + "' takes no value");
            }
            options_[name].push_back("");
            continue;
        }
        if (!contains(valued, name) && !contains(repeatable, name)) {
            throw UsageError("unknown option '--" + name + "'");
        }
        if (!inlineValue) {
            if (i + 1 >= raw.size()) {
                throw UsageError("option '--" + name + "' needs a value");
            }
            inlineValue = raw[++i];
        }
        if (options_.count(name) > 0 && !contains(repeatable, name)) {
            throw UsageError("option '--" + name + "' given twice");
        }
        options_[name].push_back(*inlineValue);
    }
}

bool Arguments::has(const std::string& name) const {
    return options_.count(name) > 0;
}

std::optional<std::string> Arguments::value(const std::string& name) const {
    auto it = options_.find(name);
    if (it == options_.end() || it->second.empty()) {
        return std::nullopt;
    }
    return it->second.back();
}

std::vector<std::string> Arguments::values(const std::string& name) const {
    auto it = options_.find(name);
    return it == options_.end() ? std::vector<std::string>{} : it->second;
}

std::int64_t Arguments::integer(const std::string& name, std::int64_t fallback,
                                std::int64_t minimum, std::int64_t maximum) const {
    auto text = value(name);
    if (!text) {
        return fallback;
    }
    std::int64_t number = 0;
    try {
        size_t used = 0;
        number = std::stoll(*text, &used);
        if (used != text->size()) {
            throw std::invalid_argument("trailing text");
        }
    } catch (const std::exception&) {
        throw UsageError("option '--" + name + "' takes a whole number, not '" + *text + "'");
    }
    if (number < minimum || number > maximum) {
        throw UsageError("option '--" + name + "' must be from " + std::to_string(minimum) +
                         " to " + std::to_string(maximum));
    }
    return number;
}

namespace {
std::vector<Command>& commandList() {
    static std::vector<Command> commands;
    return commands;
}

// The token Ctrl-C cancels; reached from the signal handler, so a plain pointer.
varnok::CancellationToken* volatile interruptToken = nullptr;

void onInterrupt(int) {
    if (varnok::CancellationToken* token = interruptToken) {
        token->cancel();
    }
    // A second Ctrl-C ends the process at once.
    std::signal(SIGINT, SIG_DFL);
}
} // namespace

CommandRegistration::CommandRegistration(Command command) {
    commandList().push_back(std::move(command));
    std::stable_sort(commandList().begin(), commandList().end(),
                     [](const Command& a, const Command& b) { return a.order < b.order; });
}

const std::vector<Command>& registeredCommands() {
    return commandList();
}

varnok::Url folderArgument(const std::string& operand, const std::string& what) {
    if (operand.empty()) {
        throw UsageError(what + " must not be empty");
    }
    std::string path = operand;
    if (path.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            throw UsageError("cannot read the current folder; give " + what +
                             " as an absolute path");
        }
        path = std::string(cwd) + "/" + path;
    }
    return varnok::Url::file(standardizedPath(path), true);
}

std::string standardizedPath(const std::string& absolute) {
    const auto parts = varnok::PathText::components(absolute);
    size_t lastUp = parts.size();
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "..") {
            lastUp = i;
        }
    }
    if (lastUp == parts.size()) {
        return varnok::PathText::standardize(absolute);
    }
    std::string head;
    for (size_t i = 0; i <= lastUp; ++i) {
        head += "/";
        head += parts[i];
    }
    std::string path =
        varnok::Platform::current().resolvingSymlinks(varnok::Url::file(head)).path();
    for (size_t i = lastUp + 1; i < parts.size(); ++i) {
        path += "/";
        path += parts[i];
    }
    return varnok::PathText::standardize(path);
}

varnok::Url scannedFolder(const Arguments& args, const std::string& tooMany) {
    if (args.operands().size() > 1) {
        throw UsageError(tooMany);
    }
    return folderArgument(args.operands().empty() ? "." : args.operands()[0]);
}

std::vector<std::string> withLongOptions(const std::vector<std::string>& raw) {
    std::vector<std::string> out;
    bool ended = false;
    for (const std::string& word : raw) {
        ended = ended || word == "--";
        out.push_back(!ended && word == "-x" ? "--one-file-system" : word);
    }
    return out;
}

varnok::ScanOptions scanOptions(const Arguments& args) {
    varnok::ScanOptions options;
    options.oneFileSystem = args.has("one-file-system");
    options.threads = static_cast<unsigned>(args.integer("jobs", 0, 1, 64));
    for (std::string pattern : args.values("exclude")) {
        while (pattern.size() > 1 && pattern.back() == '/') {
            pattern.pop_back();
        }
        if (pattern.empty() || pattern == "/") {
            throw UsageError("option '--exclude' needs a pattern");
        }
        if (pattern.front() == '/') {
            throw UsageError("--exclude " + pattern +
                             ": patterns are matched below the folder; leave out the leading '/'");
        }
        options.excludes.push_back(pattern);
    }
    return options;
}

void printLeftOut(const varnok::ScanResult& result, const char* indent, std::FILE* out) {
    if (!result.otherFileSystems.empty()) {
        std::fprintf(out, "%sOther file systems, not entered:\n", indent);
        for (const auto& path : result.otherFileSystems) {
            std::fprintf(out, "%s  %s\n", indent, pastablePath(path).c_str());
        }
    }
    if (result.excludedCount > 0) {
        std::fprintf(out, "%sExcluded: %s\n", indent,
                     counted(result.excludedCount, "entry", "entries").c_str());
    }
}

bool reportUnusableFolder(const std::string& path) {
    struct stat record {};
    std::string shown = varnok::PathText::displayable(path);
    if (::stat(path.c_str(), &record) != 0) {
        int failure = errno;
        std::string reason = failure == ENOENT ? "does not exist"
                             : failure == ELOOP
                                 ? "is a symbolic link loop"
                                 : std::string("cannot be read (") + std::strerror(failure) + ")";
        std::fprintf(stderr, "ombrelo-cli: %s %s.\n", shown.c_str(), reason.c_str());
        return true;
    }
    if (!S_ISDIR(record.st_mode)) {
        std::fprintf(stderr, "ombrelo-cli: %s is not a folder.\n", shown.c_str());
        return true;
    }
    return false;
}

bool reportSystemFolder(const varnok::Url& folder) {
    // Judged as given and where it really lies, so that a link into /usr is refused too.
    const varnok::Url real = varnok::Platform::current().resolvingSymlinks(folder);
    if (!varnok::FilePolicy::isSystemFolder(folder) && !varnok::FilePolicy::isSystemFolder(real)) {
        return false;
    }
    std::fprintf(stderr, "ombrelo-cli: %s is a system folder; Ombrelo does not search it.\n",
                 varnok::PathText::displayable(folder.path()).c_str());
    return true;
}

bool finishOutput() {
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "ombrelo-cli: cannot write the output: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

namespace {
// Replaces each `from` in `text` with `to`.
std::string replaced(std::string text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}
} // namespace

void printError(const std::exception& error) {
    std::string message = varnok::PathText::displayable(error.what());
    if (const auto* fileError = dynamic_cast<const varnok::FileError*>(&error)) {
        if (fileError->path && !fileError->path->empty()) {
            const std::string& path = *fileError->path;
            struct stat record {};
            if (path.back() == '/' ||
                (::stat(path.c_str(), &record) == 0 && S_ISDIR(record.st_mode))) {
                message = replaced(replaced(message, "The file ", "The folder "), "the file ",
                                   "the folder ");
            }
            // The message quotes only the last name; the whole path says which one it is.
            std::string shown = path;
            while (shown.size() > 1 && shown.back() == '/') {
                shown.pop_back();
            }
            message = pastablePath(shown) + ": " + message;
        }
        if (fileError->posixError != 0) {
            message += " (" + std::string(std::strerror(fileError->posixError)) + ")";
        }
    }
    std::fprintf(stderr, "ombrelo-cli: %s\n", message.c_str());
}

std::string usageErrorText(const std::string& command, const std::string& message,
                           const std::string& help) {
    const std::string prefix = command.empty() ? "ombrelo-cli" : "ombrelo-cli " + command;
    std::string usage = help.substr(0, help.find("\n\n"));
    if (!usage.empty() && usage.back() != '\n') {
        usage += '\n';
    }
    return prefix + ": " + message + "\n" + usage + "Try '" + prefix +
           " --help' for more information.\n";
}

std::string isoTime(varnok::Date date) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(date);
    return isoTimeOfUnixSeconds(seconds.time_since_epoch().count());
}

std::string isoTimeOfUnixSeconds(std::int64_t seconds) {
    std::time_t time = static_cast<std::time_t>(seconds);
    struct tm parts {};
    char text[40];
    if (::localtime_r(&time, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &parts) == 0) {
        return "";
    }
    // strftime writes the offset as +hhmm; ISO 8601 readers expect +hh:mm.
    std::string iso = text;
    iso.insert(iso.size() - 2, ":");
    return iso;
}

int runCancellable(const std::function<int()>& work) {
    auto token = std::make_shared<varnok::CancellationToken>();
    interruptToken = token.get();
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);
    int code = exitFailure;
    {
        varnok::CancellationScope scope(token);
        try {
            code = work();
        } catch (const varnok::CancellationError&) {
            code = exitInterrupted;
        } catch (const UsageError&) {
            sigaction(SIGINT, &previous, nullptr);
            interruptToken = nullptr;
            throw;
        } catch (const std::exception& error) {
            printError(error);
            code = exitFailure;
        }
    }
    sigaction(SIGINT, &previous, nullptr);
    interruptToken = nullptr;
    if (code != exitInterrupted && token->isCancelled()) {
        code = exitInterrupted;
    }
    if (code == exitInterrupted) {
        std::fprintf(stderr, "ombrelo-cli: interrupted\n");
    }
    return code;
}

std::string formatBytes(std::int64_t bytes) {
    if (bytes < 0) {
        return "-" + formatBytes(-bytes);
    }
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    static const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1000 && unit < 5) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    int decimals = value >= 100 ? 0 : (unit >= 2 ? 2 : 1);
    std::snprintf(text, sizeof text, "%.*f %s", decimals, value, units[unit]);
    return text;
}

std::string formatSize(std::int64_t bytes, bool exact) {
    return exact ? std::to_string(bytes) : formatBytes(bytes);
}

std::string formatCount(std::int64_t count) {
    std::string digits = std::to_string(count < 0 ? -count : count);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return count < 0 ? "-" + out : out;
}

std::string counted(std::int64_t count, const char* singular, const char* plural) {
    return formatCount(count) + " " + (count == 1 ? singular : plural);
}

std::string pastablePath(std::string_view path) {
    std::string quoted = "$'";
    bool needed = false;
    auto data = reinterpret_cast<const unsigned char*>(path.data());
    size_t i = 0;
    while (i < path.size()) {
        unsigned char c = data[i];
        size_t length = c < 0x80           ? 1
                        : (c >> 5) == 0x6  ? 2
                        : (c >> 4) == 0xE  ? 3
                        : (c >> 3) == 0x1E ? 4
                                           : 0;
        std::string character(path.substr(i, std::max<size_t>(length, 1)));
        if (length > 1 && varnok::PathText::displayable(character) != character) {
            length = 0;
        }
        if (length == 0 || i + length > path.size()) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            quoted += escape;
            needed = true;
            ++i;
            continue;
        }
        static const char* const named[] = {"\\a", "\\b", "\\t", "\\n", "\\v", "\\f", "\\r"};
        if (c >= 7 && c <= 13) {
            quoted += named[c - 7];
            needed = true;
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            quoted += escape;
            needed = true;
        } else if (c == '\\' || c == '\'') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else {
            quoted += character;
        }
        i += length;
    }
    return needed ? quoted + "'" : std::string(path);
}

namespace {
std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

ProgressLine::ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() {
    clear();
}

void ProgressLine::update(const std::string& text) {
    if (!enabled_) {
        return;
    }
    std::int64_t now = nowMs();
    if (now - lastDrawMs_ < 100) {
        return;
    }
    lastDrawMs_ = now;
    std::string line = text;
    // Keep the line on one terminal row.
    constexpr size_t width = 100;
    if (line.size() > width) {
        line = line.substr(0, width - 3) + "...";
    }
    line = varnok::PathText::displayable(line);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::clear() {
    if (shown_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        shown_ = false;
    }
}

} // namespace ombrelo::cli
