#pragma once

#include <QString>
#include <QtGlobal>

// The rule store that tells the client's modules which file-system entries to leave alone.
// A query names one module bit and one entry (its parent path and its name) and answers true
// when the entry is filtered; type receives the rule type that matched, 0 when none did.
class CFSFilter
{
public:
    virtual ~CFSFilter() = default;

    virtual bool isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                            const QString& name, bool isDirectory, quint32& type) = 0;
};
