#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <memory>

// A file opened for reading blocks at given offsets; several threads may read one file at once.
// Opening never blocks: what is not a regular file (a FIFO, a socket, a device) is refused
// without being read. Each platform provides open().
class ISourceFile
{
public:
    enum class TOpen
    {
        Opened,
        Failed,
        NotRegular,
    };

    virtual ~ISourceFile() = default;

    // path is the file's name as the file system spells it.
    static std::unique_ptr<ISourceFile> open(const QByteArray& path, TOpen& result);

    // Reads up to size bytes at offset into data, fewer only at the end of the file; -1 when
    // the system reports a read error.
    virtual qint64 readAt(char* data, qint64 size, qint64 offset) const = 0;
    // Seen when the file was opened: the last change in seconds since the epoch, and the
    // permission bits in their Unix spelling.
    virtual qint64 modified() const = 0;
    virtual quint32 permissions() const = 0;
};
