#include "system/linux/CFSVolumeInformationLinux.h"

#include "diagnostics/CLogRecord.h"
#include "system/CFSVolumeInformation.h"
#include "system/linux/CMountTableLinux.h"
#include "system/linux/CPathWalkLinux.h"
#include "system/linux/CRemoteCallHelpersLinux.h"
#include "system/linux/CUniqueDescriptorLinux.h"
#include "threading/threads/CCallStack.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStorageInfo>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>

namespace {

using Mount = CMountTableLinux::TMount;
using Snapshot = CMountTableLinux::TSnapshot;
using Reached = CPathWalkLinux::TReached;

std::atomic<int> remoteTimeoutMs{5000};

QString rootOf(const Mount& mount)
{
    return mount.mountPoint.endsWith(QLatin1Char('/')) ? mount.mountPoint
                                                       : mount.mountPoint + QLatin1Char('/');
}

using Clock = CRemoteCallHelpersLinux::Clock;

Clock::time_point deadlineFromNow()
{
    return Clock::now() + std::chrono::milliseconds(remoteTimeoutMs.load());
}

std::shared_ptr<const Snapshot> currentMounts(bool force, int& error, const char* function)
{
    QStringList badLines;
    std::shared_ptr<const Snapshot> snapshot =
        CMountTableLinux::instance().current(force, error, badLines);
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
            !CMountTableLinux::isNetworkSource(mount.source))
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
    return !path.startsWith(QLatin1Char('/')) && CMountTableLinux::isNetworkSource(path);
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
        if (CPathWalkLinux::mountIdOf(root.get(), QByteArray(), id) == 0 && id && *id != mount.id)
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
    const std::optional<VolumeStatus> status =
        CRemoteCallHelpersLinux::instance().run(mount.id, deadline, query);
    return status ? *status : VolumeStatus{ETIMEDOUT, {}};
}

// The walk to target, on a helper thread while a network mount is in before; null when the
// helper did not answer by deadline.
std::optional<Reached> walkTo(const QByteArray& target, const Snapshot& before, bool live,
                              bool hold, Clock::time_point deadline)
{
    const std::function<Reached()> lookUp = [target, live, hold] {
        return CPathWalkLinux::reach(target, live, hold);
    };
    if (!before.hasRemote)
        return lookUp();
    // The lookup may wait for the mount that holds the path by its name, or for a mount
    // point (whose own root is asked for nothing) for the one that holds its folder.
    const QString name = QDir::cleanPath(QFile::decodeName(target));
    const Mount* waitsFor =
        before.visibleMountFor(before.mountAt(name) ? CMountTableLinux::parentOf(name) : name);
    return CRemoteCallHelpersLinux::instance().run(waitsFor ? waitsFor->id : -1, deadline, lookUp);
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
    else if ((answer.error = CPathWalkLinux::absolutePath(path, emptyIsWorkingDirectory, target)) !=
             0)
        return answer;

    // Without mount ids (a table read from a file) nothing can be checked by name.
    const bool live = CMountTableLinux::instance().isLive();
    hold = hold || !live;
    const std::optional<Reached> reached = walkTo(target, *before, live, hold, deadline);
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
    SY_DEBUG << "logical drives refreshed:" << CMountTableLinux::instance().table();
    return true;
}

bool CFSVolumeInformationLinux::getLogicalDriveStrings(QMap<QString, QString>& drives)
{
    SY_FUNCTION("CFSVolumeInformationLinux::getLogicalDriveStrings");
    drives.clear();
    if (!refreshLogicalDriveStrings())
        return false;
    drives = CMountTableLinux::instance().table();
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
    CMountTableLinux::instance().setPath(path);
}

void CFSVolumeInformationLinux::setRemoteTimeout(int milliseconds)
{
    remoteTimeoutMs.store(milliseconds);
}

int CFSVolumeInformationLinux::remoteTimeout()
{
    return remoteTimeoutMs.load();
}
