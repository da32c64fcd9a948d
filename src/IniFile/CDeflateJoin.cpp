#include "IniFile/CDeflateJoin.h"

#include <climits>

namespace {

constexpr uInt scratchSize = 64 * 1024;

} // namespace

CDeflateJoin::CDeflateJoin() : scratch(new unsigned char[scratchSize])
{
    ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
}

CDeflateJoin::~CDeflateJoin()
{
    if (ready)
        inflateEnd(&stream);
}

qint64 CDeflateJoin::openEnd(char* data, qint64 size)
{
    auto* const bytes = reinterpret_cast<unsigned char*>(data);
    if (!ready || size <= 0 || size > qint64(UINT_MAX) || inflateReset(&stream) != Z_OK)
        return -1;
    stream.next_in = bytes;
    stream.avail_in = uInt(size);
    // Where the final bit of the block being read is: the first bit of its header.
    unsigned char* finalByte = bytes;
    unsigned finalBit = 1;
    for (;;) {
        stream.next_out = scratch.get();
        stream.avail_out = scratchSize;
        if (inflate(&stream, Z_BLOCK) != Z_OK)
            return -1;
        if ((stream.data_type & 128) == 0)
            continue;
        // Stopped after a block: the unused bits of the last byte taken are its high ones.
        const int unused = stream.data_type & 7;
        if ((stream.data_type & 64) != 0)
            break;
        // The next block's header starts at the first of them.
        finalByte = unused == 0 ? stream.next_in : stream.next_in - 1;
        finalBit = unused == 0 ? 1 : 0x100u >> unused;
    }
    if (stream.avail_in != 0)
        return -1;
    *finalByte &= ~finalBit;
    // The padding after the last block: bits of the last byte no code used.
    const int unused = stream.data_type & 7;
    qint64 end = size;
    if (unused == 0)
        return end;
    unsigned char last = bytes[end - 1] & ((0x100u >> unused) - 1);
    if (unused % 2 == 1) {
        // An empty stored block: its three header bits, then from the next byte on its length
        // and the length's complement.
        bytes[end - 1] = last;
        if (unused == 1)
            bytes[end++] = 0;
        for (const unsigned char byte : {0x00, 0x00, 0xff, 0xff})
            bytes[end++] = byte;
        return end;
    }
    // One, two or three empty blocks of fixed codes, ten bits each (a header and the end code),
    // the last ending on the byte boundary.
    for (int free = unused; free > 0; free -= 2) {
        bytes[end - 1] = last | static_cast<unsigned char>(0x200u >> free);
        last = 0;
        bytes[end++] = 0;
    }
    return end;
}
