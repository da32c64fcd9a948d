#include "sendLogFiles/CHeapSettings.h"

#include <malloc.h>

bool CHeapSettings::keepHeapTop()
{
    // Setting either threshold switches off glibc's own adjustment of both, so both are set:
    // the trim threshold alone would leave every 4 MiB chunk buffer to a fresh mapping.
    const bool mmapSet = mallopt(M_MMAP_THRESHOLD, 8 * 1024 * 1024) == 1;
    const bool trimSet = mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024) == 1;
    return mmapSet && trimSet;
}
