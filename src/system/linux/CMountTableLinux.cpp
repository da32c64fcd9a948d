#include "system/linux/CMountTableLinux.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using Mount = CMountTableLinux::TMount;
using Snapshot = CMountTableLinux::TSnapshot;

const QString liveMountInfo = QStringLiteral("/proc/self/mountinfo");

// mountinfo writes space, tab, newline and backslash as \ooo.
QString unescape(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size() && field.at(i + 1) >= '0' && field.at(i + 1) <= '3') {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QFile::decodeName(out);
}

bool isRemoteType(const QString& type)
{
    static const QStringList remoteTypes = {QStringLiteral("nfs"),
                                            QStringLiteral("nfs4"),
                                            QStringLiteral("cifs"),
                                            QStringLiteral("smb3"),
                                            QStringLiteral("smbfs"),
                                            QStringLiteral("ncpfs"),
                                            QStringLiteral("9p"),
                                            QStringLiteral("ceph"),
                                            QStringLiteral("glusterfs"),
                                            QStringLiteral("afs"),
                                            QStringLiteral("coda"),
                                            QStringLiteral("lustre"),
                                            QStringLiteral("gpfs"),
                                            QStringLiteral("beegfs"),
                                            QStringLiteral("orangefs"),
                                            QStringLiteral("davfs"),
                                            QStringLiteral("fuse.sshfs"),
                                            QStringLiteral("fuse.rclone"),
                                            QStringLiteral("fuse.s3fs"),
                                            QStringLiteral("fuse.gcsfuse"),
                                            QStringLiteral("fuse.glusterfs"),
                                            QStringLiteral("fuse.ceph-fuse"),
                                            QStringLiteral("fuse.cephfs"),
                                            QStringLiteral("fuse.curlftpfs"),
                                            QStringLiteral("fuse.smbnetfs"),
                                            QStringLiteral("fuse.davfs2")};
    return remoteTypes.contains(type);
}

