#include "IniFile/zip/CZipperVerifier.h"

#include "IniFile/zip/CDeflatePipeline.h"
#include "IniFile/zip/ISourceFile.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <libdeflate.h>
#include <zlib.h>

namespace {

const quint32 endSignature = 0x06054b50;
const quint32 zip64EndSignature = 0x06064b50;
const quint32 zip64LocatorSignature = 0x07064b50;
const quint32 centralSignature = 0x02014b50;
const quint32 localSignature = 0x04034b50;
const quint32 descriptorSignature = 0x08074b50;
const qint64 endSize = 22;
const qint64 zip64LocatorSize = 20;
const qint64 zip64EndSize = 56;
const qint64 centralSize = 46;
const qint64 localSize = 30;
const quint16 zip64ExtraId = 0x0001;
const quint32 max32 = 0xFFFFFFFFu;
const quint16 max16 = 0xFFFF;
// Version 4.5 of the format, the newest Info-ZIP's unzip 6.0 extracts.
const quint16 maxVersionNeeded = 45;
const quint16 unixHost = 3;
const quint16 descriptorFlag = 0x0008;
// Entries are read in one piece up to this size, larger ones in pieces of it.
const qint64 chunkSize = 1024 * 1024;
const qint64 outputSize = 256 * 1024;
// Entries up to the size the writer compresses in one piece are inflated in one piece too, when
// their data are no longer than stored blocks would make them; others are inflated as a stream.
// A thread then holds at most about 17.3 MiB (the largest such entry, its data when they exceed
// what was read with its header, and the 1.25 MiB it streams with): N threads stay within the
// compressing pipeline's bound, whose buffers are freed before the check begins.
const quint64 wholeSize = quint64(CDeflatePipeline::wholeSize);
const quint64 wholeCompressed = wholeSize + wholeSize / 256;

quint16 get16(const char* data)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data);
    return quint16(bytes[0] | bytes[1] << 8);
}

quint32 get32(const char* data)
{
    return quint32(get16(data)) | quint32(get16(data + 2)) << 16;
}

quint64 get64(const char* data)
{
    return quint64(get32(data)) | quint64(get32(data + 4)) << 32;
}

// The zip64 extra field of extra, or an empty one.
QByteArray zip64Extra(const char* extra, qint64 size)
{
    for (qint64 at = 0; at + 4 <= size;) {
        const quint16 id = get16(extra + at);
        const qint64 length = get16(extra + at + 2);
        if (at + 4 + length > size)
            break;
        if (id == zip64ExtraId)
            return QByteArray(extra + at + 4, length);
        at += 4 + length;
    }
    return QByteArray();
}

} // namespace

struct CZipperVerifier::TRecord
{
    // A view into the central directory: a copy each would cost hundreds of thousands of
    // allocations on a large folder.
    QByteArray name;
    quint16 flags = 0;
    quint16 method = 0;
    quint32 dosTime = 0;
    quint16 versionNeeded = 0;
    quint32 crc = 0;
    quint64 compressed = 0;
    quint64 size = 0;
    quint64 offset = 0;
    // The writer's own account of the entry, when it wrote it, and the pieces it wrote the
    // data in when they are checked one by one from dataStart on.
    const TEntry* written = nullptr;
    const TPiece* pieces = nullptr;
    size_t pieceCount = 0;
    quint64 dataStart = 0;
};

// A share of the check: a run of entries whose headers and data lie together (count of them
// from first in the order of their data), or one piece of a split entry's data.
struct CZipperVerifier::TTask
{
    size_t first = 0;
    size_t count = 0;
    quint64 start = 0;
    quint64 end = 0;
    size_t piece = 0;
};

// One thread's share of the check: its own buffers and inflate states.
class CZipperVerifier::CWorker
{
public:
    explicit CWorker(const ISourceFile& archive)
        : archive(archive), input(new char[chunkSize]), output(new char[outputSize]),
          decompressor(libdeflate_alloc_decompressor())
    {
        ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    }
    ~CWorker()
    {
        if (ready)
            inflateEnd(&stream);
        libdeflate_free_decompressor(decompressor);
    }
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;

