// The input is a proxy password on its first line and log text after it. The text is masked
// whole and, cut at line ends where the input says, in pieces; both must give the same text and
// the same matches. The output may grow only by the marker's length for each match, and masking
// the masked text again must change nothing.
//
// The text is also cut inside a line, at a third and two thirds of it, into two pieces, as a line
// longer than a block is. Given the whole line as context, the pieces must give the whole
// text's masking and matches, and the second must start where the first ended without being
// told. Given little context, the pieces must still join into text with the same line ends, and
// a second piece that finds its own start where the first ended must mask as one told it.

#include "FuzzSupport.h"

#include "IniFile/masking/CCredentialMasker.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

QString describe(const QByteArray& text)
{
    return QString::fromLatin1(text.left(400).toPercentEncoding(" =:/\"'@[]-_.,;&"));
}

using TMatches = QList<QPair<qint64, int>>;

TMatches matchesOf(const CCredentialMasker& masker, qint64 lineShift = 0)
{
    TMatches matches;
    for (const CCredentialMasker::TMasked& masked : masker.masked())
        matches.append({masked.line + lineShift, int(masked.kind)});
    return matches;
}

struct TPiece
{
    QByteArray text;
    qsizetype from = 0;
    qsizetype to = 0;
    TMatches matches;
};

// The piece of text from `from` to `to` with context bytes of its cut lines around it, counted
// from the cut at anchor, as the zipper hands it over: the masked piece and where it starts and
// ends, in text; lines counted from the piece's first, and its state at the end kept in inKey.
TPiece maskPiece(const QByteArray& password, const QByteArray& text, qsizetype anchor,
                 qsizetype from, bool fixedFrom, qsizetype to, qsizetype context, bool& inKey)
{
    const qsizetype lineStart = from > 0 ? text.lastIndexOf('\n', from - 1) + 1 : 0;
    const qsizetype begin = from > 0 ? qMax(lineStart, anchor - context) : 0;
    qsizetype lineEnd = text.indexOf('\n', to);
    lineEnd = lineEnd < 0 ? text.size() : lineEnd;
    const qsizetype end = to < text.size() ? qMin(lineEnd, to + context) : to;
    CCredentialMasker masker(password);
    masker.setInPrivateKey(inKey);
    TPiece piece;
    piece.from = from - begin;
    piece.to = to - begin;
    masker.maskPiece(text.mid(begin, end - begin), piece.from, fixedFrom, piece.to, piece.text);
    piece.from += begin;
    piece.to += begin;
    piece.matches = matchesOf(masker);
    inKey = masker.isInPrivateKey();
    return piece;
}

// Masks text in two pieces cut at cut, inside a line, with context bytes around the cut.
void checkCut(const QByteArray& password, const QByteArray& text, qsizetype cut, qsizetype context,
              const QByteArray& whole, const TMatches& wholeMatches)
{
    bool inKey = false;
    const TPiece first = maskPiece(password, text, 0, 0, true, cut, context, inKey);
    bool guessKey = inKey;
    const TPiece second =
        maskPiece(password, text, cut, first.to, true, text.size(), context, inKey);
    const TPiece guessed =
        maskPiece(password, text, cut, cut, false, text.size(), context, guessKey);
    const QByteArray joined = first.text + second.text;
    const qint64 shift = text.left(cut).count('\n');
    TMatches matches = first.matches;
    for (const auto& match : second.matches)
        matches.append({match.first + shift, match.second});
    if (first.from != 0 || second.to != text.size() || joined.count('\n') != text.count('\n'))
        FuzzSupport::finding(QStringLiteral("pieces cut inside a line lost text: ") +
                             describe(text));
    if (guessed.from == first.to &&
        (guessed.text != second.text || guessed.matches != second.matches))
        FuzzSupport::finding(QStringLiteral("a piece that found its start masked otherwise: ") +
                             describe(text));
    if (context < text.size())
        return;
    std::sort(matches.begin(), matches.end());
    if (joined != whole || matches != wholeMatches || guessed.from != first.to)
        FuzzSupport::finding(QStringLiteral("pieces cut inside a line differ from the whole: ") +
                             describe(text));
}

bool sameMatches(const CCredentialMasker& a, const CCredentialMasker& b)
{
    if (a.masked().size() != b.masked().size())
        return false;
    for (qsizetype i = 0; i < a.masked().size(); ++i)
        if (a.masked().at(i).line != b.masked().at(i).line ||
            a.masked().at(i).kind != b.masked().at(i).kind)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype firstEnd = input.indexOf('\n');
    const QByteArray password = firstEnd < 0 ? QByteArray() : input.left(firstEnd);
    const QByteArray text = firstEnd < 0 ? input : input.mid(firstEnd + 1);

    CCredentialMasker whole(password);
    const QByteArray masked = whole.mask(text);
    if (masked.size() > text.size() + whole.masked().size() * CCredentialMasker::marker.size())
        FuzzSupport::finding(QStringLiteral("the masked text grew beyond its markers: ") +
                             describe(text));

    // Pieces end after every line whose length is odd, as the zipper cuts at line ends.
    CCredentialMasker pieces(password);
    QByteArray joined;
    qsizetype from = 0;
    for (qsizetype at = text.indexOf('\n'); at >= 0; at = text.indexOf('\n', at + 1)) {
        if ((at - from) % 2 == 1) {
            joined += pieces.mask(text.mid(from, at + 1 - from));
            from = at + 1;
        }
    }
    joined += pieces.mask(text.mid(from));
    if (joined != masked || !sameMatches(whole, pieces))
        FuzzSupport::finding(QStringLiteral("masking in pieces differs: ") + describe(text));

    CCredentialMasker again(password);
    if (again.mask(masked) != masked)
        FuzzSupport::finding(QStringLiteral("masking the masked text changed it: ") +
                             describe(masked));

    TMatches wholeMatches = matchesOf(whole);
    std::sort(wholeMatches.begin(), wholeMatches.end());
    for (const qsizetype cut : {text.size() / 3, 2 * text.size() / 3}) {
        if (cut == 0 || text.at(cut - 1) == '\n' || text.at(cut) == '\n')
            continue;
        checkCut(password, text, cut, text.size(), masked, wholeMatches);
        checkCut(password, text, cut, 24, masked, wholeMatches);
    }
    return 0;
}
