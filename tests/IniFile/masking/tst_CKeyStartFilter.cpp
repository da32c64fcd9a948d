#include "IniFile/masking/CKeyStartFilter.h"

#include <QRandomGenerator>
#include <QTest>

#include <set>

// The filter may answer places that start no string, but never pass over one that does,
// wherever it falls against the 32-place steps and the text's end, in any case.
class tst_CKeyStartFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void neverPassesOverAString_data();
    void neverPassesOverAString();
    void textWithoutTheStringsIsPassedOver();
    void shortTexts();
};

namespace {

const QList<QByteArray> strings = {"pass",  "pwd",  "secret", "token", "key", "auth",
                                   "://",   "-----begin", "eyj", "xox", "ya29.", "Wint3r!x"};

std::set<const char*> answers(const CKeyStartFilter& filter, const QByteArray& text)
{
    std::set<const char*> places;
    const char* const end = text.constData() + text.size();
    for (const char* at = text.constData(); (at = filter.next(at, end)) != end; ++at)
        places.insert(at);
    return places;
}

// Bytes no string starts with, so that only the planted string must be answered.
QByteArray filler(qsizetype size)
{
    QByteArray text(size, 'b');
    QRandomGenerator random(size);
    for (char& byte : text)
        byte = "bdfhjlnqvz0123456789 .,;\n"[random.bounded(25)];
    return text;
}

} // namespace

void tst_CKeyStartFilter::neverPassesOverAString_data()
{
    QTest::addColumn<QByteArray>("planted");
    QTest::newRow("short word") << QByteArray("key");
    QTest::newRow("long word") << QByteArray("secret");
    QTest::newRow("capitals") << QByteArray("SECRET");
    QTest::newRow("mixed case") << QByteArray("PaSs");
    QTest::newRow("symbols") << QByteArray("://");
    QTest::newRow("dashes") << QByteArray("-----BEGIN");
    QTest::newRow("literal") << QByteArray("Wint3r!x");
    QTest::newRow("digit and dot") << QByteArray("ya29.");
}

void tst_CKeyStartFilter::neverPassesOverAString()
{
    QFETCH(QByteArray, planted);
    const CKeyStartFilter filter(strings);
    for (qsizetype size : {qsizetype(40), qsizetype(100), qsizetype(131)}) {
        for (qsizetype offset = 0; offset + planted.size() <= size; ++offset) {
            QByteArray text = filler(size);
            text.replace(offset, planted.size(), planted);
            const std::set<const char*> places = answers(filter, text);
            QVERIFY2(places.count(text.constData() + offset) == 1,
                     qPrintable(QStringLiteral("size %1, offset %2").arg(size).arg(offset)));
        }
    }
}

void tst_CKeyStartFilter::textWithoutTheStringsIsPassedOver()
{
    const CKeyStartFilter filter(strings);
    const QByteArray text = filler(1 << 16);
    // Hash collisions let through some false places, not one in a hundred.
    QVERIFY(answers(filter, text).size() < size_t(text.size() / 100));
}

void tst_CKeyStartFilter::shortTexts()
{
    const CKeyStartFilter filter(strings);
    for (const QByteArray& text :
         {QByteArray(), QByteArray("k"), QByteArray("ke"), QByteArray("key")}) {
        const char* const end = text.constData() + text.size();
        QCOMPARE(filter.next(text.constData(), end), text == "key" ? text.constData() : end);
    }
}

QTEST_APPLESS_MAIN(tst_CKeyStartFilter)
#include "tst_CKeyStartFilter.moc"
