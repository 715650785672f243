#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace {
constexpr int kConnectTimeoutMs = 1000;
const QByteArray kShowRequest = "show\n";
}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultName() {
    const QByteArray configFolder =
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    const QByteArray session = qgetenv("XDG_SESSION_ID");
    const QByteArray digest =
        QCryptographicHash::hash(configFolder + '\0' + session, QCryptographicHash::Sha1).toHex().left(12);
    return QStringLiteral("tarnwick-backup-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
}

bool SingleInstance::AskRunningInstance() const {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    socket.write(kShowRequest);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::Claim() {
    if (AskRunningInstance()) return false;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // A socket left behind by a crashed instance: nobody answered on it.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) return true;  // run alone rather than not at all
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* connection = server_->nextPendingConnection()) {
            connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
            auto readRequest = [this, connection] {
                if (connection->readAll().contains("show")) emit ActivationRequested();
            };
            connect(connection, &QLocalSocket::readyRead, this, readRequest);
            if (connection->bytesAvailable() > 0) readRequest();
        }
    });
    return true;
}
