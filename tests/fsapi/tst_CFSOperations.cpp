#include "fsapi/CFSOperations.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSOperations.h"

#include <QFileInfo>
#include <QTest>

#include <memory>

namespace {

// The Linux operations whose setTimeStamps on one path answers false.
class CStampRefusingFSOperations : public CLinuxFSOperations
{
public:
    QString refused;
    bool setTimeStamps(const QString& path, const QDateTime& creation, const QDateTime& lastAccess,
                       const QDateTime& lastWrite, bool isDirectory) override
    {
        return path != refused && CLinuxFSOperations::setTimeStamps(path, creation, lastAccess,
                                                                    lastWrite, isDirectory);
    }
};

void expectExchangeRecord(const QString& pattern)
{
    CExpect::recordMatching(QtCriticalMsg, QStringLiteral("CFSOperations.cpp"),
                            QStringLiteral("CFSOperations::internalSafeExchangeFile"), pattern);
}

} // namespace

class tst_CFSOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void forwarding();
    void exchange_data();
    void exchange();
    void exchangeRollsBack();
    void exchangeWithEmptyPaths_data();
    void exchangeWithEmptyPaths();

private:
    std::unique_ptr<CTestEnvironment> environment;
    QString root;
};

void tst_CFSOperations::init()
{
    QVERIFY(CTestEnvironment::renew(environment));
    root = environment->makeDir(QStringLiteral("files"));
}

void tst_CFSOperations::forwarding()
{
    CFSOperations withoutImplementation(nullptr);
    QVERIFY(!withoutImplementation.fileExists(root));
    QVERIFY(!withoutImplementation.createDirectory(root + "d", {}, {}, {}, 0, false));
    QCOMPARE(CTestTree::describe(root), QString());

    // The platform's answers and exceptions reach the caller unchanged.
    CFSOperations ops;
    QVERIFY(ops.createDirectory(root + "d", {}, {}, {}, 0, false));
    QVERIFY(ops.directoryExists(root + "d"));
    QCOMPARE(CExpect::outcome([&] { return ops.fileExists(root + "d"); }),
             "NotAFile | " + root + "d is a directory");
}

void tst_CFSOperations::exchange_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("new file") << "";
    QTest::newRow("replacing a file") << "space/Документы/report 1.txt=old version@400";
    QTest::newRow("in place of a template") << "space/Документы/report 1.txt.syncarium=template";
    QTest::newRow("replacing a file with a template")
        << "space/Документы/report 1.txt=old;space/Документы/report 1.txt.syncarium=template@444";
}

void tst_CFSOperations::exchange()
{
    QFETCH(QString, before);
    QVERIFY(CTestTree::make(root, before + ";in/x7=new version;out/;space/Документы/"));
    const QDateTime modified(QDate(2011, 1, 24), QTime(15, 30), Qt::UTC);
    CFSOperations ops;
    QVERIFY(ops.safeExchangeFile(root + "in", root + "out", root + "space/Документы", "x7",
                                 "report 1.txt", modified.addDays(-1), modified));
    QCOMPARE(CTestTree::describe(root),
             "in/;out/;space/;space/Документы/;space/Документы/report 1.txt=new version");
    QCOMPARE(QFileInfo(root + "space/Документы/report 1.txt").lastModified().toUTC(), modified);
}

void tst_CFSOperations::exchangeRollsBack()
{
    const QString tree = "in/;in/x=new version;out/;space/;space/file=old version";
    QVERIFY(CTestTree::make(root, tree));
    auto refusing = std::make_unique<CStampRefusingFSOperations>();
    refusing->refused = root + "space/~";
    CFSOperations ops(std::move(refusing));
    QVERIFY(!ops.safeExchangeFile(root + "in", root + "out", root + "space", "x", "file",
                                  QDateTime(), QDateTime::currentDateTimeUtc()));
    QCOMPARE(CTestTree::describe(root), tree);

    // A failure that throws is logged and answered with false.
    expectExchangeRecord("Exceptions::FileDoesNotExist::.*Source doesn't exists: .*");
    QVERIFY(!CFSOperations().safeExchangeFile(root + "in", root + "out", root + "space", "missing",
                                              "new", QDateTime(), QDateTime()));
    QCOMPARE(CTestTree::describe(root), tree);
}

void tst_CFSOperations::exchangeWithEmptyPaths_data()
{
    QTest::addColumn<int>("emptyIndex");
    QTest::newRow("exchange folder") << 0;
    QTest::newRow("original name") << 4;
    QTest::newRow("null character") << -1;
}

void tst_CFSOperations::exchangeWithEmptyPaths()
{
    QFETCH(int, emptyIndex);
    const QString tree = "in/;in/x=new;out/;space/;space/name=old";
    QVERIFY(CTestTree::make(root, tree));
    QStringList paths{root + "in", root + "out", root + "space", "x", "name"};
    if (emptyIndex < 0) {
        // The system would read the name as "name" and replace the file of that name.
        paths[4] += QChar(u'\0') + QStringLiteral("other");
        expectExchangeRecord(QRegularExpression::escape("Null character in path name\\0other"));
    } else {
        paths[emptyIndex].clear();
        expectExchangeRecord(QStringLiteral("Empty path \\.\\.\\."));
        expectExchangeRecord(
            QRegularExpression::escape(QStringLiteral("XChgIn: %1 XChgOut: %2 XChgSrcName: %3")
                                           .arg(paths[0], paths[1], paths[3])));
        expectExchangeRecord(QRegularExpression::escape(
            QStringLiteral("OriginalPath: %1 OriginalName: %2").arg(paths[2], paths[4])));
    }
    QVERIFY(!CFSOperations().safeExchangeFile(paths[0], paths[1], paths[2], paths[3], paths[4],
                                              QDateTime(), QDateTime()));
    QCOMPARE(CTestTree::describe(root), tree);
}

QTEST_GUILESS_MAIN(tst_CFSOperations)
#include "tst_CFSOperations.moc"
