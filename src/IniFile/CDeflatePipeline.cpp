#include "IniFile/CDeflatePipeline.h"

#include "IniFile/ISourceFile.h"

#include <QThread>

#include <cstring>
#include <new>
#include <system_error>

#include <libdeflate.h>
#include <zlib.h>

namespace {

// deflate's window: the most a block can refer back into the block before it.
const qint64 window = 32 * 1024;
const int memoryLevel = 8;
// zlib's default level, which libdeflate's level 6 matches in size and beats in speed.
const int wholeLevel = 6;

} // namespace

struct CDeflatePipeline::TStream
{
    TStream()
    {
        ready = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, memoryLevel,
                             Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~TStream()
    {
        if (ready)
            deflateEnd(&stream);
        libdeflate_free_compressor(whole);
    }
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Made at the first whole file, so that only the threads that compress one hold it; null
    // when it cannot be allocated.
    libdeflate_compressor* wholeCompressor()
    {
        if (!whole)
            whole = libdeflate_alloc_compressor(wholeLevel);
        return whole;
    }

    z_stream stream = {};
    bool ready = false;
    libdeflate_compressor* whole = nullptr;
};

struct CDeflatePipeline::TSlot
{
    enum class TState
    {
        Free,
        Queued,
        Finished,
    };

    // Left uninitialised: only the pages a block uses are ever touched.
    TSlot(qint64 outputCapacity)
        : input(new char[window + blockSize]), output(new char[outputCapacity]),
          outputCapacity(outputCapacity)
    {}

    char* data() const { return input.get() + window; }

