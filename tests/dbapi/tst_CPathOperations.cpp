#include "dbapi/CPathOperations.h"

#include "common/CExpect.h"
#include "common/CTestTree.h"

#include <QTest>
#include <QTimeZone>

namespace {

// Rows are written with char strings; nullptr stands for a null QString.
QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QStringList list(const char* joined)
{
    return QString::fromUtf8(joined).split(u'|');
}

void expectCritical(const char* function, const QString& text)
{
    CExpect::record(QtCriticalMsg, QStringLiteral("CPathOperations.cpp"),
                    "CPathOperations::" + QLatin1String(function), text);
}

} // namespace

class tst_CPathOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void separators_data();
    void separators();
    void joinPath_data();
    void joinPath();
    void makeSpaceRelativePath_data();
    void makeSpaceRelativePath();
    void splitPath_data();
    void splitPath();
    void emptyPathIsRefused();
    void versionNames_data();
    void versionNames();
    void isPathTooLong_data();
    void isPathTooLong();
    void smallHelpers();
};

// Both the generic and the native form give the same answers: "/" is this platform's separator.
void tst_CPathOperations::separators_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("ensured");
    QTest::addColumn<QString>("stripped");
    const auto row = [](const char* name, const char* path, const char* ensured,
                        const char* stripped) {
        QTest::newRow(name) << s(path) << s(ensured) << s(stripped);
    };
    row("empty", "", "/", "/");
    row("root", "/", "/", "");
    row("doubled", "//a//b//", "//a//b//", "a//b");
    row("backslash is a name", "\\a\\", "/\\a\\/", "\\a\\");
}

void tst_CPathOperations::separators()
{
    QFETCH(QString, path);
    QFETCH(QString, ensured);
    QFETCH(QString, stripped);
    for (const bool native : {false, true}) {
        QString value = path;
        CPathOperations::ensureSeparators(value, native);
        QCOMPARE(value, ensured);
        value = path;
        CPathOperations::stripSeparators(value, native);
        QCOMPARE(value, stripped);
    }
    QCOMPARE(CPathOperations::toGenericPath(path, false), path);
    QCOMPARE(CPathOperations::toNativePath(path, false), path);
    QCOMPARE(CPathOperations::toGenericPath(path, true), ensured);
    QCOMPARE(CPathOperations::toNativePath(path, true), ensured);
    const QStringList components = path.split(u'/', Qt::SkipEmptyParts);
    if (!path.isEmpty()) {
        QCOMPARE(CPathOperations::splitPathComponents(path, false), components);
        QCOMPARE(CPathOperations::splitPathComponents(path, true), components);
    }
}

void tst_CPathOperations::joinPath_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("ensure");
    QTest::addColumn<QString>("joined");
    QTest::addColumn<QString>("directory");
    const auto row = [](const char* name, const char* first, const char* second,
                        const char* extension, bool ensure, const char* joined,
                        const char* directory) {
        QTest::newRow(name) << s(first) << s(second) << s(extension) << ensure << s(joined)
                            << s(directory);
    };
    row("ensured", "/x/", "y", "txt", true, "/x/y.txt/", "x/y/");
    row("empty and root", nullptr, "/", nullptr, false, "/", "//");
    row("empty first keeps its separator", nullptr, "a", nullptr, false, "//a", "//a/");
    row("no second, extension", "a", nullptr, "txt", false, "a.txt", "a/");
    row("separators around second", "a//", "//b/", nullptr, false, "a/b", "a//b/");
}

void tst_CPathOperations::joinPath()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, extension);
    QFETCH(bool, ensure);
    QFETCH(QString, joined);
    QFETCH(QString, directory);
    for (const bool native : {false, true}) {
        QCOMPARE(CPathOperations::joinPath(first, second, extension, native, ensure), joined);
        QCOMPARE(CPathOperations::joinDirPath(first, second, native), directory);
    }
}

void tst_CPathOperations::makeSpaceRelativePath_data()
{
    QTest::addColumn<QString>("space");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("withSeparators");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* space, const char* path, bool withSeparators,
                        const char* expected) {
        QTest::newRow(name) << s(space) << s(path) << withSeparators << s(expected);
    };
    row("inside", "C:/s/sp", "C:/s/sp/dir/f.txt", false, "dir/f.txt");
    row("inside, separators", "C:/s/sp", "C:/s/sp/dir/f.txt", true, "/dir/f.txt/");
    row("the space itself", "C:/s/sp", "C:/s/sp/", false, "/");
    row("prefix of a longer name", "C:/s/sp", "C:/s/spx/f", false, "C:/s/spx/f");
    row("case differs", "C:/s/sp", "C:/S/sp/f", false, "C:/S/sp/f");
    row("empty path, separators", "C:/s/sp", "", true, "/");
}

