#pragma once

#include "SY2Interfaces/IFSFilterInfoConsumer.h"
#include "SY2Interfaces/IFSFilterInfoProducer.h"
#include "fsFilter/CFSPlatformFilter.h"
#include "system/CSingleton.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

// The process's filters: a default filter read from the default filter file and one filter per
// space, made from the default one. It owns every filter it holds. A pointer handed out for a
// space stays valid until that space's filter is removed: a new filter for the same space only
// gives its rules to the registered object. The registry relays the reports of all its filters,
// so one connection to it hears of every space.
class CFileSystemFilter : public QObject,
                          public IFSFilterInfoConsumer,
                          public IFSFilterInfoProducer,
                          public CSingleton<CFileSystemFilter>
{
    Q_OBJECT

public:
    ~CFileSystemFilter() override;

    // Reads the default filter file; on failure the default filter holds the built-in rules
    // alone. False when the file could not be read or its reports could not be connected.
    bool loadDefaultFilter();
    CFSPlatformFilter* defaultFilter();
    // Registers a copy of the default filter for the space, with spacePath as its string.
    bool loadSpaceFilter(quint32 spaceID, const QString& spacePath);
    // Takes filter and gives it the space identifier; for a space that has one already, only its
    // rules and options are taken over (the registered object keeps its space identifier and
    // string) and filter is destroyed. True when the space has a filter afterwards.
    bool addSpaceFilter(quint32 spaceID, std::unique_ptr<CFSPlatformFilter> filter);
    bool removeSpaceFilter(quint32 spaceID);
    // The space's filter, or the default filter (with a critical record) for an unknown space.
    CFSPlatformFilter* getSpaceFilter(quint32 spaceID);

    QObject* producerObject() override { return this; }
    QObject* consumerObject() override { return this; }

Q_SIGNALS:
    void pathFiltered(quint32 spaceID, const QString& path, const QString& name, quint32 type);
    void pathInvalid(quint32 spaceID, const QString& path, const QString& name);

public Q_SLOTS:
    void onPathFiltered(quint32 spaceID, const QString& path, const QString& name,
                        quint32 type) override;
    void onPathInvalid(quint32 spaceID, const QString& path, const QString& name) override;

private:
    friend class CSingleton<CFileSystemFilter>;
    CFileSystemFilter();

    // Needs defaultLock held.
    CFSPlatformFilter* defaultFilterLocked();

    std::unique_ptr<CFSPlatformFilter> m_defaultFilter;
    QMutex defaultLock;
    std::map<quint32, std::unique_ptr<CFSPlatformFilter>> spaceFilters;
    QMutex spaceLock;
};
