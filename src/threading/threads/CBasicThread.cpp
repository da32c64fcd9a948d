#include "threading/threads/CBasicThread.h"

#include "diagnostics/CAssert.h"
#include "diagnostics/CException.h"
#include "diagnostics/CLogRecord.h"

#include <QDeadlineTimer>
#include <QList>
#include <QMutexLocker>

#include <climits>
#include <cstdlib>
#include <exception>
#include <iostream>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace {

QAtomicInt liveThreads;

struct ThreadRegistry
{
    QMutex mutex;
    QList<CBasicThread*> threads;
};

ThreadRegistry& registry()
{
    static ThreadRegistry instance;
    return instance;
}

const char* const defaultDescription = "CBasicThread::CBasicThread";

} // namespace

CBasicThread::CBasicThread(bool useEventLoop, QObject* parent, const char* description)
    : QThread(parent), useEventLoop(useEventLoop),
      m_threadNumber(liveThreads.fetchAndAddOrdered(1) + 1), m_exitCode(0), m_impl(nullptr),
      homeThread(thread()),
      m_description(QString::fromLatin1(description ? description : defaultDescription)),
      m_state(ThreadCreated), m_callStack(0, m_threadNumber, m_description.toLatin1().constData(),
                                          "Basic Thread Implementation"),
      suspendCount(0), suspendTimeout(UINT_MAX), dumpRequested(0)
{
    SY_FUNCTION("CBasicThread::CBasicThread");
    initialize();
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") registering ...";
    registerThread(this);
}

CBasicThread::CBasicThread(const std::string& description, bool useEventLoop, QObject* parent)
    : QThread(parent), useEventLoop(useEventLoop),
      m_threadNumber(liveThreads.fetchAndAddOrdered(1) + 1), m_exitCode(0), m_impl(nullptr),
      homeThread(thread()),
      m_description(description.empty() ? QString::fromLatin1(defaultDescription)
                                        : QString::fromStdString(description)),
      m_state(ThreadCreated), m_callStack(0, m_threadNumber, nullptr, nullptr), suspendCount(0),
      suspendTimeout(UINT_MAX), dumpRequested(0)
{
    SY_FUNCTION("CBasicThread::CBasicThread");
    initialize();
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") registering ...";
    registerThread(this);
}

CBasicThread::~CBasicThread()
{
    SY_FUNCTION("CBasicThread::~CBasicThread");
    quit();
    if (!wait(1000)) {
        terminate();
        waitAfterKill();
    }
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") unregistering ...";
    unregisterThread(this);
    finalize();
    liveThreads.fetchAndSubOrdered(1);
    homeThread = nullptr;
}

qint32 CBasicThread::threadCount()
{
    return liveThreads.loadRelaxed();
}

void CBasicThread::initialize()
{
    SY_FUNCTION("CBasicThread::initialize");
    // Qt 6 has no "terminated" signal: threadTerminated() is emitted by the kill paths, and
    // onTermination() follows it.
    bool connRes =
        static_cast<bool>(connect(this, &QThread::finished, this, &CBasicThread::threadFinished));
    SY_ASSERT(connRes);
    connRes = static_cast<bool>(
        connect(this, &CBasicThread::threadStarted, this, &CBasicThread::onStart));
    SY_ASSERT(connRes);
    connRes = static_cast<bool>(connect(this, &QThread::finished, this, &CBasicThread::onFinish));
    SY_ASSERT(connRes);
    connRes = static_cast<bool>(
        connect(this, &CBasicThread::threadTerminated, this, &CBasicThread::onTermination));
    SY_ASSERT(connRes);
}

void CBasicThread::finalize()
{
    SY_FUNCTION("CBasicThread::finalize");
    if (m_impl && useEventLoop)
        m_impl->disconnect();
    m_impl = nullptr;
    disconnect();
}

