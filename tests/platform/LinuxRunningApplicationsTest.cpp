#include "platform/linux/LinuxRunningApplications.hpp"
#include "tests/support/TestSupport.hpp"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

using namespace varnok;
using namespace varnok::testing;

namespace {

// Writes the files of /proc/PID that the listing reads. Arguments are separated by spaces; an
// empty `exe` leaves no readable link, as for another user's process.
void addProcess(const TempDir& proc, int pid, int parentPid, const std::string& comm,
                const std::string& exe, std::string arguments, std::string environment = "",
                long long uid = ::getuid(), char state = 'S') {
    const std::string dir = proc.at(std::to_string(pid));
    const std::string id = std::to_string(uid);
    writeFile(dir + "/status", "Name:\t" + comm + "\nPPid:\t" + std::to_string(parentPid) +
                                   "\nUid:\t" + id + "\t" + id + "\t0\t0\n");
    std::string stat =
        std::to_string(pid) + " (" + comm + ") " + state + " " + std::to_string(parentPid);
    for (int field = 5; field <= 21; ++field) {
        stat += " 0";
    }
    writeFile(dir + "/stat", stat + " " + std::to_string(1000 + pid) + " 0 0\n");
    writeFile(dir + "/comm", comm + "\n");
    std::replace(arguments.begin(), arguments.end(), ' ', '\0');
    writeFile(dir + "/cmdline", arguments + '\0');
    writeFile(dir + "/environ", environment.empty() ? environment : environment + '\0');
    if (!exe.empty()) {
        makeSymlink(exe, dir + "/exe");
    }
}

using Lines = std::vector<std::string>;

Lines listing(const TempDir& proc) {
    Lines out;
    for (const auto& r : LinuxRunningApplications::processes(proc.path())) {
        out.push_back(std::to_string(r.pid) + " " + r.bundleIdentifier + " " + r.name +
                      (r.isRegular ? " regular" : " background"));
    }
    return out;
}

TEST(LinuxRunningApplications, RecognisesAppsAndTheirHelpersFromProc) {
    TempDir proc;
    const std::string slack = "/usr/lib/slack/slack";
    addProcess(proc, 100, 1, "slack", slack, slack);
    addProcess(proc, 101, 100, "slack", slack, slack + " --type=renderer");
    addProcess(proc, 102, 101, "slack", slack, slack + " --type=gpu-process");
    // Firefox's content processes share its executable and carry no --type=.
    const std::string firefox = "/usr/lib/firefox-esr/firefox-esr";
    addProcess(proc, 200, 1, "firefox-esr", firefox, "firefox-esr");
    addProcess(proc, 201, 200, "Web Content", firefox, "firefox-esr -contentproc");
    // A document viewer that Firefox opened is not Firefox.
    addProcess(proc, 202, 200, "evince", "/usr/bin/evince", "evince");
    // A helper with a name of its own is known by its parent.
    addProcess(proc, 300, 1, "zoom", "/opt/zoom/zoom", "zoom");
    addProcess(proc, 301, 300, "ZoomWebviewHos", "/opt/zoom/ZoomWebviewHost", "ZoomWebviewHost");
    // Nothing known.
    addProcess(proc, 400, 1, "bash", "/usr/bin/bash", "bash");
    addProcess(proc, 401, 400, "vim", "/usr/bin/vim", "vim");
    // Flatpak and Snap ids win over a generic executable.
    addProcess(proc, 10, 1, "bwrap", "/usr/bin/bwrap", "bwrap", "FLATPAK_ID=com.slack.Slack");
    addProcess(proc, 11, 1, "spotify", "/snap/spotify/1/spotify", "spotify", "SNAP_NAME=spotify");
    // The executable counts even after a package upgrade replaced it.
    addProcess(proc, 12, 1, "MainThread", "/opt/google/chrome/chrome (deleted)", "chrome");
    // Only 15 bytes of a long process name survive; an unreadable exe leaves the name.
    addProcess(proc, 13, 1, "microsoft-edge-", "", "microsoft-edge-stable");
    addProcess(proc, 14, 1, "Discord", "", "Discord");
    // A name that merely begins like a known one is not it.
    addProcess(proc, 15, 1, "slackware", "", "slackware");
    addProcess(proc, 16, 1, "chrome-x", "", "x");
    // Other users' processes and zombies are left out.
    addProcess(proc, 17, 1, "slack", "", "slack", "", ::getuid() + 1000);
    addProcess(proc, 18, 1, "slack", "", "slack", "", ::getuid(), 'Z');
    // Parentheses and spaces in a name do not shift the fields.
    addProcess(proc, 19, 1, "vlc) R 1 (x", "/usr/bin/vlc", "vlc");
    makeFolder(proc.at("self"));
    makeFolder(proc.at("23"));
    EXPECT_EQ(listing(proc), Lines({
                                 "10 com.tinyspeck.slackmacgap Slack regular",
                                 "11 com.spotify.client Spotify regular",
                                 "12 com.google.Chrome Google Chrome regular",
                                 "13 com.microsoft.edgemac Microsoft Edge regular",
                                 "14 com.hnc.Discord Discord regular",
                                 "19 org.videolan.vlc VLC regular",
                                 "100 com.tinyspeck.slackmacgap Slack regular",
                                 "101 com.tinyspeck.slackmacgap.helper Slack Helper background",
                                 "102 com.tinyspeck.slackmacgap.helper Slack Helper background",
                                 "200 org.mozilla.firefox Firefox regular",
                                 "201 org.mozilla.firefox.helper Firefox Helper background",
                                 "300 us.zoom.xos Zoom regular",
                                 "301 us.zoom.xos.helper Zoom Helper background",
                             }));
    EXPECT_TRUE(LinuxRunningApplications::processes(proc.at("nothing")).empty());
}

TEST(LinuxRunningApplications, KnowsTheOwnersOfLinuxCaches) {
    TempDir proc;
    const std::string code = "/usr/share/code/code";
    addProcess(proc, 50, 1, "code", code, code);
    addProcess(proc, 51, 50, "code", code, code + " --type=zygote");
    addProcess(proc, 52, 1, "chromium", "/usr/lib/chromium/chromium", "chromium");
    addProcess(proc, 53, 1, "vivaldi-bin", "/opt/vivaldi/vivaldi-bin", "vivaldi-bin");
    addProcess(proc, 54, 1, "bwrap", "/usr/bin/bwrap", "bwrap", "FLATPAK_ID=com.opera.Opera");
    // A JetBrains IDE by its native launcher, or as java running the platform's main class.
    addProcess(proc, 55, 1, "pycharm", "/opt/pycharm/bin/pycharm", "pycharm");
    addProcess(proc, 56, 1, "java", "/opt/idea/jbr/bin/java",
               "/opt/idea/jbr/bin/java -Xmx2g com.intellij.idea.Main");
    addProcess(proc, 57, 1, "java", "/usr/bin/java", "/usr/bin/java -jar other.jar");
    addProcess(proc, 58, 1, "bwrap", "/usr/bin/bwrap", "bwrap", "FLATPAK_ID=com.visualstudio.code");
    EXPECT_EQ(listing(proc), Lines({
                                 "50 com.microsoft.VSCode Visual Studio Code regular",
                                 "51 com.microsoft.VSCode.helper Visual Studio Code Helper "
                                 "background",
                                 "52 org.chromium.Chromium Chromium regular",
                                 "53 com.vivaldi.Vivaldi Vivaldi regular",
                                 "54 com.operasoftware.Opera Opera regular",
                                 "55 com.jetbrains.PyCharm PyCharm regular",
                                 "56 com.jetbrains.IDE JetBrains IDE regular",
                                 "58 com.microsoft.VSCode Visual Studio Code regular",
                             }));
}

TEST(LinuxRunningApplications, OpenFilesAreTheRegularFilesBehindDescriptors) {
    TempDir proc;
    TempDir files;
    std::string log = writeFile(files.at("app.log"), "line");
    makeFolder(proc.at("70/fd"));
    makeSymlink(log, proc.at("70/fd/3"));
    makeSymlink(files.path(), proc.at("70/fd/4"));
    makeSymlink(files.at("gone"), proc.at("70/fd/5"));
    makeFolder(proc.at("71"));
    auto open = LinuxRunningApplications::openFiles(proc.path());
    struct stat record {};
    ASSERT_EQ(::stat(log.c_str(), &record), 0);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].device, static_cast<std::uint64_t>(record.st_dev));
    EXPECT_EQ(open[0].inode, static_cast<std::uint64_t>(record.st_ino));
}

