#include "IniFile/zip/CZipperVerifier.h"

#include "IniFile/zip/CZipperVerifierWorker.h"
#include "IniFile/zip/ISourceFile.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <zlib.h>

namespace {

using namespace ZipFields;

const quint32 endSignature = 0x06054b50;
const quint32 zip64EndSignature = 0x06064b50;
const quint32 zip64LocatorSignature = 0x07064b50;
const quint32 centralSignature = 0x02014b50;
const qint64 endSize = 22;
const qint64 zip64LocatorSize = 20;
const qint64 zip64EndSize = 56;
const qint64 centralSize = 46;
const quint16 max16 = 0xFFFF;
// Version 4.5 of the format, the newest Info-ZIP's unzip 6.0 extracts.
const quint16 maxVersionNeeded = 45;
const quint16 unixHost = 3;

} // namespace

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
