#pragma once

#include "system/FSVolumeTypes.h"

#include <QMap>
#include <QString>

class CFSVolumeInformation;

// Answers for any path which mounted file system holds it and what that file system is.
//
// A volume's root is the mount point that holds the path, with a trailing "/" ("/",
// "/media/usb/"): the visible mount after symbolic links are resolved, or for a path that does
// not exist yet the one of its nearest existing parent. A relative path is taken from the
// working directory; while that has no name (removed, or deeper than PATH_MAX) it has no root.
// A path given as "//server/share/..." or "server:/export/..." is answered by the network mount
// whose source is that share (the server and an SMB share compare without case); when none is
// mounted it is the local path Linux reads ("//tmp/x" is "/tmp/x").
//
// The drive table maps mount points to their sources ("/dev/sda1", "server:/export",
// "//server/share"). It is process-wide, guarded by one mutex, and read from the mount table
// only when the kernel reports a change. An entry keeps the source it was first read with, and
// entries of mounts that are gone are kept.
//
// The flag word holds FS_READ_ONLY_VOLUME for a read-only mount, and FS_CASE_SENSITIVE_SEARCH
// and FS_CASE_PRESERVED_NAMES by file-system type (FAT, exFAT, HFS and SMB ignore case,
// "msdos" keeps no case either). Other mount options (nosuid, noexec, ...) have no bit.
//
// Every answer describes one mount: the mount the path lies on is named by its id in a reading
// of the mount table that is still current once the figures are taken. A query that raced with
// a mount or an unmount is made again, holding the path open. A path under a network mount is
// remote even while its server cannot be reached.
//
// A query that touches a network file system waits for it at most remoteTimeout() in all and
// then answers false: a dead server must not hang the caller. While one is mounted, every path
// lookup runs on a helper thread under that bound, since a symbolic link may lead into it. At
// most 4 helper threads exist, and at most one works for a mount at a time, so a server that
// never answers holds one of them however often it is asked. All operations are static and
// never throw; failures are logged at critical level.
class CFSVolumeInformationLinux
{
public:
    CFSVolumeInformationLinux() = delete;

    // Re-reads the mount table into the drive table.
    static bool refreshLogicalDriveStrings();
    // Clears drives, refreshes, copies the drive table (mount point -> source) into drives.
    static bool getLogicalDriveStrings(QMap<QString, QString>& drives);

    // The root of the volume that holds path, or an empty string.
    static QString rootPathByPath(const QString& path);
    // Volume name (the file system's label), file-system type ("ext4", "nfs4", "tmpfs", ...),
    // 32 bits of the file-system id, longest name, flag word. The out arguments are set only
    // on success.
    static bool getVolumeInformationByPath(const QString& path, QString& volumeName,
                                           QString& fileSystemName, quint32& serialNumber,
                                           quint32& maxComponentLength, quint32& flags);
    // Bytes the caller may still use, the volume's size and its free bytes, set only on
    // success.
    static bool getDiskFreeSpaceByPath(const QString& path, quint64& freeBytesAvailable,
                                       quint64& totalBytes, quint64& totalFreeBytes);
    // The kind of the mount that holds path; DRIVE_NO_ROOT_DIR when no mount holds it. An empty
    // path asks for the working directory.
    static FSDriveType getDriveTypeByPath(const QString& path);
    // Fills every field of information for its path, as the three queries above would, from
    // one state of the mount table and one reading of one mount, within one remoteTimeout().
    static void fillVolumeInformation(CFSVolumeInformation& information);

    // The mount table the drive table is read from: "/proc/self/mountinfo" unless another file
    // in its format is set (an empty path goes back to it). Setting it starts a new, empty
    // drive table.
    static void setMountInfoPath(const QString& path);
    // How long a query waits for a network file system: 5 seconds unless set.
    static void setRemoteTimeout(int milliseconds);
    static int remoteTimeout();
};
