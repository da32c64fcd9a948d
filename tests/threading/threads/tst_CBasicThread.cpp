#include "threading/threads/CBasicThread.h"

#include "common/CExpect.h"
#include "common/CTestChild.h"
#include "diagnostics/CException.h"
#include "diagnostics/CLogRecord.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

namespace {

const int bounded = 10000;

// The text of a thread's step record: "Thread ( number description ) text".
QString step(const CBasicThread& thread, const char* text)
{
    return QStringLiteral("Thread ( %1 %2 ) %3")
        .arg(thread.threadNumber())
        .arg(thread.description(), QLatin1String(text));
}

void expect(QtMsgType type, const char* function, const QString& text)
{
    CExpect::record(type, QStringLiteral("CBasicThread.cpp"), QLatin1String(function), text);
}

// Runs the given work as its runMethod.
class Worker : public CBasicThread
{
public:
    explicit Worker(std::function<int()> work, const char* description = nullptr)
        : CBasicThread(false, nullptr, description), work(std::move(work))
    {}

    // Waits until a run of the work has begun.
    bool workBegun() { return started.tryAcquire(1, bounded); }
    bool startWork() { return startThread() && workBegun(); }

protected:
    int runMethod() override
    {
        SY_FUNCTION("Worker::runMethod");
        started.release();
        return work();
    }

private:
    std::function<int()> work;
    QSemaphore started;
};

// Pushes one record per level, so that the thread's call stack grows while it descends.
int descend(int levels)
{
    SY_FUNCTION("Deep::descend");
    return levels == 0 ? 0 : descend(levels - 1) + 1;
}

CException risk()
{
    return CException("Risk::make", "r.cpp", 3, QStringLiteral("risky"),
                      CCallStack(0, 9, "t", "i"));
}

QSemaphore* caughtSignal = nullptr;
QtMessageHandler previousHandler = nullptr;

// Holds the worker for a moment after it logged the exception it caught: the thread is then
// marked finished but has not ended yet.
void holdAfterCatch(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    previousHandler(type, context, text);
    if (type == QtCriticalMsg && text.endsWith(QLatin1String("Restart::Worker"))) {
        caughtSignal->release();
        QThread::msleep(100);
    }
}

} // namespace

class tst_CBasicThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exitAndTerminate_data();
    void exitAndTerminate();
    void twoSuspensionsNeedTwoResumes();
    void exitBeforeRun_data();
    void exitBeforeRun();
    void numberReuse();
    void exceptionsContained_data();
    void exceptionsContained();
    void restartRightAfterException();
    void killAllRacesWithRun();
    void cpuBoundThreadBounded_data();
    void cpuBoundThreadBounded();
    void dumpWhileStackGrows();
    void staticThreadAtExit();
};

void tst_CBasicThread::exitAndTerminate_data()
{
    QTest::addColumn<char>("call");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("exit kills after the bounded wait") << 'e' << int(ThreadTerminated) << 0;
    QTest::newRow("exit without kill warns") << 'w' << int(ThreadRunning) << 4;
}

void tst_CBasicThread::exitAndTerminate()
{
    QFETCH(char, call);
    QFETCH(int, state);
    QFETCH(int, exitCode);
    // Sleeps on: QThread::terminate only takes effect at a cancellation point.
    Worker worker([]() -> int {
        for (;;)
            QThread::msleep(20);
    });
    QSignalSpy terminatedSpy(&worker, &CBasicThread::threadTerminated);
    expect(QtDebugMsg, "CBasicThread::startThread", step(worker, "starting ..."));
    QVERIFY(worker.startWork());
    expect(QtWarningMsg, "CBasicThread::startThread",
           QStringLiteral("Attempt to start a starting up or already running thread ..."));
    QVERIFY(!worker.startThread());
    if (call == 'e') {
        expect(QtDebugMsg, "CBasicThread::exitThread", step(worker, "setting finished flag ..."));
        expect(QtDebugMsg, "CBasicThread::onTermination",
               step(worker, "setting terminated flag ..."));
        worker.exitThread();
    } else {
        expect(QtWarningMsg, "CBasicThread::exitThread",
               QStringLiteral(
                   "thread not finished after  0  msecs , caller has to terminate thread !!!"));
        worker.exitThread(4, 0, false);
        QVERIFY(worker.isRunning());
    }
    QCOMPARE(int(worker.state()), state);
    QCOMPARE(terminatedSpy.count(), call == 'w' ? 0 : 1);
    if (call == 'w')
        worker.terminateThread(exitCode, false);
    QVERIFY(worker.wait(bounded));
    QCOMPARE(worker.exitCode(), exitCode);
}

