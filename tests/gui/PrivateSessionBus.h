#pragma once

#include "support/TempHome.h"

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>

// A session bus of the test's own: a dbus-daemon with a minimal configuration
// (no service activation, so no real notification service can be started on
// it), stopped with the object.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool Started() const { return !address_.isEmpty(); }
    // A client connection of its own (one per name), closed with the bus.
    QDBusConnection Connect(const QString& name);

private:
    TempFolder folder_;
    QProcess daemon_;
    QString address_;
    QStringList connectionNames_;
};
