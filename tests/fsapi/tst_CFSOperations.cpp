#include "fsapi/CFSOperations.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSOperations.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <functional>
#include <memory>

namespace {

using Call = std::function<bool(IFSOperations&)>;

const QString a = QStringLiteral("/a/b");
const QString b = QStringLiteral("/c/d");
const QString c = QStringLiteral("/e/f");
const QDateTime t1(QDate(2001, 1, 1), QTime(1, 1), Qt::UTC);
const QDateTime t2(QDate(2002, 2, 2), QTime(2, 2), Qt::UTC);
const QDateTime t3(QDate(2003, 3, 3), QTime(3, 3), Qt::UTC);

QString word(const QString& value)
{
    return value;
}
QString word(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}
QString word(quint32 value)
{
    return QString::number(value);
}
QString word(const QDateTime& value)
{
    return value == t1 ? QStringLiteral("t1") : value == t2 ? QStringLiteral("t2") : "t3";
}

// Notes each call it receives as "operation arguments..." and answers true; fileExists on
// "/throw" throws.
class CRecordingFSOperations : public IFSOperations
{
public:
    explicit CRecordingFSOperations(QStringList& calls) : calls(calls) {}

    using S = const QString&;
    using T = const QDateTime&;
    using B = bool;
    using A = quint32;
    bool tryExclusiveLock(S p) override { return note(__func__, p); }
    bool tryWriteLock(S p) override { return note(__func__, p); }
    bool fileExists(S p) override
    {
        SY_FUNCTION("CRecordingFSOperations::fileExists");
        if (p == QLatin1String("/throw"))
            SY_THROW(Exceptions::Locked, QStringLiteral("File is locked: /throw"));
        return note(__func__, p);
    }
    bool directoryExists(S p) override { return note(__func__, p); }
    bool safeExchangeFile(S, S, S, S, S, T, T) override { return note("own safeExchangeFile"); }
    bool copyFile(S s, S d, B f, B l, B e) override { return note(__func__, s, d, f, l, e); }
    bool safeCopyFile(S s, S d, S p, B f, B l, B e) override
    {
        return note(__func__, s, d, p, f, l, e);
    }
    bool copyDirectory(S s, S d) override { return note(__func__, s, d); }
    bool createFile(S p, T x, T y, T z, A a) override { return note(__func__, p, x, y, z, a); }
    bool createDirectory(S p, T x, T y, T z, A a, B f) override
    {
        return note(__func__, p, x, y, z, a, f);
    }
    bool safeCreateDirectory(S p, S s, T x, T y, T z, A a, B f) override
    {
        return note(__func__, p, s, x, y, z, a, f);
    }
    bool renameFile(S s, S d, B o) override { return note(__func__, s, d, o); }
    bool safeRenameFile(S s, S d, S p, B o) override { return note(__func__, s, d, p, o); }
    bool renameDirectory(S s, S d) override { return note(__func__, s, d); }
    bool safeRenameDirectory(S s, S d, S p) override { return note(__func__, s, d, p); }
    bool moveFile(S s, S d, B f, B o) override { return note(__func__, s, d, f, o); }
    bool safeMoveFile(S s, S d, S p, B f, B o) override { return note(__func__, s, d, p, f, o); }
    bool moveDirectory(S s, S d, B f) override { return note(__func__, s, d, f); }
    bool safeMoveDirectory(S s, S d, S p, B f) override { return note(__func__, s, d, p, f); }
    bool deleteFile(S p, B f) override { return note(__func__, p, f); }
    bool safeDeleteFile(S p, S s, B f) override { return note(__func__, p, s, f); }
    bool deleteDirectory(S p, B f) override { return note(__func__, p, f); }
    bool safeDeleteDirectory(S p, S s, B f) override { return note(__func__, p, s, f); }
    bool cleanDirectory(S p, B f) override { return note(__func__, p, f); }
    bool safeCleanDirectory(S p, S s, B f) override { return note(__func__, p, s, f); }
    bool setTimeStamps(S p, T x, T y, T z, B d) override { return note(__func__, p, x, y, z, d); }
    bool safeSetTimeStamps(S p, S s, T x, T y, T z, B d) override
    {
        return note(__func__, p, s, x, y, z, d);
    }
    bool setAttributes(S p, A a) override { return note(__func__, p, a); }
    bool removeAttributes(S p, A a) override { return note(__func__, p, a); }
    bool getFSID(S p, QString& id) override
    {
        id = QStringLiteral("filled");
        return note(__func__, p);
    }
    bool isSymbolicLink(S p) override { return note(__func__, p); }

private:
    template<typename... Arguments>
    bool note(const char* operation, const Arguments&... arguments)
    {
        calls << (QStringList{QString::fromLatin1(operation)} << ... << word(arguments)).join(u' ');
        return true;
    }

    QStringList& calls;
};

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

Q_DECLARE_METATYPE(Call)

class tst_CFSOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void forwarding_data();
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
    environment.reset(); // restores the variables before the next environment saves them
    environment = std::make_unique<CTestEnvironment>();
    QVERIFY(environment->isValid());
    root = environment->makeDir(QStringLiteral("files"));
}

