#include "IniFile/zip/CZipper.h"

#include "IniFile/masking/CCredentialMasker.h"
#include "IniFile/zip/CArchiveFile.h"
#include "IniFile/zip/CBlockPlanner.h"
#include "IniFile/zip/CDeflatePipeline.h"
#include "IniFile/zip/CZipExtractor.h"
#include "IniFile/zip/CZipperPack.h"
#include "IniFile/zip/CZipperFileSync.h"
#include "IniFile/zip/CRawEntry.h"
#include "IniFile/zip/CZipperVerifier.h"
#include "IniFile/zip/IReplacementFile.h"
#include "IniFile/zip/ISourceFile.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutexLocker>
#include <QSet>
#include <QTemporaryFile>

#include <algorithm>
#include <array>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>
#include <quazip/zip.h>

#include <sys/stat.h>

namespace {

// Entries of this size or more at their open carry zip64 sizes: their deflate data, a little
// larger than the file when it does not compress, could pass 4 GiB.
const qint64 zip64Threshold = Q_INT64_C(0xF0000000);
// Masked text can grow past its file's size: a one-byte value becomes the marker. Masked
// entries carry zip64 sizes from the size at which eight times it could pass 4 GiB.
const qint64 maskedZip64Threshold = zip64Threshold / 8;
const QString maskedListStem = QStringLiteral("masked");
const QString leftOutListStem = QStringLiteral("left-out");
// The steps of zip write their records in its name.
const char* const zipFunction = "CZipper::zip";
// Milliseconds between two reports of the bytes of one file: ten a second.
const qint64 entryReportInterval = 100;

// What masked.txt says of a kind of value, made once rather than for each value.
const QByteArray& kindText(CCredentialMasker::TKind kind)
{
    using TKind = CCredentialMasker::TKind;
    static const auto texts = [] {
        std::array<QByteArray, size_t(CCredentialMasker::kindCount)> made;
        for (size_t i = 0; i < made.size(); ++i)
            made[i] = CCredentialMasker::kindName(TKind(i)).toUtf8();
        return made;
    }();
    return texts[size_t(kind)];
}

} // namespace

CZipper::CZipper(QObject* parent)
    : QObject(parent), abortFlag(false),
      scanner(QString(), scannedEntries, QDirIterator::Subdirectories, nullptr,
              QString(), 0)
{}

CZipper::~CZipper() = default;

bool CZipper::fail(const QString& cause)
{
    failure = cause;
    Q_EMIT error(0);
    return false;
}

bool CZipper::zip(const QString& source, const QString& target, bool append)
{
    SY_FUNCTION("CZipper::zip");
    failure.clear();
    leftOutLines = std::exchange(notedLeftOut, {});
    QString sourcePath = source;
    if (sourcePath == QLatin1String("/"))
        return fail(QStringLiteral("the whole file system cannot be packed"));
    if (sourcePath.endsWith(QLatin1Char('/')))
        sourcePath.chop(1);
    const QFileInfo sourceInfo(sourcePath);
    if (!sourceInfo.exists())
        return fail(QStringLiteral("\"%1\" does not exist").arg(sourcePath));
    if (isAborted()) {
        SY_CRITICAL << "aborting ...";
        setAborted(false);
        return false;
    }

    CArchiveFile archiveFile(target);
    QuaZip archive(&archiveFile);
    TPack pack{target, archiveFile, archive, {}, 0, 1, {}, {}, 0, {}, {}};
    const bool sourceIsDir = sourceInfo.isDir();
    if (sourceIsDir) {
        scanner.setRootPath(sourcePath);
        // A scan stopped early still packs what it found. Files are looked at once more only
        // to be opened, which tells their size.
        if (walked.root() == QFile::encodeName(sourcePath) && !walked.root().isEmpty())
            pack.listing = std::move(walked);
        else
            scanner.dirIterate(pack.listing, false, true);
        walked = CDirListing();
    } else {
        QByteArray folder = QFile::encodeName(sourceInfo.path());
        if (folder == "/")
            folder.clear();
        pack.listing.reset(folder);
        pack.listing.add(false, QFile::encodeName(sourceInfo.fileName()),
                         sourceInfo.isFile() ? S_IFREG : 0, 0, true);
        pack.listing.finish();
    }
    if (isAborted()) {
        SY_CRITICAL << "aborting ...";
        setAborted(false);
        return false;
    }

    const QFileInfo targetInfo(target);
    if (targetInfo.exists() != append || targetInfo.isDir())
        return fail(append ? QStringLiteral("\"%1\" is no archive to add to").arg(target)
                           : QStringLiteral("\"%1\" already exists").arg(target));

    pack.total = static_cast<quint32>(pack.listing.dirs().size() + pack.listing.files().size());

    Q_EMIT zipStarted();

    // Opened here rather than by QuaZip, so that its flush and close can be checked, and for
    // reading too, so that the archive is read back through the same open file.
    const char* const openFailed =
        append ? "failed to open zip target:" : "failed to create zip target:";
    if (append) {
        QString cause;
        pack.replacement = IReplacementFile::create(target, archiveFile, cause);
        if (!pack.replacement || !archiveFile.copyFrom(target, cause)) {
            SY_CRITICAL << openFailed << target << ZIP_ERRNO << "-" << cause;
            return fail(cause);
        }
    } else if (!archiveFile.open(QIODevice::ReadWrite | QIODevice::NewOnly)) {
        SY_CRITICAL << openFailed << target << ZIP_ERRNO << "-" << archiveFile.errorString();
        return fail(archiveFile.errorString());
    }
    archive.setAutoClose(false);
    if (!archive.open(append ? QuaZip::mdAdd : QuaZip::mdCreate)) {
        SY_CRITICAL << openFailed << target << archive.getZipError();
        return fail(QStringLiteral("\"%1\" could not be opened as an archive").arg(target));
    }
    return packEntries(pack) && writeMaskedList(pack) && writeLeftOutList(pack) &&
           finishArchive(pack);
}

