#include "IniFile/collector/CArchiveSpace.h"

#include "IniFile/zip/CZipper.h"

#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"

#include <quazip.h>

#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <numeric>

namespace {

QByteArray logLines(int bytes)
{
    QByteArray text;
    for (int line = 0; text.size() < bytes; ++line)
        text += "[ 4 : CUploadThread ] [ CTransfer.cpp : 377 : CTransfer::upload ] 2026-12-0" +
                QByteArray::number(line % 7) + " uploaded part " + QByteArray::number(line) +
                " of Bericht Q3.xlsx\n";
    return text.left(bytes);
}

} // namespace

class tst_CArchiveSpace : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void boundsTheArchive_data();
    void boundsTheArchive();
};

void tst_CArchiveSpace::boundsTheArchive_data()
{
    QTest::addColumn<QByteArrayList>("contents");
    QTest::addColumn<bool>("compresses");
    // A file written into the folder after the walk and counted in by addMade; none when empty.
    QTest::addColumn<QByteArray>("made");

    const auto row = [](const char* tag, const QByteArrayList& contents, bool compresses,
                        const QByteArray& made = {}) {
        QTest::newRow(tag) << contents << compresses << made;
    };
    row("logs", {logLines(3 << 20), logLines(200000), "x\n"}, true);
    row("noise", {CTestTree::noise(3 << 20), CTestTree::noise(70000)}, false);
    // Crash dumps or gzipped old logs, met first or last, stand for their share of the data
    // only.
    row("two dumps beside a large log",
        {CTestTree::noise(1200 * 1024), CTestTree::noise(1200 * 1024), logLines(24 << 20)}, true);
    row("many small files", QByteArrayList(400, logLines(3000)), true);
    row("empty folder", {}, false);
    row("a report made after the walk", {logLines(200000), logLines(3000)}, true,
        CTestTree::noise(4000));
}

// The bound and the estimate are checked against the archive the zipper really writes.
void tst_CArchiveSpace::boundsTheArchive()
{
    QFETCH(QByteArrayList, contents);
    QFETCH(bool, compresses);
    QFETCH(QByteArray, made);
    environment->makeDir("logs");
    for (int i = 0; i < contents.size(); ++i)
        environment->writeFile(QStringLiteral("logs/sub %1/Müller-%2.log").arg(i % 3).arg(i),
                               contents.at(i));
    const QString logs = dir + "logs";
    CArchiveSpace space(logs);
    QCOMPARE(space.entries(), contents.size() + std::min<int>(contents.size(), 3));
    const int files = int(contents.size() + (made.isEmpty() ? 0 : 1));
    if (!made.isEmpty()) {
        environment->writeFile("logs/system.txt", made);
        space.addMade("system.txt", made.size());
    }
    QCOMPARE(space.tally().files, files);
    QCOMPARE(space.tally().bytes, std::accumulate(contents.cbegin(), contents.cend(), made.size(),
                                                  [](qint64 sum, const QByteArray& content) {
                                                      return sum + content.size();
                                                  }));
    QCOMPARE(space.tally("sub 0/").files, (contents.size() + 2) / 3);

    // The zip packs what the walk listed, the file made since included.
    const quint64 estimate = space.estimate();
    const QString archive = dir + "logs.zip";
    CZipper zipper;
    zipper.useListing(space.takeListing());
    QVERIFY(zipper.zip(logs, archive, false));
    // QuaZip does not open an archive without entries.
    QuaZip zip(archive);
    QVERIFY(files == 0 || zip.open(QuaZip::mdUnzip));
    const QStringList names = zip.getFileNameList();
    QCOMPARE(names.filter(QRegularExpression("[^/]$")).size(), files);
    QCOMPARE(names.contains("system.txt"), !made.isEmpty());
    const quint64 written = static_cast<quint64>(QFileInfo(archive).size());
    QVERIFY2(written <= space.upperBound(),
             qPrintable(QStringLiteral("%1 > %2").arg(written).arg(space.upperBound())));
    QVERIFY(estimate <= space.upperBound());
    if (compresses) {
        QVERIFY2(written <= estimate,
                 qPrintable(QStringLiteral("%1 > %2").arg(written).arg(estimate)));
        QVERIFY(estimate < space.upperBound() / 3);
    } else {
        QCOMPARE(estimate, space.upperBound());
        QVERIFY(!space.fitsInto(written - 1));
    }
    QVERIFY(space.fitsInto(estimate));
    QVERIFY(!space.fitsInto(estimate - 1));
    QVERIFY(space.fitsInto(space.upperBound()));
}

QTEST_GUILESS_MAIN(tst_CArchiveSpace)
#include "tst_CArchiveSpace.moc"
