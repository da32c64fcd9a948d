#include "fsFilter/CFSFileTypesFile.h"

#include "common/CExpect.h"
#include "common/CFileTypesDump.h"
#include "common/CTestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <memory>

namespace {

const QString sourceFile = QStringLiteral("CFSFileTypesFile.cpp");

// "type@group=a,b" per type, sorted by type; "-" for no group, "(none)" for no list.
QString dump(const CFSFileTypes& table)
{
    return dumpFileTypes(table);
}

QString dump(const CFSFileTypesFile& file)
{
    const std::unique_ptr<CFSFileTypes> table(file.getFileTypes());
    return table ? dump(*table) : QStringLiteral("(no table)");
}

void expect(QtMsgType type, const char* function, const QString& text)
{
    CExpect::record(type, sourceFile, "CFSFileTypesFile::" + QLatin1String(function), text);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// Root reads and writes whatever the permission bits say.
bool permissionsApply(const QString& probe)
{
    QFile file(probe);
    return !file.open(QIODevice::ReadOnly);
}

} // namespace

class tst_CFSFileTypesFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void load_data();
    void load();
    void loadAddsToTheHeldTable();
    void badFiles_data();
    void badFiles();
    void roundTrip_data();
    void roundTrip();
    void saveRefuses_data();
    void saveRefuses();
    void saveReplacesTheWholeFile();

private:
    std::unique_ptr<CTestEnvironment> env;
};

void tst_CFSFileTypesFile::init()
{
    env = std::make_unique<CTestEnvironment>();
    QVERIFY(env->isValid());
}

void tst_CFSFileTypesFile::cleanup()
{
    env.reset();
}

// What a file on disk gives, and the warnings for the keys that are skipped or moved.
void tst_CFSFileTypesFile::load_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("warnings");
    const auto row = [](const char* name, const QByteArray& content, const char* table,
                        const QStringList& warnings = {}) {
        QTest::newRow(name) << content << QString::fromUtf8(table) << warnings;
    };
    row("groups and lists", "[G1]\nT1=a,b\nT2=c\n", "T1@G1=a,b T2@G1=c");
    row("type in two groups: the last read wins", "[G1]\nT1=a\n[G2]\nT1=b\n", "T1@G2=b",
        {QStringLiteral("type T1 moves from group G1 to group G2")});
    row("key outside any group", "T0=x,y\n[G1]\nT1=a\n", "T0@-=x,y T1@G1=a");
    row("General section holds the loose types", "[General]\nT0=x\n", "T0@-=x");
    row("loose key after the groups replaces the list", "T1=z\n[G1]\nT1=a\n", "T1@G1=z");
    row("byte order mark", "\xef\xbb\xbf[G1]\nT1=a\n", "T1@G1=a");
    row("empty value is one empty string", "[G1]\nT1=\n", "T1@G1=");
    row("quoted comma stays in its string", "[G1]\nT1=\"a,b\", c\n", "T1@G1=a,b,c");
    row("non-ASCII names",
        "[\xd0\x93\xd1\x80\xd1\x83\xd0\xbf\xd0\xbf\xd0\xb0]\n"
        "\xe7\xa8\xae\xe9\xa1\x9e=\xd7\xa9,b\n",
        "\xe7\xa8\xae\xe9\xa1\x9e@\xd0\x93\xd1\x80\xd1\x83\xd0\xbf\xd0\xbf\xd0\xb0=\xd7\xa9,b");
    row("nested key is skipped", "[G1]\nT1=a\nsub\\T2=b\n", "T1@G1=a",
        {QStringLiteral("skipped the keys below G1/sub")});
    row("escaped at sign is text", "[G1]\nT1=@@Variant(x), y@@Variant(\n",
        "T1@G1=@Variant(x),y@@Variant(");
    row("key without a name", "[G1]\n=z\nT1=a\n", "T1@G1=a",
        {QStringLiteral("skipped a type without a name in group G1")});
    row("empty file", "", "");
    row("comments and blank lines", "; note\n\n[G1]\n# more\nT1=a\n", "T1@G1=a");
    const QString formatWarning =
        QStringLiteral("skipped the lines of %1 that are not ini settings");
    row("cut group header", "[G1\nT1=a\n[G2]\nT2=b\n", "T1@G1=a T2@G2=b", {formatWarning});
    row("binary garbage", QByteArray("\x00\x01[\xff\xfe]]]\n==\n[G1\nT1=a\n\x80\x81=\x82\n", 27),
        "T1@G1=a \xef\xbf\xbd\xef\xbf\xbd@G1=\xef\xbf\xbd",
        {formatWarning, QStringLiteral("skipped a type without a name")});
}

