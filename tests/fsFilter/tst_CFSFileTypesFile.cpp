#include "fsFilter/CFSFileTypesFile.h"
#include "fsFilter/CFileSystemFileTypes.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "common/CTestThreads.h"
#include "common/CTestTree.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <atomic>
#include <memory>

namespace {

QStringList list(const char* joined)
{
    return joined ? QString::fromUtf8(joined).split(u'|') : QStringList();
}

// One line per table a test compares as a whole: "type@group=entries" for every type, sorted,
// with "-" for no group and "(none)" for no entry list.
QString dumpFileTypes(const CFSFileTypes& table)
{
    QStringList names = table.groupsByType().keys() + table.entriesByType().keys();
    names.removeDuplicates();
    names.sort();
    QStringList parts;
    for (const QString& name : std::as_const(names)) {
        const QString group = table.groupsByType().value(name, QStringLiteral("-"));
        const auto entries = table.entriesByType().constFind(name);
        parts.append(name + u'@' + group + u'=' +
                     (entries == table.entriesByType().cend() ? QStringLiteral("(none)")
                                                              : entries->join(u',')));
    }
    return parts.join(u' ');
}

// G1 holds T1 and T2, G2 holds T3, T4 has a list but no group, T5 a group but no list.
void fillSample(IFSFileTypes& table)
{
    table.setType(QStringLiteral("G1"), QStringLiteral("T1"), {QStringLiteral("a"), "b"});
    table.setType(QStringLiteral("G1"), QStringLiteral("T2"), {QStringLiteral("c")});
    table.setType(QStringLiteral("G2"), QStringLiteral("T3"), {QStringLiteral("d")});
    table.setEntries(QStringLiteral("T4"), {QStringLiteral("e")});
    table.setGroup(QStringLiteral("T5"), QStringLiteral("G3"));
}

const char* const sampleDump = "T1@G1=a,b T2@G1=c T3@G2=d T4@-=e T5@G3=(none)";

QString dump(const CFSFileTypesFile& file)
{
    const std::unique_ptr<CFSFileTypes> table(file.getFileTypes());
    return table ? dumpFileTypes(*table) : QStringLiteral("(no table)");
}

// Expects the record, with the file's path in place of %1 where the text has one.
void expect(QtMsgType type, const char* function, const QString& text, const QString& path = {})
{
    CExpect::record(type, "CFSFileTypesFile.cpp", "CFSFileTypesFile::" + QLatin1String(function),
                    text.contains(u'%') ? text.arg(path) : text);
}

// The records of the process's table loading default.ini from the working directory.
void expectInitialize(const QString& root, const QString& failure = {})
{
    CExpect::record(QtDebugMsg, QStringLiteral("CFileSystemFileTypes.cpp"),
                    QStringLiteral("CFileSystemFileTypes::initialize"),
                    "loading default file types file " + root + "work/default.ini");
    if (failure.isEmpty())
        return;
    expect(QtCriticalMsg, "load", "Error loading file types file: default.ini " + failure);
    CExpect::record(QtCriticalMsg, QStringLiteral("CFileSystemFileTypes.cpp"),
                    QStringLiteral("CFileSystemFileTypes::initialize"),
                    QStringLiteral("failed to load default file types file ..."));
}

} // namespace

class tst_CFSFileTypesFile : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    // The table itself.
    void queries_data();
    void queries();
    void changes_data();
    void changes();
    // Its file.
    void load_data();
    void load();
    void loadAddsToTheHeldTable();
    void badFiles_data();
    void badFiles();
    void roundTrip_data();
    void roundTrip();
    void saveRefuses_data();
    void saveRefuses();
    // The process's table, loaded from its file.
    void processTableFailedInitialize();
    void processTableReadersAndWritersTogether();

private:
    // The process's table, loaded from the given default.ini in the working directory.
    CFileSystemFileTypes* initialized(const QByteArray& content);
};

void tst_CFSFileTypesFile::cleanup()
{
    CFileSystemFileTypes::destroy();
    QVERIFY(!CFileSystemFileTypes::exists());
    environment.reset();
}

