#pragma once

#include "fsapi/IFSLock.h"

#include <QString>

#include <memory>

// A lock bound to one path (in the "/" form). It owns the platform lock, so destroying it
// releases whatever it holds.
class CFSLock
{
public:
    explicit CFSLock(const QString& path);
    // Takes the platform lock to use; a null one makes every request fail and release succeed.
    CFSLock(const QString& path, std::unique_ptr<IFSLock> platformLock);
    CFSLock(const CFSLock&) = delete;
    CFSLock& operator=(const CFSLock&) = delete;
    virtual ~CFSLock();

    [[nodiscard]] bool getExclusiveLock();
    [[nodiscard]] bool getWriteLock();
    [[nodiscard]] bool getReadWriteLock();
    [[nodiscard]] bool getDeleteLock();
    bool releaseLock();
    bool isLocked() const;

    const QString& path() const { return m_path; }

private:
    // One lock request of the given kind for the stored path, in native form.
    bool request(bool (IFSLock::*kind)(const QString&));

    std::unique_ptr<IFSLock> m_lock;
    QString m_path;
};
