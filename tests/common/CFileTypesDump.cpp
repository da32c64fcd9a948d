#include "common/CFileTypesDump.h"

#include "fsFilter/CFSFileTypes.h"

#include <QStringList>

QString dumpFileTypes(const CFSFileTypes& table)
{
    QStringList names = table.groupsByType().keys() + table.entriesByType().keys();
    names.removeDuplicates();
    names.sort();
    QStringList parts;
    for (const QString& name : std::as_const(names)) {
        const QString group = table.groupsByType().value(name, QStringLiteral("-"));
        const auto entries = table.entriesByType().constFind(name);
        parts.append(name + u'@' + group + u'=' +
                     (entries == table.entriesByType().cend() ? QStringLiteral("(none)")
                                                              : entries->join(u',')));
    }
    return parts.join(u' ');
}
