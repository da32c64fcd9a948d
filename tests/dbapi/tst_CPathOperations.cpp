#include "dbapi/CPathOperations.h"

#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>

namespace {

QRegularExpression record(const char* function, const QString& text)
{
    return QRegularExpression(QStringLiteral("^\\[ .* \\] \\[ CPathOperations.cpp : \\d+ : ") +
                              QLatin1String(function) + QStringLiteral(" \\] ") +
                              QRegularExpression::escape(text) + QLatin1Char('$'));
}

QString many(int count, char c)
{
    return QString(count, QLatin1Char(c));
}

} // namespace

class tst_CPathOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ensureSeparators_data();
    void ensureSeparators();
    void stripSeparators_data();
    void stripSeparators();
    void separatorConversion_data();
    void separatorConversion();
    void joinPath_data();
    void joinPath();
    void joinDirPath_data();
    void joinDirPath();
    void makeSpaceRelativePath_data();
    void makeSpaceRelativePath();
    void makeSpaceRelativePathWithoutSpace();
    void splitPathComponents_data();
    void splitPathComponents();
    void buildPathHierarchy_data();
    void buildPathHierarchy();
    void splitPath_data();
    void splitPath();
    void emptyPathIsRefused();
    void versionNames_data();
    void versionNames();
    void isPathTooLong_data();
    void isPathTooLong();
    void compareByLength_data();
    void compareByLength();
    void dateTimeFromMSecs_data();
    void dateTimeFromMSecs();
};

void tst_CPathOperations::ensureSeparators_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("null") << QString() << QStringLiteral("/");
    QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("/");
    QTest::newRow("relative") << QStringLiteral("a/b") << QStringLiteral("/a/b/");
    QTest::newRow("leading only") << QStringLiteral("/a") << QStringLiteral("/a/");
    QTest::newRow("trailing only") << QStringLiteral("a/") << QStringLiteral("/a/");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
    QTest::newRow("doubled kept") << QStringLiteral("//a//") << QStringLiteral("//a//");
    QTest::newRow("non-ASCII") << QStringLiteral("Документы/日本")
                               << QStringLiteral("/Документы/日本/");
    QTest::newRow("spaces") << QStringLiteral(" a b ") << QStringLiteral("/ a b /");
}

void tst_CPathOperations::ensureSeparators()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    for (const bool native : {false, true}) {
        QString value = path;
        CPathOperations::ensureSeparators(value, native);
        QCOMPARE(value, expected);
    }
}

void tst_CPathOperations::stripSeparators_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("null") << QString() << QStringLiteral("/");
    QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("/");
    QTest::newRow("both ends doubled") << QStringLiteral("//a/b//") << QStringLiteral("a/b");
    QTest::newRow("separators only") << QStringLiteral("///") << QStringLiteral("");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("");
    QTest::newRow("inner kept") << QStringLiteral("a//b") << QStringLiteral("a//b");
    QTest::newRow("bare name") << QStringLiteral("a") << QStringLiteral("a");
    QTest::newRow("non-ASCII") << QStringLiteral("/שלום/") << QStringLiteral("שלום");
    QTest::newRow("backslash is a name") << QStringLiteral("\\a\\") << QStringLiteral("\\a\\");
}

void tst_CPathOperations::stripSeparators()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    for (const bool native : {false, true}) {
        QString value = path;
        CPathOperations::stripSeparators(value, native);
        QCOMPARE(value, expected);
    }
}

void tst_CPathOperations::separatorConversion_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("ensure");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QStringLiteral("/a/b") << false << QStringLiteral("/a/b");
    QTest::newRow("ensured") << QStringLiteral("a/b") << true << QStringLiteral("/a/b/");
    QTest::newRow("empty") << QString() << false << QString();
    QTest::newRow("empty ensured") << QString() << true << QStringLiteral("/");
    // On this platform a backslash is part of a name, not a separator.
    QTest::newRow("backslash") << QStringLiteral("C:\\x\\y") << false << QStringLiteral("C:\\x\\y");
    QTest::newRow("non-ASCII") << QStringLiteral("音楽/曲") << true << QStringLiteral("/音楽/曲/");
}

