// The masker and TEdits, its record of what masking changed in a line that is cut between two
// pieces: TEdits is private to the masker and only means something inside its passes.
#include "IniFile/masking/CCredentialMasker.h"

#include "IniFile/masking/CCredentialRules.h"
#include "IniFile/masking/CKeyStartFilter.h"

#include <QRegularExpression>
#include <QStringView>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

using namespace CredentialRules;


const QByteArray CCredentialMasker::marker = QByteArrayLiteral("[masked]");

// The stretches of a cut line that masking changed, so that a piece keeps the values it owns:
// for each, where it is in the line as it now reads and which bytes of the line it replaced.
// Later masking can swallow a stretch, whose bytes then join the one that swallowed it.
struct CCredentialMasker::TEdits
{
    struct TStretch
    {
        qsizetype at;
        qsizetype length;
        qsizetype start;
        qsizetype end;
    };
    // A value counted, by the first byte of the line it replaced.
    struct TCount
    {
        qsizetype start;
        TKind kind;
    };

    void replaced(qsizetype from, qsizetype to, TKind kind)
    {
        const qsizetype markerLength = marker.size();
        // The line's bytes lie this much further on than the text before from.
        qsizetype shift = 0;
        size_t first = 0;
        for (; first < stretches.size() && stretches[first].at + stretches[first].length <= from;
             ++first)
            shift += stretches[first].end - stretches[first].start - stretches[first].length;
        TStretch made = {from, 0, from + shift, 0};
        qsizetype until = to;
        size_t last = first;
        for (; last < stretches.size() && stretches[last].at < to; ++last) {
            const TStretch& swallowed = stretches[last];
            if (last == first && swallowed.at < from) {
                made.at = swallowed.at;
                made.start = swallowed.start;
            }
            if (swallowed.at + swallowed.length > to) {
                until = swallowed.at + swallowed.length;
                made.end = swallowed.end;
            }
            shift += swallowed.end - swallowed.start - swallowed.length;
        }
        if (until == to)
            made.end = to + shift;
        made.length = (from - made.at) + markerLength + (until - to);
        for (size_t i = last; i < stretches.size(); ++i)
            stretches[i].at += markerLength - (to - from);
        stretches.erase(stretches.begin() + qsizetype(first), stretches.begin() + qsizetype(last));
        stretches.insert(stretches.begin() + qsizetype(first), made);
        counts.push_back({made.start, kind});
    }

    // In line order, apart.
    std::vector<TStretch> stretches;
    std::vector<TCount> counts;
};

CCredentialMasker::CCredentialMasker(const QByteArray& proxyPassword)
{
    patterns();
    wordTable();
    starts = keyWordStarts();
    if (proxyPassword.size() < minimumPasswordLength)
        return;
    literals = {proxyPassword};
    const QByteArray encoded = QUrl::toPercentEncoding(QString::fromUtf8(proxyPassword));
    if (encoded != proxyPassword)
        literals.append(encoded);
    plainLiterals = literals.size();
    // In "user:password" the password's Base64 depends on where it starts within a group of
    // three bytes: after the group it shares with the user name, it is one of these three.
    literals.append(proxyPassword.toBase64());
    for (int shift = 1; shift < 3; ++shift) {
        const QByteArray tail = (QByteArray(shift, '\0') + proxyPassword).toBase64().mid(4);
        if (tail.size() >= 8)
            literals.append(tail);
    }
    starts = std::make_shared<const CKeyStartFilter>(literals + keyWordTexts());
}

QString CCredentialMasker::kindName(TKind kind)
{
    switch (kind) {
    case TKind::Authorization:
        return QStringLiteral("authorization header");
    case TKind::CredentialKey:
        return QStringLiteral("credential key");
    case TKind::UrlPassword:
        return QStringLiteral("password in an address");
    case TKind::PrivateKey:
        return QStringLiteral("private key");
    case TKind::ProxyPassword:
        return QStringLiteral("proxy password");
    case TKind::Token:
        return QStringLiteral("token");
    case TKind::Cookie:
        return QStringLiteral("cookie");
    }
    return QString();
}

