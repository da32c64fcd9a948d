#include "system/linux/CFSVolumeInformationLinux.h"

#include "diagnostics/CLogRecord.h"
#include "system/CFSVolumeInformation.h"
#include "system/linux/CUniqueDescriptorLinux.h"
#include "threading/threads/CCallStack.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStorageInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QString liveMountInfo = QStringLiteral("/proc/self/mountinfo");
// The kernel's limit on symbolic links followed in one lookup.
constexpr int maxSymbolicLinks = 40;

std::atomic<int> remoteTimeoutMs{5000};

struct Mount
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

QString rootOf(const Mount& mount)
{
    return mount.mountPoint.endsWith(QLatin1Char('/')) ? mount.mountPoint
                                                       : mount.mountPoint + QLatin1Char('/');
}

// One reading of the mount table. Immutable once built, except for the labels found so far.
struct Snapshot
{
    QList<Mount> mounts;
    QHash<int, qsizetype> byId;
    // Mount point -> the mount a lookup of that path reaches.
    QHash<QString, qsizetype> visibleAt;
    bool hasRemote = false;

    mutable QMutex labelMutex;
    mutable QHash<int, QString> labels;

    const Mount* visibleMountFor(QString canonicalPath) const;
    // The visible mount whose mount point path names, with or without a trailing "/".
    const Mount* mountAt(const QString& path) const
    {
        const auto found = visibleAt.constFind(
            path.size() > 1 && path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path);
        return found == visibleAt.cend() ? nullptr : &mounts.at(found.value());
    }
};

