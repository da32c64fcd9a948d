#pragma once

#include "system/linux/CUniqueDescriptorLinux.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// A new version of a file, written under a temporary name in the file's folder while the file
// keeps what it holds, then given the file's name in one rename once it is whole and on disk.
// The temporary name is a prefix and random digits, created without replacing anything, and
// it stays locked while this object lives, so that removeStale(), run by the next writer in the
// folder, takes only what a writer that is gone (killed) left behind. Owns its lock descriptor;
// the folder descriptor is the caller's and must outlive it.
class CScratchFileLinux
{
public:
    CScratchFileLinux() = default;
    // Removes the temporary name unless it was committed.
    ~CScratchFileLinux();
    CScratchFileLinux(CScratchFileLinux&& other) noexcept;
    CScratchFileLinux& operator=(CScratchFileLinux&& other) noexcept;
    CScratchFileLinux(const CScratchFileLinux&) = delete;
    CScratchFileLinux& operator=(const CScratchFileLinux&) = delete;

    // Creates the file in folder with mode (less the umask) and returns a descriptor open on it
    // for reading and writing, which the caller owns; invalid with error set on failure.
    CUniqueDescriptorLinux create(int folder, const QByteArray& prefix, mode_t mode,
                                  QString& error);
    // Gives the written file, synced and closed by the caller, the name name in its folder,
    // replacing what held it, and syncs the folder so that the new name survives a power loss.
    bool commit(const QByteArray& name, QString& error);
    bool isOpen() const { return folder >= 0; }

    // Removes the files of prefix in folder whose writer is gone.
    static void removeStale(int folder, const QByteArray& prefix);

private:
    void discard();

    int folder = -1;
    QByteArray name;
    // A second descriptor of the same open file, which holds the lock after the caller's is
    // closed, until the file has its name.
    CUniqueDescriptorLinux lock;
};
