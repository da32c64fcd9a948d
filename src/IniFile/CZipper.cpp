#include "IniFile/CZipper.h"

#include "IniFile/CDeflatePipeline.h"
#include "IniFile/CZipExtractor.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutexLocker>

#include <algorithm>
#include <utility>
#include <vector>

#include <quazip/quazip.h>
#include <quazip/zip.h>

namespace {

// Entries of this size or more carry zip64 sizes; the margin covers files that grow while
// they are packed.
const qint64 zip64Threshold = Q_INT64_C(0xF0000000);
const uLong utf8NameFlag = 0x800;
// Version 3.0 of the format, the one the entries' fields follow.
const uLong formatVersion = 30;

// What the file system said about the archive's last failed write, in its own words.
QString writeFailure(QuaZip& archive)
{
    const auto* file = qobject_cast<const QFileDevice*>(archive.getIoDevice());
    return file && file->error() != QFileDevice::NoError
               ? file->errorString()
               : QStringLiteral("the archive could not be written");
}

QString entryName(const QString& path, const QString& basePath)
{
    return path.startsWith(basePath, Qt::CaseInsensitive) ? path.mid(basePath.size()) : path;
}

bool isAscii(const QByteArray& name)
{
    return std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; });
}

bool isUtf8(const QByteArray& name)
{
    return QString::fromUtf8(name).toUtf8() == name;
}

// The Unix type and permission bits, as Info-ZIP's unzip restores them.
quint32 unixAttributes(bool isDirectory, quint32 permissions)
{
    return ((isDirectory ? 0040000u : 0100000u) | (permissions & 0777u)) << 16;
}

QByteArray rawEntryName(const QByteArray& path, const QByteArray& basePath)
{
    return path.startsWith(basePath) ? path.mid(basePath.size()) : path;
}

QString rawFileName(const QByteArray& path)
{
    return QFile::decodeName(path.mid(path.lastIndexOf('/') + 1));
}

// One entry of the archive whose data arrive already deflated. An entry still open when it
// goes out of scope is ended and closed with what was written, so that a failure leaves a
// complete archive.
class CRawEntry
{
public:
    explicit CRawEntry(QuaZip& archive) : archive(archive) {}
    ~CRawEntry() { close(); }
    CRawEntry(const CRawEntry&) = delete;
    CRawEntry& operator=(const CRawEntry&) = delete;

    // name is spelled as the file system spells it. Returns the library's error code.
    int open(const QByteArray& name, const QDateTime& dateTime, quint32 attributes, bool zip64)
    {
        zip_fileinfo fileInfo = {};
        const QDate date = dateTime.date();
        const QTime time = dateTime.time();
        fileInfo.tmz_date.tm_year = uInt(date.year());
        fileInfo.tmz_date.tm_mon = uInt(date.month() - 1);
        fileInfo.tmz_date.tm_mday = uInt(date.day());
        fileInfo.tmz_date.tm_hour = uInt(time.hour());
        fileInfo.tmz_date.tm_min = uInt(time.minute());
        fileInfo.tmz_date.tm_sec = uInt(time.second());
        fileInfo.external_fa = attributes;
        // The UTF-8 flag goes on each entry whose name needs it. QuaZip's archive-wide UTF-8
        // mode would mark every entry as needing version 6.3 of the format, and Info-ZIP's
        // unzip 6.0 then refuses the entries of 4 GiB or more. A name that is not UTF-8 is
        // stored as it is, without the flag.
        const uLong flags = isAscii(name) || !isUtf8(name) ? 0 : utf8NameFlag;
        const int result = zipOpenNewFileInZip4_64(
            archive.getZipFile(), name.constData(), &fileInfo, nullptr, 0, nullptr, 0, nullptr,
            Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
            (uLong(archive.getOsCode()) << 8) | formatVersion, flags, zip64 ? 1 : 0);
        isOpen = result == ZIP_OK;
        return result;
    }

    bool write(const CDeflatePipeline::TBlock& block)
    {
        if (block.size > 0 &&
            zipWriteInFileInZip(archive.getZipFile(), block.data, unsigned(block.size)) != ZIP_OK)
            return false;
        crc =
            bytes == 0 ? block.crc : quint32(crc32_combine(crc, block.crc, z_off_t(block.length)));
        bytes += block.length;
        ended = block.final;
        return true;
    }

