#pragma once

#include "threading/threads/CCallStack.h"

#include <QAtomicInt>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <climits>
#include <string>

enum TThreadPriority
{
    PriorityIdle = QThread::IdlePriority,
    PriorityLowest = QThread::LowestPriority,
    PriorityLow = QThread::LowPriority,
    PriorityNormal = QThread::NormalPriority,
    PriorityHigh = QThread::HighPriority,
    PriorityHighest = QThread::HighestPriority,
    PriorityTimeCritical = QThread::TimeCriticalPriority,
    PriorityInherit = QThread::InheritPriority
};

enum TThreadState
{
    ThreadCreated = 0,
    ThreadStarting = 1,
    ThreadRunning = 2,
    ThreadSuspended = 3,
    ThreadTerminated = 4,
    ThreadFinished = 5
};

// Base of every worker thread of the library. A thread either runs runMethod() once or runs an
// event loop hosting an impl object (not owned) that is moved into it while it runs. Every
// thread has a number and a description that appear in its log records, its own call stack,
// and catches every exception that reaches run(). Live threads are kept in a process-wide
// registry.
class CBasicThread : public QThread
{
    Q_OBJECT

public:
    CBasicThread(bool useEventLoop = false, QObject* parent = nullptr,
                 const char* description = nullptr);
    CBasicThread(const std::string& description, bool useEventLoop = false,
                 QObject* parent = nullptr);
    // A bare description text would otherwise pick the first constructor and quietly turn into
    // useEventLoop = true.
    CBasicThread(const char* description, bool useEventLoop = false,
                 QObject* parent = nullptr) = delete;
    ~CBasicThread() override;

    qint32 threadNumber() const { return m_threadNumber; }
    QString description() const { return m_description; }
    qint32 exitCode() const { return m_exitCode.loadRelaxed(); }
    TThreadState state() const { return static_cast<TThreadState>(m_state.loadRelaxed()); }
    bool usesEventLoop() const { return useEventLoop; }
    CCallStack& callStack() { return m_callStack; }

    static void checkSuspended();
    static bool isCurrentThreadRunning();
    // Number of live CBasicThread objects; the newest one carries this number.
    static qint32 threadCount();

    static bool registerThread(CBasicThread* thread);
    static bool unregisterThread(CBasicThread* thread);
    static void startup();
    static void shutdown();
    static void setGlobalExceptionHandlers();
    // False when a thread did not end even after being killed (see exitThread).
    static bool killAllThreads(int exitCode);
    static void waitForAllThreads();
    static void dumpCurrentStackTrace();
    [[noreturn]] static void globalUnexpectedHandler();
    [[noreturn]] static void globalTerminateHandler();

    void requestStackTraceDump();
    bool isStackTraceDumpRequested() const { return dumpRequested.loadRelaxed() != 0; }
    virtual void dumpStackTrace();

    // How long a killed thread is waited for before it is given up.
    static constexpr int killWait = 2000;

public Q_SLOTS:
    // True when the thread really started: a thread still leaving an earlier run is waited
    // for up to killWait first.
    bool startThread(QObject* impl = nullptr, TThreadPriority priority = PriorityInherit);
    // True when the thread has ended. Killing relies on QThread::terminate, which takes effect
    // only at the thread's next cancellation point (a blocking call, a sleep, a lock wait): a
    // thread that only computes never reaches one. Such a thread is waited for up to killWait
    // after the kill, then given up with a critical record and false; it goes on running and
    // ends at its next cancellation point. Destroying it while it runs aborts the process
    // (QThread's own rule), so its owner must let it reach one first.
    bool exitThread(int exitCode = 0, ulong waitTime = 1000, bool kill = true);
    // The same for terminating; without waiting it only asks and returns true.
    bool terminateThread(int exitCode = -1, bool waitForEnd = true);
    void resumeThread(TThreadPriority priority = PriorityInherit);
    void suspendThread(ulong milliseconds = ULONG_MAX);

Q_SIGNALS:
    void threadStarted();
    void threadResumed();
    void threadSuspended();
    void threadFinished();
    void threadTerminated();

protected:
    void run() override;
    virtual int runMethod();
    void setExceptionHandlers();

    QObject* impl() const { return m_impl.data(); }

private Q_SLOTS:
    void onTermination();
    void onFinish();
    void onStart();

private:
    void initialize();
    void finalize();
    // Waits up to killWait for a thread that terminate() was called on.
    bool waitAfterKill();

    bool useEventLoop;
    qint32 m_threadNumber;
    // Written by run() on the thread and by the exit and kill calls on others.
    QAtomicInt m_exitCode;
    // Not owned; cleared by Qt if impl dies first, which the destructor relies on.
    QPointer<QObject> m_impl;
    QThread* homeThread;
    QString m_description;
    QAtomicInt m_state;
    CCallStack m_callStack;
    QMutex controlMutex;
    QMutex suspendMutex;
    QWaitCondition resumeCondition;
    quint32 suspendCount;
    quint32 suspendTimeout;
    QAtomicInt dumpRequested;
};
