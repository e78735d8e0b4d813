#include "platform/linux/LinuxRunningApplications.hpp"
#include "tests/support/TestSupport.hpp"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace varnok;
using namespace varnok::testing;

namespace {

struct FakeProcess {
    int pid;
    int parentPid = 1;
    std::string comm;
    std::vector<std::string> arguments;
    std::string exe; // empty: no readable link, as for another user's process
    std::vector<std::string> environment;
    long long uid = ::getuid();
    char state = 'S';
};

FakeProcess process(int pid, int parentPid, std::string comm, std::vector<std::string> arguments,
                    std::string exe, std::vector<std::string> environment = {}) {
    FakeProcess p;
    p.pid = pid;
    p.parentPid = parentPid;
    p.comm = std::move(comm);
    p.arguments = std::move(arguments);
    p.exe = std::move(exe);
    p.environment = std::move(environment);
    return p;
}

// Writes the files of /proc/PID that the listing reads.
void addProcess(const TempDir& proc, const FakeProcess& p) {
    const std::string dir = proc.at(std::to_string(p.pid));
    writeFile(dir + "/status", "Name:\t" + p.comm + "\nPPid:\t" + std::to_string(p.parentPid) +
                                   "\nUid:\t" + std::to_string(p.uid) + "\t" +
                                   std::to_string(p.uid) + "\t0\t0\n");
    std::string stat =
        std::to_string(p.pid) + " (" + p.comm + ") " + p.state + " " + std::to_string(p.parentPid);
    for (int field = 5; field <= 21; ++field) {
        stat += " 0";
    }
    stat += " " + std::to_string(1000 + p.pid) + " 0 0\n";
    writeFile(dir + "/stat", stat);
    writeFile(dir + "/comm", p.comm + "\n");
    std::string cmdline;
    for (const auto& argument : p.arguments) {
        cmdline += argument + '\0';
    }
    writeFile(dir + "/cmdline", cmdline);
    std::string environment;
    for (const auto& variable : p.environment) {
        environment += variable + '\0';
    }
    writeFile(dir + "/environ", environment);
    if (!p.exe.empty()) {
        makeSymlink(p.exe, dir + "/exe");
    }
}

std::string describe(const LinuxProcessRecord& r) {
    return std::to_string(r.pid) + " " + r.bundleIdentifier + " " + r.name +
           (r.isRegular ? " regular" : " background");
}

std::vector<std::string> listing(const TempDir& proc) {
    std::vector<std::string> out;
    for (const auto& record : LinuxRunningApplications::processes(proc.path())) {
        out.push_back(describe(record));
    }
    return out;
}

using Lines = std::vector<std::string>;

TEST(LinuxRunningApplications, MainProcessesAndTheirHelpers) {
    TempDir proc;
    addProcess(proc, process(100, 1, "slack", {"/usr/lib/slack/slack"}, "/usr/lib/slack/slack"));
    addProcess(proc, process(101, 100, "slack", {"/usr/lib/slack/slack", "--type=renderer"},
                             "/usr/lib/slack/slack"));
    addProcess(proc, process(102, 101, "slack", {"/usr/lib/slack/slack", "--type=gpu-process"},
                             "/usr/lib/slack/slack"));
    // Firefox's content processes share its executable and carry no --type=.
    addProcess(proc,
               process(200, 1, "firefox-esr", {"firefox-esr"}, "/usr/lib/firefox-esr/firefox-esr"));
    addProcess(proc, process(201, 200, "Web Content", {"firefox-esr", "-contentproc"},
                             "/usr/lib/firefox-esr/firefox-esr"));
    // A helper with a name of its own is known by its parent.
    addProcess(proc, process(300, 1, "zoom", {"zoom"}, "/opt/zoom/zoom"));
    addProcess(proc, process(301, 300, "ZoomWebviewHos", {"ZoomWebviewHost"},
                             "/opt/zoom/ZoomWebviewHost"));
    // Nothing known.
    addProcess(proc, process(400, 1, "bash", {"bash"}, "/usr/bin/bash"));
    addProcess(proc, process(401, 400, "vim", {"vim"}, "/usr/bin/vim"));
    EXPECT_EQ(listing(proc), Lines({
                                 "100 com.tinyspeck.slackmacgap Slack regular",
                                 "101 com.tinyspeck.slackmacgap.helper Slack Helper background",
                                 "102 com.tinyspeck.slackmacgap.helper Slack Helper background",
                                 "200 org.mozilla.firefox Firefox regular",
                                 "201 org.mozilla.firefox.helper Firefox Helper background",
                                 "300 us.zoom.xos Zoom regular",
                                 "301 us.zoom.xos.helper Zoom Helper background",
                             }));
}

TEST(LinuxRunningApplications, RecognisesPackagesExecutablesAndTruncatedNames) {
    TempDir proc;
    // Flatpak and Snap ids win over a generic executable.
    addProcess(
        proc, process(10, 1, "bwrap", {"bwrap"}, "/usr/bin/bwrap", {"FLATPAK_ID=com.slack.Slack"}));
    addProcess(proc,
               {11, 1, "spotify", {"spotify"}, "/snap/spotify/1/spotify", {"SNAP_NAME=spotify"}});
    // The executable counts even after a package upgrade replaced it.
    addProcess(proc,
               process(12, 1, "MainThread", {"chrome"}, "/opt/google/chrome/chrome (deleted)"));
    // Only 15 bytes of a long process name survive; an unreadable exe leaves the name.
    addProcess(proc, process(13, 1, "microsoft-edge-", {"microsoft-edge-stable"}, ""));
    addProcess(proc, process(14, 1, "Discord", {"Discord"}, ""));
    // A name that merely begins like a known one is not it.
    addProcess(proc, process(15, 1, "slackware", {"slackware"}, ""));
    addProcess(proc, process(16, 1, "chrome-x", {"x"}, ""));
    EXPECT_EQ(listing(proc), Lines({
                                 "10 com.tinyspeck.slackmacgap Slack regular",
                                 "11 com.spotify.client Spotify regular",
                                 "12 com.google.Chrome Google Chrome regular",
                                 "13 com.microsoft.edgemac Microsoft Edge regular",
                                 "14 com.hnc.Discord Discord regular",
                             }));
}

TEST(LinuxRunningApplications, OnlyLiveProcessesOfThisUser) {
    TempDir proc;
    FakeProcess other = process(20, 1, "slack", {"slack"}, "");
    other.uid = ::getuid() + 1000;
    addProcess(proc, other);
    FakeProcess zombie = process(21, 1, "slack", {"slack"}, "");
    zombie.state = 'Z';
    addProcess(proc, zombie);
    // Parentheses and spaces in a name do not shift the fields.
    addProcess(proc, process(22, 1, "vlc) R 1 (x", {"vlc"}, "/usr/bin/vlc"));
    makeFolder(proc.at("self"));
    makeFolder(proc.at("23"));
    EXPECT_EQ(listing(proc), Lines({"22 org.videolan.vlc VLC regular"}));
    TempDir missing;
    EXPECT_TRUE(LinuxRunningApplications::processes(missing.at("nothing")).empty());
}

// A copy of a system binary under an application's name, so /proc reports it as that app.
class NamedProcess {
public:
    NamedProcess(const TempDir& dir, const std::string& name, const std::string& binary,
                 std::vector<std::string> arguments) {
        path_ = dir.at(name);
        std::string copy = "cp " + binary + " '" + path_ + "'";
        if (std::system(copy.c_str()) != 0) {
            throw std::runtime_error("cannot copy " + binary);
        }
        std::vector<char*> argv;
        argv.push_back(path_.data());
        for (auto& argument : arguments_ = std::move(arguments)) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, path_.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            throw std::runtime_error("cannot start " + path_);
        }
    }
    ~NamedProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL); // the test's own child
            reap();
        }
    }
    int pid() const { return pid_; }
    // Waits for the child's exit status; -1 when it did not end by a signal.
    int reap() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }

private:
    std::string path_;
    std::vector<std::string> arguments_;
    pid_t pid_ = 0;
};

const RunningApplication* find(const std::vector<RunningApplication>& list, const std::string& id) {
    for (const auto& app : list) {
        if (app.bundleIdentifier == id) {
            return &app;
        }
    }
    return nullptr;
}

// Polls until the process has been seen to end; not a timing assertion, only a bound.
bool ends(const RunningApplication& app) {
    for (int i = 0; i < 500; ++i) {
        if (app.isTerminated()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(LinuxRunningApplications, PoliteQuitReachesTheListedProcessOnly) {
    TempDir dir;
    NamedProcess slack(dir, "slack", "/bin/sleep", {"60"});
    std::vector<RunningApplication> list;
    for (int i = 0; i < 500 && !find(list, "com.tinyspeck.slackmacgap"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        list = RunningApplications::system();
    }
    const RunningApplication* app = find(list, "com.tinyspeck.slackmacgap");
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->localizedName, "Slack");
    EXPECT_TRUE(app->isRegular);
    EXPECT_FALSE(app->isTerminated());
    EXPECT_TRUE(app->terminate());
    EXPECT_TRUE(ends(*app));
    EXPECT_EQ(slack.reap(), SIGTERM);
    // After it has gone nothing more is delivered.
    EXPECT_FALSE(app->terminate());
    EXPECT_TRUE(app->isTerminated());
}

TEST(LinuxRunningApplications, HelpersAreNeverAskedToQuit) {
    TempDir dir;
    // A shell named like the app, with a child of its own that it ends and reaps when asked to
    // quit, so that nothing outlives the test.
    NamedProcess discord(dir, "Discord", "/bin/sh",
                         {"-c", "trap 'kill $!; wait; exit 0' TERM; /bin/sleep 60 & wait"});
    const RunningApplication* helper = nullptr;
    std::vector<RunningApplication> list;
    for (int i = 0; i < 500 && helper == nullptr; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        list = RunningApplications::system();
        helper = find(list, "com.hnc.Discord.helper");
    }
    ASSERT_NE(helper, nullptr);
    EXPECT_FALSE(helper->isRegular);
    EXPECT_FALSE(helper->terminate());
    EXPECT_FALSE(helper->isTerminated());
    const RunningApplication* main = find(list, "com.hnc.Discord");
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->terminate());
    EXPECT_TRUE(ends(*main));
}

TEST(RunningApplications, AFixedSourceReplacesTheSystemList) {
    {
        ScopedRunningApplications fixed([] {
            RunningApplication app;
            app.bundleIdentifier = "com.example.fixed";
            return std::vector<RunningApplication>{app};
        });
        auto list = RunningApplications::current();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].bundleIdentifier, "com.example.fixed");
    }
    auto list = RunningApplications::current();
    EXPECT_TRUE(std::none_of(list.begin(), list.end(), [](const RunningApplication& app) {
        return app.bundleIdentifier == "com.example.fixed";
    }));
}

} // namespace
