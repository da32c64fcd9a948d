// The pipeline and its private parts, a compressor state per thread (TStream), a block's buffers
// (TBuffers) and a slot of the queue (TSlot): they exist only inside the pipeline's queue.
#include "IniFile/zip/CDeflatePipeline.h"

#include "IniFile/zip/CDeflateJoin.h"
#include "IniFile/zip/ISourceFile.h"

#include <QThread>

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include <libdeflate.h>

namespace {

// What is read before a block of text: the context of a line cut at its start.
const qint64 prefixSize = CCredentialMasker::reach;
// zlib's default level, which libdeflate's level 6 matches in size and beats in speed.
const int level = 6;

} // namespace

struct CDeflatePipeline::TStream
{
    TStream() = default;
    ~TStream() { libdeflate_free_compressor(deflater); }
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Made at the first block, so that only the threads that compress one hold it; null when
    // it cannot be allocated.
    libdeflate_compressor* compressor()
    {
        if (!deflater)
            deflater = libdeflate_alloc_compressor(level);
        return deflater;
    }

    libdeflate_compressor* deflater = nullptr;
};

// What a block is read, masked and compressed into. Left uninitialised: only the pages a block
// uses are ever touched.
struct CDeflatePipeline::TBuffers
{
    TBuffers(qint64 inputSize, qint64 outputSize)
        : input(new char[size_t(inputSize)]), output(new char[size_t(outputSize)]),
          outputCapacity(outputSize)
    {}

    std::unique_ptr<char[]> input;
    std::unique_ptr<char[]> output;
    qint64 outputCapacity;
    // Kept from block to block, so that masking allocates nothing once it has grown; the
    // slot's packed bytes share it until its next block.
    QByteArray maskedCopy;
};

struct CDeflatePipeline::TSlot
{
    enum class TState
    {
        Free,
        Queued,
        Finished,
    };

    explicit TSlot(std::unique_ptr<TBuffers> small) : buffers(std::move(small)) {}

    const char* at(qint64 fileOffset) const
    {
        return buffers->input.get() + (fileOffset - inputStart);
    }

    TBlock block;
    TState state = TState::Free;
    // The slot's own small buffers, or while it holds a large block, large ones lent to it,
    // its own kept in ownSmall.
    std::unique_ptr<TBuffers> buffers;
    std::unique_ptr<TBuffers> ownSmall;
    // Bytes of the file from inputStart up to inputEnd.
    qint64 inputStart = 0;
    qint64 inputEnd = 0;
    // The bytes packed: the block's bytes in input, or their masked copy.
    QByteArray packed;
};

