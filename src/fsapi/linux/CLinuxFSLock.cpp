#include "fsapi/linux/CLinuxFSLock.h"

#include "diagnostics/CLogRecord.h"
#include "fsapi/FSArgumentChecks.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/LinuxFSHelpers.h"
#include "threading/threads/CCallStack.h"

#include <QFile>

#include <cstring>

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr qint64 denyOffset = 3;
constexpr quint32 kinds[] = {CLinuxFSLock::AccessRead, CLinuxFSLock::AccessWrite,
                             CLinuxFSLock::AccessDelete};
// Share bits of the same kinds, in the same order.
constexpr quint32 shareOf[] = {CLinuxFSLock::ShareRead, CLinuxFSLock::ShareWrite,
                               CLinuxFSLock::ShareDelete};

struct flock byteLock(short type, qint64 offset)
{
    struct flock lock;
    std::memset(&lock, 0, sizeof lock); // F_OFD_* insist on l_pid == 0
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = CLinuxFSLock::LockBase + offset;
    lock.l_len = 1;
    return lock;
}

// 0, SharingViolation when another description holds a lock on the byte, or errno.
int takeByte(int fd, qint64 offset)
{
    struct flock lock = byteLock(F_RDLCK, offset);
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return 0;
    return errno == EAGAIN || errno == EACCES ? CLinuxFSLock::SharingViolation : errno;
}

int testByte(int fd, qint64 offset)
{
    struct flock lock = byteLock(F_WRLCK, offset);
    if (::fcntl(fd, F_OFD_GETLK, &lock) != 0)
        return errno;
    return lock.l_type == F_UNLCK ? 0 : CLinuxFSLock::SharingViolation;
}

// Takes the bytes of an open with access and share, then checks them against the others.
int lockSharing(int fd, quint32 access, quint32 share)
{
    for (int kind = 0; kind < 3; ++kind) {
        if (access & kinds[kind]) {
            if (const int error = takeByte(fd, kind))
                return error;
        }
        if (!(share & shareOf[kind])) {
            if (const int error = takeByte(fd, denyOffset + kind))
                return error;
        }
    }
    for (int kind = 0; kind < 3; ++kind) {
        if (access & kinds[kind]) {
            if (const int error = testByte(fd, denyOffset + kind))
                return error;
        }
        if (!(share & shareOf[kind])) {
            if (const int error = testByte(fd, kind))
                return error;
        }
    }
    return 0;
}

// Only reads: the access an open asks for is claimed by its lock bytes, so that checking a
// lock needs no write permission and works on read-only mounts and running programs.
int openObject(const QByteArray& path)
{
    // O_NONBLOCK keeps a FIFO from blocking the open and reports a conflicting lease as
    // EWOULDBLOCK.
    return ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

} // namespace

CLinuxFSLock::CLinuxFSLock() : handle(-1) {}

CLinuxFSLock::~CLinuxFSLock()
{
    if (handle != -1)
        ::close(handle);
    handle = -1;
}

bool CLinuxFSLock::getExclusiveLock(const QString& path)
{
    SY_FUNCTION("CLinuxFSLock::getExclusiveLock");
    return getLock(syCallSite.function, path, ShareNone);
}

bool CLinuxFSLock::getWriteLock(const QString& path)
{
    SY_FUNCTION("CLinuxFSLock::getWriteLock");
    return getLock(syCallSite.function, path, ShareRead);
}

bool CLinuxFSLock::getReadWriteLock(const QString& path)
{
    SY_FUNCTION("CLinuxFSLock::getReadWriteLock");
    return getExclusiveLock(path);
}

bool CLinuxFSLock::getDeleteLock(const QString& path)
{
    SY_FUNCTION("CLinuxFSLock::getDeleteLock");
    return getLock(syCallSite.function, path, ShareReadWrite);
}

bool CLinuxFSLock::getLock(const char* function, const QString& path, quint32 share)
{
    if (isLocked()) {
        SY_WARNING_AT(function) << "getXXXLock called before, without release";
        return false;
    }
    if (path.isEmpty() || !FSArgumentChecks::fitsPlatform(path)) {
        SY_CRITICAL_AT(function) << "invalid path given";
        return false;
    }
    return checkSuccess(getFileHandle(path, handle, AccessRead, share));
}

bool CLinuxFSLock::releaseLock()
{
    SY_FUNCTION("CLinuxFSLock::releaseLock");
    if (handle == -1)
        return true;
    const int fd = handle;
    // Linux frees the descriptor even when close() fails, so it must not be closed again.
    handle = -1;
    if (::close(fd) == 0)
        return true;
    const int error = errno;
    SY_CRITICAL << "could not release lock : " << LinuxFS::systemErrorText(error);
    return false;
}

bool CLinuxFSLock::isLocked() const
{
    return handle != -1;
}

bool CLinuxFSLock::checkSuccess(int error)
{
    SY_FUNCTION("CLinuxFSLock::checkSuccess");
    if (isLocked() && error == 0)
        return true;
    const QString message = LinuxFS::systemErrorText(error);
    if (error == ENOENT || error == ENOTDIR || error == SharingViolation) {
        SY_CRITICAL << message;
        return false;
    }
    SY_THROW(Exceptions::FileSystemException, message);
}

int CLinuxFSLock::getFileHandle(const QString& path, int& handle, quint32 access, quint32 share)
{
    SY_FUNCTION("CLinuxFSLock::getFileHandle");
    handle = openObject(LinuxFS::nativeBytes(path));
    if (handle == -1)
        return errno;
    if (const int error = lockSharing(handle, access, share)) {
        ::close(handle);
        handle = -1;
        return error;
    }
    return 0;
}

int CLinuxFSLock::lockOpenFile(int fd, quint32 access, quint32 share)
{
    return lockSharing(fd, access, share);
}

bool CLinuxFSLock::objectsHeldAgainstDeletion(QSet<QString>& held)
{
    // Lines as "1: OFDLCK ADVISORY READ -1 08:01:1234 <start> <end>", the device as hexadecimal
    // major and minor; waiting requests begin with "->" and hold nothing.
    QFile table(QStringLiteral("/proc/locks"));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // Neighbouring bytes of one description show as one range.
    const qint64 denyDelete = LockBase + denyOffset + 2;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 8 || fields.at(1) != "OFDLCK" ||
            fields.at(6).toLongLong() > denyDelete ||
            (fields.at(7) != "EOF" && fields.at(7).toLongLong() < denyDelete))
            continue;
        const QList<QByteArray> id = fields.at(5).split(':');
        bool majorOk = false;
        bool minorOk = false;
        const uint deviceMajor = id.value(0).toUInt(&majorOk, 16);
        const uint deviceMinor = id.value(1).toUInt(&minorOk, 16);
        if (id.size() == 3 && majorOk && minorOk)
            held.insert(QStringLiteral("%1:%2")
                            .arg(quint64(makedev(deviceMajor, deviceMinor)))
                            .arg(QString::fromLatin1(id.at(2))));
    }
    return true;
}

QString CLinuxFSLock::getSystemErrorMsg(int error)
{
    char buffer[256];
    // The GNU strerror_r may answer with a static text instead of filling the buffer.
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}

std::unique_ptr<IFSLock> createPlatformFSLock()
{
    return std::make_unique<CLinuxFSLock>();
}