QString parentOf(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'), end - 1);
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

const Mount* Snapshot::visibleMountFor(QString canonicalPath) const
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

bool isNetworkSource(const QString& source)
{
    if (source.startsWith(QLatin1String("//")))
        return true;
    const qsizetype colon = source.indexOf(QLatin1String(":/"));
    return colon > 0 && !source.left(colon).contains(QLatin1Char('/'));
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
        disk = parentOf(disk);
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
    return kind == DRIVE_UNKNOWN && isNetworkSource(mount.source) ? DRIVE_REMOTE : kind;
}

// "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue": id, parent,
// device, root, mount point, options, optional fields up to "-", type, source, super options.
std::optional<Mount> parseLine(const QByteArray& line)
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
        const Mount* below =
            point == QLatin1String("/") ? nullptr : snapshot.visibleMountFor(parentOf(point));
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

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineFromNow()
{
    return Clock::now() + std::chrono::milliseconds(remoteTimeoutMs.load());
}

// The threads that make the calls which may wait for a server that never answers. Such a call
// cannot be interrupted, so its thread cannot be joined: helpers are detached, reused, and
// hand results over through shared state (standard primitives, like the threads). There are
// at most maxHelpers of them, and each mount has at most one of them working for it at a
// time: a dead server holds one helper however often it is asked, and the callers queued
// behind it give up at their deadline. An idle helper ends after idleExpiry.
class Helpers
{
public:
    static constexpr int maxHelpers = 4;

    // Never destroyed: a helper blocked in a call may outlive main().
    static Helpers& instance()
    {
        static Helpers* const helpers = new Helpers;
        return *helpers;
    }

    // Runs work for the mount with the id key and waits for it until deadline; null when the
    // deadline came first.
    template<typename Result>
    std::optional<Result> run(int key, Clock::time_point deadline, std::function<Result()> work)
    {
        const auto result = std::make_shared<std::optional<Result>>();
        const auto task = std::make_shared<Task>();
        task->key = key;
        task->work = [result, work = std::move(work)] { result->emplace(work()); };
        std::unique_lock<std::mutex> locker(mutex);
        queue.push_back(task);
        if (helpers < maxHelpers && startableKeys() > idle)
            start();
        wake.notify_all();
        finished.wait_until(locker, deadline, [&task] { return task->done; });
        if (!task->done) {
            queue.erase(std::remove(queue.begin(), queue.end(), task), queue.end());
            return std::nullopt;
        }
        return std::move(*result);
    }

private:
    struct Task
    {
        int key = -1;
        std::function<void()> work;
        bool done = false;
    };

    static constexpr std::chrono::seconds idleExpiry{10};

    Helpers() = default;

    // Mounts with queued work and no helper working for them.
    int startableKeys() const
    {
        std::set<int> keys;
        for (const auto& task : queue) {
            if (busy.count(task->key) == 0)
                keys.insert(task->key);
        }
        return int(keys.size());
    }

    void start()
    {
        try {
            std::thread([this] { serve(); }).detach();
            ++helpers;
        } catch (const std::system_error&) {
            // The task waits for a helper that is running, until its deadline.
        }
    }

    void serve()
    {
        std::unique_lock<std::mutex> locker(mutex);
        for (;;) {
            const auto next = std::find_if(queue.begin(), queue.end(), [this](const auto& task) {
                return busy.count(task->key) == 0;
            });
            if (next == queue.end()) {
                ++idle;
                const bool woken =
                    wake.wait_for(locker, idleExpiry, [this] { return startableKeys() > 0; });
                --idle;
                if (!woken) {
                    --helpers;
                    return;
                }
                continue;
            }
            const std::shared_ptr<Task> task = *next;
            queue.erase(next);
            busy.insert(task->key);
            locker.unlock();
            task->work();
            locker.lock();
            busy.erase(task->key);
            task->done = true;
            finished.notify_all();
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::deque<std::shared_ptr<Task>> queue;
    // Mounts a helper is working for.
    std::set<int> busy;
    int helpers = 0;
    int idle = 0;
};

// The process-wide drive table and the mount table it is read from.
class MountTable
{
public:
    static MountTable& instance()
    {
        static MountTable table;
        return table;
    }

    // The mounts now, read again when the kernel reports a change (a file other than the
    // live table: every time) or when forced. Null, with error set, when it cannot be read.
    std::shared_ptr<const Snapshot> current(bool force, int& error, QStringList& badLines)
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

    QMap<QString, QString> table() const
    {
        const QMutexLocker locker(&mutex);
        return drives;
    }

    bool isLive() const { return liveSource.load(); }

    void setPath(const QString& newPath)
    {
        const QMutexLocker locker(&mutex);
        path = newPath.isEmpty() ? liveMountInfo : newPath;
        liveSource.store(path == liveMountInfo);
        live.reset();
        snapshot.reset();
        drives.clear();
    }

private:
    MountTable() = default;

    // The kernel flags an open mount table with POLLPRI once mounts change after it was
    // opened or last polled.
    bool changed()
    {
        pollfd watch = {live.get(), POLLPRI, 0};
        if (::poll(&watch, 1, 0) < 0)
            return true;
        return (watch.revents & (POLLPRI | POLLERR)) != 0;
    }

    int read(QByteArray& content)
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

    mutable QMutex mutex;
    QString path = liveMountInfo;
    std::atomic<bool> liveSource{true};
    // Kept open: the change notification belongs to the open file.
    CUniqueDescriptorLinux live;
    std::shared_ptr<const Snapshot> snapshot;
    QMap<QString, QString> drives;
};

std::shared_ptr<const Snapshot> currentMounts(bool force, int& error, const char* function)
{
    QStringList badLines;
    std::shared_ptr<const Snapshot> snapshot =
        MountTable::instance().current(force, error, badLines);
    for (const QString& line : std::as_const(badLines))
        SY_CRITICAL_AT(function) << "Error querying dos device name:" << line;
    return snapshot;
}

// The network mount whose source is the share a path names, when one is mounted.
const Mount* mountOfShare(const Snapshot& snapshot, const QString& path)
{
    const bool smb = path.startsWith(QLatin1String("//"));
    const Mount* best = nullptr;
    qsizetype bestLength = -1;
    for (qsizetype index : snapshot.visibleAt) {
        const Mount& mount = snapshot.mounts.at(index);
        if (mount.kind != DRIVE_REMOTE || mount.source.startsWith(QLatin1String("//")) != smb ||
            !isNetworkSource(mount.source))
            continue;
        QStringView source = mount.source;
        while (source.size() > 2 && source.endsWith(QLatin1Char('/')) &&
               !source.endsWith(QLatin1String(":/")))
            source.chop(1);
        bool matches = false;
        if (smb) {
            matches = path.startsWith(source, Qt::CaseInsensitive);
        } else {
            const qsizetype colon = source.indexOf(QLatin1Char(':'));
            matches =
                path.left(colon + 1).compare(source.left(colon + 1), Qt::CaseInsensitive) == 0 &&
                path.mid(colon + 1).startsWith(source.mid(colon + 1));
        }
        // The source must end where a name of the path ends: "//s/share" holds no "//s/shared".
        const bool whole =
            matches && (path.size() == source.size() || source.endsWith(QLatin1Char('/')) ||
                        path.at(source.size()) == QLatin1Char('/'));
        // The longest source wins; between mounts of one share, the first mount point.
        if (whole && (source.size() > bestLength ||
                      (source.size() == bestLength && mount.mountPoint < best->mountPoint))) {
            best = &mount;
            bestLength = source.size();
        }
    }
    return best;
}

// "//server/share/..." or "server:/export/...": the forms that can name a network share.
bool hasServerForm(const QString& path)
{
    if (path.startsWith(QLatin1String("//")))
        return !path.startsWith(QLatin1String("///"));
    return !path.startsWith(QLatin1Char('/')) && isNetworkSource(path);
}

// The path with the working directory in front when it is relative.
int absolutePath(const QString& path, bool emptyIsWorkingDirectory, QByteArray& out)
{
    if (path.startsWith(QLatin1Char('/'))) {
        out = QFile::encodeName(path);
        return 0;
    }
    if (path.isEmpty() && !emptyIsWorkingDirectory)
        return ENOENT;
    // A working directory that was removed or is deeper than PATH_MAX has no name to join to.
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer))
        return errno;
    out = buffer;
    if (!path.isEmpty())
        out += '/' + QFile::encodeName(path);
    return 0;
}

int canonical(const QByteArray& path, QString& out)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(path.constData(), nullptr), &std::free);
    if (!resolved)
        return errno;
    out = QFile::decodeName(resolved.get());
    return 0;
}

