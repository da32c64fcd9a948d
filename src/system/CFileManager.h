#pragma once

// The desktop's file manager of this platform, under the one name callers use.
#include "system/linux/CFileManagerLinux.h"

using CFileManager = CFileManagerLinux;
