#include "IniFile/CDeflateJoin.h"

#include <QRandomGenerator>
#include <QTest>

#include <set>

#include <libdeflate.h>

// Pieces compressed apart by libdeflate, each but the last opened at its end, read as one
// stream whatever bit their last block ends on.
class tst_CDeflateJoin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void piecesReadAsOneStream_data();
    void piecesReadAsOneStream();
    void notOneCompleteStream_data();
    void notOneCompleteStream();
};

namespace {

QByteArray compressed(const QByteArray& piece, int level)
{
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    QByteArray out(qsizetype(libdeflate_deflate_compress_bound(compressor, size_t(piece.size()))) +
                       CDeflateJoin::room,
                   '\0');
    const size_t size = libdeflate_deflate_compress(compressor, piece.constData(),
                                                    size_t(piece.size()), out.data(),
                                                    size_t(out.size()) - CDeflateJoin::room);
    libdeflate_free_compressor(compressor);
    out.resize(qsizetype(size));
    return out;
}

QByteArray inflated(const QByteArray& stream, qsizetype expected)
{
    QByteArray out(expected + 1, '\0');
    z_stream z = {};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return QByteArray("no inflate");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
    z.avail_in = uInt(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int result = inflate(&z, Z_FINISH);
    const bool whole = result == Z_STREAM_END && z.avail_in == 0;
    out.resize(qsizetype(z.total_out));
    inflateEnd(&z);
    return whole ? out : QByteArray("not one stream");
}

QByteArray piece(QRandomGenerator& random, const QByteArray& kind)
{
    const qsizetype size = random.bounded(kind == "tiny" ? 4 : 20000);
    QByteArray bytes(size, '\0');
    const char* words[] = {"sync ", "error ", "file ", "12:00:01 ", "\n", "upload ", "ok "};
    if (kind == "noise") {
        for (char& byte : bytes)
            byte = char(random.bounded(256));
        return bytes;
    }
    bytes.clear();
    while (bytes.size() < size)
        bytes += words[random.bounded(int(std::size(words)))];
    return bytes.left(size);
}

} // namespace

void tst_CDeflateJoin::piecesReadAsOneStream_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<int>("level");
    QTest::newRow("log text") << QByteArray("text") << 6;
    QTest::newRow("log text, fastest") << QByteArray("text") << 1;
    QTest::newRow("log text, smallest") << QByteArray("text") << 12;
    // Stored blocks, which end on a byte already.
    QTest::newRow("noise") << QByteArray("noise") << 6;
    QTest::newRow("up to three bytes") << QByteArray("tiny") << 6;
}

void tst_CDeflateJoin::piecesReadAsOneStream()
{
    QFETCH(QByteArray, kind);
    QFETCH(int, level);
    QRandomGenerator random(quint32(level) + quint32(kind.size()));
    CDeflateJoin join;
    QVERIFY(join.isReady());
    QByteArray stream;
    QByteArray expected;
    // How many bytes opening a piece added tells how many bits its last byte had free: none
    // (0), 2 (1), 4 (2), 6 (3), 3, 5 or 7 (4) and 1 (5).
    std::set<qint64> added;
    for (int i = 0; i < 300; ++i) {
        const QByteArray bytes = piece(random, kind);
        QByteArray data = compressed(bytes, level);
        QVERIFY(!data.isEmpty());
        if (i < 299) {
            const qint64 size = data.size();
            data.resize(size + CDeflateJoin::room);
            const qint64 opened = join.openEnd(data.data(), size);
            QVERIFY(opened >= size && opened <= size + CDeflateJoin::room);
            added.insert(opened - size);
            data.resize(qsizetype(opened));
        }
        stream += data;
        expected += bytes;
    }
    QCOMPARE(inflated(stream, expected.size()), expected);
    if (kind == "text")
        QCOMPARE(added, (std::set<qint64>{0, 1, 2, 3, 4, 5}));
}

void tst_CDeflateJoin::notOneCompleteStream_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray whole = compressed(QByteArray("a line of a log\n").repeated(100), 6);
    QTest::newRow("cut short") << whole.left(whole.size() - 1);
    QTest::newRow("followed by more") << whole + QByteArray("\0", 1);
    QTest::newRow("not deflate") << QByteArray("\xff\xff\xff\xff", 4);
    QTest::newRow("two streams") << whole + whole;
}

void tst_CDeflateJoin::notOneCompleteStream()
{
    QFETCH(QByteArray, data);
    CDeflateJoin join;
    const QByteArray before = data;
    data.resize(data.size() + CDeflateJoin::room);
    QCOMPARE(join.openEnd(data.data(), before.size()), qint64(-1));
}

QTEST_APPLESS_MAIN(tst_CDeflateJoin)
#include "tst_CDeflateJoin.moc"
