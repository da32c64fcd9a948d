#pragma once

#include "IniFile/zip/ISourceFile.h"
#include "system/linux/CUniqueDescriptorLinux.h"

#include <sys/stat.h>

// A source file read with pread(), so that one descriptor serves every thread without a shared
// file position.
class CSourceFileLinux : public ISourceFile
{
public:
    CSourceFileLinux(CUniqueDescriptorLinux descriptor, const struct stat& status);

    qint64 readAt(char* data, qint64 size, qint64 offset) const override;
    void prefetch(qint64 offset, qint64 size) const override;
    qint64 size() const override { return fileSize; }
    qint64 modified() const override { return modifiedTime; }
    quint32 permissions() const override { return permissionBits; }

private:
    CUniqueDescriptorLinux descriptor;
    qint64 fileSize;
    qint64 modifiedTime;
    quint32 permissionBits;
};