CDeflatePipeline::CDeflatePipeline(int workers, const QByteArray& proxyPassword)
    : ownStream(std::make_unique<TStream>()), freshMasker(proxyPassword)
{
    if (workers < 1)
        workers = qMax(1, QThread::idealThreadCount());
    const qint64 outputCapacity =
        qint64(libdeflate_deflate_compress_bound(nullptr, blockSize)) + CDeflateJoin::room;
    // The input holds the context before a block of text, the block and the end of its last line,
    // which can be as long, or a whole file. Two large blocks beyond the workers' keep them busy
    // while the oldest is being written; small files, for which this thread's work per file weighs
    // as much as their compression, are kept further ahead, each in a slot's small buffers.
    const int largeCount = workers == 1 ? 1 : workers + 2;
    for (int i = 0; i < largeCount; ++i)
        large.push_back(std::make_unique<TBuffers>(prefixSize + wholeSize, outputCapacity));
    const int slotCount = workers == 1 ? 1 : largeCount + smallAhead;
    for (int i = 0; i < slotCount; ++i)
        slots.push_back(std::make_unique<TSlot>(
            std::make_unique<TBuffers>(smallSize, smallSize + smallSize / 8 + 64)));
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

namespace {

constexpr qint64 textProbe = 8 * 1024;

// Whether a file holds text: no NUL byte in its first 8 KiB after the NUL bytes it may start
// with. A log truncated by copytruncate under a writer that keeps its offset starts with a hole.
bool isText(const char* begin, qint64 size)
{
    const char* const end = begin + size;
    const char* const text = std::find_if(begin, end, [](char c) { return c != 0; });
    return std::memchr(text, 0, size_t(qMin<qint64>(end - text, textProbe))) == nullptr;
}

// The same for a file of several blocks, read past the hole, however long, in steps.
bool startsWithText(const ISourceFile& file)
{
    std::vector<char> buffer(64 * 1024);
    for (qint64 at = 0;;) {
        const qint64 count = file.readAt(buffer.data(), qint64(buffer.size()), at);
        if (count <= 0)
            return count == 0;
        const char* const begin = buffer.data();
        const char* const end = begin + count;
        const char* const text = std::find_if(begin, end, [](char c) { return c != 0; });
        if (text < end) {
            const qint64 start = at + (text - begin);
            const qint64 probe = file.readAt(buffer.data(), textProbe, start);
            return probe >= 0 && isText(buffer.data(), probe);
        }
        at += count;
    }
}

} // namespace

void CDeflatePipeline::submit(int file, const ISourceFile* source, qint64 offset, qint64 wanted,
                              bool last, bool maskText)
{
    TSlot& slot = *slots[static_cast<size_t>(tail % capacity())];
    // Whether a file of several blocks is text is read once, before its first block, as its
    // blocks may be read in any order and the hole at its start may be longer than a block.
    if (maskText && offset == 0 && !last) {
        headTextFile = file;
        headText = startsWithText(*source);
    }
    if (!fitsSmall(offset, wanted, last)) {
        slot.ownSmall = std::move(slot.buffers);
        slot.buffers = std::move(large.back());
        large.pop_back();
    }
    {
        const std::lock_guard<std::mutex> locker(mutex);
        slot.block = TBlock();
        slot.block.file = file;
        slot.block.source = source;
        slot.block.offset = offset;
        slot.block.wanted = wanted;
        slot.block.last = last;
        slot.block.maskText = maskText;
        slot.block.text = maskText && !(offset == 0 && last) && headTextFile == file && headText;
        slot.state = TSlot::TState::Queued;
        ++tail;
    }
    workQueued.notify_one();
}

const CDeflatePipeline::TBlock& CDeflatePipeline::front()
{
    TSlot& slot = *slots[static_cast<size_t>(head % capacity())];
    const TFollow* follow =
        lastValid && lastFile == slot.block.file && slot.block.offset > 0 ? &last : nullptr;
    if (threads.empty()) {
        if (slot.state == TSlot::TState::Queued) {
            process(slot, *ownStream, follow);
            slot.state = TSlot::TState::Finished;
        }
        return slot.block;
    }
    {
        std::unique_lock<std::mutex> locker(mutex);
        blockDone.wait(locker, [&slot] { return slot.state == TSlot::TState::Finished; });
    }
    if (follow && slot.block.status == TStatus::Compressed && !continuesLast(slot))
        process(slot, *ownStream, follow);
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
        keepEnd(slot);
    else
        lastValid = false;
    // Dropped now, so that buffers lent on are not held shared.
    slot.packed.clear();
    if (slot.ownSmall) {
        large.push_back(std::move(slot.buffers));
        slot.buffers = std::move(slot.ownSmall);
    }
    locker.lock();
    slot.state = TSlot::TState::Free;
    ++head;
}

// A whole file this small is read, masked and compressed in the slot's own buffers.
bool CDeflatePipeline::fitsSmall(qint64 offset, qint64 wanted, bool last)
{
    return offset == 0 && last && wanted <= smallSize;
}

bool CDeflatePipeline::hasRoom(qint64 offset, qint64 wanted, bool last) const
{
    return tail - head < capacity() && (fitsSmall(offset, wanted, last) || !large.empty());
}

QByteArray CDeflatePipeline::streamEnd()
{
    // An empty final block with fixed codes, as deflate ends an empty stream.
    return QByteArray("\x03\x00", 2);
}

// The worker packed the block as the block before left the file only if it started where that
// block ended, in the same state.
bool CDeflatePipeline::continuesLast(const TSlot& slot) const
{
    const TBlock& block = slot.block;
    return block.start == last.start && block.text == last.text && !last.inKey;
}

void CDeflatePipeline::keepEnd(const TSlot& slot)
{
    const TBlock& block = slot.block;
    if (block.status != TStatus::Compressed || block.final) {
        lastValid = false;
        return;
    }
    lastFile = block.file;
    lastValid = true;
    last = {block.start + block.length, block.text, block.endsInKey};
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
        process(slot, stream, nullptr);
        locker.lock();
        slot.state = TSlot::TState::Finished;
        blockDone.notify_all();
    }
}