void tst_CFSFileTypesFile::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, table);
    QFETCH(QStringList, warnings);
    const QString path = env->writeFile(QStringLiteral("types.ini"), content);
    CFSFileTypesFile file(path);
    for (const QString& warning : std::as_const(warnings))
        expect(QtWarningMsg, "load", warning.contains(u'%') ? warning.arg(path) : warning);
    QVERIFY(file.load());
    QCOMPARE(dump(file), table);
}

void tst_CFSFileTypesFile::loadAddsToTheHeldTable()
{
    const QString path = env->writeFile(QStringLiteral("types.ini"), "[G1]\nT2=c\nT3=d\n");
    CFSFileTypes start;
    start.setType(QStringLiteral("G1"), QStringLiteral("T1"), {QStringLiteral("a")});
    start.setType(QStringLiteral("G1"), QStringLiteral("T2"), {QStringLiteral("b")});
    CFSFileTypesFile file(path);
    file.setFileTypes(&start);
    QVERIFY(file.load());
    QCOMPARE(dump(file), QStringLiteral("T1@G1=a T2@G1=c T3@G1=d"));
    QCOMPARE(dump(start), QStringLiteral("T1@G1=a T2@G1=b"));
    const std::unique_ptr<CFSFileTypes> copy(file.getFileTypes());
    QVERIFY(copy->removeGroup(QStringLiteral("G1")));
    QCOMPARE(dump(file), QStringLiteral("T1@G1=a T2@G1=c T3@G1=d"));
}

// Files that cannot be loaded: the critical record, false, and the held table unchanged.
void tst_CFSFileTypesFile::badFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* kind, const char* message) {
        QTest::newRow(kind) << QString::fromUtf8(kind) << QString::fromUtf8(message);
    };
    row("no name", "Error no file types file specified.");
    row("missing", "Error loading file types file: %1 not found.");
    row("dangling link", "Error loading file types file: %1 not found.");
    row("directory", "Error loading file types file: %1 is not a regular file.");
    row("fifo", "Error loading file types file: %1 is not a regular file.");
    row("too large", "Error loading file types file: %1 is larger than 1048576 bytes.");
    row("serialised value", "Error loading file types file: %1 holds a serialised value "
                            "(@Variant), which is not read.");
    row("serialised value behind escapes", "Error loading file types file: %1 holds a serialised "
                                           "value (@Variant), which is not read.");
    row("serialised value behind an empty escape",
        "Error loading file types file: %1 holds a serialised value (@Variant), which is not "
        "read.");
    row("unreadable", "Error loading file types file: %1 could not be read: Permission denied");
}

