#pragma once

#include <QObject>
#include <QString>

#include <string>

class QLocalServer;
class QLocalSocket;

// One server per registry file. The first copy holds an exclusive lock on a file beside the
// registry for its whole life and listens on a local socket named after that file; a later copy
// finds the lock taken, asks the first one over the socket to come forward ("raise\n") and ends.
// Symlinks to the registry resolve to the same lock file. Hard links name one file by several
// paths: every first copy that knows its registry file also holds an entry in a per-user table
// of running copies, and a new copy compares its file with each live entry's file as they stand
// now. A device and inode are never kept, since every registry write replaces the file and a
// freed inode is soon another file's.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Result {
        First,       // this copy holds the lock
        Raised,      // another copy holds it and was asked to come forward
        Unreachable, // another copy holds it but did not answer
        Failed,      // the lock file could not be used; ErrorText() says why
    };

    explicit SingleInstance(std::string lockPath, QObject* parent = nullptr);
    // Gives the lock up and stops listening.
    ~SingleInstance() override;

    // "<registry path>.brovik.lock", the registry path with its symlinks resolved.
    static std::string LockPathForRegistry(const std::string& registryPath);
    // The folder of the table of running copies: "<temporary folder>/brovik-copies-<uid>".
    static std::string CopiesFolder();

    // Acquire then also refuses when a running copy's registry file is this one under another
    // name, and enters this copy in the table.
    void KeyOnFileIdentity(const std::string& registryPath) { m_strRegistryPath = registryPath; }
    // The local socket's name for a lock file; the same for every copy that uses the file.
    static QString ServerNameFor(const std::string& lockPath);

    // Takes the lock (creating the file and its folder when missing). When another copy has it,
    // tries for up to reachTimeoutMs to hand it the raise request.
    Result Acquire(int reachTimeoutMs = 3000);

    bool IsFirst() const { return m_nLockFd >= 0; }
    bool IsListening() const;
    const std::string& LockPath() const { return m_strLockPath; }
    const std::string& ErrorText() const { return m_strError; }

signals:
    // A later copy asked this one to come forward.
    void RaiseRequested();

private:
    void Listen();
    void OnNewConnection();
    void OnClientData(QLocalSocket* client);
    Result AskHolderToRaise(const std::string& holderLockPath, int reachTimeoutMs);
    // False with the holder's lock path when a running copy uses the same file.
    bool EnterCopiesTable(std::string& holderLockPath);

    std::string m_strLockPath;
    std::string m_strError;
    std::string m_strRegistryPath;
    std::string m_strEntryPath;
    int m_nLockFd = -1;
    int m_nEntryFd = -1;
    QLocalServer* m_pServer = nullptr;
};
