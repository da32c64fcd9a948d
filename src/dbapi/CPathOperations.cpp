#include "dbapi/CPathOperations.h"

#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QDir>

#include <algorithm>

namespace {

const qsizetype separatorLength = CPathOperations::platformLength(QString(QDir::separator()));

QChar separator(bool native)
{
    return native ? QDir::separator() : QLatin1Char('/');
}

// A dot at position 2 or later starts the extension; a dot at position 1 does not.
void splitExtension(QString& name, QString& extension)
{
    const qsizetype dot = name.indexOf(QLatin1Char('.'), 1);
    if (dot >= 2) {
        extension = name.mid(dot);
        name.truncate(dot);
    } else {
        extension.clear();
    }
}

QString utcStamp(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyMMddhhmmss"));
}

} // namespace

void CPathOperations::ensureSeparators(QString& path, bool native)
{
    const QChar sep = separator(native);
    if (path.isEmpty()) {
        path = sep;
        return;
    }
    if (!path.startsWith(sep))
        path.prepend(sep);
    if (!path.endsWith(sep))
        path.append(sep);
}

void CPathOperations::stripSeparators(QString& path, bool native)
{
    const QChar sep = separator(native);
    if (path.isEmpty()) {
        path = sep;
        return;
    }
    qsizetype begin = 0;
    while (begin < path.size() && path.at(begin) == sep)
        ++begin;
    qsizetype end = path.size();
    while (end > begin && path.at(end - 1) == sep)
        --end;
    path = path.mid(begin, end - begin);
}

QString CPathOperations::toGenericPath(const QString& path, bool ensure)
{
    QString result = QDir::fromNativeSeparators(path);
    if (ensure)
        ensureSeparators(result, false);
    return result;
}

QString CPathOperations::toNativePath(const QString& path, bool ensure)
{
    QString result = QDir::toNativeSeparators(path);
    if (ensure)
        ensureSeparators(result, true);
    return result;
}

QString CPathOperations::joinPath(const QString& first, const QString& second,
                                  const QString& extension, bool native, bool ensure)
{
    if (first.isEmpty() && second == QLatin1String("/"))
        return QStringLiteral("/");
    const QChar sep = separator(native);
    QString result = first;
    stripSeparators(result, native);
    if (!second.isEmpty()) {
        QString part = second;
        stripSeparators(part, native);
        result += sep + part;
    }
    if (!extension.isEmpty()) {
        QString part = extension;
        stripSeparators(part, native);
        result += QLatin1Char('.') + part;
    }
    if (ensure)
        ensureSeparators(result, native);
    return result;
}

QString CPathOperations::joinDirPath(const QString& first, const QString& second, bool native)
{
    QString head = toGenericPath(first, false);
    stripSeparators(head, false);
    QString tail = second;
    ensureSeparators(tail, native);
    return head + tail;
}

QString CPathOperations::makeSpaceRelativePath(const QString& spacePath, const QString& path,
                                               bool native, bool withSeparators)
{
    SY_FUNCTION("CPathOperations::makeSpaceRelativePath");
    if (spacePath.isEmpty()) {
        SY_CRITICAL << "spacePath is empty !!!";
        return native ? toNativePath(path, false) : path;
    }
    if (path.isEmpty())
        return separator(native);
    QString root = toGenericPath(spacePath, false);
    QString result = toGenericPath(path, false);
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    if (result.startsWith(root))
        result.remove(0, root.size());
    if (withSeparators)
        ensureSeparators(result, false);
    else
        stripSeparators(result, false);
    return native ? toNativePath(result, false) : result;
}

QStringList CPathOperations::splitPathComponents(const QString& path, bool native)
{
    SY_FUNCTION("CPathOperations::splitPathComponents");
    if (path.isEmpty()) {
        SY_CRITICAL << "path is empty !!!";
        return QStringList();
    }
    const QString converted = native ? toNativePath(path, false) : toGenericPath(path, false);
    return converted.split(separator(native), Qt::SkipEmptyParts);
}

