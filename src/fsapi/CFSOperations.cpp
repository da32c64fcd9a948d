#include "fsapi/CFSOperations.h"

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"
#include "fsapi/FSArgumentChecks.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/FileSystemExceptions.h"
#include "threading/threads/CCallStack.h"

#include <QCryptographicHash>
#include <QDir>

#include <functional>
#include <utility>

namespace {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// A native path joined from its parts; an absolute first part keeps its root.
QString joinNative(const QString& first, const QString& second, const QString& extension)
{
    const QString joined = CPathOperations::joinPath(first, second, extension, true, false);
    if (first.startsWith(QDir::separator()) && !joined.startsWith(QDir::separator()))
        return QDir::separator() + joined;
    return joined;
}

// The name in folder an exchange of incoming into original parks under, begun with "~": one
// for each pair, so that exchanges of other files never meet it and the next exchange of the
// same pair finds what a killed one left. Every move onto it is made without replacing.
QString parkFor(const QString& folder, const QString& incoming, const QString& original)
{
    const QByteArray pair = incoming.toUtf8() + '\0' + original.toUtf8();
    const QByteArray digest = QCryptographicHash::hash(pair, QCryptographicHash::Sha256).toHex();
    return joinNative(folder, QStringLiteral("~") + QString::fromLatin1(digest.left(16)),
                      QString());
}

// Runs step; when it fails (false or an exception), undo puts back what came before.
bool undoUnless(const std::function<bool()>& step, const std::function<void()>& undo)
{
    bool done = false;
    try {
        done = step();
    } catch (const Exceptions::FileSystemException&) {
        undo();
        throw;
    }
    if (!done)
        undo();
    return done;
}

} // namespace

template<typename... Parameters, typename... Arguments>
bool CFSOperations::forward(bool (IFSOperations::*operation)(Parameters...),
                            Arguments&&... arguments)
{
    return impl && (impl.get()->*operation)(std::forward<Arguments>(arguments)...);
}

CFSOperations::CFSOperations() : impl(createPlatformFSOperations()) {}

CFSOperations::CFSOperations(std::unique_ptr<IFSOperations> implementation)
    : impl(std::move(implementation))
{}

CFSOperations::~CFSOperations() = default;

bool CFSOperations::safeExchangeFile(const QString& xchgIn, const QString& xchgOut,
                                     const QString& originalPath, const QString& xchgSrcName,
                                     const QString& originalName, const QDateTime& created,
                                     const QDateTime& modified)
{
    SY_FUNCTION("CFSOperations::safeExchangeFile");
    return internalSafeExchangeFile(native(xchgIn), native(xchgOut), native(originalPath),
                                    native(xchgSrcName), native(originalName), created, modified);
}

bool CFSOperations::tryExclusiveLock(const QString& path)
{
    SY_FUNCTION("CFSOperations::tryExclusiveLock");
    return forward(&IFSOperations::tryExclusiveLock, native(path));
}

bool CFSOperations::tryWriteLock(const QString& path)
{
    SY_FUNCTION("CFSOperations::tryWriteLock");
    return forward(&IFSOperations::tryWriteLock, native(path));
}

bool CFSOperations::fileExists(const QString& path)
{
    SY_FUNCTION("CFSOperations::fileExists");
    return forward(&IFSOperations::fileExists, native(path));
}

bool CFSOperations::directoryExists(const QString& path)
{
    SY_FUNCTION("CFSOperations::directoryExists");
    return forward(&IFSOperations::directoryExists, native(path));
}

bool CFSOperations::copyFile(const QString& src, const QString& dest, bool force, bool checkLock,
                             bool failIfExists)
{
    SY_FUNCTION("CFSOperations::copyFile");
    return forward(&IFSOperations::copyFile, native(src), native(dest), force, checkLock,
                   failIfExists);
}