void tst_CPathOperations::separatorConversion()
{
    QFETCH(QString, path);
    QFETCH(bool, ensure);
    QFETCH(QString, expected);
    QCOMPARE(CPathOperations::toGenericPath(path, ensure), expected);
    QCOMPARE(CPathOperations::toNativePath(path, ensure), expected);
}

void tst_CPathOperations::joinPath_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("ensure");
    QTest::addColumn<QString>("expected");
    QTest::newRow("stripped parts") << QStringLiteral("/x/") << QStringLiteral("y")
                                    << QStringLiteral("txt") << false << QStringLiteral("x/y.txt");
    QTest::newRow("ensured") << QStringLiteral("/x/") << QStringLiteral("y")
                             << QStringLiteral("txt") << true << QStringLiteral("/x/y.txt/");
    QTest::newRow("empty and root")
        << QString() << QStringLiteral("/") << QString() << false << QStringLiteral("/");
    QTest::newRow("root and root")
        << QStringLiteral("/") << QStringLiteral("/") << QString() << false << QStringLiteral("/");
    QTest::newRow("empty first keeps its separator")
        << QString() << QStringLiteral("a") << QString() << false << QStringLiteral("//a");
    QTest::newRow("no second") << QStringLiteral("a/") << QString() << QString() << false
                               << QStringLiteral("a");
    QTest::newRow("no second, extension")
        << QStringLiteral("a") << QString() << QStringLiteral("txt") << false
        << QStringLiteral("a.txt");
    QTest::newRow("separators around second") << QStringLiteral("a//") << QStringLiteral("//b/")
                                              << QString() << false << QStringLiteral("a/b");
    QTest::newRow("pattern") << QStringLiteral("/src/dir/") << QStringLiteral("*") << QString()
                             << false << QStringLiteral("src/dir/*");
    QTest::newRow("non-ASCII") << QStringLiteral("Документы/") << QStringLiteral("файл")
                               << QStringLiteral("текст") << false
                               << QStringLiteral("Документы/файл.текст");
    QTest::newRow("spaces") << QStringLiteral("my dir") << QStringLiteral("a b") << QString()
                            << true << QStringLiteral("/my dir/a b/");
}

void tst_CPathOperations::joinPath()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, extension);
    QFETCH(bool, ensure);
    QFETCH(QString, expected);
    QCOMPARE(CPathOperations::joinPath(first, second, extension, false, ensure), expected);
    QCOMPARE(CPathOperations::joinPath(first, second, extension, true, ensure), expected);
}

void tst_CPathOperations::joinDirPath_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("expected");
    QTest::newRow("absolute first")
        << QStringLiteral("/a/b/") << QStringLiteral("c") << QStringLiteral("a/b/c/");
    QTest::newRow("separators around second")
        << QStringLiteral("a") << QStringLiteral("/c/") << QStringLiteral("a/c/");
    QTest::newRow("empty second") << QStringLiteral("a") << QString() << QStringLiteral("a/");
    QTest::newRow("empty first") << QString() << QStringLiteral("c") << QStringLiteral("//c/");
    QTest::newRow("non-ASCII") << QStringLiteral("ü") << QStringLiteral("日本")
                               << QStringLiteral("ü/日本/");
}

void tst_CPathOperations::joinDirPath()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, expected);
    QCOMPARE(CPathOperations::joinDirPath(first, second, false), expected);
    QCOMPARE(CPathOperations::joinDirPath(first, second, true), expected);
}