// The id of the mount that path (or with an empty path the open file fd) lies on, when the
// kernel tells; ENOENT and the like otherwise.
int mountIdOf(int fd, const QByteArray& path, std::optional<int>& id)
{
    struct statx status = {};
    // Asking for no attributes and without syncing: a network file system is not asked.
    const int flags = AT_STATX_DONT_SYNC | (path.isEmpty() ? AT_EMPTY_PATH : 0);
    if (::statx(fd, path.isEmpty() ? "" : path.constData(), flags, 0, &status) != 0)
        return errno;
    if ((status.stx_mask & STATX_MNT_ID) != 0)
        id = int(status.stx_mnt_id);
    return 0;
}

struct Reached
{
    int error = 0;
    // The nearest existing path on the way to the asked one, with links followed.
    QByteArray existingPath;
    // The same opened as a location only, when asked to hold it. Shared with a helper that may
    // still be using it.
    std::shared_ptr<const CUniqueDescriptorLinux> existing;
    std::optional<int> mountId;
    // Without a mount id: the existing path's canonical form.
    QString canonicalPath;
};

// Walks from path up to its nearest existing parent; a dangling symbolic link is followed to
// where its target would be created. With hold, the parent found is kept open, so that the
// mount the id names cannot go away and its id name another. Without hold, the mount id is
// asked for.
Reached reach(QByteArray path, bool wantMountId, bool hold)
{
    Reached result;
    for (int links = 0;;) {
        std::shared_ptr<CUniqueDescriptorLinux> fd;
        if (hold) {
            fd = std::make_shared<CUniqueDescriptorLinux>(
                ::open(path.constData(), O_PATH | O_CLOEXEC));
            result.error = fd->get() >= 0 ? 0 : errno;
            if (result.error == 0 && wantMountId)
                result.error = mountIdOf(fd->get(), QByteArray(), result.mountId);
        } else {
            result.error = mountIdOf(AT_FDCWD, path, result.mountId);
        }
        if (result.error == 0) {
            if (!result.mountId)
                result.error = canonical(path, result.canonicalPath);
            result.existingPath = path;
            if (hold)
                result.existing = std::move(fd);
            return result;
        }
        if (result.error != ENOENT && result.error != ENOTDIR)
            return result;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.constData(), target, sizeof target);
        if (length > 0 && length < ssize_t(sizeof target)) {
            if (++links > maxSymbolicLinks) {
                result.error = ELOOP;
                return result;
            }
            const QByteArray link(target, length);
            path = link.startsWith('/')
                       ? link
                       : QFile::encodeName(parentOf(QFile::decodeName(path))) + '/' + link;
            continue;
        }
        if (path == "/" || path == ".")
            return result;
        path = QFile::encodeName(parentOf(QFile::decodeName(path)));
    }
}

