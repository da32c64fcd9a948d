#pragma once

#include <QtGlobal>

// The kind of drive a volume sits on; the numbers are the ones every client stores and
// compares, whatever its platform.
enum FSDriveType : quint32
{
    DRIVE_UNKNOWN = 0,
    DRIVE_NO_ROOT_DIR = 1,
    DRIVE_REMOVABLE = 2,
    DRIVE_FIXED = 3,
    DRIVE_REMOTE = 4,
    DRIVE_CDROM = 5,
    DRIVE_RAMDISK = 6
};

// Bits of a volume's flag word, with the values clients on every platform share.
enum FSVolumeFlag : quint32
{
    // Names that differ only in case are different files.
    FS_CASE_SENSITIVE_SEARCH = 0x00000001,
    // The case of a name is kept as it was written.
    FS_CASE_PRESERVED_NAMES = 0x00000002,
    // Nothing can be written to the volume.
    FS_READ_ONLY_VOLUME = 0x00080000
};