void tst_CPathOperations::makeSpaceRelativePath_data()
{
    QTest::addColumn<QString>("space");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("withSeparators");
    QTest::addColumn<QString>("expected");
    const QString space = QStringLiteral("C:/s/sp");
    QTest::newRow("inside") << space << QStringLiteral("C:/s/sp/dir/f.txt") << false
                            << QStringLiteral("dir/f.txt");
    QTest::newRow("inside, separators")
        << space << QStringLiteral("C:/s/sp/dir/f.txt") << true << QStringLiteral("/dir/f.txt/");
    QTest::newRow("space with trailing separator")
        << QStringLiteral("C:/s/sp/") << QStringLiteral("C:/s/sp/dir") << false
        << QStringLiteral("dir");
    QTest::newRow("the space itself, trailing separator")
        << space << QStringLiteral("C:/s/sp/") << false << QStringLiteral("/");
    QTest::newRow("the space itself, no separator")
        << space << QStringLiteral("C:/s/sp") << false << QStringLiteral("C:/s/sp");
    QTest::newRow("prefix of a longer name")
        << space << QStringLiteral("C:/s/spx/f") << false << QStringLiteral("C:/s/spx/f");
    QTest::newRow("outside") << space << QStringLiteral("/other/f") << true
                             << QStringLiteral("/other/f/");
    QTest::newRow("case differs") << space << QStringLiteral("C:/S/sp/f") << false
                                  << QStringLiteral("C:/S/sp/f");
    QTest::newRow("empty path") << space << QString() << false << QStringLiteral("/");
    QTest::newRow("empty path, separators") << space << QString() << true << QStringLiteral("/");
    QTest::newRow("non-ASCII") << QStringLiteral("/home/ü/Синк")
                               << QStringLiteral("/home/ü/Синк/日本/曲.mp3") << false
                               << QStringLiteral("日本/曲.mp3");
}

void tst_CPathOperations::makeSpaceRelativePath()
{
    QFETCH(QString, space);
    QFETCH(QString, path);
    QFETCH(bool, withSeparators);
    QFETCH(QString, expected);
    QCOMPARE(CPathOperations::makeSpaceRelativePath(space, path, false, withSeparators), expected);
    QCOMPARE(CPathOperations::makeSpaceRelativePath(space, path, true, withSeparators), expected);
}

void tst_CPathOperations::makeSpaceRelativePathWithoutSpace()
{
    const QRegularExpression message =
        record("CPathOperations::makeSpaceRelativePath", QStringLiteral("spacePath is empty !!!"));
    QTest::ignoreMessage(QtCriticalMsg, message);
    QCOMPARE(CPathOperations::makeSpaceRelativePath(QString(), QStringLiteral("/a/b/")),
             QStringLiteral("/a/b/"));
    QTest::ignoreMessage(QtCriticalMsg, message);
    QCOMPARE(
        CPathOperations::makeSpaceRelativePath(QStringLiteral(""), QStringLiteral("a"), true, true),
        QStringLiteral("a"));
}

void tst_CPathOperations::splitPathComponents_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("absolute") << QStringLiteral("/a/b") << QStringList({"a", "b"});
    QTest::newRow("doubled and trailing") << QStringLiteral("//a//b/") << QStringList({"a", "b"});
    QTest::newRow("separators only") << QStringLiteral("///") << QStringList();
    QTest::newRow("single name") << QStringLiteral("name") << QStringList({"name"});
    QTest::newRow("non-ASCII") << QStringLiteral("ü/日本語/שלום")
                               << QStringList({"ü", "日本語", "שלום"});
    QTest::newRow("spaces and newline")
        << QStringLiteral("a b/c\nd") << QStringList({"a b", "c\nd"});
}

void tst_CPathOperations::splitPathComponents()
{
    QFETCH(QString, path);
    QFETCH(QStringList, expected);
    QCOMPARE(CPathOperations::splitPathComponents(path, false), expected);
    QCOMPARE(CPathOperations::splitPathComponents(path, true), expected);
}

void tst_CPathOperations::buildPathHierarchy_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("withSeparators");
    QTest::addColumn<QStringList>("parents");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("with separators")
        << QStringLiteral("/a/b") << true << QStringList({"", "/", "/a/"})
        << QStringList({"/", "a", "b"});
    QTest::newRow("without separators")
        << QStringLiteral("/a/b") << false << QStringList({"", "", "a"})
        << QStringList({"/", "a", "b"});
    QTest::newRow("deeper, trailing separator")
        << QStringLiteral("a/b/c/") << false << QStringList({"", "", "a", "a/b"})
        << QStringList({"/", "a", "b", "c"});
    QTest::newRow("deeper, with separators")
        << QStringLiteral("a/b/c") << true << QStringList({"", "/", "/a/", "/a/b/"})
        << QStringList({"/", "a", "b", "c"});
    QTest::newRow("single name") << QStringLiteral("a") << true << QStringList({"", "/"})
                                 << QStringList({"/", "a"});
    QTest::newRow("separators only")
        << QStringLiteral("///") << false << QStringList({"", ""}) << QStringList({"/", "/"});
    QTest::newRow("non-ASCII") << QStringLiteral("/ü/日本") << false << QStringList({"", "", "ü"})
                               << QStringList({"/", "ü", "日本"});
}

