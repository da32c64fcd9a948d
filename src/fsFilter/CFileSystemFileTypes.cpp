#include "fsFilter/CFileSystemFileTypes.h"

#include "diagnostics/CLogRecord.h"
#include "fsFilter/CFSFileTypesFile.h"
#include "threading/threads/CCallStack.h"

#include <QFileInfo>

namespace {

const QString defaultFileName = QStringLiteral("default.ini");

} // namespace

CFileSystemFileTypes::CFileSystemFileTypes() = default;

CFileSystemFileTypes::~CFileSystemFileTypes() = default;

bool CFileSystemFileTypes::initialize()
{
    SY_FUNCTION("CFileSystemFileTypes::initialize");
    SY_DEBUG << "loading default file types file" << QFileInfo(defaultFileName).absoluteFilePath();
    // The file is read outside the lock; only the exchange of tables blocks the readers.
    CFSFileTypesFile file(defaultFileName);
    if (!file.load()) {
        SY_CRITICAL << "failed to load default file types file ...";
        return false;
    }
    std::unique_ptr<CFSFileTypes> loaded(file.getFileTypes());
    const QWriteLocker locker(&lock);
    fileTypes = std::move(loaded);
    return true;
}

bool CFileSystemFileTypes::groups(QStringList& groupNames) const
{
    const QReadLocker locker(&lock);
    groupNames.clear();
    return fileTypes && fileTypes->groups(groupNames);
}

bool CFileSystemFileTypes::typesOfGroup(const QString& group, QStringList& typeNames) const
{
    const QReadLocker locker(&lock);
    typeNames.clear();
    return fileTypes && fileTypes->typesOfGroup(group, typeNames);
}

bool CFileSystemFileTypes::groupOfType(const QString& type, QString& group) const
{
    const QReadLocker locker(&lock);
    group.clear();
    return fileTypes && fileTypes->groupOfType(type, group);
}

bool CFileSystemFileTypes::types(QStringList& typeNames) const
{
    const QReadLocker locker(&lock);
    typeNames.clear();
    return fileTypes && fileTypes->types(typeNames);
}

bool CFileSystemFileTypes::entriesOfType(const QString& type, QStringList& entries) const
{
    const QReadLocker locker(&lock);
    entries.clear();
    return fileTypes && fileTypes->entriesOfType(type, entries);
}

bool CFileSystemFileTypes::hasType(const QString& type) const
{
    const QReadLocker locker(&lock);
    return fileTypes && fileTypes->hasType(type);
}

bool CFileSystemFileTypes::hasGroup(const QString& group) const
{
    const QReadLocker locker(&lock);
    return fileTypes && fileTypes->hasGroup(group);
}

void CFileSystemFileTypes::setType(const QString& group, const QString& type,
                                   const QStringList& entries)
{
    const QWriteLocker locker(&lock);
    if (fileTypes)
        fileTypes->setType(group, type, entries);
}

void CFileSystemFileTypes::setEntries(const QString& type, const QStringList& entries)
{
    const QWriteLocker locker(&lock);
    if (fileTypes)
        fileTypes->setEntries(type, entries);
}

bool CFileSystemFileTypes::addType(const QString& group, const QString& type,
                                   const QStringList& entries)
{
    const QWriteLocker locker(&lock);
    return fileTypes && fileTypes->addType(group, type, entries);
}

bool CFileSystemFileTypes::addEntries(const QString& type, const QStringList& entries)
{
    const QWriteLocker locker(&lock);
    return fileTypes && fileTypes->addEntries(type, entries);
}

bool CFileSystemFileTypes::removeType(const QString& type)
{
    const QWriteLocker locker(&lock);
    return fileTypes && fileTypes->removeType(type);
}

bool CFileSystemFileTypes::removeGroupEntries(const QString& group)
{
    const QWriteLocker locker(&lock);
    return fileTypes && fileTypes->removeGroupEntries(group);
}

void CFileSystemFileTypes::setGroup(const QString& type, const QString& group)
{
    const QWriteLocker locker(&lock);
    if (fileTypes)
        fileTypes->setGroup(type, group);
}

bool CFileSystemFileTypes::removeGroup(const QString& group)
{
    const QWriteLocker locker(&lock);
    return fileTypes && fileTypes->removeGroup(group);
}
