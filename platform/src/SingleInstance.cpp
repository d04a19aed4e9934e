#include <platform/SingleInstance.h>

#include <platform/SystemError.h>

#include <QCryptographicHash>
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
#include <filesystem>
#include <system_error>

namespace platform {

namespace {

constexpr char kRaiseRequest[] = "raise\n";
// A request is one short line; anything longer is not ours.
constexpr qint64 kMaxRequestBytes = 64;
constexpr int kClientIdleMs = 5000;
constexpr int kRetryMs = 50;

} // namespace

SingleInstance::SingleInstance(std::string lockPath, std::string namePrefix, QObject* parent)
    : QObject(parent), m_strLockPath(std::move(lockPath)), m_strNamePrefix(std::move(namePrefix)) {}

SingleInstance::~SingleInstance() {
    if (m_pServer) {
        m_pServer->close();
        delete m_pServer;
    }
    if (m_nEntryFd >= 0) {
        // Still locked while it goes: nobody takes a live entry for a stale one.
        ::unlink(m_strEntryPath.c_str());
        ::close(m_nEntryFd);
    }
    if (m_nLockFd >= 0)
        ::close(m_nLockFd);
}

std::string SingleInstance::LockPathBeside(const std::string& path, const std::string& suffix) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return (error ? path : resolved.string()) + suffix;
}

void SingleInstance::KeyOnFileIdentity(const std::string& path, std::string copiesFolder) {
    m_strRegistryPath = path;
    m_strCopiesFolder = std::move(copiesFolder);
}

bool SingleInstance::IsHeld(const std::string& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int locked;
    do {
        locked = ::flock(fd, LOCK_SH | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    const bool held = locked != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

void SingleInstance::Report(const std::string& text) const {
    if (m_report)
        m_report(text);
}

namespace {

// An entry holds its copy's registry path, then its lock path (which names its socket).
bool ReadEntry(int fd, std::string& registryPath, std::string& lockPath) {
    char buf[8192];
    const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    if (n <= 0)
        return false;
    const std::string text(buf, static_cast<size_t>(n));
    const size_t end = text.find('\n');
    if (end == std::string::npos)
        return false;
    registryPath = text.substr(0, end);
    lockPath = text.substr(end + 1);
    return !registryPath.empty() && !lockPath.empty();
}

bool TryLock(int fd, int how) {
    int locked;
    do {
        locked = ::flock(fd, how);
    } while (locked != 0 && errno == EINTR);
    return locked == 0;
}

// Far more than copies run at once; a folder filled by someone else is not read to its end.
constexpr int kMaxEntriesRead = 4096;
constexpr int kTableWaitMs = 3000;

} // namespace

bool SingleInstance::EnterCopiesTable(std::string& holderLockPath) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(m_strRegistryPath, error);
    const std::string registry = error ? m_strRegistryPath : absolute.lexically_normal().string();
    const std::string& folder = m_strCopiesFolder;
    struct stat folderStat {};
    if ((::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) ||
        ::lstat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode) ||
        folderStat.st_uid != ::geteuid()) {
        // The path lock still keeps out every copy that names the file the same way.
        Report("[ERROR] Cannot use the table of running copies " + folder);
        return true;
    }
    const int tableFd =
        ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // Another copy holds the table only while it looks through it.
    const QDeadlineTimer tableDeadline(kTableWaitMs);
    bool tableLocked = tableFd >= 0 && TryLock(tableFd, LOCK_EX | LOCK_NB);
    while (tableFd >= 0 && !tableLocked && errno == EWOULDBLOCK && !tableDeadline.hasExpired()) {
        QThread::msleep(kRetryMs);
        tableLocked = TryLock(tableFd, LOCK_EX | LOCK_NB);
    }
    if (!tableLocked) {
        Report("[ERROR] Cannot lock the table of running copies " + folder + ": " +
               SystemErrorText(errno));
        if (tableFd >= 0)
            ::close(tableFd);
        return true;
    }

    // Compared as the files stand now: a rewrite since that copy started changes nothing.
    struct stat mine {};
    const bool exists = ::stat(registry.c_str(), &mine) == 0;
    const std::string entryName = ServerNameFor(m_strLockPath, m_strNamePrefix).toStdString();
    bool same = false;
    int read = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        if (name == ".lock" || name == entryName)
            continue;
        if (++read > kMaxEntriesRead)
            break;
        const int fd = ::open(entry.path().c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (TryLock(fd, LOCK_EX | LOCK_NB)) {
            ::unlink(entry.path().c_str()); // its copy is gone
            ::close(fd);
            continue;
        }
        std::string otherRegistry, otherLock;
        struct stat other {};
        same = exists && ReadEntry(fd, otherRegistry, otherLock) &&
               ::stat(otherRegistry.c_str(), &other) == 0 && other.st_dev == mine.st_dev &&
               other.st_ino == mine.st_ino;
        ::close(fd);
        if (same) {
            holderLockPath = otherLock;
            break;
        }
    }
    if (!same) {
        const std::string path = folder + "/" + entryName;
        const std::string text = registry + "\n" + m_strLockPath;
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 && TryLock(fd, LOCK_EX | LOCK_NB) && ::ftruncate(fd, 0) == 0 &&
            ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
            m_strEntryPath = path;
            m_nEntryFd = fd;
        } else {
            Report("[ERROR] Cannot enter this copy in " + path + ": " + SystemErrorText(errno));
            if (fd >= 0)
                ::close(fd);
        }
    }
    ::close(tableFd);
    return !same;
}