void tst_CPathOperations::buildPathHierarchy()
{
    QFETCH(QString, path);
    QFETCH(bool, withSeparators);
    QFETCH(QStringList, parents);
    QFETCH(QStringList, names);
    QStringList actualParents{QStringLiteral("stale")};
    QStringList actualNames{QStringLiteral("stale")};
    QVERIFY(CPathOperations::buildPathHierarchy(path, actualParents, actualNames, false,
                                                withSeparators));
    QCOMPARE(actualParents, parents);
    QCOMPARE(actualNames, names);
}

void tst_CPathOperations::splitPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("withSeparators");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("extension");
    QTest::newRow("file") << QStringLiteral("a/b/cc.txt") << false << QStringLiteral("a/b")
                          << QStringLiteral("cc.txt") << QStringLiteral("cc")
                          << QStringLiteral(".txt");
    QTest::newRow("dot at position 1")
        << QStringLiteral("a/b/c.txt") << false << QStringLiteral("a/b") << QStringLiteral("c.txt")
        << QStringLiteral("c.txt") << QString();
    QTest::newRow("with separators")
        << QStringLiteral("/a/b/cc.txt") << true << QStringLiteral("/a/b/")
        << QStringLiteral("cc.txt") << QStringLiteral("cc") << QStringLiteral(".txt");
    QTest::newRow("trailing separator") << QStringLiteral("/a/b/") << false << QStringLiteral("a")
                                        << QStringLiteral("b") << QStringLiteral("b") << QString();
    QTest::newRow("single name") << QStringLiteral("report.txt") << false << QString()
                                 << QStringLiteral("report.txt") << QStringLiteral("report")
                                 << QStringLiteral(".txt");
    QTest::newRow("root") << QStringLiteral("/") << true << QString() << QStringLiteral("/")
                          << QStringLiteral("/") << QString();
    QTest::newRow("hidden file") << QStringLiteral("d/.bashrc") << false << QStringLiteral("d")
                                 << QStringLiteral(".bashrc") << QStringLiteral(".bashrc")
                                 << QString();
    QTest::newRow("first dot decides")
        << QStringLiteral("d/a.b.c") << false << QStringLiteral("d") << QStringLiteral("a.b.c")
        << QStringLiteral("a.b.c") << QString();
    QTest::newRow("double extension")
        << QStringLiteral("d/ab.tar.gz") << false << QStringLiteral("d")
        << QStringLiteral("ab.tar.gz") << QStringLiteral("ab") << QStringLiteral(".tar.gz");
    QTest::newRow("trailing dot") << QStringLiteral("ab.") << false << QString()
                                  << QStringLiteral("ab.") << QStringLiteral("ab")
                                  << QStringLiteral(".");
    QTest::newRow("non-ASCII") << QStringLiteral("Папка/файл.текст") << false
                               << QStringLiteral("Папка") << QStringLiteral("файл.текст")
                               << QStringLiteral("файл") << QStringLiteral(".текст");
}

void tst_CPathOperations::splitPath()
{
    QFETCH(QString, path);
    QFETCH(bool, withSeparators);
    QFETCH(QString, parent);
    QFETCH(QString, name);
    QFETCH(QString, base);
    QFETCH(QString, extension);
    QString actualParent;
    QString actualName;
    QVERIFY(CPathOperations::splitPath(path, actualParent, actualName, false, withSeparators));
    QCOMPARE(actualParent, parent);
    QCOMPARE(actualName, name);
    QString actualExtension = QStringLiteral("stale");
    QVERIFY(CPathOperations::splitPath(path, actualParent, actualName, actualExtension, false,
                                       withSeparators));
    QCOMPARE(actualParent, parent);
    QCOMPARE(actualName, base);
    QCOMPARE(actualExtension, extension);
    QCOMPARE(CPathOperations::parentPath(path, false, withSeparators), parent);
}

