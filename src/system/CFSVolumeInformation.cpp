#include "system/CFSVolumeInformation.h"

#include "dbapi/CPathOperations.h"
#include "system/linux/CFSVolumeInformationLinux.h"
#include "threading/threads/CCallStack.h"

CFSVolumeInformation::CFSVolumeInformation(const QString& path)
    : path(CPathOperations::toNativePath(path, false))
{
    SY_FUNCTION("CFSVolumeInformation::CFSVolumeInformation");
    // The path is looked up once: its volume's root names the same volume for the three
    // queries without another walk, in the same reading of the mount table. A path without a
    // root goes to them as it is, so that each records its failure.
    const CFSVolumeInformationLinux::CTableView view;
    const QString root = CFSVolumeInformationLinux::rootPathByPath(this->path);
    const QString& volume = root.isEmpty() ? this->path : root;
    CFSVolumeInformationLinux::getVolumeInformationByPath(
        volume, volumeName, fileSystemName, serialNumber, maxComponentLength, fileSystemFlags);
    CFSVolumeInformationLinux::getDiskFreeSpaceByPath(volume, freeBytesAvailable, totalBytes,
                                                      totalFreeBytes);
    driveType = CFSVolumeInformationLinux::getDriveTypeByPath(volume);
}
