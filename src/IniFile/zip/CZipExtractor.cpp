#include "IniFile/zip/CZipExtractor.h"

#include <QFile>
#include <QHash>
#include <QStorageInfo>
#include <QtEndian>

#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>
#include <quazip/unzip.h>

#include <algorithm>
#include <limits>
#include <tuple>

namespace {
constexpr quint64 maxChunkSize = 4 * 1024 * 1024;
constexpr quint16 encryptedFlag = 0x0001;
constexpr quint16 methodStored = 0;
constexpr quint16 methodDeflated = 8;
// The file type in the Unix mode that the upper half of an entry's external attributes holds.
constexpr quint32 unixTypeMask = 0170000;
constexpr quint32 unixLinkType = 0120000;
// An archive without entries is its end record alone: signature, two disk numbers, two entry
// counts, the directory's size and offset, and the comment's length, then the comment.
constexpr qint64 endRecordSize = 22;
constexpr qint64 maxCommentSize = 0xFFFF;
// Left free on the target's volume, for the system and the other programs writing there.
constexpr quint64 spaceMargin = 16 * 1024 * 1024;

quint64 saturatingAdd(quint64 a, quint64 b)
{
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max()
                                                       : a + b;
}
} // namespace

CZipExtractor::CZipExtractor(const QString& zipFile, const QString& basePath)
    : zipFile(zipFile), basePath(basePath), archive(zipFile),
      target(IExtractionTarget::open(basePath))
{}

CZipExtractor::~CZipExtractor() = default;

CZipExtractor::TStatus CZipExtractor::open()
{
    if (!archive.open(QuaZip::mdUnzip)) {
        code = archive.getZipError();
        // The library cannot open an archive that holds no entry, though it writes such ones.
        empty = isEmptyArchive(zipFile);
        if (empty)
            code = UNZ_OK;
        return empty ? TStatus::Ok : TStatus::OpenFailed;
    }
    const TStatus checked = checkEntries();
    return checked == TStatus::Ok ? checkSpace() : checked;
}

CZipExtractor::TStatus CZipExtractor::checkEntries()
{
    // Data ranges (start, end, entry index) of the entries, to find overlapping ones: a few
    // kilobytes of deflated data shared by thousands of entries would unpack to terabytes.
    std::vector<std::tuple<quint64, quint64, std::size_t>> ranges;
    // Output path to the last entry that lands there.
    QHash<QString, std::size_t> paths;
    for (bool more = archive.goToFirstFile(); more; more = archive.goToNextFile()) {
        QuaZipFileInfo64 info;
        if (!archive.getCurrentFileInfo(&info)) {
            code = archive.getZipError();
            return TStatus::OpenFailed;
        }
        // The info's name, not getCurrentFileName(): that one is cut after 256 bytes.
        name = printable(info.name);
        TEntry entry{info.name,
                     {},
                     info.name.endsWith(QLatin1Char('/')),
                     info.uncompressedSize,
                     (info.externalAttr >> 16 & unixTypeMask) == unixLinkType,
                     storedName(),
                     false};
        const QString problem = checkName(info.name, entry.components);
        if (!problem.isEmpty())
            return refuse(problem);
        const QString landing = checkLanding(entry, paths);
        if (!landing.isEmpty())
            return refuse(landing);
        // An encrypted entry opens without a password and yields its cipher text.
        if (info.flags & encryptedFlag)
            return refuse(QStringLiteral("it is encrypted"));
        if (info.method != methodStored && info.method != methodDeflated)
            return refuse(
                QStringLiteral("its compression method %1 is not supported").arg(info.method));
        if (info.compressedSize > 0) {
            QuaZipFile raw(&archive);
            int method = 0;
            int level = 0;
            if (!raw.open(QIODevice::ReadOnly, &method, &level, true)) {
                code = raw.getZipError();
                return TStatus::OpenFailed;
            }
            const quint64 start = unzGetCurrentFileZStreamPos64(archive.getUnzFile());
            ranges.emplace_back(start, start + info.compressedSize, entries.size());
        }
        entries.push_back(std::move(entry));
    }
    for (const TEntry& entry : entries) {
        if (!entry.isDirectory && !entry.superseded) {
            needed = saturatingAdd(needed, entry.declaredSize);
            bufferSize = std::max<qint64>(
                bufferSize, static_cast<qint64>(std::min(entry.declaredSize, maxChunkSize)));
        }
    }
    // A walk that ends on an error, such as an end record that counts more entries than the
    // directory holds, leaves the error code set.
    code = archive.getZipError();
    if (code != UNZ_OK)
        return TStatus::OpenFailed;
    return checkOverlaps(ranges);
}

