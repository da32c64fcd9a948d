#include "threading/threads/CBasicThread.h"

#include "diagnostics/CException.h"
#include "diagnostics/CLogRecord.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>
#include <stdexcept>

namespace {

const int bounded = 10000;

// The whole record of a thread step, for QTest::ignoreMessage.
QRegularExpression record(const QString& thread, const char* function, const QString& text)
{
    return QRegularExpression(
        QLatin1Char('^') + QRegularExpression::escape(QStringLiteral("[ %1 ] [ ").arg(thread)) +
            QStringLiteral(R"([A-Za-z_]+\.cpp : \d+ : )") +
            QRegularExpression::escape(QLatin1String(function) + QStringLiteral(" ] ") + text) +
            QLatin1Char('$'),
        QRegularExpression::DotMatchesEverythingOption);
}

QString mainThread()
{
    return QStringLiteral("-1 : MainThread");
}

QString of(const CBasicThread& thread)
{
    return QStringLiteral("%1 : %2").arg(thread.threadNumber()).arg(thread.description());
}

QString step(const CBasicThread& thread, const char* text)
{
    return QStringLiteral("Thread ( %1 %2 ) %3")
        .arg(thread.threadNumber())
        .arg(thread.description(), QLatin1String(text));
}

// Runs the given work as its runMethod.
class Worker : public CBasicThread
{
public:
    explicit Worker(std::function<int()> work, const char* description = "Worker::Worker")
        : CBasicThread(false, nullptr, description), work(std::move(work))
    {}

protected:
    int runMethod() override
    {
        SY_FUNCTION("Worker::runMethod");
        return work();
    }

private:
    std::function<int()> work;
};

// Sleeps until it is cancelled: QThread::terminate only takes effect at a cancellation point.
int sleepForever(QSemaphore* started)
{
    started->release();
    for (;;)
        QThread::msleep(20);
}

class CountedException : public CException
{
public:
    CountedException()
        : CException("Thrower::run", "t.cpp", 5, QStringLiteral("counted"),
                     CCallStack(0, 9, "thrower", "impl"))
    {
        ++live;
    }
    CountedException(const CountedException& other) : std::exception(other), CException(other)
    {
        ++live;
    }
    ~CountedException() override { --live; }
    CountedException* clone() const override { return new CountedException(*this); }
    static int live;
};
int CountedException::live = 0;

class CountedError : public std::runtime_error
{
public:
    CountedError() : std::runtime_error("counted error") { ++live; }
    CountedError(const CountedError& other) : std::runtime_error(other) { ++live; }
    ~CountedError() override { --live; }
    static int live;
};
int CountedError::live = 0;

} // namespace

class tst_CBasicThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void construction();
    void startAndStartAgain();
    void runMethodRunsInThread();
    void defaultRunMethod();
    void eventLoopHostsImpl();
    void exitKillsSleepingThread();
    void exitWithoutKillWarns();
    void terminateThread_data();
    void terminateThread();
    void twoSuspensionsNeedTwoResumes();
    void checkSuspendedOutsideWorker();
    void exitBeforeRun_data();
    void exitBeforeRun();
    void numberReuse();
    void exceptionsContained_data();
    void exceptionsContained();
    void registry();
    void killAllThreads();
    void waitForAllThreads();
    void dumpStackTrace();
    void dumpCurrentStackTraceOfMainThread();
    void terminateHandlerEndsProcess();
};

