#include "IniFile/collector/CSystemReport.h"

#include "system/CFSVolumeInformation.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QStringList>
#include <QSysInfo>

namespace {
QString variable(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QStringLiteral("(not set)") : value;
}

QString counted(const CSystemReport::TTally& tally)
{
    return QStringLiteral("%1 files, %2 bytes").arg(tally.files).arg(tally.bytes);
}

QString room(const QString& folder)
{
    const CFSVolumeInformation volume(folder);
    if (volume.totalBytes == 0)
        return QStringLiteral("unknown");
    return QStringLiteral("%1 bytes free of %2 bytes")
        .arg(volume.freeBytesAvailable)
        .arg(volume.totalBytes);
}
} // namespace

CSystemReport::TTally CSystemReport::tally(const QString& folder)
{
    TTally tally;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo file = it.fileInfo();
        if (file.isFile() && !file.isSymLink()) {
            ++tally.files;
            tally.bytes += file.size();
        }
    }
    return tally;
}

QByteArray CSystemReport::text(const TTally& packed, const TTally& leftOut,
                               const QString& logsFolder, const QString& spacesFolder,
                               const QString& desktop)
{
    const QStringList lines{
        QStringLiteral("Syncarium log sender: " SY_VERSION ", build " SY_BUILD),
        QStringLiteral("Operating system: ") + QSysInfo::prettyProductName(),
        QStringLiteral("Kernel: %1 %2").arg(QSysInfo::kernelType(), QSysInfo::kernelVersion()),
        QStringLiteral("Architecture: ") + QSysInfo::currentCpuArchitecture(),
        QStringLiteral("Desktop: ") + variable("XDG_CURRENT_DESKTOP"),
        QStringLiteral("Session type: ") + variable("XDG_SESSION_TYPE"),
        QStringLiteral("Qt platform plugin: ") + QGuiApplication::platformName(),
        QStringLiteral("Qt: %1 (built with " QT_VERSION_STR ")").arg(QLatin1String(qVersion())),
        QStringLiteral("QuaZip: " SY_QUAZIP_VERSION),
        QStringLiteral("Locale: ") + QLocale().name(),
        QStringLiteral("Logs packed: ") + counted(packed),
        QStringLiteral("Logs left out: ") + counted(leftOut),
        QStringLiteral("Log folder volume: ") + room(logsFolder),
        QStringLiteral("Spaces folder volume: ") + room(spacesFolder),
        QStringLiteral("Desktop volume: ") + room(desktop),
    };
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}
