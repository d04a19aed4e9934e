#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

SwitchWatchInstance::SwitchWatchInstance(std::string lockPath) : m_lockPath(std::move(lockPath)) {}

SwitchWatchInstance::~SwitchWatchInstance() {
    if (m_server != nullptr)
        m_server->close();
}

std::string SwitchWatchInstance::LockPathForRegistry(const std::string& registryPath) {
    return registryPath + ".switchwatch.lock";
}

QString SwitchWatchInstance::ServerName() const {
    const QByteArray hash = QCryptographicHash::hash(
        QFileInfo(QString::fromStdString(m_lockPath)).absoluteFilePath().toUtf8(),
        QCryptographicHash::Sha1);
    return "switchwatch-" + QString::fromLatin1(hash.toHex().left(16));
}

SwitchWatchInstance::Result SwitchWatchInstance::Acquire(std::function<void()> onRaise,
                                                         int reachTimeoutMs) {
    const QString path = QString::fromStdString(m_lockPath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_lock = std::make_unique<QLockFile>(path);
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        m_onRaise = std::move(onRaise);
        QLocalServer::removeServer(ServerName());
        m_server = new QLocalServer(this);
        connect(m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* client = m_server->nextPendingConnection()) {
                connect(client, &QLocalSocket::readyRead, client, [this, client] {
                    if (client->readAll().contains("raise") && m_onRaise)
                        m_onRaise();
                    client->disconnectFromServer();
                });
                connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            }
        });
        m_server->listen(ServerName());
        return Result::First;
    }
    if (m_lock->error() != QLockFile::LockFailedError)
        return Result::Failed;
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(reachTimeoutMs))
        return Result::Unreachable;
    socket.write("raise\n");
    socket.waitForBytesWritten(reachTimeoutMs);
    socket.waitForDisconnected(reachTimeoutMs);
    return Result::Raised;
}
