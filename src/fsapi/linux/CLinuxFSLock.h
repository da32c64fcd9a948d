#pragma once

#include "fsapi/IFSLock.h"

#include <QSet>
#include <QString>

#include <cerrno>

// Holds a file or directory open with a Windows-style sharing mode, emulated with
// open-file-description record locks (fcntl F_OFD_SETLK / F_OFD_GETLK). Those conflict between
// any two open descriptions, inside one process too, and vanish with the descriptor.
//
// Protocol, shared by every user of getFileHandle (other programs of the client included):
// every byte below is only ever locked shared (F_RDLCK), one byte long, at
//   LockBase + 0, 1, 2  access bytes: held by an open that reads, writes, deletes/renames;
//   LockBase + 3, 4, 5  deny bytes: held by an open that does not share reading, writing,
//                       deleting/renaming.
// An open first takes its access and deny bytes, then asks F_OFD_GETLK for a write lock on the
// deny byte of each kind it accesses and on the access byte of each kind it does not share; any
// lock of another description there is a conflict, the open is closed again and the answer is
// SharingViolation. Taking before testing means two racing opens can both fail, never both win.
// The bytes lie far beyond any file's data, so they never meet locks on the content.
class CLinuxFSLock : public IFSLock
{
public:
    // Kinds of access an open asks for.
    static constexpr quint32 AccessRead = 0x1;
    static constexpr quint32 AccessWrite = 0x2;
    static constexpr quint32 AccessDelete = 0x4;
    static constexpr quint32 AccessAll = AccessRead | AccessWrite | AccessDelete;
    // Kinds of access an open lets others have at the same time.
    static constexpr quint32 ShareNone = 0;
    static constexpr quint32 ShareRead = 1;
    static constexpr quint32 ShareWrite = 2;
    static constexpr quint32 ShareReadWrite = ShareRead | ShareWrite;
    static constexpr quint32 ShareDelete = 4;
    // The error getFileHandle answers when the object is in use in a conflicting way.
    static constexpr int SharingViolation = EWOULDBLOCK;
    static constexpr qint64 LockBase = Q_INT64_C(0x7fffffff00000000);

    CLinuxFSLock();
    CLinuxFSLock(const CLinuxFSLock&) = delete;
    CLinuxFSLock& operator=(const CLinuxFSLock&) = delete;
    ~CLinuxFSLock() override;

    bool getExclusiveLock(const QString& path) override;
    bool getWriteLock(const QString& path) override;
    bool getReadWriteLock(const QString& path) override;
    bool getDeleteLock(const QString& path) override;
    bool releaseLock() override;
    bool isLocked() const override;

    int getHandle() const { return handle; }
    // True when the last request left a lock held; false with a critical line when the object
    // is missing or in use; throws Exceptions::FileSystemException for any other error.
    bool checkSuccess(int error);

    // Opens path (files and directories alike) for access, letting others share what share
    // names. Returns 0 with the descriptor in handle, or the errno value (SharingViolation for a
    // conflict) with handle set to -1. The object is opened for reading whatever access is
    // asked for, so an object that cannot be read answers EACCES.
    static int getFileHandle(const QString& path, int& handle, quint32 access, quint32 share);
    // Claims access and share for the open descriptor fd as getFileHandle does: 0, or the
    // errno value (SharingViolation for a conflict). fd must be open for reading.
    static int lockOpenFile(int fd, quint32 access, quint32 share);
    // Fills held with the "<device>:<inode>" of every object some open keeps from being deleted
    // or renamed, from the kernel's table of locks. False when that table cannot be read.
    static bool objectsHeldAgainstDeletion(QSet<QString>& held);
    // The system's text for an errno value.
    static QString getSystemErrorMsg(int error);

private:
    // The common course of the lock requests; records name the requesting function.
    bool getLock(const char* function, const QString& path, quint32 share);

    int handle;
};
