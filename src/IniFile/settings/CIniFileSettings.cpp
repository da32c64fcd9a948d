#include "IniFile/settings/CIniFileSettings.h"

#include "IniFile/settings/IniFileValues.h"
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

using IniFileValues::toFlag;
using IniFileValues::toSigned;
using IniFileValues::toText;
using IniFileValues::toUnsigned;

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

QString translated(const char* text)
{
    return QCoreApplication::translate("CIniFileSettings", text);
}

QString joinKey(const QString& group, const QString& key)
{
    return group.isEmpty() ? key : group + QLatin1Char('/') + key;
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

const QString CIniFileSettings::portableAppsUserSpacePathKey =
    QStringLiteral("general/portableAppsUserSpacePath");
