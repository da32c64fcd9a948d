#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

class CFSFilter;

// Walks a directory tree once and sorts what it meets into directories and files, optionally
// summing the file sizes. Every entry may be passed through a file-system filter (not owned,
// may be null); a scan can be stopped from another thread with setAbort or by asking the
// scanning thread to stop.
class CDirIterator
{
public:
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

    // False only when the scan was aborted; the lists keep what was gathered until then.
    bool dirIterate(QList<QFileInfo>& dirs, QList<QFileInfo>& files, qint64& totalSize,
                    bool caching, bool checkThread);
    bool dirIterate(QList<QFileInfo>& dirs, QList<QFileInfo>& files, bool caching,
                    bool checkThread);

    void setAbort(bool abort);

    QString rootPath() const { return m_rootPath; }
    void setRootPath(const QString& rootPath) { m_rootPath = rootPath; }

private:
    QString m_rootPath;
    QDir::Filters entryFilter;
    QStringList nameFilters;
    QDirIterator::IteratorFlags iteratorFlags;
    CFSFilter* filter;
    quint32 filterContext;
    QString basePath;
    // Set from other threads while a scan reads it once per entry.
    std::atomic<bool> abortFlag;
};
