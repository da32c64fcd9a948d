// The input is a proxy password on its first line and log text after it. The text is masked
// whole and, cut at line ends where the input says, in pieces; both must give the same text and
// the same matches. The output may grow only by the marker's length for each match, and masking
// the masked text again must change nothing.

#include "FuzzSupport.h"

#include "IniFile/CCredentialMasker.h"

#include <cstddef>
#include <cstdint>

namespace {

QString describe(const QByteArray& text)
{
    return QString::fromLatin1(text.left(400).toPercentEncoding(" =:/\"'@[]-_.,;&"));
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
    return 0;
}
