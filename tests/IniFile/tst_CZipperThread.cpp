#include "IniFile/CZipperThread.h"

#include "IniFile/CZipWorkerThread.h"
#include "IniFile/CZipper.h"
#include "common/CTestEnvironment.h"
#include "common/CZipListing.h"

#include <QSemaphore>
#include <QTest>

// Both zipper threads host a zipper on their event loop and hand it back when they end.
class tst_CZipperThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostsZipper_data();
    void hostsZipper();

private:
    CTestEnvironment environment;
};

void tst_CZipperThread::hostsZipper_data()
{
    QTest::addColumn<bool>("worker");
    QTest::newRow("CZipperThread") << false;
    QTest::newRow("CZipWorkerThread") << true;
}

void tst_CZipperThread::hostsZipper()
{
    QFETCH(bool, worker);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    environment.writeFile(name + "/a.log", "a");
    const QString target = environment.root() + name + ".zip";
    CZipper zipper;
    std::unique_ptr<CBasicThread> thread;
    if (worker)
        thread = std::make_unique<CZipWorkerThread>();
    else
        thread = std::make_unique<CZipperThread>();
    QCOMPARE(thread->description(), name + "::" + name);
    QVERIFY(zipper.addZipJob(environment.root() + name, target));
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

QTEST_GUILESS_MAIN(tst_CZipperThread)
#include "tst_CZipperThread.moc"
