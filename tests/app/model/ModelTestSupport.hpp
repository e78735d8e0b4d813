#pragma once

#include "app/model/AppModel.hpp"
#include "core/common/FileError.hpp"
#include "platform/linux/LinuxPlatform.hpp"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

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
    std::vector<Url> revealed, opened;
};

// A stand-in application whose quitting the test controls.
struct FakeApp {
    struct State {
        bool terminated = false;
        bool quitsWhenAsked = false;
        int quitRequests = 0;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    CleanupAppSession session;

    FakeApp(const std::string& bundleID, const std::string& name, bool regular) {
        session = {bundleID, name, regular,
                   [s = state] {
                       ++s->quitRequests;
                       s->terminated = s->terminated || s->quitsWhenAsked;
                       return true;
                   },
                   [s = state] { return s->terminated; }};
    }
};

inline std::string writeFile(const std::string& path, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

inline std::optional<QString> text(const char* value) {
    return QString::fromUtf8(value);
}

// Whether anything, a link included, is at `path`.
inline bool exists(const std::string& path) {
    return std::filesystem::symlink_status(path).type() != std::filesystem::file_type::not_found;
}

inline const FileNode& childNamed(const FileNode& folder, const std::string& name) {
    for (const FileNode& each : folder.children) {
        if (each.name() == name) {
            return each;
        }
    }
    throw std::runtime_error("no " + name + " in " + folder.id.path());
}

// A scratch home with its own data and state folders (and so its own Trash, history and
// remembered scans), set as HOME, XDG_DATA_HOME and XDG_STATE_HOME while it lives.
class ScratchHome {
public:
    ScratchHome()
        : oldHome_(qgetenv("HOME")), oldData_(qgetenv("XDG_DATA_HOME")),
          oldCache_(qgetenv("XDG_CACHE_HOME")), oldState_(qgetenv("XDG_STATE_HOME")) {
        std::filesystem::create_directories(home + "/.local/share");
        qunsetenv("XDG_CACHE_HOME");
        qputenv("HOME", home.c_str());
        qputenv("XDG_DATA_HOME", (home + "/.local/share").c_str());
        qputenv("XDG_STATE_HOME", (home + "/.local/state").c_str());
    }
    ~ScratchHome() {
        qputenv("HOME", oldHome_);
        qputenv("XDG_DATA_HOME", oldData_);
        if (!oldCache_.isEmpty()) {
            qputenv("XDG_CACHE_HOME", oldCache_);
        }
        if (oldState_.isEmpty()) {
            qunsetenv("XDG_STATE_HOME");
        } else {
            qputenv("XDG_STATE_HOME", oldState_);
        }
    }
    // A cache folder at a known location holding one plain file; returns the folder's path.
    std::string cache(const std::string& location, size_t bytes = 10) {
        writeFile(home + "/" + location + "/data.bin", std::string(bytes, 'x'));
        return home + "/" + location;
    }
    Url url() const { return Url::file(home, true); }
    std::string historyFolder() const { return home + "/.local/share/Varnok/cleanup-history"; }
    std::string scanStore() const { return home + "/.local/state/ombrelo/scans"; }

    QTemporaryDir dir;
    const std::string home = dir.path().toStdString() + "/home";

private:
    QByteArray oldHome_, oldData_, oldCache_, oldState_;
};

// The system's file services, except that walks below a closed gate's path wait until the test
// opens it, and moving a path listed in `failingMoves` fails. Installed once for the whole
// program (see gate()), so that no background scan a test leaves behind outlives it.
class GatedPlatform : public LinuxPlatform {
public:
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
    // Blocks the test's thread (no events run) until a walk waits at the gate.
    bool waitUntilReached() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return waiting_ > 0; });
    }
    std::set<std::string> failingMoves;

    std::unique_ptr<DirectoryEnumerator> enumerator(const Url& root,
                                                    EnumerationErrorHandler onError) override {
        std::unique_lock lock(mutex_);
        if (!isOpen_ && root.path().rfind(gatedPath_, 0) == 0) {
            ++waiting_;
            changed_.notify_all();
            changed_.wait(lock, [&] { return isOpen_; });
            --waiting_;
        }
        lock.unlock();
        return LinuxPlatform::enumerator(root, std::move(onError));
    }
    std::optional<Url> moveToTrash(const Url& url) override {
        if (failingMoves.count(url.path()) != 0) {
            throw FileError(FileError::writeNoPermission, url.path(), EACCES);
        }
        return LinuxPlatform::moveToTrash(url);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string gatedPath_;
    bool isOpen_ = true;
    int waiting_ = 0;
};

inline GatedPlatform& gate() {
    static GatedPlatform* instance = [] {
        auto* platform = new GatedPlatform;
        Platform::setCurrent(platform);
        return platform;
    }();
    return *instance;
}

// A model on fake settings and workspace, with no applications running unless a test says so.
struct ModelFixture {
    std::shared_ptr<FakeDefaults> defaults = std::make_shared<FakeDefaults>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::vector<CleanupAppSession> running;
    std::unique_ptr<AppModel> model = std::make_unique<AppModel>(defaults, workspace);

    ModelFixture() {
        model->cleanup().setCleanupAppProvider([this] { return running; });
        model->cleanup().setCloseWaitInterval(10000000);
    }
    // Runs events until nothing runs in the background, the explorer's work included.
    bool settle() {
        return QTest::qWaitFor(
            [&] {
                return !model->isBusy() && !model->explore().activeScanURL() &&
                       !model->explore().comparingWith() && !model->remembered().isRemembering();
            },
            20000);
    }
    bool explore(const std::string& folder) {
        model->explore().scanFolder(Url::file(folder, true));
        return settle();
    }
    bool scan(const Url& home) {
        model->cleanup().scanForCleanup(home);
        return model->cleanup().isScanning() && settle();
    }
    const CleanupCandidate* candidate(const std::string& path) const {
        for (const auto& item : model->cleanup().candidates()) {
            if (item.id().path() == path) {
                return &item;
            }
        }
        return nullptr;
    }
    bool queued(const std::string& path) const {
        const auto& items = model->cleanup().queue().items();
        return std::any_of(items.begin(), items.end(),
                           [&](const auto& item) { return item.id().path() == path; });
    }
};

} // namespace varnok::testing