    qint64 size() const { return bytes; }

    // Returns the library's error code.
    int close()
    {
        if (!isOpen)
            return ZIP_OK;
        isOpen = false;
        // A copy stopped early ends its deflate stream here.
        const QByteArray end = CDeflatePipeline::streamEnd();
        int result = ended ? ZIP_OK
                           : zipWriteInFileInZip(archive.getZipFile(), end.constData(),
                                                 unsigned(end.size()));
        const int closed = zipCloseFileInZipRaw64(archive.getZipFile(), ZPOS64_T(bytes), crc);
        return result != ZIP_OK ? result : closed;
    }

private:
    QuaZip& archive;
    bool isOpen = false;
    bool ended = false;
    qint64 bytes = 0;
    quint32 crc = 0;
};

// What zip learns of a file when it plans the file's blocks.
struct TSource
{
    QByteArray path;
    QString filePath;
    QString fileName;
    QByteArray name;
    qint64 size = 0;
    bool regular = false;
};

} // namespace

CZipper::CZipper(QObject* parent)
    : QObject(parent), abortFlag(false),
      scanner(QString(),
              QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::System |
                  QDir::NoDotAndDotDot,
              QDirIterator::Subdirectories, nullptr, QString(), 0)
{}

CZipper::~CZipper() = default;

