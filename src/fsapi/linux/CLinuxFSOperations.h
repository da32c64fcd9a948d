#pragma once

#include "fsapi/IFSOperations.h"

#include <QByteArray>
#include <QList>
#include <QSet>

#include <functional>

#include <sys/stat.h>

struct CCallSiteRecord;

// The file-system operations on Linux, with paths in native form. The sharing modes of the
// lock probes are emulated by CLinuxFSLock; ReadOnly is the absence of every write permission
// bit, Hidden and System have no counterpart and are accepted without effect. A symbolic link
// counts as a file, whatever it points to, so that no operation follows one out of the tree it
// works on. Operations that use other operations call them through the interface, so that a
// derived class sees the nested calls. The object keeps no state. The definitions are split by
// concern: CLinuxFSOperations.cpp (shared steps, queries and changes in place), _copy, _move,
// _tree (whole directories) and _safe (the safe forms).
class CLinuxFSOperations : public IFSOperations
{
public:
    CLinuxFSOperations();
    CLinuxFSOperations(const CLinuxFSOperations&) = delete;
    CLinuxFSOperations& operator=(const CLinuxFSOperations&) = delete;
    ~CLinuxFSOperations() override;

    bool tryExclusiveLock(const QString& path) override;
    bool tryWriteLock(const QString& path) override;
    bool fileExists(const QString& path) override;
    bool directoryExists(const QString& path) override;
    // The exchange is carried out by CFSOperations; here it answers false.
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
    // Linux keeps no creation time: that stamp is checked and otherwise ignored.
    bool setTimeStamps(const QString& path, const QDateTime& creation, const QDateTime& lastAccess,
                       const QDateTime& lastWrite, bool isDirectory) override;
    bool safeSetTimeStamps(const QString& path, const QString& safePath, const QDateTime& creation,
                           const QDateTime& lastAccess, const QDateTime& lastWrite,
                           bool isDirectory) override;
    bool setAttributes(const QString& path, quint32 attributes) override;
    bool removeAttributes(const QString& path, quint32 attributes) override;
    // id is "<device>:<inode>" of the object itself (a link is not followed).
    bool getFSID(const QString& path, QString& id) override;
    bool isSymbolicLink(const QString& path) override;

protected:
    // Copies up to length bytes between the descriptors at their current offsets. Answers the
    // number of bytes copied (0 at the end of the source), or -1 with errno set.
    virtual qint64 copyChunk(int from, int to, qint64 length);
    // Opens an unnamed file in folder for writing: the descriptor, or -1 with errno set
    // (EOPNOTSUPP or EISDIR where the file system has no unnamed files).
    virtual int openTemporary(const QByteArray& folder);

private:
    struct Entry
    {
        QString name;
        bool isDirectory;
    };

