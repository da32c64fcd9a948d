#include "IniFile/zip/CZipperThread.h"

#include "IniFile/collector/CLogFilesSender.h"
#include "IniFile/collector/CLogsZipperThread.h"
#include "IniFile/zip/CZipWorkerThread.h"
#include "IniFile/zip/CZipper.h"
#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "common/CZipListing.h"

#include <QDir>
#include <QSemaphore>
#include <QTest>

// The zipper threads host a zipper, or the log rotation, on a thread of their own.
class tst_CZipperThread : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void hostsZipper();
    void logsZipperThreadRotates();
    void logsZipperThreadWithoutSenderDoesNothing();
};

// Both zipper threads run the zipper's jobs on their event loop and hand it back when they end.
void tst_CZipperThread::hostsZipper()
{
    for (const QString name : {"CZipperThread", "CZipWorkerThread"}) {
        environment->writeFile(name + "/a.log", "a");
        const QString target = dir + name + ".zip";
        CZipper zipper;
        const std::unique_ptr<CBasicThread> thread =
            name == "CZipWorkerThread" ? std::unique_ptr<CBasicThread>(new CZipWorkerThread)
                                       : std::make_unique<CZipperThread>();
        QCOMPARE(thread->description(), name + "::" + name);
        QVERIFY(zipper.addZipJob(dir + name, target));
        QThread* zippingThread = nullptr;
        QSemaphore finished;
        connect(
            &zipper, &CZipper::zipStarted, this,
            [&zippingThread] { zippingThread = QThread::currentThread(); }, Qt::DirectConnection);
        connect(
            &zipper, &CZipper::jobsFinished, this, [&finished] { finished.release(); },
            Qt::DirectConnection);
        QVERIFY(thread->startThread(&zipper));
        QVERIFY(QMetaObject::invokeMethod(&zipper, "processZipJobs", Qt::QueuedConnection));
        QVERIFY(finished.tryAcquire(1, 30000));
        QCOMPARE(zippingThread, thread.get());
        thread->exitThread(0, 10000, false);
        QVERIFY(thread->wait(10000));
        QCOMPARE(zipper.thread(), QThread::currentThread());
        QCOMPARE(CZipListing(target).names, QStringList{"a.log"});
    }
}

void tst_CZipperThread::logsZipperThreadRotates()
{
    const QString oldLogs = environment->makeDir("logs_old");
    environment->writeFile("logs_old/Syncarium_2026-12-04.log", "yesterday\n");
    const QString archive = environment->makeDir("archives") + "logs_2026-12-05_08.00.00.zip";
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

void tst_CZipperThread::logsZipperThreadWithoutSenderDoesNothing()
{
    CLogsZipperThread thread;
    CExpect::record(QtWarningMsg, "CLogsZipperThread.cpp", "CLogsZipperThread::runMethod",
                    "no log sender to run");
    QVERIFY(thread.startThread());
    QVERIFY(thread.wait(30000));
    QCOMPARE(thread.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CZipperThread)
#include "tst_CZipperThread.moc"
