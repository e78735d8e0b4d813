#include "platform/linux/LinuxRunningApplications.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace varnok {
namespace {

struct AppMapping {
    std::string_view bundleIdentifier;
    std::string_view name;
    // Executable base names and process names (comm) of the main process.
    std::vector<std::string_view> processNames;
    // Flatpak application ids and Snap names.
    std::vector<std::string_view> packageIds;
};

// Linux builds of the applications whose caches the cleanup rules know.
const std::vector<AppMapping>& mappings() {
    static const std::vector<AppMapping> table = {
        {"com.figma.Desktop",
         "Figma",
         {"figma-linux"},
         {"io.github.Figma_Linux.figma_linux", "figma-linux"}},
        {"com.spotify.client", "Spotify", {"spotify"}, {"com.spotify.Client", "spotify"}},
        {"org.videolan.vlc", "VLC", {"vlc"}, {"org.videolan.VLC", "vlc"}},
        {"us.zoom.xos", "Zoom", {"zoom", "ZoomLauncher"}, {"us.zoom.Zoom"}},
        {"com.google.Chrome", "Google Chrome", {"chrome", "google-chrome"}, {"com.google.Chrome"}},
        {"org.mozilla.firefox",
         "Firefox",
         {"firefox-esr", "firefox", "firefox-bin"},
         {"org.mozilla.firefox", "firefox"}},
        {"com.microsoft.edgemac",
         "Microsoft Edge",
         {"msedge", "microsoft-edge", "microsoft-edge-stable"},
         {"com.microsoft.Edge"}},
        {"com.brave.Browser", "Brave Browser", {"brave", "brave-browser"}, {"com.brave.Browser"}},
        {"com.anthropic.claudefordesktop", "Claude", {"claude-desktop"}, {}},
        {"com.tinyspeck.slackmacgap", "Slack", {"slack"}, {"com.slack.Slack", "slack"}},
        {"com.hnc.Discord",
         "Discord",
         {"Discord", "discord"},
         {"com.discordapp.Discord", "discord"}},
        {"com.microsoft.VSCode", "Visual Studio Code", {"code"}, {"com.visualstudio.code", "code"}},
        {"org.chromium.Chromium",
         "Chromium",
         {"chromium", "chromium-browser"},
         {"org.chromium.Chromium", "chromium"}},
        {"com.vivaldi.Vivaldi", "Vivaldi", {"vivaldi-bin", "vivaldi"}, {"com.vivaldi.Vivaldi"}},
        {"com.operasoftware.Opera", "Opera", {"opera"}, {"com.opera.Opera", "opera"}},
        // JetBrains IDEs share one cache folder; each reports an identifier below
        // "com.jetbrains". Their native launchers carry the IDE's name.
        {"com.jetbrains.IntelliJ-IDEA",
         "IntelliJ IDEA",
         {"idea"},
         {"com.jetbrains.IntelliJ-IDEA-Community", "com.jetbrains.IntelliJ-IDEA-Ultimate",
          "intellij-idea-community", "intellij-idea-ultimate"}},
        {"com.jetbrains.PyCharm",
         "PyCharm",
         {"pycharm"},
         {"com.jetbrains.PyCharm-Community", "com.jetbrains.PyCharm-Professional",
          "pycharm-community", "pycharm-professional"}},
        {"com.jetbrains.CLion", "CLion", {"clion"}, {"com.jetbrains.CLion", "clion"}},
        {"com.jetbrains.GoLand", "GoLand", {"goland"}, {"com.jetbrains.GoLand", "goland"}},
        {"com.jetbrains.WebStorm",
         "WebStorm",
         {"webstorm"},
         {"com.jetbrains.WebStorm", "webstorm"}},
        {"com.jetbrains.PhpStorm",
         "PhpStorm",
         {"phpstorm"},
         {"com.jetbrains.PhpStorm", "phpstorm"}},
        {"com.jetbrains.Rider", "Rider", {"rider"}, {"com.jetbrains.Rider", "rider"}},
        {"com.jetbrains.RubyMine",
         "RubyMine",
         {"rubymine"},
         {"com.jetbrains.RubyMine", "rubymine"}},
        {"com.jetbrains.RustRover",
         "RustRover",
         {"rustrover"},
         {"com.jetbrains.RustRover", "rustrover"}},
        {"com.jetbrains.DataGrip",
         "DataGrip",
         {"datagrip"},
         {"com.jetbrains.DataGrip", "datagrip"}},
        // Older IDEs and scripts start a plain java process with the platform's main class.
        {"com.jetbrains.IDE", "JetBrains IDE", {}, {}},
    };
    return table;
}

// The kernel keeps only the first 15 bytes of a process name.
constexpr size_t commLength = 15;

const AppMapping* byPackage(std::string_view id) {
    for (const AppMapping& app : mappings()) {
        if (std::find(app.packageIds.begin(), app.packageIds.end(), id) != app.packageIds.end()) {
            return &app;
        }
    }
    return nullptr;
}

const AppMapping* byProcessName(std::string_view name, bool truncated) {
    for (const AppMapping& app : mappings()) {
        for (std::string_view known : app.processNames) {
            if (known == name ||
                (truncated && name.size() == commLength && known.substr(0, commLength) == name)) {
                return &app;
            }
        }
    }
    return nullptr;
}

std::optional<std::string> readSmallFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string contents;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        contents.append(buffer, static_cast<size_t>(got));
        if (contents.size() > (1u << 20)) {
            break;
        }
    }
    ::close(fd);
    return contents;
}