bool CBasicThread::startThread(QObject* impl, TThreadPriority priority)
{
    SY_FUNCTION("CBasicThread::startThread");
    const QMutexLocker locker(&controlMutex);
    const int state = m_state.loadRelaxed();
    if (state == ThreadStarting || state == ThreadRunning) {
        SY_WARNING << "Attempt to start a starting up or already running thread ...";
        return false;
    }
    // A run that its state already calls over may still be leaving run(); QThread::start would
    // silently do nothing then.
    if (isRunning() && !wait(killWait)) {
        SY_WARNING << "Attempt to start a starting up or already running thread ...";
        return false;
    }
    m_state.storeRelaxed(ThreadCreated);
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") starting ...";
    homeThread = thread();
    m_impl = impl;
    start(static_cast<QThread::Priority>(priority));
    // A failed start leaves the thread neither running nor finished (Qt has logged why); a
    // started one may already have finished.
    if (!isRunning() && !isFinished()) {
        m_impl = nullptr;
        return false;
    }
    // The new thread may already have marked itself running.
    if (m_state.testAndSetOrdered(ThreadCreated, ThreadStarting))
        SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") starting up ...";
    if (useEventLoop && m_impl) {
        SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") moving impl ...";
        m_impl->moveToThread(this);
    }
    Q_EMIT threadStarted();
    return true;
}

bool CBasicThread::exitThread(int exitCode, ulong waitTime, bool kill)
{
    SY_FUNCTION("CBasicThread::exitThread");
    const QMutexLocker locker(&controlMutex);
    m_exitCode.storeRelaxed(exitCode);
    exit(exitCode);
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") setting finished flag ...";
    m_state.storeRelaxed(ThreadFinished);
    if (!isRunning())
        return true;
    exit(exitCode);
    if (wait(waitTime))
        return true;
    if (kill) {
        m_state.storeRelaxed(ThreadTerminated);
        terminate();
        if (!waitAfterKill())
            return false;
        Q_EMIT threadTerminated();
        return true;
    }
    SY_WARNING << "thread not finished after " << waitTime
               << " msecs , caller has to terminate thread !!!";
    m_state.storeRelaxed(ThreadRunning);
    return false;
}

bool CBasicThread::terminateThread(int exitCode, bool waitForEnd)
{
    SY_FUNCTION("CBasicThread::terminateThread");
    const QMutexLocker locker(&controlMutex);
    m_exitCode.storeRelaxed(exitCode);
    if (waitForEnd) {
        exit(exitCode);
        SY_DEBUG << "Thread (" << m_threadNumber << m_description
                 << ") setting terminated flag ...";
        m_state.storeRelaxed(ThreadTerminated);
        if (wait(1000))
            return true;
        terminate();
        if (!waitAfterKill())
            return false;
        Q_EMIT threadTerminated();
        return true;
    }
    terminate();
    Q_EMIT threadTerminated();
    return true;
}

bool CBasicThread::waitAfterKill()
{
    SY_FUNCTION("CBasicThread::waitAfterKill");
    if (!wait(killWait)) {
        SY_CRITICAL << "Thread (" << m_threadNumber << m_description << ") did not end within"
                    << killWait << "msecs of being killed";
        return false;
    }
    return true;
}

void CBasicThread::suspendThread(ulong milliseconds)
{
    SY_FUNCTION("CBasicThread::suspendThread");
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") aquire suspension ...";
    const QMutexLocker locker(&suspendMutex);
    suspendTimeout = milliseconds >= UINT_MAX ? UINT_MAX : static_cast<quint32>(milliseconds);
    ++suspendCount;
}

void CBasicThread::resumeThread(TThreadPriority priority)
{
    SY_FUNCTION("CBasicThread::resumeThread");
    const QMutexLocker locker(&suspendMutex);
    // Qt refuses "inherit" for a running thread and any priority for a stopped one.
    if (priority != PriorityInherit && isRunning())
        setPriority(static_cast<QThread::Priority>(priority));
    if (suspendCount == 0)
        return;
    if (--suspendCount == 0) {
        resumeCondition.wakeAll();
        Q_EMIT threadResumed();
        SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") setting running flag ...";
        m_state.storeRelaxed(ThreadRunning);
    }
}