void tst_CBasicThread::construction()
{
    const qint32 before = CBasicThread::threadCount();
    QTest::ignoreMessage(QtDebugMsg,
                         record(mainThread(), "CBasicThread::CBasicThread",
                                QStringLiteral("Thread ( %1 CBasicThread::CBasicThread ) "
                                               "registering ...")
                                    .arg(before + 1)));
    CBasicThread plain;
    QCOMPARE(plain.threadNumber(), before + 1);
    QCOMPARE(plain.description(), QStringLiteral("CBasicThread::CBasicThread"));
    QCOMPARE(plain.state(), ThreadCreated);
    QCOMPARE(QByteArray(plain.callStack().header()),
             QByteArray("[CBasicThread::CBasicThread]\t(ThreadID: ") +
                 QByteArray::number(before + 1) + ")\nBasic Thread Implementation\n");
    CBasicThread named(std::string("named"), true);
    QCOMPARE(named.description(), QStringLiteral("named"));
    QVERIFY(named.usesEventLoop());
    QCOMPARE(QByteArray(named.callStack().header()), QByteArray("[Unknown Thread]\t(ThreadID: ") +
                                                         QByteArray::number(before + 2) +
                                                         ")\nNo Thread Description Available!\n");
    QTest::ignoreMessage(QtDebugMsg, record(mainThread(), "CBasicThread::~CBasicThread",
                                            step(named, "unregistering ...")));
    QTest::ignoreMessage(QtDebugMsg, record(mainThread(), "CBasicThread::~CBasicThread",
                                            step(plain, "unregistering ...")));
}

void tst_CBasicThread::startAndStartAgain()
{
    QSemaphore started;
    QSemaphore proceed;
    int runs = 0;
    Worker worker([&] {
        ++runs;
        started.release();
        return proceed.tryAcquire(1, bounded) ? 3 : -3;
    });
    QSignalSpy startedSpy(&worker, &CBasicThread::threadStarted);
    QSignalSpy finishedSpy(&worker, &CBasicThread::threadFinished);
    QTest::ignoreMessage(QtDebugMsg, record(mainThread(), "CBasicThread::startThread",
                                            step(worker, "starting ...")));
    QVERIFY(worker.startThread());
    QCOMPARE(startedSpy.count(), 1);
    QVERIFY(started.tryAcquire(1, bounded));
    QCOMPARE(worker.state(), ThreadRunning);
    QTest::ignoreMessage(QtWarningMsg,
                         record(mainThread(), "CBasicThread::startThread",
                                QStringLiteral("Attempt to start a starting up or already "
                                               "running thread ...")));
    QVERIFY(!worker.startThread());
    QCOMPARE(startedSpy.count(), 1);
    proceed.release();
    QVERIFY(worker.wait(bounded));
    QCOMPARE(worker.exitCode(), 3);
    // QThread::finished comes from the worker, so it reaches this thread queued.
    QTRY_COMPARE(finishedSpy.count(), 1);
    QTRY_COMPARE(worker.state(), ThreadFinished);

    // A finished thread may be started again.
    proceed.release();
    QVERIFY(worker.startThread());
    QVERIFY(worker.wait(bounded));
    QCOMPARE(runs, 2);
    QCOMPARE(startedSpy.count(), 2);
}

void tst_CBasicThread::runMethodRunsInThread()
{
    QThread* ranIn = nullptr;
    bool running = false;
    qint32 stackNumber = 0;
    quint32 depth = 0;
    Worker* self = nullptr;
    Worker worker([&] {
        ranIn = QThread::currentThread();
        running = CBasicThread::isCurrentThreadRunning();
        stackNumber = CCallStack::current().threadNumber();
        depth = self->callStack().depth();
        return 42;
    });
    self = &worker;
    QVERIFY(worker.startThread(nullptr, PriorityLow));
    QVERIFY(worker.wait(bounded));
    QCOMPARE(ranIn, &worker);
    QVERIFY(running);
    QCOMPARE(stackNumber, worker.threadNumber());
    // CBasicThread::run and Worker::runMethod.
    QCOMPARE(depth, 2u);
    QCOMPARE(worker.callStack().depth(), 0u);
    QCOMPARE(worker.exitCode(), 42);
}

void tst_CBasicThread::defaultRunMethod()
{
    CBasicThread thread;
    thread.exitThread(17, 0, false);
    QTest::ignoreMessage(QtDebugMsg, record(of(thread), "CBasicThread::runMethod",
                                            step(thread, "default runMethod called ...")));
    QTest::ignoreMessage(
        QtDebugMsg, record(of(thread), "CBasicThread::run", step(thread, "after clear callstack")));
    QVERIFY(thread.startThread());
    QVERIFY(thread.wait(bounded));
    QCOMPARE(thread.exitCode(), 0);
}

