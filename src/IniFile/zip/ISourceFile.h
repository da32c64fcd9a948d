#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

class QFileDevice;

// A file opened once for reading blocks at given offsets; several threads may read one file at
// once. Every read goes to the file that was opened, whatever happens to its name afterwards.
// Opening never blocks: what is not a regular file (a FIFO, a socket, a device) is refused
// without being read. Each platform provides the two ways to get one.
class ISourceFile
{
public:
    enum class TOpen
    {
        Opened,
        Failed,
        NotRegular,
        // Nothing of that name any more.
        Missing,
    };

    virtual ~ISourceFile() = default;

    // path is the file's name as the file system spells it. When nothing is returned, result
    // says why and error holds the system's words for it.
    static std::unique_ptr<ISourceFile> open(const QByteArray& path, TOpen& result, QString& error);
    // The file that file has open, opened anew without naming it again, its cached pages
    // dropped: after a sync, what is read is what the storage holds, not what the program handed
    // over, so that a disk or network file system that stored other bytes is caught. Nothing
    // when the system refuses (error says why).
    static std::unique_ptr<ISourceFile> share(const QFileDevice& file, QString& error);

    // Reads up to size bytes at offset into data, fewer only at the end of the file; -1 when
    // the system reports a read error.
    virtual qint64 readAt(char* data, qint64 size, qint64 offset) const = 0;
    // Asks the system to start reading size bytes at offset in the background, so that a later
    // readAt of them does not wait for the storage. Only a hint: it may do nothing.
    virtual void prefetch(qint64 offset, qint64 size) const = 0;
    // Seen when the file was opened: its size, the last change in seconds since the epoch, and
    // the permission bits in their Unix spelling.
    virtual qint64 size() const = 0;
    virtual qint64 modified() const = 0;
    virtual quint32 permissions() const = 0;
};