void tst_CBasicThread::twoSuspensionsNeedTwoResumes()
{
    QSemaphore checkNow;
    QSemaphore passed;
    Worker worker([&] {
        if (!checkNow.tryAcquire(1, bounded) || !CBasicThread::isCurrentThreadRunning())
            return -1;
        CBasicThread::checkSuspended();
        passed.release();
        return 0;
    });
    QSignalSpy suspendedSpy(&worker, &CBasicThread::threadSuspended);
    QSignalSpy resumedSpy(&worker, &CBasicThread::threadResumed);
    QVERIFY(worker.startThread());
    expect(QtDebugMsg, "CBasicThread::suspendThread", step(worker, "aquire suspension ..."));
    expect(QtDebugMsg, "CBasicThread::suspendThread", step(worker, "aquire suspension ..."));
    worker.suspendThread();
    worker.suspendThread(50);
    expect(QtDebugMsg, "CBasicThread::checkSuspended", step(worker, "suspending ..."));
    checkNow.release();
    QTRY_COMPARE(worker.state(), ThreadSuspended);
    QCOMPARE(suspendedSpy.count(), 1);
    worker.resumeThread();
    // Still held after the first resume, although its wait slices of 50 ms keep running out.
    QVERIFY(!passed.tryAcquire(1, 300));
    QCOMPARE(resumedSpy.count(), 0);
    worker.resumeThread(PriorityNormal);
    QVERIFY(passed.tryAcquire(1, bounded));
    QCOMPARE(resumedSpy.count(), 1);
    QVERIFY(worker.wait(bounded));
    QCOMPARE(worker.exitCode(), 0);
}

void tst_CBasicThread::exitBeforeRun_data()
{
    QTest::addColumn<bool>("eventLoop");
    QTest::newRow("runMethod") << false;
    QTest::newRow("event loop") << true;
}

void tst_CBasicThread::exitBeforeRun()
{
    QFETCH(bool, eventLoop);
    int runs = 0;
    Worker worker([&] { return ++runs; });
    CBasicThread loop(true);
    CBasicThread& thread = eventLoop ? loop : static_cast<CBasicThread&>(worker);
    QObject impl;
    // QThread emits started in the new thread just before run(): hold it there until the
    // thread has been told to finish.
    const auto hold = [&thread] {
        QDeadlineTimer deadline(bounded);
        while (thread.state() != ThreadFinished && !deadline.hasExpired())
            QThread::msleep(1);
    };
    connect(&thread, &QThread::started, &thread, hold, Qt::DirectConnection);
    expect(QtWarningMsg, "CBasicThread::run",
           QStringLiteral("Thread was requested to finish or terminate before started to run ..."));
    if (eventLoop)
        expect(QtDebugMsg, "CBasicThread::run", step(thread, "moving back impl ..."));
    QVERIFY(thread.startThread(&impl));
    thread.exitThread(1, bounded);
    QVERIFY(thread.isFinished());
    QCOMPARE(runs, 0);
    QCOMPARE(impl.thread(), QThread::currentThread());
}

void tst_CBasicThread::numberReuse()
{
    auto first = std::make_unique<CBasicThread>();
    auto second = std::make_unique<CBasicThread>();
    const qint32 number = second->threadNumber();
    QCOMPARE(number, first->threadNumber() + 1);
    second.reset();
    QCOMPARE(CBasicThread(std::string("third")).threadNumber(), number);
}

void tst_CBasicThread::exceptionsContained_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    const QString what = QString::fromUtf8(risk().what());
    QTest::newRow("CException pointer") << 0 << what;
    QTest::newRow("CException") << 1 << what;
    QTest::newRow("std::exception pointer") << 2 << QStringLiteral("counted error");
    QTest::newRow("std::exception") << 3 << QStringLiteral("counted error");
    QTest::newRow("anything else") << 4 << QStringLiteral("catched unknown exception ...");
}

void tst_CBasicThread::exceptionsContained()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    QSemaphore go;
    const auto work = [kind, &go]() -> int {
        // Throw only once startThread is over, so that its own state change comes first.
        if (!go.tryAcquire(1, bounded))
            return -1;
        if (kind == 0)
            throw new CException(risk());
        if (kind == 1)
            throw risk();
        if (kind == 2)
            throw new std::runtime_error("counted error");
        if (kind == 3)
            throw std::runtime_error("counted error");
        throw 5;
    };
    Worker worker(work, "Risky::Worker");
    // The state as run() leaves it, before the queued finished notification arrives.
    int stateAtEnd = -1;
    const auto keepState = [&] { stateAtEnd = worker.state(); };
    connect(&worker, &QThread::finished, &worker, keepState, Qt::DirectConnection);
    // The process goes on, and so can the thread.
    for (int run = 0; run < 2; ++run) {
        expect(QtCriticalMsg, "CBasicThread::run", text + QStringLiteral(" Risky::Worker"));
        QVERIFY(worker.startThread());
        go.release();
        QVERIFY(worker.wait(bounded));
        QCOMPARE(stateAtEnd, int(ThreadFinished));
        QCOMPARE(worker.callStack().depth(), 0u);
    }
}

