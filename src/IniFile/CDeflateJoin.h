#pragma once

#include <QtGlobal>

#include <memory>

#include <zlib.h>

// Lets separately compressed pieces of one file follow each other as one deflate stream.
// libdeflate ends what it compresses with a final block, padded to a byte, and cannot continue
// a stream; zlib's inflate, stopping at every block boundary, tells where that last block's
// header is, so its final bit can be cleared and the data ended on a byte boundary with empty
// blocks, as zlib's gzjoin example joins gzip members. Each object keeps its own inflate state:
// one per thread.
class CDeflateJoin
{
public:
    // Bytes openEnd may add: one more for a block header that does not fit the last byte, and
    // an empty stored block.
    static constexpr qint64 room = 5;

    CDeflateJoin();
    ~CDeflateJoin();

    CDeflateJoin(const CDeflateJoin&) = delete;
    CDeflateJoin& operator=(const CDeflateJoin&) = delete;

    bool isReady() const { return ready; }
    // data holds one complete raw deflate stream of size bytes and room bytes more: makes its
    // last block not the last and ends it on a byte boundary. The new size, or -1 when data is
    // not one complete stream.
    qint64 openEnd(char* data, qint64 size);

private:
    z_stream stream = {};
    bool ready = false;
    // What inflate writes, which is only passed over.
    std::unique_ptr<unsigned char[]> scratch;
};
