#include "tests/app/model/ModelTestSupport.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {
const std::string spotify = "Library/Caches/com.spotify.client";
const std::string slack = "Library/Application Support/Slack/Cache";
const std::string firefox = "Library/Caches/Firefox";
} // namespace

class ScanFlowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { gate().reset(); }

    void demoStateIsConsistentAndFullyDumped() {
        ScratchHome h;
        ModelFixture f;
        AppModel& model = *f.model;
        // Every folder of the sample adds up, and each example is one of its folders.
        std::map<Url, std::int64_t> sizes;
        std::function<void(const FileNode&)> check = [&](const FileNode& node) {
            sizes[node.id] = node.logicalSize;
            std::int64_t total = 0;
            for (const auto& child : node.children) {
                total += child.logicalSize;
                check(child);
            }
            QVERIFY(node.children.empty() || total == node.logicalSize);
        };
        check(model.root());
        QCOMPARE(sizes.size(), size_t(30));
        for (const auto& example : model.candidates()) {
            QCOMPARE(sizes[example.id()], example.node.logicalSize);
            QVERIFY(example.isExample && example.node.isDirectory);
        }
        QCOMPARE(model.candidateTotal(), 29200000000);
        QVERIFY(model.isDemo() && model.canStartCleanScan());
        QCOMPARE(model.cleanHome().path(), h.home);

        const QJsonObject state = QJsonDocument::fromJson(model.stateJson()).object();
        const QMetaEnum fields = QMetaEnum::fromType<AppModel::Field>();
        for (int i = 0; i < fields.keyCount(); ++i) {
            QVERIFY2(state.contains(QString::fromLatin1(fields.key(i))), fields.key(i));
        }
        QCOMPARE(state.value("candidates").toArray().size(), 3);
    }

    void introductionComesOnceAndMessagesBlockScanning() {
        ScratchHome h;
        h.cache(spotify);
        ModelFixture f;
        AppModel& model = *f.model;
        const QUuid revision = model.scanRevision();

        model.beginCleanScan();
        QVERIFY(model.showCleanAccess() && !model.isScanning());
        model.continueCleanAccess();
        QVERIFY(f.defaults->values["cleanAccessIntroSeen"]);
        QVERIFY(!model.showCleanAccess() && model.isScanning());
        QVERIFY(f.settle());

        QVERIFY(!model.isDemo() && !model.needsRescan());
        QVERIFY(model.scanRevision() != revision);
        QCOMPARE(model.root().id, h.url());
        QVERIFY(model.root().isDirectory && model.root().children.empty());
        QCOMPARE(model.root().logicalSize, 0);
        QCOMPARE(model.scanURL(), std::optional<Url>(h.url()));
        QCOMPARE(model.candidates().size(), size_t(1));
        QVERIFY(model.queue().items().empty());
        QCOMPARE(model.cleanRunning().at(model.candidates()[0].id()), QStringList());

        model.setNote(text("Read me"));
        model.beginCleanScan();
        QVERIFY(!model.isScanning());
        model.setNote(std::nullopt);
        model.beginCleanScan();
        QVERIFY(!model.showCleanAccess() && model.isScanning() && model.needsRescan());
        QVERIFY(f.settle());
    }

    void failedScanExplainsAndLeavesTheModelUsable() {
        ScratchHome h;
        const std::string link = h.dir.path().toStdString() + "/link";
        QVERIFY(::symlink(h.home.c_str(), link.c_str()) == 0);
        ModelFixture f;
        AppModel& model = *f.model;

        QVERIFY(f.scan(Url::file(link, true)));
        QCOMPARE(model.cleanStatus(),
                 text("Scan did not finish. Scan again to get current suggestions."));
        QCOMPARE(model.error(), text("The scan location must not be a symbolic link."));
        QVERIFY(model.isDemo() && !model.canStartCleanScan());
        model.setError(std::nullopt);
        QVERIFY(f.scan(h.url()));
        QVERIFY(!model.isDemo());
        QCOMPARE(model.cleanStatus(), std::nullopt);
    }

    void stoppedRunsPublishNothingLater() {
        ScratchHome first;
        // The first run reports files from its first location, then waits at the second.
        for (int i = 0; i < 30; ++i) {
            writeFile(first.home + "/Library/Caches/com.figma.Desktop/f" + std::to_string(i), "x");
        }
        first.cache(spotify);
        ScratchHome second;
        ModelFixture f;
        AppModel& model = *f.model;
        QSignalSpy spy(&model, &AppModel::changed);

        gate().close(first.home + "/" + spotify);
        model.scanForCleanup(first.url());
        QVERIFY(gate().waitUntilReached());
        // Its reports are queued, not yet taken up: they arrive after the restart.
        model.stopCleanScan();
        QCOMPARE(model.cleanStatus(), text("Scan canceled. No files were removed."));
        model.scanForCleanup(second.url());
        gate().open();
        QVERIFY(f.settle());
        QTest::qWait(50);
        int results = 0;
        for (const auto& arguments : spy) {
            results += arguments.at(0).value<AppModel::Field>() == AppModel::Field::cleanResult;
        }
        QCOMPARE(results, 1);
        QCOMPARE(model.cleanHome(), second.url());
        QVERIFY(model.candidates().empty());
        QCOMPARE(model.cleanScanCount(), 0);
        QCOMPARE(model.cleanStatus(), std::nullopt);

        gate().close(first.home);
        model.scanForCleanup(first.url());
        QVERIFY(gate().waitUntilReached());
        model.stopCleanScan();
        QCOMPARE(model.cleanStatus(),
                 text("Scan canceled. Previous results need a fresh scan before cleaning."));
        QVERIFY(model.needsRescan() && !model.isScanning());
    }

    void progressCountNeverGoesBack() {
        ScratchHome h;
        h.cache(spotify);
        ModelFixture f;
        AppModel& model = *f.model;
        gate().close(h.home);
        model.scanForCleanup(h.url());
        QVERIFY(gate().waitUntilReached());
        const QUuid run = model.cleanRunToken();

        model.scanProgressArrived(run, "Spotify cache", 50);
        model.scanProgressArrived(run, "Firefox cache", 20);
        model.scanProgressArrived(QUuid::createUuid(), "Elsewhere", 900);
        QCOMPARE(model.cleanScanCount(), 50);
        QCOMPARE(model.cleanScanPath(), QString("Firefox cache"));
        gate().open();
        QVERIFY(f.settle());
        model.scanProgressArrived(run, "Late", 1000);
        QVERIFY(model.cleanScanCount() < 1000);
    }

    void runningApplicationsDecideWhatMayBeQueued() {
        ScratchHome h;
        const std::string spotifyPath = h.cache(spotify);
        const std::string slackPath = h.cache(slack);
        const std::string firefoxPath = h.cache(firefox);
        ModelFixture f;
        AppModel& model = *f.model;
        FakeApp spotifyApp("com.spotify.client", "Spotify", true);
        FakeApp spotifyAgain("com.spotify.client", "Spotify", true);
        FakeApp slackHelper("com.tinyspeck.slackmacgap.helper", "Slack Helper", false);
        FakeApp lookalike("com.spotify.clientx", "Not Spotify", true);
        f.running = {spotifyApp.session, lookalike.session, slackHelper.session,
                     spotifyAgain.session};
        QVERIFY(f.scan(h.url()));

        const Url spotifyURL = f.candidate(spotifyPath)->id();
        QCOMPARE(model.cleanRunning().at(spotifyURL), QStringList{"Spotify"});
        QCOMPARE(model.cleanRunning().at(f.candidate(slackPath)->id()), QStringList());
        const auto owners = model.appsForCleanup(model.candidates());
        QCOMPARE(owners.size(), size_t(3));
        QCOMPARE(owners[1].bundleID, std::string("com.tinyspeck.slackmacgap.helper"));

        model.selectAvailableCleanItems();
        QVERIFY(!f.queued(spotifyPath) && f.queued(slackPath) && f.queued(firefoxPath));
        model.toggleQueue(*f.candidate(firefoxPath));
        QVERIFY(!f.queued(firefoxPath));
        model.toggleQueue(*f.candidate(firefoxPath));

        // Spotify quits and Firefox starts: its queued cache is dropped with a word why.
        spotifyApp.state->terminated = spotifyAgain.state->terminated = true;
        FakeApp firefoxApp("org.mozilla.firefox", "Firefox", true);
        f.running.push_back(firefoxApp.session);
        model.refreshCleanRunningApps();
        QCOMPARE(model.cleanRunning().at(spotifyURL), QStringList());
        QVERIFY(!f.queued(firefoxPath) && f.queued(slackPath));
        QCOMPARE(model.cleanStatus(), text("An app reopened. Its caches were deselected; close "
                                           "the app and scan again to clean them."));

        // Stale suggestions cannot be selected.
        model.invalidateCleanReview("Changed on disk.");
        QCOMPARE(model.cleanStatus(), text("The selected files need to be checked again."));
        QCOMPARE(model.error(), text("Changed on disk."));
        QVERIFY(model.needsRescan() && model.queue().items().empty());
        model.toggleQueue(*f.candidate(slackPath));
        model.selectAvailableCleanItems();
        QVERIFY(model.queue().items().empty());
    }

    void waitingForApplicationsToClose() {
        ScratchHome h;
        h.cache(slack);
        ModelFixture f;
        AppModel& model = *f.model;

        FakeApp helper("com.tinyspeck.slackmacgap.helper", "Slack Helper", false);
        model.quitAppsAndRescan({helper.session});
        QCOMPARE(model.note(), text("A background process is still using these caches. Quit the "
                                    "related app completely, then scan again."));
        QVERIFY(!model.isScanning() && helper.state->quitRequests == 0);
        model.setNote(std::nullopt);

        helper.state->terminated = true;
        model.quitAppsAndRescan({helper.session});
        QVERIFY(model.isScanning() && !model.isWaitingForApps());
        QVERIFY(f.settle());

        FakeApp slackApp("com.tinyspeck.slackmacgap", "Slack", true);
        FakeApp discord("com.hnc.Discord", "Discord", true);
        model.setCloseWaitAttempts(0);
        model.quitAppsAndRescan({slackApp.session, discord.session});
        QVERIFY(model.isWaitingForApps() && model.isScanning() && model.needsRescan());
        QCOMPARE(model.cleanScanPath(), QString("Save your work in Slack, Discord"));
        QCOMPARE(slackApp.state->quitRequests, 1);
        QTRY_VERIFY(!model.isScanning());
        QVERIFY(!model.isWaitingForApps());
        QCOMPARE(model.note(), text("An app is still open. Save your work and close it, then "
                                    "choose Scan again. Nothing was force-closed or removed."));
        model.setNote(std::nullopt);

        // The app quits at once, its helper later: the wait lasts until the helper is gone.
        FakeApp main("com.tinyspeck.slackmacgap", "Slack", true);
        FakeApp lateHelper("com.tinyspeck.slackmacgap.helper", "Slack Helper", false);
        main.state->quitsWhenAsked = true;
        model.setCloseWaitAttempts(1000);
        model.quitAppsAndRescan({main.session, lateHelper.session});
        QTest::qWait(100);
        QVERIFY(model.isWaitingForApps());
        lateHelper.state->terminated = true;
        QTRY_VERIFY(!model.isWaitingForApps());
        QVERIFY(f.settle());
        QVERIFY(!model.note() && !model.needsRescan());

        FakeApp stubborn("com.tinyspeck.slackmacgap", "Slack", true);
        model.setCloseWaitAttempts(5);
        model.quitAppsAndRescan({stubborn.session});
        model.stopCleanScan();
        QTest::qWait(100);
        QVERIFY(!model.note() && !model.isScanning());
    }

    void aRealApplicationIsAskedToQuitAndTheCachesAreScannedAgain() {
        ScratchHome h;
        const std::string vlcPath = h.cache("Library/Caches/org.videolan.vlc");
        ModelFixture f;
        AppModel& model = *f.model;
        model.setCleanupAppProvider({});
        model.setCloseWaitAttempts(200);

        // A child named like VLC's main process that ignores the polite request for a while. (VLC:
        // no other test cleans its cache while asking the system which applications run.)
        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGTERM, SIG_IGN);
            ::prctl(PR_SET_NAME, "vlc", 0, 0, 0);
            (void)!::write(ready[1], "r", 1);
            ::usleep(600000);
            ::_exit(0);
        }
        char byte = 0;
        QVERIFY(child > 0 && ::read(ready[0], &byte, 1) == 1);
        ::close(ready[0]);
        ::close(ready[1]);

        QVERIFY(f.scan(h.url()));
        const Url cache = f.candidate(vlcPath)->id();
        QCOMPARE(model.cleanRunning().at(cache), QStringList{"VLC"});
        model.quitAppsAndRescan(model.appsForCleanup(model.candidates()));
        QTest::qWait(200);
        QVERIFY2(model.isWaitingForApps(), "the application ignores the request at first");
        QTRY_VERIFY_WITH_TIMEOUT(!model.isWaitingForApps(), 10000);
        QVERIFY(f.settle());
        QVERIFY(!model.note());
        QCOMPARE(model.cleanRunning().at(cache), QStringList());
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
    }

    void revealNeedsARealFile() {
        ScratchHome h;
        h.cache(spotify);
        ModelFixture f;
        AppModel& model = *f.model;
        FileNode group;
        group.id = *Url::parse("varnok-group://small-items/1");
        model.reveal(group);
        QCOMPARE(model.note(), text("This is a visual group of smaller items. Open it to inspect "
                                    "the individual files."));
        model.reveal(model.candidates()[0].node);
        QCOMPARE(model.note(), text("Sample paths are illustrative. Scan a real folder to use "
                                    "file manager integration."));
        model.openCleanAccessSettings();
        QVERIFY(f.workspace->revealed.empty() && f.workspace->opened.empty());

        model.setNote(std::nullopt);
        QVERIFY(f.scan(h.url()));
        model.reveal(model.candidates()[0].node);
        QCOMPARE(f.workspace->revealed, std::vector<Url>{model.candidates()[0].id()});
    }

    void modelDestroyedWhileScanning() {
        ScratchHome h;
        h.cache(spotify);
        auto fixture = std::make_unique<ModelFixture>();
        gate().close(h.home);
        fixture->model->scanForCleanup(h.url());
        QVERIFY(gate().waitUntilReached());
        fixture.reset();
        gate().open();
        // The released scan runs to its end; its results land on no model.
        QTest::qWait(300);
    }
};

QTEST_GUILESS_MAIN(ScanFlowTest)
#include "ScanFlowTest.moc"
