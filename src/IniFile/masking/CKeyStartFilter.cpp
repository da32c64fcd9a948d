#include "IniFile/masking/CKeyStartFilter.h"

#include <QtEndian>

#include <algorithm>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// Up to this many groups of strings, one bit of a byte each.
constexpr int groupCount = 8;

// Folding with 0x20 maps more than the capitals onto the small letters, which only lets a few
// more places through to the exact comparison.
constexpr unsigned char fold(char c)
{
    return static_cast<unsigned char>(c) | 0x20;
}

// The three bytes at at, the first lowest, as a little-endian load of four gives them.
quint32 threeBytes(const char* at)
{
    return quint32(static_cast<unsigned char>(at[0])) |
           quint32(static_cast<unsigned char>(at[1])) << 8 |
           quint32(static_cast<unsigned char>(at[2])) << 16;
}

unsigned hashSlot(quint32 bytes)
{
    return ((bytes | 0x202020u) & 0xffffffu) * 0x9E3779B1u >> 16;
}

bool hashHits(const std::array<quint64, 1024>& hashed, quint32 bytes)
{
    const unsigned slot = hashSlot(bytes);
    return (hashed[slot >> 6] >> (slot & 63)) & 1;
}

#if defined(__x86_64__)

// For each of the 32 places from at, the groups whose byte at their string's place matches
// both halves of the folded byte there.
__attribute__((target("avx2"))) inline __m256i groupsAt(const char* at, __m256i low, __m256i high)
{
    const __m256i halves = _mm256_set1_epi8(0x0f);
    const __m256i bytes = _mm256_or_si256(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), _mm256_set1_epi8(0x20));
    return _mm256_and_si256(
        _mm256_shuffle_epi8(low, _mm256_and_si256(bytes, halves)),
        _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), halves)));
}

// The first place where a string may start, trying 32 places a step; nullptr when there is
// none before fewer than 34 bytes are left, with at where the steps stopped. Each step reads
// its 32 places and the two bytes after them. The nibble tables let through about one place in
// fifty of a log, as a group's halves combine into more bytes than its strings hold; the
// hashed table then rejects nearly all of them before the caller's exact comparison.
__attribute__((target("avx2"))) const char*
nextWide(const std::array<CKeyStartFilter::TNibbles, 3>& nibbles,
         const std::array<quint64, 1024>& hashed, const char*& at, const char* end)
{
    __m256i low[3];
    __m256i high[3];
    for (size_t place = 0; place < 3; ++place) {
        low[place] = _mm256_load_si256(reinterpret_cast<const __m256i*>(nibbles[place].low));
        high[place] = _mm256_load_si256(reinterpret_cast<const __m256i*>(nibbles[place].high));
    }
    const __m256i none = _mm256_setzero_si256();
    for (; end - at >= 34; at += 32) {
        const __m256i groups = _mm256_and_si256(
            _mm256_and_si256(groupsAt(at, low[0], high[0]), groupsAt(at + 1, low[1], high[1])),
            groupsAt(at + 2, low[2], high[2]));
        for (unsigned found = ~unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(groups, none)));
             found != 0; found &= found - 1) {
            const char* place = at + __builtin_ctz(found);
            if (hashHits(hashed, threeBytes(place)))
                return place;
        }
    }
    return nullptr;
}

#endif

} // namespace

CKeyStartFilter::CKeyStartFilter(const QList<QByteArray>& strings)
{
    // Strings that share their first bytes share a group, so that each group's halves are few
    // and few other bytes match them.
    std::vector<quint32> starts;
    for (const QByteArray& string : strings) {
        Q_ASSERT(string.size() >= 3);
        starts.push_back(quint32(fold(string[0])) << 16 | quint32(fold(string[1])) << 8 |
                         fold(string[2]));
        const unsigned slot = hashSlot(threeBytes(string.constData()));
        hashed[slot >> 6] |= quint64(1) << (slot & 63);
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    for (size_t i = 0; i < starts.size(); ++i) {
        const quint8 group = quint8(1u << (i * groupCount / starts.size()));
        for (int place = 0; place < 3; ++place) {
            const unsigned byte = (starts[i] >> (16 - 8 * place)) & 0xff;
            for (int lane = 0; lane < 32; lane += 16) {
                nibbles[size_t(place)].low[lane + (byte & 15)] |= group;
                nibbles[size_t(place)].high[lane + (byte >> 4)] |= group;
            }
        }
    }
}

const char* CKeyStartFilter::next(const char* from, const char* end) const
{
#if defined(__x86_64__)
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide) {
        if (const char* found = nextWide(nibbles, hashed, from, end))
            return found;
    }
#endif
    return nextOneByOne(from, end);
}

const char* CKeyStartFilter::nextOneByOne(const char* from, const char* end) const
{
    const char* at = from;
    for (; end - at >= 4; ++at)
        if (hashHits(hashed, qFromLittleEndian<quint32>(at)))
            return at;
    if (end - at == 3 && hashHits(hashed, threeBytes(at)))
        return at;
    return end;
}
