#include "IniFile/settings/CIniFileSettings.h"

#include "IniFile/settings/IniFileValues.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

using IniFileValues::toFlag;
using IniFileValues::toText;
using IniFileValues::toTextList;
using IniFileValues::toUnsigned;

const QString scannStartKey = QStringLiteral("general/scannStart");
const QString scanOnFailureKey = QStringLiteral("general/scanOnFailure");
const QString alwaysCreateVersionKey =
    QStringLiteral("general/alwaysCreateVersionForReplacedFiles");
const QString autoStartKey = QStringLiteral("general/autoStart");
const QString trayMessagesKey = QStringLiteral("general/trayMessages");
const QString showWelcomeKey = QStringLiteral("hints/startup/showWelcome");
const QString updateCheckKey = QStringLiteral("general/updateCheck");
const QString onlineKey = QStringLiteral("general/online");
const QString startGUIKey = QStringLiteral("general/startGUI");
const QString maskCredentialsKey = QStringLiteral("logSender/maskCredentials");
const QString backupDBAtStartUpKey = QStringLiteral("general/backupDBAtStartUp");
const QString backupDBAtRevisionUpdateKey = QStringLiteral("general/backupDBAtRevisionUpdate");
const QString checkForMultipleDataBaseXTRsKey =
    QStringLiteral("general/checkForMultipleDataBaseXTRs");
const QString checkNetworkStateKey = QStringLiteral("general/checkNetworkState");
const QString checkNetworkStateWrittenKey = QStringLiteral("paths/checkNetworkState");
const QString defaultAccessKeyKey = QStringLiteral("server/defaultAccessKey");
const QString defaultArchivGroupKey = QStringLiteral("paths/defaultArchivGroup");
const QString defaultSpacesFolderKey = QStringLiteral("paths/defaultSpacesFolder");
const QString depotFilesPathKey = QStringLiteral("paths/depotFilesPath");
const QString pssFilesPathKey = QStringLiteral("paths/PSSFilesPath");
const QString archivCacheSizeKey = QStringLiteral("archiv/archivCacheSize");
const QString archivCacheEnabledKey = QStringLiteral("archiv/archivCacheEnabled");
const QString archivCacheCleanupIntervalKey = QStringLiteral("archiv/archivCacheCleanupInterval");
const QString pollIntervallKey = QStringLiteral("communication/pollIntervall");
const QString versionExpiredKey = QStringLiteral("communication/versionExpired");
const QString updateUrlKey = QStringLiteral("communication/updateUrl");
const QString parseSY1LogStrictKey = QStringLiteral("communication/parseSY1LogStrict");
const QString startDBWithPortKey = QStringLiteral("communication/startDBWithPort");
const QString portsKey = QStringLiteral("communication/ports");
const QString cachableKey = QStringLiteral("communication/cachable");
const QString timeoutKey = QStringLiteral("communication/timeout");
const QString blocksizeKey = QStringLiteral("communication/blocksize");
const QString pingurlKey = QStringLiteral("communication/pingurl");
const QString webdavHostsKey = QStringLiteral("webdav/hosts");
const QString autoAcceptInvitationsKey = QStringLiteral("dialogs/autoAcceptInvitations");
const QString dlgStopAtPathToLongKey = QStringLiteral("dialogs/dlgStopAtPathToLong");
const QString dlgDlgPathWarningKey = QStringLiteral("dialogs/dlgDlgPathWarning");
const QString showInFileSysKey = QStringLiteral("gui/showInFileSys");
const QString fontSizeKey = QStringLiteral("gui/fontSize");
const QString syncStopOnFailureKey = QStringLiteral("sync/syncStopOnFailure");
const QString syncShowPathWarningKey = QStringLiteral("sync/syncShowPathWarning");
const quint32 repairedPorts = 3;
const quint64 repairedTimeout = 60000;
const quint64 smallestBlocksize = 256000;
// The host is chosen at build time (SY_SUPPORT_HOST), with the support form's.
const char* const pingAddress = "https://" SY_SUPPORT_HOST "/ping.xml";
} // namespace

int CIniFileSettings::getScannStart()
{
    return checkState(scannStartKey);
}

void CIniFileSettings::setScannStart(int state)
{
    write(scannStartKey, state);
}

int CIniFileSettings::getScanOnFailure()
{
    return checkState(scanOnFailureKey);
}

void CIniFileSettings::setScanOnFailure(int state)
{
    write(scanOnFailureKey, state);
}

int CIniFileSettings::getAlwaysCreateVersionForReplacedFiles()
{
    return checkState(alwaysCreateVersionKey);
}

void CIniFileSettings::setAlwaysCreateVersionForReplacedFiles(int state)
{
    write(alwaysCreateVersionKey, state);
}

int CIniFileSettings::getAutoStart()
{
    return checkState(autoStartKey);
}

void CIniFileSettings::setAutoStart(int state)
{
    write(autoStartKey, state);
}

int CIniFileSettings::getTrayMessages()
{
    return checkState(trayMessagesKey);
}

