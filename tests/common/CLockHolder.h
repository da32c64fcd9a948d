#pragma once

#include <QProcess>
#include <QString>

// The running test program started again as a second process that holds one CLinuxFSLock
// ("exclusive", "write", "readWrite" or "delete") on a path, or a QLockFile ("QLockFile") of that
// name, until this object is destroyed.
class CLockHolder
{
public:
    CLockHolder(const QString& path, const QString& kind);
    ~CLockHolder() { release(); }
    CLockHolder(const CLockHolder&) = delete;
    CLockHolder& operator=(const CLockHolder&) = delete;

    bool isLocked() const { return locked; }
    // Ends the second process and with it the lock.
    void release();

private:
    QProcess process;
    bool locked = false;
};