CFileSystemFileTypes* tst_CFSFileTypesFile::initialized(const QByteArray& content)
{
    environment->writeFile(QStringLiteral("work/default.ini"), content);
    CFileSystemFileTypes* types = CFileSystemFileTypes::instance();
    expectInitialize(dir);
    return types->initialize() ? types : nullptr;
}

// The queries of the sample table (or of an empty one), of the plain table and of the process's,
// filled alike; out is the list (or the one string) the query hands back.
void tst_CFSFileTypesFile::queries_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<bool>("empty");
    const auto row = [](const char* name, const char* query, const char* argument, bool result,
                        const char* out, bool empty = false) {
        QTest::newRow(name) << QString::fromUtf8(query) << QString::fromUtf8(argument) << result
                            << list(out) << empty;
    };
    row("no groups in an empty table", "groups", "", false, nullptr, true);
    row("no types in an empty table", "types", "", false, nullptr, true);
    row("groups once each, also without lists", "groups", "", true, "G1|G2|G3");
    row("types of a group", "typesOfGroup", "G1", true, "T1|T2");
    row("unknown group has no types", "typesOfGroup", "G9", false, nullptr);
    row("group of a type", "groupOfType", "T3", true, "G2");
    row("type without group", "groupOfType", "T4", false, nullptr);
    row("types are those with lists", "types", "", true, "T1|T2|T3|T4");
    row("entries", "entriesOfType", "T1", true, "a|b");
    row("no entries for a grouped type without list", "entriesOfType", "T5", false, nullptr);
    row("hasType with list", "hasType", "T4", true, nullptr);
    row("hasType without list", "hasType", "T5", false, nullptr);
    row("hasGroup", "hasGroup", "G3", true, nullptr);
    row("hasGroup is not a type", "hasGroup", "T1", false, nullptr);
}

void tst_CFSFileTypesFile::queries()
{
    QFETCH(QString, query);
    QFETCH(QString, argument);
    QFETCH(bool, result);
    QFETCH(QStringList, out);
    QFETCH(bool, empty);
    // The answer and what the query hands back, as "1 a|b".
    const auto ask = [&](const IFSFileTypes& table) {
        QStringList got{QStringLiteral("stale")};
        QString one = QStringLiteral("stale");
        bool answer = false;
        if (query == u"groups")
            answer = table.groups(got);
        else if (query == u"typesOfGroup")
            answer = table.typesOfGroup(argument, got);
        else if (query == u"groupOfType")
            answer = table.groupOfType(argument, one);
        else if (query == u"types")
            answer = table.types(got);
        else if (query == u"entriesOfType")
            answer = table.entriesOfType(argument, got);
        else if (query == u"hasType")
            answer = table.hasType(argument);
        else if (query == u"hasGroup")
            answer = table.hasGroup(argument);
        if (query == u"groupOfType")
            got = QStringList{one};
        return QString::number(answer) + u' ' +
               (query.startsWith(u"has") ? QString() : got.join(u'|'));
    };
    const QString expected = QString::number(result) + u' ' + out.join(u'|');
    CFSFileTypes plain;
    if (!empty)
        fillSample(plain);
    QCOMPARE(ask(plain), expected);
    // Before the process's table holds one, it answers false and hands back nothing.
    CFileSystemFileTypes* process = CFileSystemFileTypes::instance();
    QCOMPARE(ask(*process), QStringLiteral("0 "));
    QVERIFY(initialized(QByteArray()));
    if (!empty)
        fillSample(*process);
    QCOMPARE(ask(*process), expected);
}

