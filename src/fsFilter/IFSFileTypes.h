#pragma once

#include <QString>
#include <QStringList>

// A table of file types: each type has a list of strings and belongs to at most one group.
// Out arguments are emptied first.
class IFSFileTypes
{
public:
    // Group names that hold at least one type, each once; false when no type has a group.
    virtual bool groups(QStringList& groupNames) const = 0;
    // The types of the group; false when it has none.
    virtual bool typesOfGroup(const QString& group, QStringList& typeNames) const = 0;
    // The type's group; false when it has none.
    virtual bool groupOfType(const QString& type, QString& group) const = 0;
    // Every type that has a list of strings; false when there is none.
    virtual bool types(QStringList& typeNames) const = 0;
    // The type's list of strings; false when it has none.
    virtual bool entriesOfType(const QString& type, QStringList& entries) const = 0;
    virtual bool hasType(const QString& type) const = 0;
    virtual bool hasGroup(const QString& group) const = 0;
    // Sets the type's group and replaces its list.
    virtual void setType(const QString& group, const QString& type, const QStringList& entries) = 0;
    // Replaces the type's list, adding the type when it is new.
    virtual void setEntries(const QString& type, const QStringList& entries) = 0;
    // Puts the type into the group and appends to its list; false, changing nothing, when the
    // type already belongs to another group (setType moves it).
    virtual bool addType(const QString& group, const QString& type, const QStringList& entries) = 0;
    // Appends to the type's list, creating it when new.
    virtual bool addEntries(const QString& type, const QStringList& entries) = 0;
    // Removes the type's list (its group stays); false when it had none.
    virtual bool removeType(const QString& type) = 0;
    // Removes the lists of the group's types (they stay in the group); false when it has none.
    virtual bool removeGroupEntries(const QString& group) = 0;
    // Sets or replaces the type's group.
    virtual void setGroup(const QString& type, const QString& group) = 0;
    // Takes every type out of the group (their lists stay); false when it has none.
    virtual bool removeGroup(const QString& group) = 0;

    virtual ~IFSFileTypes() = default;
};