// Polls until `condition` holds; not a timing assertion, only a bound.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(LinuxRunningApplications, OnlyTheMainProcessIsAskedToQuit) {
    TempDir dir;
    // A shell copied under the app's name, with a child of its own that it ends and reaps when
    // asked to quit, so that nothing outlives the test.
    std::string path = dir.at("Discord"), flag = "-c",
                script = "trap 'kill $!; wait; exit 0' TERM; " + dir.at("worker") + " 60 & wait";
    std::filesystem::copy_file("/bin/sh", path);
    // Its helper is a program installed beside it.
    std::filesystem::copy_file("/bin/sleep", dir.at("worker"));
    char* argv[] = {path.data(), flag.data(), script.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    struct Reaper {
        pid_t& pid;
        ~Reaper() {
            if (pid > 0) {
                ::kill(pid, SIGKILL); // the test's own child
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper{pid};

    // With no fixed source installed, the list is the system's.
    std::vector<RunningApplication> list;
    auto find = [&list](const std::string& id) -> const RunningApplication* {
        auto it = std::find_if(list.begin(), list.end(), [&](const RunningApplication& app) {
            return app.bundleIdentifier == id;
        });
        return it == list.end() ? nullptr : &*it;
    };
    ASSERT_TRUE(eventually([&] {
        list = RunningApplications::current();
        return find("com.hnc.Discord.helper") != nullptr;
    }));
    const RunningApplication* helper = find("com.hnc.Discord.helper");
    EXPECT_FALSE(helper->isRegular);
    EXPECT_FALSE(helper->terminate());
    EXPECT_FALSE(helper->isTerminated());
    const RunningApplication* main = find("com.hnc.Discord");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->localizedName, "Discord");
    EXPECT_TRUE(main->isRegular);
    EXPECT_FALSE(main->isTerminated());
    EXPECT_TRUE(main->terminate());
    EXPECT_TRUE(eventually(main->isTerminated));
    EXPECT_TRUE(eventually(helper->isTerminated));
    int status = 0;
    ::waitpid(std::exchange(pid, 0), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ended by a signal";
    // Once it is gone and reaped, its pid may name another process: nothing reaches that one.
    EXPECT_FALSE(main->terminate());
    EXPECT_TRUE(main->isTerminated());
}

} // namespace