bool CCredentialMasker::literalAt(const char* at, const char* end) const
{
    for (const QByteArray& literal : literals)
        if (end - at >= literal.size() &&
            std::memcmp(at, literal.constData(), size_t(literal.size())) == 0)
            return true;
    return false;
}

bool CCredentialMasker::startsHere(const char* at, const char* end) const
{
    return wordTable().wordAt(at, end) != 0 || literalAt(at, end);
}

const char* CCredentialMasker::nextCandidate(const char* from, const char* end) const
{
    for (const char* at = from; (at = starts->next(at, end)) != end; ++at)
        if (startsHere(at, end))
            return at;
    return end;
}

quint16 CCredentialMasker::wordsIn(const char* begin, const char* end, bool& holdsLiteral) const
{
    const TWordTable& table = wordTable();
    quint16 words = 0;
    holdsLiteral = false;
    for (const char* at = begin; (at = nextCandidate(at, end)) != end; ++at) {
        const quint16 word = table.wordAt(at, end);
        words |= word;
        // Where no word starts, a literal does.
        holdsLiteral = holdsLiteral || word == 0 || literalAt(at, end);
    }
    return words;
}

QByteArray CCredentialMasker::mask(const QByteArray& text)
{
    QByteArray out;
    return mask(text, out) ? out : text;
}

bool CCredentialMasker::mask(const QByteArray& text, QByteArray& out)
{
    const char* const data = text.constData();
    const char* const end = data + text.size();
    // Lines before at are counted in line; at is always where a line starts.
    const char* at = data;
    const char* copied = data;
    bool changed = false;
    // Line by line with memchr: every byte of every file passes here, and a byte-wise count
    // cost more than finding the key words.
    auto countLines = [this](const char* from, const char* to) {
        while (const void* newline = std::memchr(from, '\n', static_cast<size_t>(to - from))) {
            ++line;
            from = static_cast<const char*>(newline) + 1;
        }
    };
    while (at < end) {
        const char* lineStart = at;
        if (!inPrivateKey) {
            const char* candidate = nextCandidate(at, end);
            if (candidate == end)
                break;
            const void* before = memrchr(at, '\n', static_cast<size_t>(candidate - at));
            lineStart = before ? static_cast<const char*>(before) + 1 : at;
            countLines(at, lineStart);
        }
        const void* newline = std::memchr(lineStart, '\n', static_cast<size_t>(end - lineStart));
        const char* lineEnd = newline ? static_cast<const char*>(newline) : end;
        ++line;
        const QByteArray original = QByteArray::fromRawData(lineStart, lineEnd - lineStart);
        const QByteArray masked = maskUntilStable(original);
        if (masked != original) {
            if (!changed) {
                // Room for the markers too, so that the copy is seldom moved as it grows.
                out.truncate(0);
                out.reserve(text.size() + text.size() / 8);
                changed = true;
            }
            out.append(copied, lineStart - copied);
            out.append(masked);
            copied = lineEnd;
        }
        at = newline ? lineEnd + 1 : end;
    }
    countLines(at, end);
    // The file's last line without its line end.
    if (at < end && end[-1] != '\n')
        ++line;
    if (changed)
        out.append(copied, end - copied);
    return changed;
}

