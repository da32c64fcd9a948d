#include "IniFile/settings/CIniFileSettings.h"

#include "diagnostics/CLogRecord.h"
#include "system/CShellGlobal.h"
#include "threading/threads/CCallStack.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <limits>
#include <optional>

namespace {

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
const QString portableAppsUserSpacePathKey = QStringLiteral("general/portableAppsUserSpacePath");
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

const QString proxyGroup = QStringLiteral("ProxySettings");
const QString proxyHostKey = QStringLiteral("Host");
const QString proxyPasswordKey = QStringLiteral("PassW");
const QString proxyPortKey = QStringLiteral("Port");
const QString proxyTypeKey = QStringLiteral("Type");
const QString proxyUserNameKey = QStringLiteral("UserName");
const QString userProfileGroup = QStringLiteral("UserProfile");
const QString sideWindowGroup = QStringLiteral("gui/sideWindow");
const QString sideWindowPageKey = QStringLiteral("gui/sideWindow/Page");
const QString sideWindowWidgetNameKey = QStringLiteral("gui/sideWindow/WidgetName");

const int checked = 2;
const quint32 repairedPorts = 3;
const quint64 repairedTimeout = 60000;
const quint64 smallestBlocksize = 256000;
// The host is chosen at build time (SY_SUPPORT_HOST), with the support form's.
const char* const pingAddress = "https://" SY_SUPPORT_HOST "/ping.xml";

QString translated(const char* text)
{
    return QCoreApplication::translate("CIniFileSettings", text);
}

QString joinKey(const QString& group, const QString& key)
{
    return group.isEmpty() ? key : group + QLatin1Char('/') + key;
}

// A value as the ini file gives it: a text, a list for an unquoted text with commas, or a typed
// value written during this run. Anything that does not read as the key's type is refused.
std::optional<bool> toFlag(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const qlonglong number = value.toLongLong();
        if (number == 0 || number == 1)
            return number == 1;
        return std::nullopt;
    }
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
            text == QLatin1String("1"))
            return true;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 ||
            text == QLatin1String("0"))
            return false;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<qint64> toSigned(const QVariant& value)
{
    bool ok = false;
    qint64 number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
        return value.toLongLong();
    case QMetaType::ULongLong:
        number = value.toLongLong();
        ok = value.toULongLong() <= quint64(std::numeric_limits<qint64>::max());
        break;
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok);
        break;
    default:
        break;
    }
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

std::optional<quint64> toUnsigned(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toULongLong();
    case QMetaType::Int:
    case QMetaType::LongLong: {
        const qint64 number = value.toLongLong();
        return number < 0 ? std::nullopt : std::optional<quint64>(quint64(number));
    }
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        const quint64 number = text.toULongLong(&ok);
        return ok && !text.startsWith(QLatin1Char('-')) ? std::optional<quint64>(number)
                                                        : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> toText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        // The ini format splits an unquoted text at its commas.
        return value.toStringList().join(QLatin1String(", "));
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString();
    default:
        return std::nullopt;
    }
}

std::optional<QStringList> toTextList(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        return text.isEmpty() ? QStringList() : QStringList{text};
    }
    return std::nullopt;
}

// QSettings' ini format keeps its root keys in the section "General" and reads any section of
// that name, in whatever case, as the root; a group of that name it writes as "%General" and
// reads back as "General". Keys are case-sensitive here, so "general/x" would never be found
// again after a restart: such keys are stored as "General/x", and a key x in the root (what a
// hand-written "[general]" section gives) is read in their place.
const QString generalGroup = QStringLiteral("General");

QString storedKey(const QString& key)
{
    const qsizetype slash = key.indexOf(QLatin1Char('/'));
    if (slash < 0 || QStringView(key).left(slash).compare(generalGroup, Qt::CaseInsensitive) != 0)
        return key;
    return generalGroup + key.mid(slash);
}

QString rootKey(const QString& storedKey)
{
    return storedKey.startsWith(generalGroup + QLatin1Char('/'))
               ? storedKey.mid(generalGroup.size() + 1)
               : QString();
}

// Like mkpath, but a failure leaves no half-built chain of folders behind.
bool makePath(const QString& path)
{
    QStringList missing;
    for (QString folder = QDir::cleanPath(path); !QFileInfo::exists(folder);) {
        missing.append(folder);
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    if (QDir().mkpath(path))
        return true;
    for (const QString& folder : std::as_const(missing))
        QDir().rmdir(folder);
    return false;
}

} // namespace

