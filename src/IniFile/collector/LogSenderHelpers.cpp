#include "IniFile/collector/LogSenderHelpers.h"

#include "IniFile/collector/CPlacedArchive.h"
#include "dbapi/CPathOperations.h"
#include "system/CFSVolumeInformation.h"
#include "system/CShellGlobal.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QStorageInfo>

namespace LogSenderHelpers {

namespace {
const QString fallbackOutputFolder =
    QCoreApplication::translate("CLogFilesSender", "Syncarium/logsForSend/");
} // namespace

const QString partialNoteStem = QStringLiteral("syncarium-sendLogFiles-partial-");

// An archive is written under this name and gets its own only once it is complete, so an
// interrupted run never leaves a file that looks like a finished archive.
QString partialName(const QString& archive)
{
    return QLatin1Char('.') + archive + QStringLiteral(".part");
}

const QRegularExpression& partialPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\.logs_\\d{4}-\\d\\d-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d\\.zip\\.part$"));
    return pattern;
}

QString withSlash(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

TRoom roomIn(const QString& folder)
{
    const CFSVolumeInformation volume(folder);
    return {folder, QStorageInfo(folder).rootPath(), volume.freeBytesAvailable,
            volume.totalBytes > 0};
}

QString dataSize(quint64 bytes)
{
    return QLocale().formattedDataSize(static_cast<qint64>(bytes));
}

QString roomText(const TRoom& room)
{
    return QCoreApplication::translate("CLogFilesSender", "%1 has %2 free")
        .arg(QDir::toNativeSeparators(room.folder), dataSize(room.free));
}

// The folder under the application data that takes the archive when the desktop cannot;
// created when missing.
QString fallbackFolder()
{
    const QString folder = CShellGlobal::getShellSpecialFolderPath(APPDATA) + fallbackOutputFolder;
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    return withSlash(folder);
}

// The desktop when it can take the archive, else the fallback folder; created when missing.
QString chooseOutputFolder()
{
    // Without HOME there is no desktop to look for; the toolkit's home would be "/". The
    // folder settings are read as the desktop's own tools read them, escapes included.
    QString folder = qEnvironmentVariableIsEmpty("HOME")
                         ? QString()
                         : CShellGlobal::getShellSpecialFolderPath(DESKTOPDIRECTORY);
    if (!folder.isEmpty())
        folder = CPathOperations::toGenericPath(folder, false);
    if (!folder.isEmpty() && !QDir::isRelativePath(folder)) {
        if (!QFileInfo(folder).isDir())
            QDir().mkpath(folder);
        const QFileInfo desktop(folder);
        if (desktop.isDir() && desktop.isWritable())
            return withSlash(folder);
    }
    return fallbackFolder();
}

// The path with backslashes, double quotes, control characters and the replacement character
// as escapes, so that a record stays one line and names the entry unmistakably.
QString escaped(const QString& path)
{
    QString text;
    for (const char32_t code : path.toUcs4()) {
        if (code == U'"' || code == U'\\')
            text += QLatin1Char('\\') + QChar(code);
        else if (QChar::isPrint(code) && code != QChar::ReplacementCharacter)
            text += QString::fromUcs4(&code, 1);
        else
            text += QStringLiteral("\\u{%1}").arg(quint32(code), 0, 16);
    }
    return text;
}

QString quoted(const QString& path)
{
    return QLatin1Char('"') + escaped(path) + QLatin1Char('"');
}

QString partialNote(qint64 process)
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty()
               ? QString()
               : runtime + QLatin1Char('/') + partialNoteStem + QString::number(process);
}

// Why an entry that should be copied as a file cannot be; empty when it can. A special file
// is recognised before anything opens it, so a FIFO without a writer never blocks the run.
QString unstageable(const QFileInfo& entry)
{
    if (entry.isSymLink())
        return QStringLiteral("symbolic links are not followed");
    if (!entry.exists())
        return QStringLiteral("it disappeared");
    if (entry.isDir())
        return QStringLiteral("a folder stands where a file is expected");
    if (!entry.isFile())
        return QStringLiteral("a FIFO, socket or device is never read");
    if (!entry.isReadable())
        return QStringLiteral("it is not readable");
    return QString();
}

// Whether a file that is not staged keeps a log from the archive: a link, a folder or a special
// file holds none, and one that disappeared was removed by the client itself.
bool holdsLogs(const QFileInfo& entry)
{
    return !entry.isSymLink() && entry.isFile();
}

// Whether the folder inner is outer or lies below it, however either is reached: links and
// bind mounts give one folder several paths, so the folders are compared, not their paths.
bool liesWithin(const QString& inner, const QString& outer)
{
    QString path = QFileInfo(inner).canonicalFilePath();
    while (!path.isEmpty()) {
        if (CPlacedArchive::sameObject(path, outer))
            return true;
        if (path == QLatin1String("/"))
            break;
        path = QFileInfo(path).path();
    }
    return false;
}

} // namespace LogSenderHelpers