struct VolumeStatus
{
    int error = 0;
    struct statvfs status = {};
};

// The label of a file system on a block device; other kinds have none. The kernel answers for
// the common Linux file systems; the desktop's device links for the rest. Null when the mount
// point no longer shows the mount.
std::optional<QString> labelOf(const Snapshot& snapshot, const Mount& mount, bool live)
{
    if (mount.kind != DRIVE_FIXED && mount.kind != DRIVE_REMOVABLE && mount.kind != DRIVE_CDROM)
        return QString();
    {
        const QMutexLocker locker(&snapshot.labelMutex);
        const auto known = snapshot.labels.constFind(mount.id);
        if (known != snapshot.labels.cend())
            return known.value();
    }
    const CUniqueDescriptorLinux root(::open(QFile::encodeName(mount.mountPoint).constData(),
                                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() >= 0 && live) {
        std::optional<int> id;
        if (mountIdOf(root.get(), QByteArray(), id) == 0 && id && *id != mount.id)
            return std::nullopt;
    }
    QString label;
    char buffer[FSLABEL_MAX] = {};
    if (root.get() >= 0 && ::ioctl(root.get(), FS_IOC_GETFSLABEL, buffer) == 0) {
        label = QString::fromUtf8(buffer, qstrnlen(buffer, sizeof buffer));
    } else {
        const QStorageInfo storage(mount.mountPoint);
        if (storage.device() == QFile::encodeName(mount.source))
            label = storage.name();
    }
    const QMutexLocker locker(&snapshot.labelMutex);
    snapshot.labels.insert(mount.id, label);
    return label;
}

// What one query finds for one path: one reading of the mount table, the mount in it that
// holds the path, and that mount's figures.
struct Answer
{
    std::shared_ptr<const Snapshot> snapshot;
    // Inside snapshot; null when no mount holds the path, with error saying why.
    const Mount* mount = nullptr;
    int error = 0;
    // The path could not be reached, and by its name it lies on a network mount.
    bool remoteByName = false;
    VolumeStatus status;
    QString label;
};

// A lookup that raced with a mount or an unmount is made again, at most this often.
constexpr int maxAttempts = 8;

// The figures of the mount that holds the existing path, from the open path when it is held.
VolumeStatus statusOf(const Mount& mount, const Reached& reached, Clock::time_point deadline)
{
    const std::shared_ptr<const CUniqueDescriptorLinux> existing = reached.existing;
    const QByteArray path = reached.existingPath;
    const std::function<VolumeStatus()> query = [existing, path] {
        VolumeStatus result;
        if ((existing ? ::fstatvfs(existing->get(), &result.status)
                      : ::statvfs(path.constData(), &result.status)) != 0)
            result.error = errno;
        return result;
    };
    if (mount.kind != DRIVE_REMOTE)
        return query();
    const std::optional<VolumeStatus> status = Helpers::instance().run(mount.id, deadline, query);
    return status ? *status : VolumeStatus{ETIMEDOUT, {}};
}

// One try of resolve(); null when the mounts changed under it. The first try takes the mount
// id and the figures by name and checks that the mount table did not change meanwhile; a try
// after a change holds the path open instead, which a change cannot fool.
std::optional<Answer> attempt(const QString& path, bool emptyIsWorkingDirectory, bool withStatus,
                              bool hold, Clock::time_point deadline, const char* function)
{
    Answer answer;
    const std::shared_ptr<const Snapshot> before = currentMounts(false, answer.error, function);
    if (!before)
        return answer;
    // A server form is a share only while a network mount has it as its source; otherwise it
    // is the path Linux reads ("//tmp" is "/tmp", "host:/x" a folder "host:").
    const Mount* share = hasServerForm(path) ? mountOfShare(*before, path) : nullptr;
    QByteArray target;
    if (share)
        target = QFile::encodeName(share->mountPoint);
    else if ((answer.error = absolutePath(path, emptyIsWorkingDirectory, target)) != 0)
        return answer;

    // Without mount ids (a table read from a file) nothing can be checked by name.
    const bool live = MountTable::instance().isLive();
    hold = hold || !live;
    const std::function<Reached()> lookUp = [target, live, hold] {
        return reach(target, live, hold);
    };
    std::optional<Reached> reached;
    if (before->hasRemote) {
        // The lookup may wait for the mount that holds the path by its name, or for a mount
        // point (whose own root is asked for nothing) for the one that holds its folder.
        const QString name = QDir::cleanPath(QFile::decodeName(target));
        const Mount* waitsFor =
            before->visibleMountFor(before->mountAt(name) ? parentOf(name) : name);
        reached = Helpers::instance().run(waitsFor ? waitsFor->id : -1, deadline, lookUp);
    } else {
        reached = lookUp();
    }
    if (!reached || reached->error != 0) {
        answer.error = reached ? reached->error : ETIMEDOUT;
        const Mount* byName = before->visibleMountFor(QDir::cleanPath(QFile::decodeName(target)));
        answer.remoteByName = byName && byName->kind == DRIVE_REMOTE;
        return answer;
    }

    std::shared_ptr<const Snapshot> snapshot;
    const Mount* mount = nullptr;
    if (!reached->existing) {
        // By name: the same reading still current after the figures were taken means that
        // no mount came or went since it was read.
        const auto index = before->byId.constFind(*reached->mountId);
        if (index == before->byId.cend())
            return std::nullopt;
        snapshot = before;
        mount = &before->mounts.at(*index);
        if (withStatus)
            answer.status = statusOf(*mount, *reached, deadline);
        if (currentMounts(false, answer.error, function) != before)
            return std::nullopt;
    } else {
        // Held: a mount the lookup reached that is still attached is in a reading made after
        // it, and its id names no other mount while the path is held.
        snapshot = currentMounts(false, answer.error, function);
        if (!snapshot)
            return answer;
        if (reached->mountId) {
            const auto index = snapshot->byId.constFind(*reached->mountId);
            if (index == snapshot->byId.cend())
                return std::nullopt;
            mount = &snapshot->mounts.at(*index);
        } else {
            mount = share ? mountOfShare(*snapshot, path)
                          : snapshot->visibleMountFor(reached->canonicalPath);
            if (!mount) {
                answer.error = ENOENT;
                return answer;
            }
        }
        if (withStatus)
            answer.status = statusOf(*mount, *reached, deadline);
    }
    if (share && mountOfShare(*snapshot, path) != mount)
        return std::nullopt;
    answer.snapshot = snapshot;
    answer.mount = mount;
    if (!withStatus || answer.status.error != 0)
        return answer;
    const std::optional<QString> label = labelOf(*snapshot, *mount, live);
    if (!label)
        return std::nullopt;
    answer.label = *label;
    return answer;
}

// The mount that holds path, and with withStatus its figures, all from one state of the
// mounts. An empty path is the working directory when emptyIsWorkingDirectory.
Answer resolve(const QString& path, bool emptyIsWorkingDirectory, bool withStatus)
{
    SY_FUNCTION("CFSVolumeInformationLinux::rootPathByPath");
    const Clock::time_point deadline = deadlineFromNow();
    for (int attempts = 0; attempts < maxAttempts; ++attempts) {
        std::optional<Answer> answer = attempt(path, emptyIsWorkingDirectory, withStatus,
                                               attempts > 0, deadline, syCallSite.function);
        if (answer)
            return std::move(*answer);
    }
    Answer changing;
    changing.error = EAGAIN;
    return changing;
}

void recordNoRoot(const Answer& answer, const QString& path)
{
    SY_CRITICAL_AT("CFSVolumeInformationLinux::rootPathByPath")
        << "Error retrieving volume path name for" << path << "- ErrorCode:" << answer.error;
}

FSDriveType driveTypeOf(const Answer& answer)
{
    if (answer.mount)
        return answer.mount->kind;
    return answer.remoteByName ? DRIVE_REMOTE : DRIVE_NO_ROOT_DIR;
}

quint32 flagsOf(const Mount& mount, const struct statvfs& status)
{
    static const QStringList caseless = {QStringLiteral("vfat"),  QStringLiteral("msdos"),
                                         QStringLiteral("exfat"), QStringLiteral("cifs"),
                                         QStringLiteral("smb3"),  QStringLiteral("smbfs"),
                                         QStringLiteral("hfs"),   QStringLiteral("hfsplus")};
    quint32 flags = 0;
    if ((status.f_flag & ST_RDONLY) != 0)
        flags |= FS_READ_ONLY_VOLUME;
    if (!caseless.contains(mount.type))
        flags |= FS_CASE_SENSITIVE_SEARCH;
    if (mount.type != QLatin1String("msdos"))
        flags |= FS_CASE_PRESERVED_NAMES;
    return flags;
}

bool volumeInformation(const Answer& answer, const QString& path, const char* function,
                       QString& volumeName, QString& fileSystemName, quint32& serialNumber,
                       quint32& maxComponentLength, quint32& flags)
{
    if (!answer.mount) {
        SY_CRITICAL_AT(function) << "failed to retrieve root path from" << path;
        return false;
    }
    if (answer.status.error != 0) {
        SY_CRITICAL_AT(function) << "Error retrieving volume information for"
                                 << rootOf(*answer.mount) << "- ErrorCode:" << answer.status.error;
        return false;
    }
    volumeName = answer.label;
    fileSystemName = answer.mount->type;
    // The kernel's file-system id is two 32-bit words; the low one is the first.
    serialNumber = quint32(answer.status.status.f_fsid);
    maxComponentLength = quint32(answer.status.status.f_namemax);
    flags = flagsOf(*answer.mount, answer.status.status);
    return true;
}

bool diskFreeSpace(const Answer& answer, const QString& path, const char* function,
                   quint64& freeBytesAvailable, quint64& totalBytes, quint64& totalFreeBytes)
{
    if (!answer.mount) {
        SY_CRITICAL_AT(function) << "failed to retrieve root path from" << path;
        return false;
    }
    if (answer.status.error != 0) {
        SY_CRITICAL_AT(function) << "Error retrieving disk free space for" << rootOf(*answer.mount)
                                 << "- ErrorCode:" << answer.status.error;
        return false;
    }
    const struct statvfs& status = answer.status.status;
    const quint64 unit = status.f_frsize;
    freeBytesAvailable = quint64(status.f_bavail) * unit;
    totalBytes = quint64(status.f_blocks) * unit;
    totalFreeBytes = quint64(status.f_bfree) * unit;
    return true;
}

} // namespace

