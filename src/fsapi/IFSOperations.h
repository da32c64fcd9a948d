#pragma once

#include <QDateTime>
#include <QString>

#include <memory>

// The file-system operations every module uses to change files. Paths reach an implementation
// in the platform's native form. Argument faults (an empty or over-long path) are logged and
// answered with false; bad states and unexpected system errors throw the classes of
// fsapi/FileSystemExceptions.h. Each time stamp argument is optional: a null QDateTime leaves
// that stamp as it is. The safe forms take a free path, safePath, under which the object is
// parked while it changes, so that a failed change can be rolled back.
class IFSOperations
{
public:
    virtual bool tryExclusiveLock(const QString& path) = 0;
    virtual bool tryWriteLock(const QString& path) = 0;
    virtual bool fileExists(const QString& path) = 0;
    virtual bool directoryExists(const QString& path) = 0;
    virtual bool safeExchangeFile(const QString& xchgIn, const QString& xchgOut,
                                  const QString& originalPath, const QString& xchgSrcName,
                                  const QString& originalName, const QDateTime& created,
                                  const QDateTime& modified) = 0;
    virtual bool copyFile(const QString& src, const QString& dest, bool force, bool checkLock,
                          bool failIfExists) = 0;
    virtual bool safeCopyFile(const QString& src, const QString& dest, const QString& safePath,
                              bool force, bool checkLock, bool failIfExists) = 0;
    virtual bool copyDirectory(const QString& src, const QString& dest) = 0;
    virtual bool createFile(const QString& path, const QDateTime& creation,
                            const QDateTime& lastAccess, const QDateTime& lastWrite,
                            quint32 attributes) = 0;
    virtual bool createDirectory(const QString& path, const QDateTime& creation,
                                 const QDateTime& lastAccess, const QDateTime& lastWrite,
                                 quint32 attributes, bool force) = 0;
    virtual bool safeCreateDirectory(const QString& path, const QString& safePath,
                                     const QDateTime& creation, const QDateTime& lastAccess,
                                     const QDateTime& lastWrite, quint32 attributes,
                                     bool force) = 0;
    virtual bool renameFile(const QString& src, const QString& dest, bool overwrite) = 0;
    virtual bool safeRenameFile(const QString& src, const QString& dest, const QString& safePath,
                                bool overwrite) = 0;
    virtual bool renameDirectory(const QString& src, const QString& dest) = 0;
    virtual bool safeRenameDirectory(const QString& src, const QString& dest,
                                     const QString& safePath) = 0;
    virtual bool moveFile(const QString& src, const QString& dest, bool force, bool overwrite) = 0;
    virtual bool safeMoveFile(const QString& src, const QString& dest, const QString& safePath,
                              bool force, bool overwrite) = 0;
    virtual bool moveDirectory(const QString& src, const QString& dest, bool force) = 0;
    virtual bool safeMoveDirectory(const QString& src, const QString& dest, const QString& safePath,
                                   bool force) = 0;
    virtual bool deleteFile(const QString& path, bool force) = 0;
    virtual bool safeDeleteFile(const QString& path, const QString& safePath, bool force) = 0;
    virtual bool deleteDirectory(const QString& path, bool force) = 0;
    virtual bool safeDeleteDirectory(const QString& path, const QString& safePath, bool force) = 0;
    virtual bool cleanDirectory(const QString& path, bool force) = 0;
    virtual bool safeCleanDirectory(const QString& path, const QString& safePath, bool force) = 0;
    virtual bool setTimeStamps(const QString& path, const QDateTime& creation,
                               const QDateTime& lastAccess, const QDateTime& lastWrite,
                               bool isDirectory) = 0;
    virtual bool safeSetTimeStamps(const QString& path, const QString& safePath,
                                   const QDateTime& creation, const QDateTime& lastAccess,
                                   const QDateTime& lastWrite, bool isDirectory) = 0;
    virtual bool setAttributes(const QString& path, quint32 attributes) = 0;
    virtual bool removeAttributes(const QString& path, quint32 attributes) = 0;
    // Fills id with a text that names the object itself, equal for two paths of one object.
    virtual bool getFSID(const QString& path, QString& id) = 0;
    virtual bool isSymbolicLink(const QString& path) = 0;
    virtual ~IFSOperations() = default;
};

// The operations of the platform the library is built for.
std::unique_ptr<IFSOperations> createPlatformFSOperations();