void tst_CPathOperations::emptyPathIsRefused()
{
    QString parent = QStringLiteral("kept");
    QString name = QStringLiteral("kept");
    QString extension = QStringLiteral("kept");
    QStringList parents;
    QStringList names;
    QVERIFY(!CPathOperations::buildPathHierarchy(QString(), parents, names));
    QTest::ignoreMessage(QtCriticalMsg,
                         record("CPathOperations::splitPath", QStringLiteral("path is empty !!!")));
    QVERIFY(!CPathOperations::splitPath(QString(), parent, name));
    QTest::ignoreMessage(QtCriticalMsg,
                         record("CPathOperations::splitPath", QStringLiteral("path is empty !!!")));
    QVERIFY(!CPathOperations::splitPath(QStringLiteral(""), parent, name, extension));
    QCOMPARE(parent, QStringLiteral("kept"));
    QCOMPARE(name, QStringLiteral("kept"));
    QCOMPARE(extension, QStringLiteral("kept"));
    QTest::ignoreMessage(
        QtCriticalMsg, record("CPathOperations::parentPath", QStringLiteral("path is empty !!!")));
    QCOMPARE(CPathOperations::parentPath(QString()), QString());
    QTest::ignoreMessage(QtCriticalMsg, record("CPathOperations::splitPathComponents",
                                               QStringLiteral("path is empty !!!")));
    QCOMPARE(CPathOperations::splitPathComponents(QString()), QStringList());
}

void tst_CPathOperations::versionNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("timestamped");
    QTest::addColumn<QString>("tagged");
    const QDateTime utc(QDate(2011, 1, 24), QTime(15, 30, 0), Qt::UTC);
    QTest::newRow("file") << QStringLiteral("report.txt") << utc << QStringLiteral("t")
                          << QStringLiteral("report(110124153000-t).txt")
                          << QStringLiteral("report(t-110124153000).txt");
    QTest::newRow("local time is stamped in UTC")
        << QStringLiteral("report.txt")
        << QDateTime(QDate(2011, 1, 24), QTime(17, 30, 0), QTimeZone(2 * 3600))
        << QStringLiteral("t") << QStringLiteral("report(110124153000-t).txt")
        << QStringLiteral("report(t-110124153000).txt");
    QTest::newRow("no extension") << QStringLiteral("README") << utc << QStringLiteral("x")
                                  << QStringLiteral("README(110124153000-x)")
                                  << QStringLiteral("README(x-110124153000)");
    QTest::newRow("dot at position 1")
        << QStringLiteral("a.txt") << utc << QStringLiteral("x")
        << QStringLiteral("a.txt(110124153000-x)") << QStringLiteral("a.txt(x-110124153000)");
    QTest::newRow("placeholders in the name")
        << QStringLiteral("%2%1.%3") << utc << QStringLiteral("%4")
        << QStringLiteral("%2%1(110124153000-%4).%3") << QStringLiteral("%2%1(%4-110124153000).%3");
    QTest::newRow("non-ASCII") << QStringLiteral("отчёт.текст") << utc << QStringLiteral("版")
                               << QStringLiteral("отчёт(110124153000-版).текст")
                               << QStringLiteral("отчёт(版-110124153000).текст");
    QTest::newRow("empty tag") << QStringLiteral("ab.c") << utc << QString()
                               << QStringLiteral("ab(110124153000-).c")
                               << QStringLiteral("ab(-110124153000).c");
}

void tst_CPathOperations::versionNames()
{
    QFETCH(QString, name);
    QFETCH(QDateTime, time);
    QFETCH(QString, tag);
    QFETCH(QString, timestamped);
    QFETCH(QString, tagged);
    QCOMPARE(CPathOperations::buildTimestampedName(name, time, tag), timestamped);
    QCOMPARE(CPathOperations::buildTaggedName(name, time, tag), tagged);
}