void CDeflatePipeline::process(TSlot& slot, TStream& stream, const TFollow* follow)
{
    TBlock& block = slot.block;
    block.status = TStatus::Compressed;
    block.start = block.offset;
    block.length = 0;
    block.packed = 0;
    block.crc = 0;
    block.final = true;
    block.lineEnds = 0;
    block.masked.clear();
    block.endsInKey = false;
    block.data = slot.buffers->output.get();
    block.size = 0;
    slot.packed.clear();
    read(slot, follow);
    if (block.status != TStatus::Compressed)
        return;
    try {
        mask(slot, follow);
    } catch (const std::bad_alloc&) {
        block.status = TStatus::DeflateFailed;
        return;
    }
    compress(slot, stream);
}

namespace {

// The first line start at or after from and before limit, in the bytes of the file from
// inputStart up to have; -1 when there is none among them.
qint64 lineStart(const char* input, qint64 inputStart, qint64 from, qint64 limit, qint64 have)
{
    const qint64 stop = qMin(limit, have + 1);
    if (from == 0)
        return 0;
    if (stop <= from)
        return -1;
    const char* begin = input + (from - 1 - inputStart);
    const void* found = std::memchr(begin, '\n', size_t(stop - from));
    return found ? from + (static_cast<const char*>(found) - begin) : -1;
}

} // namespace

void CDeflatePipeline::read(TSlot& slot, const TFollow* follow) const
{
    TBlock& block = slot.block;
    const ISourceFile& file = *block.source;
    char* const input = slot.buffers->input.get();
    // Text is read from further back: a line cut at the block's start is masked with that much
    // of it before the cut.
    const qint64 prefix = block.text ? qMin(block.offset, prefixSize) : 0;
    slot.inputStart = block.offset - prefix;
    const qint64 count = file.readAt(input, prefix + block.wanted, slot.inputStart);
    if (count < 0) {
        block.status = TStatus::ReadFailed;
        return;
    }
    qint64 have = slot.inputStart + count;
    const qint64 wantedEnd = block.offset + block.wanted;
    block.final = block.last || have < wantedEnd;
    if (follow) {
        block.text = follow->text;
    } else if (block.maskText && block.offset == 0 && block.last) {
        block.text = isText(input, count);
    }
    // A block of text starts at the first line start in its 4 MiB and ends where the next
    // block starts; a line that starts in none of them is cut at the block's start.
    const auto cut = [&](qint64 at) {
        const qint64 found =
            lineStart(input, slot.inputStart, at, qMin(at + blockSize, file.size()), have);
        return found < 0 ? at : found;
    };
    qint64 start = follow ? follow->start : block.offset;
    if (block.text && !follow)
        start = cut(block.offset);
    qint64 end = have;
    if (block.text && !block.final) {
        const qint64 limit = qMin(wantedEnd + blockSize, file.size());
        // Read on in small steps: the next line start is rarely far.
        for (;;) {
            const qint64 found = lineStart(input, slot.inputStart, wantedEnd, limit, have);
            if (found >= 0 || have >= limit - 1) {
                end = found >= 0 ? found : wantedEnd;
                break;
            }
            const qint64 step = qMin<qint64>(64 * 1024, limit - 1 - have);
            const qint64 more = file.readAt(input + (have - slot.inputStart), step, have);
            if (more < 0) {
                block.status = TStatus::ReadFailed;
                return;
            }
            if (more == 0) {
                end = wantedEnd;
                break;
            }
            have += more;
        }
    }
    slot.inputEnd = have;
    // A file that shrank below the block's start packs nothing more.
    block.start = qMin(start, have);
    block.length = qMax<qint64>(0, qMin(end, have) - block.start);
    block.final = block.final || start > have;
}

