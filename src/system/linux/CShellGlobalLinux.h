#pragma once

#include "system/ShellSpecialFolderType.h"

#include <QString>

// Where the desktop keeps a special folder of the current user, answered from the XDG base and
// user directories. Stateless; callers use it as CShellGlobal (system/CShellGlobal.h).
class CShellGlobalLinux
{
public:
    CShellGlobalLinux() = delete;

    // The shell's CSIDL number of a folder type; an unknown type is logged and answers 0.
    static quint32 getCSIDL(quint32 type);
    // The folder's path with "/" separators and a trailing "/", or an empty string (logged)
    // when this platform has no such folder.
    static QString getShellSpecialFolderPath(ShellSpecialFolderType type);
};
