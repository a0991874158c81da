#pragma once

#include <QObject>
#include <functional>
#include <map>

#include "notifications.h"

class QDBusPendingCallWatcher;

namespace tonvert {

// Notices through the desktop's notification service on the session bus. Every call is
// asynchronous: a slow or missing service never holds the window up.
class DesktopNotifier : public QObject, public Notifications {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    void notify(const std::string& summary, const std::string& body, const std::string& actionLabel,
                std::function<void()> onAction) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    void noteSent(QDBusPendingCallWatcher* watcher, std::function<void()> onAction);

    bool connected_ = false;
    std::map<uint, std::function<void()>> actions_;
};

} // namespace tonvert