void tst_CPathOperations::makeSpaceRelativePath()
{
    QFETCH(QString, space);
    QFETCH(QString, path);
    QFETCH(bool, withSeparators);
    QFETCH(QString, expected);
    QCOMPARE(CPathOperations::makeSpaceRelativePath(space, path, false, withSeparators), expected);
    QCOMPARE(CPathOperations::makeSpaceRelativePath(space, path, true, withSeparators), expected);
    // Without a space the path comes back as it is.
    expectCritical("makeSpaceRelativePath", QStringLiteral("spacePath is empty !!!"));
    QCOMPARE(CPathOperations::makeSpaceRelativePath(QString(), path, true, withSeparators), path);
}

void tst_CPathOperations::splitPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("withSeparators");
    QTest::addColumn<QStringList>("parents");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("extension");
    const auto row = [](const char* name, const char* path, bool withSeparators,
                        const char* parents, const char* names, const char* base,
                        const char* extension) {
        QTest::newRow(name) << s(path) << withSeparators << list(parents) << list(names) << s(base)
                            << s(extension);
    };
    row("file", "a/b/cc.txt", false, "||a|a/b", "/|a|b|cc.txt", "cc", ".txt");
    row("file, separators", "/a/b/cc.txt", true, "|/|/a/|/a/b/", "/|a|b|cc.txt", "cc", ".txt");
    row("dot at position 1", "a/b/c.txt", false, "||a|a/b", "/|a|b|c.txt", "c.txt", nullptr);
    row("single name", "report.txt", true, "|/", "/|report.txt", "report", ".txt");
    row("separators only", "///", false, "|", "/|/", "/", nullptr);
    row("double extension", "d/ab.tar.gz", false, "||d", "/|d|ab.tar.gz", "ab", ".tar.gz");
}

void tst_CPathOperations::splitPath()
{
    QFETCH(QString, path);
    QFETCH(bool, withSeparators);
    QFETCH(QStringList, parents);
    QFETCH(QStringList, names);
    QFETCH(QString, base);
    QFETCH(QString, extension);
    QStringList actualParents{QStringLiteral("stale")};
    QStringList actualNames{QStringLiteral("stale")};
    QVERIFY(CPathOperations::buildPathHierarchy(path, actualParents, actualNames, false,
                                                withSeparators));
    QCOMPARE(actualParents, parents);
    QCOMPARE(actualNames, names);

    // The split with the extension takes the one without it first.
    QString parent, name, actualExtension = QStringLiteral("stale");
    QCOMPARE(CPathOperations::parentPath(path, false, withSeparators), parents.last());
    QVERIFY(CPathOperations::splitPath(path, parent, name, actualExtension, false, withSeparators));
    QCOMPARE(parent, parents.last());
    QCOMPARE(name, base);
    QCOMPARE(actualExtension, extension);
}

