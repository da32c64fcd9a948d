#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class CArchiveSpace;
class CZipper;
class IFSOperations;
class QLockFile;
struct CCallSiteRecord;

// Gathers the client's logs for support: copies the database error log and the backup logs
// into the log folder, packs that folder into one time-stamped archive, places the archive
// where the user can see it and opens the support form and that folder. An entry that cannot
// be copied is skipped with a warning, and a log among them is named in the archive's list of
// what it leaves out; when no archive could be placed, failed() tells why before the hand-off.
// Staging and packing run on a thread of their own while the calling thread handles its
// events. Also rotates a folder of old logs into a bounded set of archives
// (saveLogs(), run by CLogsZipperThread).
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

    // True once the hand-off is done, whatever could be staged, packed and placed.
    bool zipAndSendLogFiles();
    // The desktop, or the fallback folder under the application data when the desktop
    // location is empty, relative or not writable; created when missing.
    QString outputFolder() const;
    // Asks the desktop to open the support form, then the output folder. Always true.
    bool openSupportForm(QMap<QString, QString> supportInfo);
    void saveLogs();

    // Removes what an interrupted run left of its archive in the working directory, in the
    // output folder and wherever a killed run noted it wrote: files named like an archive of
    // this program while it is being written.
    static void removePartialArchives();

Q_SIGNALS:
    void zipFinished();
    void zipProgress(quint32 total, quint32 actual, qint64 bytes, const QString& fileName);
    // A log starts being packed, and how far a large one is (see CZipper::entryProgress).
    // Delivered on the sender's thread, like the other signals.
    void entryProgress(quint32 total, quint32 actual, qint64 done, qint64 size,
                       const QString& fileName);
    // The finished archive is being read back to prove it, before it gets its name.
    void verifyStarted();
    // Credentials were masked in the archive, total of them so far.
    void credentialsMasked(qint64 total);
    // No archive could be placed; message says what failed, in plain words. Emitted once,
    // before the support form is requested.
    void failed(const QString& message);
    // The archive was placed somewhere else than the user would look first; message says
    // where and why. Emitted before the support form is requested.
    void notice(const QString& message);

protected:
    // Called by saveLogs() once the old logs' archive is written and read back, before any log
    // is removed: the moment another program may still touch the folder or the archive.
    virtual void oldLogsPacked() {}

private:
    // One run's packing: where the archive is written and goes, and what came of it.
    struct TPacking
    {
        QString workingFolder;
        QString output;
        bool roomy = true;
        bool zipped = false;
        // For the user: where the archive went instead or what it lacks, and why the run failed.
        QString notice;
        QString message;
    };
    // Stages the logs and packs them on a thread of their own, reporting to the window.
    void pack(const CCallSiteRecord& syCallSite, IFSOperations& fsOperations, CZipper& zipper,
              TPacking& packing);
    // Names the packed archive and places it; the folder to show, empty when there is none.
    QString placePacked(const CCallSiteRecord& syCallSite, IFSOperations& fsOperations,
                        const QString& zipError, TPacking& packing);
    // Compares what the staged logs' archive can take with the free space where it is written
    // and where it goes, before a byte is written. May move the output to the fallback folder
    // (notice says so) or the partial archive into the output folder; false with the message
    // when no folder has room.
    bool checkRoom(CArchiveSpace& archive, QString& archiveFolder, QString& output, QString& notice,
                   QString& message);
    // The working directory, or the output folder when the working directory cannot be
    // written or no longer exists: the folder the archive is written in.
    QString archiveFolder() const;
    // One record per entry that is not staged, naming it as escapedPath and saying why; one
    // that holds logs is also noted for the archive's list of what it leaves out.
    void skippedEscaped(const QString& escapedPath, const QString& reason, bool holdsLogs = true);
    void skipped(const QString& path, const QString& reason, bool holdsLogs = true);
    void stageErrorLog(IFSOperations& fsOperations);
    void removeStaleCopy(const QString& staged);
    // Writes the system report (see CSystemReport) into the log folder under a name no file
    // there has, so that it is packed and masked like the logs; its path, empty when none was
    // written. The counts come from space's walk, which then counts in the report.
    QString stageSystemReport(const QString& desktop, CArchiveSpace& space);
    void stageBackupFolder(IFSOperations& fsOperations);
    // Copies the folder from into to entry by entry; false when to could not be made.
    bool stageFolder(IFSOperations& fsOperations, const QString& from, const QString& to);
    // Places the archive at working into folder; false leaves it at working, with the cause.
    bool placeArchive(IFSOperations& fsOperations, const QString& working, const QString& folder,
                      QString& cause);
    // Notes in the runtime folder where this run's partial archives are written, and forgets
    // them again once they are gone or named.
    void notePartials(const QStringList& paths);
    void forgetPartials();
    // Opens the support form, then shows archive selected in the file manager or, failing
    // that, opens folder; either may be empty.
    void handOff(QMap<QString, QString> supportInfo, const QString& folder, const QString& archive);
    // A signal of the zipper's, with its arguments: first and second are the bytes of
    // zipProgress, the bytes done and the size of entryProgress, the total of
    // credentialsMasked.
    struct TReport
    {
        enum class TKind
        {
            Finished,
            Progress,
            Entry,
            VerifyStarted,
            Masked,
        };
        TKind kind = TKind::Finished;
        quint32 total = 0;
        quint32 actual = 0;
        qint64 first = 0;
        qint64 second = 0;
        QString fileName;
    };
    // What the zipper reports on its thread waits here until this object's thread takes all
    // that came at its next tick (deliverReports): one queued call per report woke that thread
    // tens of thousands of times on a folder of small files, several times per file.
    // Queues the zipper's signals as reports, to be delivered on this object's thread.
    void relayReports(CZipper& zipper);
    void relay(TReport report);
    void deliverReports();

    QString m_logsFolder;
    QString m_logsBackupFolder;
    QString m_targetFile;
    QString m_oldLogsFolder;
    QString m_oldLogsArchive;
    QString m_archiveNamePrefix;
    // The run's entries that hold logs and could not be staged, with why.
    QList<std::pair<QString, QString>> m_unstaged;
    std::mutex m_reportsLock;
    std::vector<TReport> m_reports;
    // The reports being delivered; kept, as m_reports is, so that neither allocates again.
    std::vector<TReport> m_delivered;
    // Held while the run's note of its partial archives stands.
    std::unique_ptr<QLockFile> m_partialNoteLock;
};
