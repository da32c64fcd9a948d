#include "system/CFSVolumeInformation.h"

#include "dbapi/CPathOperations.h"
#include "system/linux/CFSVolumeInformationLinux.h"
#include "threading/threads/CCallStack.h"

CFSVolumeInformation::CFSVolumeInformation(const QString& path)
    : path(CPathOperations::toNativePath(path, false))
{
    SY_FUNCTION("CFSVolumeInformation::CFSVolumeInformation");
    CFSVolumeInformationLinux::fillVolumeInformation(*this);
}
