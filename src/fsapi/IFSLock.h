#pragma once

#include <QString>

#include <memory>

// A lock that holds a file or directory open with a sharing mode, so that others can do with it
// only what the mode lets them do. Paths are in the platform's native form.
class IFSLock
{
public:
    virtual bool getExclusiveLock(const QString& path) = 0;
    virtual bool getWriteLock(const QString& path) = 0;
    virtual bool getReadWriteLock(const QString& path) = 0;
    virtual bool getDeleteLock(const QString& path) = 0;
    virtual bool releaseLock() = 0;
    virtual bool isLocked() const = 0;
    virtual ~IFSLock() = default;
};

// Creates this platform's lock; defined beside the platform's lock class.
std::unique_ptr<IFSLock> createPlatformFSLock();
