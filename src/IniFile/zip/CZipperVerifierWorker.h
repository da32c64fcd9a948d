#pragma once

#include "IniFile/zip/CZipperVerifier.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

#include <libdeflate.h>
#include <zlib.h>

class ISourceFile;

// The fields of zip's records that the check and its workers both read.
namespace ZipFields {

constexpr quint32 localSignature = 0x04034b50;
constexpr qint64 localSize = 30;
constexpr quint16 zip64ExtraId = 0x0001;
constexpr quint32 max32 = 0xFFFFFFFFu;
// Entries are read in one piece up to this size, larger ones in pieces of it.
constexpr qint64 chunkSize = 1024 * 1024;

inline quint16 get16(const char* data)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data);
    return quint16(bytes[0] | bytes[1] << 8);
}

inline quint32 get32(const char* data)
{
    return quint32(get16(data)) | quint32(get16(data + 2)) << 16;
}

inline quint64 get64(const char* data)
{
    return quint64(get32(data)) | quint64(get32(data + 4)) << 32;
}

// The zip64 extra field of extra, or an empty one.
inline QByteArray zip64Extra(const char* extra, qint64 size)
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

} // namespace ZipFields

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

// One thread's share of the check: its own buffers and inflate states.
class CZipperVerifier::CWorker
{
public:
    explicit CWorker(const ISourceFile& archive);
    ~CWorker();
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
    bool read(qint64 offset, qint64 size, char* data) const;
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