bool CFSOperations::safeCopyFile(const QString& src, const QString& dest, const QString& safePath,
                                 bool force, bool checkLock, bool failIfExists)
{
    SY_FUNCTION("CFSOperations::safeCopyFile");
    return forward(&IFSOperations::safeCopyFile, native(src), native(dest), native(safePath), force,
                   checkLock, failIfExists);
}

bool CFSOperations::copyDirectory(const QString& src, const QString& dest)
{
    SY_FUNCTION("CFSOperations::copyDirectory");
    return forward(&IFSOperations::copyDirectory, native(src), native(dest));
}

bool CFSOperations::createFile(const QString& path, const QDateTime& creation,
                               const QDateTime& lastAccess, const QDateTime& lastWrite,
                               quint32 attributes)
{
    SY_FUNCTION("CFSOperations::createFile");
    return forward(&IFSOperations::createFile, native(path), creation, lastAccess, lastWrite,
                   attributes);
}

bool CFSOperations::createDirectory(const QString& path, const QDateTime& creation,
                                    const QDateTime& lastAccess, const QDateTime& lastWrite,
                                    quint32 attributes, bool force)
{
    SY_FUNCTION("CFSOperations::createDirectory");
    return forward(&IFSOperations::createDirectory, native(path), creation, lastAccess, lastWrite,
                   attributes, force);
}

bool CFSOperations::safeCreateDirectory(const QString& path, const QString& safePath,
                                        const QDateTime& creation, const QDateTime& lastAccess,
                                        const QDateTime& lastWrite, quint32 attributes, bool force)
{
    SY_FUNCTION("CFSOperations::safeCreateDirectory");
    return forward(&IFSOperations::safeCreateDirectory, native(path), native(safePath), creation,
                   lastAccess, lastWrite, attributes, force);
}

bool CFSOperations::renameFile(const QString& src, const QString& dest, bool overwrite)
{
    SY_FUNCTION("CFSOperations::renameFile");
    return forward(&IFSOperations::renameFile, native(src), native(dest), overwrite);
}

bool CFSOperations::safeRenameFile(const QString& src, const QString& dest, const QString& safePath,
                                   bool overwrite)
{
    SY_FUNCTION("CFSOperations::safeRenameFile");
    return forward(&IFSOperations::safeRenameFile, native(src), native(dest), native(safePath),
                   overwrite);
}

bool CFSOperations::renameDirectory(const QString& src, const QString& dest)
{
    SY_FUNCTION("CFSOperations::renameDirectory");
    return forward(&IFSOperations::renameDirectory, native(src), native(dest));
}

bool CFSOperations::safeRenameDirectory(const QString& src, const QString& dest,
                                        const QString& safePath)
{
    SY_FUNCTION("CFSOperations::safeRenameDirectory");
    return forward(&IFSOperations::safeRenameDirectory, native(src), native(dest),
                   native(safePath));
}

bool CFSOperations::moveFile(const QString& src, const QString& dest, bool force, bool overwrite)
{
    SY_FUNCTION("CFSOperations::moveFile");
    return forward(&IFSOperations::moveFile, native(src), native(dest), force, overwrite);
}

bool CFSOperations::safeMoveFile(const QString& src, const QString& dest, const QString& safePath,
                                 bool force, bool overwrite)
{
    SY_FUNCTION("CFSOperations::safeMoveFile");
    return forward(&IFSOperations::safeMoveFile, native(src), native(dest), native(safePath), force,
                   overwrite);
}

bool CFSOperations::moveDirectory(const QString& src, const QString& dest, bool force)
{
    SY_FUNCTION("CFSOperations::moveDirectory");
    return forward(&IFSOperations::moveDirectory, native(src), native(dest), force);
}

bool CFSOperations::safeMoveDirectory(const QString& src, const QString& dest,
                                      const QString& safePath, bool force)
{
    SY_FUNCTION("CFSOperations::safeMoveDirectory");
    return forward(&IFSOperations::safeMoveDirectory, native(src), native(dest), native(safePath),
                   force);
}

