#pragma once

#include "fsapi/IFSOperations.h"

#include <memory>

// The file-system operations object callers create (on the stack) and use. It takes paths with
// "/" separators, turns them into the platform's native form and forwards every call to the
// platform implementation it owns; exceptions of the implementation pass through. Without an
// implementation every operation answers false. The exchange of a file with rollback is carried
// out here, on top of the forwarded operations.
class CFSOperations : public IFSOperations
{
public:
    // Uses the operations of the platform the library is built for.
    CFSOperations();
    // Uses the given implementation, which may be null.
    explicit CFSOperations(std::unique_ptr<IFSOperations> implementation);
    CFSOperations(const CFSOperations&) = delete;
    CFSOperations& operator=(const CFSOperations&) = delete;
    ~CFSOperations() override;

    bool tryExclusiveLock(const QString& path) override;
    bool tryWriteLock(const QString& path) override;
    bool fileExists(const QString& path) override;
    bool directoryExists(const QString& path) override;
    // Puts the incoming version xchgIn/xchgSrcName in place of originalPath/originalName with
    // the given creation and modification times; a version in place is replaced in one rename
    // once the new one is on the disk (xchgOut must be given but is not written), and a template
    // file (the original's name with ".syncarium" appended) is deleted after the exchange.
    bool safeExchangeFile(const QString& xchgIn, const QString& xchgOut,
                          const QString& originalPath, const QString& xchgSrcName,
                          const QString& originalName, const QDateTime& created,
                          const QDateTime& modified) override;
    bool copyFile(const QString& src, const QString& dest, bool force, bool checkLock,
                  bool failIfExists) override;
    bool safeCopyFile(const QString& src, const QString& dest, const QString& safePath, bool force,
                      bool checkLock, bool failIfExists) override;
    bool copyDirectory(const QString& src, const QString& dest) override;
    bool createFile(const QString& path, const QDateTime& creation, const QDateTime& lastAccess,
                    const QDateTime& lastWrite, quint32 attributes) override;
    bool createDirectory(const QString& path, const QDateTime& creation,
                         const QDateTime& lastAccess, const QDateTime& lastWrite,
                         quint32 attributes, bool force) override;
    bool safeCreateDirectory(const QString& path, const QString& safePath,
                             const QDateTime& creation, const QDateTime& lastAccess,
                             const QDateTime& lastWrite, quint32 attributes, bool force) override;
    bool renameFile(const QString& src, const QString& dest, bool overwrite) override;
    bool safeRenameFile(const QString& src, const QString& dest, const QString& safePath,
                        bool overwrite) override;
    bool renameDirectory(const QString& src, const QString& dest) override;
    bool safeRenameDirectory(const QString& src, const QString& dest,
                             const QString& safePath) override;
    bool moveFile(const QString& src, const QString& dest, bool force, bool overwrite) override;
    bool safeMoveFile(const QString& src, const QString& dest, const QString& safePath, bool force,
                      bool overwrite) override;
    bool moveDirectory(const QString& src, const QString& dest, bool force) override;
    bool safeMoveDirectory(const QString& src, const QString& dest, const QString& safePath,
                           bool force) override;
    bool deleteFile(const QString& path, bool force) override;
    bool safeDeleteFile(const QString& path, const QString& safePath, bool force) override;
    bool deleteDirectory(const QString& path, bool force) override;
    bool safeDeleteDirectory(const QString& path, const QString& safePath, bool force) override;
    bool cleanDirectory(const QString& path, bool force) override;
    bool safeCleanDirectory(const QString& path, const QString& safePath, bool force) override;
    bool setTimeStamps(const QString& path, const QDateTime& creation, const QDateTime& lastAccess,
                       const QDateTime& lastWrite, bool isDirectory) override;
    bool safeSetTimeStamps(const QString& path, const QString& safePath, const QDateTime& creation,
                           const QDateTime& lastAccess, const QDateTime& lastWrite,
                           bool isDirectory) override;
    bool setAttributes(const QString& path, quint32 attributes) override;
    bool removeAttributes(const QString& path, quint32 attributes) override;
    bool getFSID(const QString& path, QString& id) override;
    bool isSymbolicLink(const QString& path) override;

private:
    bool internalSafeExchangeFile(const QString& xchgIn, const QString& xchgOut,
                                  const QString& originalPath, const QString& xchgSrcName,
                                  const QString& originalName, const QDateTime& created,
                                  const QDateTime& modified);
    bool exchangeBoth(const QString& original, const QString& park, const QString& templatePath,
                      const QString& incoming, const QDateTime& created, const QDateTime& modified);
    bool exchangeNormal(const QString& original, const QString& park, const QString& incoming,
                        const QDateTime& created, const QDateTime& modified);
    bool exchangeTemplateFile(const QString& original, const QString& park,
                              const QString& templatePath, const QString& incoming,
                              const QDateTime& created, const QDateTime& modified);
    bool exchangeNewFile(const QString& original, const QString& park, const QString& incoming,
                         const QDateTime& created, const QDateTime& modified);

    // The template file goes, if there is one.
    bool removeTemplate(const QString& templatePath);
    // The implementation's answer, or false without an implementation.
    template<typename... Parameters, typename... Arguments>
    bool forward(bool (IFSOperations::*operation)(Parameters...), Arguments&&... arguments);

    std::unique_ptr<IFSOperations> impl;
};
