#include "IniFile/zip/CDeflateJoin.h"

#include <QtEndian>

#include <cstring>

namespace {

// A deflate stream's bits, lowest first, as the format packs them; past the end come zeros,
// and reading far past it marks the stream as broken.
class CBitReader
{
public:
    CBitReader(const unsigned char* data, qint64 size) : data(data), size(size) {}

    bool broken() const { return failed; }
    // Where the next unread bit is, counted from the stream's first.
    qint64 position() const { return next * 8 - count; }

    quint32 peek(int bits)
    {
        if (count < bits)
            refill();
        return quint32(buffer & ((quint64(1) << bits) - 1));
    }
    void drop(int bits)
    {
        buffer >>= bits;
        count -= bits;
    }
    quint32 take(int bits)
    {
        const quint32 value = peek(bits);
        drop(bits);
        return value;
    }
    // Goes on at the byte the position is in plus bytes, or the next one when it is inside one.
    void skipToByte(qint64 bytes)
    {
        next = (position() + 7) / 8 + bytes;
        buffer = 0;
        count = 0;
        failed = failed || next > size;
    }

private:
    void refill()
    {
        if (next + 8 <= size) {
            // Whole bytes only: the bits above count come from the byte read next, and OR-ing
            // them in again then changes nothing.
            buffer |= qFromLittleEndian<quint64>(data + next) << count;
            next += (63 - count) / 8;
            count += (63 - count) / 8 * 8;
            return;
        }
        while (count <= 56) {
            buffer |= quint64(next < size ? data[next] : 0) << count;
            ++next;
            count += 8;
        }
        // A code of any length is at most 15 bits, and what follows it at most 13.
        failed = failed || next > size + 8;
    }

    const unsigned char* const data;
    const qint64 size;
    qint64 next = 0;
    quint64 buffer = 0;
    int count = 0;
    bool failed = false;
};

// A canonical Huffman code: codes up to fastBits long are found with one look at the next bits,
// longer ones bit by bit, as zlib's puff reads all of them.
class CHuffman
{
public:
    static constexpr int maxBits = 15;
    static constexpr int fastBits = 11;

    // lengths of count symbols, 0 for a symbol not used; false when the lengths over-fill the
    // code's space.
    bool build(const unsigned char* lengths, int symbols)
    {
        std::memset(counts, 0, sizeof(counts));
        for (int symbol = 0; symbol < symbols; ++symbol)
            ++counts[lengths[symbol]];
        int left = 1;
        for (int bits = 1; bits <= maxBits; ++bits) {
            left = (left << 1) - counts[bits];
            if (left < 0)
                return false;
        }
        int offsets[maxBits + 2] = {};
        for (int bits = 1; bits <= maxBits; ++bits)
            offsets[bits + 1] = offsets[bits] + counts[bits];
        std::memset(fast, 0, sizeof(fast));
        int codes[maxBits + 1] = {};
        for (int bits = 1, code = 0; bits <= maxBits; ++bits) {
            code = (code + counts[bits - 1] * (bits > 1)) << 1;
            codes[bits] = code;
        }
        for (int symbol = 0; symbol < symbols; ++symbol) {
            const int bits = lengths[symbol];
            if (bits == 0)
                continue;
            sorted[offsets[bits]++] = quint16(symbol);
            const int code = codes[bits]++;
            if (bits > fastBits)
                continue;
            // Codes are sent from their highest bit on: the bits as read are the code reversed.
            int reversed = 0;
            for (int bit = 0; bit < bits; ++bit)
                reversed |= ((code >> bit) & 1) << (bits - 1 - bit);
            for (int index = reversed; index < (1 << fastBits); index += 1 << bits)
                fast[index] = quint16(symbol << 4 | bits);
        }
        return true;
    }

