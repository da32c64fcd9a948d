#include "threading/threads/CCallStack.h"

#include "threading/threads/CBasicThread.h"

#include <QMutexLocker>
#include <QThread>

#include <memory>
#include <new>
#include <stdexcept>

namespace {

const char* const mainThreadName = "MainThread";
const char* const mainThreadText = "This is the Main thread we hope";

// A thread that is not a CBasicThread (the main thread, a foreign one) reports as the main
// thread; each such thread gets a stack of its own, destroyed with its thread-local objects.
// The two plain flags stay readable after that, so that code run by later destructors (a
// static CBasicThread at exit) finds no stack instead of a destroyed one.
thread_local CCallStack* threadStack = nullptr;
thread_local bool threadStackGone = false;

struct ThreadStackOwner
{
    std::unique_ptr<CCallStack> stack;
    ~ThreadStackOwner()
    {
        threadStack = nullptr;
        threadStackGone = true;
    }
};

} // namespace

CCallStack::CCallStack(quint32 reserveCount, qint32 threadNumber, const char* threadName,
                       const char* implementationText)
    : threadName(threadName), implementationText(implementationText), m_threadNumber(threadNumber),
      m_depth(0), reserveCount(reserveCount)
{
    for (auto& chunk : chunks)
        chunk.store(nullptr, std::memory_order_relaxed);
    if (reserveCount != 0) {
        try {
            slotForWrite(reserveCount - 1);
        } catch (const std::bad_alloc&) {
            this->reserveCount = 0;
        } catch (const std::length_error&) {
            this->reserveCount = 0;
        }
    }
}

CCallStack::CCallStack(const CCallStack& other)
    : threadName(other.threadName), implementationText(other.implementationText),
      m_threadNumber(other.m_threadNumber), m_depth(0), reserveCount(0)
{
    for (auto& chunk : chunks)
        chunk.store(nullptr, std::memory_order_relaxed);
    const quint32 depth = other.depth();
    for (quint32 i = 0; i < depth; ++i) {
        const Slot* slot = other.slotAt(i);
        if (!slot)
            break;
        push({slot->line.load(std::memory_order_relaxed),
              slot->function.load(std::memory_order_relaxed),
              slot->file.load(std::memory_order_relaxed),
              slot->note.load(std::memory_order_relaxed)});
    }
}

CCallStack::~CCallStack()
{
    for (auto& chunk : chunks)
        delete[] chunk.load(std::memory_order_relaxed);
}

CCallStack::Slot* CCallStack::slotAt(quint32 index) const
{
    const quint32 position = index / firstChunkSize + 1;
    const int chunk = 31 - qCountLeadingZeroBits(position);
    if (chunk >= chunkCount)
        return nullptr;
    Slot* slots = chunks[chunk].load(std::memory_order_acquire);
    if (!slots)
        return nullptr;
    return slots + (index - firstChunkSize * ((quint32(1) << chunk) - 1));
}

CCallStack::Slot& CCallStack::slotForWrite(quint32 index)
{
    const quint32 position = index / firstChunkSize + 1;
    const int chunk = 31 - qCountLeadingZeroBits(position);
    if (chunk >= chunkCount)
        throw std::length_error("call stack too deep");
    Slot* slots = chunks[chunk].load(std::memory_order_relaxed);
    if (!slots) {
        // Earlier chunks first, so that a reserved stack holds every slot up to index.
        for (int earlier = 0; earlier < chunk; ++earlier) {
            if (!chunks[earlier].load(std::memory_order_relaxed))
                chunks[earlier].store(new Slot[firstChunkSize << earlier],
                                      std::memory_order_release);
        }
        slots = new Slot[firstChunkSize << chunk];
        chunks[chunk].store(slots, std::memory_order_release);
    }
    return slots[index - firstChunkSize * ((quint32(1) << chunk) - 1)];
}

void CCallStack::push(const CCallSiteRecord& record)
{
    const quint32 depth = m_depth.load(std::memory_order_relaxed);
    Slot& slot = slotForWrite(depth);
    slot.line.store(record.line, std::memory_order_relaxed);
    slot.function.store(record.function, std::memory_order_relaxed);
    slot.file.store(record.file, std::memory_order_relaxed);
    slot.note.store(record.note, std::memory_order_relaxed);
    m_depth.store(depth + 1, std::memory_order_release);
}

void CCallStack::pop()
{
    const quint32 depth = m_depth.load(std::memory_order_relaxed);
    if (depth > 0)
        m_depth.store(depth - 1, std::memory_order_release);
}

void CCallStack::clear()
{
    // The slots stay allocated: a reader on another thread may still be walking them.
    m_depth.store(0, std::memory_order_release);
}

QByteArray CCallStack::headerText() const
{
    QByteArray text;
    text += '[';
    text += threadName.isEmpty() ? QByteArray("Unknown Thread") : threadName;
    text += "]\t(ThreadID: ";
    text += m_threadNumber == 0 ? QByteArray("Unknown") : QByteArray::number(m_threadNumber);
    text += ")\n";
    text += implementationText.isEmpty() ? QByteArray("No Thread Description Available!")
                                         : implementationText;
    text += '\n';
    return text.isEmpty() ? QByteArray("No Stack Header Information Available !") : text;
}

QByteArray CCallStack::traceText() const
{
    QByteArray text;
    for (quint32 i = depth(); i-- > 0;) {
        const Slot* slot = slotAt(i);
        if (!slot)
            continue;
        const char* file = slot->file.load(std::memory_order_relaxed);
        const char* function = slot->function.load(std::memory_order_relaxed);
        const char* note = slot->note.load(std::memory_order_relaxed);
        text += '(' + QByteArray::number(i) + ")\t[" + QByteArray(file) + ':' +
                QByteArray::number(slot->line.load(std::memory_order_relaxed)) + "]\t" +
                QByteArray(function) + '\n';
        if (note)
            text += note;
    }
    if (text.isEmpty())
        text = "No Stack Information Available !";
    return text;
}

const char* CCallStack::header()
{
    const QMutexLocker locker(&cacheMutex);
    if (headerCache.isEmpty())
        headerCache = headerText();
    return headerCache.constData();
}

const char* CCallStack::trace()
{
    const QMutexLocker locker(&cacheMutex);
    traceCache = traceText();
    return traceCache.constData();
}

CCallStack* CCallStack::currentForPush()
{
    if (CBasicThread* thread = qobject_cast<CBasicThread*>(QThread::currentThread()))
        return &thread->callStack();
    if (!threadStack && !threadStackGone) {
        thread_local ThreadStackOwner owner;
        owner.stack = std::make_unique<CCallStack>(0, -1, mainThreadName, mainThreadText);
        threadStack = owner.stack.get();
    }
    return threadStack;
}

CCallStack& CCallStack::current()
{
    if (CCallStack* stack = currentForPush())
        return *stack;
    // Never destroyed and never pushed to, so that it is there whatever runs last.
    static CCallStack* const exited = new CCallStack(0, -1, mainThreadName, mainThreadText);
    return *exited;
}

CCallStackGuard::CCallStackGuard(const CCallSiteRecord& record)
    : stack(CCallStack::currentForPush())
{
    if (stack)
        stack->push(record);
}

CCallStackGuard::~CCallStackGuard()
{
    if (stack)
        stack->pop();
}
