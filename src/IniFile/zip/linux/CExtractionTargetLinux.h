#pragma once

#include "IniFile/zip/IExtractionTarget.h"
#include "IniFile/zip/linux/CFileSizeSignalBlockLinux.h"
#include "IniFile/zip/linux/CScratchFileLinux.h"
#include "system/linux/CUniqueDescriptorLinux.h"

#include <QByteArray>
#include <QPair>
#include <QSet>

// Walks every path component with openat(O_NOFOLLOW) from a descriptor of the root folder, so a
// symbolic link placed anywhere below the root, even while unpacking runs, stops the walk.
// While it lives, a write past the process's file-size limit is an ordinary write error.
class CExtractionTargetLinux : public IExtractionTarget
{
public:
    explicit CExtractionTargetLinux(const QString& root);

    TResult makeDirectory(const QStringList& components) override;
    TResult createFile(const QStringList& components, QFile& file) override;
    TResult commitFile(QFile& file) override;
    void discardFile(QFile& file) override;
    QString errorString() const override { return lastError; }

private:
    // The folder reached through components, creating missing ones when create is set; invalid
    // with result and lastError set on failure.
    CUniqueDescriptorLinux openDirectory(const QStringList& components, bool create,
                                         TResult& result);
    TResult fail(TResult result, const QString& what, int error);
    // Names what stands in the way at path, whose last component lies in directory.
    TResult refuse(int directory, const QStringList& path);

    CFileSizeSignalBlockLinux fileSizeSignalBlock;
    CUniqueDescriptorLinux root;
    QString lastError;
    // The file being written, in its folder, and the name it is to have.
    CUniqueDescriptorLinux folder;
    QByteArray leaf;
    CScratchFileLinux scratch;
    // The folders (device, inode) already cleared of what killed runs left.
    QSet<QPair<quint64, quint64>> cleared;
};