// State and start time from /proc/PID/stat. The name field may hold spaces and parentheses, so
// the fields are read after its last ")".
struct StatFields {
    char state = '?';
    std::uint64_t startTime = 0;
};

std::optional<StatFields> readStat(const std::string& procRoot, int pid) {
    auto text = readSmallFile(procRoot + "/" + std::to_string(pid) + "/stat");
    if (!text) {
        return std::nullopt;
    }
    auto close = text->rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text->substr(close + 1));
    StatFields result;
    std::string field;
    // Field 3 is the state, field 22 the start time.
    for (int index = 3; index <= 22 && (fields >> field); ++index) {
        if (index == 3) {
            result.state = field.empty() ? '?' : field[0];
        } else if (index == 22) {
            char* end = nullptr;
            result.startTime = std::strtoull(field.c_str(), &end, 10);
            if (end == field.c_str() || *end != '\0') {
                return std::nullopt;
            }
            return result;
        }
    }
    return std::nullopt;
}

// The first number after `key` in /proc/PID/status.
std::optional<long long> statusNumber(const std::string& status, std::string_view key) {
    size_t at = 0;
    while (at < status.size()) {
        size_t end = status.find('\n', at);
        std::string_view line(status.data() + at,
                              (end == std::string::npos ? status.size() : end) - at);
        if (line.substr(0, key.size()) == key) {
            std::string rest(line.substr(key.size()));
            char* stop = nullptr;
            long long value = std::strtoll(rest.c_str(), &stop, 10);
            if (stop == rest.c_str()) {
                return std::nullopt;
            }
            return value;
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> splitNul(const std::string& text) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\0', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        parts.emplace_back(text, at, end - at);
        at = end + 1;
    }
    return parts;
}

struct Process {
    int pid = 0;
    int parentPid = 0;
    std::uint64_t startTime = 0;
    const AppMapping* own = nullptr;
    bool hasHelperType = false;
    // The folder of the process's program; empty when it cannot be read.
    std::string programFolder;
};

// The program a process runs, as /proc shows it; a program replaced by an upgrade still counts.
std::string programPath(const std::string& directory) {
    char target[4096];
    ssize_t length = ::readlink((directory + "/exe").c_str(), target, sizeof target - 1);
    if (length <= 0) {
        return {};
    }
    std::string exe(target, static_cast<size_t>(length));
    constexpr std::string_view deleted = " (deleted)";
    if (exe.size() > deleted.size() && exe.substr(exe.size() - deleted.size()) == deleted) {
        exe.resize(exe.size() - deleted.size());
    }
    return exe;
}

const AppMapping* byIdentifier(std::string_view identifier) {
    for (const AppMapping& app : mappings()) {
        if (app.bundleIdentifier == identifier) {
            return &app;
        }
    }
    return nullptr;
}

const AppMapping* recognise(const std::string& directory, const std::string& program,
                            const std::vector<std::string>& arguments) {
    if (auto environment = readSmallFile(directory + "/environ")) {
        for (const std::string& variable : splitNul(*environment)) {
            for (std::string_view key : {"FLATPAK_ID=", "SNAP_NAME="}) {
                if (variable.compare(0, key.size(), key) == 0) {
                    if (const AppMapping* app = byPackage(variable.substr(key.size()))) {
                        return app;
                    }
                }
            }
        }
    }
    if (!program.empty()) {
        if (const AppMapping* app = byProcessName(program.substr(program.rfind('/') + 1), false)) {
            return app;
        }
    }
    if (auto comm = readSmallFile(directory + "/comm")) {
        while (!comm->empty() && comm->back() == '\n') {
            comm->pop_back();
        }
        if (const AppMapping* app = byProcessName(*comm, true)) {
            return app;
        }
    }
    if (std::find(arguments.begin(), arguments.end(), "com.intellij.idea.Main") !=
        arguments.end()) {
        return byIdentifier("com.jetbrains.IDE");
    }
    return nullptr;
}

std::optional<Process> readProcess(const std::string& procRoot, int pid, long long uid) {
    const std::string directory = procRoot + "/" + std::to_string(pid);
    auto status = readSmallFile(directory + "/status");
    if (!status) {
        return std::nullopt;
    }
    auto processUid = statusNumber(*status, "Uid:");
    auto parent = statusNumber(*status, "PPid:");
    if (!processUid || *processUid != uid || !parent) {
        return std::nullopt;
    }
    auto stat = readStat(procRoot, pid);
    if (!stat || stat->state == 'Z' || stat->state == 'X') {
        return std::nullopt;
    }
    Process process;
    process.pid = pid;
    process.parentPid = static_cast<int>(*parent);
    process.startTime = stat->startTime;
    const std::string program = programPath(directory);
    std::vector<std::string> arguments;
    if (auto cmdline = readSmallFile(directory + "/cmdline")) {
        arguments = splitNul(*cmdline);
    }
    process.own = recognise(directory, program, arguments);
    if (!program.empty()) {
        process.programFolder = program.substr(0, program.rfind('/'));
    }
    for (const std::string& argument : arguments) {
        if (argument.compare(0, 7, "--type=") == 0) {
            process.hasHelperType = true;
        }
    }
    return process;
}

// Direct system calls: glibc 2.36's <sys/pidfd.h> wrappers lack C linkage for C++.
int openPidfd(int pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool sendTerminate(int pidfd) {
    return ::syscall(SYS_pidfd_send_signal, pidfd, SIGTERM, nullptr, 0) == 0;
}

// The process behind one list entry. The pidfd is taken when the list is made and checked
// against the start time, so it can only ever refer to the process that was listed.
class ProcessHandle {
public:
    ProcessHandle(int pid, std::uint64_t startTime) : pid_(pid), startTime_(startTime) {
        fd_ = openPidfd(pid);
        if (fd_ < 0) {
            gone_ = errno == ESRCH;
            return;
        }
        auto now = readStat("/proc", pid);
        if (!now || now->startTime != startTime) {
            // The pid already names another process: the listed one has ended.
            ::close(fd_);
            fd_ = -1;
            gone_ = true;
        }
    }
    ~ProcessHandle() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    // SIGTERM only: the application decides how to shut down; nothing is ever killed.
    bool terminate() const { return fd_ >= 0 && sendTerminate(fd_); }
    bool isTerminated() const {
        if (gone_) {
            return true;
        }
        if (fd_ < 0) {
            // No pidfd (too many open files, an old kernel): judge by the start time instead.
            auto now = readStat("/proc", pid_);
            return !now || now->startTime != startTime_ || now->state == 'Z';
        }
        pollfd entry{fd_, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&entry, 1, 0);
        } while (ready < 0 && errno == EINTR);
        return ready > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }

private:
    int pid_;
    std::uint64_t startTime_;
    int fd_ = -1;
    bool gone_ = false;
};

} // namespace

