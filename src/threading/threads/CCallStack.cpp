#include "threading/threads/CCallStack.h"

#include "threading/threads/CBasicThread.h"

#include <QThread>

#include <stdexcept>

CCallStack::CCallStack(quint32 reserveCount, qint32 threadNumber, const char* threadName,
                       const char* implementationText)
    : threadName(threadName), implementationText(implementationText),
      m_threadNumber(threadNumber), m_depth(0), reserveCount(reserveCount)
{
    if (reserveCount != 0) {
        try {
            entries.reserve(reserveCount);
        } catch (const std::length_error&) {
            this->reserveCount = 0;
        }
    }
}

CCallStack::CCallStack(const CCallStack& other)
    : threadName(other.threadName), implementationText(other.implementationText),
      m_threadNumber(other.m_threadNumber), m_depth(other.m_depth), reserveCount(0),
      entries(other.entries.begin(), other.entries.begin() + other.m_depth)
{
}

CCallStack::~CCallStack() = default;

void CCallStack::push(const CCallSiteRecord& record)
{
    if (m_depth < entries.size())
        entries[m_depth] = record;
    else
        entries.push_back(record);
    ++m_depth;
}

void CCallStack::pop()
{
    if (m_depth > 0)
        --m_depth;
}

void CCallStack::clear()
{
    entries.clear();
    m_depth = 0;
}

const char* CCallStack::header()
{
    if (headerText.isEmpty()) {
        QByteArray text;
        text += '[';
        text += (threadName && *threadName) ? QByteArray(threadName) : QByteArray("Unknown Thread");
        text += "]\t(ThreadID: ";
        text += m_threadNumber == 0 ? QByteArray("Unknown") : QByteArray::number(m_threadNumber);
        text += ")\n";
        text += (implementationText && *implementationText)
                    ? QByteArray(implementationText)
                    : QByteArray("No Thread Description Available!");
        text += '\n';
        headerText = text.isEmpty() ? QByteArray("No Stack Header Information Available !") : text;
    }
    return headerText.constData();
}

const char* CCallStack::trace()
{
    traceText.clear();
    for (quint32 i = m_depth; i-- > 0;) {
        const CCallSiteRecord& record = entries[i];
        traceText += '(' + QByteArray::number(i) + ")\t[" + QByteArray(record.file) + ':' +
                     QByteArray::number(record.line) + "]\t" + QByteArray(record.function) + '\n';
        if (record.note)
            traceText += record.note;
    }
    if (traceText.isEmpty())
        traceText = "No Stack Information Available !";
    return traceText.constData();
}

CCallStack& CCallStack::mainThreadStack()
{
    // A thread that is not a CBasicThread reports as the main thread; each such thread gets a
    // stack of its own so that foreign threads never push onto the main thread's entries.
    thread_local CCallStack stack(0, -1, "MainThread", "This is the Main thread we hope");
    return stack;
}

CCallStack& CCallStack::current()
{
    if (CBasicThread* thread = qobject_cast<CBasicThread*>(QThread::currentThread()))
        return thread->callStack();
    return mainThreadStack();
}

CCallStackGuard::CCallStackGuard(const CCallSiteRecord& record) : stack(CCallStack::current())
{
    stack.push(record);
}

CCallStackGuard::~CCallStackGuard()
{
    stack.pop();
}
