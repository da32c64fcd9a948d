#pragma once

#include "system/CSingleton.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QNetworkProxy>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>
#include <optional>

// The client's settings: the ini file of a normal or portable installation, typed access to every
// key with its default, and the user's spaces folder. One object per process, reached through
// CSingleton<CIniFileSettings>.
//
// The user's file is read into a private working copy, and every change is merged into the file
// at once, under the file's lock taken with a bounded wait: a lock held forever by another
// process, a full disk or a read-only folder costs the change its place in the file (logged with
// its cause), never a hang, and the value stays in memory for the rest of the run. A file holding
// a serialised object is moved aside before the first write; a path that is not a regular file is
// never written.
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
    friend class CSingleton<CIniFileSettings>;
    CIniFileSettings();

    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    QString text(const QString& key, const QString& defaultValue) const;
    bool flag(const QString& key, bool defaultValue) const;
    int checkState(const QString& key) const;
    qint64 number(const QString& key, qint64 minimum, qint64 maximum, qint64 defaultValue) const;
    quint64 unsignedNumber(const QString& key, quint64 maximum, quint64 defaultValue) const;
    // A key as stored and its new value, or none to remove the key.
    using TChange = QPair<QString, std::optional<QVariant>>;
    // Records the changes and saves them; when saving fails this run still reads them.
    // A value QSettings would store as a serialised object is left out (a critical record).
    void change(const QList<TChange>& requested);
    void write(const QString& key, const QVariant& value);
    void remove(const QString& key);
    void writeTextOrRemove(const QString& key, const QString& value);

    // Merges the keys changed since the last save into the file; false (logged) when it could not.
    bool save();
    // A private copy of content for QSettings to read; null when it could not be written, or
    // (with serialised set) when the content holds a serialised value other than a date.
    std::unique_ptr<QSettings> openWorkingCopy(const QByteArray& content, bool* serialised);
    static bool putDatesBack(QSettings& copy, const QStringList& keys,
                             const QByteArray& placeholder, const QList<QDateTime>& dates);
    bool moveDamagedFileAside();

    bool portable = false;
    bool portableApps = false;
    // Declared before the settings object, which writes into it until it is destroyed.
    QTemporaryDir workingFolder;
    // Null when the ini path holds something other than a regular file: defaults only.
    std::unique_ptr<QSettings> settings;
    QString m_iniFilePath;
    // Changes not yet in the file, by key as stored.
    QMap<QString, std::optional<QVariant>> unsaved;
    int workingCopies = 0;
    mutable QRecursiveMutex mutex;
};