QByteArray readSysfs(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// The kind of a mount whose file system lives on a block device; unknown for any other.
FSDriveType blockDeviceKind(const Mount& mount)
{
    unsigned int major = mount.major;
    unsigned int minor = mount.minor;
    QString device = QStringLiteral("/sys/dev/block/%1:%2").arg(major).arg(minor);
    // Btrfs and others report an anonymous device number; their source names the device.
    if (!QFile::exists(device)) {
        struct stat status = {};
        if (!mount.source.startsWith(QLatin1String("/dev/")) ||
            ::stat(QFile::encodeName(mount.source).constData(), &status) != 0 ||
            !S_ISBLK(status.st_mode))
            return DRIVE_UNKNOWN;
        major = ::major(status.st_rdev);
        minor = ::minor(status.st_rdev);
        device = QStringLiteral("/sys/dev/block/%1:%2").arg(major).arg(minor);
    }
    QString disk = QDir(device).canonicalPath();
    if (disk.isEmpty())
        return DRIVE_UNKNOWN;
    if (QFile::exists(disk + QLatin1String("/partition")))
        disk = CMountTableLinux::parentOf(disk);
    const QString diskName = disk.mid(disk.lastIndexOf(QLatin1Char('/')) + 1);
    const bool optical =
        diskName.startsWith(QLatin1String("sr")) || diskName.startsWith(QLatin1String("scd"));
    if (optical && (mount.type == QLatin1String("iso9660") || mount.type == QLatin1String("udf")))
        return DRIVE_CDROM;
    if (readSysfs(disk + QLatin1String("/removable")) == "1" ||
        disk.contains(QLatin1String("/usb")))
        return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

FSDriveType kindOf(const Mount& mount)
{
    if (mount.type == QLatin1String("tmpfs") || mount.type == QLatin1String("ramfs"))
        return DRIVE_RAMDISK;
    if (isRemoteType(mount.type))
        return DRIVE_REMOTE;
    const FSDriveType kind = blockDeviceKind(mount);
    // Other FUSE file systems and unknown types are remote when their source names a server.
    return kind == DRIVE_UNKNOWN && CMountTableLinux::isNetworkSource(mount.source) ? DRIVE_REMOTE
                                                                                    : kind;
}

// Works out which mount a lookup reaches at every mount point: the one attached to the visible
// mount of the nearest parent mount point, and above it whatever was mounted on top of it.
// Mounts below others or under a mount that hides their parent folder are left out.
void findVisibleMounts(Snapshot& snapshot)
{
    QHash<QString, QList<qsizetype>> atPoint;
    for (qsizetype i = 0; i < snapshot.mounts.size(); ++i)
        atPoint[snapshot.mounts.at(i).mountPoint].append(i);
    QStringList points = atPoint.keys();
    std::sort(points.begin(), points.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const QString& point : std::as_const(points)) {
        const QList<qsizetype>& candidates = atPoint.value(point);
        const Mount* below = point == QLatin1String("/")
                                 ? nullptr
                                 : snapshot.visibleMountFor(CMountTableLinux::parentOf(point));
        std::optional<qsizetype> top;
        for (qsizetype index : candidates) {
            const Mount& mount = snapshot.mounts.at(index);
            const bool attached =
                below ? mount.parentId == below->id
                      : !snapshot.byId.contains(mount.parentId) || mount.parentId == mount.id;
            if (attached) {
                top = index;
                break;
            }
        }
        if (!top)
            continue;
        for (bool climbed = true; climbed;) {
            climbed = false;
            for (qsizetype index : candidates) {
                if (snapshot.mounts.at(index).parentId == snapshot.mounts.at(*top).id &&
                    index != *top) {
                    top = index;
                    climbed = true;
                    break;
                }
            }
        }
        snapshot.visibleAt.insert(point, *top);
        if (snapshot.mounts.at(*top).kind == DRIVE_REMOTE)
            snapshot.hasRemote = true;
    }
}

} // namespace

QString CMountTableLinux::parentOf(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'), end - 1);
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

bool CMountTableLinux::isNetworkSource(const QString& source)
{
    if (source.startsWith(QLatin1String("//")))
        return true;
    const qsizetype colon = source.indexOf(QLatin1String(":/"));
    return colon > 0 && !source.left(colon).contains(QLatin1Char('/'));
}

const Mount* CMountTableLinux::TSnapshot::visibleMountFor(QString canonicalPath) const
{
    for (;;) {
        const auto found = visibleAt.constFind(canonicalPath);
        if (found != visibleAt.cend())
            return &mounts.at(found.value());
        if (canonicalPath == QLatin1String("/") || !canonicalPath.startsWith(QLatin1Char('/')))
            return nullptr;
        canonicalPath = parentOf(canonicalPath);
    }
}

std::optional<Mount> CMountTableLinux::parseLine(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split(' ');
    const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"), 6);
    if (fields.size() < 10 || separator < 0 || separator + 2 >= fields.size())
        return std::nullopt;
    Mount mount;
    bool idOk = false;
    bool parentOk = false;
    mount.id = fields.at(0).toInt(&idOk);
    mount.parentId = fields.at(1).toInt(&parentOk);
    const QList<QByteArray> device = fields.at(2).split(':');
    bool majorOk = false;
    bool minorOk = false;
    if (device.size() == 2) {
        mount.major = device.at(0).toUInt(&majorOk);
        mount.minor = device.at(1).toUInt(&minorOk);
    }
    mount.mountPoint = unescape(fields.at(4));
    mount.type = unescape(fields.at(separator + 1));
    mount.source = unescape(fields.at(separator + 2));
    if (!idOk || !parentOk || !majorOk || !minorOk ||
        !mount.mountPoint.startsWith(QLatin1Char('/')))
        return std::nullopt;
    if (mount.mountPoint.size() > 1 && mount.mountPoint.endsWith(QLatin1Char('/')))
        mount.mountPoint.chop(1);
    return mount;
}

CMountTableLinux& CMountTableLinux::instance()
{
    static CMountTableLinux table;
    return table;
}

CMountTableLinux::CMountTableLinux() : path(liveMountInfo) {}

std::shared_ptr<const Snapshot> CMountTableLinux::current(bool force, int& error,
                                                          QStringList& badLines)
{
    const QMutexLocker locker(&mutex);
    if (snapshot && !force && isLive() && !changed())
        return snapshot;
    QByteArray content;
    error = read(content);
    if (error != 0) {
        snapshot.reset();
        return nullptr;
    }
    auto next = std::make_shared<Snapshot>();
    for (const QByteArray& line : content.split('\n')) {
        if (line.isEmpty())
            continue;
        std::optional<Mount> mount = parseLine(line);
        if (!mount) {
            badLines.append(QString::fromUtf8(line));
            continue;
        }
        mount->kind = kindOf(*mount);
        next->byId.insert(mount->id, next->mounts.size());
        next->mounts.append(std::move(*mount));
    }
    findVisibleMounts(*next);
    for (qsizetype index : std::as_const(next->visibleAt)) {
        const Mount& mount = next->mounts.at(index);
        if (!drives.contains(mount.mountPoint))
            drives.insert(mount.mountPoint, mount.source);
    }
    snapshot = std::move(next);
    return snapshot;
}

QMap<QString, QString> CMountTableLinux::table() const
{
    const QMutexLocker locker(&mutex);
    return drives;
}

void CMountTableLinux::setPath(const QString& newPath)
{
    const QMutexLocker locker(&mutex);
    path = newPath.isEmpty() ? liveMountInfo : newPath;
    liveSource.store(path == liveMountInfo);
    live.reset();
    snapshot.reset();
    drives.clear();
}

bool CMountTableLinux::changed()
{
    pollfd watch = {live.get(), POLLPRI, 0};
    if (::poll(&watch, 1, 0) < 0)
        return true;
    return (watch.revents & (POLLPRI | POLLERR)) != 0;
}

int CMountTableLinux::read(QByteArray& content)
{
    CUniqueDescriptorLinux once;
    CUniqueDescriptorLinux* source = isLive() ? &live : &once;
    if (source->get() < 0) {
        *source = CUniqueDescriptorLinux(
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
        if (source->get() < 0)
            return errno;
    }
    if (::lseek(source->get(), 0, SEEK_SET) < 0)
        return errno;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(source->get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        if (count == 0)
            return 0;
        content.append(buffer, count);
    }
}