// Each change applied to the sample table: its result and the whole table afterwards; the process's
// table answers alike.
void tst_CFSFileTypesFile::changes_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("after");
    const auto row = [](const char* name, const char* change, const char* group, const char* type,
                        const char* entries, bool result, const char* after) {
        QTest::newRow(name) << QString::fromUtf8(change) << QString::fromUtf8(group)
                            << QString::fromUtf8(type) << list(entries) << result
                            << QString::fromUtf8(after);
    };
    row("removeGroup keeps the lists", "removeGroup", "G1", "", nullptr, true,
        "T1@-=a,b T2@-=c T3@G2=d T4@-=e T5@G3=(none)");
    row("removeGroupEntries keeps the membership", "removeGroupEntries", "G1", "", nullptr, true,
        "T1@G1=(none) T2@G1=(none) T3@G2=d T4@-=e T5@G3=(none)");
    row("removeGroup of an unknown group", "removeGroup", "G9", "", nullptr, false, sampleDump);
    row("removeGroupEntries of an unknown group", "removeGroupEntries", "G9", "", nullptr, false,
        sampleDump);
    row("removeGroupEntries of a group without lists", "removeGroupEntries", "G3", "", nullptr,
        true, sampleDump);
    row("removeType keeps the group", "removeType", "", "T1", nullptr, true,
        "T1@G1=(none) T2@G1=c T3@G2=d T4@-=e T5@G3=(none)");
    row("removeType without list", "removeType", "", "T5", nullptr, false, sampleDump);
    row("setType moves a type", "setType", "G2", "T1", "x", true,
        "T1@G2=x T2@G1=c T3@G2=d T4@-=e T5@G3=(none)");
    row("setEntries replaces", "setEntries", "", "T1", "q", true,
        "T1@G1=q T2@G1=c T3@G2=d T4@-=e T5@G3=(none)");
    row("setGroup moves only the group", "setGroup", "G2", "T2", nullptr, true,
        "T1@G1=a,b T2@G2=c T3@G2=d T4@-=e T5@G3=(none)");
    row("addEntries appends", "addEntries", "", "T1", "c", true,
        "T1@G1=a,b,c T2@G1=c T3@G2=d T4@-=e T5@G3=(none)");
    row("addType to its own group appends", "addType", "G1", "T1", "c", true,
        "T1@G1=a,b,c T2@G1=c T3@G2=d T4@-=e T5@G3=(none)");
    row("addType gives a loose type its group", "addType", "G2", "T4", "f", true,
        "T1@G1=a,b T2@G1=c T3@G2=d T4@G2=e,f T5@G3=(none)");
    row("addType does not move a type of another group", "addType", "G2", "T1", "c", false,
        sampleDump);
}

void tst_CFSFileTypesFile::changes()
{
    QFETCH(QString, change);
    QFETCH(QString, group);
    QFETCH(QString, type);
    QFETCH(QStringList, entries);
    QFETCH(bool, result);
    QFETCH(QString, after);
    const auto apply = [&](IFSFileTypes& table) {
        if (change == u"removeGroup")
            return table.removeGroup(group);
        if (change == u"removeGroupEntries")
            return table.removeGroupEntries(group);
        if (change == u"removeType")
            return table.removeType(type);
        if (change == u"addEntries")
            return table.addEntries(type, entries);
        if (change == u"addType")
            return table.addType(group, type, entries);
        if (change == u"setType")
            table.setType(group, type, entries);
        else if (change == u"setEntries")
            table.setEntries(type, entries);
        else
            table.setGroup(type, group);
        return true;
    };
    // The types with lists and the groups, as the queries see them.
    const auto seen = [](const IFSFileTypes& table) {
        QStringList types;
        QStringList groups;
        table.types(types);
        table.groups(groups);
        return types.join(u',') + u'/' + groups.join(u',');
    };
    CFSFileTypes table;
    fillSample(table);
    QCOMPARE(apply(table), result);
    QCOMPARE(dumpFileTypes(table), after);
    // Before the process's table holds one, a change does nothing.
    CFileSystemFileTypes* process = CFileSystemFileTypes::instance();
    QCOMPARE(apply(*process), change.startsWith(u"set"));
    QCOMPARE(seen(*process), QStringLiteral("/"));
    QVERIFY(initialized(QByteArray()));
    fillSample(*process);
    QCOMPARE(apply(*process), result);
    QCOMPARE(seen(*process), seen(table));
}

