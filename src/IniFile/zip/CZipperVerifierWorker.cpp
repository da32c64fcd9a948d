#include "IniFile/zip/CZipperVerifierWorker.h"

#include "IniFile/zip/CDeflatePipeline.h"
#include "IniFile/zip/ISourceFile.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace ZipFields;

const quint32 descriptorSignature = 0x08074b50;
const quint16 descriptorFlag = 0x0008;

const qint64 outputSize = 256 * 1024;

// Entries up to the size the writer compresses in one piece are inflated in one piece too, when
// their data are no longer than stored blocks would make them; others are inflated as a stream.
// A thread then holds at most about 17.3 MiB (the largest such entry, its data when they exceed
// what was read with its header, and the 1.25 MiB it streams with): N threads stay within the
// compressing pipeline's bound, whose buffers are freed before the check begins.
const quint64 wholeSize = quint64(CDeflatePipeline::wholeSize);
const quint64 wholeCompressed = wholeSize + wholeSize / 256;

} // namespace

CZipperVerifier::CWorker::CWorker(const ISourceFile& archive)
    : archive(archive), input(new char[chunkSize]), output(new char[outputSize]),
      decompressor(libdeflate_alloc_decompressor())
{
    ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
}

CZipperVerifier::CWorker::~CWorker()
{
    if (ready)
        inflateEnd(&stream);
    libdeflate_free_decompressor(decompressor);
}

bool CZipperVerifier::CWorker::read(qint64 offset, qint64 size, char* data) const
{
    return archive.readAt(data, size, offset) == size;
}

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
