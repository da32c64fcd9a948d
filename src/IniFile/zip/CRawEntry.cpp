#include "IniFile/zip/CRawEntry.h"

#include "IniFile/zip/CArchiveFile.h"

#include <QString>

#include <algorithm>
#include <climits>

#include <quazip/quazip.h>
#include <quazip/zip.h>

namespace {

const uLong utf8NameFlag = 0x800;
// Version 3.0 of the format, the one the entries' fields follow.
const uLong formatVersion = 30;

bool isAscii(const QByteArray& name)
{
    return std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; });
}

bool isUtf8(const QByteArray& name)
{
    return QString::fromUtf8(name).toUtf8() == name;
}

// The entry's local time, within the range a DOS date can hold: a log from a clock that
// started at 1970 gets the earliest date, not one that readers decode as month 15 of 2107.
tm_zip dosDate(std::time_t modified)
{
    // localtime_r reads the time zone once; QDateTime sets it again for every conversion,
    // which costs a look at the zone file for every entry.
    std::tm local = {};
    localtime_r(&modified, &local);
    tm_zip date = {};
    if (local.tm_year + 1900 < 1980) {
        date.tm_year = 1980;
        date.tm_mday = 1;
    } else if (local.tm_year + 1900 > 2107) {
        date = {58, 59, 23, 31, 11, 2107};
    } else {
        date = {uInt(local.tm_sec),  uInt(local.tm_min), uInt(local.tm_hour),
                uInt(local.tm_mday), uInt(local.tm_mon), uInt(local.tm_year + 1900)};
    }
    return date;
}

// The extended time stamp (0x5455) with the true modification time in UTC, for the readers
// that restore it (Info-ZIP's unzip, bsdtar). Its 32 signed bits end in 2038; a later time is
// left to the DOS date.
QByteArray timestampField(std::time_t modified)
{
    if (modified < std::time_t(INT32_MIN) || modified > std::time_t(INT32_MAX))
        return QByteArray();
    const quint32 seconds = quint32(qint32(modified));
    const char field[] = {0x55,
                          0x54,
                          5,
                          0,
                          1,
                          char(seconds & 0xFF),
                          char((seconds >> 8) & 0xFF),
                          char((seconds >> 16) & 0xFF),
                          char(seconds >> 24)};
    return QByteArray(field, sizeof field);
}

} // namespace

quint32 CRawEntry::unixAttributes(bool isDirectory, quint32 permissions)
{
    const quint32 mode = (permissions & 0777u) | (isDirectory ? 0700u : 0400u);
    return ((isDirectory ? 0040000u : 0100000u) | mode) << 16;
}

int CRawEntry::open(const QByteArray& name, std::time_t modified, quint32 attributes, bool zip64)
{
    zip_fileinfo fileInfo = {};
    fileInfo.tmz_date = dosDate(modified);
    const QByteArray extra = timestampField(modified);
    fileInfo.external_fa = attributes;
    // The UTF-8 flag goes on each entry whose name needs it. QuaZip's archive-wide UTF-8
    // mode would mark every entry as needing version 6.3 of the format, and Info-ZIP's
    // unzip 6.0 then refuses the entries of 4 GiB or more. A name that is not UTF-8 is
    // stored as it is, without the flag.
    const uLong flags = isAscii(name) || !isUtf8(name) ? 0 : utf8NameFlag;
    headerOffset = archive.getIoDevice()->pos();
    withZip64 = zip64;
    int result = zipOpenNewFileInZip4_64(
        archive.getZipFile(), name.constData(), &fileInfo, extra.constData(), uInt(extra.size()),
        extra.constData(), uInt(extra.size()), nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1,
        -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
        (uLong(archive.getOsCode()) << 8) | formatVersion, flags, zip64 ? 1 : 0);
    isOpen = result == ZIP_OK;
    // The library asks for version 6.3 in the local header of a UTF-8 name but writes the
    // version it needs into the central record; readers that compare the two, or refuse
    // 6.3, get the same version in both.
    auto* file = static_cast<CArchiveFile*>(archive.getIoDevice());
    if (isOpen && !file->rewrite16(headerOffset + 4, zip64 ? 45 : 20))
        result = ZIP_ERRNO;
    return result;
}

bool CRawEntry::write(const CDeflatePipeline::TBlock& block)
{
    if (block.size > 0 &&
        zipWriteInFileInZip(archive.getZipFile(), block.data, unsigned(block.size)) != ZIP_OK)
        return false;
    compressed += block.size;
    if (block.size > 0)
        writtenPieces.push_back({0, quint64(block.size), quint64(block.packed)});
    checksum =
        bytes == 0 ? block.crc : quint32(crc32_combine(checksum, block.crc, z_off_t(block.packed)));
    bytes += block.packed;
    bytesRead += block.length;
    ended = block.final;
    return true;
}

int CRawEntry::close()
{
    if (!isOpen)
        return ZIP_OK;
    isOpen = false;
    // A copy stopped early ends its deflate stream here.
    const QByteArray end = CDeflatePipeline::streamEnd();
    int result =
        ended ? ZIP_OK
              : zipWriteInFileInZip(archive.getZipFile(), end.constData(), unsigned(end.size()));
    compressed += ended ? 0 : end.size();
    if (!ended)
        writtenPieces.push_back({0, quint64(end.size()), 0});
    const int closed = zipCloseFileInZipRaw64(archive.getZipFile(), ZPOS64_T(bytes), checksum);
    // The central record asks for version 4.5 only of an entry that came out at 4 GiB or
    // more, or lies past 4 GiB; one opened with zip64 sizes that stayed below has its local
    // header ask for the same version as the central record.
    const qint64 max32 = 0xFFFFFFFF;
    const bool large = bytes >= max32 || compressed >= max32 || headerOffset >= max32;
    auto* file = static_cast<CArchiveFile*>(archive.getIoDevice());
    if (closed == ZIP_OK && withZip64 && !large && !file->rewrite16(headerOffset + 4, 20))
        result = ZIP_ERRNO;
    return result != ZIP_OK ? result : closed;
}
