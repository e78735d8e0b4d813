#pragma once

#include "app/model/AppModel.hpp"
#include "core/common/FileError.hpp"
#include "platform/Platform.hpp"
#include "platform/Workspace.hpp"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace varnok::testing {

class FakeDefaults : public UserDefaults {
public:
    bool boolValue(const std::string& key) override { return values[key]; }
    void setBoolValue(const std::string& key, bool value) override { values[key] = value; }
    std::map<std::string, bool> values;
};

class FakeWorkspace : public Workspace {
public:
    void reveal(const Url& url) override { revealed.push_back(url); }
    std::optional<Url> accessSettingsAddress() override { return std::nullopt; }
    void open(const Url& url) override { opened.push_back(url); }
    std::vector<Url> revealed;
    std::vector<Url> opened;
};

// A stand-in application whose quitting the test controls.
struct FakeApp {
    struct State {
        bool terminated = false;
        int quitRequests = 0;
        // Quits as soon as it is asked.
        bool quitsWhenAsked = false;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    CleanupAppSession session;

    FakeApp(const std::string& bundleID, const std::string& name, bool regular) {
        session.bundleID = bundleID;
        session.name = name;
        session.isRegular = regular;
        session.requestQuit = [s = state] {
            ++s->quitRequests;
            if (s->quitsWhenAsked) {
                s->terminated = true;
            }
            return true;
        };
        session.hasTerminated = [s = state] { return s->terminated; };
    }
};

inline std::string writeFile(const std::string& path, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

// A scratch home with its own data folder (and so its own Trash and history), set as HOME and
// XDG_DATA_HOME while it lives.
class ScratchHome {
public:
    ScratchHome() {
        save("HOME");
        save("XDG_DATA_HOME");
        home = dir.path().toStdString() + "/home";
        std::filesystem::create_directories(home + "/.local/share");
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    }
    ~ScratchHome() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

    // A cache folder at a known location holding one plain file; returns the folder's path.
    std::string cache(const std::string& location, size_t bytes = 10) {
        const std::string folder = home + "/" + location;
        writeFile(folder + "/data.bin", std::string(bytes, 'x'));
        return folder;
    }
    Url url() const { return Url::file(home, true); }
    std::string historyFolder() const { return home + "/.local/share/Varnok/cleanup-history"; }

    QTemporaryDir dir;
    std::string home;

private:
    void save(const std::string& name) {
        const char* value = std::getenv(name.c_str());
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

// The system's file services, except that walks below a closed gate's path wait until the test
// opens it, and moving a path listed in `failingMoves` to the Trash fails. Installed once for the
// whole program (see gate()), so that a background scan a test left behind never outlives it.
class GatedPlatform : public Platform {
public:
    GatedPlatform() : system_(Platform::current()) { Platform::setCurrent(this); }
    ~GatedPlatform() override { Platform::setCurrent(nullptr); }

    void reset() {
        open();
        failingMoves.clear();
    }

    void close(const std::string& path) {
        std::lock_guard lock(mutex_);
        gatedPath_ = path;
        isOpen_ = false;
    }
    void open() {
        std::lock_guard lock(mutex_);
        isOpen_ = true;
        changed_.notify_all();
    }
    // Blocks the calling thread (no events run) until a walk waits at the gate.
    bool waitUntilReached(std::chrono::seconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return waiting_ > 0; });
    }
    // Walks that have ended (their enumerators released).
    int finishedWalks() const { return finished_->load(); }
    std::set<std::string> failingMoves;

    std::unique_ptr<DirectoryEnumerator> enumerator(const Url& root,
                                                    EnumerationErrorHandler onError) override {
        {
            std::unique_lock lock(mutex_);
            if (!isOpen_ && root.path().rfind(gatedPath_, 0) == 0) {
                ++waiting_;
                changed_.notify_all();
                changed_.wait(lock, [&] { return isOpen_; });
                --waiting_;
            }
        }
        auto inner = system_.enumerator(root, std::move(onError));
        if (!inner) {
            return inner;
        }
        return std::make_unique<Counted>(std::move(inner), finished_);
    }
    Url resolvingSymlinks(const Url& url) override { return system_.resolvingSymlinks(url); }
    ResourceValues resourceValues(const Url& url) override { return system_.resourceValues(url); }
    Url homeDirectory() override { return system_.homeDirectory(); }
    Url temporaryDirectory() override { return system_.temporaryDirectory(); }
    Url applicationSupportDirectory() override { return system_.applicationSupportDirectory(); }
    std::vector<Url> contentsOfDirectory(const Url& folder) override {
        return system_.contentsOfDirectory(folder);
    }
    bool fileExists(const Url& url) override { return system_.fileExists(url); }
    bool isReadableFile(const Url& url) override { return system_.isReadableFile(url); }
    void createDirectory(const Url& folder, bool intermediate) override {
        system_.createDirectory(folder, intermediate);
    }
    void writeNew(const Url& file, std::string_view bytes) override {
        system_.writeNew(file, bytes);
    }
    void writeAtomically(const Url& file, std::string_view bytes) override {
        system_.writeAtomically(file, bytes);
    }
    std::string readFile(const Url& file) override { return system_.readFile(file); }
    std::optional<Url> moveToTrash(const Url& url) override {
        if (failingMoves.count(url.path()) != 0) {
            throw FileError(FileError::writeNoPermission, url.path(), EACCES);
        }
        return system_.moveToTrash(url);
    }
    bool isInTrash(const Url& url) override { return system_.isInTrash(url); }
    void forgetTrashedItem(const Url& trashURL) override { system_.forgetTrashedItem(trashURL); }

private:
    class Counted : public DirectoryEnumerator {
    public:
        Counted(std::unique_ptr<DirectoryEnumerator> inner,
                std::shared_ptr<std::atomic<int>> finished)
            : inner_(std::move(inner)), finished_(std::move(finished)) {}
        ~Counted() override { ++*finished_; }
        bool next(DirectoryEntry& entry) override { return inner_->next(entry); }
        void skipDescendants() override { inner_->skipDescendants(); }

    private:
        std::unique_ptr<DirectoryEnumerator> inner_;
        std::shared_ptr<std::atomic<int>> finished_;
    };

    Platform& system_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string gatedPath_;
    bool isOpen_ = true;
    int waiting_ = 0;
    std::shared_ptr<std::atomic<int>> finished_ = std::make_shared<std::atomic<int>>(0);
};

inline GatedPlatform& gate() {
    static GatedPlatform* instance = new GatedPlatform;
    return *instance;
}

// How many times `field` was announced since the spy started.
inline int announcements(const QSignalSpy& spy, AppModel::Field field) {
    int count = 0;
    for (const auto& arguments : spy) {
        if (arguments.at(0).value<AppModel::Field>() == field) {
            ++count;
        }
    }
    return count;
}

inline std::optional<QString> text(const char* value) {
    return QString::fromUtf8(value);
}

} // namespace varnok::testing

namespace varnok::testing {

// A model on fake settings and workspace, with no applications running unless a test says so.
struct ModelFixture {
    std::shared_ptr<FakeDefaults> defaults = std::make_shared<FakeDefaults>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::vector<CleanupAppSession> running;
    std::unique_ptr<AppModel> model = std::make_unique<AppModel>(defaults, workspace);

    ModelFixture() {
        model->setCleanupAppProvider([this] { return running; });
        model->setCloseWaitInterval(10000000);
    }
    // Runs events until nothing runs in the background.
    bool settle(int milliseconds = 20000) {
        return QTest::qWaitFor([&] { return !model->isScanning() && !model->isWorkingCleanup(); },
                               milliseconds);
    }
    bool scan(const Url& home) {
        model->scanForCleanup(home);
        return model->isScanning() && settle();
    }
    const CleanupCandidate* candidate(const std::string& path) const {
        for (const auto& item : model->candidates()) {
            if (item.id().path() == path) {
                return &item;
            }
        }
        return nullptr;
    }
    bool queued(const std::string& path) const {
        for (const auto& item : model->queue().items()) {
            if (item.id().path() == path) {
                return true;
            }
        }
        return false;
    }
};

} // namespace varnok::testing
