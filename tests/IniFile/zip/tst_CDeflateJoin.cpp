#include "IniFile/zip/CDeflateJoin.h"
#include "IniFile/zip/CZipperVerifier.h"
#include "IniFile/zip/ISourceFile.h"

#include "common/CTestEnvironment.h"

#include <QRandomGenerator>
#include <QTest>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <set>

#include <libdeflate.h>

// Pieces compressed apart by libdeflate, each but the last opened at its end, read as one
// stream whatever bit their last block ends on; the archive check, inflating them one by one,
// agrees with a reader that inflates the stream whole.
class tst_CDeflateJoin : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void piecesReadAsOneStream_data();
    void piecesReadAsOneStream();
    void notOneCompleteStream_data();
    void notOneCompleteStream();
    void checkedPieceByPiece_data();
    void checkedPieceByPiece();
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

// The stream of count pieces of kind joined, the bytes it inflates to, the pieces' compressed
// and inflated sizes, and how many bytes opening each added.
struct TJoined
{
    QByteArray stream;
    QByteArray expected;
    std::vector<qint64> sizes;
    std::vector<qint64> lengths;
    std::set<qint64> added;
};

bool join(const QByteArray& kind, int level, int count, bool openEnds, TJoined& joined)
{
    QRandomGenerator random(quint32(level) + quint32(kind.size()));
    for (int i = 0; i < count; ++i) {
        const QByteArray bytes = piece(random, kind);
        QByteArray data = compressed(bytes, level);
        if (data.isEmpty())
            return false;
        if (i + 1 < count && openEnds) {
            const qint64 size = data.size();
            data.resize(size + CDeflateJoin::room);
            const qint64 opened = CDeflateJoin::openEnd(data.data(), size);
            if (opened < size || opened > size + CDeflateJoin::room)
                return false;
            joined.added.insert(opened - size);
            data.resize(qsizetype(opened));
        }
        joined.stream += data;
        joined.expected += bytes;
        joined.sizes.push_back(data.size());
        joined.lengths.push_back(bytes.size());
    }
    return true;
}

// A piece of one fixed-code block that inflates to 256 KiB of one byte after another and ends
// on a byte boundary, opened, then a short last piece.
bool joinRuns(TJoined& joined)
{
    for (int first = 0; first < 256; ++first) {
        QByteArray bytes(256 * 1024, 'r');
        bytes[0] = char(first);
        z_stream z = {};
        if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_FIXED) != Z_OK)
            return false;
        QByteArray data(4096, '\0');
        z.next_in = reinterpret_cast<Bytef*>(bytes.data());
        z.avail_in = uInt(bytes.size());
        z.next_out = reinterpret_cast<Bytef*>(data.data());
        z.avail_out = uInt(data.size() - CDeflateJoin::room);
        const bool whole = deflate(&z, Z_FINISH) == Z_STREAM_END;
        const qint64 size = qint64(z.total_out);
        deflateEnd(&z);
        if (!whole || CDeflateJoin::openEnd(data.data(), size) != size)
            continue;
        const QByteArray last = compressed("end\n", 6);
        joined.stream = data.left(size) + last;
        joined.expected = bytes + "end\n";
        joined.sizes = {size, last.size()};
        joined.lengths = {bytes.size(), 4};
        return true;
    }
    return false;
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
    TJoined joined;
    QVERIFY(join(kind, level, 300, true, joined));
    QCOMPARE(inflated(joined.stream, joined.expected.size()), joined.expected);
    // How many bytes opening a piece added tells how many bits its last byte had free: none
    // (0), 2 (1), 4 (2), 6 (3), 3, 5 or 7 (4) and 1 (5).
    if (kind == "text")
        QCOMPARE(joined.added, (std::set<qint64>{0, 1, 2, 3, 4, 5}));
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
    const QByteArray before = data;
    data.resize(data.size() + CDeflateJoin::room);
    QCOMPARE(CDeflateJoin::openEnd(data.data(), before.size()), qint64(-1));
}

void tst_CDeflateJoin::checkedPieceByPiece_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<bool>("byPieces");
    // Every bit position a piece can end on, and stored blocks.
    QTest::newRow("log text") << QByteArray("text") << QByteArray() << true << true;
    QTest::newRow("noise") << QByteArray("noise") << QByteArray() << true << true;
    // The whole stream ends after the first piece.
    QTest::newRow("a piece left final")
        << QByteArray("text") << QByteArray("final") << false << false;
    // Pieces given one byte off: the stream is sound, but not as it was said to be written.
    QTest::newRow("a cut inside a block")
        << QByteArray("text") << QByteArray("cut") << true << false;
    // A piece whose one block ends on a byte with the 256 KiB the check inflates into at a time.
    QTest::newRow("a block as large as the check's buffer")
        << QByteArray("run") << QByteArray() << true << true;
}

void tst_CDeflateJoin::checkedPieceByPiece()
{
    QFETCH(QByteArray, kind);
    QFETCH(QByteArray, fault);
    QFETCH(bool, whole);
    QFETCH(bool, byPieces);
    TJoined joined;
    QVERIFY(kind == "run" ? joinRuns(joined) : join(kind, 6, 300, fault != "final", joined));
    if (fault == "cut") {
        --joined.sizes[150];
        ++joined.sizes[151];
    }
    const QString path = dir + "joined.zip";
    const quint32 crc =
        quint32(crc32(0, reinterpret_cast<const Bytef*>(joined.expected.constData()),
                      uInt(joined.expected.size())));
    {
        QuaZip zip(path);
        QVERIFY(zip.open(QuaZip::mdCreate));
        QuaZipFile entry(&zip);
        QuaZipNewInfo info("app.log");
        info.uncompressedSize = ulong(joined.expected.size());
        QVERIFY(entry.open(QIODevice::WriteOnly, info, nullptr, crc, Z_DEFLATED,
                           Z_DEFAULT_COMPRESSION, true));
        QCOMPARE(entry.write(joined.stream), joined.stream.size());
        entry.close();
        QCOMPARE(entry.getZipError(), ZIP_OK);
        zip.close();
        QCOMPARE(zip.getZipError(), ZIP_OK);
    }
    std::vector<CZipperVerifier::TPiece> pieces;
    for (size_t i = 0; i < joined.sizes.size(); ++i)
        pieces.push_back({0, quint64(joined.sizes[i]), quint64(joined.lengths[i])});
    ISourceFile::TOpen opened;
    QString error;
    const std::unique_ptr<ISourceFile> file =
        ISourceFile::open(QFile::encodeName(path), opened, error);
    QVERIFY2(file, qPrintable(error));
    const std::vector<CZipperVerifier::TEntry> written{
        {"app.log", crc, qint64(joined.expected.size())}};
    CZipperVerifier inWhole(*file, written, {}, 2);
    QCOMPARE(inWhole.verify(), whole);
    CZipperVerifier inPieces(*file, written, pieces, 2);
    QVERIFY2(inPieces.verify() == byPieces, qPrintable(inPieces.reason()));
}

QTEST_APPLESS_MAIN(tst_CDeflateJoin)
#include "tst_CDeflateJoin.moc"