void CCredentialMasker::maskPiece(const QByteArray& text, qsizetype& from, bool fixedFrom,
                                  qsizetype& to, QByteArray& out)
{
    out.truncate(0);
    const qsizetype firstEnd = from > 0 ? text.indexOf('\n', from) : -1;
    if (from > 0 && (firstEnd < 0 || firstEnd >= to)) {
        // One line, cut on both sides or at its start only.
        const bool keyBefore = inPrivateKey;
        const qsizetype lineEnd = firstEnd < 0 ? text.size() : firstEnd;
        maskCutLine(text.left(lineEnd), from, fixedFrom, to, out);
        if (to < text.size())
            inPrivateKey = keyBefore;
        return;
    }
    qsizetype at = from;
    if (from > 0) {
        qsizetype lineEnd = firstEnd;
        maskCutLine(text.left(firstEnd), from, fixedFrom, lineEnd, out);
        out += '\n';
        at = firstEnd + 1;
    }
    const qsizetype lastStart = to < text.size() ? text.lastIndexOf('\n', to - 1) + 1 : to;
    const QByteArray middle = QByteArray::fromRawData(text.constData() + at, lastStart - at);
    QByteArray masked;
    out += mask(middle, masked) ? masked : middle;
    if (to < text.size()) {
        const bool keyBefore = inPrivateKey;
        qsizetype lineStart = 0;
        qsizetype lineTo = to - lastStart;
        maskCutLine(text.mid(lastStart), lineStart, true, lineTo, out);
        to = lastStart + lineTo;
        inPrivateKey = keyBefore;
    }
}

void CCredentialMasker::maskCutLine(const QByteArray& text, qsizetype& from, bool fixedFrom,
                                    qsizetype& to, QByteArray& out)
{
    ++line;
    TEdits tracked;
    QByteArray masked = text;
    const char* const begin = text.constData();
    const char* const end = begin + text.size();
    if (inPrivateKey || nextCandidate(begin, end) != end) {
        const qsizetype foundBefore = found.size();
        edits = &tracked;
        masked = maskUntilStable(text);
        edits = nullptr;
        found.resize(foundBefore);
    }
    const auto& stretches = tracked.stretches;
    if (!fixedFrom) {
        for (const TEdits::TStretch& stretch : stretches)
            if (stretch.start < from && stretch.end > from)
                from = stretch.end;
    }
    for (const TEdits::TStretch& stretch : stretches)
        if (stretch.start < to && stretch.end > to)
            to = stretch.end;
    to = qMax(to, from);
    const auto owned = [&](const TEdits::TStretch& stretch) {
        return stretch.end > from && stretch.start < to;
    };
    qsizetype at = from;
    for (const TEdits::TStretch& stretch : stretches) {
        if (!owned(stretch))
            continue;
        if (stretch.start > at)
            out.append(begin + at, stretch.start - at);
        out.append(masked.constData() + stretch.at, stretch.length);
        at = stretch.end;
    }
    out.append(begin + at, to - at);
    for (const TEdits::TCount& value : tracked.counts) {
        const auto holder =
            std::find_if(stretches.begin(), stretches.end(), [&](const TEdits::TStretch& stretch) {
                return stretch.start <= value.start && value.start < stretch.end;
            });
        if (holder != stretches.end() && owned(*holder))
            found.append({line, value.kind});
    }
}

// One pass of the rules can leave text that another pass would mask (a marker that completes
// a key word, an END line that a masked value no longer hides). Rather than chase each such
// case rule by rule, a line that changed is masked again until it stops changing, so masking
// masked text changes nothing by construction: the state after the line is the one the last,
// unchanging pass left, which is what masking the result again starts from. Every value a
// changing pass masked is counted. A line still changing after a few passes becomes one
// marker, which no rule changes in either state.
QByteArray CCredentialMasker::maskUntilStable(const QByteArray& original)
{
    const bool keyBefore = inPrivateKey;
    const qsizetype foundBefore = found.size();
    QByteArray current = original;
    for (int pass = 0; pass < maximumPasses; ++pass) {
        inPrivateKey = keyBefore;
        bool holdsLiteral = false;
        const quint16 words =
            wordsIn(current.constData(), current.constData() + current.size(), holdsLiteral);
        QByteArray masked = maskLine(current, words, holdsLiteral);
        if (masked == current)
            return current;
        current = std::move(masked);
    }
    inPrivateKey = keyBefore;
    const TKind kind = found.at(foundBefore).kind;
    found.resize(foundBefore);
    found.append({line, kind});
    const bool carriageReturn = original.endsWith('\r');
    if (edits) {
        const qsizetype content = original.size() - (carriageReturn ? 1 : 0);
        edits->stretches = {{0, marker.size(), 0, content}};
        edits->counts = {{0, kind}};
    }
    return carriageReturn ? marker + '\r' : marker;
}