bool CFSVolumeInformationLinux::refreshLogicalDriveStrings()
{
    SY_FUNCTION("CFSVolumeInformationLinux::refreshLogicalDriveStrings");
    int error = 0;
    if (!currentMounts(true, error, syCallSite.function)) {
        SY_CRITICAL << "Error retrieving logical drive strings:" << error;
        return false;
    }
    SY_DEBUG << "logical drives refreshed:" << MountTable::instance().table();
    return true;
}

bool CFSVolumeInformationLinux::getLogicalDriveStrings(QMap<QString, QString>& drives)
{
    SY_FUNCTION("CFSVolumeInformationLinux::getLogicalDriveStrings");
    drives.clear();
    if (!refreshLogicalDriveStrings())
        return false;
    drives = MountTable::instance().table();
    return true;
}

QString CFSVolumeInformationLinux::rootPathByPath(const QString& path)
{
    SY_FUNCTION("CFSVolumeInformationLinux::rootPathByPath");
    const Answer answer = resolve(path, false, false);
    if (!answer.mount) {
        recordNoRoot(answer, path);
        return QString();
    }
    return rootOf(*answer.mount);
}

bool CFSVolumeInformationLinux::getVolumeInformationByPath(const QString& path, QString& volumeName,
                                                           QString& fileSystemName,
                                                           quint32& serialNumber,
                                                           quint32& maxComponentLength,
                                                           quint32& flags)
{
    SY_FUNCTION("CFSVolumeInformationLinux::getVolumeInformationByPath");
    const Answer answer = resolve(path, false, true);
    if (!answer.mount)
        recordNoRoot(answer, path);
    return volumeInformation(answer, path, syCallSite.function, volumeName, fileSystemName,
                             serialNumber, maxComponentLength, flags);
}