void CIniFileSettings::setTrayMessages(int state)
{
    write(trayMessagesKey, state);
}

int CIniFileSettings::getShowWelcome()
{
    return checkState(showWelcomeKey);
}

void CIniFileSettings::setShowWelcome(int state)
{
    write(showWelcomeKey, state);
}

bool CIniFileSettings::getUpdateCheck()
{
    return flag(updateCheckKey, true);
}

void CIniFileSettings::setUpdateCheck(bool on)
{
    write(updateCheckKey, on);
}

bool CIniFileSettings::getOnline()
{
    return flag(onlineKey, true);
}

void CIniFileSettings::setOnline(bool on)
{
    write(onlineKey, on);
}

bool CIniFileSettings::getStartGUI()
{
    return flag(startGUIKey, true);
}

bool CIniFileSettings::getMaskCredentials()
{
    return flag(maskCredentialsKey, true);
}

bool CIniFileSettings::getBackupDBAtStartUp()
{
    return flag(backupDBAtStartUpKey, false);
}

bool CIniFileSettings::getBackupDBAtRevisionUpdate()
{
    return flag(backupDBAtRevisionUpdateKey, true);
}

void CIniFileSettings::setBackupDBAtRevisionUpdate(bool on)
{
    write(backupDBAtRevisionUpdateKey, on);
}

bool CIniFileSettings::getCheckForMultipleDataBaseXTRs()
{
    return flag(checkForMultipleDataBaseXTRsKey, true);
}

void CIniFileSettings::setCheckForMultipleDataBaseXTRs(bool on)
{
    write(checkForMultipleDataBaseXTRsKey, on);
}

bool CIniFileSettings::getArchivCacheEnabled()
{
    return flag(archivCacheEnabledKey, true);
}

void CIniFileSettings::setArchivCacheEnabled(bool on)
{
    write(archivCacheEnabledKey, on);
}

bool CIniFileSettings::getVersionExpired()
{
    return flag(versionExpiredKey, false);
}

void CIniFileSettings::setVersionExpired(bool on)
{
    write(versionExpiredKey, on);
}

bool CIniFileSettings::getParseSY1LogStrict()
{
    return flag(parseSY1LogStrictKey, true);
}

void CIniFileSettings::setParseSY1LogStrict(bool on)
{
    write(parseSY1LogStrictKey, on);
}

bool CIniFileSettings::getStartDBWithPort()
{
    return flag(startDBWithPortKey, false);
}

void CIniFileSettings::setStartDBWithPort(bool on)
{
    write(startDBWithPortKey, on);
}

bool CIniFileSettings::getAutoAcceptInvitations()
{
    return flag(autoAcceptInvitationsKey, false);
}

bool CIniFileSettings::getDlgStopAtPathToLong()
{
    return flag(dlgStopAtPathToLongKey, true);
}

void CIniFileSettings::setDlgStopAtPathToLong(bool on)
{
    write(dlgStopAtPathToLongKey, on);
}

bool CIniFileSettings::getDlgDlgPathWarning()
{
    return flag(dlgDlgPathWarningKey, true);
}

void CIniFileSettings::setDlgDlgPathWarning(bool on)
{
    write(dlgDlgPathWarningKey, on);
}

bool CIniFileSettings::getShowInFileSys()
{
    return flag(showInFileSysKey, true);
}

void CIniFileSettings::setShowInFileSys(bool on)
{
    write(showInFileSysKey, on);
}

bool CIniFileSettings::getSyncStopOnFailure()
{
    return flag(syncStopOnFailureKey, true);
}

void CIniFileSettings::setSyncStopOnFailure(bool on)
{
    write(syncStopOnFailureKey, on);
}

bool CIniFileSettings::getSyncShowPathWarning()
{
    return flag(syncShowPathWarningKey, true);
}

void CIniFileSettings::setSyncShowPathWarning(bool on)
{
    write(syncShowPathWarningKey, on);
}

bool CIniFileSettings::getCheckNetworkState()
{
    return flag(checkNetworkStateKey, true);
}

void CIniFileSettings::setCheckNetworkState(bool on)
{
    // The setter's key differs from the getter's, so a stored false never reads back.
    write(checkNetworkStateWrittenKey, on);
}

QString CIniFileSettings::getPortableAppsUserSpacePath()
{
    return text(portableAppsUserSpacePathKey,
                QStringLiteral("../../../../Documents/") +
                    QCoreApplication::translate("CIniFileSettings", "Syncarium Spaces"));
}

void CIniFileSettings::setPortableAppsUserSpacePath(const QString& path)
{
    write(portableAppsUserSpacePathKey, path);
}

QString CIniFileSettings::getDefaultAccessKey(const QString& first, const QString& second)
{
    return text(defaultAccessKeyKey, QStringLiteral("%1Default_%2.sakh").arg(first, second));
}

void CIniFileSettings::setDefaultAccessKey(const QString& key)
{
    write(defaultAccessKeyKey, key);
}

QString CIniFileSettings::getDefaultArchivGroup()
{
    return text(defaultArchivGroupKey, QString());
}