bool CZipper::packEntries(TPack& pack)
{
    const CDirListing& listing = pack.listing;
    const qsizetype fileCount = qsizetype(listing.files().size());
    const auto describe = [&listing](qsizetype index) {
        const CDirListing::TEntry& entry = listing.files()[size_t(index)];
        TSource source;
        source.name = listing.path(entry);
        source.path = listing.filePath(entry);
        source.filePath = QFile::decodeName(source.path);
        source.fileName = QFile::decodeName(listing.fileName(entry));
        source.regular = S_ISREG(entry.mode);
        return source;
    };

    // File blocks are compressed ahead in file order, as far as the pipeline holds, while this
    // thread writes finished ones to the archive. The sources outlive the pipeline's workers.
    CSources sources(fileCount);
    CDeflatePipeline pipeline(workers, maskCredentials ? proxyPassword : QByteArray());
    CBlockPlanner planner(pipeline, sources, describe, maskCredentials);
    planner.plan();
    // The list lasts until the check: grown by doubling, it would take three times its size
    // while it moves.
    pack.written.reserve(listing.dirs().size() + size_t(fileCount) + 1);

    if (!packFolders(pack))
        return false;
    for (qsizetype index = 0; index < fileCount; ++index) {
        if (isAborted())
            return true;
        sources.dropBefore(index);
        planner.plan();
        if (!packFile(pack, pipeline, planner, index, sources.at(index)))
            return false;
    }
    return true;
}

bool CZipper::packFolders(TPack& pack)
{
    const CDirListing& listing = pack.listing;
    for (const CDirListing::TEntry& dir : listing.dirs()) {
        if (isAborted())
            return true;
        const QByteArray name = listing.path(dir);
        const QString path = QFile::decodeName(listing.filePath(dir));
        const quint32 mode = dir.mode & 0777u;
        CRawEntry entry(pack.archive);
        int result = entry.open(name + '/', std::time(nullptr),
                                CRawEntry::unixAttributes(true, mode), false);
        if (result != ZIP_OK) {
            SY_CRITICAL_AT(zipFunction) << "failed to create zip target:" << pack.target << result;
            return fail(pack.writeError());
        }
        Q_EMIT zipProgress(pack.total, pack.actual, 0, QFile::decodeName(listing.fileName(dir)));
        result = entry.close();
        if (result != ZIP_OK) {
            SY_CRITICAL_AT(zipFunction) << "error zipping dir:" << path << result;
            return fail(pack.writeError());
        }
        pack.written.push_back({name + '/', 0, 0});
        ++pack.actual;
    }
    return true;
}