void tst_CBasicThread::eventLoopHostsImpl()
{
    CBasicThread thread(true, nullptr, "Loop::Host");
    // Dies before the thread, as an impl held by a subclass does.
    QObject impl;
    QTest::ignoreMessage(QtDebugMsg, record(mainThread(), "CBasicThread::startThread",
                                            step(thread, "moving impl ...")));
    QTest::ignoreMessage(QtDebugMsg,
                         record(of(thread), "CBasicThread::run", step(thread, "running ...")));
    QVERIFY(thread.startThread(&impl));
    QCOMPARE(impl.thread(), &thread);
    QSemaphore done;
    QThread* ranIn = nullptr;
    QMetaObject::invokeMethod(&impl, [&] {
        ranIn = QThread::currentThread();
        done.release();
    });
    QVERIFY(done.tryAcquire(1, bounded));
    QCOMPARE(ranIn, &thread);
    QTest::ignoreMessage(QtDebugMsg, record(of(thread), "CBasicThread::moveImplHome",
                                            step(thread, "moving back impl ...")));
    thread.exitThread(7);
    QVERIFY(thread.isFinished());
    QCOMPARE(thread.exitCode(), 7);
    QCOMPARE(impl.thread(), QThread::currentThread());
}

void tst_CBasicThread::exitKillsSleepingThread()
{
    QSemaphore started;
    Worker worker([&] { return sleepForever(&started); });
    QSignalSpy terminatedSpy(&worker, &CBasicThread::threadTerminated);
    QVERIFY(worker.startThread());
    QVERIFY(started.tryAcquire(1, bounded));
    QTest::ignoreMessage(QtDebugMsg, record(mainThread(), "CBasicThread::exitThread",
                                            step(worker, "setting finished flag ...")));
    QTest::ignoreMessage(QtDebugMsg, record(mainThread(), "CBasicThread::onTermination",
                                            step(worker, "setting terminated flag ...")));
    worker.exitThread();
    QVERIFY(worker.isFinished());
    QCOMPARE(worker.state(), ThreadTerminated);
    QCOMPARE(terminatedSpy.count(), 1);
    QCOMPARE(worker.exitCode(), 0);
}

void tst_CBasicThread::exitWithoutKillWarns()
{
    QSemaphore started;
    QAtomicInt stop;
    Worker worker([&] {
        started.release();
        QDeadlineTimer deadline(bounded);
        while (!stop.loadRelaxed() && !deadline.hasExpired())
            QThread::msleep(5);
        return 0;
    });
    QSignalSpy terminatedSpy(&worker, &CBasicThread::threadTerminated);
    QVERIFY(worker.startThread());
    QVERIFY(started.tryAcquire(1, bounded));
    QTest::ignoreMessage(QtWarningMsg,
                         record(mainThread(), "CBasicThread::exitThread",
                                QStringLiteral("thread not finished after  0  msecs , caller has "
                                               "to terminate thread !!!")));
    worker.exitThread(4, 0, false);
    QCOMPARE(worker.state(), ThreadRunning);
    QVERIFY(worker.isRunning());
    QCOMPARE(terminatedSpy.count(), 0);
    stop.storeRelaxed(1);
    QVERIFY(worker.wait(bounded));
}

void tst_CBasicThread::terminateThread_data()
{
    QTest::addColumn<bool>("eventLoop");
    QTest::addColumn<bool>("waitForEnd");
    QTest::addColumn<int>("terminatedSignals");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("event loop ends in time") << true << true << 0 << 6;
    QTest::newRow("sleeper killed after the wait") << false << true << 1 << 6;
    QTest::newRow("sleeper killed at once") << false << false << 1 << 6;
}

