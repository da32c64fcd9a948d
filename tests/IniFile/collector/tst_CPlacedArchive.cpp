#include "IniFile/collector/CPlacedArchive.h"

#include "common/CFaultInjection.h"
#include "common/CTestChild.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <unistd.h>

class tst_CPlacedArchive : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void confirmsOnlyAnExactCopy_data();
    void confirmsOnlyAnExactCopy();
};

void tst_CPlacedArchive::confirmsOnlyAnExactCopy_data()
{
    QTest::addColumn<QString>("copy");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("reason");
    QTest::newRow("exact copy") << "same" << true << QString();
    QTest::newRow("one bit flipped past the first MiB")
        << "flipped" << false << "does not read back";
    QTest::newRow("cut short") << "short" << false << "does not read back";
    QTest::newRow("longer") << "long" << false << "does not read back";
    // Written exactly, stored otherwise: the system's cache alone would pass it.
    QTest::newRow("FUSE desktop storing a flipped bit") << "fuse" << false << "does not read back";
    // A second path to the archive is no copy: removing the archive would lose both.
    QTest::newRow("hard link to the archive") << "link" << false << "the archive itself";
    QTest::newRow("missing") << "missing" << false << "No such file";
}

void tst_CPlacedArchive::confirmsOnlyAnExactCopy()
{
    QFETCH(QString, copy);
    QFETCH(bool, confirmed);
    QFETCH(QString, reason);
    if (copy == "fuse" && !CTestChild::inMountNamespace())
        return;
    const QString original = dir + "archive.zip";
    const QString placed = dir + "placed/archive.zip";
    QByteArray content = CTestTree::noise(3 * 1024 * 1024 + 17);
    QVERIFY(CTestTree::write(original, content));
    if (copy == "flipped")
        content[2 * 1024 * 1024 + 5] = char(content.at(2 * 1024 * 1024 + 5) ^ 0x10);
    else if (copy == "short")
        content.chop(1);
    else if (copy == "long")
        content.append('x');
    QVERIFY(QDir().mkpath(dir + "placed"));
    const auto unmount = qScopeGuard([&] {
        if (copy == "fuse")
            QProcess::execute("umount", {dir + "placed"});
    });
    if (copy == "fuse" &&
        (!QDir().mkpath(dir + "store") ||
         !CFaultInjection::mountCorrupting(dir + "store", dir + "placed", 2 * 1024 * 1024 + 5)))
        QSKIP("no /dev/fuse or no bindfs here");
    if (copy == "link")
        QVERIFY(::link(qPrintable(original), qPrintable(placed)) == 0);
    else if (copy != "missing")
        QVERIFY(CTestTree::write(placed, content));
    QString error;
    QCOMPARE(CPlacedArchive::confirmCopy(original, placed, error), confirmed);
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(CPlacedArchive::sameObject(original, placed), copy == "link");
}

QTEST_GUILESS_MAIN(tst_CPlacedArchive)
#include "tst_CPlacedArchive.moc"