namespace {

// The secret parameters of a scheme's name=value list that starts at from; false when none
// starts there.
bool parameterSpans(const QString& text, qsizetype from, std::vector<TSpan>& spans)
{
    bool any = false;
    for (;;) {
        const QRegularExpressionMatch match = patterns().authParameter.match(text, from);
        if (!match.hasMatch())
            return any;
        any = true;
        const std::optional<TSpan> value = captured(match, {u"quoted", u"plain"});
        if (!isOpenParameter(match.capturedView(u"name")) && value &&
            looksSecret(text, value->start, value->end))
            spans.push_back(*value);
        from = match.capturedEnd();
    }
}

std::vector<TSpan> authorizationSpans(const QString& text)
{
    std::vector<TSpan> spans;
    for (QRegularExpressionMatchIterator it = patterns().authorization.globalMatch(text);
         it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        qsizetype start = match.capturedStart(u"value");
        qsizetype end = match.capturedEnd(u"value");
        while (end > start && text.at(end - 1).isSpace())
            --end;
        if (!looksSecret(text, start, end))
            continue;
        // "Bearer <token>": the scheme word says what kind of credential it was, and stays.
        const qsizetype space = QStringView(text).mid(start, end - start).indexOf(QLatin1Char(' '));
        if (space > 0) {
            start += space + 1;
            while (start < end && text.at(start).isSpace())
                ++start;
            if (parameterSpans(text, start, spans))
                continue;
        }
        if (looksSecret(text, start, end))
            spans.push_back({start, end});
    }
    return spans;
}

// The value of each name=value of a Cookie header, and of the first of a Set-Cookie header:
// the attributes after it are no secret.
std::vector<TSpan> cookieSpans(const QString& text)
{
    std::vector<TSpan> spans;
    for (QRegularExpressionMatchIterator it = patterns().cookie.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const bool set = match.capturedStart(u"set") >= 0;
        const qsizetype listEnd = match.capturedEnd(u"list");
        for (qsizetype at = match.capturedStart(u"list"); at < listEnd;) {
            qsizetype stop = text.indexOf(QLatin1Char(';'), at);
            stop = stop < 0 || stop > listEnd ? listEnd : stop;
            const qsizetype equals = text.indexOf(QLatin1Char('='), at);
            if (equals > at && equals < stop) {
                qsizetype start = equals + 1;
                qsizetype end = stop;
                while (start < end && text.at(start).isSpace())
                    ++start;
                while (end > start && text.at(end - 1).isSpace())
                    --end;
                if (looksSecret(text, start, end))
                    spans.push_back({start, end});
            }
            if (set)
                break;
            at = stop + 1;
        }
    }
    return spans;
}

// Only keys holding a credential word are looked at: every timestamp and log prefix holds
// "key: value" pairs. Keys are searched from where the last value masked ends; a key that is
// the end of a path (".../token: No such file") is none.
std::vector<TSpan> keyValueSpans(const QString& text)
{
    std::vector<TSpan> spans;
    const QByteArray latin = text.toLatin1();
    const char* const begin = latin.constData();
    const char* const end = begin + latin.size();
    const TWordTable& table = wordTable();
    qsizetype from = 0;
    for (const char* at = begin; at + 1 < end; ++at) {
        if (at - begin < from || (table.wordAt(at, end) & keyValueWords) == 0)
            continue;
        const char* keyBegin = at;
        while (keyBegin - begin > from && isKeyCharacter(keyBegin[-1]))
            --keyBegin;
        const char* keyEnd = at;
        while (keyEnd < end && isKeyCharacter(*keyEnd))
            ++keyEnd;
        from = keyEnd - begin;
        at = keyEnd - 1;
        if ((keyBegin > begin && keyBegin[-1] == '/') ||
            !isCredentialKey(QStringView(text).mid(keyBegin - begin, keyEnd - keyBegin)))
            continue;
        qsizetype matchEnd = from;
        if (const std::optional<TSpan> value =
                valueAfterKey(text, keyBegin - begin, keyEnd - begin, matchEnd)) {
            spans.push_back(*value);
            from = matchEnd;
            at = begin + from - 1;
        }
    }
    return spans;
}

void appendValues(const QRegularExpression& pattern, const QString& text, std::vector<TSpan>& spans,
                  std::initializer_list<const char16_t*> groups)
{
    for (QRegularExpressionMatchIterator it = pattern.globalMatch(text); it.hasNext();) {
        const std::optional<TSpan> value = captured(it.next(), groups);
        if (value && looksSecret(text, value->start, value->end))
            spans.push_back(*value);
    }
}

std::vector<TSpan> commandSpans(const QString& text, quint16 words)
{
    const TPatterns& all = patterns();
    std::vector<TSpan> spans;
    if (words & Mysql)
        appendValues(all.mysqlOption, text, spans, {u"value"});
    if (words & Sshpass)
        appendValues(all.sshpassOption, text, spans, {u"value"});
    if (words & Curl)
        appendValues(all.curlUser, text, spans, {u"value"});
    if (words & Identified)
        appendValues(all.identifiedBy, text, spans, {u"dq", u"sq"});
    return spans;
}

// Signatures of signed URLs, and the code of an OAuth redirect (not an error's code=404).
std::vector<TSpan> signedQuerySpans(const QString& text)
{
    const TPatterns& all = patterns();
    std::vector<TSpan> spans;
    const bool redirect = all.oauthRedirect.match(text).hasMatch();
    for (QRegularExpressionMatchIterator it = all.signedQuery.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (!redirect &&
            match.capturedView(u"name").compare(QLatin1String("code"), Qt::CaseInsensitive) == 0)
            continue;
        const std::optional<TSpan> value = captured(match, {u"value"});
        if (value && looksSecret(text, value->start, value->end))
            spans.push_back(*value);
    }
    return spans;
}

std::vector<TSpan> spansOf(const QRegularExpression& pattern, const QString& text,
                           const char16_t* group)
{
    std::vector<TSpan> spans;
    for (QRegularExpressionMatchIterator it = pattern.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        spans.push_back(
            {match.capturedStart(QStringView(group)), match.capturedEnd(QStringView(group))});
    }
    return spans;
}

qsizetype contentEnd(const QString& text)
{
    return text.endsWith(QLatin1Char('\r')) ? text.size() - 1 : text.size();
}

} // namespace