bool CZipper::packFile(TPack& pack, CDeflatePipeline& pipeline, CBlockPlanner& planner,
                       qsizetype index, TSource& source)
{
    const QString& path = source.filePath;
    if (!source.regular || source.opened == ISourceFile::TOpen::NotRegular) {
        SY_WARNING_AT(zipFunction) << "skipping" << path << ", not a file ...";
        ++pack.actual;
        return true;
    }
    if (source.opened == ISourceFile::TOpen::Missing) {
        SY_WARNING_AT(zipFunction)
            << "skipping" << path << ", it was removed before it could be packed";
        ++pack.actual;
        return true;
    }
    if (!source.file && skipUnreadable) {
        SY_WARNING_AT(zipFunction)
            << "skipping" << path << ", it could not be opened:" << source.openError;
        leaveOut(source.name, QStringLiteral("it could not be opened: ") + source.openError);
        ++pack.actual;
        return true;
    }
    if (!source.file) {
        SY_CRITICAL_AT(zipFunction) << "failed to open sourceFile:" << path;
        return fail(QStringLiteral("\"%1\" could not be opened: %2").arg(path, source.openError));
    }
    // What the file was when it was opened is what is packed.
    const ISourceFile& file = *source.file;
    const qint64 size = file.size();
    CRawEntry entry(pack.archive);
    const bool zip64 = size >= (maskCredentials ? maskedZip64Threshold : zip64Threshold);
    int result = entry.open(source.name, std::time_t(file.modified()),
                            CRawEntry::unixAttributes(false, file.permissions()), zip64);
    if (result != ZIP_OK) {
        SY_CRITICAL_AT(zipFunction) << "failed to create zip target:" << pack.target << result;
        return fail(pack.writeError());
    }
    Q_EMIT entryProgress(pack.total, pack.actual, 0, size, source.fileName);
    const qint64 maskedBefore = pack.maskedCount;
    bool readFailed = false;
    if (!writeBlocks(pack, pipeline, planner, source, entry, zip64, readFailed))
        return false;
    planner.finish(index);
    if (readFailed) {
        SY_WARNING_AT(zipFunction) << path << "could not be read to its end: packed"
                                   << entry.sizeRead() << "of" << size << "bytes";
        leaveOut(
            source.name,
            QStringLiteral("a read failed; packed %1 of %2 bytes").arg(entry.sizeRead()).arg(size));
    } else if (entry.sizeRead() < size && !isAborted()) {
        SY_WARNING_AT(zipFunction) << path << "shrank while it was packed: packed"
                                   << entry.sizeRead() << "of" << size << "bytes";
    }
    if (pack.maskedCount > maskedBefore) {
        SY_DEBUG_AT(zipFunction) << "masked" << pack.maskedCount - maskedBefore << "credentials in"
                                 << path;
        Q_EMIT credentialsMasked(pack.maskedCount);
    }
    Q_EMIT zipProgress(pack.total, pack.actual, entry.sizeRead(), source.fileName);
    result = entry.close();
    if (result != ZIP_OK) {
        SY_CRITICAL_AT(zipFunction)
            << "error zipping file:" << path << result << "-" << pack.writeError();
        return fail(pack.writeError());
    }
    // The check inflates the pieces of a large entry in parallel.
    if (entry.pieces().size() > 1) {
        for (CZipperVerifier::TPiece& piece : entry.pieces()) {
            piece.entry = pack.written.size();
            pack.pieces.push_back(piece);
        }
    }
    pack.written.push_back({source.name, entry.crc(), entry.size()});
    ++pack.actual;
    return true;
}

