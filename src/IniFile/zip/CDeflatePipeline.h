#pragma once

#include "IniFile/masking/CCredentialMasker.h"

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
// the order they were submitted. Every block is compressed in one call to libdeflate at level 6
// (each thread allocates its compressor at its first block): a file of up to two blocks whole,
// a larger one in blocks of 4 MiB. libdeflate cannot continue a stream, so each block but a
// file's last has the final bit of its last deflate block cleared and is ended on a byte
// boundary (CDeflateJoin): the blocks of one file written one after the other form a single
// deflate stream, which the block in which the file ends finishes.
//
// A file submitted for masking that holds text (no NUL byte in its first 8 KiB after the NUL
// bytes it may start with) has its credentials masked in the bytes packed (CCredentialMasker),
// never on disk. Its blocks are
// then cut at line starts, so that no credential is split: a block takes the lines that start
// in its 4 MiB, reading on past them to end its last line, and a line longer than a block is
// cut at the block's start. A cut line is masked with up to CCredentialMasker::reach of it on
// either side of the cut as context: a value that crosses the cut is masked whole by the block
// in which it starts, which then ends after it, and the block after starts there. Workers mask
// a block as if no private-key block were open before it and start it after any value that
// crosses its cut; front(), which sees the blocks in order, masks and compresses a block again
// on the calling thread when the block before it ended elsewhere or inside a key block. So the
// packed bytes do not depend on the number of workers.
//
// Why libdeflate, and files up to two blocks whole: on the log text of the benchmark corpus, on
// one core, libdeflate made 103 MiB/s from pieces of 256 KiB, 111 from 1 MiB, 113 from 4 MiB,
// 98 from 8 MiB and 87 from 16 MiB, against zlib's 66 MiB/s, with 5.6% less output at every
// size; on the corpus's eight 5 MiB crash dumps, libdeflate-gzip -6 took 0.51 s where gzip -6
// took 2.05 s, with 3% less output. A whole file of two blocks fits the input a large buffer
// set has for a block and the end of its last line; a larger one would grow every set.
//
// At most capacity() blocks are submitted and not yet taken back: one with one worker, N + 18
// with N >= 2 workers. Of these at most N + 2 (one with one worker) are other than small whole
// files and hold a large buffer set: 8 MiB and 64 KiB to read into (a block, the end of its last
// line and the context before it, or a whole file), about 4 MiB to compress into, which grows once
// to libdeflate's bound, up to 8 MiB, when a whole file larger than a block does not compress; a
// small whole file, up to 64 KiB, stays in its slot's small buffers, about 200 KiB. All are
// allocated when the pipeline is made, untouched until used, and a thread's libdeflate compressor
// (660 KiB) comes at its first block. So N >= 2 workers hold at most about 16.1 * (N + 2) + N
// + 0.2 * (N + 18) MiB, about 5 * N + 14 MiB for log text, whose output is small. Masking adds the
// masked copy each large set keeps, up to the 8 MiB of a whole file or a block whose last line is
// as long, about 4.5 * (N + 2) MiB for log text. Peak RSS of a whole zip (the benchmark's child
// under /usr/bin/time, 2 cores) at 2, 8 and 16 workers: one 2 GiB log 37, 67 and 106 MiB (masked,
// with 280,000 values in a list of what was masked then held in memory: 71, 125 and 198; with
// the list on disk, a 4 GiB log with a value on each of its 40 million lines peaks at 70 MiB with
// 2 workers); 20,000 small files 49, 56
// and 65 MiB, masked or not, most of it the scan's; the 500 MiB log tree 55, 101 and 144 MiB
// (masked: 77, 148 and 226). With one worker nothing runs in the background: front() compresses the
// oldest block on the calling thread. Workers never log and never throw; what went wrong is in the
// block's status.
class CDeflatePipeline
{
public:
    static constexpr qint64 blockSize = 4 * 1024 * 1024;
    // A file up to this size is one block, compressed whole.
    static constexpr qint64 wholeSize = 2 * blockSize;

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
        // start, or after a value that crosses a cut inside a line); length is how many: fewer
        // than wanted when the file shrank, more when a value crosses the block's end.
        qint64 start = 0;
        qint64 length = 0;
        // The bytes packed, masked or not, and their checksum.
        qint64 packed = 0;
        quint32 crc = 0;
        // Masking: whether the file was taken as text, the line ends the block holds, the
        // values masked (lines counted from the block's first) and whether the block ended
        // inside a private-key block (before its last line, when that line is cut).
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
    // Whether a block of wanted bytes at offset, last or not, can be submitted now.
    bool hasRoom(qint64 offset, qint64 wanted, bool last) const;
    bool isEmpty() const { return tail == head; }
    // file is the caller's tag for the block; source stays open until the block is popped.
    // Reads wanted bytes at offset; last ends the stream. Only when there is room for it.
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
    struct TBuffers;
    struct TSlot;

    // Whole files up to smallSize go in a slot's own small buffers; smallAhead more slots than
    // blocks of other sizes can be in flight keep the workers ahead on them.
    static constexpr qint64 smallSize = 64 * 1024;
    static constexpr int smallAhead = 16;
    static bool fitsSmall(qint64 offset, qint64 wanted, bool last);

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
    // The bytes of the file a block's masking looks at: its own and, where it is cut inside a
    // line, that line's around the cut.
    struct TPiece
    {
        qint64 begin;
        qint64 end;
    };
    TPiece cutPiece(const TSlot& slot) const;
    void mask(TSlot& slot, const TFollow* follow) const;
    void compress(TSlot& slot, TStream& stream);
    bool continuesLast(const TSlot& slot) const;
    // Keeps how the popped block left its file, for the block after it.
    void keepEnd(const TSlot& slot);

    std::vector<std::unique_ptr<TSlot>> slots;
    // Large buffers not lent to a slot.
    std::vector<std::unique_ptr<TBuffers>> large;
    std::unique_ptr<TStream> ownStream;
    std::vector<std::unique_ptr<TStream>> streams;
    std::vector<std::thread> threads;
    // Copied for each block: what it searches with is made once, for the proxy password.
    const CCredentialMasker freshMasker;
    // Whether the file of several blocks submitted last holds text.
    int headTextFile = -1;
    bool headText = false;
    // The file whose block was popped last, when its stream goes on after it.
    int lastFile = -1;
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
