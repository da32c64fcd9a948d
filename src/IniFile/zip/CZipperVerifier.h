#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <utility>
#include <vector>

class ISourceFile;

// Proves a finished archive by reading it back: its end records and central directory, every
// entry's local header against its central record, and every entry's data inflated, with its
// CRC-32 and size, against the central record and against what the writer says it wrote. An
// entry of 4 GiB or more must carry its zip64 sizes in its local header too, so that readers
// that stream the archive from its start read it. Entries are checked in parallel, the largest
// first; the archive is only read, through the open file it is given (which it does not own).
//
// An entry the writer compressed in separate pieces, one deflate stream joined from them, is
// checked piece by piece on several threads, so that one large log does not leave the other
// cores idle: each piece is inflated from an empty window and every piece but the last must end
// on a byte boundary between two deflate blocks, neither the final one. A reader that inflates
// the whole stream at once then reads the same blocks, with the same results.
class CZipperVerifier
{
public:
    struct TEntry
    {
        QByteArray name;
        quint32 crc = 0;
        qint64 size = 0;
    };

    // A piece of a written entry's data: its compressed bytes, which follow those of the
    // piece before, and the bytes they inflate to.
    struct TPiece
    {
        // The entry's index in written.
        size_t entry = 0;
        quint64 compressed = 0;
        quint64 size = 0;
    };

    // written: the entries the writer added, in their order; they are the last entries of the
    // central directory (an archive that was added to holds older ones before them, which are
    // checked against their own records). pieces: those of the entries written in more than
    // one, in the entries' order and each entry's. workers < 1 means one per processor core.
    CZipperVerifier(const ISourceFile& archive, std::vector<TEntry> written,
                    std::vector<TPiece> pieces, int workers);

    bool verify();
    // After a failed verify(): the entry's name as stored (empty when the archive's own records
    // failed) and what was wrong, in plain words.
    QByteArray failedEntry() const { return failedName; }
    QString reason() const { return failure; }

private:
    struct TRecord;
    struct TTask;
    class CWorker;
    struct TFirstFailure;

    bool readDirectory(std::vector<TRecord>& records);
    // Finds the end records and reads the central directory they point to.
    bool loadDirectory(quint64& entries);
    // The fields of one central record, in the directory, that readers act on.
    bool readRecord(const char* central, qint64 nameLength, qint64 extraLength, TRecord& entry);
    // Ties the records of the entries this zip wrote to what it wrote of them.
    bool matchWritten(std::vector<TRecord>& records);
    // The check's shares, largest first; split holds the entries checked in pieces.
    std::vector<TTask> planTasks(const std::vector<TRecord*>& byOffset,
                                 std::vector<TRecord*>& split);
    // Checks the shares on the workers' threads; inflated gets what each piece inflated to.
    void runTasks(const std::vector<TTask>& tasks, const std::vector<TRecord*>& byOffset,
                  std::vector<std::pair<quint32, quint64>>& inflated, TFirstFailure& found) const;
    bool splits(TRecord& record, quint64 regionEnd) const;
    bool fail(const QByteArray& name, const QString& reason);

    const ISourceFile& archive;
    std::vector<TEntry> written;
    std::vector<TPiece> pieces;
    int workers;
    // Where the entries' data end.
    quint64 directoryStart = 0;
    // The central directory as read back; the records' names point into it.
    QByteArray directory;
    QByteArray failedName;
    QString failure;
};
