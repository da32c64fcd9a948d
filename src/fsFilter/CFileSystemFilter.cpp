#include "fsFilter/CFileSystemFilter.h"

#include "diagnostics/CLogRecord.h"
#include "fsFilter/CFSFilterConfig.h"
#include "fsFilter/CFSFilterFile.h"
#include "threading/threads/CCallStack.h"

#include <QMutexLocker>

CFileSystemFilter::CFileSystemFilter()
{
    loadDefaultFilter();
}

// The filters go before the registry's object, and each one's connections to it with them.
CFileSystemFilter::~CFileSystemFilter() = default;

bool CFileSystemFilter::loadDefaultFilter()
{
    SY_FUNCTION("CFileSystemFilter::loadDefaultFilter");
    CFSFilterFile file(CFSFilterConfig::instance()->defaultFilterFile());
    const bool loaded = file.load();
    if (!loaded)
        SY_CRITICAL << "failed to load default filter file ...";
    std::unique_ptr<CFSPlatformFilter> rules = file.getFilter();
    const QMutexLocker locker(&defaultLock);
    if (m_defaultFilter) {
        // Pointers handed out for the default filter stay valid.
        if (rules)
            static_cast<CFSFilter&>(*m_defaultFilter) = *rules;
        else
            static_cast<CFSFilter&>(*m_defaultFilter) = CFSFilter();
        return loaded;
    }
    m_defaultFilter = rules ? std::move(rules) : std::make_unique<CFSPlatformFilter>();
    return registerIFSFilterInfoProducer(m_defaultFilter.get()) && loaded;
}

CFSPlatformFilter* CFileSystemFilter::defaultFilter()
{
    const QMutexLocker locker(&defaultLock);
    return defaultFilterLocked();
}

CFSPlatformFilter* CFileSystemFilter::defaultFilterLocked()
{
    if (!m_defaultFilter) {
        m_defaultFilter = std::make_unique<CFSPlatformFilter>();
        registerIFSFilterInfoProducer(m_defaultFilter.get());
    }
    return m_defaultFilter.get();
}

bool CFileSystemFilter::loadSpaceFilter(quint32 spaceID, const QString& spacePath)
{
    SY_FUNCTION("CFileSystemFilter::loadSpaceFilter");
    std::unique_ptr<CFSPlatformFilter> filter;
    {
        // Copied under the lock: a reload of the default filter may be assigning to it.
        const QMutexLocker locker(&defaultLock);
        filter = std::make_unique<CFSPlatformFilter>(
            static_cast<const CFSFilter&>(*defaultFilterLocked()));
    }
    filter->setSpaceID(spaceID);
    filter->setSpacePath(spacePath);
    const bool added = addSpaceFilter(spaceID, std::move(filter));
    if (!added)
        SY_CRITICAL << "failed to add space filter for spaceID" << spaceID;
    return added;
}

bool CFileSystemFilter::addSpaceFilter(quint32 spaceID, std::unique_ptr<CFSPlatformFilter> filter)
{
    SY_FUNCTION("CFileSystemFilter::addSpaceFilter");
    const QMutexLocker locker(&spaceLock);
    const auto registered = spaceFilters.find(spaceID);
    if (!filter) {
        SY_CRITICAL << "no filter given for spaceID" << spaceID;
        return registered != spaceFilters.end();
    }
    if (registered != spaceFilters.end()) {
        SY_DEBUG << "replacing filter for spaceID" << spaceID;
        CFSPlatformFilter& target = *registered->second;
        // Set on the new rules first, so that a query running meanwhile never reports
        // another space.
        filter->setSpaceID(spaceID);
        filter->setSpacePath(target.spacePath());
        static_cast<CFSFilter&>(target) = *filter;
        return true;
    }
    filter->setSpaceID(spaceID);
    registerIFSFilterInfoProducer(filter.get());
    spaceFilters.emplace(spaceID, std::move(filter));
    return true;
}

bool CFileSystemFilter::removeSpaceFilter(quint32 spaceID)
{
    std::unique_ptr<CFSPlatformFilter> removed;
    {
        const QMutexLocker locker(&spaceLock);
        const auto registered = spaceFilters.find(spaceID);
        if (registered == spaceFilters.end())
            return false;
        unregisterIFSFilterInfoProducer(registered->second.get());
        removed = std::move(registered->second);
        spaceFilters.erase(registered);
    }
    return true;
}

CFSPlatformFilter* CFileSystemFilter::getSpaceFilter(quint32 spaceID)
{
    SY_FUNCTION("CFileSystemFilter::getSpaceFilter");
    {
        const QMutexLocker locker(&spaceLock);
        const auto registered = spaceFilters.find(spaceID);
        if (registered != spaceFilters.end())
            return registered->second.get();
    }
    SY_CRITICAL << "no space filter found for spaceID" << spaceID;
    SY_CRITICAL << "using default filter ...";
    return defaultFilter();
}

void CFileSystemFilter::onPathFiltered(quint32 spaceID, const QString& path, const QString& name,
                                       quint32 type)
{
    Q_EMIT pathFiltered(spaceID, path, name, type);
}

void CFileSystemFilter::onPathInvalid(quint32 spaceID, const QString& path, const QString& name)
{
    Q_EMIT pathInvalid(spaceID, path, name);
}
