#pragma once

#include "IniFile/zip/IReplacementFile.h"
#include "IniFile/zip/linux/CScratchFileLinux.h"
#include "system/linux/CUniqueDescriptorLinux.h"

#include <QByteArray>

// Owns the target's folder descriptor, which the scratch file works in.
class CReplacementFileLinux : public IReplacementFile
{
public:
    CReplacementFileLinux(CUniqueDescriptorLinux folder, const QByteArray& name);

    // keepMode: the file gets mode, whatever the umask.
    bool open(QFile& file, bool keepMode, mode_t mode, QString& error);
    bool commit(QString& error) override;

private:
    CUniqueDescriptorLinux folder;
    QByteArray name;
    CScratchFileLinux scratch;
};
