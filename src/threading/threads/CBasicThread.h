#pragma once

#include "threading/threads/CCallStack.h"

#include <QAtomicInt>
#include <QByteArray>
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
    qint32 exitCode() const { return m_exitCode; }
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
    static void killAllThreads(int exitCode);
    static void waitForAllThreads();
    static void dumpCurrentStackTrace();
    [[noreturn]] static void globalUnexpectedHandler();
    [[noreturn]] static void globalTerminateHandler();

    void requestStackTraceDump();
    bool isStackTraceDumpRequested() const { return dumpRequested.loadRelaxed() != 0; }
    virtual void dumpStackTrace();

public Q_SLOTS:
    bool startThread(QObject* impl = nullptr, TThreadPriority priority = PriorityInherit);
    void exitThread(int exitCode = 0, ulong waitTime = 1000, bool kill = true);
    void terminateThread(int exitCode = -1, bool waitForEnd = true);
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

    bool useEventLoop;
    qint32 m_threadNumber;
    qint32 m_exitCode;
    // Not owned; cleared by Qt if impl dies first, which the destructor relies on.
    QPointer<QObject> m_impl;
    QThread* homeThread;
    QString m_description;
    QByteArray descriptionBytes;
    QAtomicInt m_state;
    CCallStack m_callStack;
    QMutex controlMutex;
    QMutex suspendMutex;
    QWaitCondition resumeCondition;
    quint32 suspendCount;
    quint32 suspendTimeout;
    QAtomicInt dumpRequested;
};
