#include "fsFilter/CFSFileTypes.h"

bool CFSFileTypes::groups(QStringList& groupNames) const
{
    groupNames.clear();
    QMap<QString, bool> seen;
    for (const QString& group : typeGroups)
        seen.insert(group, true);
    groupNames = seen.keys();
    return !groupNames.isEmpty();
}

bool CFSFileTypes::typesOfGroup(const QString& group, QStringList& typeNames) const
{
    typeNames.clear();
    for (auto it = typeGroups.cbegin(); it != typeGroups.cend(); ++it) {
        if (it.value() == group)
            typeNames.append(it.key());
    }
    return !typeNames.isEmpty();
}

bool CFSFileTypes::groupOfType(const QString& type, QString& group) const
{
    group.clear();
    const auto it = typeGroups.constFind(type);
    if (it == typeGroups.cend())
        return false;
    group = it.value();
    return true;
}

bool CFSFileTypes::types(QStringList& typeNames) const
{
    typeNames = typeEntries.keys();
    return !typeNames.isEmpty();
}

bool CFSFileTypes::entriesOfType(const QString& type, QStringList& entries) const
{
    entries.clear();
    const auto it = typeEntries.constFind(type);
    if (it == typeEntries.cend())
        return false;
    entries = it.value();
    return true;
}

bool CFSFileTypes::hasType(const QString& type) const
{
    return typeEntries.contains(type);
}

bool CFSFileTypes::hasGroup(const QString& group) const
{
    for (const QString& value : typeGroups) {
        if (value == group)
            return true;
    }
    return false;
}

void CFSFileTypes::setType(const QString& group, const QString& type, const QStringList& entries)
{
    setGroup(type, group);
    setEntries(type, entries);
}

void CFSFileTypes::setEntries(const QString& type, const QStringList& entries)
{
    typeEntries.insert(type, entries);
}

bool CFSFileTypes::addType(const QString& group, const QString& type, const QStringList& entries)
{
    const auto it = typeGroups.constFind(type);
    if (it != typeGroups.cend() && it.value() != group)
        return false;
    typeGroups.insert(type, group);
    typeEntries[type].append(entries);
    return true;
}

bool CFSFileTypes::addEntries(const QString& type, const QStringList& entries)
{
    typeEntries[type].append(entries);
    return true;
}

bool CFSFileTypes::removeType(const QString& type)
{
    return typeEntries.remove(type) > 0;
}

bool CFSFileTypes::removeGroupEntries(const QString& group)
{
    bool found = false;
    for (auto it = typeGroups.cbegin(); it != typeGroups.cend(); ++it) {
        if (it.value() == group) {
            typeEntries.remove(it.key());
            found = true;
        }
    }
    return found;
}

void CFSFileTypes::setGroup(const QString& type, const QString& group)
{
    typeGroups.insert(type, group);
}

bool CFSFileTypes::removeGroup(const QString& group)
{
    return typeGroups.removeIf([&group](const auto& item) { return item.value() == group; }) > 0;
}