void tst_CBasicThread::restartRightAfterException()
{
    QSemaphore go;
    QSemaphore caught;
    Worker worker(
        [&]() -> int {
            if (!go.tryAcquire(1, bounded))
                return -1;
            throw 5;
        },
        "Restart::Worker");
    caughtSignal = &caught;
    previousHandler = qInstallMessageHandler(holdAfterCatch);
    const auto restoreHandler = qScopeGuard([] { qInstallMessageHandler(previousHandler); });
    QVERIFY(worker.startThread());
    for (int run = 0; run < 4; ++run) {
        QVERIFY(worker.workBegun());
        expect(QtCriticalMsg, "CBasicThread::run",
               QStringLiteral("catched unknown exception ... Restart::Worker"));
        go.release();
        QVERIFY(caught.tryAcquire(1, bounded));
        // The thread is still inside run(): the start must wait for it, not be dropped.
        QVERIFY(run == 3 || worker.startThread());
    }
    QVERIFY(worker.wait(bounded));
}

// Killing every thread while one returns from its work: the kill's code and the work's result
// must not race; the work's result comes last.
void tst_CBasicThread::killAllRacesWithRun()
{
    Worker worker([] {
        const QDeadlineTimer deadline(bounded);
        while (CBasicThread::isCurrentThreadRunning() && !deadline.hasExpired()) {
        }
        return 9;
    });
    QVERIFY(worker.startWork());
    QTRY_COMPARE(worker.state(), ThreadRunning);
    QVERIFY(CBasicThread::killAllThreads(5));
    QVERIFY(worker.wait(bounded));
    QCOMPARE(worker.exitCode(), 9);
}

void tst_CBasicThread::cpuBoundThreadBounded_data()
{
    QTest::addColumn<char>("call");
    QTest::newRow("exitThread") << 'e';
    QTest::newRow("terminateThread") << 't';
    QTest::newRow("killAllThreads") << 'k';
}

// A thread that never reaches a cancellation point cannot be killed: the call gives up after
// its bounded waits, says so at critical level and reports failure.
void tst_CBasicThread::cpuBoundThreadBounded()
{
    QFETCH(char, call);
    std::atomic<bool> release{false};
    Worker worker([&]() -> int {
        const QDeadlineTimer deadline(60000);
        while (!release.load() && !deadline.hasExpired()) {
        }
        // The pending kill takes effect at this sleep, a cancellation point.
        for (;;)
            QThread::msleep(20);
    });
    QVERIFY(worker.startWork());
    CExpect::recordMatching(QtCriticalMsg, QStringLiteral("CBasicThread.cpp"),
                            QStringLiteral("CBasicThread::waitAfterKill"),
                            QStringLiteral("Thread \\( %1 CBasicThread::CBasicThread \\) did not "
                                           "end within 2000 msecs of being killed")
                                .arg(worker.threadNumber()));
    std::atomic<int> result{-1};
    QSemaphore returned;
    std::unique_ptr<QThread> caller(QThread::create([&] {
        if (call == 'e')
            result = worker.exitThread(0, 50, true);
        else if (call == 't')
            result = worker.terminateThread(-1, true);
        else
            result = CBasicThread::killAllThreads(3);
        returned.release();
    }));
    caller->start();
    const bool hasReturned = returned.tryAcquire(1, 20000);
    // Let the thread reach its next cancellation point, so that everything ends either way.
    release = true;
    QVERIFY(caller->wait(bounded));
    QVERIFY2(hasReturned, "the call waited without limit");
    QCOMPARE(result.load(), 0);
    QVERIFY(worker.wait(bounded));
}

// Another thread's stack is dumped while its owner pushes ever deeper.
void tst_CBasicThread::dumpWhileStackGrows()
{
    static std::atomic<int> dumps{0};
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            if (text.contains(QLatin1String("dumping stack trace ...")))
                ++dumps;
        });
    const auto restoreHandler = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    for (int round = 0; round < 20; ++round) {
        Worker worker([] { return descend(3000); });
        QVERIFY(worker.startWork());
        const QDeadlineTimer deadline(bounded);
        do
            worker.dumpStackTrace();
        while (!worker.wait(0) && !deadline.hasExpired());
        QVERIFY(worker.wait(bounded));
        QCOMPARE(worker.exitCode(), 3000);
    }
    QVERIFY(dumps.load() >= 20);
}

// A thread object that lives until the static destructors run still finds a call stack.
void tst_CBasicThread::staticThreadAtExit()
{
    if (CTestChild::isChild()) {
        static CBasicThread lasting(std::string("Static::Thread"));
        QVERIFY(descend(50) == 50);
        return;
    }
    QVERIFY(CTestChild::run("staticThreadAtExit"));
}

QTEST_GUILESS_MAIN(tst_CBasicThread)
#include "tst_CBasicThread.moc"
