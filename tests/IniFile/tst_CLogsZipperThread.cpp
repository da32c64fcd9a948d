#include "IniFile/CLogsZipperThread.h"

#include "IniFile/CLogFilesSender.h"
#include "common/CExpect.h"
#include "common/CTestEnvironment.h"

#include <QDir>
#include <QTest>

class tst_CLogsZipperThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rotatesOnItsOwnThread();
    void withoutSenderDoesNothing();
};

void tst_CLogsZipperThread::rotatesOnItsOwnThread()
{
    CTestEnvironment env;
    QVERIFY(env.isValid());
    const QString oldLogs = env.makeDir("logs_old");
    env.writeFile("logs_old/Syncarium_2026-12-04.log", "yesterday\n");
    const QString archive = env.makeDir("archives") + "logs_2026-12-05_08.00.00.zip";
    CLogFilesSender sender;
    sender.setOldLogsPaths(oldLogs, archive);
    sender.setArchiveNamePrefix("logs_");
    CLogsZipperThread thread;
    // The rotation's records name the worker thread.
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression(QStringLiteral("^\\[ %1 : CLogsZipperThread::"
                                                      "CLogsZipperThread \\] \\[ CLogFilesSender\\."
                                                      "cpp : \\d+ : CLogFilesSender::saveLogs \\] "
                                                      "Logs saved successfully!$")
                                           .arg(thread.threadNumber())));
    QVERIFY(thread.startThread(&sender));
    QVERIFY(thread.wait(30000));
    QCOMPARE(thread.exitCode(), 0);
    QVERIFY(QFileInfo::exists(archive));
    QVERIFY(QDir(oldLogs).isEmpty());
}

void tst_CLogsZipperThread::withoutSenderDoesNothing()
{
    CLogsZipperThread thread;
    CExpect::record(QtWarningMsg, "CLogsZipperThread.cpp", "CLogsZipperThread::runMethod",
                    "no log sender to run");
    QVERIFY(thread.startThread());
    QVERIFY(thread.wait(30000));
    QCOMPARE(thread.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CLogsZipperThread)
#include "tst_CLogsZipperThread.moc"
