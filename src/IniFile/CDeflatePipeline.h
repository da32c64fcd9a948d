#pragma once

#include "IniFile/CCredentialMasker.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ISourceFile;

// Compresses blocks of files into raw deflate data, on worker threads, and hands them back in
// the order they were submitted. A file larger than one block is cut into blocks that are
// compressed independently, each primed with the last 32 KiB of the block before it and ended
// with a sync flush, so that the blocks of one file written one after the other form a single
// deflate stream. The block in which the file ends finishes the stream.
//
// At most capacity() blocks are submitted and not yet taken back; their buffers and the
// workers' compressor states are allocated once, when the pipeline is made. With one worker
// nothing runs in the background: front() compresses the oldest block on the calling thread.
// Workers never log and never throw; what went wrong is in the block's status.
//
// A file submitted for masking that holds text (no NUL byte in its first 8 KiB) has its
// credentials masked in the bytes packed (CCredentialMasker), never on disk. Its blocks are
// then cut at line starts, so that no credential is split: a block takes the lines that start
// in its 4 MiB, reading on past them to end its last line, and a line longer than a block is
// cut at the block's start. Workers mask a block as if no private-key block were open before
// it and prime it with the whole lines read before it, masked; front(), which sees the blocks
// in order, masks and compresses a block again on the calling thread when the block before it
// ended elsewhere, inside a key block, or packed bytes that do not end with that primer. So
// the packed bytes do not depend on the number of workers.
class CDeflatePipeline
{
public:
    static constexpr qint64 blockSize = 4 * 1024 * 1024;

    enum class TStatus
    {
        Compressed,
        ReadFailed,
        DeflateFailed,
    };

    struct TBlock
    {
        int file = -1;
        const ISourceFile* source = nullptr;
        qint64 offset = 0;
        // Bytes to read at offset, and whether they end what is packed of the file.
        qint64 wanted = 0;
        bool last = false;
        bool maskText = false;
        TStatus status = TStatus::Compressed;
        // The bytes of the file the block packs start at start (offset unless cut at a line
        // start); length is how many: fewer than wanted when the file shrank.
        qint64 start = 0;
        qint64 length = 0;
        // The bytes packed, masked or not, and their checksum.
        qint64 packed = 0;
        quint32 crc = 0;
        // Masking: whether the file was taken as text, the line ends the block holds, the
        // values masked (lines counted from the block's first) and whether the block ended
        // inside a private-key block.
        bool text = false;
        qint64 lineEnds = 0;
        QList<CCredentialMasker::TMasked> masked;
        bool endsInKey = false;
        // The block ends the file's deflate stream: the last one, or one that came up short.
        bool final = false;
        const char* data = nullptr;
        qint64 size = 0;
    };

    // workers < 1 means one worker per processor core.
    // proxyPassword is masked in every text file submitted for masking.
    explicit CDeflatePipeline(int workers, const QByteArray& proxyPassword = QByteArray());
    ~CDeflatePipeline();

    CDeflatePipeline(const CDeflatePipeline&) = delete;
    CDeflatePipeline& operator=(const CDeflatePipeline&) = delete;

    int capacity() const { return static_cast<int>(slots.size()); }
    bool isFull() const { return tail - head == static_cast<qint64>(slots.size()); }
    bool isEmpty() const { return tail == head; }
    // file is the caller's tag for the block; source stays open until the block is popped.
    // Reads wanted bytes at offset; last ends the stream. Not when full.
    // maskText: mask the file's credentials if it holds text.
    void submit(int file, const ISourceFile* source, qint64 offset, qint64 wanted, bool last,
                bool maskText = false);
    // The oldest submitted block, once it is compressed. Not when empty.
    const TBlock& front();
    // The tag of the oldest submitted block, without waiting for it. Not when empty.
    int frontFile() const;
    // Gives the oldest block's buffers back, once no worker uses them.
    void pop();
    // The deflate data that ends a stream whose last block ended with a sync flush.
    static QByteArray streamEnd();

private:
    struct TStream;
    struct TSlot;

    // What the block before of the same file left: where its bytes ended, whether it was text
    // and ended inside a key block. Null for a file's first block.
    struct TFollow
    {
        qint64 start;
        bool text;
        bool inKey;
    };

    void work(TStream& stream);
    // Reads, masks and compresses the block; follow says how the block before ended, else the
    // block finds its own start and state.
    void process(TSlot& slot, TStream& stream, const TFollow* follow);
    // Reads the block's bytes, cut at line starts when the file is text to be masked.
    void read(TSlot& slot, const TFollow* follow) const;
    void mask(TSlot& slot, bool inKey) const;
    // Chooses what primes the block's compressor when it follows no block at hand.
    void prime(TSlot& slot) const;
    void compress(TSlot& slot, TStream& stream, bool useLastTail);
    bool continuesLast(const TSlot& slot) const;
    bool primerFollows(const TSlot& slot) const;
    void keepTail(const TSlot& slot);

    std::vector<std::unique_ptr<TSlot>> slots;
    std::unique_ptr<TStream> ownStream;
    std::vector<std::unique_ptr<TStream>> streams;
    std::vector<std::thread> threads;
    const QByteArray proxyPassword;
    // The last 32 KiB packed of the file whose block was popped last, when the stream goes on
    // after it.
    std::unique_ptr<char[]> lastTail;
    qint64 lastTailSize = 0;
    int lastTailFile = -1;
    bool lastValid = false;
    TFollow last = {0, false, false};

    // The standard primitives rather than Qt's: ThreadSanitizer sees through them, which it
    // cannot do inside a Qt library built without it.
    std::mutex mutex;
    std::condition_variable workQueued;
    std::condition_variable blockDone;
    bool stopping = false;
    // Sequence numbers: oldest not popped, next to submit, next for a worker to take.
    qint64 head = 0;
    qint64 tail = 0;
    qint64 taken = 0;
};
