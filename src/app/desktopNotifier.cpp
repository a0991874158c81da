#include "desktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "textCodec.h"

namespace tonvert {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kActionKey = QStringLiteral("download");

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent)
    : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    connected_ = bus.isConnected();
    if (!connected_)
        return;
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::notify(const std::string& summary, const std::string& body,
                             const std::string& actionLabel, std::function<void()> onAction) {
    if (!connected_)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QStringList actions;
    if (!actionLabel.empty())
        actions << kActionKey << toQString(actionLabel);
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("tonvert"));
    call << QStringLiteral("Tonvert") << uint(0) << QStringLiteral("tonvert") << toQString(summary)
         << toQString(body) << actions << hints << int(-1);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, onAction = std::move(onAction)](QDBusPendingCallWatcher* finished) {
                noteSent(finished, onAction);
            });
}

void DesktopNotifier::noteSent(QDBusPendingCallWatcher* watcher, std::function<void()> onAction) {
    const QDBusPendingReply<uint> reply = *watcher;
    watcher->deleteLater();
    // No notification service: the notice is lost, and nothing else is.
    if (reply.isError() || !onAction)
        return;
    actions_[reply.value()] = std::move(onAction);
}

void DesktopNotifier::actionInvoked(uint id, const QString& key) {
    const auto found = actions_.find(id);
    if (found == actions_.end() || key != kActionKey)
        return;
    const std::function<void()> action = found->second;
    actions_.erase(found);
    action();
}

void DesktopNotifier::notificationClosed(uint id, uint /*reason*/) {
    actions_.erase(id);
}

} // namespace tonvert