    // Checks the entries (in the order of their data) whose headers and data make up the part
    // of the archive from start to end: read at once when it fits the buffer, else piece by
    // piece (then it is one entry). Empty when every entry is what its records say; otherwise
    // what is wrong with the entry at failedAt.
    QString checkRegion(const TRecord* const* entries, size_t count, quint64 start, quint64 end,
                        size_t& failedAt);
    // Inflates the piece of a split entry's data that lies from start to end from an empty
    // window: the piece that ends the entry must end its stream there, any other must stop on a
    // byte boundary before a block's header, having read no final block.
    QString checkPiece(quint64 start, quint64 end, bool last, quint32& crc, quint64& size);
    // Empty when the entry's data inflated to what its records say.
    static QString compare(const TRecord& record, quint32 crc, quint64 size);

private:
    bool read(qint64 offset, qint64 size, char* data) const
    {
        return archive.readAt(data, size, offset) == size;
    }
    // header starts the entry's region of the archive, of which available bytes are at hand.
    QString check(const TRecord& record, const char* header, qint64 region, qint64 available);
    QString checkData(const TRecord& record, const char* next, qint64 buffered, qint64 position);
    QString inflateWhole(const TRecord& record, const char* next, qint64 buffered, qint64 position);
    // Inflates the next available bytes of a stream, adding what comes out to crc and size.
    // flush Z_BLOCK stops at each block's end, where zlib then says it is.
    QString inflateMore(const char* next, qint64 available, quint32& crc, quint64& size,
                        bool& ended, int flush = Z_NO_FLUSH);
    // Grows buffer to hold at least size bytes; its content is not kept.
    static char* reserve(std::unique_ptr<char[]>& buffer, quint64& capacity, quint64 size);

    const ISourceFile& archive;
    std::unique_ptr<char[]> input;
    std::unique_ptr<char[]> output;
    z_stream stream = {};
    bool ready = false;
    libdeflate_decompressor* const decompressor;
    // An entry inflated in one piece, and its data when they did not come with its header.
    std::unique_ptr<char[]> whole;
    quint64 wholeCapacity = 0;
    std::unique_ptr<char[]> wholeInput;
    quint64 wholeInputCapacity = 0;
};

QString CZipperVerifier::CWorker::checkRegion(const TRecord* const* entries, size_t count,
                                              quint64 start, quint64 end, size_t& failedAt)
{
    const qint64 span = qint64(end - start);
    const qint64 first = qMin(span, chunkSize);
    if (!read(qint64(start), first, input.get())) {
        failedAt = 0;
        return QStringLiteral("the archive could not be read");
    }
    for (size_t i = 0; i < count; ++i) {
        const TRecord& record = *entries[i];
        const quint64 regionEnd = i + 1 < count ? entries[i + 1]->offset : end;
        const qint64 at = qint64(record.offset - start);
        const QString reason =
            check(record, input.get() + at, qint64(regionEnd - record.offset), first - at);
        if (!reason.isEmpty()) {
            failedAt = i;
            return reason;
        }
    }
    return QString();
}

