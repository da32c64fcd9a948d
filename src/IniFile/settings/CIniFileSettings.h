#pragma once

#include "IniFile/settings/CIniFileGuard.h"
#include "system/CSingleton.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QNetworkProxy>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

// The client's settings: where the ini file of a normal or portable installation lives, typed
// access to every key with its default and repair, and the user's spaces folder. One object per
// process, reached through CSingleton<CIniFileSettings>; it owns the guard of its file, which
// keeps the file whole, and serialises the threads that share it.
class CIniFileSettings : public CSingleton<CIniFileSettings>
{
public:
    ~CIniFileSettings() override;

    // The ini file in use (it may not exist yet).
    QString iniFilePath() const { return m_iniFilePath; }
    bool isPortable() const { return portable; }
    bool isPortableApps() const { return portableApps; }

    // The folder of the user's spaces, ending with "/"; created when missing.
    QString getUserSpacePath();

    // "ProxySettings": fills proxy and returns the stored type (0 when missing).
    quint32 getProxy(QNetworkProxy& proxy);
    void setProxy(const QNetworkProxy& proxy, quint32 type);
    QMap<QString, QString> getUserProfile();
    void setUserProfile(const QMap<QString, QString>& profile);

    // Group helpers: every pair of values written into group / every child key of group read.
    void setGroupValues(const QString& group, const QVariantMap& values);
    QVariantMap getGroupValues(const QString& group);
    void setGroupStringList(const QString& group, const QString& key, const QStringList& list);
    void removeKey(const QString& key);

    // Suffix to widget name of every side window stored under "gui/sideWindow".
    QMap<QString, QString> getSideWindows();
    quint32 getSideWindow(const QString& suffix, QString& widgetName);
    void setSideWindow(const QString& suffix, quint32 page, const QString& widgetName);

    int getScannStart();
    void setScannStart(int state);
    int getScanOnFailure();
    void setScanOnFailure(int state);
    int getAlwaysCreateVersionForReplacedFiles();
    void setAlwaysCreateVersionForReplacedFiles(int state);
    int getAutoStart();
    void setAutoStart(int state);
    int getTrayMessages();
    void setTrayMessages(int state);
    int getShowWelcome();
    void setShowWelcome(int state);

    bool getUpdateCheck();
    void setUpdateCheck(bool on);
    bool getOnline();
    void setOnline(bool on);
    bool getStartGUI();
    // Whether the log sender masks credentials in the archive it packs; get only.
    bool getMaskCredentials();
    bool getBackupDBAtStartUp();
    bool getBackupDBAtRevisionUpdate();
    void setBackupDBAtRevisionUpdate(bool on);
    bool getCheckForMultipleDataBaseXTRs();
    void setCheckForMultipleDataBaseXTRs(bool on);
    bool getCheckNetworkState();
    void setCheckNetworkState(bool on);
    QString getPortableAppsUserSpacePath();
    void setPortableAppsUserSpacePath(const QString& path);

    QString getDefaultAccessKey(const QString& first, const QString& second);
    void setDefaultAccessKey(const QString& key);

    QString getDefaultArchivGroup();
    void setDefaultArchivGroup(const QString& group);
    // The stored folder, or getUserSpacePath() (then stored) when none is.
    QString getDefaultSpacesFolder();
    void setDefaultSpacesFolder(const QString& folder);
    QString getDepotFilesPath();
    void setDepotFilesPath(const QString& path);
    QString getPSSFilesPath();
    void setPSSFilesPath(const QString& path);
    // Both the depot and the PSS files path are set.
    bool isCustomPathsSet();

    qint64 getArchivCacheSize();
    void setArchivCacheSize(qint64 size);
    bool getArchivCacheEnabled();
    void setArchivCacheEnabled(bool on);
    quint32 getArchivCacheCleanupInterval();
    void setArchivCacheCleanupInterval(quint32 interval);

    int getPollIntervall();
    void setPollIntervall(quint32 interval);
    bool getVersionExpired();
    void setVersionExpired(bool expired);
    QString getUpdateUrl();
    void setUpdateUrl(const QString& url);
    bool getParseSY1LogStrict();
    void setParseSY1LogStrict(bool on);
    bool getStartDBWithPort();
    void setStartDBWithPort(bool on);

    // These getters write their repair value back when the stored one is missing or unusable.
    quint32 getPorts();
    void setPorts(quint32 ports);
    bool getCachable();
    quint64 getTimeout();
    quint64 getBlocksize();
    void setBlocksize(quint64 size);
    QString getPingurl();
    QStringList getWebdavHosts();

    bool getAutoAcceptInvitations();
    bool getDlgStopAtPathToLong();
    void setDlgStopAtPathToLong(bool on);
    bool getDlgDlgPathWarning();
    void setDlgDlgPathWarning(bool on);
    bool getShowInFileSys();
    void setShowInFileSys(bool on);
    quint32 getFontSize();
    void setFontSize(quint32 size);
    bool getSyncStopOnFailure();
    void setSyncStopOnFailure(bool on);
    bool getSyncShowPathWarning();
    void setSyncShowPathWarning(bool on);

private:
    // Read by the user space path as well as by its own accessors.
    static const QString portableAppsUserSpacePathKey;
    friend class CSingleton<CIniFileSettings>;
    CIniFileSettings();

    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    QString text(const QString& key, const QString& defaultValue) const;
    bool flag(const QString& key, bool defaultValue) const;
    int checkState(const QString& key) const;
    qint64 number(const QString& key, qint64 minimum, qint64 maximum, qint64 defaultValue) const;
    quint64 unsignedNumber(const QString& key, quint64 maximum, quint64 defaultValue) const;
    using TChange = CIniFileGuard::TChange;
    void change(const QList<TChange>& changes);
    void write(const QString& key, const QVariant& value);
    void remove(const QString& key);
    void writeTextOrRemove(const QString& key, const QString& value);

    bool portable = false;
    bool portableApps = false;
    QString m_iniFilePath;
    std::unique_ptr<CIniFileGuard> guard;
    mutable QRecursiveMutex mutex;
};