template<typename TSpans>
void CCredentialMasker::replace(QString& text, TSpans spans, TKind kind)
{
    const int times =
        replaceSpans(text, std::move(spans), [this, kind](qsizetype from, qsizetype to) {
            if (edits)
                edits->replaced(from, to, kind);
        });
    for (int i = 0; i < times; ++i)
        found.append({line, kind});
}

bool CCredentialMasker::maskInPrivateKey(QString& text, qsizetype content)
{
    const QRegularExpressionMatch end = patterns().keyEnd.match(text);
    if (end.hasMatch()) {
        replace(text, std::vector<TSpan>{{0, end.capturedStart()}}, TKind::PrivateKey);
        inPrivateKey = false;
        return false;
    }
    const QStringView body = QStringView(text).left(content).trimmed();
    // The markers of a masked line keep the block open, so that masking masked text again
    // goes the same way.
    if (body.isEmpty() || onlyMarkers(body) || body.startsWith(QLatin1String("Proc-Type:")) ||
        body.startsWith(QLatin1String("DEK-Info:")))
        return true;
    if (std::all_of(body.begin(), body.end(), isBase64)) {
        replace(text, std::vector<TSpan>{{0, content}}, TKind::PrivateKey);
        return true;
    }
    // A line that is no part of a key ends the block: a BEGIN line was only quoted.
    inPrivateKey = false;
    return false;
}