bool CZipper::writeBlocks(TPack& pack, CDeflatePipeline& pipeline, CBlockPlanner& planner,
                          const TSource& source, CRawEntry& entry, bool zip64, bool& readFailed)
{
    const QString& path = source.filePath;
    const QString name = QString::fromUtf8(source.name);
    const qint64 size = source.file->size();
    QElapsedTimer sinceReport;
    sinceReport.start();
    qint64 lineEnds = 0;
    for (bool ended = false; !ended && !isAborted();) {
        const CDeflatePipeline::TBlock& block = pipeline.front();
        switch (block.status) {
        case CDeflatePipeline::TStatus::Compressed:
            break;
        case CDeflatePipeline::TStatus::DeflateFailed:
            SY_CRITICAL_AT(zipFunction) << "failed to write:" << name;
            return fail(QStringLiteral("\"%1\" could not be compressed").arg(path));
        case CDeflatePipeline::TStatus::ReadFailed:
            if (!skipUnreadable) {
                SY_CRITICAL_AT(zipFunction) << "failed to read:" << path;
                return fail(QStringLiteral("\"%1\" could not be read").arg(path));
            }
            // The entry ends with what was read before; its stream is ended on closing.
            readFailed = true;
            break;
        }
        if (readFailed)
            return true;
        if (!zip64 && entry.size() + block.packed > qint64(0xFFFFFFFF)) {
            SY_CRITICAL_AT(zipFunction) << "failed to write:" << name << "- masked, it grew"
                                        << "past the 4 GiB of its entry";
            return fail(QStringLiteral("\"%1\" grew too large when masked").arg(path));
        }
        QByteArray listed;
        for (const CCredentialMasker::TMasked& masked : block.masked) {
            listed += source.name;
            listed += ':';
            listed += QByteArray::number(lineEnds + masked.line);
            listed += ": ";
            listed += kindText(masked.kind);
            listed += '\n';
        }
        if (!listed.isEmpty() && !listMasked(pack, listed))
            return false;
        pack.maskedCount += block.masked.size();
        lineEnds += block.lineEnds;
        if (!entry.write(block)) {
            SY_CRITICAL_AT(zipFunction) << "failed to write:" << name << "-" << pack.writeError();
            return fail(pack.writeError());
        }
        ended = block.final;
        if (!ended && sinceReport.hasExpired(entryReportInterval)) {
            Q_EMIT entryProgress(pack.total, pack.actual, entry.sizeRead(), size, source.fileName);
            sinceReport.start();
        }
        pipeline.pop();
        if (!ended)
            planner.plan();
    }
    return true;
}

// Lists at the archive's root what was masked, so that whoever reads the logs knows which lines
// lost a value and that the user still has them whole.
bool CZipper::writeMaskedList(TPack& pack)
{
    if (!pack.maskedList)
        return true;
    QTemporaryFile& list = *pack.maskedList;
    if (!list.flush() || !list.seek(0)) {
        SY_CRITICAL_AT(zipFunction)
            << "failed to write:"
            << QStringLiteral("the list of masked values beside %1").arg(pack.target) << "-"
            << list.errorString();
        return fail(list.errorString());
    }
    const QByteArray heading = "Credentials were replaced by " + CCredentialMasker::marker +
                               " in this archive only: the user's own files were not changed.\n"
                               "Each line names an entry, the line in it and what was masked.\n";
    return writeListEntry(pack, maskedListStem, heading, list);
}

bool CZipper::listMasked(TPack& pack, const QByteArray& lines)
{
    if (!pack.maskedList) {
        const QFileInfo target(pack.target);
        pack.maskedList =
            std::make_unique<QTemporaryFile>(target.absolutePath() + QStringLiteral("/.") +
                                             target.fileName() + QStringLiteral(".masked-XXXXXX"));
    }
    QTemporaryFile& list = *pack.maskedList;
    // Unbuffered: the lines of a block come in one write, which reports its own error once a
    // short one has been given the rest again.
    bool written = list.isOpen() ||
                   static_cast<QFile&>(list).open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    for (qint64 done = 0; written && done < lines.size();) {
        const qint64 count = list.write(lines.constData() + done, lines.size() - done);
        written = count > 0;
        done += count;
    }
    if (written)
        return true;
    SY_CRITICAL_AT(zipFunction)
        << "failed to write:"
        << QStringLiteral("the list of masked values beside %1").arg(pack.target) << "-"
        << list.errorString();
    return fail(list.errorString());
}

// Lists at the archive's root the files that are not in it whole, so that support knows what
// it does not see.
bool CZipper::writeLeftOutList(TPack& pack)
{
    if (leftOutLines.isEmpty())
        return true;
    const QByteArray heading = "These files are missing from this archive or are in it only in "
                               "part. Each line names an entry and why.\n";
    QByteArray lines = leftOutLines.join('\n').toUtf8() + '\n';
    QBuffer list(&lines);
    list.open(QIODevice::ReadOnly);
    return writeListEntry(pack, leftOutListStem, heading, list);
}

void CZipper::leaveOut(const QByteArray& name, const QString& why)
{
    if (skipUnreadable)
        leftOutLines.append(QString::fromUtf8(name) + QStringLiteral(": ") + why);
}