void CBasicThread::checkSuspended()
{
    SY_FUNCTION("CBasicThread::checkSuspended");
    CBasicThread* self = qobject_cast<CBasicThread*>(QThread::currentThread());
    if (!self) {
        SY_WARNING << "CBasicThread::checkSuspended() called from a non suspendable Thread!";
        return;
    }
    const QMutexLocker locker(&self->suspendMutex);
    if (self->suspendCount == 0)
        return;
    SY_DEBUG << "Thread (" << self->m_threadNumber << self->m_description << ") suspending ...";
    Q_EMIT self->threadSuspended();
    SY_DEBUG << "Thread (" << self->m_threadNumber << self->m_description
             << ") setting suspended flag ...";
    self->m_state.storeRelaxed(ThreadSuspended);
    while (self->suspendCount > 0) {
        const QDeadlineTimer slice = self->suspendTimeout == UINT_MAX
                                         ? QDeadlineTimer(QDeadlineTimer::Forever)
                                         : QDeadlineTimer(self->suspendTimeout);
        self->resumeCondition.wait(&self->suspendMutex, slice);
    }
}

bool CBasicThread::isCurrentThreadRunning()
{
    QThread* current = QThread::currentThread();
    if (const CBasicThread* self = qobject_cast<const CBasicThread*>(current))
        return self->m_state.loadRelaxed() == ThreadRunning;
    return current->isRunning();
}

int CBasicThread::runMethod()
{
    SY_FUNCTION("CBasicThread::runMethod");
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") default runMethod called ...";
    return 0;
}

// The cancellation unwind that QThread::terminate starts carries no exception object, so the
// sanitizer's null check would stop at the clause that lets it pass.
#if defined(__GLIBCXX__)
__attribute__((no_sanitize("null")))
#endif
void CBasicThread::run()
{
    SY_FUNCTION("CBasicThread::run");
    const auto moveImplHome = [this] {
        if (useEventLoop && m_impl) {
            SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") moving back impl ...";
            m_impl->moveToThread(homeThread);
        }
    };
    const int state = m_state.loadRelaxed();
    if (state == ThreadTerminated || state == ThreadFinished) {
        SY_WARNING << "Thread was requested to finish or terminate before started to run ...";
        moveImplHome();
        return;
    }
    setExceptionHandlers();
    try {
        SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") setting running flag ...";
        m_state.storeRelaxed(ThreadRunning);
        if (useEventLoop) {
            SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") running ...";
            m_exitCode.storeRelaxed(exec());
        } else {
            m_exitCode.storeRelaxed(runMethod());
        }
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        // terminate() cancels the thread by unwinding it; swallowing that would abort the
        // process.
        throw;
#endif
    } catch (CException* exception) {
        m_state.storeRelaxed(ThreadFinished);
        SY_CRITICAL << exception->what() << m_description;
        delete exception;
    } catch (const CException& exception) {
        m_state.storeRelaxed(ThreadFinished);
        SY_CRITICAL << exception.what() << m_description;
    } catch (std::exception* exception) {
        m_state.storeRelaxed(ThreadFinished);
        SY_CRITICAL << exception->what() << m_description;
        delete exception;
    } catch (const std::exception& exception) {
        m_state.storeRelaxed(ThreadFinished);
        SY_CRITICAL << exception.what() << m_description;
    } catch (...) {
        m_state.storeRelaxed(ThreadFinished);
        SY_CRITICAL << "catched unknown exception ..." << m_description;
    }
    m_callStack.clear();
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") after clear callstack";
    moveImplHome();
}

void CBasicThread::onStart()
{
    SY_FUNCTION("CBasicThread::onStart");
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") setting running flag ...";
    m_state.storeRelaxed(ThreadRunning);
}

void CBasicThread::onFinish()
{
    SY_FUNCTION("CBasicThread::onFinish");
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") setting finished flag ...";
    m_state.storeRelaxed(ThreadFinished);
}

void CBasicThread::onTermination()
{
    SY_FUNCTION("CBasicThread::onTermination");
    SY_DEBUG << "Thread (" << m_threadNumber << m_description << ") setting terminated flag ...";
    m_state.storeRelaxed(ThreadTerminated);
}

bool CBasicThread::registerThread(CBasicThread* thread)
{
    SY_FUNCTION("CBasicThread::registerThread");
    ThreadRegistry& threads = registry();
    const QMutexLocker locker(&threads.mutex);
    threads.threads.append(thread);
    return true;
}