QString CZipExtractor::checkLanding(TEntry& entry, QHash<QString, std::size_t>& paths)
{
    // An archive that was added to holds a newer version of a file under the same name later
    // on, and the last one is what the file becomes. Two names that differ only in bytes that
    // decode alike, or in "." components, are different files that would land on one path, and
    // a link or a folder is no version of a file.
    const QString path = entry.components.join(QLatin1Char('/'));
    const auto landed = paths.constFind(path);
    if (landed != paths.constEnd()) {
        TEntry& earlier = entries[landed.value()];
        const bool bothFolders = entry.isDirectory && earlier.isDirectory;
        const bool newerFile = !entry.isDirectory && !earlier.isDirectory && !entry.isLink &&
                               !earlier.isLink && !entry.storedName.isEmpty() &&
                               entry.storedName == earlier.storedName;
        if (!bothFolders && !newerFile)
            return QStringLiteral("it lands on the same path as entry %1, %2")
                .arg(landed.value() + 1)
                .arg(printable(earlier.name));
        earlier.superseded = newerFile;
    }
    paths.insert(path, entries.size());
    return QString();
}

CZipExtractor::TStatus
CZipExtractor::checkOverlaps(std::vector<std::tuple<quint64, quint64, std::size_t>>& ranges)
{
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (std::get<0>(ranges[i]) < std::get<1>(ranges[i - 1])) {
            name = printable(entries[std::get<2>(ranges[i])].name);
            return refuse(QStringLiteral("its data overlaps another entry's"));
        }
    }
    return TStatus::Ok;
}

CZipExtractor::TStatus CZipExtractor::checkSpace()
{
    needed = saturatingAdd(needed, spaceMargin);
    const QStorageInfo volume(basePath);
    // A volume that cannot be asked is left to fail on its first write.
    if (!volume.isValid() || !volume.isReady())
        return TStatus::Ok;
    available = volume.bytesAvailable();
    if (available >= 0 && needed > static_cast<quint64>(available))
        return TStatus::NoSpace;
    return TStatus::Ok;
}

int CZipExtractor::entriesCount() const
{
    return empty ? 0 : archive.getEntriesCount();
}

bool CZipExtractor::goToFirstEntry()
{
    current = 0;
    return !empty && !entries.empty() && archive.goToFirstFile();
}

bool CZipExtractor::goToNextEntry()
{
    ++current;
    return archive.goToNextFile() && current < entries.size();
}

int CZipExtractor::archiveError() const
{
    return empty ? UNZ_OK : archive.getZipError();
}

int CZipExtractor::close()
{
    if (empty)
        return UNZ_OK;
    archive.close();
    return archive.getZipError();
}

CZipExtractor::TStatus CZipExtractor::extractEntry(const std::function<bool()>& isAborted)
{
    const TEntry& entry = entries.at(current);
    name = printable(entry.name);
    output = basePath + entry.components.join(QLatin1Char('/'));
    byteCount = 0;
    code = UNZ_OK;
    reasonText.clear();
    if (entry.superseded)
        return TStatus::Ok;
    QuaZipFile entryStream(&archive);
    if (!entryStream.open(QIODevice::ReadOnly)) {
        code = entryStream.getZipError();
        return TStatus::EntryOpenFailed;
    }
    stream = entryStream.getFileName();
    if (entry.isDirectory)
        return fromTarget(target->makeDirectory(entry.components));
    QFile file;
    const TStatus created = fromTarget(target->createFile(entry.components, file));
    if (created != TStatus::Ok)
        return created;
    const TStatus copied = copy(entryStream, file, entry.declaredSize, isAborted);
    // Only a whole entry with the right CRC replaces the file: one stopped by an abort or a
    // failure is no version of it.
    if (copied != TStatus::Ok || static_cast<quint64>(byteCount) != entry.declaredSize) {
        target->discardFile(file);
        return copied;
    }
    if (target->commitFile(file) != IExtractionTarget::TResult::Done) {
        reasonText = target->errorString();
        return TStatus::WriteFailed;
    }
    return TStatus::Ok;
}