    // The next symbol, or -1 when the bits are no code.
    int decode(CBitReader& bits) const
    {
        const quint16 entry = fast[bits.peek(fastBits)];
        if (entry != 0) {
            bits.drop(entry & 15);
            return entry >> 4;
        }
        const quint32 ahead = bits.peek(maxBits);
        int code = 0;
        int first = 0;
        int index = 0;
        for (int length = 1; length <= maxBits; ++length) {
            code |= int(ahead >> (length - 1)) & 1;
            const int count = counts[length];
            if (code - count < first) {
                bits.drop(length);
                return sorted[index + (code - first)];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    quint16 counts[maxBits + 1] = {};
    quint16 sorted[288] = {};
    quint16 fast[1 << fastBits] = {};
};

const int lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Reads the code lengths of a dynamic block's codes into them.
bool readCodes(CBitReader& bits, CHuffman& literals, CHuffman& distances)
{
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int literalCount = int(bits.take(5)) + 257;
    const int distanceCount = int(bits.take(5)) + 1;
    const int lengthCount = int(bits.take(4)) + 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;
    unsigned char lengths[286 + 30] = {};
    for (int i = 0; i < lengthCount; ++i)
        lengths[order[i]] = static_cast<unsigned char>(bits.take(3));
    CHuffman lengthCode;
    if (!lengthCode.build(lengths, 19))
        return false;
    const int total = literalCount + distanceCount;
    for (int at = 0; at < total;) {
        const int symbol = lengthCode.decode(bits);
        if (symbol < 0 || bits.broken())
            return false;
        if (symbol < 16) {
            lengths[at++] = static_cast<unsigned char>(symbol);
            continue;
        }
        if (symbol == 16 && at == 0)
            return false;
        const unsigned char value = symbol == 16 ? lengths[at - 1] : 0;
        const int repeat = symbol == 16   ? 3 + int(bits.take(2))
                           : symbol == 17 ? 3 + int(bits.take(3))
                                          : 11 + int(bits.take(7));
        if (at + repeat > total)
            return false;
        std::memset(lengths + at, value, size_t(repeat));
        at += repeat;
    }
    return lengths[256] != 0 && literals.build(lengths, literalCount) &&
           distances.build(lengths + literalCount, distanceCount);
}

struct TFixedCodes
{
    CHuffman literals;
    CHuffman distances;

    TFixedCodes()
    {
        unsigned char lengths[288];
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        literals.build(lengths, 288);
        std::memset(lengths, 5, 30);
        distances.build(lengths, 30);
    }
};

// Walks the blocks of one raw deflate stream without inflating it, which is all that finding
// its last block takes: where that block's header starts and where the stream ends, in bits,
// or false when data is no complete stream.
bool findLastBlock(const unsigned char* data, qint64 size, qint64& lastHeader, qint64& end)
{
    static const TFixedCodes fixed;
    CBitReader bits(data, size);
    CHuffman literals;
    CHuffman distances;
    for (bool final = false; !final;) {
        lastHeader = bits.position();
        final = bits.take(1) != 0;
        const quint32 type = bits.take(2);
        if (type == 0) {
            bits.skipToByte(0);
            const quint32 length = bits.take(16);
            if ((length ^ bits.take(16)) != 0xffff)
                return false;
            bits.skipToByte(length);
            if (bits.broken())
                return false;
            continue;
        }
        if (type == 3 || (type == 2 && !readCodes(bits, literals, distances)))
            return false;
        const CHuffman& literalCode = type == 1 ? fixed.literals : literals;
        const CHuffman& distanceCode = type == 1 ? fixed.distances : distances;
        for (;;) {
            const int symbol = literalCode.decode(bits);
            if (symbol < 0 || symbol > 285 || bits.broken())
                return false;
            if (symbol < 256)
                continue;
            if (symbol == 256)
                break;
            bits.take(lengthExtra[symbol - 257]);
            const int distance = distanceCode.decode(bits);
            if (distance < 0 || distance > 29)
                return false;
            bits.take(distance < 4 ? 0 : (distance - 2) / 2);
        }
    }
    end = bits.position();
    return !bits.broken() && (end + 7) / 8 == size;
}

} // namespace

qint64 CDeflateJoin::openEnd(char* data, qint64 size)
{
    auto* const bytes = reinterpret_cast<unsigned char*>(data);
    qint64 lastHeader = 0;
    qint64 endBit = 0;
    if (size <= 0 || !findLastBlock(bytes, size, lastHeader, endBit))
        return -1;
    bytes[lastHeader / 8] &= static_cast<unsigned char>(~(1u << (lastHeader % 8)));
    // The padding after the last block: bits of the last byte no code used.
    const int unused = int(size * 8 - endBit);
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