bool CZipper::fail(const QString& cause)
{
    lastFailure = cause;
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
    // Entries whose names are not UTF-8 follow the others of their kind.
    QList<CDirIterator::TRawEntry> rawDirs;
    QList<CDirIterator::TRawEntry> rawFiles;
    const bool sourceIsDir = sourceInfo.isDir();
    if (sourceIsDir) {
        scanner.setRootPath(sourcePath);
        // A scan stopped early still packs what it found. The file information keeps what the
        // scan learnt, so that packing looks at each file once more only to open it.
        scanner.dirIterate(dirs, files, true, true);
        rawDirs = scanner.rawDirs();
        rawFiles = scanner.rawFiles();
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

    const quint32 total =
        static_cast<quint32>(dirs.size() + rawDirs.size() + files.size() + rawFiles.size());
    quint32 actual = 1;
    QString basePath = sourceIsDir ? sourceInfo.filePath() : sourceInfo.path();
    if (!basePath.endsWith(QLatin1Char('/')))
        basePath.append(QLatin1Char('/'));
    const QByteArray rawBasePath = QFile::encodeName(basePath);
    const qsizetype fileCount = files.size() + rawFiles.size();
    const auto describe = [&](qsizetype index) {
        TSource source;
        if (index < files.size()) {
            const QFileInfo& info = files.at(index);
            source.filePath = info.filePath();
            source.fileName = info.fileName();
            source.path = QFile::encodeName(source.filePath);
            source.name = entryName(source.filePath, basePath).toUtf8();
            source.regular = info.isFile();
            source.size = source.regular ? info.size() : 0;
        } else {
            const CDirIterator::TRawEntry& raw = rawFiles.at(index - files.size());
            source.path = raw.path;
            source.filePath = QFile::decodeName(raw.path);
            source.fileName = rawFileName(raw.path);
            source.name = rawEntryName(raw.path, rawBasePath);
            source.regular = raw.isRegular;
            source.size = raw.size;
        }
        return source;
    };

    Q_EMIT zipStarted();

    QuaZip archive(target);
    if (!archive.open(append ? QuaZip::mdAdd : QuaZip::mdCreate)) {
        SY_CRITICAL << (append ? "failed to open zip target:" : "failed to create zip target:")
                    << target << archive.getZipError();
        return fail(QStringLiteral("the archive could not be created"));
    }

    // File blocks are compressed ahead in file order, as far as the pipeline holds, while this
    // thread writes finished ones to the archive.
    CDeflatePipeline pipeline(workers);
    std::vector<TSource> sources(static_cast<size_t>(fileCount));
    qsizetype planned = 0;
    qint64 plannedOffset = 0;
    const auto plan = [&] {
        while (!pipeline.isFull() && planned < fileCount) {
            TSource& source = sources[size_t(planned)];
            if (plannedOffset == 0)
                source = describe(planned);
            if (source.regular) {
                pipeline.submit(int(planned), source.path, plannedOffset);
                plannedOffset += CDeflatePipeline::blockSize;
            }
            if (!source.regular || plannedOffset >= source.size) {
                ++planned;
                plannedOffset = 0;
            }
        }
    };
    plan();

    const qsizetype dirCount = dirs.size() + rawDirs.size();
    for (qsizetype index = 0; index < dirCount; ++index) {
        if (isAborted())
            break;
        const bool fromInfo = index < dirs.size();
        const QString path = fromInfo ? dirs.at(index).filePath()
                                      : QFile::decodeName(rawDirs.at(index - dirs.size()).path);
        const QByteArray name =
            fromInfo ? entryName(path, basePath).toUtf8()
                     : rawEntryName(rawDirs.at(index - dirs.size()).path, rawBasePath);
        CRawEntry entry(archive);
        int result = entry.open(name + '/', QDateTime::currentDateTime(), 0, false);
        if (result != ZIP_OK) {
            SY_CRITICAL << "failed to create zip target:" << target << result;
            return fail(writeFailure(archive));
        }
        Q_EMIT zipProgress(total, actual, 0,
                           fromInfo ? dirs.at(index).fileName()
                                    : rawFileName(rawDirs.at(index - dirs.size()).path));
        result = entry.close();
        if (result != ZIP_OK) {
            SY_CRITICAL << "error zipping dir:" << path << result;
            return fail(writeFailure(archive));
        }
        ++actual;
    }

    for (qsizetype index = 0; index < fileCount; ++index) {
        if (isAborted())
            break;
        plan();
        const TSource& source = sources[size_t(index)];
        const QString& path = source.filePath;
        const int tag = int(index);
        const auto dropBlocks = [&] {
            while (!pipeline.isEmpty() && pipeline.frontFile() == tag)
                pipeline.pop();
        };
        const bool opened =
            source.regular && pipeline.front().status != CDeflatePipeline::TStatus::NotRegular;
        if (!opened) {
            dropBlocks();
            SY_WARNING << "skipping" << path << ", not a file ...";
            ++actual;
            continue;
        }
        if (pipeline.front().status == CDeflatePipeline::TStatus::OpenFailed) {
            SY_CRITICAL << "failed to open sourceFile:" << path;
            return fail();
        }
        const QString name = QString::fromUtf8(source.name);
        CRawEntry entry(archive);
        // The time and permissions come from the opened file, which was looked at once.
        const CDeflatePipeline::TBlock& first = pipeline.front();
        int result =
            entry.open(source.name, QDateTime::fromSecsSinceEpoch(first.modified),
                       unixAttributes(false, first.permissions), source.size >= zip64Threshold);
        if (result != ZIP_OK) {
            SY_CRITICAL << "failed to create zip target:" << target << result;
            return fail(writeFailure(archive));
        }
        // Blocks past the planned ones belong to a file that grew while it was packed.
        bool ended = false;
        for (qint64 offset = 0; !ended && !isAborted(); offset += CDeflatePipeline::blockSize) {
            const bool fromPipeline = offset == 0 || offset < source.size;
            const CDeflatePipeline::TBlock& block =
                fromPipeline ? pipeline.front() : pipeline.compressHere(source.path, offset);
            switch (block.status) {
            case CDeflatePipeline::TStatus::Compressed:
                break;
            case CDeflatePipeline::TStatus::DeflateFailed:
                SY_CRITICAL << "failed to write:" << name;
                return fail();
            default:
                SY_CRITICAL << "failed to read:" << path;
                return fail();
            }
            if (!entry.write(block)) {
                SY_CRITICAL << "failed to write:" << name;
                return fail(writeFailure(archive));
            }
            ended = block.final;
            if (fromPipeline) {
                pipeline.pop();
                plan();
            }
        }
        dropBlocks();
        Q_EMIT zipProgress(total, actual, entry.size(), source.fileName);
        result = entry.close();
        if (result != ZIP_OK) {
            SY_CRITICAL << "error zipping file:" << path << result;
            return fail(writeFailure(archive));
        }
        ++actual;
    }

    archive.close();
    if (isAborted()) {
        SY_CRITICAL << "aborting ...";
        setAborted(false);
    }
    Q_EMIT zipFinished();
    if (archive.getZipError() != ZIP_OK) {
        lastFailure = QStringLiteral("the archive could not be written");
        return false;
    }
    return true;
}

void CZipper::setWorkerCount(int workers)
{
    this->workers = workers;
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