CZipExtractor::TStatus CZipExtractor::copy(QuaZipFile& entryStream, QFile& file,
                                           quint64 declaredSize,
                                           const std::function<bool()>& isAborted)
{
    // At least one byte per read, so that a header declaring no data cannot stall the loop.
    const qint64 chunkSize = static_cast<qint64>(qBound<quint64>(1, declaredSize, maxChunkSize));
    if (buffer.size() < chunkSize)
        buffer.resize(std::max(chunkSize, bufferSize));
    bool aborted = false;
    while (!entryStream.atEnd()) {
        if (isAborted()) {
            aborted = true;
            break;
        }
        const qint64 count = entryStream.read(buffer.data(), chunkSize);
        if (count < 0)
            return TStatus::ReadFailed;
        if (count == 0)
            break;
        byteCount += count;
        if (static_cast<quint64>(byteCount) > declaredSize)
            return refuse(QStringLiteral("it holds more bytes than its header declares"));
        if (file.write(buffer.constData(), count) != count)
            return TStatus::WriteFailed;
    }
    code = entryStream.getZipError();
    if (code != UNZ_OK)
        return TStatus::EntryFailed;
    if (!aborted && static_cast<quint64>(byteCount) != declaredSize)
        return refuse(QStringLiteral("it holds %1 bytes, its header declares %2")
                          .arg(byteCount)
                          .arg(declaredSize));
    // The library compares the CRC only when the entry is closed after its last byte.
    entryStream.close();
    code = entryStream.getZipError();
    if (code != UNZ_OK)
        return TStatus::EntryFailed;
    return TStatus::Ok;
}

QByteArray CZipExtractor::storedName()
{
    unz_file_info64 info = {};
    if (unzGetCurrentFileInfo64(archive.getUnzFile(), &info, nullptr, 0, nullptr, 0, nullptr, 0) !=
        UNZ_OK)
        return QByteArray();
    QByteArray stored(qsizetype(info.size_filename), Qt::Uninitialized);
    if (unzGetCurrentFileInfo64(archive.getUnzFile(), &info, stored.data(), uLong(stored.size()),
                                nullptr, 0, nullptr, 0) != UNZ_OK)
        return QByteArray();
    return stored;
}

CZipExtractor::TStatus CZipExtractor::refuse(const QString& why)
{
    reasonText = why;
    return TStatus::Refused;
}

CZipExtractor::TStatus CZipExtractor::fromTarget(IExtractionTarget::TResult result)
{
    switch (result) {
    case IExtractionTarget::TResult::Done:
        return TStatus::Ok;
    case IExtractionTarget::TResult::Refused:
        return refuse(QStringLiteral("on disk, ") + target->errorString());
    case IExtractionTarget::TResult::Failed:
        break;
    }
    reasonText = target->errorString();
    return TStatus::CreateFailed;
}

QString CZipExtractor::checkName(const QString& name, QStringList& components)
{
    if (name.isEmpty())
        return QStringLiteral("its name is empty");
    for (const QChar character : name) {
        // Qt and the system cut a name at U+0000; other control characters hide in listings.
        if (character.unicode() < 0x20 || character.unicode() == 0x7F)
            return QStringLiteral("its name holds a control character");
    }
    // A separator on other systems: "..\\x" would climb out of the target there.
    if (name.contains(QLatin1Char('\\')))
        return QStringLiteral("its name holds a backslash");
    if (name.startsWith(QLatin1Char('/')))
        return QStringLiteral("its name is absolute");
    const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            return QStringLiteral("its name holds a \"..\" component");
        if (part != QLatin1String("."))
            components.append(part);
    }
    if (components.isEmpty() && !name.endsWith(QLatin1Char('/')))
        return QStringLiteral("its name names no file");
    return QString();
}

QString CZipExtractor::printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar character : text) {
        if (character.unicode() < 0x20 || character.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(character.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += character;
    }
    return shown;
}

bool CZipExtractor::isEmptyArchive(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size < endRecordSize || size > endRecordSize + maxCommentSize)
        return false;
    const QByteArray record = file.read(endRecordSize);
    if (record.size() != endRecordSize || !record.startsWith(QByteArrayLiteral("PK\x05\x06")))
        return false;
    const uchar* fields = reinterpret_cast<const uchar*>(record.constData());
    for (int offset = 4; offset < 20; offset += 2) {
        if (qFromLittleEndian<quint16>(fields + offset) != 0)
            return false;
    }
    return qFromLittleEndian<quint16>(fields + 20) == size - endRecordSize;
}
