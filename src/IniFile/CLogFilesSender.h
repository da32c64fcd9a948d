#pragma once

#include <QMap>
#include <QObject>
#include <QString>

// Gathers the client's logs for support: copies the database error log and the backup logs
// into the log folder, packs that folder into one time-stamped archive, places the archive
// where the user can see it and opens the support form and that folder. Also rotates a folder
// of old logs into a bounded set of archives (saveLogs(), run by CLogsZipperThread).
class CLogFilesSender : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString logsFolder READ logsFolder WRITE setLogsFolder
                   STORED true DESIGNABLE true SCRIPTABLE true)
    Q_PROPERTY(QString logsBackupFolder READ logsBackupFolder WRITE setLogsBackupFolder
                   STORED true DESIGNABLE true SCRIPTABLE true)
    Q_PROPERTY(QString targetFile READ targetFile WRITE setTargetFile
                   STORED true DESIGNABLE true SCRIPTABLE true)

public:
    explicit CLogFilesSender(QObject* parent = nullptr);
    ~CLogFilesSender() override;

    QString logsFolder() const { return m_logsFolder; }
    void setLogsFolder(const QString& folder) { m_logsFolder = folder; }
    QString logsBackupFolder() const { return m_logsBackupFolder; }
    void setLogsBackupFolder(const QString& folder) { m_logsBackupFolder = folder; }
    QString targetFile() const { return m_targetFile; }
    void setTargetFile(const QString& fileName) { m_targetFile = fileName; }

    void setOldLogsPaths(const QString& folder, const QString& archive);
    void setArchiveNamePrefix(const QString& prefix) { m_archiveNamePrefix = prefix; }

    // False only when copying the logs together threw; the hand-off is then skipped.
    bool zipAndSendLogFiles();
    // The desktop, or the fallback folder under the application data; created when missing.
    QString outputFolder() const;
    // Asks the desktop to open the support form, then the output folder. Always true.
    bool openSupportForm(QMap<QString, QString> supportInfo);
    void saveLogs();

    // The desktop folder comes from this lookup; null restores the platform's standard one.
    using DesktopLocationLookup = QString (*)();
    static void setDesktopLocationLookup(DesktopLocationLookup lookup);

Q_SIGNALS:
    void zipFinished();
    void zipProgress(quint32 total, quint32 actual, qint64 bytes, const QString& fileName);

private:
    QString m_logsFolder;
    QString m_logsBackupFolder;
    QString m_targetFile;
    QString m_oldLogsFolder;
    QString m_oldLogsArchive;
    QString m_archiveNamePrefix;
};