QString CZipperVerifier::CWorker::check(const TRecord& record, const char* header, qint64 region,
                                        qint64 available)
{
    available = qMin(available, region);
    const QString mismatch =
        QStringLiteral("its local header does not match the central directory");
    if (available < localSize || get32(header) != localSignature)
        return mismatch;
    const qint64 nameLength = get16(header + 26);
    const qint64 extraLength = get16(header + 28);
    const qint64 dataStart = localSize + nameLength + extraLength;
    if (dataStart > available ||
        QByteArray::fromRawData(header + localSize, nameLength) != record.name ||
        get16(header + 4) != record.versionNeeded || get16(header + 6) != record.flags ||
        get16(header + 8) != record.method || get32(header + 10) != record.dosTime)
        return mismatch;
    // Streaming readers compare a CRC-32 the local header holds before its data descriptor.
    if ((record.flags & descriptorFlag) && get32(header + 14) != 0 &&
        get32(header + 14) != record.crc)
        return QStringLiteral("its local sizes or CRC-32 differ from the central directory");
    const QByteArray zip64 = zip64Extra(header + localSize + nameLength, extraLength);
    const bool large = record.size >= max32 || record.compressed >= max32;
    if (large && zip64.size() < 16)
        return QStringLiteral("its local header lacks the zip64 sizes of a large entry");
    if (quint64(dataStart) + record.compressed > quint64(region))
        return QStringLiteral("its data run into the next entry");
    const qint64 dataEndAt = dataStart + qint64(record.compressed);
    quint32 crc = get32(header + 14);
    quint64 compressed = get32(header + 18);
    quint64 size = get32(header + 22);
    if (record.flags & descriptorFlag) {
        // Sizes follow the data, in eight bytes each when the local header has zip64 sizes.
        const qint64 sizeBytes = zip64.isEmpty() ? 4 : 8;
        char descriptor[24];
        const qint64 descriptorSize = qMin(region - dataEndAt, 4 + 4 + 2 * sizeBytes);
        // A small entry's descriptor came with its header and data.
        if (dataEndAt + descriptorSize <= available)
            std::memcpy(descriptor, header + dataEndAt, size_t(descriptorSize));
        else if (!read(qint64(record.offset) + dataEndAt, descriptorSize, descriptor))
            return QStringLiteral("the archive could not be read");
        const qint64 skip = descriptorSize >= 4 && get32(descriptor) == descriptorSignature ? 4 : 0;
        if (descriptorSize < skip + 4 + 2 * sizeBytes)
            return QStringLiteral("its data descriptor is missing");
        crc = get32(descriptor + skip);
        compressed = sizeBytes == 8 ? get64(descriptor + skip + 4) : get32(descriptor + skip + 4);
        size = sizeBytes == 8 ? get64(descriptor + skip + 12) : get32(descriptor + skip + 8);
    } else if (zip64.size() >= 16) {
        size = get64(zip64.constData());
        compressed = get64(zip64.constData() + 8);
    }
    if (crc != record.crc || compressed != record.compressed || size != record.size)
        return QStringLiteral("its local sizes or CRC-32 differ from the central directory");
    if (record.pieceCount > 0)
        return QString();
    return checkData(record, header + dataStart, available - dataStart,
                     qint64(record.offset) + dataStart);
}

// Inflates the entry's data, of which the first buffered bytes are already at next and the
// rest follow in the archive at position + buffered, and compares what comes out with the
// records.
QString CZipperVerifier::CWorker::checkData(const TRecord& record, const char* next,
                                            qint64 buffered, qint64 position)
{
    const bool deflated = record.method == Z_DEFLATED;
    if (deflated && decompressor && record.size <= wholeSize &&
        record.compressed <= wholeCompressed)
        return inflateWhole(record, next, buffered, position);
    if ((!deflated && record.method != 0) || (deflated && !ready) ||
        (deflated && inflateReset(&stream) != Z_OK))
        return QStringLiteral("its data cannot be read back");
    qint64 available = qMin<qint64>(buffered, qint64(record.compressed));
    position += available;
    quint64 remaining = record.compressed - quint64(available);
    quint32 crc = 0;
    quint64 size = 0;
    bool ended = false;
    for (;;) {
        if (!deflated) {
            crc = quint32(libdeflate_crc32(crc, next, size_t(available)));
            size += quint64(available);
        } else {
            const QString reason = inflateMore(next, available, crc, size, ended);
            if (!reason.isEmpty())
                return reason;
        }
        if (remaining == 0)
            break;
        available = qint64(qMin<quint64>(remaining, quint64(chunkSize)));
        if (!read(position, available, input.get()))
            return QStringLiteral("the archive could not be read");
        next = input.get();
        position += available;
        remaining -= quint64(available);
    }
    if (deflated && !ended)
        return QStringLiteral("its deflate stream is cut short");
    return compare(record, crc, size);
}

QString CZipperVerifier::CWorker::inflateMore(const char* next, qint64 available, quint32& crc,
                                              quint64& size, bool& ended, int flush)
{
    if (ended && available > 0)
        return QStringLiteral("its deflate stream ends before its data do");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next));
    stream.avail_in = uInt(available);
    while (!ended) {
        stream.next_out = reinterpret_cast<Bytef*>(output.get());
        stream.avail_out = uInt(outputSize);
        const int result = inflate(&stream, flush);
        const qint64 produced = outputSize - qint64(stream.avail_out);
        crc = quint32(libdeflate_crc32(crc, output.get(), size_t(produced)));
        size += quint64(produced);
        ended = result == Z_STREAM_END;
        // Z_BUF_ERROR: nothing more can be done with the input given so far.
        if (!ended && result != Z_OK && !(result == Z_BUF_ERROR && stream.avail_in == 0))
            return QStringLiteral("its data do not inflate");
        // At a block's end nothing is left to write: another call without input would only
        // move on to reading the next header, and data_type would no longer say where it is.
        if (stream.avail_in == 0 && (stream.avail_out > 0 || (stream.data_type & 128) != 0))
            break;
    }
    if (ended && stream.avail_in > 0)
        return QStringLiteral("its deflate stream ends before its data do");
    return QString();
}