void tst_CPathOperations::isPathTooLong_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDirectoryOnly");
    QTest::addColumn<bool>("tooLong");
    QTest::newRow("directory 248")
        << many(100, 'a') << many(100, 'b') << many(49, 'c') << true << true;
    QTest::newRow("directory 247")
        << many(100, 'a') << many(100, 'b') << many(48, 'c') << true << false;
    QTest::newRow("path 259") << many(100, 'a') << many(100, 'b') << many(60, 'c') << false
                              << false;
    QTest::newRow("path 260") << many(100, 'a') << many(100, 'b') << many(61, 'c') << false << true;
    QTest::newRow("directory part 249")
        << many(200, 'a') << many(47, 'b') << many(1, 'c') << false << true;
    QTest::newRow("directory part 247")
        << many(199, 'a') << many(46, 'b') << many(10, 'c') << false << false;
    QTest::newRow("non-ASCII counted in characters")
        << QString(100, QChar(0x65e5)) << QString(100, QChar(0x00fc)) << QString(60, QChar(0x05e9))
        << false << false;
    QTest::newRow("empty") << QString() << QString() << QString() << false << false;
}

void tst_CPathOperations::isPathTooLong()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, name);
    QFETCH(bool, isDirectoryOnly);
    QFETCH(bool, tooLong);
    if (tooLong) {
        QTest::ignoreMessage(QtCriticalMsg, record("CPathOperations::isPathTooLong",
                                                   QStringLiteral("path too long (%1) (%2) (%3)")
                                                       .arg(first.size())
                                                       .arg(second.size())
                                                       .arg(name.size())));
    }
    QCOMPARE(CPathOperations::isPathTooLong(first, second, name, isDirectoryOnly), tooLong);
}

void tst_CPathOperations::compareByLength_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");
    QTest::newRow("shorter") << QStringLiteral("zz") << QStringLiteral("aaa") << -1;
    QTest::newRow("longer") << QStringLiteral("aaa") << QStringLiteral("zz") << 1;
    QTest::newRow("same length") << QStringLiteral("ab") << QStringLiteral("ü日") << 0;
    QTest::newRow("both empty") << QString() << QStringLiteral("") << 0;
}

void tst_CPathOperations::compareByLength()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    QCOMPARE(CPathOperations::compareByLength(a, b), expected);
}

void tst_CPathOperations::dateTimeFromMSecs_data()
{
    QTest::addColumn<qint64>("milliseconds");
    QTest::addColumn<QDateTime>("expected");
    QTest::newRow("epoch") << Q_INT64_C(0) << QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC);
    QTest::newRow("with milliseconds")
        << Q_INT64_C(1295883000123)
        << QDateTime(QDate(2011, 1, 24), QTime(15, 30, 0, 123), Qt::UTC);
    QTest::newRow("last 32-bit second")
        << Q_INT64_C(4294967295999) << QDateTime(QDate(2106, 2, 7), QTime(6, 28, 15, 999), Qt::UTC);
    QTest::newRow("before 1970 wraps")
        << Q_INT64_C(-1500) << QDateTime(QDate(2106, 2, 7), QTime(6, 28, 14, 500), Qt::UTC);
}

void tst_CPathOperations::dateTimeFromMSecs()
{
    QFETCH(qint64, milliseconds);
    QFETCH(QDateTime, expected);
    const QDateTime fromInteger = CPathOperations::dateTimeFromMSecs(milliseconds);
    QCOMPARE(fromInteger, expected);
    QCOMPARE(fromInteger.timeSpec(), Qt::UTC);
    const QDateTime fromDouble =
        CPathOperations::dateTimeFromMSecs(static_cast<double>(milliseconds) + 0.75);
    QCOMPARE(fromDouble, milliseconds < 0 ? expected.addMSecs(1) : expected);
    QCOMPARE(fromDouble.timeSpec(), Qt::UTC);
}

QTEST_GUILESS_MAIN(tst_CPathOperations)
#include "tst_CPathOperations.moc"
