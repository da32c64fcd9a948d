#include "IniFile/CArchiveSpace.h"

#include "IniFile/CZipper.h"

#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"

#include <QFileInfo>
#include <QTest>

#include <memory>

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

class tst_CArchiveSpace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void boundsTheArchive_data();
    void boundsTheArchive();

private:
    std::unique_ptr<CTestEnvironment> environment;
};

void tst_CArchiveSpace::init()
{
    QVERIFY(CTestEnvironment::renew(environment));
}

void tst_CArchiveSpace::boundsTheArchive_data()
{
    QTest::addColumn<QByteArrayList>("contents");
    QTest::addColumn<bool>("compresses");

    QTest::newRow("logs") << QByteArrayList{logLines(3 << 20), logLines(200000), "x\n"} << true;
    QTest::newRow("noise") << QByteArrayList{CTestTree::noise(3 << 20), CTestTree::noise(70000)}
                           << false;
    // Crash dumps or gzipped old logs, met first or last, stand for their share of the data
    // only.
    QTest::newRow("two dumps beside a large log")
        << QByteArrayList{CTestTree::noise(1200 * 1024), CTestTree::noise(1200 * 1024),
                          logLines(24 << 20)}
        << true;
    QTest::newRow("many small files") << QByteArrayList(400, logLines(3000)) << true;
    QTest::newRow("empty folder") << QByteArrayList() << false;
}

// The bound and the estimate are checked against the archive the zipper really writes.
void tst_CArchiveSpace::boundsTheArchive()
{
    QFETCH(QByteArrayList, contents);
    QFETCH(bool, compresses);
    environment->makeDir("logs");
    for (int i = 0; i < contents.size(); ++i)
        environment->writeFile(QStringLiteral("logs/sub %1/Müller-%2.log").arg(i % 3).arg(i),
                               contents.at(i));
    const QString logs = environment->root() + "logs";
    CArchiveSpace space(logs);
    QCOMPARE(space.entries(), contents.size() + std::min<int>(contents.size(), 3));

    const QString archive = environment->root() + "logs.zip";
    CZipper zipper;
    QVERIFY(zipper.zip(logs, archive, false));
    const quint64 written = static_cast<quint64>(QFileInfo(archive).size());
    QVERIFY2(written <= space.upperBound(),
             qPrintable(QStringLiteral("%1 > %2").arg(written).arg(space.upperBound())));
    const quint64 estimate = space.estimate();
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