// What a file on disk gives, and the warnings for the keys that are skipped or moved.
void tst_CFSFileTypesFile::load_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("warnings");
    const auto row = [](const char* name, const QByteArray& content, const QString& table,
                        const QStringList& warnings = {}) {
        QTest::newRow(name) << content << table << warnings;
    };
    row("groups and lists", "[G1]\nT1=a,b\nT2=c\n", "T1@G1=a,b T2@G1=c");
    row("type in two groups: the last read wins", "[G1]\nT1=a\n[G2]\nT1=b\n", "T1@G2=b",
        {"type T1 moves from group G1 to group G2"});
    row("key outside any group", "T0=x,y\n[G1]\nT1=a\n", "T0@-=x,y T1@G1=a");
    row("loose key after the groups replaces the list", "T1=z\n[G1]\nT1=a\n", "T1@G1=z");
    row("byte order mark", "\xef\xbb\xbf[G1]\nT1=a\n", "T1@G1=a");
    row("empty value is one empty string", "[G1]\nT1=\n", "T1@G1=");
    row("quoted comma stays in its string", "[G1]\nT1=\"a,b\", c\n", "T1@G1=a,b,c");
    row("nested key is skipped", "[G1]\nT1=a\nsub\\T2=b\n", "T1@G1=a",
        {"skipped the keys below G1/sub"});
    row("escaped at sign is text", "[G1]\nT1=@@Variant(x), y@@Variant(\n",
        "T1@G1=@Variant(x),y@@Variant(");
    row("marker in a text written as it stands", "[G1]\nT1=@String(@Variant(x))\n",
        "T1@G1=@Variant(x)");
    // The parser drops an escaped "@" after a numeric escape: no marker is left.
    row("escaped at sign after a numeric escape", "[G1]\nT1=\\1\\@Variant(x)\n",
        "T1@G1=\x01Variant(x)");
    row("markers inside texts", "[G1]\nT1=a@Variant(x), \" @DateTime(y)\", \"b,@Variant(z)\"\n",
        "T1@G1=a@Variant(x), @DateTime(y),b,@Variant(z)");
    row("key without a name", "[G1]\n=z\nT1=a\n", "T1@G1=a",
        {"skipped a type without a name in group G1"});
    row("escape giving half a surrogate pair", "[G1]\nT1=a\\154000b\n",
        "T1@G1=a\xef\xbf\xbd"
        "b",
        {"replaced what is not Unicode text in the list of type T1 by U+FFFD"});
    // The value's decoder drops the first mark; the second would be lost by a save.
    row("byte order marks before a list",
        "[G1]\nT1=\xef\xbb\xbf\"\xef\xbb\xbf\"a, \xef\xbb\xbf b\n", "T1@G1=a,\xef\xbb\xbf b",
        {"dropped the byte order mark (U+FEFF) the list of type T1 starts with, which a save "
         "would not keep"});
    row("type of a group without a list", "[G1]\nT1=@ByteArray()\nT2=@Invalid()\n",
        "T1@G1=(none) T2@G1=");
    const QString formatWarning = "skipped the lines of %1 that are not ini settings";
    row("binary garbage", QByteArray("\x00\x01[\xff\xfe]]]\n==\n[G1\nT1=a\n\x80\x81=\x82\n", 27),
        "T1@G1=a \xef\xbf\xbd\xef\xbf\xbd@G1=\xef\xbf\xbd",
        {formatWarning, "skipped a type without a name"});
    // Inputs that fuzzing found.
    row("escaped marker, null characters, a cut UTF-8 sequence",
        QByteArray::fromBase64(
            "WyxHMV0KVDE9QEBEYXRlVGltZShWYXJpYW4pPXQoXDBcMFwwLHYilFx4ZmZcIXhmZsU9QFZhcmlhbikK"),
        QStringLiteral("T1@,G1=@DateTime(Varian)=t(\0\0\0,v\uFFFD\u00FFxff\uFFFD=@Varian)\n"));
    row("byte order marks before a value", QByteArray::fromBase64("77u/R1sxPe+7vyLvu78iYQ=="),
        "G[1@-=a",
        {"dropped the byte order mark (U+FEFF) the list of type G[1 starts with, which a save "
         "would not keep"});
}