CIniFileSettings::CIniFileSettings()
{
    SY_FUNCTION("CIniFileSettings::CIniFileSettings");
    const QString current = QDir::currentPath();
    portableApps = QFileInfo::exists(current + QStringLiteral("/PORTABLE_APPS"));
    portable = portableApps || QFileInfo::exists(current + QStringLiteral("/USB"));

    QString folder;
    if (portableApps) {
        const QString data = current + QStringLiteral("/../../Data/");
        QDir().mkdir(data);
        folder = QDir(data).canonicalPath();
        // Without the folder the path stays where it was meant to be, not at the root.
        if (folder.isEmpty())
            folder = QDir::cleanPath(data);
    } else if (portable) {
        folder = current + QLatin1Char('/') + translated("SyncariumData");
        QDir().mkdir(folder);
    }
    if (folder.isEmpty()) {
        // Where QSettings puts the ini of this organisation and application, computed without
        // creating one: a QSettings object reads the file at once.
        const QString name = translated("Syncarium");
        m_iniFilePath = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                        QLatin1Char('/') + name + QLatin1Char('/') + name + QStringLiteral(".ini");
    } else {
        m_iniFilePath = folder + QStringLiteral("/Syncarium.ini");
    }
    guard = std::make_unique<CIniFileGuard>(m_iniFilePath);
}

CIniFileSettings::~CIniFileSettings() = default;

QVariant CIniFileSettings::value(const QString& key) const
{
    const QString stored = storedKey(key);
    const QString root = rootKey(stored);
    if (!root.isEmpty() && !guard->contains(stored))
        return guard->value(root);
    return guard->value(stored);
}

bool CIniFileSettings::contains(const QString& key) const
{
    const QString stored = storedKey(key);
    const QString root = rootKey(stored);
    return guard->contains(stored) || (!root.isEmpty() && guard->contains(root));
}

QString CIniFileSettings::text(const QString& key, const QString& defaultValue) const
{
    const QMutexLocker locker(&mutex);
    return toText(value(key)).value_or(defaultValue);
}

bool CIniFileSettings::flag(const QString& key, bool defaultValue) const
{
    const QMutexLocker locker(&mutex);
    return toFlag(value(key)).value_or(defaultValue);
}

qint64 CIniFileSettings::number(const QString& key, qint64 minimum, qint64 maximum,
                                qint64 defaultValue) const
{
    const QMutexLocker locker(&mutex);
    const std::optional<qint64> found = toSigned(value(key));
    return found && *found >= minimum && *found <= maximum ? *found : defaultValue;
}

quint64 CIniFileSettings::unsignedNumber(const QString& key, quint64 maximum,
                                         quint64 defaultValue) const
{
    const QMutexLocker locker(&mutex);
    const std::optional<quint64> found = toUnsigned(value(key));
    return found && *found <= maximum ? *found : defaultValue;
}

int CIniFileSettings::checkState(const QString& key) const
{
    return int(
        number(key, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), checked));
}

void CIniFileSettings::change(const QList<TChange>& changes)
{
    const QMutexLocker locker(&mutex);
    guard->change(changes);
}

void CIniFileSettings::write(const QString& key, const QVariant& value)
{
    change({{storedKey(key), value}});
}

void CIniFileSettings::remove(const QString& key)
{
    const QString stored = storedKey(key);
    const QString root = rootKey(stored);
    if (root.isEmpty())
        change({{stored, std::nullopt}});
    else
        change({{stored, std::nullopt}, {root, std::nullopt}});
}

void CIniFileSettings::writeTextOrRemove(const QString& key, const QString& value)
{
    if (value.isEmpty())
        remove(key);
    else
        write(key, value);
}

