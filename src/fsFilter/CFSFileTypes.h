#pragma once

#include "fsFilter/IFSFileTypes.h"

#include <QMap>

// The plain file-types table: not locked, the owner serialises access.
class CFSFileTypes : public IFSFileTypes
{
public:
    CFSFileTypes() = default;
    CFSFileTypes(const CFSFileTypes& other) = default;
    CFSFileTypes& operator=(const CFSFileTypes& other) = default;

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
    ~CFSFileTypes() override = default;

    // Grouped types in the order of their names; used by the writer.
    const QMap<QString, QString>& groupsByType() const { return typeGroups; }
    const QMap<QString, QStringList>& entriesByType() const { return typeEntries; }

    bool operator==(const CFSFileTypes& other) const
    {
        return typeGroups == other.typeGroups && typeEntries == other.typeEntries;
    }
    bool operator!=(const CFSFileTypes& other) const { return !(*this == other); }

private:
    QMap<QString, QString> typeGroups;
    QMap<QString, QStringList> typeEntries;
};