void tst_CFSFileTypesFile::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, table);
    QFETCH(QStringList, warnings);
    const QString path = environment->writeFile("types.ini", content);
    CFSFileTypesFile file(path);
    for (const QString& warning : std::as_const(warnings))
        expect(QtWarningMsg, "load", warning, path);
    QVERIFY(file.load());
    QCOMPARE(dump(file), table);
    // Whatever table a file gives, saving it gives that table again.
    const std::unique_ptr<CFSFileTypes> loaded(file.getFileTypes());
    CFSFileTypesFile writer(dir + "saved.ini");
    writer.setFileTypes(loaded.get());
    QVERIFY(writer.save(false));
    CFSFileTypesFile again(dir + "saved.ini");
    QVERIFY(again.load());
    QCOMPARE(dump(again), table);
}

void tst_CFSFileTypesFile::loadAddsToTheHeldTable()
{
    CFSFileTypes start;
    start.setType("G1", "T1", {"a"});
    start.setType("G1", "T2", {"b"});
    CFSFileTypesFile file(environment->writeFile("types.ini", "[G1]\nT2=c\nT3=d\n"));
    file.setFileTypes(&start);
    QVERIFY(file.load());
    QCOMPARE(dump(file), "T1@G1=a T2@G1=c T3@G1=d");
    QCOMPARE(dumpFileTypes(start), "T1@G1=a T2@G1=b");
    const std::unique_ptr<CFSFileTypes> copy(file.getFileTypes());
    QVERIFY(copy->removeGroup("G1"));
    QCOMPARE(dump(file), "T1@G1=a T2@G1=c T3@G1=d");
}

// Files that cannot be loaded: the critical record, false, and the held table unchanged.
void tst_CFSFileTypesFile::badFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* kind, const QString& message, const QByteArray& content = {}) {
        QTest::newRow(kind) << QString::fromUtf8(kind) << content << message;
    };
    const QString prefix = QStringLiteral("Error loading file types file: %1 ");
    const QString serialised =
        prefix + "holds a serialised value (@Variant or @DateTime), which is not read.";
    row("no name", "Error no file types file specified.");
    row("missing", prefix + "not found.");
    row("fifo", prefix + "is not a regular file.");
    row("too large", prefix + "is larger than 1048576 bytes.", "[G1]\nT1=a\n");
    // A list of strings claiming 2^31 elements.
    row("serialised value", serialised, "[G1]\nT1=a, @Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    row("serialised value behind escapes", serialised,
        "[G1]\nT1=\\x40V\\141r\"i\"ant\\x28\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    row("serialised value behind an empty escape", serialised,
        "[G1]\nT1=@Variant\\x(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    row("serialised value as a time", serialised,
        "[G1]\nT1=@D\\x61teTime(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    // The parser skips spaces after a closing quote and a byte order mark at a value's start.
    row("serialised value behind quotes and spaces", serialised,
        "[G1]\nT1=x, \"\" \t@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    row("serialised value behind a byte order mark", serialised,
        "[G1]\nT1=\xef\xbb\"\xbf\"@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    row("marker split by a byte order mark", serialised,
        "[G1]\nT1=\\x40\\x56\\x61\\x72\xef\xbb\xbfiant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    row("unreadable", prefix + "could not be read: Permission denied", "[G1]\nT1=a\n");
}

void tst_CFSFileTypesFile::badFiles()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QString path = dir + "types.ini";
    if (!content.isNull())
        environment->writeFile("types.ini", content);
    if (kind == u"no name") {
        path.clear();
    } else if (kind == u"fifo") {
        QCOMPARE(QProcess::execute("mkfifo", {path}), 0);
    } else if (kind == u"too large") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(CFSFileTypesFile::maxFileSize + 1));
    } else if (kind == u"unreadable") {
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        if (QFile(path).open(QIODevice::ReadOnly))
            QSKIP("root is not refused by permission bits");
    }
    // Whether the file held a table or not, it keeps what it held.
    CFSFileTypes table;
    table.setType("G1", "T1", {"a"});
    for (CFSFileTypes* held : {static_cast<CFSFileTypes*>(nullptr), &table}) {
        CFSFileTypesFile file(path);
        if (held)
            file.setFileTypes(held);
        expect(QtCriticalMsg, "load", message, path);
        QVERIFY(!file.load());
        QCOMPARE(dump(file), held ? "T1@G1=a" : "(no table)");
    }
}

