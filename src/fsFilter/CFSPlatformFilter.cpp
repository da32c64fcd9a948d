#include "fsFilter/CFSPlatformFilter.h"

#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QRegularExpression>

namespace {

// Compiled once and only matched afterwards, which QRegularExpression allows from any thread.
QRegularExpression compiled(const QString& pattern, QRegularExpression::PatternOptions options)
{
    QRegularExpression expression(pattern, options);
    expression.optimize();
    return expression;
}

const QRegularExpression& invalidName()
{
    static const QRegularExpression expression = compiled(
        QStringLiteral(
            R"(^(?:CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]|CLOCK\$)$|[\s.]$|["<>:\\/|*?\x00-\x1F])"),
        QRegularExpression::CaseInsensitiveOption);
    return expression;
}

const QRegularExpression& invalidPath()
{
    static const QRegularExpression expression = compiled(
        QStringLiteral(R"([\s.]$|["<>:\\|*?\x00-\x1F])"), QRegularExpression::NoPatternOption);
    return expression;
}

const QRegularExpression& validFileName()
{
    static const QRegularExpression expression = compiled(
        QStringLiteral(
            R"(^[^\s."<>:\\/|*?\x00-\x1F](?:[^"<>:\\/|*?\x00-\x1F]*[^\s."<>:\\/|*?\x00-\x1F])?$)"),
        QRegularExpression::NoPatternOption);
    return expression;
}

const QRegularExpression& reservedFileName()
{
    static const QRegularExpression expression =
        compiled(QStringLiteral(R"(^(?:CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]|CLOCK\$)(?:\..*)?$)"),
                 QRegularExpression::CaseInsensitiveOption);
    return expression;
}

} // namespace

CFSPlatformFilter::CFSPlatformFilter() = default;

CFSPlatformFilter::CFSPlatformFilter(const CFSFilter& other) : CFSFilter(other) {}

CFSPlatformFilter::~CFSPlatformFilter() = default;

bool CFSPlatformFilter::isFiltered(const quint32& module, const QString& spacePath,
                                   const QString& path, const QString& name, quint32 options,
                                   bool isDirectory, quint32& type)
{
    const bool filtered =
        CFSFilter::isFiltered(module, spacePath, path, name, options, isDirectory, type);
    return report(filtered, relativePath(spacePath, path), name, type);
}

bool CFSPlatformFilter::isFileFiltered(const quint32& module, const QString& spacePath,
                                       const QString& path, const QString& name, quint32 options,
                                       quint32& type)
{
    const bool filtered = CFSFilter::isFileFiltered(module, spacePath, path, name, options, type);
    return report(filtered, relativePath(spacePath, path), name, type);
}

bool CFSPlatformFilter::isFiltered(const quint32& module, const QString& spacePath,
                                   const QString& path, const QString& name, bool isDirectory,
                                   quint32& type)
{
    const bool filtered = CFSFilter::isFiltered(module, spacePath, path, name, isDirectory, type);
    return report(filtered, relativePath(spacePath, path), name, type);
}

bool CFSPlatformFilter::isFileFiltered(const quint32& module, const QString& spacePath,
                                       const QString& path, const QString& name, quint32& type)
{
    const bool filtered = CFSFilter::isFileFiltered(module, spacePath, path, name, type);
    return report(filtered, relativePath(spacePath, path), name, type);
}

bool CFSPlatformFilter::isFilteredRelative(const quint32& module, const QString& relativePath,
                                           const QString& name, quint32 options, bool isDirectory,
                                           quint32& type)
{
    const bool filtered =
        CFSFilter::isFilteredRelative(module, relativePath, name, options, isDirectory, type);
    return report(filtered, relativePath, name, type);
}

bool CFSPlatformFilter::isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                               const QString& name, quint32 options, quint32& type)
{
    const bool filtered =
        CFSFilter::isFileFilteredRelative(module, relativePath, name, options, type);
    return report(filtered, relativePath, name, type);
}

bool CFSPlatformFilter::isFilteredRelative(const quint32& module, const QString& relativePath,
                                           const QString& name, bool isDirectory, quint32& type)
{
    const bool filtered =
        CFSFilter::isFilteredRelative(module, relativePath, name, isDirectory, type);
    return report(filtered, relativePath, name, type);
}

bool CFSPlatformFilter::isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                               const QString& name, quint32& type)
{
    const bool filtered = CFSFilter::isFileFilteredRelative(module, relativePath, name, type);
    return report(filtered, relativePath, name, type);
}

bool CFSPlatformFilter::report(bool filtered, const QString& relativePath, const QString& name,
                               quint32 type)
{
    if (filtered) {
        signalPathFiltered(spaceID(), relativePath, name, type);
        return true;
    }
    if (isInvalidName(name) || isInvalidPath(relativePath)) {
        signalPathInvalid(spaceID(), relativePath, name);
        return true;
    }
    return false;
}

void CFSPlatformFilter::signalPathFiltered(quint32 spaceID, const QString& path,
                                           const QString& name, quint32 type)
{
    SY_FUNCTION("CFSPlatformFilter::signalPathFiltered");
    // The client's own working files are hidden without a word: they turn up all the time.
    if (type == 0 || type == workingFileType)
        return;
    if (type == forkPathType || type == shortNameType)
        SY_CRITICAL << "found:" << spaceID << path << name << type;
    else
        SY_DEBUG << "filtering:" << spaceID << path << name << type;
    Q_EMIT pathFiltered(spaceID, path, name, type);
}

void CFSPlatformFilter::signalPathInvalid(quint32 spaceID, const QString& path, const QString& name)
{
    SY_FUNCTION("CFSPlatformFilter::signalPathInvalid");
    SY_CRITICAL << "found invalid path or name" << spaceID << path << name;
    Q_EMIT pathInvalid(spaceID, path, name);
}

bool CFSPlatformFilter::isInvalidName(const QString& name)
{
    return invalidName().match(name).hasMatch();
}

bool CFSPlatformFilter::isInvalidPath(const QString& path)
{
    return invalidPath().match(path).hasMatch();
}

bool CFSPlatformFilter::isValidFileName(const QString& name)
{
    return validFileName().match(name).hasMatch();
}

bool CFSPlatformFilter::isReservedFileName(const QString& name)
{
    return reservedFileName().match(name).hasMatch();
}