bool CFSOperations::deleteFile(const QString& path, bool force)
{
    SY_FUNCTION("CFSOperations::deleteFile");
    return forward(&IFSOperations::deleteFile, native(path), force);
}

bool CFSOperations::safeDeleteFile(const QString& path, const QString& safePath, bool force)
{
    SY_FUNCTION("CFSOperations::safeDeleteFile");
    return forward(&IFSOperations::safeDeleteFile, native(path), native(safePath), force);
}

bool CFSOperations::deleteDirectory(const QString& path, bool force)
{
    SY_FUNCTION("CFSOperations::deleteDirectory");
    return forward(&IFSOperations::deleteDirectory, native(path), force);
}

bool CFSOperations::safeDeleteDirectory(const QString& path, const QString& safePath, bool force)
{
    SY_FUNCTION("CFSOperations::safeDeleteDirectory");
    return forward(&IFSOperations::safeDeleteDirectory, native(path), native(safePath), force);
}

bool CFSOperations::cleanDirectory(const QString& path, bool force)
{
    SY_FUNCTION("CFSOperations::cleanDirectory");
    return forward(&IFSOperations::cleanDirectory, native(path), force);
}

bool CFSOperations::safeCleanDirectory(const QString& path, const QString& safePath, bool force)
{
    SY_FUNCTION("CFSOperations::safeCleanDirectory");
    return forward(&IFSOperations::safeCleanDirectory, native(path), native(safePath), force);
}

bool CFSOperations::setTimeStamps(const QString& path, const QDateTime& creation,
                                  const QDateTime& lastAccess, const QDateTime& lastWrite,
                                  bool isDirectory)
{
    SY_FUNCTION("CFSOperations::setTimeStamps");
    return forward(&IFSOperations::setTimeStamps, native(path), creation, lastAccess, lastWrite,
                   isDirectory);
}

bool CFSOperations::safeSetTimeStamps(const QString& path, const QString& safePath,
                                      const QDateTime& creation, const QDateTime& lastAccess,
                                      const QDateTime& lastWrite, bool isDirectory)
{
    SY_FUNCTION("CFSOperations::safeSetTimeStamps");
    return forward(&IFSOperations::safeSetTimeStamps, native(path), native(safePath), creation,
                   lastAccess, lastWrite, isDirectory);
}

bool CFSOperations::setAttributes(const QString& path, quint32 attributes)
{
    SY_FUNCTION("CFSOperations::setAttributes");
    return forward(&IFSOperations::setAttributes, native(path), attributes);
}

bool CFSOperations::removeAttributes(const QString& path, quint32 attributes)
{
    SY_FUNCTION("CFSOperations::removeAttributes");
    return forward(&IFSOperations::removeAttributes, native(path), attributes);
}

bool CFSOperations::getFSID(const QString& path, QString& id)
{
    SY_FUNCTION("CFSOperations::getFSID");
    return forward(&IFSOperations::getFSID, native(path), id);
}

bool CFSOperations::isSymbolicLink(const QString& path)
{
    SY_FUNCTION("CFSOperations::isSymbolicLink");
    return forward(&IFSOperations::isSymbolicLink, native(path));
}

