#pragma once

#include "system/FSVolumeTypes.h"
#include "system/linux/CUniqueDescriptorLinux.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

// The process-wide drive table and the mount table it is read from. Each reading of the table
// is a snapshot that callers share; the table keeps the newest one, and the open mount table
// whose change notification says when to read again. It logs nothing: the lines it cannot
// read go back to the caller, whose query the log names.
class CMountTableLinux
{
public:
    // One line of the mount table.
    struct TMount
    {
        int id = -1;
        int parentId = -1;
        unsigned int major = 0;
        unsigned int minor = 0;
        // Without a trailing "/", except for "/" itself.
        QString mountPoint;
        QString type;
        QString source;
        FSDriveType kind = DRIVE_UNKNOWN;
    };

    // One reading of the mount table. Immutable once built, except for the labels found so far.
    struct TSnapshot
    {
        QList<TMount> mounts;
        QHash<int, qsizetype> byId;
        // Mount point -> the mount a lookup of that path reaches.
        QHash<QString, qsizetype> visibleAt;
        bool hasRemote = false;

        mutable QMutex labelMutex;
        mutable QHash<int, QString> labels;

        const TMount* visibleMountFor(QString canonicalPath) const;
        // The visible mount whose mount point path names, with or without a trailing "/".
        const TMount* mountAt(const QString& path) const
        {
            const auto found = visibleAt.constFind(
                path.size() > 1 && path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path);
            return found == visibleAt.cend() ? nullptr : &mounts.at(found.value());
        }
    };

    static CMountTableLinux& instance();

    // The mounts now, read again when the kernel reports a change (a file other than the
    // live table: every time) or when forced. Null, with error set, when it cannot be read.
    std::shared_ptr<const TSnapshot> current(bool force, int& error, QStringList& badLines);
    QMap<QString, QString> table() const;
    bool isLive() const { return liveSource.load(); }
    void setPath(const QString& newPath);

    // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue": id,
    // parent, device, root, mount point, options, optional fields up to "-", type, source,
    // super options.
    static std::optional<TMount> parseLine(const QByteArray& line);

    // The folder that holds path: "/" for a name in the root, "." for a bare name.
    static QString parentOf(const QString& path);
    // "//server/share" or "server:/export": a source that names a server.
    static bool isNetworkSource(const QString& source);

private:
    CMountTableLinux();

    // The kernel flags an open mount table with POLLPRI once mounts change after it was
    // opened or last polled.
    bool changed();
    int read(QByteArray& content);

    mutable QMutex mutex;
    QString path;
    std::atomic<bool> liveSource{true};
    // Kept open: the change notification belongs to the open file.
    CUniqueDescriptorLinux live;
    std::shared_ptr<const TSnapshot> snapshot;
    QMap<QString, QString> drives;
};