QString CIniFileSettings::getUserSpacePath()
{
    SY_FUNCTION("CIniFileSettings::getUserSpacePath");
    const QMutexLocker locker(&mutex);
    SY_DEBUG << "looking for the user space path";
    const QString spaces = translated("Syncarium Spaces");
    QString path;
    if (portableApps) {
        const QString configured = text(portableAppsUserSpacePathKey, QString());
        QDir dir = QDir::current();
        if (!configured.isEmpty()) {
            path = QDir::cleanPath(dir.absoluteFilePath(configured));
        } else if (dir.cdUp() && dir.cdUp() && dir.cdUp() && dir.cdUp() &&
                   dir.cd(QStringLiteral("Documents"))) {
            SY_DEBUG << "documents folder of the portable installation:" << dir.absolutePath();
            path = dir.absolutePath() + QLatin1Char('/') + spaces;
        } else {
            path = QDir::cleanPath(
                QDir::current().absoluteFilePath(QStringLiteral("../../../") + spaces));
        }
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        SY_DEBUG << "portableAppsUserSpacePath" << path;
    } else if (portable) {
        QDir dir = QDir::current();
        dir.cdUp();
        dir.cdUp();
        path = dir.absolutePath();
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        path += spaces + QLatin1Char('/');
    } else {
        const QString documents = CShellGlobal::getShellSpecialFolderPath(PERSONAL);
        path = documents +
               (documents.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + spaces +
               QLatin1Char('/');
    }
    SY_DEBUG << "user space path:" << path;
    if (!QFileInfo(path).isDir()) {
        const bool created = makePath(path);
        SY_DEBUG << "created the user space folder:" << created;
    }
    return path;
}

quint32 CIniFileSettings::getProxy(QNetworkProxy& proxy)
{
    const QMutexLocker locker(&mutex);
    if (!guard->isOpen())
        return QNetworkProxy::NoProxy;
    const auto key = [](const QString& name) { return joinKey(proxyGroup, name); };
    const auto credential = [this, &key](const QString& name) {
        return QString::fromUtf8(QByteArray::fromBase64(text(key(name), QString()).toLatin1()));
    };
    proxy.setHostName(text(key(proxyHostKey), QString()));
    proxy.setPassword(credential(proxyPasswordKey));
    proxy.setUser(credential(proxyUserNameKey));
    proxy.setPort(quint16(unsignedNumber(key(proxyPortKey), 65535, 0)));
    const auto type = quint32(unsignedNumber(key(proxyTypeKey), 0xffffffffu, 0));
    // A number that names no proxy type of this toolkit means no proxy rather than a guess.
    proxy.setType(type == 0 || type > QNetworkProxy::FtpCachingProxy
                      ? QNetworkProxy::NoProxy
                      : QNetworkProxy::ProxyType(type));
    return type;
}

void CIniFileSettings::setProxy(const QNetworkProxy& proxy, quint32 type)
{
    setGroupValues(proxyGroup,
                   {{proxyHostKey, proxy.hostName()},
                    {proxyPasswordKey, QString::fromLatin1(proxy.password().toUtf8().toBase64())},
                    {proxyPortKey, quint32(proxy.port())},
                    {proxyTypeKey, type},
                    {proxyUserNameKey, QString::fromLatin1(proxy.user().toUtf8().toBase64())}});
}

QMap<QString, QString> CIniFileSettings::getUserProfile()
{
    const QVariantMap values = getGroupValues(userProfileGroup);
    QMap<QString, QString> profile;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        profile.insert(it.key(), toText(it.value()).value_or(QString()));
    return profile;
}

void CIniFileSettings::setUserProfile(const QMap<QString, QString>& profile)
{
    QVariantMap values;
    for (auto it = profile.cbegin(); it != profile.cend(); ++it)
        values.insert(it.key(), it.value());
    setGroupValues(userProfileGroup, values);
}

void CIniFileSettings::setGroupValues(const QString& group, const QVariantMap& values)
{
    QList<TChange> changes;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        changes.append({storedKey(joinKey(group, it.key())), it.value()});
    change(changes);
}

QVariantMap CIniFileSettings::getGroupValues(const QString& group)
{
    const QMutexLocker locker(&mutex);
    return guard->groupValues(storedKey(group + QLatin1Char('/')).chopped(1));
}

void CIniFileSettings::setGroupStringList(const QString& group, const QString& key,
                                          const QStringList& list)
{
    write(joinKey(group, key), list);
}

void CIniFileSettings::removeKey(const QString& key)
{
    remove(key);
}

QMap<QString, QString> CIniFileSettings::getSideWindows()
{
    static const QRegularExpression widget(QStringLiteral("Widget*"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QVariantMap values = getGroupValues(sideWindowGroup);
    QMap<QString, QString> windows;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!widget.match(it.key()).hasMatch())
            continue;
        QString suffix = it.key();
        suffix.remove(QStringLiteral("WidgetName"), Qt::CaseSensitive);
        windows.insert(suffix, toText(it.value()).value_or(QString()));
    }
    return windows;
}

quint32 CIniFileSettings::getSideWindow(const QString& suffix, QString& widgetName)
{
    widgetName = text(sideWindowWidgetNameKey + suffix, QString());
    return quint32(unsignedNumber(sideWindowPageKey + suffix, 0xffffffffu, 0));
}

void CIniFileSettings::setSideWindow(const QString& suffix, quint32 page, const QString& widgetName)
{
    setGroupValues(sideWindowGroup, {{QStringLiteral("Page") + suffix, page},
                                     {QStringLiteral("WidgetName") + suffix, widgetName}});
}

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
                QStringLiteral("../../../../Documents/") + translated("Syncarium Spaces"));
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
