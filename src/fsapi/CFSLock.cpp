#include "fsapi/CFSLock.h"

#include "threading/threads/CCallStack.h"

#include <QDir>

CFSLock::CFSLock(const QString& path) : CFSLock(path, createPlatformFSLock()) {}

CFSLock::CFSLock(const QString& path, std::unique_ptr<IFSLock> platformLock)
    : m_lock(std::move(platformLock)), m_path(path)
{}

CFSLock::~CFSLock() = default;

bool CFSLock::getExclusiveLock()
{
    SY_FUNCTION("CFSLock::getExclusiveLock");
    return request(&IFSLock::getExclusiveLock);
}

bool CFSLock::getWriteLock()
{
    SY_FUNCTION("CFSLock::getWriteLock");
    return request(&IFSLock::getWriteLock);
}

bool CFSLock::getReadWriteLock()
{
    SY_FUNCTION("CFSLock::getReadWriteLock");
    return request(&IFSLock::getReadWriteLock);
}

bool CFSLock::getDeleteLock()
{
    SY_FUNCTION("CFSLock::getDeleteLock");
    return request(&IFSLock::getDeleteLock);
}

bool CFSLock::request(bool (IFSLock::*kind)(const QString&))
{
    return m_lock && (m_lock.get()->*kind)(QDir::toNativeSeparators(m_path));
}

bool CFSLock::releaseLock()
{
    SY_FUNCTION("CFSLock::releaseLock");
    return !m_lock || m_lock->releaseLock();
}

bool CFSLock::isLocked() const
{
    SY_FUNCTION("CFSLock::isLocked");
    return m_lock && m_lock->isLocked();
}