void CIniFileSettings::setDefaultArchivGroup(const QString& group)
{
    write(defaultArchivGroupKey, group);
}

QString CIniFileSettings::getDefaultSpacesFolder()
{
    const QMutexLocker locker(&mutex);
    const QString folder = text(defaultSpacesFolderKey, QString());
    if (!folder.isEmpty())
        return folder;
    const QString spaces = getUserSpacePath();
    setDefaultSpacesFolder(spaces);
    return spaces;
}

void CIniFileSettings::setDefaultSpacesFolder(const QString& folder)
{
    write(defaultSpacesFolderKey, folder);
}

QString CIniFileSettings::getDepotFilesPath()
{
    return text(depotFilesPathKey, QString());
}

void CIniFileSettings::setDepotFilesPath(const QString& path)
{
    writeTextOrRemove(depotFilesPathKey, path);
}

QString CIniFileSettings::getPSSFilesPath()
{
    return text(pssFilesPathKey, QString());
}

void CIniFileSettings::setPSSFilesPath(const QString& path)
{
    writeTextOrRemove(pssFilesPathKey, path);
}

bool CIniFileSettings::isCustomPathsSet()
{
    return !getDepotFilesPath().isEmpty() && !getPSSFilesPath().isEmpty();
}

qint64 CIniFileSettings::getArchivCacheSize()
{
    return number(archivCacheSizeKey, std::numeric_limits<qint64>::min(),
                  std::numeric_limits<qint64>::max(), 524288000);
}

void CIniFileSettings::setArchivCacheSize(qint64 size)
{
    write(archivCacheSizeKey, size);
}

quint32 CIniFileSettings::getArchivCacheCleanupInterval()
{
    return quint32(unsignedNumber(archivCacheCleanupIntervalKey, 0xffffffffu, 3600000));
}

void CIniFileSettings::setArchivCacheCleanupInterval(quint32 interval)
{
    write(archivCacheCleanupIntervalKey, interval);
}

int CIniFileSettings::getPollIntervall()
{
    return int(number(pollIntervallKey, std::numeric_limits<int>::min(),
                      std::numeric_limits<int>::max(), 300));
}

void CIniFileSettings::setPollIntervall(quint32 interval)
{
    write(pollIntervallKey, interval);
}

QString CIniFileSettings::getUpdateUrl()
{
    return text(updateUrlKey, QVariant(false).toString());
}

void CIniFileSettings::setUpdateUrl(const QString& url)
{
    writeTextOrRemove(updateUrlKey, url);
}

quint32 CIniFileSettings::getPorts()
{
    const QMutexLocker locker(&mutex);
    const std::optional<quint64> ports = toUnsigned(value(portsKey));
    if (ports && *ports != 0 && *ports <= 0xffffffffu)
        return quint32(*ports);
    write(portsKey, repairedPorts);
    return repairedPorts;
}

void CIniFileSettings::setPorts(quint32 ports)
{
    write(portsKey, ports);
}

bool CIniFileSettings::getCachable()
{
    const QMutexLocker locker(&mutex);
    if (toFlag(value(cachableKey)).value_or(false))
        return true;
    write(cachableKey, true);
    return true;
}

quint64 CIniFileSettings::getTimeout()
{
    const QMutexLocker locker(&mutex);
    const std::optional<quint64> timeout = toUnsigned(value(timeoutKey));
    if (timeout && *timeout != 0)
        return *timeout;
    write(timeoutKey, repairedTimeout);
    return repairedTimeout;
}

quint64 CIniFileSettings::getBlocksize()
{
    const QMutexLocker locker(&mutex);
    const std::optional<quint64> size = toUnsigned(value(blocksizeKey));
    if (size && *size >= smallestBlocksize)
        return *size;
    write(blocksizeKey, smallestBlocksize);
    return smallestBlocksize;
}

void CIniFileSettings::setBlocksize(quint64 size)
{
    write(blocksizeKey, size);
}

QString CIniFileSettings::getPingurl()
{
    const QMutexLocker locker(&mutex);
    const QString url = toText(value(pingurlKey)).value_or(QString());
    if (!url.isEmpty())
        return url;
    const QString repaired = QString::fromLatin1(pingAddress);
    write(pingurlKey, repaired);
    return repaired;
}

QStringList CIniFileSettings::getWebdavHosts()
{
    const QMutexLocker locker(&mutex);
    const QVariant stored = value(webdavHostsKey);
    const QStringList hosts = toTextList(stored).value_or(QStringList());
    if (!hosts.isEmpty())
        return hosts;
    // The ini form of an empty list reads back as no value; such a file is left as it is.
    const bool emptyListStored = contains(webdavHostsKey) &&
                                 (!stored.isValid() || stored.typeId() == QMetaType::QStringList);
    if (!emptyListStored)
        write(webdavHostsKey, QStringList());
    return QStringList();
}

quint32 CIniFileSettings::getFontSize()
{
    return quint32(unsignedNumber(fontSizeKey, 0xffffffffu, 11));
}

void CIniFileSettings::setFontSize(quint32 size)
{
    write(fontSizeKey, size);
}