QString CZipperVerifier::CWorker::checkPiece(quint64 start, quint64 end, bool last, quint32& crc,
                                             quint64& size)
{
    if (!ready || inflateReset(&stream) != Z_OK)
        return QStringLiteral("its data cannot be read back");
    crc = 0;
    size = 0;
    bool ended = false;
    for (quint64 at = start; at < end;) {
        const qint64 available = qint64(qMin<quint64>(end - at, quint64(chunkSize)));
        if (!read(qint64(at), available, input.get()))
            return QStringLiteral("the archive could not be read");
        at += quint64(available);
        const QString reason =
            inflateMore(input.get(), available, crc, size, ended, last ? Z_NO_FLUSH : Z_BLOCK);
        if (!reason.isEmpty())
            return reason;
    }
    if (last && !ended)
        return QStringLiteral("its deflate stream is cut short");
    if (!last && ended)
        return QStringLiteral("its deflate stream ends before its data do");
    // Between blocks, on a byte boundary, after no final block: zlib's own account of where
    // the input left it.
    if (!last && stream.data_type != 128)
        return QStringLiteral("its pieces do not join into one deflate stream");
    return QString();
}

// Inflates a deflated entry in one call: its stream must end exactly where its compressed size
// says and give exactly its size, which the output buffer is cut to.
QString CZipperVerifier::CWorker::inflateWhole(const TRecord& record, const char* next,
                                               qint64 buffered, qint64 position)
{
    const quint64 available = quint64(buffered);
    if (available < record.compressed) {
        char* data = reserve(wholeInput, wholeInputCapacity, record.compressed);
        std::memcpy(data, next, size_t(available));
        const qint64 rest = qint64(record.compressed - available);
        if (!read(position + qint64(available), rest, data + available))
            return QStringLiteral("the archive could not be read");
        next = data;
    }
    char* out = reserve(whole, wholeCapacity, record.size);
    size_t consumed = 0;
    size_t produced = 0;
    const libdeflate_result result =
        libdeflate_deflate_decompress_ex(decompressor, next, size_t(record.compressed), out,
                                         size_t(record.size), &consumed, &produced);
    if (result == LIBDEFLATE_BAD_DATA)
        return QStringLiteral("its data do not inflate");
    // More data than its size: the zlib path inflates them all and then finds the size wrong.
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE)
        return QStringLiteral("its data differ from its CRC-32 or size");
    if (result != LIBDEFLATE_SUCCESS)
        return QStringLiteral("its data cannot be read back");
    if (consumed != record.compressed)
        return QStringLiteral("its deflate stream ends before its data do");
    return compare(record, quint32(libdeflate_crc32(0, out, produced)), quint64(produced));
}

QString CZipperVerifier::CWorker::compare(const TRecord& record, quint32 crc, quint64 size)
{
    if (crc != record.crc || size != record.size)
        return QStringLiteral("its data differ from its CRC-32 or size");
    if (record.written &&
        (record.written->crc != record.crc || qint64(record.size) != record.written->size))
        return QStringLiteral("it differs from what was written");
    return QString();
}

char* CZipperVerifier::CWorker::reserve(std::unique_ptr<char[]>& buffer, quint64& capacity,
                                        quint64 size)
{
    if (capacity < size || !buffer) {
        // Runs are checked largest first, so the buffers seldom grow more than once.
        capacity = qMax<quint64>(size, quint64(outputSize));
        buffer.reset(new char[size_t(capacity)]);
    }
    return buffer.get();
}

CZipperVerifier::CZipperVerifier(const ISourceFile& archive, std::vector<TEntry> written,
                                 std::vector<TPiece> pieces, int workers)
    : archive(archive), written(std::move(written)), pieces(std::move(pieces)),
      workers(workers < 1 ? qMax(1, QThread::idealThreadCount()) : workers)
{}