void tst_CBasicThread::terminateThread()
{
    QFETCH(bool, eventLoop);
    QFETCH(bool, waitForEnd);
    QFETCH(int, terminatedSignals);
    QFETCH(int, exitCode);
    QSemaphore started;
    std::unique_ptr<CBasicThread> thread;
    QObject impl;
    if (eventLoop) {
        thread = std::make_unique<CBasicThread>(true);
        QVERIFY(thread->startThread(&impl));
        QMetaObject::invokeMethod(&impl, [&] { started.release(); });
        QVERIFY(started.tryAcquire(1, bounded));
    } else {
        thread = std::make_unique<Worker>([&] { return sleepForever(&started); });
        QVERIFY(thread->startThread());
        QVERIFY(started.tryAcquire(1, bounded));
    }
    QSignalSpy terminatedSpy(thread.get(), &CBasicThread::threadTerminated);
    thread->terminateThread(exitCode, waitForEnd);
    QVERIFY(thread->wait(bounded));
    QCOMPARE(terminatedSpy.count(), terminatedSignals);
    QCOMPARE(thread->exitCode(), exitCode);
}

void tst_CBasicThread::twoSuspensionsNeedTwoResumes()
{
    QSemaphore checkNow;
    QSemaphore passed;
    Worker worker([&] {
        if (!checkNow.tryAcquire(1, bounded))
            return -1;
        CBasicThread::checkSuspended();
        passed.release();
        return 0;
    });
    QSignalSpy suspendedSpy(&worker, &CBasicThread::threadSuspended);
    QSignalSpy resumedSpy(&worker, &CBasicThread::threadResumed);
    QVERIFY(worker.startThread());
    QTest::ignoreMessage(QtDebugMsg, record(mainThread(), "CBasicThread::suspendThread",
                                            step(worker, "aquire suspension ...")));
    QTest::ignoreMessage(QtDebugMsg, record(mainThread(), "CBasicThread::suspendThread",
                                            step(worker, "aquire suspension ...")));
    worker.suspendThread();
    worker.suspendThread(50);
    QTest::ignoreMessage(QtDebugMsg, record(of(worker), "CBasicThread::checkSuspended",
                                            step(worker, "suspending ...")));
    checkNow.release();
    QTRY_COMPARE(worker.state(), ThreadSuspended);
    QCOMPARE(suspendedSpy.count(), 1);
    worker.resumeThread();
    // Still held after the first resume, although its wait slices of 50 ms keep running out.
    QVERIFY(!passed.tryAcquire(1, 300));
    QCOMPARE(worker.state(), ThreadSuspended);
    QCOMPARE(resumedSpy.count(), 0);
    worker.resumeThread(PriorityNormal);
    QVERIFY(passed.tryAcquire(1, bounded));
    QCOMPARE(resumedSpy.count(), 1);
    QVERIFY(worker.wait(bounded));
    QCOMPARE(worker.exitCode(), 0);
    // Without pending suspensions a resume changes nothing.
    worker.resumeThread();
    QCOMPARE(resumedSpy.count(), 1);
}

void tst_CBasicThread::checkSuspendedOutsideWorker()
{
    const char* text = "CBasicThread::checkSuspended() called from a non suspendable Thread!";
    QTest::ignoreMessage(QtWarningMsg,
                         record(mainThread(), "CBasicThread::checkSuspended", QLatin1String(text)));
    CBasicThread::checkSuspended();
    QVERIFY(CBasicThread::isCurrentThreadRunning());
    QTest::ignoreMessage(QtWarningMsg,
                         record(mainThread(), "CBasicThread::checkSuspended", QLatin1String(text)));
    std::unique_ptr<QThread> foreign(QThread::create([] { CBasicThread::checkSuspended(); }));
    foreign->start();
    QVERIFY(foreign->wait(bounded));
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
    connect(
        &thread, &QThread::started, &thread,
        [&thread] {
            QDeadlineTimer deadline(bounded);
            while (thread.state() != ThreadFinished && !deadline.hasExpired())
                QThread::msleep(1);
        },
        Qt::DirectConnection);
    QTest::ignoreMessage(QtWarningMsg,
                         record(of(thread), "CBasicThread::run",
                                QStringLiteral("Thread was requested to finish or terminate "
                                               "before started to run ...")));
    if (eventLoop)
        QTest::ignoreMessage(QtDebugMsg, record(of(thread), "CBasicThread::moveImplHome",
                                                step(thread, "moving back impl ...")));
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
    QCOMPARE(CBasicThread::threadCount(), number);
    second.reset();
    QCOMPARE(CBasicThread::threadCount(), number - 1);
    const CBasicThread third;
    QCOMPARE(third.threadNumber(), number);
}

