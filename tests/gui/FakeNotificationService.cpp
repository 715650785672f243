#include "FakeNotificationService.h"

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
}  // namespace

FakeNotificationService::FakeNotificationService(QDBusConnection connection)
    : connection_(std::move(connection)) {
    registered_ = connection_.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots) &&
                  connection_.registerService(kService);
}

uint FakeNotificationService::Notify(const QString& appName, uint replacesId, const QString& appIcon,
                                     const QString& summary, const QString& body, const QStringList& actions,
                                     const QVariantMap& hints, int /*expireTimeout*/) {
    calls.push_back({appName, replacesId, appIcon, summary, body, actions, hints});
    switch (answer) {
        case Answer::Error:
            sendErrorReply(QDBusError::Failed, QStringLiteral("refused by the test"));
            return 0;
        case Answer::Never:
            setDelayedReply(true);
            unanswered_.push_back(message());
            return 0;
        case Answer::Id:
            break;
    }
    return replacesId != 0 ? replacesId : ++lastId_;
}

void FakeNotificationService::SendActionInvoked(uint id, const QString& actionKey) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
    signal << id << actionKey;
    connection_.send(signal);
}

void FakeNotificationService::SendNotificationClosed(uint id) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, QStringLiteral("NotificationClosed"));
    signal << id << uint(2);  // dismissed by the user
    connection_.send(signal);
}