    TBlock block;
    TState state = TState::Free;
    // The block's data at window, after as much of the data before it as the window holds.
    std::unique_ptr<char[]> input;
    std::unique_ptr<char[]> output;
    qint64 outputCapacity;
};

CDeflatePipeline::CDeflatePipeline(int workers)
    : ownStream(std::make_unique<TStream>()), lastTail(new char[window])
{
    if (workers < 1)
        workers = qMax(1, QThread::idealThreadCount());
    const qint64 outputCapacity = ownStream->ready
                                      ? qint64(deflateBound(&ownStream->stream, blockSize)) + 64
                                      : blockSize + blockSize / 8;
    // Two blocks beyond the workers' keep them busy while the oldest is being written.
    const int slotCount = workers == 1 ? 1 : workers + 2;
    for (int i = 0; i < slotCount; ++i)
        slots.push_back(std::make_unique<TSlot>(outputCapacity));
    if (workers == 1)
        return;
    for (int i = 0; i < workers; ++i) {
        streams.push_back(std::make_unique<TStream>());
        TStream* stream = streams.back().get();
        // Without a thread of its own, every block is compressed by front(), which works
        // whatever the capacity.
        try {
            threads.emplace_back([this, stream] { work(*stream); });
        } catch (const std::system_error&) {
            break;
        }
    }
}

CDeflatePipeline::~CDeflatePipeline()
{
    {
        const std::lock_guard<std::mutex> locker(mutex);
        stopping = true;
    }
    workQueued.notify_all();
    for (std::thread& thread : threads)
        thread.join();
}

void CDeflatePipeline::submit(int file, const ISourceFile* source, qint64 offset, qint64 wanted,
                              bool last)
{
    TSlot& slot = *slots[static_cast<size_t>(tail % capacity())];
    {
        const std::lock_guard<std::mutex> locker(mutex);
        slot.block = TBlock();
        slot.block.file = file;
        slot.block.source = source;
        slot.block.offset = offset;
        slot.block.wanted = wanted;
        slot.block.last = last;
        slot.state = TSlot::TState::Queued;
        ++tail;
    }
    workQueued.notify_one();
}

const CDeflatePipeline::TBlock& CDeflatePipeline::front()
{
    TSlot& slot = *slots[static_cast<size_t>(head % capacity())];
    const bool follows =
        lastTailSize > 0 && lastTailFile == slot.block.file && lastTailEnd == slot.block.offset;
    if (threads.empty()) {
        if (slot.state == TSlot::TState::Queued) {
            compress(slot, *ownStream, follows);
            slot.state = TSlot::TState::Finished;
        }
        return slot.block;
    }
    {
        std::unique_lock<std::mutex> locker(mutex);
        blockDone.wait(locker, [&slot] { return slot.state == TSlot::TState::Finished; });
    }
    // The worker primed the block with what it read before it; if the file changed since the
    // block before was read, only that block's own data continues the stream correctly.
    const TBlock& block = slot.block;
    if (follows && block.status == TStatus::Compressed && block.length > 0 &&
        std::memcmp(slot.data() - lastTailSize, lastTail.get(), size_t(lastTailSize)) != 0)
        compress(slot, *ownStream, true);
    return slot.block;
}

int CDeflatePipeline::frontFile() const
{
    return slots[static_cast<size_t>(head % capacity())]->block.file;
}

void CDeflatePipeline::pop()
{
    TSlot& slot = *slots[static_cast<size_t>(head % capacity())];
    std::unique_lock<std::mutex> locker(mutex);
    if (!threads.empty())
        blockDone.wait(locker, [&slot] { return slot.state == TSlot::TState::Finished; });
    const bool finished = slot.state == TSlot::TState::Finished;
    locker.unlock();
    if (finished)
        keepTail(slot);
    else
        lastTailSize = 0;
    locker.lock();
    slot.state = TSlot::TState::Free;
    ++head;
}

QByteArray CDeflatePipeline::streamEnd()
{
    // An empty final block with fixed codes, as deflate ends an empty stream.
    return QByteArray("\x03\x00", 2);
}

void CDeflatePipeline::keepTail(const TSlot& slot)
{
    const TBlock& block = slot.block;
    if (block.status != TStatus::Compressed || block.final) {
        lastTailSize = 0;
        return;
    }
    // A block that does not end its file is a whole block, larger than the window.
    lastTailSize = qMin(window, block.length);
    std::memcpy(lastTail.get(), slot.data() + block.length - lastTailSize, size_t(lastTailSize));
    lastTailFile = block.file;
    lastTailEnd = block.offset + block.length;
}

void CDeflatePipeline::work(TStream& stream)
{
    std::unique_lock<std::mutex> locker(mutex);
    for (;;) {
        workQueued.wait(locker, [this] { return stopping || taken != tail; });
        if (stopping)
            return;
        TSlot& slot = *slots[static_cast<size_t>(taken++ % capacity())];
        locker.unlock();
        compress(slot, stream, false);
        locker.lock();
        slot.state = TSlot::TState::Finished;
        blockDone.notify_all();
    }
}

void CDeflatePipeline::compress(TSlot& slot, TStream& stream, bool useLastTail)
{
    TBlock& block = slot.block;
    block.status = TStatus::Compressed;
    block.length = 0;
    block.crc = 0;
    block.final = true;
    block.data = slot.output.get();
    block.size = 0;
    if (!stream.ready) {
        block.status = TStatus::DeflateFailed;
        return;
    }
    const ISourceFile& file = *block.source;
    char* const data = slot.data();
    qint64 dictionary = 0;
    if (useLastTail) {
        dictionary = lastTailSize;
        std::memcpy(data - dictionary, lastTail.get(), size_t(dictionary));
        block.length = file.readAt(data, block.wanted, block.offset);
    } else {
        const qint64 prefix = qMin(block.offset, window);
        const qint64 count =
            file.readAt(data - prefix, prefix + block.wanted, block.offset - prefix);
        // A file that shrank below the offset ends here.
        dictionary = count < prefix ? 0 : prefix;
        block.length = count < prefix ? qMin<qint64>(count, 0) : count - prefix;
    }
    if (block.length < 0) {
        block.length = 0;
        block.status = TStatus::ReadFailed;
        return;
    }
    block.final = block.last || block.length < block.wanted;
    if (block.offset == 0 && block.final) {
        compressWhole(slot, stream, data);
        return;
    }
    z_stream& z = stream.stream;
    bool ok = deflateReset(&z) == Z_OK;
    if (ok && dictionary > 0)
        ok = deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(data - dictionary),
                                  uInt(dictionary)) == Z_OK;
    if (ok) {
        z.next_in = reinterpret_cast<Bytef*>(data);
        z.avail_in = uInt(block.length);
        z.next_out = reinterpret_cast<Bytef*>(slot.output.get());
        z.avail_out = uInt(slot.outputCapacity);
        const int result = deflate(&z, block.final ? Z_FINISH : Z_SYNC_FLUSH);
        ok = block.final ? result == Z_STREAM_END
                         : result == Z_OK && z.avail_in == 0 && z.avail_out > 0;
        block.size = slot.outputCapacity - qint64(z.avail_out);
    }
    if (!ok) {
        block.status = TStatus::DeflateFailed;
        return;
    }
    block.crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(data), uInt(block.length)));
}

void CDeflatePipeline::compressWhole(TSlot& slot, TStream& stream, const char* data)
{
    TBlock& block = slot.block;
    libdeflate_compressor* const compressor = stream.wholeCompressor();
    if (!compressor) {
        block.status = TStatus::DeflateFailed;
        return;
    }
    // For the last few KiB below a whole block, libdeflate's bound passes zlib's bound for a
    // block, by which the buffer was sized.
    const qint64 bound =
        qint64(libdeflate_deflate_compress_bound(compressor, size_t(block.length)));
    if (bound > slot.outputCapacity) {
        slot.output.reset(new (std::nothrow) char[size_t(bound)]);
        slot.outputCapacity = slot.output ? bound : 0;
        block.data = slot.output.get();
    }
    block.size = qint64(libdeflate_deflate_compress(
        compressor, data, size_t(block.length), slot.output.get(), size_t(slot.outputCapacity)));
    if (block.size == 0) {
        block.status = TStatus::DeflateFailed;
        return;
    }
    block.crc = quint32(libdeflate_crc32(0, data, size_t(block.length)));
}
