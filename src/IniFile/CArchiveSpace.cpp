#include "IniFile/CArchiveSpace.h"

#include "IniFile/ISourceFile.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <memory>

#include <zlib.h>

namespace {

// A stored entry's own records with zip64 fields: local header, data descriptor and central
// directory header with their extras, each naming the entry once.
constexpr quint64 recordsPerEntry = 30 + 20 + 24 + 46 + 28;
// The end records of a zip64 archive.
constexpr quint64 endRecords = 56 + 20 + 22;
// Logs further in may compress worse than the first MiB.
constexpr double estimateMargin = 1.25;
// Data that does not compress is stored in deflate blocks of at most 64 KiB with 5 bytes of
// header each, and the zipper's 4 MiB blocks add a few bytes more.
constexpr quint64 storedOverheadDivisor = 4096;

} // namespace

CArchiveSpace::CArchiveSpace(const QString& folder) : folder(folder)
{
    QDirIterator entries(folder,
                         QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    recordBytes = endRecords;
    while (entries.hasNext()) {
        entries.next();
        const QFileInfo info = entries.fileInfo();
        const quint64 nameBytes = 2 * (info.filePath().toUtf8().size() - folder.toUtf8().size());
        recordBytes += recordsPerEntry + nameBytes;
        ++entryCount;
        if (info.isFile() && !info.isSymLink())
            dataBytes += static_cast<quint64>(info.size());
    }
    dataBound = dataBytes + dataBytes / storedOverheadDivisor + 16 * quint64(entryCount);
    bound = dataBound + recordBytes;
}

quint64 CArchiveSpace::estimate()
{
    if (estimated >= 0)
        return static_cast<quint64>(estimated);
    estimated = static_cast<qint64>(bound);
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return bound;
    const std::unique_ptr<char[]> input(new char[sampleSize]);
    const uLong outputSize = deflateBound(&stream, sampleSize);
    const std::unique_ptr<Bytef[]> output(new Bytef[outputSize]);
    // Each file is deflated on its own, as the zipper packs it.
    qint64 read = 0;
    quint64 deflated = 0;
    bool sound = true;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (sound && read < sampleSize && files.hasNext()) {
        // Opened as the zipper opens a file: what is no longer a regular file is not read.
        ISourceFile::TOpen opened = ISourceFile::TOpen::Failed;
        QString error;
        const std::unique_ptr<ISourceFile> file =
            ISourceFile::open(QFile::encodeName(files.next()), opened, error);
        if (!file)
            continue;
        const qint64 got = std::max<qint64>(file->readAt(input.get(), sampleSize - read, 0), 0);
        stream.next_in = reinterpret_cast<Bytef*>(input.get());
        stream.avail_in = static_cast<uInt>(got);
        stream.next_out = output.get();
        stream.avail_out = static_cast<uInt>(outputSize);
        sound = deflate(&stream, Z_FINISH) == Z_STREAM_END;
        deflated += stream.total_out;
        read += got;
        deflateReset(&stream);
    }
    deflateEnd(&stream);
    // Without a sample (no data, or none readable) the data is taken as it stands.
    if (!sound || read == 0)
        return bound;
    const double ratio = estimateMargin * static_cast<double>(deflated) / static_cast<double>(read);
    estimated = static_cast<qint64>(
        std::min(static_cast<double>(dataBound), static_cast<double>(dataBytes) * ratio) +
        static_cast<double>(recordBytes));
    return static_cast<quint64>(estimated);
}

bool CArchiveSpace::fitsInto(quint64 available)
{
    return available >= bound || available >= estimate();
}
