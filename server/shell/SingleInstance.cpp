#include "SingleInstance.h"

#include <TraceLog.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

constexpr char kRaiseRequest[] = "raise\n";
// A request is one short line; anything longer is not ours.
constexpr qint64 kMaxRequestBytes = 64;
constexpr int kClientIdleMs = 5000;
constexpr int kRetryMs = 50;

} // namespace

SingleInstance::SingleInstance(std::string lockPath, QObject* parent)
    : QObject(parent), m_strLockPath(std::move(lockPath)) {}

SingleInstance::~SingleInstance() {
    if (m_pServer) {
        m_pServer->close();
        delete m_pServer;
    }
    if (m_nIdentityFd >= 0) {
        // Still locked while it goes, so that these files do not pile up, one per start.
        ::unlink(m_strIdentityLockPath.c_str());
        ::close(m_nIdentityFd);
    }
    if (m_nLockFd >= 0)
        ::close(m_nLockFd);
}

std::string SingleInstance::LockPathForRegistry(const std::string& registryPath) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(registryPath, error);
    return (error ? registryPath : resolved.string()) + ".brovik.lock";
}

std::string SingleInstance::IdentityLockPathFor(const std::string& registryPath) {
    struct stat st {};
    if (registryPath.empty() || ::stat(registryPath.c_str(), &st) != 0)
        return {};
    char name[80];
    std::snprintf(name, sizeof name, "/brovik-%llx-%llx.lock",
                  static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return QDir::tempPath().toStdString() + name;
}

bool SingleInstance::TakeIdentityLock(std::string& holderLockPath) {
    const std::string path = IdentityLockPathFor(m_strRegistryPath);
    if (path.empty())
        return true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // The path lock still keeps out every copy that names the file the same way.
        TraceLog("[ERROR] Cannot open the lock file %s: %s", path.c_str(),
                 SystemErrorText(errno).c_str());
        return true;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        // The holder wrote the path of its own lock there, which names its socket.
        char buf[4096];
        const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
        holderLockPath.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
        ::close(fd);
        return false;
    }
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, m_strLockPath.data(), m_strLockPath.size(), 0) !=
            static_cast<ssize_t>(m_strLockPath.size()))
        TraceLog("[ERROR] Cannot write the lock file %s: %s", path.c_str(),
                 SystemErrorText(errno).c_str());
    m_strIdentityLockPath = path;
    m_nIdentityFd = fd;
    return true;
}

QString SingleInstance::ServerNameFor(const std::string& lockPath) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(lockPath, error);
    if (error)
        path = lockPath;
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromStdString(path.lexically_normal().string()), QCryptographicHash::Sha256);
    // Short enough for a socket path in any temporary folder.
    return QStringLiteral("brovik-") + QString::fromLatin1(digest.toHex().left(32));
}

bool SingleInstance::IsListening() const {
    return m_pServer && m_pServer->isListening();
}

SingleInstance::Result SingleInstance::Acquire(int reachTimeoutMs) {
    if (m_nLockFd >= 0)
        return Result::First;
    m_strError.clear();

    std::error_code mkdirError;
    const std::filesystem::path parent = std::filesystem::path(m_strLockPath).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, mkdirError);

    int fd = ::open(m_strLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EACCES)
        fd = ::open(m_strLockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_strError = "cannot open the lock file " + m_strLockPath + ": " + SystemErrorText(errno);
        return Result::Failed;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return AskHolderToRaise(m_strLockPath, reachTimeoutMs);
        m_strError = "cannot lock " + m_strLockPath + ": " + SystemErrorText(error);
        return Result::Failed;
    }
    std::string holder;
    if (!TakeIdentityLock(holder)) {
        ::close(fd);
        return AskHolderToRaise(holder, reachTimeoutMs);
    }
    m_nLockFd = fd;
    Listen();
    return Result::First;
}

void SingleInstance::Listen() {
    const QString name = ServerNameFor(m_strLockPath);
    // Holding the lock, any socket of that name was left by a copy that is gone.
    QLocalServer::removeServer(name);
    m_pServer = new QLocalServer;
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(m_pServer, &QLocalServer::newConnection, this,
                     &SingleInstance::OnNewConnection);
    if (!m_pServer->listen(name)) {
        // The lock still keeps a second copy out; it only cannot bring this one forward.
        TraceLog("[ERROR] Cannot listen for other copies of the server on %s: %s",
                 name.toUtf8().constData(), m_pServer->errorString().toUtf8().constData());
    }
}

void SingleInstance::OnNewConnection() {
    while (QLocalSocket* client = m_pServer->nextPendingConnection()) {
        QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        QObject::connect(client, &QLocalSocket::readyRead, this,
                         [this, client] { OnClientData(client); });
        QTimer::singleShot(kClientIdleMs, client, [client] { client->abort(); });
        if (client->bytesAvailable() > 0)
            OnClientData(client);
    }
}

void SingleInstance::OnClientData(QLocalSocket* client) {
    if (!client->canReadLine()) {
        if (client->bytesAvailable() >= kMaxRequestBytes)
            client->abort();
        return;
    }
    const QByteArray line = client->readLine(kMaxRequestBytes);
    client->disconnectFromServer();
    if (line == kRaiseRequest)
        emit RaiseRequested();
}

SingleInstance::Result SingleInstance::AskHolderToRaise(const std::string& holderLockPath,
                                                        int reachTimeoutMs) {
    if (holderLockPath.empty())
        return Result::Unreachable;
    const QString name = ServerNameFor(holderLockPath);
    const QDeadlineTimer deadline(reachTimeoutMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(name);
        if (socket.waitForConnected(static_cast<int>(qMax<qint64>(deadline.remainingTime(), 0))))
            break;
        const QLocalSocket::LocalSocketError error = socket.error();
        socket.abort();
        // The holder may be starting and not listen yet; any other failure will not pass.
        const bool mayComeUp = error == QLocalSocket::ServerNotFoundError ||
                               error == QLocalSocket::ConnectionRefusedError;
        if (!mayComeUp || deadline.hasExpired())
            return Result::Unreachable;
        QThread::msleep(kRetryMs);
    }
    socket.write(kRaiseRequest);
    socket.flush();
    bool sent = socket.bytesToWrite() == 0;
    if (!sent)
        sent = socket.waitForBytesWritten(
                   static_cast<int>(qMax<qint64>(deadline.remainingTime(), 100))) &&
               socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(100);
    return sent ? Result::Raised : Result::Unreachable;
}
