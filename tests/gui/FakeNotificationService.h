#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <vector>

// The desktop's notification service as far as the program uses it, on a
// connection of its own: records every Notify and sends the service's signals
// when the test says so.
class FakeNotificationService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    enum class Answer { Id, Error, Never };
    struct Call {
        QString appName;
        uint replacesId;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    // Takes the service's name and object path on the given connection.
    explicit FakeNotificationService(QDBusConnection connection);
    bool Registered() const { return registered_; }

    Answer answer = Answer::Id;
    std::vector<Call> calls;

    // The service's signals, as when the user clicks or the notification goes.
    void SendActionInvoked(uint id, const QString& actionKey);
    void SendNotificationClosed(uint id);

public slots:
    Q_SCRIPTABLE uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                             const QString& summary, const QString& body, const QStringList& actions,
                             const QVariantMap& hints, int expireTimeout);

private:
    QDBusConnection connection_;
    bool registered_ = false;
    uint lastId_ = 0;
    std::vector<QDBusMessage> unanswered_;
};