void tst_CBasicThread::exceptionsContained_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    const CountedException counted;
    const QString what = QString::fromUtf8(counted.what());
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
    Worker worker(
        [kind, &go]() -> int {
            // Throw only once startThread is over, so that its own state change comes first.
            if (!go.tryAcquire(1, bounded))
                return -1;
            switch (kind) {
            case 0:
                throw new CountedException;
            case 1:
                throw CountedException();
            case 2:
                throw new CountedError;
            case 3:
                throw CountedError();
            default:
                throw 5;
            }
        },
        "Risky::Worker");
    QTest::ignoreMessage(QtCriticalMsg, record(of(worker), "CBasicThread::run",
                                               text + QStringLiteral(" Risky::Worker")));
    // The state as run() leaves it, before the queued finished notification arrives.
    int stateAtEnd = -1;
    connect(
        &worker, &QThread::finished, &worker, [&] { stateAtEnd = worker.state(); },
        Qt::DirectConnection);
    QVERIFY(worker.startThread());
    go.release();
    QVERIFY(worker.wait(bounded));
    QCOMPARE(stateAtEnd, int(ThreadFinished));
    QCOMPARE(worker.callStack().depth(), 0u);
    QCOMPARE(CountedException::live, 0);
    QCOMPARE(CountedError::live, 0);
    // The process goes on, and so can the thread.
    QTest::ignoreMessage(QtCriticalMsg, record(of(worker), "CBasicThread::run",
                                               text + QStringLiteral(" Risky::Worker")));
    QVERIFY(worker.startThread());
    go.release();
    QVERIFY(worker.wait(bounded));
}

void tst_CBasicThread::registry()
{
    CBasicThread thread;
    QVERIFY(CBasicThread::unregisterThread(&thread));
    QVERIFY(!CBasicThread::unregisterThread(&thread));
    QVERIFY(CBasicThread::registerThread(&thread));
    QVERIFY(CBasicThread::unregisterThread(&thread));
    QVERIFY(CBasicThread::registerThread(&thread));
}

void tst_CBasicThread::killAllThreads()
{
    QSemaphore started;
    Worker first([&] { return sleepForever(&started); });
    Worker second([&] { return sleepForever(&started); });
    CBasicThread loop(true);
    QSignalSpy terminatedSpy(&first, &CBasicThread::threadTerminated);
    QVERIFY(first.startThread());
    QVERIFY(second.startThread());
    QVERIFY(loop.startThread());
    QVERIFY(started.tryAcquire(2, bounded));
    // A thread outside the registry is left alone.
    QSemaphore proceed;
    Worker outside([&] { return proceed.tryAcquire(1, bounded) ? 1 : -1; });
    QVERIFY(CBasicThread::unregisterThread(&outside));
    QVERIFY(outside.startThread());

    CBasicThread::killAllThreads(9);
    QVERIFY(first.isFinished());
    QVERIFY(second.isFinished());
    QVERIFY(loop.isFinished());
    QCOMPARE(first.state(), ThreadTerminated);
    QCOMPARE(second.state(), ThreadTerminated);
    QCOMPARE(terminatedSpy.count(), 1);
    QCOMPARE(first.exitCode(), 9);
    QCOMPARE(loop.exitCode(), 9);
    QVERIFY(outside.isRunning());
    proceed.release();
    QVERIFY(outside.wait(bounded));
    QCOMPARE(outside.exitCode(), 1);
    QVERIFY(CBasicThread::registerThread(&outside));
}