// Tables that must come back from their file exactly as they were saved.
void tst_CFSFileTypesFile::roundTrip_data()
{
    QTest::addColumn<QStringList>("grouped");
    QTest::addColumn<QStringList>("loose");
    // Each item: "group|type|a,b" (an entry list of "-" is empty, "''" one empty string, "(none)"
    // no list at all; "\\0" is a null character).
    const auto row = [](const char* name, const QStringList& grouped,
                        const QStringList& loose = {}) { QTest::newRow(name) << grouped << loose; };
    row("plain", {"G1|T1|a,b", "G1|T2|c", "G2|T3|d"}, {"|T4|e"});
    row("empty table", {});
    row("empty list and one empty string", {"G1|T1|-", "G1|T2|''"}, {"|T3|-", "|T4|''"});
    row("group with and without lists", {"G1|T1|(none)", "G1|T2|-", "G1|T3|a"});
    row("commas quotes and at signs",
        {"G1|T1|a\\,b", "G1|T2|\"q\"", "G1|T3|@Variant(x)", "G1|T4|@@"});
    row("spaces and separators in names", {"G 1|T 1| a ", "G=1|T;1|x", "G[1]|T\\1|y", "G#1|T%1|z"});
    row("ini words as names", {"General|T1|a", "%General|T2|b"}, {"|General|c", "|G1|d"});
    row("escaped controls inside a near marker", {"G1|T1|@Var\x01\x02\x03\x04iant(x)"});
    row("control characters", {"G\t1|T\n1|a\rb,\x01"});
    // Texts with a null character are written as "@String(...)".
    row("byte order marks not at the start",
        {"G1|T1|a,\xef\xbb\xbf"
         "b",
         "G1|T2|@\xef\xbb\xbf"},
        {"|T3|x,\xef\xbb\xbf@y"});
    row("markers inside texts", {"G1|T1|a@Variant(x), @DateTime(y),b=@Variant(z),c;@Variant(w)"},
        {"|T2| @Variant(x)"});
    row("null characters after escaped markers",
        {"G1|T1|@Variant(a\\0b),@DateTime(\\0", "G1|T2|@@Variant(\\0", "G1|T3|x@@Variant(\\0"});
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
            entries = parts.at(2).split(QRegularExpression("(?<!\\\\),"));
        entries.replaceInStrings("\\,", ",");
        entries.replaceInStrings("\\0", QString(QChar(u'\0')));
        if (parts.at(2) == u"(none)")
            table.setGroup(parts.at(1), parts.at(0));
        else if (parts.at(0).isEmpty())
            table.setEntries(parts.at(1), entries);
        else
            table.setType(parts.at(0), parts.at(1), entries);
    }
    // Saved over an older file, which is replaced whole and leaves nothing beside it.
    const QString path = environment->writeFile("types.ini", "[Old]\nT0=gone\nT9=x\n");
    CFSFileTypesFile writer(path);
    writer.setFileTypes(&table);
    QVERIFY(writer.save(true));
    CFSFileTypesFile reader(path);
    QVERIFY(reader.load());
    const std::unique_ptr<CFSFileTypes> loaded(reader.getFileTypes());
    QCOMPARE(dumpFileTypes(*loaded), dumpFileTypes(table));
    QVERIFY(*loaded == table);
    QCOMPARE(QDir(dir).entryList({"types.ini*"}, QDir::Files | QDir::Hidden, QDir::Name),
             QStringList{"types.ini"});
}

// A save that cannot be done leaves the file on disk as it was.
void tst_CFSFileTypesFile::saveRefuses_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* kind, const QString& message) {
        QTest::newRow(kind) << QString::fromUtf8(kind) << message;
    };
    const QString prefix = QStringLiteral("Error saving file types file: %1 ");
    row("no table", "Error no data supplied.");
    row("no name", "Error no file types file specified.");
    row("exists", "Error file types file already exists: %1");
    row("directory", prefix + "is not a regular file.");
    row("empty type name", prefix + "cannot store the name \"\"");
    row("slash in a group", prefix + "cannot store the name \"G/1\"");
    row("general in another case", prefix + "cannot store the name \"GenEral\"");
    row("folder not writable", prefix + "could not be written: Permission denied");
}