bool CFSOperations::internalSafeExchangeFile(const QString& xchgIn, const QString& xchgOut,
                                             const QString& originalPath,
                                             const QString& xchgSrcName,
                                             const QString& originalName, const QDateTime& created,
                                             const QDateTime& modified)
{
    SY_FUNCTION("CFSOperations::internalSafeExchangeFile");
    if (!impl)
        return false;
    if (xchgIn.isEmpty() || xchgOut.isEmpty() || originalPath.isEmpty() || xchgSrcName.isEmpty() ||
        originalName.isEmpty()) {
        SY_CRITICAL << "Empty path ...";
        SY_CRITICAL << "XChgIn:" << xchgIn << "XChgOut:" << xchgOut
                    << "XChgSrcName:" << xchgSrcName;
        SY_CRITICAL << "OriginalPath:" << originalPath << "OriginalName:" << originalName;
        return false;
    }
    for (const QString* path : {&xchgIn, &xchgOut, &originalPath, &xchgSrcName, &originalName}) {
        if (FSArgumentChecks::hasNullCharacter(*path)) {
            SY_CRITICAL << "Null character in path" << FSArgumentChecks::printable(*path);
            return false;
        }
    }
    try {
        const QString original = joinNative(originalPath, originalName, QString());
        const QString templatePath = joinNative(original, QString(), QStringLiteral("syncarium"));
        const QString incoming = joinNative(xchgIn, xchgSrcName, QString());
        const QString park = parkFor(originalPath, incoming, original);
        // A killed exchange of the same pair may have left the incoming version parked.
        if (impl->fileExists(park) && !impl->fileExists(incoming)) {
            SY_WARNING << "the incoming version is back at" << incoming << "from" << park;
            impl->moveFile(park, incoming, false, false);
        }

        const bool originalExists = impl->fileExists(original);
        if (originalExists)
            impl->removeAttributes(original, FSAttributes::ReadOnly);
        const bool templateExists = impl->fileExists(templatePath);
        if (templateExists)
            impl->removeAttributes(templatePath, FSAttributes::ReadOnly);

        if (originalExists && templateExists)
            return exchangeBoth(original, park, templatePath, incoming, created, modified);
        if (originalExists)
            return exchangeNormal(original, park, incoming, created, modified);
        if (templateExists)
            return exchangeTemplateFile(original, park, templatePath, incoming, created, modified);
        return exchangeNewFile(original, park, incoming, created, modified);
    } catch (const Exceptions::FileSystemException& exception) {
        SY_CRITICAL << exception.what();
        return false;
    }
}

bool CFSOperations::exchangeBoth(const QString& original, const QString& park,
                                 const QString& templatePath, const QString& incoming,
                                 const QDateTime& created, const QDateTime& modified)
{
    SY_FUNCTION("CFSOperations::exchangeBoth");
    return exchangeNormal(original, park, incoming, created, modified) &&
           removeTemplate(templatePath);
}

bool CFSOperations::exchangeNormal(const QString& original, const QString& park,
                                   const QString& incoming, const QDateTime& created,
                                   const QDateTime& modified)
{
    SY_FUNCTION("CFSOperations::exchangeNormal");
    // The incoming version replaces the current one in a single rename, made once the new
    // data is on the disk: the original path holds one whole version at every moment, and
    // the current version goes only with that rename. A failure before it leaves the current
    // version untouched in place, so nothing has to leave through the outgoing folder.
    return exchangeNewFile(original, park, incoming, created, modified);
}

bool CFSOperations::exchangeTemplateFile(const QString& original, const QString& park,
                                         const QString& templatePath, const QString& incoming,
                                         const QDateTime& created, const QDateTime& modified)
{
    SY_FUNCTION("CFSOperations::exchangeTemplateFile");
    return exchangeNewFile(original, park, incoming, created, modified) &&
           removeTemplate(templatePath);
}

bool CFSOperations::removeTemplate(const QString& templatePath)
{
    return !impl->fileExists(templatePath) || impl->deleteFile(templatePath, false);
}

bool CFSOperations::exchangeNewFile(const QString& original, const QString& park,
                                    const QString& incoming, const QDateTime& created,
                                    const QDateTime& modified)
{
    SY_FUNCTION("CFSOperations::exchangeNewFile");
    if (!impl->moveFile(incoming, park, false, false))
        return false;
    return undoUnless(
        [&] {
            return impl->setTimeStamps(park, created, modified, modified, false) &&
                   impl->moveFile(park, original, false, true);
        },
        [&] { impl->moveFile(park, incoming, false, false); });
}
