#include "fsapi/CFSOperations.h"

#include "common/CTestEnvironment.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

#include <sys/stat.h>

namespace {

using Call = std::function<bool(IFSOperations&)>;

const QString a = QStringLiteral("/a/b");
const QString b = QStringLiteral("/c/d");
const QString c = QStringLiteral("/e/f");
const QDateTime t1(QDate(2001, 1, 1), QTime(1, 1), Qt::UTC);
const QDateTime t2(QDate(2002, 2, 2), QTime(2, 2), Qt::UTC);
const QDateTime t3(QDate(2003, 3, 3), QTime(3, 3), Qt::UTC);

// Every operation with distinct arguments, and the call the implementation must receive.
QList<QPair<QString, Call>> everyOperation()
{
    return {
        {QStringLiteral("tryExclusiveLock /a/b"),
         [](IFSOperations& o) { return o.tryExclusiveLock(a); }},
        {QStringLiteral("tryWriteLock /a/b"), [](IFSOperations& o) { return o.tryWriteLock(a); }},
        {QStringLiteral("fileExists /a/b"), [](IFSOperations& o) { return o.fileExists(a); }},
        {QStringLiteral("directoryExists /a/b"),
         [](IFSOperations& o) { return o.directoryExists(a); }},
        {QStringLiteral("safeExchangeFile"),
         [](IFSOperations& o) { return o.safeExchangeFile(a, b, c, a, b, t1, t2); }},
        {QStringLiteral("copyFile /a/b /c/d 1 0 1"),
         [](IFSOperations& o) { return o.copyFile(a, b, true, false, true); }},
        {QStringLiteral("safeCopyFile /a/b /c/d /e/f 0 1 0"),
         [](IFSOperations& o) { return o.safeCopyFile(a, b, c, false, true, false); }},
        {QStringLiteral("copyDirectory /a/b /c/d"),
         [](IFSOperations& o) { return o.copyDirectory(a, b); }},
        {QStringLiteral("createFile /a/b t1 t2 t3 2"),
         [](IFSOperations& o) { return o.createFile(a, t1, t2, t3, FSAttributes::ReadOnly); }},
        {QStringLiteral("createDirectory /a/b t1 t2 t3 1 1"),
         [](IFSOperations& o) {
             return o.createDirectory(a, t1, t2, t3, FSAttributes::Hidden, true);
         }},
        {QStringLiteral("safeCreateDirectory /a/b /c/d t1 t2 t3 4 0"),
         [](IFSOperations& o) {
             return o.safeCreateDirectory(a, b, t1, t2, t3, FSAttributes::System, false);
         }},
        {QStringLiteral("renameFile /a/b /c/d 1"),
         [](IFSOperations& o) { return o.renameFile(a, b, true); }},
        {QStringLiteral("safeRenameFile /a/b /c/d /e/f 0"),
         [](IFSOperations& o) { return o.safeRenameFile(a, b, c, false); }},
        {QStringLiteral("renameDirectory /a/b /c/d"),
         [](IFSOperations& o) { return o.renameDirectory(a, b); }},
        {QStringLiteral("safeRenameDirectory /a/b /c/d /e/f"),
         [](IFSOperations& o) { return o.safeRenameDirectory(a, b, c); }},
        {QStringLiteral("moveFile /a/b /c/d 0 1"),
         [](IFSOperations& o) { return o.moveFile(a, b, false, true); }},
        {QStringLiteral("safeMoveFile /a/b /c/d /e/f 1 0"),
         [](IFSOperations& o) { return o.safeMoveFile(a, b, c, true, false); }},
        {QStringLiteral("moveDirectory /a/b /c/d 1"),
         [](IFSOperations& o) { return o.moveDirectory(a, b, true); }},
        {QStringLiteral("safeMoveDirectory /a/b /c/d /e/f 0"),
         [](IFSOperations& o) { return o.safeMoveDirectory(a, b, c, false); }},
        {QStringLiteral("deleteFile /a/b 1"),
         [](IFSOperations& o) { return o.deleteFile(a, true); }},
        {QStringLiteral("safeDeleteFile /a/b /c/d 0"),
         [](IFSOperations& o) { return o.safeDeleteFile(a, b, false); }},
        {QStringLiteral("deleteDirectory /a/b 0"),
         [](IFSOperations& o) { return o.deleteDirectory(a, false); }},
        {QStringLiteral("safeDeleteDirectory /a/b /c/d 1"),
         [](IFSOperations& o) { return o.safeDeleteDirectory(a, b, true); }},
        {QStringLiteral("cleanDirectory /a/b 1"),
         [](IFSOperations& o) { return o.cleanDirectory(a, true); }},
        {QStringLiteral("safeCleanDirectory /a/b /c/d 0"),
         [](IFSOperations& o) { return o.safeCleanDirectory(a, b, false); }},
        {QStringLiteral("setTimeStamps /a/b t1 t2 t3 1"),
         [](IFSOperations& o) { return o.setTimeStamps(a, t1, t2, t3, true); }},
        {QStringLiteral("safeSetTimeStamps /a/b /c/d t1 t2 t3 0"),
         [](IFSOperations& o) { return o.safeSetTimeStamps(a, b, t1, t2, t3, false); }},
        {QStringLiteral("setAttributes /a/b 3"),
         [](IFSOperations& o) { return o.setAttributes(a, 3); }},
        {QStringLiteral("removeAttributes /a/b 6"),
         [](IFSOperations& o) { return o.removeAttributes(a, 6); }},
        {QStringLiteral("getFSID /a/b"),
         [](IFSOperations& o) {
             QString id;
             return o.getFSID(a, id) && id == QLatin1String("filled");
         }},
        {QStringLiteral("isSymbolicLink /a/b"),
         [](IFSOperations& o) { return o.isSymbolicLink(a); }},
    };
}

QString text(const QDateTime& time)
{
    return time == t1   ? QStringLiteral("t1")
           : time == t2 ? QStringLiteral("t2")
                        : QStringLiteral("t3");
}

// Records each call it receives in the words of everyOperation() and answers true; fileExists
// on "/throw" throws.
class CRecordingFSOperations : public IFSOperations
{
public:
    explicit CRecordingFSOperations(QStringList& calls) : calls(calls) {}