void tst_CFSOperations::forwarding_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* expected, const Call& call) {
        QTest::newRow(expected) << call << QString::fromLatin1(expected);
    };
    using O = IFSOperations;
    row("tryExclusiveLock /a/b", [](O& o) { return o.tryExclusiveLock(a); });
    row("tryWriteLock /a/b", [](O& o) { return o.tryWriteLock(a); });
    row("fileExists /a/b", [](O& o) { return o.fileExists(a); });
    row("directoryExists /a/b", [](O& o) { return o.directoryExists(a); });
    row("copyFile /a/b /c/d 1 0 1", [](O& o) { return o.copyFile(a, b, true, false, true); });
    row("safeCopyFile /a/b /c/d /e/f 0 1 0",
        [](O& o) { return o.safeCopyFile(a, b, c, false, true, false); });
    row("copyDirectory /a/b /c/d", [](O& o) { return o.copyDirectory(a, b); });
    row("createFile /a/b t1 t2 t3 2", [](O& o) { return o.createFile(a, t1, t2, t3, 2); });
    row("createDirectory /a/b t1 t2 t3 1 1",
        [](O& o) { return o.createDirectory(a, t1, t2, t3, 1, true); });
    row("safeCreateDirectory /a/b /c/d t1 t2 t3 4 0",
        [](O& o) { return o.safeCreateDirectory(a, b, t1, t2, t3, 4, false); });
    row("renameFile /a/b /c/d 1", [](O& o) { return o.renameFile(a, b, true); });
    row("safeRenameFile /a/b /c/d /e/f 0", [](O& o) { return o.safeRenameFile(a, b, c, false); });
    row("renameDirectory /a/b /c/d", [](O& o) { return o.renameDirectory(a, b); });
    row("safeRenameDirectory /a/b /c/d /e/f", [](O& o) { return o.safeRenameDirectory(a, b, c); });
    row("moveFile /a/b /c/d 0 1", [](O& o) { return o.moveFile(a, b, false, true); });
    row("safeMoveFile /a/b /c/d /e/f 1 0",
        [](O& o) { return o.safeMoveFile(a, b, c, true, false); });
    row("moveDirectory /a/b /c/d 1", [](O& o) { return o.moveDirectory(a, b, true); });
    row("safeMoveDirectory /a/b /c/d /e/f 0",
        [](O& o) { return o.safeMoveDirectory(a, b, c, false); });
    row("deleteFile /a/b 1", [](O& o) { return o.deleteFile(a, true); });
    row("safeDeleteFile /a/b /c/d 0", [](O& o) { return o.safeDeleteFile(a, b, false); });
    row("deleteDirectory /a/b 0", [](O& o) { return o.deleteDirectory(a, false); });
    row("safeDeleteDirectory /a/b /c/d 1", [](O& o) { return o.safeDeleteDirectory(a, b, true); });
    row("cleanDirectory /a/b 1", [](O& o) { return o.cleanDirectory(a, true); });
    row("safeCleanDirectory /a/b /c/d 0", [](O& o) { return o.safeCleanDirectory(a, b, false); });
    row("setTimeStamps /a/b t1 t2 t3 1", [](O& o) { return o.setTimeStamps(a, t1, t2, t3, true); });
    row("safeSetTimeStamps /a/b /c/d t1 t2 t3 0",
        [](O& o) { return o.safeSetTimeStamps(a, b, t1, t2, t3, false); });
    row("setAttributes /a/b 3", [](O& o) { return o.setAttributes(a, 3); });
    row("removeAttributes /a/b 6", [](O& o) { return o.removeAttributes(a, 6); });
    row("getFSID /a/b", [](O& o) {
        QString id;
        return o.getFSID(a, id) && id == QLatin1String("filled");
    });
    row("isSymbolicLink /a/b", [](O& o) { return o.isSymbolicLink(a); });
    // The exchange is made here, from the implementation's own operations.
    row("fileExists /e/f/c/d", [](O& o) { return o.safeExchangeFile(a, b, c, a, b, t1, t2); });
}

void tst_CFSOperations::forwarding()
{
    QFETCH(Call, call);
    QFETCH(QString, expected);
    CFSOperations withoutImplementation(nullptr);
    QCOMPARE(CExpect::outcome([&] { return call(withoutImplementation); }), "false");

    QStringList calls;
    CFSOperations ops(std::make_unique<CRecordingFSOperations>(calls));
    QVERIFY(call(ops));
    QCOMPARE(calls.value(0), QDir::toNativeSeparators(expected));
    QVERIFY(!calls.contains("own safeExchangeFile"));
    QVERIFY_THROWS_EXCEPTION(Exceptions::Locked, ops.fileExists(QStringLiteral("/throw")));
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
    for (int i = 0; i < 5; ++i)
        QTest::addRow("argument %d", i) << i;
}

void tst_CFSOperations::exchangeWithEmptyPaths()
{
    QFETCH(int, emptyIndex);
    QStringList paths{"/in", "/out", "/orig", "src", "name"};
    paths[emptyIndex].clear();
    expectExchangeRecord(QStringLiteral("Empty path \\.\\.\\."));
    expectExchangeRecord(
        QRegularExpression::escape(QStringLiteral("XChgIn: %1 XChgOut: %2 XChgSrcName: %3")
                                       .arg(paths[0], paths[1], paths[3])));
    expectExchangeRecord(QRegularExpression::escape(
        QStringLiteral("OriginalPath: %1 OriginalName: %2").arg(paths[2], paths[4])));
    QStringList calls;
    CFSOperations ops(std::make_unique<CRecordingFSOperations>(calls));
    QVERIFY(!ops.safeExchangeFile(paths[0], paths[1], paths[2], paths[3], paths[4], QDateTime(),
                                  QDateTime()));
    QVERIFY(calls.isEmpty());
}

QTEST_GUILESS_MAIN(tst_CFSOperations)
#include "tst_CFSOperations.moc"
