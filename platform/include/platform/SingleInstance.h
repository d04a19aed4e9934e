#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace platform {

// One running copy of a program per lock file. The first copy holds an exclusive lock on the
// file for its whole life and listens on a local socket named after it; a later copy finds the
// lock taken, asks the first one over the socket to come forward ("raise\n") and ends. Symlinks
// to the guarded file resolve to the same lock file. Hard links name one file by several paths:
// a copy keyed on the file's identity also holds an entry in a per-user table of running
// copies, and a new copy compares its file with each live entry's file as they stand now. A
// device and inode are never kept, since every registry write replaces the file and a freed
// inode is soon another file's.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Result {
        First,       // this copy holds the lock
        Raised,      // another copy holds it and was asked to come forward
        Unreachable, // another copy holds it but did not answer
        Failed,      // the lock file could not be used; ErrorText() says why
    };

    // namePrefix starts the local socket's name; every copy of one program uses the same.
    SingleInstance(std::string lockPath, std::string namePrefix, QObject* parent = nullptr);
    // Gives the lock up and stops listening.
    ~SingleInstance() override;

    // path with its symlinks resolved, then suffix.
    static std::string LockPathBeside(const std::string& path, const std::string& suffix);
    // The local socket's name for a lock file; the same for every copy that uses the file.
    static QString ServerNameFor(const std::string& lockPath, const std::string& namePrefix);
    // Whether some process holds the lock on lockPath now (also a QLockFile's holder).
    static bool IsHeld(const std::string& lockPath);

    // Acquire then also refuses when a running copy's file is this one under another name, and
    // enters this copy in the table kept in copiesFolder.
    void KeyOnFileIdentity(const std::string& path, std::string copiesFolder);
    // Where the trouble that does not stop the check is told (none by default).
    void SetReport(std::function<void(const std::string&)> report) { m_report = std::move(report); }

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
    void Report(const std::string& text) const;
    Result AskHolderToRaise(const std::string& holderLockPath, int reachTimeoutMs);
    // False with the holder's lock path when a running copy uses the same file.
    bool EnterCopiesTable(std::string& holderLockPath);

    std::string m_strLockPath;
    std::string m_strNamePrefix;
    std::string m_strError;
    std::string m_strRegistryPath;
    std::string m_strCopiesFolder;
    std::string m_strEntryPath;
    std::function<void(const std::string&)> m_report;
    int m_nLockFd = -1;
    int m_nEntryFd = -1;
    QLocalServer* m_pServer = nullptr;
};

} // namespace platform
