#pragma once

#include "common/CTestEnvironment.h"

#include <QDir>
#include <QObject>
#include <QStringList>
#include <QUrl>

class CLogFilesSender;

// Stands in for the desktop: keeps every URL the sender asks it to open.
class CUrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

    // What was opened: "form" for the support form, the local path for a folder.
    QStringList opened() const;

public Q_SLOTS:
    void record(const QUrl& url) { urls.append(url); }
};

// What the log sender's test programs share: a client's folders with a sample of its logs in a
// test environment, a desktop that is missing yet and a recorder in place of the desktop.
class CLogFilesSenderTest : public CEnvironmentTest
{
    Q_OBJECT

public:
    // Expects the record text, whole, of function of CLogFilesSender on the main thread.
    static void expect(QtMsgType type, const QString& text,
                       const QString& function = "zipAndSendLogFiles");
    static QStringList filesIn(const QString& folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    static QStringList partialsIn(const QString& folder)
    {
        return QDir(folder).entryList({".*.part"}, QDir::Files | QDir::Hidden | QDir::System);
    }
    // The archive's names for logs: they and the system report.
    static QStringList withReport(QStringList logs)
    {
        logs.append("system.txt");
        logs.sort();
        return logs;
    }
    // The archive's names for the whole sample.
    static const QStringList fullSample;

private Q_SLOTS:
    void init();
    void cleanup();

protected:
    // Writes the error log, the backup folder and the log folder of the sample, as asked.
    void writeSample(const QString& parts = "error backup logs");
    bool run(CLogFilesSender& sender);
    // Points the desktop at path ("$HOME/..." or absolute) through the user's folder settings.
    void setDesktop(const QString& path);
    // Mounts a file system of size on folder, made when missing, until the case's cleanup.
    bool mountSmall(const QString& folder, const QString& size);

    CUrlRecorder recorder;
    QString appData;
    QString output;
    QString errorLog;
    QString logs;
    QString backup;
    QStringList mounts;
};
