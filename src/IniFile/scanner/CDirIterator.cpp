#include "IniFile/scanner/CDirIterator.h"

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"
#include "fsFilter/CFSFilter.h"
#include "threading/threads/CBasicThread.h"
#include "threading/threads/CCallStack.h"

#include <QFile>

#include <sys/stat.h>

namespace {

// The longest path the system opens by name, with its terminating zero.
const int pathLimit = 4096;

QString printable(const QByteArray& path)
{
    const QString decoded = QString::fromUtf8(path);
    return decoded.toUtf8() == path ? decoded : QString::fromLatin1(path.toPercentEncoding("/"));
}

QString absoluteRootPath(const QDir& dir)
{
    // joinDirPath strips leading separators, and on this platform the leading one is the root.
    const QString path = CPathOperations::joinDirPath(dir.absolutePath(), QString(), false);
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
}

} // namespace

CDirIterator::CDirIterator(const QDir& dir, QDirIterator::IteratorFlags iteratorFlags,
                           CFSFilter* filter, const QString& basePath, quint32 filterContext)
    : CDirIterator(absoluteRootPath(dir), dir.nameFilters(), dir.filter(), iteratorFlags, filter,
                   basePath, filterContext)
{}

CDirIterator::CDirIterator(const QString& rootPath, QDirIterator::IteratorFlags iteratorFlags,
                           CFSFilter* filter, const QString& basePath, quint32 filterContext)
    : CDirIterator(rootPath, QStringList(), QDir::NoFilter, iteratorFlags, filter, basePath,
                   filterContext)
{}

CDirIterator::CDirIterator(const QString& rootPath, QDir::Filters entryFilter,
                           QDirIterator::IteratorFlags iteratorFlags, CFSFilter* filter,
                           const QString& basePath, quint32 filterContext)
    : CDirIterator(rootPath, QStringList(), entryFilter, iteratorFlags, filter, basePath,
                   filterContext)
{}

CDirIterator::CDirIterator(const QString& rootPath, const QStringList& nameFilters,
                           QDir::Filters entryFilter, QDirIterator::IteratorFlags iteratorFlags,
                           CFSFilter* filter, const QString& basePath, quint32 filterContext)
    : m_rootPath(rootPath), entryFilter(entryFilter), nameFilters(nameFilters),
      iteratorFlags(iteratorFlags), filter(filter), filterContext(filterContext),
      basePath(basePath.isEmpty() ? rootPath : basePath), abortFlag(false)
{}

CDirIterator::~CDirIterator() = default;

bool CDirIterator::dirIterate(QList<QFileInfo>& dirs, QList<QFileInfo>& files, qint64& totalSize,
                              bool caching, bool checkThread)
{
    return iterate(dirs, files, &totalSize, caching, checkThread);
}

bool CDirIterator::dirIterate(QList<QFileInfo>& dirs, QList<QFileInfo>& files, bool caching,
                              bool checkThread)
{
    return iterate(dirs, files, nullptr, caching, checkThread);
}