bool CBasicThread::unregisterThread(CBasicThread* thread)
{
    SY_FUNCTION("CBasicThread::unregisterThread");
    ThreadRegistry& threads = registry();
    const QMutexLocker locker(&threads.mutex);
    return threads.threads.removeOne(thread);
}

void CBasicThread::startup()
{
    SY_FUNCTION("CBasicThread::startup");
    setGlobalExceptionHandlers();
}

void CBasicThread::shutdown()
{
    SY_FUNCTION("CBasicThread::shutdown");
}

void CBasicThread::setGlobalExceptionHandlers()
{
    SY_FUNCTION("CBasicThread::setGlobalExceptionHandlers");
    // The unexpected handler only matters for code still built with dynamic exception
    // specifications; libstdc++ keeps honouring it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    std::set_unexpected(&CBasicThread::globalUnexpectedHandler);
#pragma GCC diagnostic pop
    std::set_terminate(&CBasicThread::globalTerminateHandler);
}

void CBasicThread::setExceptionHandlers()
{
    SY_FUNCTION("CBasicThread::setExceptionHandlers");
    setGlobalExceptionHandlers();
}

bool CBasicThread::killAllThreads(int exitCode)
{
    SY_FUNCTION("CBasicThread::killAllThreads");
    ThreadRegistry& threads = registry();
    const QMutexLocker locker(&threads.mutex);
    for (CBasicThread* thread : std::as_const(threads.threads)) {
        if (!thread)
            continue;
        thread->exit(exitCode);
        // The code first: a thread that sees the new state may return at once, and the result
        // of its own run is then the one that counts.
        thread->m_exitCode.storeRelaxed(exitCode);
        if (!thread->useEventLoop)
            thread->m_state.storeRelaxed(ThreadTerminated);
    }
    bool allEnded = true;
    for (CBasicThread* thread : std::as_const(threads.threads)) {
        if (!thread || thread->wait(1000))
            continue;
        if (!thread->useEventLoop)
            thread->m_state.storeRelaxed(ThreadTerminated);
        thread->terminate();
        if (thread->waitAfterKill())
            Q_EMIT thread->threadTerminated();
        else
            allEnded = false;
    }
    return allEnded;
}

void CBasicThread::waitForAllThreads()
{
    SY_FUNCTION("CBasicThread::waitForAllThreads");
    ThreadRegistry& threads = registry();
    const QMutexLocker locker(&threads.mutex);
    for (CBasicThread* thread : std::as_const(threads.threads)) {
        if (thread)
            thread->wait();
    }
}

void CBasicThread::requestStackTraceDump()
{
    dumpRequested.storeRelaxed(1);
}

void CBasicThread::dumpStackTrace()
{
    SY_FUNCTION("CBasicThread::dumpStackTrace");
    // Copies of the texts: another thread may dump the same stack at the same time.
    SY_DEBUG << "dumping stack trace ...\n" << m_callStack.headerText() << m_callStack.traceText();
    dumpRequested.storeRelaxed(0);
}

void CBasicThread::dumpCurrentStackTrace()
{
    SY_FUNCTION("CBasicThread::dumpCurrentStackTrace");
    if (CBasicThread* self = qobject_cast<CBasicThread*>(QThread::currentThread())) {
        self->dumpStackTrace();
        return;
    }
    const CCallStack& stack = CCallStack::current();
    SY_DEBUG << "dumping stack trace ...\n" << stack.headerText() << stack.traceText();
}

void CBasicThread::globalUnexpectedHandler()
{
    SY_FUNCTION("CBasicThread::globalUnexpectedHandler");
    SY_CRITICAL << QThread::currentThread();
    std::terminate();
}

void CBasicThread::globalTerminateHandler()
{
    SY_FUNCTION("CBasicThread::globalTerminateHandler");
    SY_CRITICAL << QThread::currentThread();
    if (qobject_cast<CBasicThread*>(QThread::currentThread()))
        dumpCurrentStackTrace();
    std::cout.flush();
    std::cerr.flush();
    // Static destructors must not run while other threads may still be inside the library.
    std::_Exit(-1);
}
