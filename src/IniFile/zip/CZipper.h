#pragma once

#include "IniFile/scanner/CDirIterator.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>

class CBlockPlanner;
class CDeflatePipeline;
class CRawEntry;
class QIODevice;
struct TSource;

// Packs a directory tree or a single file into a zip archive, as a new archive or added to an
// existing one, reporting entry by entry through signals. Each file is opened once and packed as
// the file that was opened, up to its size then. The archive is written, flushed and synced, then
// read back whole and checked before zip returns true. Failures are a false result, a critical
// log line, error(0) and lastError(). abort() may come from any thread; the running operation
// acts on it between steps and clears it. Also keeps a table of zip jobs (source path to
// archive path) that processZipJobs() works through. Owns its directory scanner.
class CZipper : public QObject
{
    Q_OBJECT

public:
    explicit CZipper(QObject* parent = nullptr);
    ~CZipper() override;

    // With append false, target must not exist; with append true, it must be an archive, which
    // keeps its old version, byte for byte, until the new one is whole and takes its place.
    bool zip(const QString& source, const QString& target, bool append);
    // Why the last zip failed, in a few plain words for the user (the system's words for a write
    // error, or the entry that did not read back as written); empty after a success.
    QString lastError() const { return failure; }
    // Unpacks the archive zipFile below the folder target, creating the folder when missing.
    // An archive with an entry that could land outside target is refused before anything is
    // written, and an existing file is replaced only by a whole entry (see CZipExtractor).
    bool unzip(const QString& zipFile, const QString& target);

    // What the zipper's scan lists of a folder.
    static constexpr QDir::Filters scannedEntries =
        QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::System |
        QDir::NoDotAndDotDot;

    // The entries of a folder as the caller walked it with the zipper's scan a moment ago: the
    // next zip of that folder packs them instead of walking it again.
    void useListing(CDirListing listing) { walked = std::move(listing); }

    // Threads that compress for zip: 0 (the default) means one per processor core, 1 compresses
    // on the calling thread alone.
    void setWorkerCount(int workers) { this->workers = workers; }
    int workerCount() const { return workers; }
    // Masks credentials in the text files zip packs, never in the files themselves, and lists
    // what it masked in the archive's "masked.txt" (see CCredentialMasker); proxyPassword is
    // masked too. Off unless set.
    void setCredentialMasking(bool on, const QByteArray& proxyPassword = QByteArray())
    {
        maskCredentials = on;
        this->proxyPassword = proxyPassword;
    }
    // A file that cannot be opened, or read to its end, is left out of the archive (or packed as
    // far as it could be read) with a warning, instead of failing the whole zip; the archive's
    // "left-out.txt" names each one and why, and leftOut() holds the same lines. Off unless set.
    void setSkipUnreadable(bool on) { skipUnreadable = on; }
    // After zip: "<entry>: <why>" for every file not packed whole.
    QStringList leftOut() const { return leftOutLines; }
    // Names an entry the caller meant to bring into the folder the next zip packs and could
    // not: that zip lists it first in "left-out.txt" and leftOut(), whether skipping or not.
    void noteLeftOut(const QString& entry, const QString& why)
    {
        notedLeftOut.append(entry + QStringLiteral(": ") + why);
    }

    bool isAborted() const;
    // Also resets the scanner's own flag; called with false once an abort has been handled.
    void setAborted(bool aborted);

    bool addZipJob(const QString& source, const QString& target);
    bool removeZipJob(const QString& source, const QString& target);
    void clearZipJobs();

public Q_SLOTS:
    void processZipJobs();
    void abort();

Q_SIGNALS:
    void error(quint32 errorCode);
    void jobsStarted();
    void jobsFinished();
    void zipStarted();
    void zipFinished();
    void zipProgress(quint32 total, quint32 actual, qint64 bytes, const QString& fileName);
    // zip starts packing file number actual of total entries (done 0) and, for a file larger
    // than one block, has read done of its size bytes into the archive, at most ten times a
    // second. zipProgress still follows once the file is packed.
    void entryProgress(quint32 total, quint32 actual, qint64 done, qint64 size,
                       const QString& fileName);
    void unzipStarted();
    void unzipFinished();
    void unzipProgress(quint32 total, quint32 actual, qint64 bytes, const QString& fileName);
    // zip has written the archive and starts reading it back.
    void verifyStarted();
    // zip masked credentials in the file it just packed; total counts them in the whole run.
    void credentialsMasked(qint64 total);

private:
    struct TPack;

    bool fail(const QString& cause = QString());
    bool packEntries(TPack& pack);
    bool packFolders(TPack& pack);
    // Packs the file at index of the listing, or skips it with a warning.
    bool packFile(TPack& pack, CDeflatePipeline& pipeline, CBlockPlanner& planner, qsizetype index,
                  TSource& source);
    // Writes the file's blocks to its entry as the pipeline finishes them, up to its last one or
    // an abort; readFailed when a read failed and unreadable files are skipped.
    bool writeBlocks(TPack& pack, CDeflatePipeline& pipeline, CBlockPlanner& planner,
                     const TSource& source, CRawEntry& entry, bool zip64, bool& readFailed);
    bool writeMaskedList(TPack& pack);
    bool writeLeftOutList(TPack& pack);
    // Adds lines to the list of what was masked, kept on disk until it is packed.
    bool listMasked(TPack& pack, const QByteArray& lines);
    bool writeListEntry(TPack& pack, const QString& stem, const QByteArray& heading,
                        QIODevice& list);
    // Where a file is packed only in part or not at all: logged, and listed when skipping.
    void leaveOut(const QByteArray& name, const QString& why);
    bool finishArchive(TPack& pack);

    mutable QRecursiveMutex abortLock;
    bool abortFlag;
    QMap<QString, QString> zipJobs;
    QMutex jobLock;
    CDirIterator scanner;
    CDirListing walked;
    int workers = 0;
    bool maskCredentials = false;
    QByteArray proxyPassword;
    bool skipUnreadable = false;
    QStringList leftOutLines;
    QStringList notedLeftOut;
    QString failure;
};
