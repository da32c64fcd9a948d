// Question: of the credentials a client's logs hold, how many does CCredentialMasker mask, and
// how many lines that hold none does it change? The corpus is tests/IniFile/masking/data/
// credential_corpus.txt (its head says how it is labelled), masked as one file. A value counts
// as masked when the masked line no longer holds it; a line with credentials is exact when it
// is the line with each value, and nothing else, replaced by the marker.

#include "IniFile/masking/CCredentialMasker.h"

#include <QByteArrayList>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

const QByteArray open = QByteArrayLiteral("\xc2\xab");
const QByteArray close = QByteArrayLiteral("\xc2\xbb");

struct TLine
{
    char label = 'O';
    QByteArray text;
    QByteArray expected;
    QByteArrayList values;
};

// The line without its value marks, the values and the line as masking should leave it.
TLine parse(char label, const QByteArray& marked)
{
    TLine line{label, {}, {}, {}};
    qsizetype at = 0;
    for (;;) {
        const qsizetype start = marked.indexOf(open, at);
        const qsizetype end = start < 0 ? -1 : marked.indexOf(close, start);
        if (end < 0)
            break;
        line.text += marked.mid(at, start - at);
        line.expected += marked.mid(at, start - at) + CCredentialMasker::marker;
        const QByteArray value = marked.mid(start + open.size(), end - start - open.size());
        line.text += value;
        line.values.append(value);
        at = end + close.size();
    }
    line.text += marked.mid(at);
    line.expected += marked.mid(at);
    return line;
}

void show(const char* what, const TLine& line, const QByteArray& masked)
{
    std::printf("  %s\n    in:  %s\n    out: %s\n", what, line.text.constData(),
                masked.constData());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool verbose = arguments.contains(QStringLiteral("--verbose"));
    QString path = QStringLiteral(SY_CREDENTIAL_CORPUS);
    for (const QString& argument : arguments.mid(1))
        if (!argument.startsWith(QLatin1String("--")))
            path = argument;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    QByteArray proxyPassword;
    QList<TLine> lines;
    QByteArray text;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        if (raw.size() < 2 || raw.startsWith('#'))
            continue;
        if (raw.startsWith("P ")) {
            proxyPassword = raw.mid(2);
            continue;
        }
        lines.append(parse(raw.at(0), raw.mid(2)));
        text += lines.last().text + '\n';
    }

    CCredentialMasker masker(proxyPassword);
    const QByteArrayList masked = masker.mask(text).split('\n');
    if (masked.size() != lines.size() + 1) {
        std::fprintf(stderr, "masking changed the number of lines\n");
        return 1;
    }
    int values = 0, maskedValues = 0, credentialLines = 0, exact = 0;
    int nearMisses = 0, nearChanged = 0, ordinary = 0, ordinaryChanged = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const TLine& line = lines.at(i);
        const QByteArray& out = masked.at(i);
        if (line.label == 'C') {
            ++credentialLines;
            values += int(line.values.size());
            for (const QByteArray& value : line.values)
                maskedValues += out.contains(value) ? 0 : 1;
            exact += out == line.expected ? 1 : 0;
            if (verbose && out != line.expected)
                show("credential line not masked as expected", line, out);
        } else {
            int& count = line.label == 'N' ? nearMisses : ordinary;
            int& changed = line.label == 'N' ? nearChanged : ordinaryChanged;
            ++count;
            changed += out != line.text ? 1 : 0;
            if (verbose && out != line.text)
                show(line.label == 'N' ? "near miss changed" : "ordinary line changed", line, out);
        }
    }
    std::printf("corpus: %s\n", qPrintable(path));
    std::printf("recall: %d of %d values masked (%.1f%%)\n", maskedValues, values,
                values ? 100.0 * maskedValues / values : 0.0);
    std::printf("credential lines masked exactly: %d of %d\n", exact, credentialLines);
    std::printf("near-miss lines changed: %d of %d\n", nearChanged, nearMisses);
    std::printf("ordinary lines changed: %d of %d\n", ordinaryChanged, ordinary);
    std::printf("command: %s [corpus] [--verbose]\n", argv[0]);
    return 0;
}
