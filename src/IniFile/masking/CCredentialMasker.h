#pragma once

#include "IniFile/masking/CKeyStartFilter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

// Masks credentials in the text of one log as it is packed, never in the file itself: header
// values after Authorization, cookie values, values of credential keys (key=value, JSON, XML
// elements, command-line options, netrc and SQL), passwords in URLs and signatures of signed
// URLs, tokens of a known shape, private-key blocks and the proxy password the client keeps,
// as it stands, percent-encoded and in Base64. Each value becomes "[masked]" and the text around
// it stays. It works line by line
// and keeps, between calls, the line count and whether a private-key block is open, so a file
// is given in pieces that end at line ends, one masker per file. Most lines hold none of the
// key words that can start a credential and are passed over without a regular expression.
// The compiled expressions are shared by every masker and only read, so maskers of different
// files may run on different threads.
class CCredentialMasker
{
public:
    enum class TKind
    {
        Authorization,
        CredentialKey,
        UrlPassword,
        PrivateKey,
        ProxyPassword,
        Token,
        Cookie,
    };
    static constexpr int kindCount = int(TKind::Cookie) + 1;

    struct TMasked
    {
        // Counted from 1 within the file.
        qint64 line = 0;
        TKind kind = TKind::CredentialKey;
    };

    static const QByteArray marker;

    // The proxy password is masked wherever it appears, as it stands and in Base64; shorter
    // than minimumPasswordLength it would mask ordinary words, so it is then not looked for.
    static constexpr int minimumPasswordLength = 4;
    explicit CCredentialMasker(const QByteArray& proxyPassword = QByteArray());

    // The next lines of the file, masked. Text without anything to mask comes back shared,
    // not copied.
    QByteArray mask(const QByteArray& text);
    // The same into out, whose buffer is kept from call to call: true when out holds the
    // masked text, false when text had nothing to mask (out is then left as it was).
    bool mask(const QByteArray& text, QByteArray& out);
    // A piece of a file cut inside a line, as a line longer than a block is: text holds lines
    // of the file, its first and last possibly cut, and only the bytes from `from` to `to` are
    // the piece's; the bytes around them are context, so that a value across a cut is seen
    // whole. A value that starts before from is the piece before's, which ends after it: unless
    // from is fixed, the piece then starts after it. A value that starts before to is masked
    // whole and the piece ends after it. Puts the masked piece into out and leaves from and to
    // where it starts and ends. When the last line is cut, the state kept is the one before
    // it, since the piece after masks that line again.
    void maskPiece(const QByteArray& text, qsizetype& from, bool fixedFrom, qsizetype& to,
                   QByteArray& out);
    const QList<TMasked>& masked() const { return found; }
    // Lines seen so far, a last one without its line end included.
    qint64 lines() const { return line; }
    // Whether the text so far ended inside a private-key block; a masker given a piece from
    // the middle of a file is told so before its first line.
    bool isInPrivateKey() const { return inPrivateKey; }
    void setInPrivateKey(bool inside) { inPrivateKey = inside; }
    static QString kindName(TKind kind);

    // How far a piece's context reaches on either side of a cut: a value and the key before it
    // that fit in it are masked across a cut as in the whole line.
    static constexpr qint64 reach = 64 * 1024;

private:
    struct TEdits;

    // The first place at or after from where a key word or the proxy password starts.
    const char* nextCandidate(const char* from, const char* end) const;
    // Whether a key word or the proxy password starts at at.
    bool startsHere(const char* at, const char* end) const;
    bool literalAt(const char* at, const char* end) const;
    // The key words the line holds, as bits, and whether it holds the proxy password.
    quint16 wordsIn(const char* begin, const char* end, bool& holdsLiteral) const;
    QByteArray maskUntilStable(const QByteArray& line);
    QByteArray maskLine(const QByteArray& line, quint16 words, bool holdsLiteral);
    // Masks the rest of a private-key block on the line, or ends the block; true when the
    // whole line belongs to the block.
    bool maskInPrivateKey(QString& text, qsizetype content);
    void maskLiterals(QString& text);
    // Replaces the spans of text by the marker and counts them as values of kind.
    template<typename TSpans>
    void replace(QString& text, TSpans spans, TKind kind);
    // Masks one line of a piece, without its line end, cut at from, to or both.
    void maskCutLine(const QByteArray& text, qsizetype& from, bool fixedFrom, qsizetype& to,
                     QByteArray& out);

    static constexpr int maximumPasses = 4;

    // The proxy password as it stands, percent-encoded and in Base64, the last ones masked
    // with the Base64 text around them (a Basic header's "user:password").
    QList<QByteArray> literals;
    qsizetype plainLiterals = 0;
    // Where a key word or a literal may start; shared by the copies of a masker, so that a
    // copy for each block of a file costs no tables.
    std::shared_ptr<const CKeyStartFilter> starts;
    QList<TMasked> found;
    qint64 line = 0;
    bool inPrivateKey = false;
    // Where the markers of the line being masked came from, while a cut line is masked.
    TEdits* edits = nullptr;
};
