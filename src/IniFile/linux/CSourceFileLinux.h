#pragma once

#include "IniFile/ISourceFile.h"
#include "IniFile/linux/CUniqueDescriptorLinux.h"

// A source file read with pread(), so that one descriptor serves every thread without a shared
// file position.
class CSourceFileLinux : public ISourceFile
{
public:
    CSourceFileLinux(CUniqueDescriptorLinux descriptor, qint64 modified, quint32 permissions);

    qint64 readAt(char* data, qint64 size, qint64 offset) const override;
    qint64 modified() const override { return modifiedTime; }
    quint32 permissions() const override { return permissionBits; }

private:
    CUniqueDescriptorLinux descriptor;
    qint64 modifiedTime;
    quint32 permissionBits;
};
