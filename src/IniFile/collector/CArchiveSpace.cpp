#include "IniFile/collector/CArchiveSpace.h"

#include "IniFile/scanner/CDirIterator.h"
#include "IniFile/zip/CZipper.h"
#include "IniFile/zip/ISourceFile.h"

#include <sys/stat.h>

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
    // The entries the zipper packs; only regular files hold data.
    CDirIterator scanner(folder, CZipper::scannedEntries, QDirIterator::Subdirectories, nullptr,
                         QString(), 0);
    scanner.dirIterate(listing, true, false);
    measure();
}

void CArchiveSpace::addMade(const QByteArray& path, qint64 size)
{
    listing.addMade(path, S_IFREG, size);
    measure();
}

CSystemReport::TTally CArchiveSpace::tally(const QByteArray& under) const
{
    CSystemReport::TTally tally;
    for (const CDirListing::TEntry& entry : listing.files())
        if (S_ISREG(entry.mode) && listing.pathView(entry).startsWith(under)) {
            ++tally.files;
            tally.bytes += entry.size;
        }
    return tally;
}

void CArchiveSpace::measure()
{
    recordBytes = endRecords;
    entryCount = 0;
    files.clear();
    dataBytes = 0;
    for (const std::vector<CDirListing::TEntry>* kind : {&listing.dirs(), &listing.files()})
        for (const CDirListing::TEntry& entry : *kind) {
            recordBytes += recordsPerEntry + 2 * (quint64(entry.pathSize) + 1);
            ++entryCount;
        }
    for (size_t index = 0; index < listing.files().size(); ++index) {
        const qint64 size = listing.files()[index].size;
        if (size > 0) {
            files.push_back({index, dataBytes});
            dataBytes += quint64(size);
        }
    }
    dataBound = dataBytes + dataBytes / storedOverheadDivisor + 16 * quint64(entryCount);
    bound = dataBound + recordBytes;
}

quint64 CArchiveSpace::estimate()
{
    if (estimated >= 0)
        return static_cast<quint64>(estimated);
    estimated = static_cast<qint64>(bound);
    // Each sample stands for an equal share of the data, wherever it falls: a large log weighs
    // as much as its size, however many small files come before it.
    const qint64 length = sampleSize / samples;
    const quint64 share = dataBytes / samples;
    double expected = 0;
    qint64 readInAll = 0;
    for (int index = 0; index < samples && share > 0; ++index) {
        qint64 read = 0;
        quint64 deflated = 0;
        if (!sample(quint64(index) * share, length, read, deflated))
            return bound;
        if (read > 0)
            expected += static_cast<double>(share) * static_cast<double>(deflated) /
                        static_cast<double>(read);
        else
            expected += static_cast<double>(share);
        readInAll += read;
    }
    // Without a sample (no data, or none readable) the data is taken as it stands.
    if (readInAll == 0)
        return bound;
    expected += static_cast<double>(dataBytes - share * samples);
    estimated =
        static_cast<qint64>(std::min(static_cast<double>(dataBound), estimateMargin * expected) +
                            static_cast<double>(recordBytes));
    return static_cast<quint64>(estimated);
}

bool CArchiveSpace::sample(quint64 offset, qint64 length, qint64& read, quint64& deflated)
{
    auto file = std::upper_bound(files.cbegin(), files.cend(), offset,
                                 [](quint64 at, const TFile& f) { return at < f.start; });
    if (file == files.cbegin())
        return true;
    --file;
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    const uLong outputSize = deflateBound(&stream, uLong(length));
    const std::unique_ptr<char[]> input(new char[size_t(length)]);
    const std::unique_ptr<Bytef[]> output(new Bytef[outputSize]);
    bool sound = true;
    // A sample that reaches the end of a small file goes on into the next ones, so that it
    // weighs data, not files; each piece is deflated on its own, as the zipper packs it.
    for (qint64 at = qint64(offset - file->start); sound && read < length && file != files.cend();
         ++file, at = 0) {
        // Opened as the zipper opens a file: what is no longer a regular file is not read.
        ISourceFile::TOpen opened = ISourceFile::TOpen::Failed;
        QString error;
        const std::unique_ptr<ISourceFile> source =
            ISourceFile::open(listing.filePath(listing.files()[file->entry]), opened, error);
        if (!source)
            continue;
        const qint64 got = std::max<qint64>(source->readAt(input.get(), length - read, at), 0);
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
    return sound;
}

CDirListing CArchiveSpace::takeListing()
{
    if (estimated < 0)
        estimated = qint64(bound);
    files.clear();
    return std::move(listing);
}

bool CArchiveSpace::fitsInto(quint64 available)
{
    return available >= bound || available >= estimate();
}