void tst_CBasicThread::waitForAllThreads()
{
    QSemaphore go;
    QAtomicInt done;
    const auto work = [&] {
        if (!go.tryAcquire(1, bounded))
            return -1;
        QThread::msleep(100);
        done.fetchAndAddOrdered(1);
        return 0;
    };
    Worker first(work);
    Worker second(work);
    QVERIFY(first.startThread());
    QVERIFY(second.startThread());
    go.release(2);
    CBasicThread::waitForAllThreads();
    QCOMPARE(done.loadRelaxed(), 2);
    QVERIFY(first.isFinished());
    QVERIFY(second.isFinished());
}

void tst_CBasicThread::dumpStackTrace()
{
    Worker* self = nullptr;
    bool requested = false;
    Worker worker(
        [&] {
            self->requestStackTraceDump();
            requested = self->isStackTraceDumpRequested();
            self->dumpStackTrace();
            return self->isStackTraceDumpRequested() ? 1 : 0;
        },
        "Dumper");
    self = &worker;
    const QString number = QString::number(worker.threadNumber());
    const QString site = QStringLiteral(R"(:\d+\]\t)");
    const QString library = QRegularExpression::escape(
        QStringLiteral("../../../src/threading/threads/CBasicThread.cpp"));
    QTest::ignoreMessage(
        QtDebugMsg,
        QRegularExpression(
            QStringLiteral(R"(^\[ %1 : Dumper \] \[ CBasicThread\.cpp : \d+ : )"
                           R"(CBasicThread::dumpStackTrace \] dumping stack trace \.\.\.\n )"
                           R"(\[Dumper\]\t\(ThreadID: %1\)\nBasic Thread Implementation\n )")
                .arg(number) +
            QStringLiteral(R"(\(2\)\t\[)") + library + site +
            QStringLiteral(R"(CBasicThread::dumpStackTrace\n\(1\)\t\[)") +
            QRegularExpression::escape(
                QStringLiteral("../../../tests/threading/threads/tst_CBasicThread.cpp")) +
            site + QStringLiteral(R"(Worker::runMethod\n\(0\)\t\[)") + library + site +
            QStringLiteral(R"(CBasicThread::run\n$)")));
    QVERIFY(worker.startThread());
    QVERIFY(worker.wait(bounded));
    QVERIFY(requested);
    QCOMPARE(worker.exitCode(), 0);
}

void tst_CBasicThread::dumpCurrentStackTraceOfMainThread()
{
    SY_FUNCTION("tst_CBasicThread::dumpCurrentStackTraceOfMainThread");
    QTest::ignoreMessage(
        QtDebugMsg,
        QRegularExpression(QStringLiteral(
            R"(^\[ -1 : MainThread \] \[ CBasicThread\.cpp : \d+ : )"
            R"(CBasicThread::dumpCurrentStackTrace \] dumping stack trace \.\.\.\n )"
            R"(\[MainThread\]\t\(ThreadID: -1\)\nThis is the Main thread we hope\n )"
            R"(\(1\)\t\[\S+CBasicThread\.cpp:\d+\]\tCBasicThread::dumpCurrentStackTrace\n)"
            R"(\(0\)\t\[\S+tst_CBasicThread\.cpp:\d+\]\t)"
            R"(tst_CBasicThread::dumpCurrentStackTraceOfMainThread\n$)")));
    CBasicThread::dumpCurrentStackTrace();
}

void tst_CBasicThread::terminateHandlerEndsProcess()
{
    if (qEnvironmentVariableIsSet("SY_THREAD_CHILD")) {
        CBasicThread::startup();
        std::terminate();
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SY_THREAD_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("terminateHandlerEndsProcess")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 255);
    const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
    QVERIFY2(output.contains("[ -1 : MainThread ] [ CBasicThread.cpp : "), output.constData());
    QVERIFY2(output.contains(" : CBasicThread::globalTerminateHandler ] QThread("),
             output.constData());
}

QTEST_GUILESS_MAIN(tst_CBasicThread)
#include "tst_CBasicThread.moc"
