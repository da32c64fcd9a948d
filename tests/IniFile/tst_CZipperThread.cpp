#include "IniFile/CZipWorkerThread.h"
#include "IniFile/CZipper.h"
#include "IniFile/CZipperThread.h"

#include "common/CTestEnvironment.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

QStringList archiveNames(const QString& archive)
{
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"),
                                             QStringLiteral("import sys, zipfile\n"
                                                            "z = zipfile.ZipFile(sys.argv[1])\n"
                                                            "assert z.testzip() is None\n"
                                                            "print('\\n'.join(z.namelist()))\n"),
                                             archive});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return {QStringLiteral("<unreadable>")};
    return QString::fromUtf8(python.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class CDirectWorkerThread : public CZipWorkerThread
{
public:
    using CZipWorkerThread::runMethod;
};

} // namespace

// The zipper threads host a zipper on their event loop.
class tst_CZipperThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void descriptions();
    void hostsZipper_data();
    void hostsZipper();
    void workerRunMethodProcessesJobs();
    void workerRunMethodWithoutZipper();

private:
    CTestEnvironment environment;
};

void tst_CZipperThread::descriptions()
{
    CZipperThread zipperThread;
    CZipWorkerThread workerThread;
    QCOMPARE(zipperThread.description(), QStringLiteral("CZipperThread::CZipperThread"));
    QCOMPARE(workerThread.description(), QStringLiteral("CZipWorkerThread::CZipWorkerThread"));
    QVERIFY(zipperThread.usesEventLoop());
    QVERIFY(workerThread.usesEventLoop());
    QCOMPARE(zipperThread.metaObject()->className(), "CZipperThread");
    QCOMPARE(workerThread.metaObject()->className(), "CZipWorkerThread");
}

void tst_CZipperThread::hostsZipper_data()
{
    QTest::addColumn<bool>("worker");
    QTest::newRow("CZipperThread") << false;
    QTest::newRow("CZipWorkerThread") << true;
}

void tst_CZipperThread::hostsZipper()
{
    QFETCH(bool, worker);
    const QString name = worker ? QStringLiteral("worker") : QStringLiteral("zipper");
    const QString source = environment.writeFile(name + QStringLiteral("/a.log"), "a");
    const QString target = environment.root() + name + QStringLiteral(".zip");
    // The thread keeps a pointer to the zipper it hosts until it is destroyed.
    CZipper zipper;
    std::unique_ptr<CBasicThread> thread;
    if (worker)
        thread = std::make_unique<CZipWorkerThread>();
    else
        thread = std::make_unique<CZipperThread>();
    QVERIFY(zipper.addZipJob(QFileInfo(source).path(), target));
    QThread* zippingThread = nullptr;
    connect(
        &zipper, &CZipper::zipStarted, this,
        [&zippingThread] { zippingThread = QThread::currentThread(); }, Qt::DirectConnection);
    QSignalSpy finished(&zipper, &CZipper::jobsFinished);
    QVERIFY(thread->startThread(&zipper));
    QCOMPARE(zipper.thread(), thread.get());
    QVERIFY(QMetaObject::invokeMethod(&zipper, "processZipJobs", Qt::QueuedConnection));
    QVERIFY(finished.wait(30000));
    QCOMPARE(zippingThread, thread.get());
    thread->exitThread(0, 10000, false);
    QVERIFY(thread->wait(10000));
    QCOMPARE(zipper.thread(), QThread::currentThread());
    QCOMPARE(archiveNames(target), QStringList{QStringLiteral("a.log")});
}

void tst_CZipperThread::workerRunMethodProcessesJobs()
{
    const QString source = environment.writeFile(QStringLiteral("direct/b.log"), "b");
    const QString target = environment.root() + QStringLiteral("direct.zip");
    CZipper zipper;
    CDirectWorkerThread thread;
    QVERIFY(thread.startThread(&zipper));
    thread.exitThread(0, 10000, false);
    QVERIFY(thread.wait(10000));
    QVERIFY(zipper.addZipJob(QFileInfo(source).path(), target));
    QSignalSpy finished(&zipper, &CZipper::jobsFinished);
    QCOMPARE(thread.runMethod(), 0);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(archiveNames(target), QStringList{QStringLiteral("b.log")});
}

void tst_CZipperThread::workerRunMethodWithoutZipper()
{
    CDirectWorkerThread thread;
    QCOMPARE(thread.runMethod(), 0);
}

QTEST_GUILESS_MAIN(tst_CZipperThread)
#include "tst_CZipperThread.moc"
