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
    return m_lock && m_lock->getExclusiveLock(QDir::toNativeSeparators(m_path));
}

bool CFSLock::getWriteLock()
{
    SY_FUNCTION("CFSLock::getWriteLock");
    return m_lock && m_lock->getWriteLock(QDir::toNativeSeparators(m_path));
}

bool CFSLock::getReadWriteLock()
{
    SY_FUNCTION("CFSLock::getReadWriteLock");
    return m_lock && m_lock->getReadWriteLock(QDir::toNativeSeparators(m_path));
}

bool CFSLock::getDeleteLock()
{
    SY_FUNCTION("CFSLock::getDeleteLock");
    return m_lock && m_lock->getDeleteLock(QDir::toNativeSeparators(m_path));
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
