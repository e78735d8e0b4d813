#pragma once

#include "app/model/AppModel.hpp"
#include "platform/Platform.hpp"

#include <QDialog>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class QDialog;

namespace ombrelo::ui {
class CleanupScreen;
class ConfirmSheet;
class MainWindow;
class OutcomeSheet;
} // namespace ombrelo::ui

// Real temporary homes and controllable services for driving the window through the model: the
// screenshot command and the widget tests share them.
namespace ombrelo::scenes {

// A home folder in a fresh temporary folder, with HOME, XDG_DATA_HOME and XDG_STATE_HOME pointing
// into it while it lives (so the history, the Trash and the remembered scans are its own).
class SampleHome {
public:
    SampleHome();
    ~SampleHome();
    SampleHome(const SampleHome&) = delete;
    SampleHome& operator=(const SampleHome&) = delete;

    QString home() const { return home_; }
    varnok::Url url() const;
    std::string path(const std::string& relative) const;
    // Writes `bytes` bytes of varied content at `relative`, with parents; `ageDays` back-dates it.
    void write(const std::string& relative, std::int64_t bytes, int ageDays = 0);
    void makeFolder(const std::string& relative);

    // Caches of Spotify, Zoom, Chrome, Firefox, Claude and Slack, two old logs, a fresh log, a
    // project with its dependencies and a pair of identical documents.
    void fillTypical();
    // `count` log files older than 30 days.
    void addOldLogs(int count);

private:
    QTemporaryDir dir_;
    QString home_;
    QByteArray savedHome_;
    QByteArray savedData_;
    QByteArray savedState_;
};

// The system's services with a few switches: folders that read as inaccessible, one location
// whose walk waits until released, and items that refuse to move to the Trash. Installed once for
// the whole process, because background work may still be using it after a scene ends.
class ScenePlatform : public varnok::Platform {
public:
    static ScenePlatform& install();

    void reset();
    void deny(const std::string& path);
    // The walk of `path` waits before it starts until release().
    void holdWalk(const std::string& path);
    // Moves to the Trash wait until release().
    void holdMoves();
    void release();
    // Whether some walk or move is waiting now.
    bool isHolding() const { return waiting_.load() > 0; }
    void refuseMove(const std::string& path);

    std::unique_ptr<varnok::DirectoryEnumerator>
    enumerator(const varnok::Url& root, varnok::EnumerationErrorHandler onError) override;
    varnok::Url resolvingSymlinks(const varnok::Url& url) override;
    varnok::ResourceValues resourceValues(const varnok::Url& url) override;
    varnok::Url homeDirectory() override;
    varnok::Url temporaryDirectory() override;
    varnok::Url applicationSupportDirectory() override;
    std::vector<varnok::Url> contentsOfDirectory(const varnok::Url& folder) override;
    bool fileExists(const varnok::Url& url) override;
    bool isReadableFile(const varnok::Url& url) override;
    void createDirectory(const varnok::Url& folder, bool withIntermediateDirectories) override;
    void writeNew(const varnok::Url& file, std::string_view bytes) override;
    void writeAtomically(const varnok::Url& file, std::string_view bytes) override;
    std::string readFile(const varnok::Url& file) override;
    std::optional<varnok::Url> moveToTrash(const varnok::Url& url) override;
    bool isInTrash(const varnok::Url& url) override;
    void forgetTrashedItem(const varnok::Url& trashURL) override;

private:
    explicit ScenePlatform(varnok::Platform& system) : system_(system) {}
    bool denied(const std::string& path) const;
    void waitWhileHeld(bool moves, const std::string& path);

    varnok::Platform& system_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::set<std::string> denied_;
    std::set<std::string> refused_;
    std::string heldWalk_;
    bool holdMoves_ = false;
    bool holding_ = false;
    std::atomic<int> waiting_{0};
};

// Defaults kept in memory.
class MemoryDefaults : public varnok::UserDefaults {
public:
    bool boolValue(const std::string& key) override { return values_[key]; }
    void setBoolValue(const std::string& key, bool value) override { values_[key] = value; }

private:
    std::map<std::string, bool> values_;
};

// A workspace that only remembers what it was asked to show or open.
class QuietWorkspace : public varnok::Workspace {
public:
    void reveal(const varnok::Url& url) override { revealed.push_back(url); }
    std::optional<varnok::Url> accessSettingsAddress() override { return std::nullopt; }
    void open(const varnok::Url& url) override { opened.push_back(url); }
    std::vector<varnok::Url> revealed;
    std::vector<varnok::Url> opened;
};

// A running application that quits only when told to.
class FakeApp {
public:
    FakeApp(std::string bundleID, std::string name, bool regular = true);
    varnok::CleanupAppSession session() const;
    void quit() { state_->terminated = true; }
    bool askedToQuit() const { return state_->asked; }

private:
    struct State {
        std::atomic<bool> terminated{false};
        std::atomic<bool> asked{false};
    };
    std::string bundleID_;
    std::string name_;
    bool regular_;
    std::shared_ptr<State> state_;
};

// A model over the scene's services, the access introduction already seen unless asked.
std::unique_ptr<varnok::AppModel> makeModel(std::shared_ptr<MemoryDefaults> defaults,
                                            std::shared_ptr<QuietWorkspace> workspace,
                                            bool introSeen = true);

// Processes events until `done` holds or `timeoutMs` passes; returns whether it holds.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 30000);

// Identical copies under `folder` of the scanned home, as duplicate candidates keeping the first.
std::vector<varnok::CleanupCandidate> duplicateCandidates(const varnok::Url& folder);
// Dependency folders and build output under `folder`.
std::vector<varnok::CleanupCandidate> projectCandidates(const varnok::Url& folder,
                                                        const varnok::Url& home);

// One window over one fresh home: the model with in-memory defaults, a quiet workspace and the
// given running applications, driven as a user would. Failures throw std::runtime_error.
class Stage {
public:
    Stage();
    ~Stage();
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    // Creates the model and shows the window; `apps` are the running applications from then on.
    void open(bool introSeen = true);
    // Processes pending events a few times.
    void settle();
    void need(bool ok, const char* what);
    // Starts a cleanup scan with the main button or command and waits for its result.
    void scan();
    ui::CleanupScreen& screen();
    // Waits for the sheet of that name to open.
    template <typename T> T* sheet(const char* name) {
        return qobject_cast<T*>(waitForSheet(name));
    }
    void expandAll();
    // Selects the available items and opens the confirmation for them.
    ui::ConfirmSheet* review();
    // Reviews, ticks and moves the available items, and waits for the report.
    void moveReviewed();
    // Waits until every row of the sheet knows its recovery availability.
    void waitForAvailability(ui::OutcomeSheet* sheet);

    SampleHome home;
    ScenePlatform& platform;
    std::shared_ptr<MemoryDefaults> defaults;
    std::shared_ptr<QuietWorkspace> workspace;
    std::vector<FakeApp> apps;
    std::unique_ptr<varnok::AppModel> model;
    std::unique_ptr<ui::MainWindow> window;

private:
    QDialog* waitForSheet(const char* name);
};

} // namespace ombrelo::scenes
