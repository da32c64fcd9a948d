#pragma once

#include "fsFilter/CFSFileTypes.h"
#include "fsFilter/IFSFileTypes.h"
#include "system/CSingleton.h"

#include <QReadWriteLock>

#include <memory>

// The process's file-types table, loaded from "default.ini" in the working directory. Queries
// share the lock, changes take it alone; without a table queries answer false and changes do
// nothing.
class CFileSystemFileTypes : public CSingleton<CFileSystemFileTypes>, public IFSFileTypes
{
public:
    // Loads "default.ini"; on failure the table held so far stays.
    [[nodiscard]] bool initialize();

    bool groups(QStringList& groupNames) const override;
    bool typesOfGroup(const QString& group, QStringList& typeNames) const override;
    bool groupOfType(const QString& type, QString& group) const override;
    bool types(QStringList& typeNames) const override;
    bool entriesOfType(const QString& type, QStringList& entries) const override;
    bool hasType(const QString& type) const override;
    bool hasGroup(const QString& group) const override;
    void setType(const QString& group, const QString& type, const QStringList& entries) override;
    void setEntries(const QString& type, const QStringList& entries) override;
    bool addType(const QString& group, const QString& type, const QStringList& entries) override;
    bool addEntries(const QString& type, const QStringList& entries) override;
    bool removeType(const QString& type) override;
    bool removeGroupEntries(const QString& group) override;
    void setGroup(const QString& type, const QString& group) override;
    bool removeGroup(const QString& group) override;
    ~CFileSystemFileTypes() override;

private:
    friend class CSingleton<CFileSystemFileTypes>;
    CFileSystemFileTypes();

    mutable QReadWriteLock lock;
    std::unique_ptr<CFSFileTypes> fileTypes;
};
