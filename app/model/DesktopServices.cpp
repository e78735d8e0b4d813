#include "app/model/DesktopServices.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <QProcess>
#include <QSettings>
#include <QStringList>

namespace varnok {
namespace {

// Shows up as Ombrelo/Ombrelo.conf under the configuration folder.
QSettings settings() {
    return QSettings(QStringLiteral("Ombrelo"), QStringLiteral("Ombrelo"));
}

QString uriOf(const Url& url) {
    return QString::fromStdString(url.absoluteString());
}

// A file manager that takes long to start still answers within this.
constexpr int showItemsTimeoutMs = 10000;

} // namespace

bool SettingsDefaults::boolValue(const std::string& key) {
    return settings().value(QString::fromStdString(key), false).toBool();
}

void SettingsDefaults::setBoolValue(const std::string& key, bool value) {
    QSettings store = settings();
    store.setValue(QString::fromStdString(key), value);
    store.sync();
}

DesktopWorkspace::DesktopWorkspace(Opener opener)
    : opener_(std::move(opener)), calls_(std::make_unique<QObject>()) {}

DesktopWorkspace::~DesktopWorkspace() = default;

void DesktopWorkspace::reveal(const Url& url) {
    const Url parent = url.deletingLastPathComponent();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        open(parent);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uriOf(url)} << QString();
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, showItemsTimeoutMs), calls_.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, calls_.get(),
                     [this, parent](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) {
                             open(parent);
                         }
                         finished->deleteLater();
                     });
}

void DesktopWorkspace::open(const Url& url) {
    if (opener_) {
        opener_(url);
        return;
    }
    QProcess::startDetached(QStringLiteral("xdg-open"), {uriOf(url)});
}

} // namespace varnok