bool CZipperVerifier::fail(const QByteArray& name, const QString& reason)
{
    // A name may be a view into the central directory, which goes with the check.
    failedName = QByteArray(name.constData(), name.size());
    failure = reason;
    return false;
}

bool CZipperVerifier::loadDirectory(quint64& entries)
{
    const QString unreadable = QStringLiteral("its central directory does not read back");
    const qint64 fileSize = archive.size();
    const qint64 tailSize = qMin<qint64>(fileSize, endSize + max16);
    QByteArray tail(tailSize, Qt::Uninitialized);
    if (tailSize < endSize ||
        archive.readAt(tail.data(), tailSize, fileSize - tailSize) != tailSize)
        return fail(QByteArray(), unreadable);
    qint64 end = -1;
    for (qint64 at = tailSize - endSize; at >= 0 && end < 0; --at) {
        if (get32(tail.constData() + at) == endSignature &&
            at + endSize + get16(tail.constData() + at + 20) == tailSize)
            end = at;
    }
    if (end < 0)
        return fail(QByteArray(), unreadable);
    const char* record = tail.constData() + end;
    // One disk: this one, holding every entry.
    if (get16(record + 4) != 0 || get16(record + 6) != 0 || get16(record + 8) != get16(record + 10))
        return fail(QByteArray(), QStringLiteral("its end record names another disk"));
    entries = get16(record + 10);
    quint64 directorySize = get32(record + 12);
    quint64 directoryOffset = get32(record + 16);
    quint64 directoryEnd = quint64(fileSize - tailSize + end);
    char locator[zip64LocatorSize];
    const bool located =
        (entries == max16 || directorySize == max32 || directoryOffset == max32) &&
        directoryEnd >= quint64(zip64LocatorSize) &&
        archive.readAt(locator, zip64LocatorSize, qint64(directoryEnd) - zip64LocatorSize) ==
            zip64LocatorSize &&
        get32(locator) == zip64LocatorSignature;
    // Exactly 65,535 entries fit the end record itself: the writer then leaves out the zip64
    // records, and every common reader takes the count as it stands.
    if (!located && (directorySize == max32 || directoryOffset == max32))
        return fail(QByteArray(), unreadable);
    if (located) {
        char zip64End[zip64EndSize];
        directoryEnd = get64(locator + 8);
        if (archive.readAt(zip64End, zip64EndSize, qint64(directoryEnd)) != zip64EndSize ||
            get32(zip64End) != zip64EndSignature)
            return fail(QByteArray(), unreadable);
        entries = get64(zip64End + 32);
        directorySize = get64(zip64End + 40);
        directoryOffset = get64(zip64End + 48);
    }
    if (directoryOffset + directorySize != directoryEnd)
        return fail(QByteArray(), unreadable);
    directoryStart = directoryOffset;
    directory = QByteArray(qsizetype(directorySize), Qt::Uninitialized);
    if (archive.readAt(directory.data(), qint64(directorySize), qint64(directoryOffset)) !=
        qint64(directorySize))
        return fail(QByteArray(), unreadable);
    return true;
}

bool CZipperVerifier::readRecord(const char* central, qint64 nameLength, qint64 extraLength,
                                 TRecord& entry)
{
    entry.name = QByteArray::fromRawData(central + centralSize, nameLength);
    entry.flags = get16(central + 8);
    entry.method = get16(central + 10);
    entry.dosTime = get32(central + 12);
    entry.crc = get32(central + 16);
    entry.compressed = get32(central + 20);
    entry.size = get32(central + 24);
    entry.offset = get32(central + 42);
    entry.versionNeeded = get16(central + 6);
    // Fields the writer never varies, but readers act on: another disk makes 7-Zip refuse
    // the data, a version above 4.5 makes Info-ZIP's unzip 6.0 skip the entry, and a Unix
    // file type other than the entry's makes unzip extract a log as a link.
    if (get16(central + 34) != 0)
        return fail(entry.name, QStringLiteral("its central record names another disk"));
    if (entry.versionNeeded > maxVersionNeeded)
        return fail(entry.name, QStringLiteral("it asks for a newer version of the format"));
    const quint32 type = (get32(central + 38) >> 16) & 0170000u;
    if (get16(central + 4) >> 8 == unixHost && type != 0 &&
        type != (entry.name.endsWith('/') ? 0040000u : 0100000u))
        return fail(entry.name, QStringLiteral("its file type is not that of its entry"));
    // The zip64 field holds, in this order, each value that did not fit its field.
    const QByteArray zip64 = zip64Extra(central + centralSize + nameLength, extraLength);
    qint64 field = 0;
    for (quint64* value : {&entry.size, &entry.compressed, &entry.offset}) {
        if (*value != max32)
            continue;
        if (zip64.size() < field + 8)
            return fail(entry.name, QStringLiteral("its zip64 record is missing"));
        *value = get64(zip64.constData() + field);
        field += 8;
    }
    return true;
}

