#pragma once

#include <QByteArray>
#include <QtGlobal>

class QFileDevice;

// What tells one version of a file from another: the file itself (device and inode), its size
// and its last modification and status change, to the nanosecond. Two equal stamps taken
// around a read mean nothing was written to the file in between; the status change also moves
// when the modification time is set back by hand.
struct CFileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modified = 0;
    qint64 changed = 0;

    bool operator==(const CFileStamp& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified == other.modified && changed == other.changed;
    }
    bool operator!=(const CFileStamp& other) const { return !(*this == other); }

    // Of the regular file at path, its name as the file system spells it (a link is not
    // followed); false when there is no regular file of that name.
    [[nodiscard]] static bool of(const QByteArray& path, CFileStamp& stamp);
    // Of the regular file that file has open.
    [[nodiscard]] static bool of(const QFileDevice& file, CFileStamp& stamp);
};