void tst_CFSFileTypesFile::badFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QString path = env->root() + QStringLiteral("types.ini");
    if (kind == u"no name") {
        path.clear();
    } else if (kind == u"dangling link") {
        QVERIFY(QFile::link(env->root() + QStringLiteral("gone.ini"), path));
    } else if (kind == u"directory") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == u"fifo") {
        QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), {path}), 0);
    } else if (kind == u"too large") {
        env->writeFile(QStringLiteral("types.ini"), "[G1]\nT1=a\n");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(CFSFileTypesFile::maxFileSize + 1));
    } else if (kind == u"serialised value") {
        // A list of strings claiming 2^31 elements.
        env->writeFile(QStringLiteral("types.ini"),
                       "[G1]\nT1=a, @Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    } else if (kind == u"serialised value behind escapes") {
        env->writeFile(QStringLiteral("types.ini"),
                       "[G1]\nT1=\\x40V\\141r\"i\"ant\\x28\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    } else if (kind == u"serialised value behind an empty escape") {
        env->writeFile(QStringLiteral("types.ini"),
                       "[G1]\nT1=@Variant\\x(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    } else if (kind == u"unreadable") {
        env->writeFile(QStringLiteral("types.ini"), "[G1]\nT1=a\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        if (!permissionsApply(path))
            QSKIP("root is not refused by permission bits");
    }
    CFSFileTypesFile fresh(path);
    expect(QtCriticalMsg, "load", message.contains(u'%') ? message.arg(path) : message);
    QVERIFY(!fresh.load());
    QCOMPARE(dump(fresh), QStringLiteral("(no table)"));

    CFSFileTypesFile holding(path);
    CFSFileTypes table;
    table.setType(QStringLiteral("G1"), QStringLiteral("T1"), {QStringLiteral("a")});
    holding.setFileTypes(&table);
    expect(QtCriticalMsg, "load", message.contains(u'%') ? message.arg(path) : message);
    QVERIFY(!holding.load());
    QCOMPARE(dump(holding), QStringLiteral("T1@G1=a"));
}

// Tables that must come back from their file exactly as they were saved.
void tst_CFSFileTypesFile::roundTrip_data()
{
    QTest::addColumn<QStringList>("grouped");
    QTest::addColumn<QStringList>("loose");
    // Each item: "group|type|a,b" (an entry list of "-" is empty, "''" one empty string).
    const auto row = [](const char* name, const QStringList& grouped,
                        const QStringList& loose = {}) { QTest::newRow(name) << grouped << loose; };
    row("plain", {"G1|T1|a,b", "G1|T2|c", "G2|T3|d"}, {"|T4|e"});
    row("empty table", {});
    row("empty list and one empty string", {"G1|T1|-", "G1|T2|''"}, {"|T3|-", "|T4|''"});
    row("commas quotes and at signs",
        {"G1|T1|a\\,b", "G1|T2|\"q\"", "G1|T3|@Variant(x)", "G1|T4|@@"});
    row("spaces and separators in names", {"G 1|T 1| a ", "G=1|T;1|x", "G[1]|T\\1|y", "G#1|T%1|z"});
    row("ini words as names", {"General|T1|a", "%General|T2|b"}, {"|General|c", "|G1|d"});
    row("non-ASCII", {"Группа|種類|שלום,ü"}, {"|ключ|значение"});
    row("escaped controls inside a near marker", {"G1|T1|@Var\x01\x02\x03\x04iant(x)"});
    row("control characters", {"G\t1|T\n1|a\rb,\x01"});
}

void tst_CFSFileTypesFile::roundTrip()
{
    QFETCH(QStringList, grouped);
    QFETCH(QStringList, loose);
    CFSFileTypes table;
    for (const QString& item : grouped + loose) {
        const QStringList parts = item.split(u'|');
        QStringList entries;
        if (parts.at(2) == u"''")
            entries = {QString()};
        else if (parts.at(2) != u"-")
            entries = parts.at(2).split(QRegularExpression(QStringLiteral("(?<!\\\\),")));
        entries.replaceInStrings(QStringLiteral("\\,"), QStringLiteral(","));
        if (parts.at(0).isEmpty())
            table.setEntries(parts.at(1), entries);
        else
            table.setType(parts.at(0), parts.at(1), entries);
    }
    const QString path = env->root() + QStringLiteral("types.ini");
    CFSFileTypesFile writer(path);
    writer.setFileTypes(&table);
    QVERIFY(writer.save(false));
    CFSFileTypesFile reader(path);
    QVERIFY(reader.load());
    const std::unique_ptr<CFSFileTypes> loaded(reader.getFileTypes());
    QCOMPARE(dump(*loaded), dump(table));
    QVERIFY(*loaded == table);
}

// A save that cannot be done leaves the file on disk as it was.
void tst_CFSFileTypesFile::saveRefuses_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* kind, const char* message) {
        QTest::newRow(kind) << QString::fromUtf8(kind) << QString::fromUtf8(message);
    };
    row("no table", "Error no data supplied.");
    row("no name", "Error no file types file specified.");
    row("exists", "Error file types file already exists: %1");
    row("directory", "Error saving file types file: %1 is not a regular file.");
    row("empty type name", "Error saving file types file: %1 cannot store the name \"\"");
    row("slash in a group", "Error saving file types file: %1 cannot store the name \"G/1\"");
    row("general in another case",
        "Error saving file types file: %1 cannot store the name \"GenEral\"");
    row("folder not writable",
        "Error saving file types file: %1 could not be written: Permission denied");
}

void tst_CFSFileTypesFile::saveRefuses()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QByteArray before = "[Old]\nT0=kept\n";
    const QString folder = env->makeDir(QStringLiteral("data"));
    QString path = env->writeFile(QStringLiteral("data/types.ini"), before);
    CFSFileTypes table;
    table.setType(QStringLiteral("G1"), QStringLiteral("T1"), {QStringLiteral("a")});
    bool overwrite = true;
    if (kind == u"no name") {
        path.clear();
    } else if (kind == u"exists") {
        overwrite = false;
    } else if (kind == u"directory") {
        path = env->makeDir(QStringLiteral("data/folder.ini"));
        path.chop(1);
    } else if (kind == u"empty type name") {
        table.setEntries(QString(), {QStringLiteral("a")});
    } else if (kind == u"slash in a group") {
        table.setGroup(QStringLiteral("T2"), QStringLiteral("G/1"));
    } else if (kind == u"general in another case") {
        table.setGroup(QStringLiteral("T2"), QStringLiteral("GenEral"));
    } else if (kind == u"folder not writable") {
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (QFile(folder + QStringLiteral("probe")).open(QIODevice::WriteOnly))
            QSKIP("root is not refused by permission bits");
    }
    CFSFileTypesFile file(path);
    if (kind != u"no table")
        file.setFileTypes(&table);
    expect(QtCriticalMsg, "save", message.contains(u'%') ? message.arg(path) : message);
    QVERIFY(!file.save(overwrite));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
    QCOMPARE(readAll(env->root() + QStringLiteral("data/types.ini")), before);
    QCOMPARE(
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
        kind == u"directory" ? QStringList({QStringLiteral("folder.ini"), "types.ini"})
                             : QStringList({QStringLiteral("types.ini")}));
}

void tst_CFSFileTypesFile::saveReplacesTheWholeFile()
{
    const QString path = env->writeFile(QStringLiteral("types.ini"), "[Old]\nT0=gone\nT9=x\n");
    CFSFileTypes table;
    table.setType(QStringLiteral("G1"), QStringLiteral("T1"), {QStringLiteral("a")});
    CFSFileTypesFile file(path);
    file.setFileTypes(&table);
    QVERIFY(file.save(true));
    CFSFileTypesFile reader(path);
    QVERIFY(reader.load());
    QCOMPARE(dump(reader), QStringLiteral("T1@G1=a"));
    QCOMPARE(QDir(env->root())
                 .entryList({QStringLiteral("types.ini*")}, QDir::Files | QDir::Hidden, QDir::Name),
             QStringList{QStringLiteral("types.ini")});
}

QTEST_GUILESS_MAIN(tst_CFSFileTypesFile)
#include "tst_CFSFileTypesFile.moc"
