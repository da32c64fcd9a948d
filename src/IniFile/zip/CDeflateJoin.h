#pragma once

#include <QtGlobal>

// Lets separately compressed pieces of one file follow each other as one deflate stream.
// libdeflate ends what it compresses with a final block, padded to a byte, and cannot continue
// a stream. Walking the stream's blocks, without inflating them, tells where that last block's
// header is, so its final bit can be cleared and the data ended on a byte boundary with empty
// blocks, as zlib's gzjoin example joins gzip members.
class CDeflateJoin
{
public:
    // Bytes openEnd may add: one more for a block header that does not fit the last byte, and
    // an empty stored block.
    static constexpr qint64 room = 5;

    // data holds one complete raw deflate stream of size bytes and room bytes more: makes its
    // last block not the last and ends it on a byte boundary. The new size, or -1 when data is
    // not one complete stream.
    static qint64 openEnd(char* data, qint64 size);
};
