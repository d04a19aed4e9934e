#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QLockFile;

// One switchwatch per registry file: the first copy holds a lock file beside the registry and
// listens on a local socket named after it; a later copy finds the lock held, asks the first
// over that socket to raise its window, and ends.
class SwitchWatchInstance : public QObject {
public:
    enum class Result { First, Raised, Unreachable, Failed };

    explicit SwitchWatchInstance(std::string lockPath);
    ~SwitchWatchInstance() override;

    // "<registry path>.switchwatch.lock".
    static std::string LockPathForRegistry(const std::string& registryPath);

    Result Acquire(std::function<void()> onRaise, int reachTimeoutMs = 3000);

private:
    QString ServerName() const;

    std::string m_lockPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    std::function<void()> m_onRaise;
};