std::vector<LinuxProcessRecord> LinuxRunningApplications::processes(const std::string& procRoot) {
    const long long uid = ::getuid();
    std::vector<Process> all;
    DIR* stream = ::opendir(procRoot.c_str());
    if (stream == nullptr) {
        return {};
    }
    while (dirent* entry = ::readdir(stream)) {
        std::string_view name = entry->d_name;
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        long long pid = std::strtoll(entry->d_name, nullptr, 10);
        if (pid <= 0 || pid > std::numeric_limits<int>::max()) {
            continue;
        }
        // A process that ends while it is read simply drops out.
        if (auto process = readProcess(procRoot, static_cast<int>(pid), uid)) {
            all.push_back(*process);
        }
    }
    ::closedir(stream);
    std::sort(all.begin(), all.end(),
              [](const Process& a, const Process& b) { return a.pid < b.pid; });

    std::unordered_map<int, const Process*> byPid;
    for (const Process& process : all) {
        byPid[process.pid] = &process;
    }
    // The application a process works for: the one its own program is. A process of another
    // program works for its nearest recognised ancestor only when it is one of that
    // application's own helpers: it says so (--type=), or its program sits beside the
    // application's. Anything else an application starts (a shell, a document viewer) is not
    // that application.
    auto owner = [&](const Process& process) -> const AppMapping* {
        if (process.own != nullptr) {
            return process.own;
        }
        const Process* current = &process;
        for (int depth = 0; current != nullptr && depth < 64; ++depth) {
            if (current->own != nullptr) {
                bool helper =
                    process.hasHelperType || (!process.programFolder.empty() &&
                                              process.programFolder == current->programFolder);
                return helper ? current->own : nullptr;
            }
            auto parent = byPid.find(current->parentPid);
            current = parent == byPid.end() ? nullptr : parent->second;
        }
        return nullptr;
    };

    std::vector<LinuxProcessRecord> records;
    for (const Process& process : all) {
        const AppMapping* app = owner(process);
        if (app == nullptr) {
            continue;
        }
        const AppMapping* parentApp = nullptr;
        if (auto parent = byPid.find(process.parentPid); parent != byPid.end()) {
            parentApp = owner(*parent->second);
        }
        bool isMain = process.own == app && !process.hasHelperType && parentApp != app;
        LinuxProcessRecord record;
        record.pid = process.pid;
        record.parentPid = process.parentPid;
        record.startTime = process.startTime;
        record.bundleIdentifier = std::string(app->bundleIdentifier) + (isMain ? "" : ".helper");
        record.name = std::string(app->name) + (isMain ? "" : " Helper");
        record.isRegular = isMain;
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<OpenFile> LinuxRunningApplications::openFiles(const std::string& procRoot) {
    std::vector<OpenFile> files;
    DIR* stream = ::opendir(procRoot.c_str());
    if (stream == nullptr) {
        return files;
    }
    while (dirent* entry = ::readdir(stream)) {
        std::string_view name = entry->d_name;
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const std::string descriptors = procRoot + "/" + std::string(name) + "/fd";
        // Another user's process, or one that has just ended.
        DIR* fds = ::opendir(descriptors.c_str());
        if (fds == nullptr) {
            continue;
        }
        while (dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') {
                continue;
            }
            // stat follows the descriptor to the open object, even one renamed or deleted since.
            struct stat record {};
            if (::stat((descriptors + "/" + fd->d_name).c_str(), &record) == 0 &&
                S_ISREG(record.st_mode)) {
                files.push_back({static_cast<std::uint64_t>(record.st_dev),
                                 static_cast<std::uint64_t>(record.st_ino)});
            }
        }
        ::closedir(fds);
    }
    ::closedir(stream);
    return files;
}

std::vector<RunningApplication> LinuxRunningApplications::list() {
    std::vector<RunningApplication> applications;
    for (const LinuxProcessRecord& record : processes("/proc")) {
        auto handle = std::make_shared<const ProcessHandle>(record.pid, record.startTime);
        RunningApplication application;
        application.bundleIdentifier = record.bundleIdentifier;
        application.localizedName = record.name;
        application.isRegular = record.isRegular;
        // Helpers end with their application; asking them directly could leave it half shut.
        bool mayAsk = record.isRegular;
        application.terminate = [handle, mayAsk] { return mayAsk && handle->terminate(); };
        application.isTerminated = [handle] { return handle->isTerminated(); };
        applications.push_back(std::move(application));
    }
    return applications;
}

} // namespace varnok
