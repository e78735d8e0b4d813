#include "app/ui/scenes/Scenes.hpp"

#include "app/ui/MainWindow.hpp"
#include "app/ui/cleanup/CategoryGroup.hpp"
#include "app/ui/cleanup/CleanupScreen.hpp"
#include "app/ui/cleanup/Sheets.hpp"
#include "app/ui/recovery/RecoverySheets.hpp"

#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/scan/ScanEngine.hpp"
#include "platform/RunningApplications.hpp"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <utime.h>

namespace ombrelo::scenes {
namespace {

bool inside(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

// Yields nothing: the walk of a folder that cannot be opened.
class EmptyEnumerator : public varnok::DirectoryEnumerator {
public:
    bool next(varnok::DirectoryEntry&) override { return false; }
    void skipDescendants() override {}
};

// Passes the system's walk through, reporting denied folders as unopenable.
class FilteringEnumerator : public varnok::DirectoryEnumerator {
public:
    FilteringEnumerator(std::unique_ptr<varnok::DirectoryEnumerator> inner,
                        varnok::EnumerationErrorHandler onError,
                        std::function<bool(const std::string&)> denied)
        : inner_(std::move(inner)), onError_(std::move(onError)), denied_(std::move(denied)) {}

    bool next(varnok::DirectoryEntry& entry) override {
        if (!inner_->next(entry)) {
            return false;
        }
        if (entry.folderForm && denied_(entry.path)) {
            inner_->skipDescendants();
            if (onError_) {
                onError_(entry.path, EACCES);
            }
        }
        return true;
    }
    void skipDescendants() override { inner_->skipDescendants(); }

private:
    std::unique_ptr<varnok::DirectoryEnumerator> inner_;
    varnok::EnumerationErrorHandler onError_;
    std::function<bool(const std::string&)> denied_;
};

} // namespace

SampleHome::SampleHome() {
    dir_.setAutoRemove(true);
    home_ = QDir(dir_.path()).filePath(QStringLiteral("home"));
    QDir().mkpath(home_);
    QDir().mkpath(QDir(dir_.path()).filePath(QStringLiteral("data")));
    savedHome_ = qgetenv("HOME");
    savedData_ = qgetenv("XDG_DATA_HOME");
    savedState_ = qgetenv("XDG_STATE_HOME");
    qputenv("HOME", home_.toUtf8());
    qputenv("XDG_DATA_HOME", QDir(dir_.path()).filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_STATE_HOME", QDir(dir_.path()).filePath(QStringLiteral("state")).toUtf8());
}

SampleHome::~SampleHome() {
    qputenv("HOME", savedHome_);
    if (savedData_.isEmpty()) {
        qunsetenv("XDG_DATA_HOME");
    } else {
        qputenv("XDG_DATA_HOME", savedData_);
    }
    if (savedState_.isEmpty()) {
        qunsetenv("XDG_STATE_HOME");
    } else {
        qputenv("XDG_STATE_HOME", savedState_);
    }
}

varnok::Url SampleHome::url() const {
    return varnok::Url::file(home_.toStdString(), true);
}

std::string SampleHome::path(const std::string& relative) const {
    return home_.toStdString() + "/" + relative;
}

void SampleHome::makeFolder(const std::string& relative) {
    QDir().mkpath(QString::fromStdString(path(relative)));
}

void SampleHome::write(const std::string& relative, std::int64_t bytes, int ageDays) {
    QString file = QString::fromStdString(path(relative));
    QDir().mkpath(QFileInfo(file).path());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw varnok::CleanupProblem("Cannot write " + relative);
    }
    QByteArray chunk(64 * 1024, '\0');
    // Content varies with the name so that unrelated files are never duplicates.
    std::uint32_t seed = static_cast<std::uint32_t>(qHash(file)) | 1u;
    for (char& c : chunk) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    // Real bytes up front, the rest a hole: large sizes without writing them.
    out.write(chunk.constData(), std::min<std::int64_t>(chunk.size(), bytes));
    out.resize(bytes);
    out.close();
    if (ageDays > 0) {
        struct utimbuf times {};
        times.actime = times.modtime = ::time(nullptr) - static_cast<time_t>(ageDays) * 86400;
        ::utime(file.toLocal8Bit().constData(), &times);
    }
}

void SampleHome::fillTypical() {
    write(".cache/spotify/Data/track-1.cache", 41'000'000);
    write(".cache/spotify/Data/track-2.cache", 23'500'000);
    write(".cache/thumbnails/large/4f1c.png", 3'200'000);
    write(".cache/google-chrome/Default/Cache/Cache_Data/data_1", 88'000'000);
    write(".cache/mozilla/firefox/k3x9.default-release/cache2/entries/A1", 12'400'000);
    write(".config/Claude/Cache/Cache_Data/data_0", 6'700'000);
    write(".config/Slack/Cache/Cache_Data/data_1", 18'300'000);
    write(".config/Slack/Code Cache/js/index", 4'100'000);
    write(".local/state/zoom/logs/zoom_stdout_stderr.log", 420'000, 45);
    write(".config/Slack/Crashpad/completed/5e0a-photos.dmp", 96'000, 80);
    write(".local/state/zoom/logs/today.log", 9'000);
    write("Projects/site/package.json", 40);
    write("Projects/site/package-lock.json", 60);
    write("Projects/site/node_modules/left-pad/index.js", 2'600'000);
    write("Documents/Report.pdf", 1'800'000);
    write("Documents/notes.txt", 1'200);
    makeFolder("Downloads");
    QFile::copy(QString::fromStdString(path("Documents/Report.pdf")),
                QString::fromStdString(path("Downloads/Report (1).pdf")));
}

void SampleHome::addOldLogs(int count) {
    for (int i = 0; i < count; ++i) {
        write(".local/state/batch/run-" + std::to_string(1000 + i) + ".log", 1000 + i, 40);
    }
}

ScenePlatform& ScenePlatform::install() {
    // Never destroyed: a background walk of an earlier scene may still be using it.
    static ScenePlatform* platform = [] {
        auto* created = new ScenePlatform(varnok::Platform::current());
        varnok::Platform::setCurrent(created);
        return created;
    }();
    return *platform;
}

void ScenePlatform::reset() {
    release();
    std::lock_guard lock(mutex_);
    denied_.clear();
    refused_.clear();
}

void ScenePlatform::deny(const std::string& path) {
    std::lock_guard lock(mutex_);
    denied_.insert(path);
}

void ScenePlatform::holdWalk(const std::string& path) {
    std::lock_guard lock(mutex_);
    heldWalk_ = path;
    holding_ = true;
}

void ScenePlatform::holdMoves() {
    std::lock_guard lock(mutex_);
    holdMoves_ = true;
    holding_ = true;
}

void ScenePlatform::release() {
    {
        std::lock_guard lock(mutex_);
        holding_ = false;
        holdMoves_ = false;
        heldWalk_.clear();
    }
    released_.notify_all();
}

void ScenePlatform::refuseMove(const std::string& path) {
    std::lock_guard lock(mutex_);
    refused_.insert(path);
}

bool ScenePlatform::denied(const std::string& path) const {
    std::lock_guard lock(mutex_);
    for (const auto& folder : denied_) {
        if (inside(path, folder)) {
            return true;
        }
    }
    return false;
}

void ScenePlatform::waitWhileHeld(bool moves, const std::string& path) {
    std::unique_lock lock(mutex_);
    auto held = [&] { return holding_ && (moves ? holdMoves_ : heldWalk_ == path); };
    if (!held()) {
        return;
    }
    ++waiting_;
    released_.wait(lock, [&] { return !held(); });
    --waiting_;
}

std::unique_ptr<varnok::DirectoryEnumerator>
ScenePlatform::enumerator(const varnok::Url& root, varnok::EnumerationErrorHandler onError) {
    waitWhileHeld(false, root.path());
    if (denied(root.path())) {
        if (onError) {
            onError(root.path(), EACCES);
        }
        return std::make_unique<EmptyEnumerator>();
    }
    return std::make_unique<FilteringEnumerator>(
        system_.enumerator(root, onError), onError,
        [this](const std::string& path) { return denied(path); });
}

varnok::Url ScenePlatform::resolvingSymlinks(const varnok::Url& url) {
    return system_.resolvingSymlinks(url);
}

varnok::ResourceValues ScenePlatform::resourceValues(const varnok::Url& url) {
    varnok::ResourceValues values = system_.resourceValues(url);
    if (denied(url.path())) {
        values.isReadable = false;
    }
    return values;
}

varnok::Url ScenePlatform::homeDirectory() {
    return system_.homeDirectory();
}
varnok::Url ScenePlatform::temporaryDirectory() {
    return system_.temporaryDirectory();
}
varnok::Url ScenePlatform::applicationSupportDirectory() {
    return system_.applicationSupportDirectory();
}
std::vector<varnok::Url> ScenePlatform::contentsOfDirectory(const varnok::Url& folder) {
    return system_.contentsOfDirectory(folder);
}
bool ScenePlatform::fileExists(const varnok::Url& url) {
    return system_.fileExists(url);
}
bool ScenePlatform::isReadableFile(const varnok::Url& url) {
    return !denied(url.path()) && system_.isReadableFile(url);
}
void ScenePlatform::createDirectory(const varnok::Url& folder, bool withIntermediateDirectories) {
    system_.createDirectory(folder, withIntermediateDirectories);
}
void ScenePlatform::writeNew(const varnok::Url& file, std::string_view bytes) {
    system_.writeNew(file, bytes);
}
void ScenePlatform::writeAtomically(const varnok::Url& file, std::string_view bytes) {
    system_.writeAtomically(file, bytes);
}
std::string ScenePlatform::readFile(const varnok::Url& file) {
    return system_.readFile(file);
}

std::optional<varnok::Url> ScenePlatform::moveToTrash(const varnok::Url& url) {
    waitWhileHeld(true, url.path());
    {
        std::lock_guard lock(mutex_);
        if (refused_.count(url.path()) > 0) {
            throw varnok::CleanupProblem("The item could not be moved to Trash.");
        }
    }
    return system_.moveToTrash(url);
}

bool ScenePlatform::isInTrash(const varnok::Url& url) {
    return system_.isInTrash(url);
}
void ScenePlatform::forgetTrashedItem(const varnok::Url& trashURL) {
    system_.forgetTrashedItem(trashURL);
}

FakeApp::FakeApp(std::string bundleID, std::string name, bool regular)
    : bundleID_(std::move(bundleID)), name_(std::move(name)), regular_(regular),
      state_(std::make_shared<State>()) {}

varnok::CleanupAppSession FakeApp::session() const {
    varnok::CleanupAppSession session;
    session.bundleID = bundleID_;
    session.name = name_;
    session.isRegular = regular_;
    auto state = state_;
    session.requestQuit = [state] {
        state->asked = true;
        return true;
    };
    session.hasTerminated = [state] { return state->terminated.load(); };
    return session;
}

std::unique_ptr<varnok::AppModel> makeModel(std::shared_ptr<MemoryDefaults> defaults,
                                            std::shared_ptr<QuietWorkspace> workspace,
                                            bool introSeen) {
    defaults->setBoolValue("cleanAccessIntroSeen", introSeen);
    return std::make_unique<varnok::AppModel>(std::move(defaults), std::move(workspace));
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

std::vector<varnok::CleanupCandidate> duplicateCandidates(const varnok::Url& folder) {
    varnok::ScanResult scan = varnok::ScanEngine::scan(folder, {});
    varnok::DuplicateResult result = varnok::DuplicateEngine::find(scan.root, {});
    std::vector<varnok::CleanupCandidate> found;
    for (const auto& group : result.groups) {
        const varnok::FileNode& keeper = group.files.front();
        for (std::size_t i = 1; i < group.files.size(); ++i) {
            const varnok::FileNode& copy = group.files[i];
            found.emplace_back(copy, varnok::CleanupCategory::duplicates,
                               copy.id.deletingLastPathComponent().path(),
                               "Identical to " + keeper.id.path(), false, keeper);
        }
    }
    return found;
}

std::vector<varnok::CleanupCandidate> projectCandidates(const varnok::Url& folder,
                                                        const varnok::Url& home) {
    varnok::ScanResult scan = varnok::ScanEngine::scan(folder, {});
    return varnok::CleanupAnalysis::detect(scan.root, home);
}

Stage::Stage()
    : platform(ScenePlatform::install()), defaults(std::make_shared<MemoryDefaults>()),
      workspace(std::make_shared<QuietWorkspace>()) {
    platform.reset();
}

Stage::~Stage() {
    platform.release();
    if (model) {
        model->cleanup().stopCleanScan();
        // A released move finishes and records itself before its home goes away.
        waitUntil([this] { return !model->isBusy(); }, 20000);
        // So does the save of a remembered scan.
        waitUntil([this] { return !model->remembered().isRemembering(); }, 20000);
    }
    window.reset();
    model.reset();
    varnok::RunningApplications::setSource({});
    QApplication::processEvents();
}

void Stage::open(bool introSeen) {
    model = makeModel(defaults, workspace, introSeen);
    std::vector<FakeApp> running = apps;
    model->cleanup().setCleanupAppProvider([running] {
        std::vector<varnok::CleanupAppSession> sessions;
        for (const auto& app : running) {
            sessions.push_back(app.session());
        }
        return sessions;
    });
    // The checks before a move ask the platform too; they must see these applications and not
    // the machine's, where another program may well be called "slack".
    varnok::RunningApplications::setSource([running] {
        std::vector<varnok::RunningApplication> list;
        for (const auto& app : running) {
            varnok::CleanupAppSession session = app.session();
            if (session.hasTerminated()) {
                continue;
            }
            varnok::RunningApplication application;
            application.bundleIdentifier = session.bundleID;
            application.localizedName = session.name;
            application.isRegular = session.isRegular;
            application.terminate = session.requestQuit;
            application.isTerminated = session.hasTerminated;
            list.push_back(std::move(application));
        }
        return list;
    });
    // The cleanup scenes start on the cleanup page; the others choose their own.
    model->setPage(varnok::AppPage::cleanup);
    window = std::make_unique<ui::MainWindow>(*model);
    window->show();
    settle();
}

void Stage::settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

void Stage::need(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

void Stage::scan() {
    model->cleanup().beginCleanScan();
    need(waitUntil(
             [this] { return model->cleanup().cleanResult() && !model->cleanup().isScanning(); }),
         "the scan did not finish");
    settle();
}

ui::CleanupScreen& Stage::screen() {
    return *window->screen();
}

QDialog* Stage::waitForSheet(const char* name) {
    if (!waitUntil([&] { return window->sheet(QString::fromLatin1(name)) != nullptr; }, 20000)) {
        // Say what the window shows instead, so that a failed run can be understood.
        std::string why = std::string(name) + " did not open";
        for (const auto& text : {model->cleanup().cleanStatus(), model->error(), model->note()}) {
            if (text) {
                why += "; the window says: " + text->toStdString();
            }
        }
        throw std::runtime_error(why);
    }
    return window->sheet(QString::fromLatin1(name));
}

void Stage::expandAll() {
    for (ui::CategoryGroup* group : screen().groups()) {
        screen().setExpanded(group->category(), true);
    }
    settle();
}

ui::ConfirmSheet* Stage::review() {
    model->cleanup().selectAvailableCleanItems();
    screen().reviewButton->click();
    return sheet<ui::ConfirmSheet>("confirmation");
}

void Stage::moveReviewed() {
    ui::ConfirmSheet* confirm = review();
    confirm->acknowledged->setChecked(true);
    confirm->moveButton->click();
    need(waitUntil([this] { return model->cleanup().cleanupReport().has_value(); }),
         "the move did not finish");
    settle();
}

void Stage::waitForAvailability(ui::OutcomeSheet* sheet) {
    waitUntil([sheet] {
        for (ui::OutcomeRow* row : sheet->rows()) {
            if (!row->availability()) {
                return false;
            }
        }
        return true;
    });
    settle();
}

} // namespace ombrelo::scenes