QString SingleInstance::ServerNameFor(const std::string& lockPath, const std::string& prefix) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(lockPath, error);
    if (error)
        path = lockPath;
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromStdString(path.lexically_normal().string()), QCryptographicHash::Sha256);
    // Short enough for a socket path in any temporary folder.
    return QString::fromStdString(prefix) + QString::fromLatin1(digest.toHex().left(32));
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
    if (mkdirError) {
        m_strError = "the registry folder " + parent.string() + " of the lock file " +
                     m_strLockPath + " cannot be created: " + SystemErrorText(mkdirError.value());
        return Result::Failed;
    }

    // Whoever may open the lock may hold it and keep the program from starting.
    int fd = ::open(m_strLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const int createError = errno;
    // A lock file that is there already serves read-only as well: flock needs no write access.
    if (fd < 0 && (createError == EACCES || createError == EROFS))
        fd = ::open(m_strLockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int openError = errno;
        if (openError == ENOENT && (createError == EACCES || createError == EROFS))
            m_strError = "the registry folder " + parent.string() +
                         " is not writable: the lock file " + m_strLockPath +
                         " cannot be created there (" + SystemErrorText(createError) + ")";
        else
            m_strError =
                "cannot open the lock file " + m_strLockPath + ": " + SystemErrorText(openError);
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
    if (!m_strRegistryPath.empty() && !EnterCopiesTable(holder)) {
        ::close(fd);
        return AskHolderToRaise(holder, reachTimeoutMs);
    }
    m_nLockFd = fd;
    Listen();
    return Result::First;
}

void SingleInstance::Listen() {
    const QString name = ServerNameFor(m_strLockPath, m_strNamePrefix);
    // Holding the lock, any socket of that name was left by a copy that is gone.
    QLocalServer::removeServer(name);
    m_pServer = new QLocalServer;
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(m_pServer, &QLocalServer::newConnection, this,
                     &SingleInstance::OnNewConnection);
    if (!m_pServer->listen(name)) {
        // The lock still keeps a second copy out; it only cannot bring this one forward.
        Report("[ERROR] Cannot listen for other copies of the server on " + name.toStdString() +
               ": " + m_pServer->errorString().toStdString());
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
    const QString name = ServerNameFor(holderLockPath, m_strNamePrefix);
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

} // namespace platform

#include "platform/moc_SingleInstance.cpp"
