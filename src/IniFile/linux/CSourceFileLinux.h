#pragma once

#include "IniFile/ISourceFile.h"
#include "IniFile/linux/CUniqueDescriptorLinux.h"

// A source file read with pread(), so that one descriptor serves every thread without a shared
// file position.
class CSourceFileLinux : public ISourceFile
{
public:
    explicit CSourceFileLinux(CUniqueDescriptorLinux descriptor);

    qint64 readAt(char* data, qint64 size, qint64 offset) const override;

private:
    CUniqueDescriptorLinux descriptor;
};
