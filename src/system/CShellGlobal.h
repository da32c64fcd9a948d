#pragma once

// The special-folder lookup of this platform, under the one name callers use.
#include "system/linux/CShellGlobalLinux.h"

using CShellGlobal = CShellGlobalLinux;