bool CPathOperations::buildPathHierarchy(const QString& path, QStringList& parents,
                                         QStringList& names, bool native, bool withSeparators)
{
    SY_FUNCTION("CPathOperations::buildPathHierarchy");
    if (path.isEmpty())
        return false;
    const QString sep = separator(native);
    names = splitPathComponents(path, native);
    parents.clear();
    if (names.isEmpty()) {
        parents.append(QString());
        names.append(sep);
    } else {
        QString prefix = withSeparators ? sep : QString();
        parents.append(prefix);
        for (qsizetype i = 0; i + 1 < names.size(); ++i) {
            if (withSeparators) {
                prefix += names.at(i) + sep;
                parents.append(prefix);
            } else {
                prefix += names.at(i);
                parents.append(prefix);
                prefix += sep;
            }
        }
    }
    parents.prepend(QString());
    names.prepend(sep);
    return parents.size() == names.size();
}

bool CPathOperations::splitPath(const QString& path, QString& parent, QString& name, bool native,
                                bool withSeparators)
{
    SY_FUNCTION("CPathOperations::splitPath");
    if (path.isEmpty()) {
        SY_CRITICAL << "path is empty !!!";
        return false;
    }
    QStringList parents;
    QStringList names;
    if (!buildPathHierarchy(path, parents, names, native, withSeparators) || parents.isEmpty() ||
        names.isEmpty()) {
        SY_CRITICAL << "error generating scattered path hierarchy ...";
        return false;
    }
    parent = parents.last();
    name = names.last();
    return true;
}

bool CPathOperations::splitPath(const QString& path, QString& parent, QString& name,
                                QString& extension, bool native, bool withSeparators)
{
    SY_FUNCTION("CPathOperations::splitPath");
    if (!splitPath(path, parent, name, native, withSeparators))
        return false;
    splitExtension(name, extension);
    return true;
}

QString CPathOperations::parentPath(const QString& path, bool native, bool withSeparators)
{
    SY_FUNCTION("CPathOperations::parentPath");
    if (path.isEmpty()) {
        SY_CRITICAL << "path is empty !!!";
        return QString();
    }
    QStringList parents;
    QStringList names;
    if (!buildPathHierarchy(path, parents, names, native, withSeparators) || parents.isEmpty() ||
        names.isEmpty()) {
        SY_CRITICAL << "error generating scattered path hierarchy ...";
        return QString();
    }
    return parents.last();
}

QString CPathOperations::buildTimestampedName(const QString& name, const QDateTime& time,
                                              const QString& tag)
{
    QString base = name;
    QString extension;
    splitExtension(base, extension);
    return QStringLiteral("%1(%2-%3)%4").arg(base, utcStamp(time), tag, extension);
}

QString CPathOperations::buildTaggedName(const QString& name, const QDateTime& time,
                                         const QString& tag)
{
    QString base = name;
    QString extension;
    splitExtension(base, extension);
    return QStringLiteral("%1(%2-%3)%4").arg(base, tag, utcStamp(time), extension);
}

bool CPathOperations::isPathTooLong(const QString& first, const QString& second,
                                    const QString& name, bool isDirectoryOnly)
{
    SY_FUNCTION("CPathOperations::isPathTooLong");
    const qsizetype firstLength = platformLength(first);
    const qsizetype secondLength = platformLength(second);
    const qsizetype nameLength = platformLength(name);
    const qsizetype length = firstLength + secondLength + nameLength - separatorLength;
    const qsizetype longestName =
        std::max({longestNameLength(first), longestNameLength(second), longestNameLength(name)});
    const qsizetype directoryLength =
        isDirectoryOnly ? length : platformLength(joinDirPath(first, second, false));
    const bool tooLong = longestName > maxNameLength || directoryLength > maxDirectoryLength ||
                         (!isDirectoryOnly && length > maxPathLength);
    if (tooLong) {
        SY_CRITICAL << "path too long" << QStringLiteral("(%1)").arg(firstLength)
                    << QStringLiteral("(%1)").arg(secondLength)
                    << QStringLiteral("(%1)").arg(nameLength);
    }
    return tooLong;
}

int CPathOperations::compareByLength(const QString& a, const QString& b)
{
    if (a.size() < b.size())
        return -1;
    return a.size() > b.size() ? 1 : 0;
}

QDateTime CPathOperations::dateTimeFromMSecs(double milliseconds)
{
    return dateTimeFromMSecs(static_cast<qint64>(milliseconds));
}

QDateTime CPathOperations::dateTimeFromMSecs(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    const qint64 remainder = milliseconds - seconds * 1000;
    // The seconds are taken as an unsigned 32-bit count, so times before 1970 wrap around.
    const QDateTime time = QDateTime::fromSecsSinceEpoch(static_cast<quint32>(seconds), Qt::UTC);
    return time.addMSecs(remainder).toUTC();
}
