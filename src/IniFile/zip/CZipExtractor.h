#pragma once

#include "IniFile/zip/IExtractionTarget.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <quazip/quazip.h>

#include <functional>
#include <memory>
#include <tuple>
#include <vector>

class QFile;
class QuaZipFile;

// Unpacks the entries of one zip archive below a target folder, one entry per call, so that
// the caller can report progress and stop between entries.
//
// open() checks every entry before anything is written and refuses the whole archive when one
// entry could reach outside the target (an absolute name, a ".." component, a backslash, a
// control character), is encrypted, is compressed other than stored or deflated, has data
// that overlaps another entry's, or would land on the same path as another entry other than a
// newer version of a file (a later file entry of the same stored name, which is the one
// unpacked: an archive that was added to holds such ones); and when
// the sizes the entries declare do not fit into the free space of the target's volume, less a
// margin. While unpacking, a symbolic link found on disk below the
// target is never followed, and an entry stored as a symbolic link is written as a plain file
// that holds the link's target text. Each file is written under a temporary name beside its own
// and takes its name, replacing what held it, only once it is whole, its CRC right and synced:
// an entry that fails (a full disk, a byte count or CRC other than its header declares) or is
// stopped by an abort leaves the existing file as it was, and a kill leaves it whole.
//
// The extractor owns the archive reader and the target folder; results of the last step are
// read through the accessors.
class CZipExtractor
{
public:
    enum class TStatus
    {
        Ok,
        // The archive could not be opened or read: errorCode().
        OpenFailed,
        // An entry is not unpacked, for reason().
        Refused,
        // The entry's stream could not be opened: errorCode().
        EntryOpenFailed,
        // The output folder or file could not be created: reason().
        CreateFailed,
        ReadFailed,
        WriteFailed,
        // The library reported an error for the entry, a CRC mismatch included: errorCode().
        EntryFailed,
        // The entries declare more than the target's volume has free: neededBytes() and
        // availableBytes().
        NoSpace,
    };

    // basePath is the target folder, ending with "/".
    CZipExtractor(const QString& zipFile, const QString& basePath);
    ~CZipExtractor();
    CZipExtractor(const CZipExtractor&) = delete;
    CZipExtractor& operator=(const CZipExtractor&) = delete;

    [[nodiscard]] TStatus open();
    // The number of entries the archive declares.
    int entriesCount() const;
    bool goToFirstEntry();
    bool goToNextEntry();
    // Unpacks the current entry; isAborted is asked before each chunk, and an aborted entry
    // is dropped.
    [[nodiscard]] TStatus extractEntry(const std::function<bool()>& isAborted);
    // The archive's error code, non-zero when walking the entries stopped on an error.
    int archiveError() const;
    // Closes the archive and returns its error code.
    int close();

    int errorCode() const { return code; }
    QString reason() const { return reasonText; }
    // The current entry's stored name, control characters shown as \xNN.
    QString entryName() const { return name; }
    // The base path followed by the entry's name, without a trailing "/".
    QString outputPath() const { return output; }
    // The entry stream's own file name, which is empty for a stream on the current entry.
    QString streamName() const { return stream; }
    // Bytes read from the current entry.
    qint64 bytes() const { return byteCount; }
    // What the entries declare in all, with the margin kept free, and what the volume has.
    quint64 neededBytes() const { return needed; }
    qint64 availableBytes() const { return available; }

private:
    struct TEntry
    {
        QString name;
        QStringList components;
        bool isDirectory;
        quint64 declaredSize;
        bool isLink;
        // The name as stored, byte for byte.
        QByteArray storedName;
        // A later entry holds a newer version of this file.
        bool superseded;
    };

    TStatus checkEntries();
    // Why the entry cannot be extracted to its path, empty when it can; notes where it lands.
    QString checkLanding(TEntry& entry, QHash<QString, std::size_t>& paths);
    // Refuses an archive where two entries share data, given as (start, end, entry index).
    TStatus checkOverlaps(std::vector<std::tuple<quint64, quint64, std::size_t>>& ranges);
    TStatus checkSpace();
    // The current entry's name as stored; empty when it cannot be read.
    QByteArray storedName();
    TStatus refuse(const QString& why);
    TStatus fromTarget(IExtractionTarget::TResult result);
    TStatus copy(QuaZipFile& entryStream, QFile& file, quint64 declaredSize,
                 const std::function<bool()>& isAborted);
    static QString printable(const QString& text);
    static QString checkName(const QString& name, QStringList& components);
    static bool isEmptyArchive(const QString& path);

    QString zipFile;
    QString basePath;
    QuaZip archive;
    std::unique_ptr<IExtractionTarget> target;
    std::vector<TEntry> entries;
    std::size_t current = 0;
    bool empty = false;
    int code = 0;
    QString reasonText;
    QString name;
    QString output;
    QString stream;
    qint64 byteCount = 0;
    quint64 needed = 0;
    qint64 available = -1;
    // One read and write buffer for all entries, as large as the largest entry needs.
    QByteArray buffer;
    qint64 bufferSize = 1;
};