    // The helpers below take the calling operation's record, so that their log lines and
    // exceptions name that operation.
    // True with the status of path, false when path is missing; throws for other errors.
    bool lookUp(const CCallSiteRecord& syCallSite, const QString& path, struct stat& status);
    bool lockProbe(const CCallSiteRecord& syCallSite, const QString& path, quint32 share);
    // Opens path for a change that needs access, so that no other open can take a conflicting
    // lock while it happens: the descriptor, to be closed after the change, or -1 for a link or
    // an object that cannot be opened (the change itself reports what is wrong with it). Throws
    // Locked with lockedText + path when another open denies that access.
    static int holdForChange(const CCallSiteRecord& syCallSite, const QString& path, quint32 access,
                             const QString& lockedText);
    // Throws Locked for the first object below path that another open keeps from being deleted.
    static void requireTreeUnlocked(const CCallSiteRecord& syCallSite, const QString& path);
    // Throws Locked "Directory is locked: " (with the "Directory locked" line) when another open
    // keeps an object below path from being renamed.
    void requireNothingHeldInside(const CCallSiteRecord& syCallSite, const QString& path);
    // Whether an object below path has one of the identities in held.
    static bool holdsAny(const QString& path, const QSet<QString>& held);
    bool copyDirContents(const QString& src, const QString& dest);
    // 0, or the errno value of the failed step; sourceSide tells which path it concerned.
    int copyObject(const QString& src, const QString& dest, bool& sourceSide);
    // Writes the copy of the open input with status to dest, unnamed until complete or under a
    // hidden name: 0 or errno (EOPNOTSUPP: no unnamed file can be made or named here).
    int writeCopy(int input, const struct stat& status, const QString& dest, bool unnamed);
    int copyContents(int from, int to);
    void createParent(const CCallSiteRecord& syCallSite, const QString& path);
    // After a failed creation of path: with force creates the missing parent and returns, so
    // that the caller tries again; otherwise throws what the error means.
    void createdParentAfter(const CCallSiteRecord& syCallSite, int error, const QString& path,
                            bool force, bool isDirectory);
    bool renameWithRetries(const CCallSiteRecord& syCallSite, const QString& src,
                           const QString& dest, bool force, bool overwrite, bool isDirectory);
    // Syncs the folder of a moved object; when that fails, moves it back unless it replaced
    // something, and throws.
    void placeDurably(const CCallSiteRecord& syCallSite, const QString& src, const QString& dest,
                      bool overwrite, bool isDirectory);
    void requireSameParent(const CCallSiteRecord& syCallSite, const QString& src,
                           const QString& dest);
    // Throws Locked (with the "Directory locked" line) unless the write probe succeeds.
    void requireWriteLock(const CCallSiteRecord& syCallSite, const QString& path);
    // The clean of path, with remove(entry path, isDirectory) for each entry.
    bool removeEntries(const CCallSiteRecord& syCallSite, const QString& path,
                       const std::function<bool(const QString&, bool)>& remove);
    bool changeReadOnly(const CCallSiteRecord& syCallSite, const QString& path, quint32 attributes,
                        bool readOnly);
    void removeReadOnlyOrLog(const CCallSiteRecord& syCallSite, const QString& path);
    void rollbackCreatedDirectory(const CCallSiteRecord& syCallSite, const QString& path);
    void parkObject(const CCallSiteRecord& syCallSite, const QString& path, const QString& safePath,
                    bool isDirectory, bool overwrite);
    // Moves the object from its safe name back to path; a failure is logged with where the
    // object is left and thrown. rollingBack logs the success too: the operation has failed.
    void moveBack(const CCallSiteRecord& syCallSite, const QString& safePath, const QString& path,
                  bool isDirectory, bool rollingBack);
    // Puts back what a killed call left under safePath while nothing is at path.
    void restoreParked(const CCallSiteRecord& syCallSite, const QString& path,
                       const QString& safePath, bool isDirectory);
    // Moves from to to without force; any failure throws FileSystemException with details.
    void relocate(const CCallSiteRecord& syCallSite, const QString& from, const QString& to,
                  bool isDirectory, bool overwrite, const QString& details);
    // Removes a complete copy of src that a killed safe copy left under safePath.
    void removeFinishedCopy(const CCallSiteRecord& syCallSite, const QString& src,
                            const QString& safePath);
    // Gives src the second name safePath: true, or false where hard links are refused; throws
    // "Could not rename file to safe name: " for any other failure.
    bool parkAsLink(const CCallSiteRecord& syCallSite, const QString& src, const QString& safePath);
    // Removes name when it is a second link of the file at kept, and syncs its folder.
    static void dropSecondName(const QString& name, const QString& kept);
    static bool sameFile(const QString& first, const QString& second);
    bool deleteParked(const CCallSiteRecord& syCallSite, const QString& path,
                      const QString& safePath, bool force, bool isDirectory);
    bool placeParked(const CCallSiteRecord& syCallSite, const QString& src, const QString& dest,
                     const QString& safePath, bool force, bool overwrite, bool isDirectory);
    [[noreturn]] static void throwSystemError(const CCallSiteRecord& syCallSite, int error);
    // DoesNotExist when error says path or a parent is missing, else the system error.
    [[noreturn]] static void throwPathError(const CCallSiteRecord& syCallSite, int error,
                                            const QString& path);
    static QString parentOf(const CCallSiteRecord& syCallSite, const QString& path);
    // 0 with the entries of path (without "." and ".."), or the errno value of the listing.
    static int listDirectory(const QString& path, QList<Entry>& entries);
};
