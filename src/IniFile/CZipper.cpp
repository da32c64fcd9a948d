#include "IniFile/CZipper.h"

#include "IniFile/CZipExtractor.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutexLocker>

#include <algorithm>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

namespace {

const qint64 chunkSize = 4 * 1024 * 1024;
// Entries of this size or more carry zip64 sizes; the margin covers files that grow while
// they are packed.
const qint64 zip64Threshold = Q_INT64_C(0xF0000000);

const int deflateMethod = Z_DEFLATED;
const int defaultLevel = Z_DEFAULT_COMPRESSION;
const int rawWindowBits = -MAX_WBITS;
const int memoryLevel = 8;
const int defaultStrategy = Z_DEFAULT_STRATEGY;

bool isAscii(const QString& name)
{
    return std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

QString entryName(const QString& path, const QString& basePath)
{
    return path.startsWith(basePath, Qt::CaseInsensitive) ? path.mid(basePath.size()) : path;
}

bool openEntry(QuaZipFile& entry, const QuaZipNewInfo& info)
{
    return entry.open(QIODevice::WriteOnly, info, nullptr, 0, deflateMethod, defaultLevel, false,
                      rawWindowBits, memoryLevel, defaultStrategy);
}

} // namespace

CZipper::CZipper(QObject* parent)
    : QObject(parent), abortFlag(false),
      scanner(QString(),
              QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::System |
                  QDir::NoDotAndDotDot,
              QDirIterator::Subdirectories, nullptr, QString(), 0)
{}

CZipper::~CZipper() = default;

bool CZipper::fail()
{
    Q_EMIT error(0);
    return false;
}

bool CZipper::zip(const QString& source, const QString& target, bool append)
{
    SY_FUNCTION("CZipper::zip");
    QString sourcePath = source;
    if (sourcePath == QLatin1String("/"))
        return fail();
    if (sourcePath.endsWith(QLatin1Char('/')))
        sourcePath.chop(1);
    const QFileInfo sourceInfo(sourcePath);
    if (!sourceInfo.exists())
        return fail();
    if (isAborted()) {
        SY_CRITICAL << "aborting ...";
        setAborted(false);
        return false;
    }

    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    const bool sourceIsDir = sourceInfo.isDir();
    if (sourceIsDir) {
        scanner.setRootPath(sourcePath);
        // A scan stopped early still packs what it found.
        scanner.dirIterate(dirs, files, false, true);
    } else {
        files.append(sourceInfo);
    }
    if (isAborted()) {
        SY_CRITICAL << "aborting ...";
        setAborted(false);
        return false;
    }

    const QFileInfo targetInfo(target);
    if (targetInfo.exists() != append || targetInfo.isDir())
        return fail();

    const quint32 total = static_cast<quint32>(dirs.size() + files.size());
    quint32 actual = 1;
    QString basePath = sourceIsDir ? sourceInfo.filePath() : sourceInfo.path();
    if (!basePath.endsWith(QLatin1Char('/')))
        basePath.append(QLatin1Char('/'));

    Q_EMIT zipStarted();

    QuaZip archive(target);
    // Names are UTF-8 on this platform; the archive-wide flag tells other systems' readers so.
    // ASCII names read the same in every encoding, and without the flag QuaZip marks entries
    // of 4 GiB or more as needing version 4.5 rather than 6.3, which Info-ZIP's unzip refuses.
    const auto notAscii = [&basePath](const QFileInfo& info) {
        return !isAscii(entryName(info.filePath(), basePath));
    };
    archive.setUtf8Enabled(std::any_of(dirs.cbegin(), dirs.cend(), notAscii) ||
                           std::any_of(files.cbegin(), files.cend(), notAscii));
    if (!archive.open(append ? QuaZip::mdAdd : QuaZip::mdCreate)) {
        SY_CRITICAL << (append ? "failed to open zip target:" : "failed to create zip target:")
                    << target << archive.getZipError();
        return fail();
    }

    for (const QFileInfo& dir : std::as_const(dirs)) {
        if (isAborted())
            break;
        QuaZipFile entry(&archive);
        if (!openEntry(entry,
                       QuaZipNewInfo(entryName(dir.filePath(), basePath) + QLatin1Char('/')))) {
            SY_CRITICAL << "failed to create zip target:" << target << entry.getZipError();
            return fail();
        }
        if (entry.getZipError() != ZIP_OK) {
            SY_CRITICAL << "error zipping dir:" << dir.filePath() << entry.getZipError();
            return fail();
        }
        Q_EMIT zipProgress(total, actual, 0, dir.fileName());
        entry.close();
        ++actual;
    }

    for (const QFileInfo& file : std::as_const(files)) {
        if (isAborted())
            break;
        const QString path = file.filePath();
        if (!file.isFile()) {
            SY_WARNING << "skipping" << path << ", not a file ...";
            ++actual;
            continue;
        }
        // Reads go straight into the chunk buffer, without the device's own buffer.
        QFile sourceFile(path);
        if (!sourceFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            SY_CRITICAL << "failed to open sourceFile:" << path;
            return fail();
        }
        const QString name = entryName(path, basePath);
        const qint64 size = sourceFile.size();
        archive.setZip64Enabled(size >= zip64Threshold);
        QuaZipFile entry(&archive);
        if (!openEntry(entry, QuaZipNewInfo(name, path))) {
            SY_CRITICAL << "failed to create zip target:" << target << entry.getZipError();
            return fail();
        }
        const qint64 bufferSize = qMin(chunkSize, size);
        qint64 bytes = 0;
        while (!sourceFile.atEnd() && !isAborted()) {
            QByteArray buffer(bufferSize, '\0');
            const qint64 count = sourceFile.read(buffer.data(), bufferSize);
            if (count < 0) {
                SY_CRITICAL << "failed to read:" << path;
                return fail();
            }
            // The file shrank, or it grew from empty after it was opened.
            if (count == 0)
                break;
            bytes += count;
            if (entry.write(buffer.constData(), count) < 0) {
                SY_CRITICAL << "failed to write:" << name;
                return fail();
            }
        }
        if (entry.getZipError() != ZIP_OK) {
            SY_CRITICAL << "error zipping file:" << path << entry.getZipError();
            return fail();
        }
        Q_EMIT zipProgress(total, actual, bytes, file.fileName());
        entry.close();
        sourceFile.close();
        ++actual;
    }

    archive.close();
    if (isAborted()) {
        SY_CRITICAL << "aborting ...";
        setAborted(false);
    }
    Q_EMIT zipFinished();
    return archive.getZipError() == ZIP_OK;
}

bool CZipper::unzip(const QString& zipFile, const QString& target)
{
    SY_FUNCTION("CZipper::unzip");
    const QFileInfo archiveInfo(zipFile);
    if (!archiveInfo.exists() || archiveInfo.isDir())
        return fail();
    if (!QFileInfo::exists(target))
        QDir().mkpath(target);
    const QString basePath = target.endsWith(QLatin1Char('/')) ? target : target + QLatin1Char('/');

    Q_EMIT unzipStarted();
    CZipExtractor extractor(zipFile, basePath);
    const auto failed = [&](CZipExtractor::TStatus status) {
        switch (status) {
        case CZipExtractor::TStatus::Ok:
            break;
        case CZipExtractor::TStatus::OpenFailed:
            SY_CRITICAL << "failed to create zip target:" << target << extractor.errorCode();
            break;
        case CZipExtractor::TStatus::Refused:
            SY_CRITICAL << "refusing entry:" << extractor.entryName() << "-" << extractor.reason();
            break;
        case CZipExtractor::TStatus::EntryOpenFailed:
            SY_CRITICAL << "failed to open";
            break;
        case CZipExtractor::TStatus::CreateFailed:
            SY_CRITICAL << "failed to create target:" << extractor.outputPath() << "-"
                        << extractor.reason();
            break;
        case CZipExtractor::TStatus::ReadFailed:
            SY_CRITICAL << "failed to read:" << extractor.streamName();
            break;
        case CZipExtractor::TStatus::WriteFailed:
            SY_CRITICAL << "failed to write:" << extractor.outputPath();
            break;
        case CZipExtractor::TStatus::EntryFailed:
            SY_CRITICAL << "error zipping file:" << extractor.outputPath() << extractor.errorCode();
            break;
        case CZipExtractor::TStatus::NoSpace:
            SY_CRITICAL << "not enough free space to unzip:" << zipFile << "needs"
                        << extractor.neededBytes() << "bytes," << target << "has"
                        << extractor.availableBytes() << "bytes free";
            break;
        }
        return fail();
    };
    const CZipExtractor::TStatus opened = extractor.open();
    if (opened != CZipExtractor::TStatus::Ok)
        return failed(opened);

    const quint32 total = static_cast<quint32>(extractor.entriesCount());
    quint32 actual = 1;
    const auto aborted = [this] { return isAborted(); };
    for (bool more = extractor.goToFirstEntry(); more && !isAborted();
         more = extractor.goToNextEntry()) {
        const CZipExtractor::TStatus status = extractor.extractEntry(aborted);
        if (status != CZipExtractor::TStatus::Ok)
            return failed(status);
        Q_EMIT unzipProgress(total, actual, extractor.bytes(), extractor.streamName());
        ++actual;
    }
    // Walking the entries again may stop on an error if the archive changed since it was
    // checked.
    if (extractor.archiveError() != 0) {
        SY_CRITICAL << "failed to read:" << zipFile << extractor.archiveError();
        return fail();
    }

    const int closed = extractor.close();
    if (isAborted()) {
        SY_CRITICAL << "aborting ...";
        setAborted(false);
    }
    Q_EMIT unzipFinished();
    return closed == 0;
}

bool CZipper::isAborted() const
{
    const QMutexLocker locker(&abortLock);
    return abortFlag;
}

void CZipper::setAborted(bool aborted)
{
    const QMutexLocker locker(&abortLock);
    abortFlag = aborted;
    scanner.setAbort(aborted);
}

void CZipper::abort()
{
    const QMutexLocker locker(&abortLock);
    abortFlag = true;
}

bool CZipper::addZipJob(const QString& source, const QString& target)
{
    SY_FUNCTION("CZipper::addZipJob");
    const QMutexLocker locker(&jobLock);
    const auto job = zipJobs.constFind(source);
    if (job != zipJobs.cend() && job.value() == target) {
        SY_CRITICAL << "job already exists:" << source << target;
        return false;
    }
    zipJobs.insert(source, target);
    return true;
}

bool CZipper::removeZipJob(const QString& source, const QString& target)
{
    const QMutexLocker locker(&jobLock);
    const auto job = zipJobs.find(source);
    if (job == zipJobs.end() || job.value() != target)
        return false;
    zipJobs.erase(job);
    return true;
}

void CZipper::clearZipJobs()
{
    const QMutexLocker locker(&jobLock);
    zipJobs.clear();
}

void CZipper::processZipJobs()
{
    SY_FUNCTION("CZipper::processZipJobs");
    const QMutexLocker locker(&jobLock);
    Q_EMIT jobsStarted();
    if (zipJobs.isEmpty()) {
        SY_WARNING << "nothing to do ..";
        Q_EMIT jobsFinished();
        return;
    }
    for (auto job = zipJobs.begin(); job != zipJobs.end();) {
        if (isAborted()) {
            setAborted(false);
            SY_CRITICAL << "aborting ...";
            return;
        }
        const QString source = job.key();
        const QString target = job.value();
        if (!QFileInfo::exists(source)) {
            job = zipJobs.erase(job);
            continue;
        }
        if (!zip(source, target, QFileInfo::exists(target)))
            SY_CRITICAL << "failed to zip:" << source << target;
        ++job;
    }
    Q_EMIT jobsFinished();
}