void CDeflatePipeline::mask(TSlot& slot, const TFollow* follow) const
{
    TBlock& block = slot.block;
    const char* data = slot.at(block.start);
    const QByteArray bytes = QByteArray::fromRawData(data, block.length);
    if (!block.text) {
        slot.packed = bytes;
        block.packed = slot.packed.size();
        return;
    }
    CCredentialMasker masker(freshMasker);
    masker.setInPrivateKey(follow && follow->inKey);
    const TPiece piece = cutPiece(slot);
    qint64 lastByte = block.start + block.length - 1;
    if (piece.begin == block.start && piece.end == block.start + block.length) {
        slot.packed =
            masker.mask(bytes, slot.buffers->maskedCopy) ? slot.buffers->maskedCopy : bytes;
    } else {
        // The piece's start is where the block before ended when that is known, so that
        // a value across the cut is masked once; else after any value that crosses it.
        qsizetype from = block.start - piece.begin;
        qsizetype to = from + block.length;
        masker.maskPiece(QByteArray::fromRawData(slot.at(piece.begin), piece.end - piece.begin),
                         from, follow != nullptr, to, slot.buffers->maskedCopy);
        slot.packed = slot.buffers->maskedCopy;
        block.start = piece.begin + from;
        block.length = to - from;
        lastByte = piece.end - 1;
    }
    block.masked = masker.masked();
    block.endsInKey = masker.isInPrivateKey();
    const bool lastLineOpen = lastByte >= slot.inputStart && *slot.at(lastByte) != '\n';
    block.lineEnds = masker.lines() - (lastLineOpen ? 1 : 0);
    block.packed = slot.packed.size();
}

// A block of text that starts or ends inside a line, which only a line longer than a block
// does, is masked with the bytes of that line around its cuts, up to the masker's reach. The
// context before a cut is counted from the block's offset, not from where the block starts,
// so that a worker and front() mask the same bytes whichever start they settle on.
CDeflatePipeline::TPiece CDeflatePipeline::cutPiece(const TSlot& slot) const
{
    const TBlock& block = slot.block;
    const qint64 end = block.start + block.length;
    TPiece piece = {block.start, end};
    const auto inLine = [&slot](qint64 at) { return *slot.at(at - 1) != '\n'; };
    if (block.start > slot.inputStart && inLine(block.start)) {
        piece.begin = qMax(slot.inputStart, block.offset - CCredentialMasker::reach);
        const qint64 span = block.start - piece.begin;
        if (const void* newline = memrchr(slot.at(piece.begin), '\n', size_t(span)))
            piece.begin += static_cast<const char*>(newline) + 1 - slot.at(piece.begin);
    }
    const qint64 have = slot.inputEnd;
    if (!block.final && end > block.start && end < have && inLine(end)) {
        piece.end = qMin(have, end + CCredentialMasker::reach);
        if (const void* newline = std::memchr(slot.at(end), '\n', size_t(piece.end - end)))
            piece.end = end + (static_cast<const char*>(newline) - slot.at(end));
    }
    return piece;
}

// Every block is compressed on its own, whole files as the blocks of larger ones: a block
// that does not end its file is opened at its end, so that the next one continues the stream.
// Without the 32 KiB before it to refer back to, the benchmark corpus's large logs came out
// 0.02% to 0.14% larger in 4 MiB blocks than from one call over the whole file.
void CDeflatePipeline::compress(TSlot& slot, TStream& stream)
{
    TBlock& block = slot.block;
    const char* data = slot.packed.constData();
    libdeflate_compressor* const compressor = stream.compressor();
    if (!compressor) {
        block.status = TStatus::DeflateFailed;
        return;
    }
    // Masked text can be longer than the bytes read, and a whole file larger than a block that
    // does not compress passes the bound of a block, by which the buffer was sized.
    const qint64 bound =
        qint64(libdeflate_deflate_compress_bound(compressor, size_t(block.packed))) +
        CDeflateJoin::room;
    TBuffers& buffers = *slot.buffers;
    if (bound > buffers.outputCapacity) {
        buffers.output.reset(new (std::nothrow) char[size_t(bound)]);
        buffers.outputCapacity = buffers.output ? bound : 0;
        block.data = buffers.output.get();
    }
    block.size = qint64(libdeflate_deflate_compress(
        compressor, data, size_t(block.packed), buffers.output.get(),
        size_t(qMax<qint64>(0, buffers.outputCapacity - CDeflateJoin::room))));
    if (block.size > 0 && !block.final)
        block.size = CDeflateJoin::openEnd(buffers.output.get(), block.size);
    if (block.size <= 0) {
        block.size = 0;
        block.status = TStatus::DeflateFailed;
        return;
    }
    block.crc = quint32(libdeflate_crc32(0, data, size_t(block.packed)));
}
