#include "PrivateSessionBus.h"

#include <QDBusConnectionInterface>

namespace {
constexpr int kStartTimeoutMs = 10'000;
}

PrivateSessionBus::PrivateSessionBus() {
    const std::string config = folder_.path() + "/bus.conf";
    WriteTestFile(config,
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig>\n"
                  "  <type>session</type>\n"
                  "  <listen>unix:dir=" +
                      folder_.path() +
                      "</listen>\n"
                      "  <auth>EXTERNAL</auth>\n"
                      "  <policy context=\"default\">\n"
                      "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                      "    <allow eavesdrop=\"true\"/>\n"
                      "    <allow own=\"*\"/>\n"
                      "  </policy>\n"
                      "</busconfig>\n");
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + QString::fromStdString(config),
                   QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!daemon_.waitForStarted(kStartTimeoutMs)) return;
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(kStartTimeoutMs)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateSessionBus::~PrivateSessionBus() {
    for (const QString& name : connectionNames_) QDBusConnection::disconnectFromBus(name);
    daemon_.terminate();
    if (!daemon_.waitForFinished(kStartTimeoutMs)) daemon_.kill();
    daemon_.waitForFinished(kStartTimeoutMs);
}

QDBusConnection PrivateSessionBus::Connect(const QString& name) {
    if (!connectionNames_.contains(name)) connectionNames_.push_back(name);
    return QDBusConnection::connectToBus(address_, name);
}