// The proxy password goes before the keyed rules: masked, it can leave a key behind it
// ("masktoken" holding the password "mask" becomes "[masked]token"), which the keyed rules must
// see in the same pass as they will in any later one.
void CCredentialMasker::maskLiterals(QString& text)
{
    for (qsizetype i = 0; i < literals.size(); ++i) {
        const QString value = QString::fromLatin1(literals.at(i));
        const bool base64 = i >= plainLiterals;
        std::vector<TSpan> spans;
        for (qsizetype at = text.indexOf(value); at >= 0;) {
            // Inside a marker a password such as "mask" is only the marker.
            if (overlapsMarker(text, at, value.size())) {
                at = text.indexOf(value, at + 1);
                continue;
            }
            qsizetype start = at;
            qsizetype end = at + value.size();
            while (base64 && start > 0 && isBase64(text.at(start - 1)))
                --start;
            while (base64 && end < text.size() && isBase64(text.at(end)))
                ++end;
            spans.push_back({start, end});
            at = text.indexOf(value, end);
        }
        replace(text, spans, TKind::ProxyPassword);
    }
}

QByteArray CCredentialMasker::maskLine(const QByteArray& bytes, quint16 words, bool holdsLiteral)
{
    const TPatterns& all = patterns();
    QString text = QString::fromLatin1(bytes);
    if (inPrivateKey && maskInPrivateKey(text, contentEnd(text)))
        return text.toLatin1();

    std::vector<TSpan> spans;
    for (qsizetype from = 0; words & Begin;) {
        const QRegularExpressionMatch begin = all.keyBegin.match(text, from);
        if (!begin.hasMatch())
            break;
        const QRegularExpressionMatch end = all.keyEnd.match(text, begin.capturedEnd());
        if (end.hasMatch()) {
            spans.push_back({begin.capturedEnd(), end.capturedStart()});
            from = end.capturedEnd();
            continue;
        }
        // A BEGIN line alone opens a block. Text after it is a key's body only when it looks
        // like one (a key in a JSON string cut at the line's end); else the line quotes it.
        const QStringView rest =
            QStringView(text).mid(begin.capturedEnd(), contentEnd(text) - begin.capturedEnd());
        if (rest.trimmed().isEmpty())
            inPrivateKey = true;
        else if (holdsBase64Run(rest, 16))
            spans.push_back({begin.capturedEnd(), contentEnd(text)});
        break;
    }
    replace(text, spans, TKind::PrivateKey);

    if (holdsLiteral)
        maskLiterals(text);
    if (words & Auth)
        replace(text, authorizationSpans(text), TKind::Authorization);
    if (words & Cookie)
        replace(text, cookieSpans(text), TKind::Cookie);
    if (words & keyValueWords)
        replace(text, keyValueSpans(text), TKind::CredentialKey);
    if (words & (Mysql | Sshpass | Curl | Identified))
        replace(text, commandSpans(text, words), TKind::CredentialKey);
    if (words & Scheme) {
        replace(text, spansOf(all.urlPassword, text, u"value"), TKind::UrlPassword);
        replace(text, signedQuerySpans(text), TKind::CredentialKey);
        replace(text, spansOf(all.slackWebhook, text, u"value"), TKind::Token);
    }
    if (words & Shape)
        replace(text, spansOf(all.shape, text, u"value"), TKind::Token);
    return text.toLatin1();
}
