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
        check(model.explore().root());
        std::int64_t total = 0;
        for (const auto& example : model.cleanup().candidates()) {
            QCOMPARE(sizes[example.id()], example.node.logicalSize);
            QVERIFY(example.isExample && example.node.isDirectory);
            total += example.node.logicalSize;
        }
        QCOMPARE(model.cleanup().candidateTotal(), total);
        QVERIFY(model.cleanup().isDemo() && model.canStartCleanScan());
        QCOMPARE(model.cleanup().cleanHome().path(), h.home);

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
        const QUuid revision = model.cleanup().scanRevision();

        model.cleanup().beginCleanScan();
        QVERIFY(model.cleanup().showCleanAccess() && !model.cleanup().isScanning());
        model.cleanup().continueCleanAccess();
        QVERIFY(f.defaults->values["cleanAccessIntroSeen"]);
        QVERIFY(!model.cleanup().showCleanAccess() && model.cleanup().isScanning());
        QVERIFY(f.settle());

        QVERIFY(!model.cleanup().isDemo() && !model.cleanup().needsRescan());
        QVERIFY(model.cleanup().scanRevision() != revision);
        QCOMPARE(model.cleanup().candidates().size(), size_t(1));
        QVERIFY(model.cleanup().queue().items().empty());
        QCOMPARE(model.cleanup().cleanRunning().at(model.cleanup().candidates()[0].id()),
                 QStringList());

        model.setNote(text("Read me"));
        model.cleanup().beginCleanScan();
        QVERIFY(!model.cleanup().isScanning());
        model.setNote(std::nullopt);
        model.cleanup().beginCleanScan();
        QVERIFY(!model.cleanup().showCleanAccess() && model.cleanup().isScanning() &&
                model.cleanup().needsRescan());
        QVERIFY(f.settle());
    }

    void failedScanExplainsAndLeavesTheModelUsable() {
        ScratchHome h;
        const std::string link = h.dir.path().toStdString() + "/link";
        QVERIFY(::symlink(h.home.c_str(), link.c_str()) == 0);
        ModelFixture f;
        AppModel& model = *f.model;

        QVERIFY(f.scan(Url::file(link, true)));
        QCOMPARE(model.cleanup().cleanStatus(),
                 text("Scan did not finish. Scan again to get current suggestions."));
        QCOMPARE(model.error(), text("The scan location must not be a symbolic link."));
        QVERIFY(model.cleanup().isDemo() && !model.canStartCleanScan());
        model.setError(std::nullopt);
        QVERIFY(f.scan(h.url()));
        QVERIFY(!model.cleanup().isDemo());
        QCOMPARE(model.cleanup().cleanStatus(), std::nullopt);
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
        QSignalSpy spy(&model.cleanup(), &CleanupFlow::changed);

        gate().close(first.home + "/" + spotify);
        model.cleanup().scanForCleanup(first.url());
        QVERIFY(gate().waitUntilReached());
        // Its reports are queued, not yet taken up: they arrive after the restart.
        model.cleanup().stopCleanScan();
        QCOMPARE(model.cleanup().cleanStatus(), text("Scan canceled. No files were removed."));
        model.cleanup().scanForCleanup(second.url());
        gate().open();
        QVERIFY(f.settle());
        QTest::qWait(50);
        int results = 0;
        for (const auto& arguments : spy) {
            results +=
                arguments.at(0).value<CleanupFlow::Field>() == CleanupFlow::Field::cleanResult;
        }
        QCOMPARE(results, 1);
        QCOMPARE(model.cleanup().cleanHome(), second.url());
        QVERIFY(model.cleanup().candidates().empty());
        QCOMPARE(model.cleanup().cleanScanCount(), 0);
        QCOMPARE(model.cleanup().cleanStatus(), std::nullopt);

        gate().close(first.home);
        model.cleanup().scanForCleanup(first.url());
        QVERIFY(gate().waitUntilReached());
        model.cleanup().stopCleanScan();
        QCOMPARE(model.cleanup().cleanStatus(),
                 text("Scan canceled. Previous results need a fresh scan before cleaning."));
        QVERIFY(model.cleanup().needsRescan() && !model.cleanup().isScanning());
    }

    void progressCountNeverGoesBack() {
        ScratchHome h;
        h.cache(spotify);
        ModelFixture f;
        AppModel& model = *f.model;
        gate().close(h.home);
        model.cleanup().scanForCleanup(h.url());
        QVERIFY(gate().waitUntilReached());
        const QUuid run = model.cleanup().cleanRunToken();

        model.cleanup().scanProgressArrived(run, "Spotify cache", 50);
        model.cleanup().scanProgressArrived(run, "Firefox cache", 20);
        model.cleanup().scanProgressArrived(QUuid::createUuid(), "Elsewhere", 900);
        QCOMPARE(model.cleanup().cleanScanCount(), 50);
        QCOMPARE(model.cleanup().cleanScanPath(), QString("Firefox cache"));
        gate().open();
        QVERIFY(f.settle());
        model.cleanup().scanProgressArrived(run, "Late", 1000);
        QVERIFY(model.cleanup().cleanScanCount() < 1000);
    }

    void runningApplicationsDecideWhatMayBeQueued() {
        ScratchHome h;
        const std::string spotifyPath = h.cache(spotify);
        const std::string slackPath = h.cache(slack);
        const std::string firefoxPath = h.cache(firefox);
        const std::string shaderPath = h.cache(".cache/mesa_shader_cache");
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
        QCOMPARE(model.cleanup().cleanRunning().at(spotifyURL), QStringList{"Spotify"});
        QCOMPARE(model.cleanup().cleanRunning().at(f.candidate(slackPath)->id()), QStringList());
        const auto owners = model.cleanup().appsForCleanup(model.cleanup().candidates());
        QCOMPARE(owners.size(), size_t(3));
        QCOMPARE(owners[1].bundleID, std::string("com.tinyspeck.slackmacgap.helper"));

        model.cleanup().selectAvailableCleanItems();
        QVERIFY(!f.queued(spotifyPath) && f.queued(slackPath) && f.queued(firefoxPath));
        // A cache folder no rule names is offered, but only chosen one by one.
        QVERIFY(f.candidate(shaderPath)->manualOnly && !f.queued(shaderPath));
        model.cleanup().toggleQueue(*f.candidate(shaderPath));
        QVERIFY(f.queued(shaderPath));
        model.cleanup().toggleQueue(*f.candidate(firefoxPath));
        QVERIFY(!f.queued(firefoxPath));
        model.cleanup().toggleQueue(*f.candidate(firefoxPath));

        // Spotify quits and Firefox starts: its queued cache is dropped with a word why.
        spotifyApp.state->terminated = spotifyAgain.state->terminated = true;
        FakeApp firefoxApp("org.mozilla.firefox", "Firefox", true);
        f.running.push_back(firefoxApp.session);
        model.cleanup().refreshCleanRunningApps();
        QCOMPARE(model.cleanup().cleanRunning().at(spotifyURL), QStringList());
        QVERIFY(!f.queued(firefoxPath) && f.queued(slackPath));
        QCOMPARE(model.cleanup().cleanStatus(),
                 text("An app reopened. Its caches were deselected; close "
                      "the app and scan again to clean them."));

        // Stale suggestions cannot be selected.
        model.cleanup().invalidateCleanReview("Changed on disk.");
        QCOMPARE(model.cleanup().cleanStatus(),
                 text("The selected files need to be checked again."));
        QCOMPARE(model.error(), text("Changed on disk."));
        QVERIFY(model.cleanup().needsRescan() && model.cleanup().queue().items().empty());
        model.cleanup().toggleQueue(*f.candidate(slackPath));
        model.cleanup().selectAvailableCleanItems();
        QVERIFY(model.cleanup().queue().items().empty());
    }

    void waitingForApplicationsToClose() {
        ScratchHome h;
        h.cache(slack);
        ModelFixture f;
        AppModel& model = *f.model;

        FakeApp helper("com.tinyspeck.slackmacgap.helper", "Slack Helper", false);
        model.cleanup().quitAppsAndRescan({helper.session});
        QCOMPARE(model.note(), text("A background process is still using these caches. Quit the "
                                    "related app completely, then scan again."));
        QVERIFY(!model.cleanup().isScanning() && helper.state->quitRequests == 0);
        model.setNote(std::nullopt);

        helper.state->terminated = true;
        model.cleanup().quitAppsAndRescan({helper.session});
        QVERIFY(model.cleanup().isScanning() && !model.cleanup().isWaitingForApps());
        QVERIFY(f.settle());

        FakeApp slackApp("com.tinyspeck.slackmacgap", "Slack", true);
        FakeApp discord("com.hnc.Discord", "Discord", true);
        model.cleanup().setCloseWaitAttempts(0);
        model.cleanup().quitAppsAndRescan({slackApp.session, discord.session});
        QVERIFY(model.cleanup().isWaitingForApps() && model.cleanup().isScanning() &&
                model.cleanup().needsRescan());
        QCOMPARE(model.cleanup().cleanScanPath(), QString("Save your work in Slack, Discord"));
        QCOMPARE(slackApp.state->quitRequests, 1);
        QTRY_VERIFY(!model.cleanup().isScanning());
        QVERIFY(!model.cleanup().isWaitingForApps());
        QCOMPARE(model.note(), text("An app is still open. Save your work and close it, then "
                                    "choose Scan again. Nothing was force-closed or removed."));
        model.setNote(std::nullopt);

        // The app quits at once, its helper later: the wait lasts until the helper is gone.
        FakeApp main("com.tinyspeck.slackmacgap", "Slack", true);
        FakeApp lateHelper("com.tinyspeck.slackmacgap.helper", "Slack Helper", false);
        main.state->quitsWhenAsked = true;
        model.cleanup().setCloseWaitAttempts(1000);
        model.cleanup().quitAppsAndRescan({main.session, lateHelper.session});
        QTest::qWait(100);
        QVERIFY(model.cleanup().isWaitingForApps());
        lateHelper.state->terminated = true;
        QTRY_VERIFY(!model.cleanup().isWaitingForApps());
        QVERIFY(f.settle());
        QVERIFY(!model.note() && !model.cleanup().needsRescan());

        FakeApp stubborn("com.tinyspeck.slackmacgap", "Slack", true);
        model.cleanup().setCloseWaitAttempts(5);
        model.cleanup().quitAppsAndRescan({stubborn.session});
        model.cleanup().stopCleanScan();
        QTest::qWait(100);
        QVERIFY(!model.note() && !model.cleanup().isScanning());
    }

    void aRealApplicationIsAskedToQuitAndTheCachesAreScannedAgain() {
        ScratchHome h;
        const std::string vlcPath = h.cache("Library/Caches/org.videolan.vlc");
        ModelFixture f;
        AppModel& model = *f.model;
        model.cleanup().setCleanupAppProvider({});
        model.cleanup().setCloseWaitAttempts(200);

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
        QCOMPARE(model.cleanup().cleanRunning().at(cache), QStringList{"VLC"});
        model.cleanup().quitAppsAndRescan(
            model.cleanup().appsForCleanup(model.cleanup().candidates()));
        QTest::qWait(200);
        QVERIFY2(model.cleanup().isWaitingForApps(),
                 "the application ignores the request at first");
        QTRY_VERIFY_WITH_TIMEOUT(!model.cleanup().isWaitingForApps(), 10000);
        QVERIFY(f.settle());
        QVERIFY(!model.note());
        QCOMPARE(model.cleanup().cleanRunning().at(cache), QStringList());
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
        model.explore().reveal(group);
        QCOMPARE(model.note(), text("This is a visual group of smaller items. Open it to inspect "
                                    "the individual files."));
        model.cleanup().reveal(model.cleanup().candidates()[0]);
        QCOMPARE(model.note(), text("Sample paths are illustrative. Scan a real folder to use "
                                    "file manager integration."));
        model.openCleanAccessSettings();
        QVERIFY(f.workspace->revealed.empty() && f.workspace->opened.empty());

        model.setNote(std::nullopt);
        QVERIFY(f.scan(h.url()));
        model.cleanup().reveal(model.cleanup().candidates()[0]);
        QCOMPARE(f.workspace->revealed, std::vector<Url>{model.cleanup().candidates()[0].id()});
    }

    void modelDestroyedWhileScanning() {
        ScratchHome h;
        h.cache(spotify);
        auto fixture = std::make_unique<ModelFixture>();
        gate().close(h.home);
        fixture->model->cleanup().scanForCleanup(h.url());
        QVERIFY(gate().waitUntilReached());
        fixture.reset();
        gate().open();
        // The released scan runs to its end; its results land on no model.
        QTest::qWait(300);
    }
};

QTEST_GUILESS_MAIN(ScanFlowTest)
#include "ScanFlowTest.moc"