// Writes a list of the zip's own at the archive's root, under stem + ".txt" unless a packed
// entry has that name: the user's file and the list both stay, the list under a free name.
bool CZipper::writeListEntry(TPack& pack, const QString& stem, const QByteArray& heading,
                             QIODevice& list)
{
    QSet<QByteArray> taken;
    for (const CZipperVerifier::TEntry& entry : pack.written)
        if (!entry.name.contains('/') || entry.name.indexOf('/') == entry.name.size() - 1)
            taken.insert(entry.name.endsWith('/') ? entry.name.chopped(1) : entry.name);
    QString name = stem + QStringLiteral(".txt");
    for (int number = 2; taken.contains(name.toUtf8()); ++number)
        name = QStringLiteral("%1-%2.txt").arg(stem).arg(number);
    QuaZipNewInfo info(name);
    info.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    const qint64 size = heading.size() + list.size();
    pack.archive.setZip64Enabled(size >= zip64Threshold);
    QuaZipFile file(&pack.archive);
    bool written =
        file.open(QIODevice::WriteOnly, info, nullptr, 0, Z_DEFLATED, Z_DEFAULT_COMPRESSION) &&
        file.write(heading) == heading.size();
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(heading.constData()), uInt(heading.size()));
    // In pieces: the list of a large log can be hundreds of MiB.
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    bool readFailed = false;
    while (written) {
        const qint64 count = list.read(chunk.data(), chunk.size());
        if (count <= 0) {
            readFailed = count < 0;
            break;
        }
        written = file.write(chunk.constData(), count) == count;
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(chunk.constData()), size_t(count));
    }
    file.close();
    pack.archive.setZip64Enabled(false);
    if (readFailed) {
        SY_CRITICAL_AT(zipFunction) << "failed to read:" << name << "-" << list.errorString();
        return fail(list.errorString());
    }
    if (!written || file.getZipError() != ZIP_OK) {
        SY_CRITICAL_AT(zipFunction)
            << "failed to write:" << name << file.getZipError() << "-" << pack.writeError();
        return fail(pack.writeError());
    }
    pack.written.push_back({name.toUtf8(), quint32(crc), size});
    return true;
}

// Closes the archive, makes sure every byte of it reached the disk, and reads it back.
bool CZipper::finishArchive(TPack& pack)
{
    pack.archive.close();
    if (pack.archive.getZipError() != ZIP_OK) {
        SY_CRITICAL_AT(zipFunction) << "failed to write:" << pack.target
                                    << pack.archive.getZipError() << "-" << pack.writeError();
        return fail(pack.writeError());
    }
    QString cause;
    if (!pack.archiveFile.flushWrites() || !CZipperFileSync::sync(pack.archiveFile, cause)) {
        cause = cause.isEmpty() ? pack.writeError() : cause;
        SY_CRITICAL_AT(zipFunction) << "failed to write:" << pack.target << "-" << cause;
        return fail(cause);
    }
    const std::unique_ptr<ISourceFile> written = ISourceFile::share(pack.archiveFile, cause);
    pack.archiveFile.close();
    if (!written || pack.archiveFile.error() != QFileDevice::NoError) {
        cause = written ? pack.writeError() : cause;
        SY_CRITICAL_AT(zipFunction) << "failed to write:" << pack.target << "-" << cause;
        return fail(cause);
    }

    Q_EMIT verifyStarted();
    CZipperVerifier verifier(*written, std::move(pack.written), std::move(pack.pieces), workers);
    if (!verifier.verify()) {
        const QString entry = QString::fromUtf8(verifier.failedEntry());
        SY_CRITICAL_AT(zipFunction) << "archive check failed:" << pack.target
                                    << (entry.isEmpty() ? "-" : entry) << "-" << verifier.reason();
        return fail(entry.isEmpty()
                        ? QStringLiteral("the archive did not read back as written: %1")
                              .arg(verifier.reason())
                        : QStringLiteral("entry \"%1\" did not read back as written: %2")
                              .arg(entry, verifier.reason()));
    }
    if (pack.replacement && !pack.replacement->commit(cause)) {
        SY_CRITICAL_AT(zipFunction) << "failed to write:" << pack.target << "-" << cause;
        return fail(cause);
    }
    if (isAborted()) {
        SY_CRITICAL_AT(zipFunction) << "aborting ...";
        setAborted(false);
    }
    Q_EMIT zipFinished();
    return true;
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