void tst_CFSFileTypesFile::saveRefuses()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QByteArray before = "[Old]\nT0=kept\n";
    const QString folder = environment->makeDir("data");
    QString path = environment->writeFile("data/types.ini", before);
    CFSFileTypes table;
    table.setType("G1", "T1", {"a"});
    bool overwrite = true;
    if (kind == u"no name") {
        path.clear();
    } else if (kind == u"exists") {
        overwrite = false;
    } else if (kind == u"directory") {
        path = environment->makeDir("data/folder.ini");
        path.chop(1);
    } else if (kind == u"empty type name") {
        table.setEntries(QString(), {"a"});
    } else if (kind == u"slash in a group") {
        table.setGroup("T2", "G/1");
    } else if (kind == u"general in another case") {
        table.setGroup("T2", "GenEral");
    } else if (kind == u"folder not writable") {
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (QFile(folder + "probe").open(QIODevice::WriteOnly))
            QSKIP("root is not refused by permission bits");
    }
    CFSFileTypesFile file(path);
    if (kind != u"no table")
        file.setFileTypes(&table);
    expect(QtCriticalMsg, "save", message, path);
    QVERIFY(!file.save(overwrite));
    CTestTree::unlock(dir);
    QCOMPARE(CTestTree::content(folder + "types.ini"), before);
    const QStringList left =
        kind == u"directory" ? QStringList{"folder.ini", "types.ini"} : QStringList{"types.ini"};
    QCOMPARE(
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
        left);
}

// A failed load keeps the table held before, or none.
void tst_CFSFileTypesFile::processTableFailedInitialize()
{
    // The file next to the home folder is not the one in the working directory.
    environment->writeFile(QStringLiteral("default.ini"), "[G1]\nT1=a\n");
    expectInitialize(dir, QStringLiteral("not found."));
    QVERIFY(!CFileSystemFileTypes::instance()->initialize());
    QVERIFY(!CFileSystemFileTypes::instance()->hasType(QStringLiteral("T1")));
    CFileSystemFileTypes* types = initialized("[G1]\nT1=a\n");
    QVERIFY(types);
    const QString path = dir + "work/default.ini";
    QVERIFY(QFile::remove(path));
    QVERIFY(QDir().mkpath(path));
    expectInitialize(dir, QStringLiteral("is not a regular file."));
    QVERIFY(!types->initialize());
    QVERIFY(types->hasType(QStringLiteral("T1")));
}

// Readers never see a type without its list while a writer moves it between groups; the
// checks run in the threads and are counted, the threads are joined with bounded waits.
void tst_CFSFileTypesFile::processTableReadersAndWritersTogether()
{
    CFileSystemFileTypes* types = initialized("[G1]\nT1=a\n");
    QVERIFY(types);
    const int rounds = 2000;
    std::atomic<int> failures{0};
    // Three readers, and the writer last.
    QVERIFY(runOnThreads(4, [&](int thread) {
        for (int i = 0; i < rounds; ++i) {
            QString group;
            QStringList entries;
            if (thread == 3) {
                types->setType(QStringLiteral("G") + QString::number(i % 3), QStringLiteral("T1"),
                               {QString::number(i)});
                types->addEntries(QStringLiteral("T") + QString::number(i), {QStringLiteral("x")});
            } else if (!types->groupOfType(QStringLiteral("T1"), group) ||
                       !types->entriesOfType(QStringLiteral("T1"), entries) || entries.isEmpty()) {
                ++failures;
            }
        }
    }));
    QCOMPARE(failures.load(), 0);
    QStringList all;
    QVERIFY(types->types(all));
    QCOMPARE(all.size(), rounds); // T0 to T1999, T1 among them
}

QTEST_GUILESS_MAIN(tst_CFSFileTypesFile)
#include "tst_CFSFileTypesFile.moc"