bool CDirIterator::iterate(QList<QFileInfo>& dirs, QList<QFileInfo>& files, qint64* totalSize,
                           bool caching, bool checkThread)
{
    SY_FUNCTION("CDirIterator::dirIterate");
    dirs.clear();
    files.clear();
    m_rawDirs.clear();
    m_rawFiles.clear();
    SY_DEBUG << "scanning" << m_rootPath;

    QDir root(m_rootPath);
    root.setFilter(entryFilter);
    if (!nameFilters.isEmpty())
        root.setNameFilters(nameFilters);
    QDirIterator it(root, iteratorFlags);
    quint32 type = 0;
    while (it.hasNext()) {
        it.next();
        const bool aborted = abortFlag.load(std::memory_order_relaxed);
        const bool threadStopped = checkThread && !CBasicThread::isCurrentThreadRunning();
        if (aborted || threadStopped) {
            SY_DEBUG << "scanning aborted" << aborted << checkThread << threadStopped;
            return false;
        }
        QFileInfo info = it.fileInfo();
        // Reported by the walk over the bytes below, which reaches what lies beneath.
        const QString filePath = info.filePath();
        if (filePath.size() >= pathLimit / 3 && QFile::encodeName(filePath).size() >= pathLimit)
            continue;
        // The listing already knows the entry's type; asking before caching is switched off
        // spares a second stat() per entry.
        const bool isDirectory = info.isDir();
        info.setCaching(caching);
        if (filter && filter->isFiltered(filterContext, basePath, info.path(), info.fileName(),
                                         isDirectory, type))
            continue;
        if (isDirectory) {
            dirs.append(info);
        } else {
            // A file's size costs a stat() of its own, which a scan without a total spares.
            if (totalSize)
                *totalSize += info.size();
            files.append(info);
        }
    }
    QList<TUnreachable> unreachable;
    TWalk rawOnly{entryFilter, iteratorFlags.testFlag(QDirIterator::Subdirectories), true, false,
                  {}, {}};
    CDirListing raw;
    walkBytes(rawOnly, raw, unreachable);
    const auto rawEntries = [&raw](const std::vector<CDirListing::TEntry>& entries, bool isDir) {
        QList<TRawEntry> listed;
        listed.reserve(qsizetype(entries.size()));
        for (const CDirListing::TEntry& entry : entries)
            listed.append({raw.filePath(entry), isDir, S_ISREG(entry.mode), entry.size});
        return listed;
    };
    m_rawDirs = rawEntries(raw.dirs(), true);
    m_rawFiles = rawEntries(raw.files(), false);
    logUnreachable(unreachable);
    if (totalSize)
        SY_DEBUG << "scanning complete. dirs" << dirs.size() << "files" << files.size()
                 << "complete file size" << *totalSize;
    else
        SY_DEBUG << "scanning complete. dirs" << dirs.size() << "files" << files.size();
    return true;
}

bool CDirIterator::dirIterate(CDirListing& listing, bool sizes, bool checkThread)
{
    SY_FUNCTION("CDirIterator::dirIterate");
    m_rawDirs.clear();
    m_rawFiles.clear();
    SY_DEBUG << "scanning" << m_rootPath;
    TWalk how{entryFilter, iteratorFlags.testFlag(QDirIterator::Subdirectories), false, sizes,
              {}, {}};
    quint32 type = 0;
    if (filter)
        how.keep = [this, &type](const QByteArray& path, bool isDirectory) {
            const QString decoded = QFile::decodeName(path);
            const qsizetype slash = decoded.lastIndexOf(QLatin1Char('/'));
            return !filter->isFiltered(filterContext, basePath,
                                       slash > 0 ? decoded.left(slash) : QStringLiteral("/"),
                                       decoded.mid(slash + 1), isDirectory, type);
        };
    bool threadStopped = false;
    if (checkThread)
        how.stopped = [&threadStopped] {
            threadStopped = !CBasicThread::isCurrentThreadRunning();
            return threadStopped;
        };
    QList<TUnreachable> unreachable;
    if (!walkBytes(how, listing, unreachable)) {
        SY_DEBUG << "scanning aborted" << abortFlag.load(std::memory_order_relaxed)
                 << checkThread << threadStopped;
        return false;
    }
    logUnreachable(unreachable);
    const qsizetype dirs = qsizetype(listing.dirs().size());
    const qsizetype files = qsizetype(listing.files().size());
    if (sizes) {
        qint64 totalSize = 0;
        for (const CDirListing::TEntry& entry : listing.files())
            totalSize += entry.size;
        SY_DEBUG << "scanning complete. dirs" << dirs << "files" << files << "complete file size"
                 << totalSize;
    } else {
        SY_DEBUG << "scanning complete. dirs" << dirs << "files" << files;
    }
    return true;
}

void CDirIterator::logUnreachable(const QList<TUnreachable>& unreachable) const
{
    SY_FUNCTION("CDirIterator::dirIterate");
    for (const TUnreachable& item : unreachable)
        SY_WARNING << "skipping" << printable(item.path) << "," << item.reason;
}

void CDirIterator::setAbort(bool abort)
{
    abortFlag.store(abort, std::memory_order_relaxed);
}
