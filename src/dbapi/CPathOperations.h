#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// String operations on paths shared by the whole library; none touches the file system.
// "Generic" paths use "/", "native" ones the platform's separator. Empty input is answered with
// a neutral result (and, where noted, a critical record), never with an exception.
class CPathOperations
{
public:
    // The platform's limits (defined with the platform's code), counted as platformLength
    // counts: the longest path, the longest directory path, the longest name in a path.
    static const int maxPathLength;
    static const int maxDirectoryLength;
    static const int maxNameLength;
    // The length of text as the platform's limits count it (on Linux, bytes of UTF-8).
    static qsizetype platformLength(const QString& text);
    // The platform length of the longest name (component) in path.
    static qsizetype longestNameLength(const QString& path);

    // In place: an empty path becomes the single separator; otherwise a separator is put in
    // front and at the end where missing.
    static void ensureSeparators(QString& path, bool native);
    // In place: an empty path becomes the single separator; otherwise all leading and trailing
    // separators go (a path of separators only becomes empty).
    static void stripSeparators(QString& path, bool native);
    static QString toGenericPath(const QString& path, bool ensure = false);
    static QString toNativePath(const QString& path, bool ensure = false);

    // first/second.extension, each part stripped of its outer separators.
    static QString joinPath(const QString& first, const QString& second,
                            const QString& extension = QString(), bool native = false,
                            bool ensure = false);
    // The directory path the length test measures: generic first, then second between
    // separators.
    static QString joinDirPath(const QString& first, const QString& second, bool native = false);

    // path relative to the space root spacePath.
    static QString makeSpaceRelativePath(const QString& spacePath, const QString& path,
                                         bool native = false, bool withSeparators = false);
    static QStringList splitPathComponents(const QString& path, bool native = false);
    // parents[i] is the parent path of names[i]; the first pair ("", separator) is the root.
    static bool buildPathHierarchy(const QString& path, QStringList& parents, QStringList& names,
                                   bool native = false, bool withSeparators = false);
    static bool splitPath(const QString& path, QString& parent, QString& name, bool native = false,
                          bool withSeparators = false);
    // As above; a name with a dot at position 2 or later loses its extension (dot included)
    // to extension.
    static bool splitPath(const QString& path, QString& parent, QString& name, QString& extension,
                          bool native = false, bool withSeparators = false);
    static QString parentPath(const QString& path, bool native = false,
                              bool withSeparators = false);

    // "base(yyMMddhhmmss-tag).ext" and "base(tag-yyMMddhhmmss).ext", the stamp in UTC.
    static QString buildTimestampedName(const QString& name, const QDateTime& time,
                                        const QString& tag);
    static QString buildTaggedName(const QString& name, const QDateTime& time, const QString& tag);

    // Whether first + second + name (joined by one separator), or a name in them, exceeds the
    // platform's limits.
    static bool isPathTooLong(const QString& first, const QString& second, const QString& name,
                              bool isDirectoryOnly);

    static int compareByLength(const QString& a, const QString& b);
    // Milliseconds since 1970-01-01 UTC as a UTC date-time.
    static QDateTime dateTimeFromMSecs(double milliseconds);
    static QDateTime dateTimeFromMSecs(qint64 milliseconds);
};