void tst_CPathOperations::emptyPathIsRefused()
{
    QString parent = QStringLiteral("kept"), name = parent, extension = parent;
    QStringList parents, names;
    QVERIFY(!CPathOperations::buildPathHierarchy(QString(), parents, names));
    expectCritical("splitPath", QStringLiteral("path is empty !!!"));
    QVERIFY(!CPathOperations::splitPath(QString(), parent, name));
    expectCritical("splitPath", QStringLiteral("path is empty !!!"));
    QVERIFY(!CPathOperations::splitPath(QStringLiteral(""), parent, name, extension));
    QCOMPARE(parent + name + extension, QStringLiteral("keptkeptkept"));
    expectCritical("parentPath", QStringLiteral("path is empty !!!"));
    QCOMPARE(CPathOperations::parentPath(QString()), QString());
    expectCritical("splitPathComponents", QStringLiteral("path is empty !!!"));
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
    const QDateTime local(QDate(2011, 1, 24), QTime(17, 30, 0), QTimeZone(2 * 3600));
    const auto row = [](const char* name, const char* file, const QDateTime& time, const char* tag,
                        const char* timestamped, const char* tagged) {
        QTest::newRow(name) << s(file) << time << s(tag) << s(timestamped) << s(tagged);
    };
    row("local time is stamped in UTC", "report.txt", local, "t", "report(110124153000-t).txt",
        "report(t-110124153000).txt");
    row("dot at position 1", "a.txt", utc, "x", "a.txt(110124153000-x)", "a.txt(x-110124153000)");
    row("placeholders", "%2%1.%3", utc, "%4", "%2%1(110124153000-%4).%3",
        "%2%1(%4-110124153000).%3");
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
    // Lengths in bytes of UTF-8: the system's 4,095 for a path and a directory, 255 for a name.
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDirectoryOnly");
    QTest::addColumn<bool>("tooLong");
    const auto row = [](const char* tag, const QString& first, const QString& second,
                        const QString& name, bool isDirectoryOnly, bool tooLong) {
        QTest::newRow(tag) << first << second << name << isDirectoryOnly << tooLong;
    };
    // fill repeated to exactly size bytes, cut into names by "/" where folders is set.
    const auto bytes = [](qsizetype size, const char* fill, bool folders = true) {
        return CTestTree::ofBytes({}, size, QString::fromUtf8(fill), folders);
    };
    const QString first = bytes(3500, "日");
    const QString second = bytes(400, "b");
    // The length tested is the sum of the three less one separator.
    row("path 4095", first, second, bytes(196, "ש"), false, false);
    row("path 4096", first, second, bytes(197, "ש"), false, true);
    row("directory 4095", first, second, bytes(196, "日"), true, false);
    row("directory 4096", first, second, bytes(197, "日"), true, true);
    // The directory part is first, "/", second and "/": 4,097 bytes here, where the sum less
    // one is 4,095.
    row("directory part 4097", bytes(3695, "日"), second, "n", false, true);
    row("name 255", "/a/", "b", bytes(255, "日", false), false, false);
    row("name 256", "/a/", "b", bytes(256, "日", false), false, true);
    row("folder name 256", "/a/" + bytes(256, "日", false), "b", "n", true, true);
}

void tst_CPathOperations::isPathTooLong()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, name);
    QFETCH(bool, isDirectoryOnly);
    QFETCH(bool, tooLong);
    if (tooLong)
        expectCritical("isPathTooLong", QStringLiteral("path too long (%1) (%2) (%3)")
                                            .arg(first.toUtf8().size())
                                            .arg(second.toUtf8().size())
                                            .arg(name.toUtf8().size()));
    QCOMPARE(CPathOperations::isPathTooLong(first, second, name, isDirectoryOnly), tooLong);
}

void tst_CPathOperations::smallHelpers()
{
    QCOMPARE(CPathOperations::compareByLength(QStringLiteral("zz"), QStringLiteral("aaa")), -1);
    QCOMPARE(CPathOperations::compareByLength(QStringLiteral("aaa"), QStringLiteral("zz")), 1);
    QCOMPARE(CPathOperations::compareByLength(QStringLiteral("ab"), QStringLiteral("ü日")), 0);

    const std::pair<qint64, QDateTime> times[] = {
        {0, QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC)},
        {Q_INT64_C(1295883000123), QDateTime(QDate(2011, 1, 24), QTime(15, 30, 0, 123), Qt::UTC)},
        {Q_INT64_C(4294967295999), QDateTime(QDate(2106, 2, 7), QTime(6, 28, 15, 999), Qt::UTC)},
        // Seconds are an unsigned 32-bit count: earlier times wrap.
        {-1500, QDateTime(QDate(2106, 2, 7), QTime(6, 28, 14, 500), Qt::UTC)},
    };
    for (const auto& [milliseconds, expected] : times) {
        const QDateTime fromInteger = CPathOperations::dateTimeFromMSecs(milliseconds);
        QCOMPARE(fromInteger, expected);
        QCOMPARE(fromInteger.timeSpec(), Qt::UTC);
        const QDateTime fromDouble =
            CPathOperations::dateTimeFromMSecs(static_cast<double>(milliseconds) + 0.75);
        QCOMPARE(fromDouble, milliseconds < 0 ? expected.addMSecs(1) : expected);
        QCOMPARE(fromDouble.timeSpec(), Qt::UTC);
    }
}

QTEST_GUILESS_MAIN(tst_CPathOperations)
#include "tst_CPathOperations.moc"
