#pragma once

#include "app/UserNotifier.h"

#include <QDBusConnection>
#include <QObject>
#include <QSet>

#include <functional>

class CTranslation;
class QDBusPendingCallWatcher;

// Notifications through the desktop's notification service on the session bus.
// Every call is asynchronous: a service that is slow or hung never holds up the
// scheduler. When no service answers (none on the bus, no bus, an error or no
// reply in time) the same text goes to the fallback (the tray icon's message).
class DesktopNotifier : public QObject, public UserNotifier {
    Q_OBJECT
public:
    using Fallback = std::function<void(const QString& summary, const QString& body)>;
    static constexpr int kDefaultReplyTimeoutMs = 10'000;

    // clicked: runs when the user clicks one of this notifier's notifications.
    DesktopNotifier(QDBusConnection bus, const CTranslation& texts, Fallback fallback,
                    std::function<void()> clicked, int replyTimeoutMs = kDefaultReplyTimeoutMs,
                    QObject* parent = nullptr);

    void Notify(const QString& summary, const QString& body) override;

private slots:
    // The service's signals, for every client on the bus: only our own ids count.
    void OnActionInvoked(uint id, const QString& actionKey);
    void OnNotificationClosed(uint id, uint reason);

private:
    void OnReply(QDBusPendingCallWatcher* watcher, const QString& summary, const QString& body);

    QDBusConnection bus_;
    const CTranslation& texts_;
    Fallback fallback_;
    std::function<void()> clicked_;
    int replyTimeoutMs_;
    QSet<uint> open_;       // our notifications the service still shows
    uint lastShownId_ = 0;  // replaced by the next one, so runs do not pile up
};