bool CFSVolumeInformationLinux::getDiskFreeSpaceByPath(const QString& path,
                                                       quint64& freeBytesAvailable,
                                                       quint64& totalBytes, quint64& totalFreeBytes)
{
    SY_FUNCTION("CFSVolumeInformationLinux::getDiskFreeSpaceByPath");
    const Answer answer = resolve(path, false, true);
    if (!answer.mount)
        recordNoRoot(answer, path);
    return diskFreeSpace(answer, path, syCallSite.function, freeBytesAvailable, totalBytes,
                         totalFreeBytes);
}

FSDriveType CFSVolumeInformationLinux::getDriveTypeByPath(const QString& path)
{
    SY_FUNCTION("CFSVolumeInformationLinux::getDriveTypeByPath");
    const Answer answer = resolve(path, true, false);
    const FSDriveType kind = driveTypeOf(answer);
    if (kind == DRIVE_NO_ROOT_DIR)
        recordNoRoot(answer, path);
    return kind;
}

void CFSVolumeInformationLinux::fillVolumeInformation(CFSVolumeInformation& information)
{
    SY_FUNCTION("CFSVolumeInformationLinux::fillVolumeInformation");
    const Answer answer = resolve(information.path, false, true);
    if (!answer.mount)
        recordNoRoot(answer, information.path);
    volumeInformation(answer, information.path,
                      "CFSVolumeInformationLinux::getVolumeInformationByPath",
                      information.volumeName, information.fileSystemName, information.serialNumber,
                      information.maxComponentLength, information.fileSystemFlags);
    diskFreeSpace(answer, information.path, "CFSVolumeInformationLinux::getDiskFreeSpaceByPath",
                  information.freeBytesAvailable, information.totalBytes,
                  information.totalFreeBytes);
    // No path has the working directory's drive type.
    information.driveType =
        information.path.isEmpty() ? getDriveTypeByPath(QString()) : driveTypeOf(answer);
}

void CFSVolumeInformationLinux::setMountInfoPath(const QString& path)
{
    SY_FUNCTION("CFSVolumeInformationLinux::setMountInfoPath");
    MountTable::instance().setPath(path);
}

void CFSVolumeInformationLinux::setRemoteTimeout(int milliseconds)
{
    remoteTimeoutMs.store(milliseconds);
}

int CFSVolumeInformationLinux::remoteTimeout()
{
    return remoteTimeoutMs.load();
}