bool CZipperVerifier::readDirectory(std::vector<TRecord>& records)
{
    const QString unreadable = QStringLiteral("its central directory does not read back");
    quint64 entries = 0;
    if (!loadDirectory(entries))
        return false;
    const quint64 directorySize = quint64(directory.size());
    // A count the directory cannot hold is caught below, without reserving for it.
    records.reserve(size_t(qMin<quint64>(entries, directorySize / centralSize)));
    const char* data = directory.constData();
    for (quint64 at = 0; at < directorySize;) {
        if (directorySize - at < quint64(centralSize) || get32(data + at) != centralSignature)
            return fail(QByteArray(), unreadable);
        const char* central = data + at;
        const qint64 nameLength = get16(central + 28);
        const qint64 extraLength = get16(central + 30);
        const qint64 commentLength = get16(central + 32);
        const quint64 length = quint64(centralSize + nameLength + extraLength + commentLength);
        if (directorySize - at < length)
            return fail(QByteArray(), unreadable);
        records.emplace_back();
        if (!readRecord(central, nameLength, extraLength, records.back()))
            return false;
        at += length;
    }
    if (records.size() != entries || records.size() < written.size())
        return fail(QByteArray(), unreadable);
    return matchWritten(records);
}

bool CZipperVerifier::matchWritten(std::vector<TRecord>& records)
{
    const size_t first = records.size() - written.size();
    for (size_t i = 0; i < written.size(); ++i) {
        TRecord& entry = records[first + i];
        if (entry.name != written[i].name)
            return fail(written[i].name,
                        QStringLiteral("it is missing from the central directory"));
        entry.written = &written[i];
    }
    for (size_t i = 0; i < pieces.size();) {
        size_t end = i + 1;
        while (end < pieces.size() && pieces[end].entry == pieces[i].entry)
            ++end;
        if (pieces[i].entry < written.size() && end - i > 1) {
            TRecord& entry = records[first + pieces[i].entry];
            entry.pieces = &pieces[i];
            entry.pieceCount = end - i;
        }
        i = end;
    }
    for (TRecord& entry : records) {
        if (entry.offset >= directoryStart)
            return fail(entry.name, QStringLiteral("its local header lies outside the archive"));
    }
    return true;
}

// Whether the entry's data can be checked in the pieces the writer gives: they make up its
// data exactly, each has bytes, and its local header says where the data start.
bool CZipperVerifier::splits(TRecord& record, quint64 regionEnd) const
{
    if (record.pieceCount == 0 || record.method != Z_DEFLATED)
        return false;
    quint64 compressed = 0;
    quint64 size = 0;
    for (size_t i = 0; i < record.pieceCount; ++i) {
        if (record.pieces[i].compressed == 0)
            return false;
        compressed += record.pieces[i].compressed;
        size += record.pieces[i].size;
    }
    char header[localSize];
    if (compressed != record.compressed || size != record.size ||
        archive.readAt(header, localSize, qint64(record.offset)) != localSize ||
        get32(header) != localSignature)
        return false;
    record.dataStart = record.offset + quint64(localSize + get16(header + 26) + get16(header + 28));
    return record.dataStart + compressed <= regionEnd;
}

// The first bad entry in the archive, of those the check's threads found.
struct CZipperVerifier::TFirstFailure
{
    std::atomic<bool> failed{false};
    std::mutex lock;
    const TRecord* record = nullptr;
    QString reason;

    void note(const TRecord* at, const QString& why)
    {
        const std::lock_guard<std::mutex> locker(lock);
        failed = true;
        if (!record || at->offset < record->offset) {
            record = at;
            reason = why;
        }
    }
};