    bool tryExclusiveLock(const QString& p) override
    {
        return note({QStringLiteral("tryExclusiveLock"), p});
    }
    bool tryWriteLock(const QString& p) override
    {
        return note({QStringLiteral("tryWriteLock"), p});
    }
    bool fileExists(const QString& p) override
    {
        SY_FUNCTION("CRecordingFSOperations::fileExists");
        if (p == QLatin1String("/throw"))
            SY_THROW(Exceptions::Locked, QStringLiteral("File is locked: /throw"));
        return note({QStringLiteral("fileExists"), p});
    }
    bool directoryExists(const QString& p) override
    {
        return note({QStringLiteral("directoryExists"), p});
    }
    bool safeExchangeFile(const QString&, const QString&, const QString&, const QString&,
                          const QString&, const QDateTime&, const QDateTime&) override
    {
        return note({QStringLiteral("implementation's safeExchangeFile")});
    }
    bool copyFile(const QString& s, const QString& d, bool f, bool l, bool e) override
    {
        return note({QStringLiteral("copyFile"), s, d, flag(f), flag(l), flag(e)});
    }
    bool safeCopyFile(const QString& s, const QString& d, const QString& p, bool f, bool l,
                      bool e) override
    {
        return note({QStringLiteral("safeCopyFile"), s, d, p, flag(f), flag(l), flag(e)});
    }
    bool copyDirectory(const QString& s, const QString& d) override
    {
        return note({QStringLiteral("copyDirectory"), s, d});
    }
    bool createFile(const QString& p, const QDateTime& x, const QDateTime& y, const QDateTime& z,
                    quint32 attributes) override
    {
        return note({QStringLiteral("createFile"), p, text(x), text(y), text(z),
                     QString::number(attributes)});
    }
    bool createDirectory(const QString& p, const QDateTime& x, const QDateTime& y,
                         const QDateTime& z, quint32 attributes, bool f) override
    {
        return note({QStringLiteral("createDirectory"), p, text(x), text(y), text(z),
                     QString::number(attributes), flag(f)});
    }
    bool safeCreateDirectory(const QString& p, const QString& s, const QDateTime& x,
                             const QDateTime& y, const QDateTime& z, quint32 attributes,
                             bool f) override
    {
        return note({QStringLiteral("safeCreateDirectory"), p, s, text(x), text(y), text(z),
                     QString::number(attributes), flag(f)});
    }
    bool renameFile(const QString& s, const QString& d, bool o) override
    {
        return note({QStringLiteral("renameFile"), s, d, flag(o)});
    }
    bool safeRenameFile(const QString& s, const QString& d, const QString& p, bool o) override
    {
        return note({QStringLiteral("safeRenameFile"), s, d, p, flag(o)});
    }
    bool renameDirectory(const QString& s, const QString& d) override
    {
        return note({QStringLiteral("renameDirectory"), s, d});
    }
    bool safeRenameDirectory(const QString& s, const QString& d, const QString& p) override
    {
        return note({QStringLiteral("safeRenameDirectory"), s, d, p});
    }
    bool moveFile(const QString& s, const QString& d, bool f, bool o) override
    {
        return note({QStringLiteral("moveFile"), s, d, flag(f), flag(o)});
    }
    bool safeMoveFile(const QString& s, const QString& d, const QString& p, bool f, bool o) override
    {
        return note({QStringLiteral("safeMoveFile"), s, d, p, flag(f), flag(o)});
    }
    bool moveDirectory(const QString& s, const QString& d, bool f) override
    {
        return note({QStringLiteral("moveDirectory"), s, d, flag(f)});
    }
    bool safeMoveDirectory(const QString& s, const QString& d, const QString& p, bool f) override
    {
        return note({QStringLiteral("safeMoveDirectory"), s, d, p, flag(f)});
    }
    bool deleteFile(const QString& p, bool f) override
    {
        return note({QStringLiteral("deleteFile"), p, flag(f)});
    }
    bool safeDeleteFile(const QString& p, const QString& s, bool f) override
    {
        return note({QStringLiteral("safeDeleteFile"), p, s, flag(f)});
    }
    bool deleteDirectory(const QString& p, bool f) override
    {
        return note({QStringLiteral("deleteDirectory"), p, flag(f)});
    }
    bool safeDeleteDirectory(const QString& p, const QString& s, bool f) override
    {
        return note({QStringLiteral("safeDeleteDirectory"), p, s, flag(f)});
    }
    bool cleanDirectory(const QString& p, bool f) override
    {
        return note({QStringLiteral("cleanDirectory"), p, flag(f)});
    }
    bool safeCleanDirectory(const QString& p, const QString& s, bool f) override
    {
        return note({QStringLiteral("safeCleanDirectory"), p, s, flag(f)});
    }
    bool setTimeStamps(const QString& p, const QDateTime& x, const QDateTime& y, const QDateTime& z,
                       bool d) override
    {
        return note({QStringLiteral("setTimeStamps"), p, text(x), text(y), text(z), flag(d)});
    }
    bool safeSetTimeStamps(const QString& p, const QString& s, const QDateTime& x,
                           const QDateTime& y, const QDateTime& z, bool d) override
    {
        return note(
            {QStringLiteral("safeSetTimeStamps"), p, s, text(x), text(y), text(z), flag(d)});
    }
    bool setAttributes(const QString& p, quint32 attributes) override
    {
        return note({QStringLiteral("setAttributes"), p, QString::number(attributes)});
    }
    bool removeAttributes(const QString& p, quint32 attributes) override
    {
        return note({QStringLiteral("removeAttributes"), p, QString::number(attributes)});
    }
    bool getFSID(const QString& p, QString& id) override
    {
        id = QStringLiteral("filled");
        return note({QStringLiteral("getFSID"), p});
    }
    bool isSymbolicLink(const QString& p) override
    {
        return note({QStringLiteral("isSymbolicLink"), p});
    }

private:
    static QString flag(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }
    bool note(const QStringList& words)
    {
        calls << words.join(QLatin1Char(' '));
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

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

Q_DECLARE_METATYPE(Call)

class tst_CFSOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void withoutImplementation_data();
    void withoutImplementation();
    void forwardsEveryOperation_data();
    void forwardsEveryOperation();
    void exceptionsPassThrough();
    void platformOperations();
    void exchange_data();
    void exchange();
    void exchangeRollsBack();
    void exchangeWithEmptyPaths_data();
    void exchangeWithEmptyPaths();

private:
    std::unique_ptr<CTestEnvironment> environment;
    std::unique_ptr<QTemporaryDir> dir;
    QString root;
};

void tst_CFSOperations::init()
{
    environment = std::make_unique<CTestEnvironment>();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    root = dir->path() + QLatin1Char('/');
}

void tst_CFSOperations::cleanup()
{
    dir.reset();
    environment.reset();
}

void tst_CFSOperations::withoutImplementation_data()
{
    QTest::addColumn<Call>("call");
    for (const auto& operation : everyOperation())
        QTest::newRow(operation.first.toLatin1().constData()) << operation.second;
}

void tst_CFSOperations::withoutImplementation()
{
    QFETCH(Call, call);
    CFSOperations ops(nullptr);
    bool answer = true;
    try {
        answer = call(ops);
    } catch (...) {
        QFAIL("an operation without implementation threw");
    }
    QVERIFY(!answer);
}

void tst_CFSOperations::forwardsEveryOperation_data()
{
    withoutImplementation_data();
    QTest::addColumn<QString>("expected");
}

void tst_CFSOperations::forwardsEveryOperation()
{
    QFETCH(Call, call);
    QStringList calls;
    CFSOperations ops(std::make_unique<CRecordingFSOperations>(calls));
    const QString expected = QString::fromLatin1(QTest::currentDataTag());
    if (expected == QLatin1String("safeExchangeFile")) {
        // The exchange is made here, from the implementation's own operations.
        QVERIFY(call(ops));
        QVERIFY(!calls.isEmpty());
        QVERIFY(!calls.contains(QStringLiteral("implementation's safeExchangeFile")));
        QCOMPARE(calls.first(), QStringLiteral("fileExists /e/f/c/d"));
        return;
    }
    QVERIFY(call(ops));
    QCOMPARE(calls, QStringList{QDir::toNativeSeparators(expected)});
}

void tst_CFSOperations::exceptionsPassThrough()
{
    QStringList calls;
    CFSOperations ops(std::make_unique<CRecordingFSOperations>(calls));
    QVERIFY_THROWS_EXCEPTION(Exceptions::Locked, ops.fileExists(QStringLiteral("/throw")));
}

void tst_CFSOperations::platformOperations()
{
    CFSOperations ops;
    const QString folder = root + QStringLiteral("logs/");
    QVERIFY(writeFile(folder + QStringLiteral("a.log"), "a"));
    QVERIFY(writeFile(folder + QStringLiteral("old/b.log"), "b"));
    QVERIFY(ops.directoryExists(folder));
    const QString copy = root + QStringLiteral("copy/");
    QVERIFY(ops.copyDirectory(folder, copy));
    QCOMPARE(contentOf(copy + QStringLiteral("old/b.log")), QByteArray("b"));
    QVERIFY(ops.copyFile(folder + QStringLiteral("a.log"), root + QStringLiteral("out/a.log"), true,
                         false, false));
    QVERIFY(ops.cleanDirectory(copy, true));
    QVERIFY(QDir(copy).isEmpty());
    QVERIFY(ops.deleteDirectory(folder, true));
    QVERIFY(!ops.directoryExists(folder));
    QVERIFY_THROWS_EXCEPTION(Exceptions::FileExists,
                             ops.copyFile(root + QStringLiteral("out/a.log"),
                                          root + QStringLiteral("out/a.log"), false, false, true));
}

void tst_CFSOperations::exchange_data()
{
    QTest::addColumn<bool>("originalExists");
    QTest::addColumn<bool>("templateExists");
    QTest::newRow("new file") << false << false;
    QTest::newRow("replacing a file") << true << false;
    QTest::newRow("in place of a template") << false << true;
    QTest::newRow("replacing a file with a template") << true << true;
}

void tst_CFSOperations::exchange()
{
    QFETCH(bool, originalExists);
    QFETCH(bool, templateExists);
    const QString in = root + QStringLiteral("in");
    const QString out = root + QStringLiteral("out");
    const QString space = root + QStringLiteral("space/Документы");
    const QString name = QStringLiteral("report 1.txt");
    const QString original = space + QLatin1Char('/') + name;
    const QString templateFile = original + QStringLiteral(".syncarium");
    QVERIFY(writeFile(in + QStringLiteral("/x7"), "new version"));
    QVERIFY(QDir().mkpath(out));
    QVERIFY(QDir().mkpath(space));
    if (originalExists) {
        QVERIFY(writeFile(original, "old version"));
        QVERIFY(QFile::setPermissions(original, QFileDevice::ReadOwner));
    }
    if (templateExists)
        QVERIFY(writeFile(templateFile, "template"));

    const QDateTime modified(QDate(2011, 1, 24), QTime(15, 30), Qt::UTC);
    CFSOperations ops;
    QVERIFY(ops.safeExchangeFile(in, out, space, QStringLiteral("x7"), name, modified.addDays(-1),
                                 modified));
    QCOMPARE(contentOf(original), QByteArray("new version"));
    QCOMPARE(QFileInfo(original).lastModified().toUTC(), modified);
    QVERIFY(!QFileInfo::exists(in + QStringLiteral("/x7")));
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/x7")));
    QVERIFY(!QFileInfo::exists(templateFile));
    QVERIFY(!QFileInfo::exists(space + QStringLiteral("/~")));
}

void tst_CFSOperations::exchangeRollsBack()
{
    const QString in = root + QStringLiteral("in");
    const QString out = root + QStringLiteral("out");
    const QString space = root + QStringLiteral("space");
    QVERIFY(writeFile(in + QStringLiteral("/x"), "new version"));
    QVERIFY(writeFile(space + QStringLiteral("/file"), "old version"));
    QVERIFY(QDir().mkpath(out));

    auto refusing = std::make_unique<CStampRefusingFSOperations>();
    refusing->refused = space + QStringLiteral("/~");
    CFSOperations ops(std::move(refusing));
    QVERIFY(!ops.safeExchangeFile(in, out, space, QStringLiteral("x"), QStringLiteral("file"),
                                  QDateTime(), QDateTime::currentDateTimeUtc()));
    QCOMPARE(contentOf(space + QStringLiteral("/file")), QByteArray("old version"));
    QCOMPARE(contentOf(in + QStringLiteral("/x")), QByteArray("new version"));
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/x")));
    QVERIFY(!QFileInfo::exists(space + QStringLiteral("/~")));

    // A failure that throws is logged and answered with false.
    QTest::ignoreMessage(
        QtCriticalMsg, QRegularExpression(QStringLiteral("CFSOperations::internalSafeExchangeFile "
                                                         "\\] Exceptions::FileDoesNotExist::.*"
                                                         "Source doesn't exists: "),
                                          QRegularExpression::DotMatchesEverythingOption));
    QVERIFY(!CFSOperations().safeExchangeFile(in, out, space, QStringLiteral("missing"),
                                              QStringLiteral("new"), QDateTime(), QDateTime()));
    QVERIFY(!QFileInfo::exists(space + QStringLiteral("/new")));
}

void tst_CFSOperations::exchangeWithEmptyPaths_data()
{
    QTest::addColumn<int>("emptyIndex");
    for (int i = 0; i < 5; ++i)
        QTest::newRow(QByteArray::number(i).constData()) << i;
}

void tst_CFSOperations::exchangeWithEmptyPaths()
{
    QFETCH(int, emptyIndex);
    QStringList paths{QStringLiteral("/in"), QStringLiteral("/out"), QStringLiteral("/orig"),
                      QStringLiteral("src"), QStringLiteral("name")};
    paths[emptyIndex].clear();
    const QString prefix =
        QStringLiteral("^\\[ -1 : MainThread \\] \\[ CFSOperations\\.cpp : \\d+ : "
                       "CFSOperations::internalSafeExchangeFile \\] ");
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression(prefix + QStringLiteral("Empty path \\.\\.\\.$")));
    QTest::ignoreMessage(
        QtCriticalMsg,
        QRegularExpression(
            prefix +
            QRegularExpression::escape(QStringLiteral("XChgIn: %1 XChgOut: %2 XChgSrcName: %3")
                                           .arg(paths[0], paths[1], paths[3])) +
            QLatin1Char('$')));
    QTest::ignoreMessage(
        QtCriticalMsg,
        QRegularExpression(
            prefix +
            QRegularExpression::escape(
                QStringLiteral("OriginalPath: %1 OriginalName: %2").arg(paths[2], paths[4])) +
            QLatin1Char('$')));
    QStringList calls;
    CFSOperations ops(std::make_unique<CRecordingFSOperations>(calls));
    QVERIFY(!ops.safeExchangeFile(paths[0], paths[1], paths[2], paths[3], paths[4], QDateTime(),
                                  QDateTime()));
    QVERIFY(calls.isEmpty());
}

QTEST_GUILESS_MAIN(tst_CFSOperations)
#include "tst_CFSOperations.moc"
