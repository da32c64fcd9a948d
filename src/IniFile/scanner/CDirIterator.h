#pragma once

#include "IniFile/scanner/CDirListing.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class CFSFilter;

// Walks a directory tree once and sorts what it meets into directories and files, optionally
// summing the file sizes. Every entry may be passed through a file-system filter (not owned,
// may be null); a scan can be stopped from another thread with setAbort or by asking the
// scanning thread to stop.
class CDirIterator
{
public:
    // An entry the toolkit's iterator cannot name because its name, or the name of a folder
    // above it, is not valid UTF-8. path is spelled as the file system spells it.
    struct TRawEntry
    {
        QByteArray path;
        bool isDirectory = false;
        bool isRegular = false;
        qint64 size = 0;
    };

    // Scans the directory's absolute path with its entry filter and name filters.
    CDirIterator(const QDir& dir, QDirIterator::IteratorFlags iteratorFlags, CFSFilter* filter,
                 const QString& basePath, quint32 filterContext);
    CDirIterator(const QString& rootPath, QDirIterator::IteratorFlags iteratorFlags,
                 CFSFilter* filter, const QString& basePath, quint32 filterContext);
    CDirIterator(const QString& rootPath, QDir::Filters entryFilter,
                 QDirIterator::IteratorFlags iteratorFlags, CFSFilter* filter,
                 const QString& basePath, quint32 filterContext);
    CDirIterator(const QString& rootPath, const QStringList& nameFilters, QDir::Filters entryFilter,
                 QDirIterator::IteratorFlags iteratorFlags, CFSFilter* filter,
                 const QString& basePath, quint32 filterContext);
    virtual ~CDirIterator();

    CDirIterator(const CDirIterator&) = delete;
    CDirIterator& operator=(const CDirIterator&) = delete;

    // False only when the scan was aborted; the lists keep what was gathered until then. Only
    // a scan that adds up the sizes stats every file; one that does not knows the files' types
    // from the listing alone.
    bool dirIterate(QList<QFileInfo>& dirs, QList<QFileInfo>& files, qint64& totalSize,
                    bool caching, bool checkThread);
    bool dirIterate(QList<QFileInfo>& dirs, QList<QFileInfo>& files, bool caching,
                    bool checkThread);
    // The same scan in one walk over the folders' descriptors, into a compact listing that
    // also holds the entries whose names are not UTF-8 (see rawDirs). Name filters do not
    // apply. With sizes, every file is looked up for its size and the total is logged; folders
    // always are, for their permissions.
    bool dirIterate(CDirListing& listing, bool sizes, bool checkThread);

    void setAbort(bool abort);

    // What the last scan found that only a walk over the names' bytes can reach; the entry
    // filter's Dirs, Files, Hidden and NoSymLinks apply, the file-system filter does not.
    const QList<TRawEntry>& rawDirs() const { return m_rawDirs; }
    const QList<TRawEntry>& rawFiles() const { return m_rawFiles; }

    QString rootPath() const { return m_rootPath; }
    void setRootPath(const QString& rootPath) { m_rootPath = rootPath; }

private:
    // Something below the root that cannot be listed or named: the path and why.
    struct TUnreachable
    {
        QByteArray path;
        QString reason;
    };

    // totalSize, when given, has the files' sizes added to it.
    bool iterate(QList<QFileInfo>& dirs, QList<QFileInfo>& files, qint64* totalSize, bool caching,
                 bool checkThread);
    void logUnreachable(const QList<TUnreachable>& unreachable) const;

public:
    // How walkBytes walks: which entries it lists and looks up. keep, where set, decides on
    // the entries with UTF-8 paths; stopped, where set, ends the walk early.
    struct TWalk
    {
        QDir::Filters filters;
        bool recurse = false;
        bool rawOnly = false;
        bool sizes = false;
        std::function<bool(const QByteArray& path, bool isDirectory)> keep;
        std::function<bool()> stopped;
    };

private:
    // Walks the tree below the root by the names' bytes, listing its entries and what cannot
    // be reached at all; false when stopped. Defined per platform.
    bool walkBytes(const TWalk& how, CDirListing& listing, QList<TUnreachable>& unreachable);

    QString m_rootPath;
    QDir::Filters entryFilter;
    QStringList nameFilters;
    QDirIterator::IteratorFlags iteratorFlags;
    CFSFilter* filter;
    quint32 filterContext;
    QString basePath;
    // Set from other threads while a scan reads it once per entry.
    std::atomic<bool> abortFlag;
    QList<TRawEntry> m_rawDirs;
    QList<TRawEntry> m_rawFiles;
};
