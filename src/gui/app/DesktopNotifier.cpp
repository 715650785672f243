#include "app/DesktopNotifier.h"

#include "i18n/CTranslation.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
// The product's name and installed icon, the same in every language.
const QString kAppName = QStringLiteral("Tarnwick Backup");
const QString kIconName = QStringLiteral("tarnwick-backup");
}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, const CTranslation& texts, Fallback fallback,
                                 std::function<void()> clicked, int replyTimeoutMs, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      texts_(texts),
      fallback_(std::move(fallback)),
      clicked_(std::move(clicked)),
      replyTimeoutMs_(replyTimeoutMs) {
    if (!bus_.isConnected()) return;
    // No service name in the match: naming it would make QtDBus look up its
    // owner with a blocking call. The ids we were given tell our notifications
    // apart.
    bus_.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString)));
    bus_.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(OnNotificationClosed(uint, uint)));
}

void DesktopNotifier::Notify(const QString& summary, const QString& body) {
    if (!bus_.isConnected()) {
        if (fallback_) fallback_(summary, body);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const uint replaces = open_.contains(lastShownId_) ? lastShownId_ : 0;
    const QVariantMap hints{{QStringLiteral("desktop-entry"), kIconName}};
    call << kAppName << replaces << kIconName << summary << body
         << QStringList{kDefaultAction, QString::fromUtf8(texts_.GetText(TextId::TrayShowMainWindow))}
         << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, replyTimeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, summary, body](QDBusPendingCallWatcher* finished) { OnReply(finished, summary, body); });
}

void DesktopNotifier::OnReply(QDBusPendingCallWatcher* watcher, const QString& summary, const QString& body) {
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
        if (fallback_) fallback_(summary, body);
        return;
    }
    lastShownId_ = reply.value();
    open_.insert(lastShownId_);
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& actionKey) {
    if (actionKey == kDefaultAction && open_.contains(id) && clicked_) clicked_();
}

void DesktopNotifier::OnNotificationClosed(uint id, uint /*reason*/) {
    open_.remove(id);
}