bool CZipperVerifier::verify()
{
    std::vector<TRecord> records;
    if (!readDirectory(records))
        return false;
    std::vector<TRecord*> byOffset;
    byOffset.reserve(records.size());
    for (TRecord& record : records)
        byOffset.push_back(&record);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const TRecord* a, const TRecord* b) { return a->offset < b->offset; });
    std::vector<TRecord*> split;
    const std::vector<TTask> tasks = planTasks(byOffset, split);
    // What each piece inflated to.
    std::vector<std::pair<quint32, quint64>> inflated(pieces.size());
    TFirstFailure found;
    runTasks(tasks, byOffset, inflated, found);
    for (const TRecord* record : split) {
        if (found.failed)
            break;
        const size_t first = size_t(record->pieces - pieces.data());
        quint32 crc = inflated[first].first;
        quint64 size = inflated[first].second;
        for (size_t piece = first + 1; piece < first + record->pieceCount; ++piece) {
            crc =
                quint32(crc32_combine(crc, inflated[piece].first, z_off_t(inflated[piece].second)));
            size += inflated[piece].second;
        }
        const QString reason = CWorker::compare(*record, crc, size);
        if (!reason.isEmpty())
            found.note(record, reason);
    }
    if (found.record)
        return fail(found.record->name, found.reason);
    return true;
}

// Entries follow one another: each one's header, data and descriptor run to the next one's
// header, the last one's to the central directory. Runs of small entries are read at once; the
// largest shares go first, so that no thread is left with a large one at the end. A split
// entry's header is a share of its own, and so is each of its pieces.
std::vector<CZipperVerifier::TTask>
CZipperVerifier::planTasks(const std::vector<TRecord*>& byOffset, std::vector<TRecord*>& split)
{
    const auto regionEnd = [&](size_t i) {
        return i + 1 < byOffset.size() ? byOffset[i + 1]->offset : directoryStart;
    };
    std::vector<TTask> tasks;
    for (size_t i = 0; i < byOffset.size(); ++i) {
        TRecord& record = *byOffset[i];
        if (!splits(record, regionEnd(i))) {
            record.pieceCount = 0;
            continue;
        }
        split.push_back(&record);
        quint64 at = record.dataStart;
        for (size_t piece = 0; piece < record.pieceCount; ++piece) {
            const quint64 end = at + record.pieces[piece].compressed;
            tasks.push_back({i, 0, at, end, size_t(record.pieces + piece - pieces.data())});
            at = end;
        }
    }
    for (size_t i = 0; i < byOffset.size();) {
        TTask run{i, 1, byOffset[i]->offset, regionEnd(i)};
        while (byOffset[run.first]->pieceCount == 0 && run.first + run.count < byOffset.size() &&
               byOffset[run.first + run.count]->pieceCount == 0 &&
               regionEnd(run.first + run.count) - run.start <= quint64(chunkSize)) {
            run.end = regionEnd(run.first + run.count);
            ++run.count;
        }
        tasks.push_back(run);
        i += run.count;
    }
    std::stable_sort(tasks.begin(), tasks.end(), [](const TTask& a, const TTask& b) {
        return a.end - a.start > b.end - b.start;
    });
    return tasks;
}

void CZipperVerifier::runTasks(const std::vector<TTask>& tasks,
                               const std::vector<TRecord*>& byOffset,
                               std::vector<std::pair<quint32, quint64>>& inflated,
                               TFirstFailure& found) const
{
    std::atomic<size_t> next(0);
    const auto work = [&] {
        CWorker worker(archive);
        for (size_t taken = next++; taken < tasks.size() && !found.failed; taken = next++) {
            const TTask& task = tasks[taken];
            size_t failedAt = 0;
            QString reason;
            if (task.count > 0) {
                reason = worker.checkRegion(byOffset.data() + task.first, task.count, task.start,
                                            task.end, failedAt);
            } else {
                const TRecord& record = *byOffset[task.first];
                const bool last =
                    task.piece + 1 == size_t(record.pieces - pieces.data()) + record.pieceCount;
                auto& [crc, size] = inflated[task.piece];
                reason = worker.checkPiece(task.start, task.end, last, crc, size);
            }
            if (!reason.isEmpty())
                found.note(byOffset[task.first + failedAt], reason);
        }
    };
    std::vector<std::thread> threads;
    const int count = int(qMin<size_t>(size_t(workers), tasks.size()));
    for (int i = 1; i < count; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& thread : threads)
        thread.join();
}
