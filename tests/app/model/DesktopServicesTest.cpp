#include "app/model/DesktopServices.hpp"
#include "app/model/AppModel.hpp"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace varnok;

// Stands in for the desktop's file manager on the private session bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

class DesktopServicesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QSettings(QStringLiteral("Ombrelo"), QStringLiteral("Ombrelo")).clear(); }

    void revealAsksTheFileManagerOverTheBus() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
        QDBusConnection fake =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-fm"));
        FakeFileManager manager;
        QVERIFY(fake.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                                    QDBusConnection::ExportScriptableSlots));
        QVERIFY(fake.registerService(QStringLiteral("org.freedesktop.FileManager1")));

        std::vector<Url> opened;
        auto workspace =
            std::make_shared<DesktopWorkspace>([&](const Url& url) { opened.push_back(url); });
        workspace->reveal(Url::file("/tmp/some dir/a b.txt", false));
        QTRY_COMPARE(manager.shown, QStringList{"file:///tmp/some%20dir/a%20b.txt"});
        QVERIFY(opened.empty());

        fake.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-fm"));

        // With no file manager on the bus the folder is opened instead.
        workspace->reveal(Url::file("/tmp/some dir/a b.txt", false));
        QTRY_COMPARE(opened.size(), size_t(1));
        QCOMPARE(opened[0].path(), std::string("/tmp/some dir"));
        QCOMPARE(manager.shown.size(), 1);
    }

    void theIntroductionIsRememberedAcrossModels() {
        QTemporaryDir home;
        qputenv("HOME", home.path().toUtf8());
        auto noApps = [] { return std::vector<CleanupAppSession>{}; };
        {
            AppModel model(std::make_shared<SettingsDefaults>(),
                           std::make_shared<DesktopWorkspace>([](const Url&) {}));
            model.cleanup().setCleanupAppProvider(noApps);
            model.cleanup().beginCleanScan();
            QVERIFY(model.cleanup().showCleanAccess());
            model.cleanup().setShowCleanAccess(false);
            model.cleanup().beginCleanScan();
            QVERIFY(model.cleanup().showCleanAccess());
            model.cleanup().continueCleanAccess();
            QTRY_VERIFY(!model.cleanup().isScanning());
        }
        const QString file = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Ombrelo/Ombrelo.conf";
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));

        AppModel model(std::make_shared<SettingsDefaults>(),
                       std::make_shared<DesktopWorkspace>([](const Url&) {}));
        model.cleanup().setCleanupAppProvider(noApps);
        model.cleanup().beginCleanScan();
        QVERIFY(!model.cleanup().showCleanAccess());
        QVERIFY(model.cleanup().isScanning());
        QTRY_VERIFY(!model.cleanup().isScanning());
    }
};

QTEST_GUILESS_MAIN(DesktopServicesTest)
#include "DesktopServicesTest.moc"
