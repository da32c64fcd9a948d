#include "fsFilter/CFSFileTypes.h"

#include "common/CFileTypesDump.h"

#include <QTest>

namespace {

QStringList list(const char* joined)
{
    return joined ? QString::fromUtf8(joined).split(u'|') : QStringList();
}

// G1 holds T1 and T2, G2 holds T3, T4 has a list but no group, T5 a group but no list.
CFSFileTypes sample()
{
    CFSFileTypes table;
    table.setType(QStringLiteral("G1"), QStringLiteral("T1"), {QStringLiteral("a"), "b"});
    table.setType(QStringLiteral("G1"), QStringLiteral("T2"), {QStringLiteral("c")});
    table.setType(QStringLiteral("G2"), QStringLiteral("T3"), {QStringLiteral("d")});
    table.setEntries(QStringLiteral("T4"), {QStringLiteral("e")});
    table.setGroup(QStringLiteral("T5"), QStringLiteral("G3"));
    return table;
}

const char* const sampleDump = "T1@G1=a,b T2@G1=c T3@G2=d T4@-=e T5@G3=(none)";

} // namespace

class tst_CFSFileTypes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void queries_data();
    void queries();
    void changes_data();
    void changes();
    void copyIsIndependent();
};

// The queries of the sample table (or of an empty one); out is the list (or the one string) the
// query hands back.
void tst_CFSFileTypes::queries_data()
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

void tst_CFSFileTypes::queries()
{
    QFETCH(QString, query);
    QFETCH(QString, argument);
    QFETCH(bool, result);
    QFETCH(QStringList, out);
    QFETCH(bool, empty);
    const CFSFileTypes table = empty ? CFSFileTypes() : sample();
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
    QCOMPARE(answer, result);
    if (query == u"groupOfType")
        QCOMPARE(one, out.value(0));
    else if (!query.startsWith(u"has"))
        QCOMPARE(got, out);
}

// Each change applied to the sample table: its result and the whole table afterwards.
void tst_CFSFileTypes::changes_data()
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

void tst_CFSFileTypes::changes()
{
    QFETCH(QString, change);
    QFETCH(QString, group);
    QFETCH(QString, type);
    QFETCH(QStringList, entries);
    QFETCH(bool, result);
    QFETCH(QString, after);
    CFSFileTypes table = sample();
    bool answer = true;
    if (change == u"removeGroup")
        answer = table.removeGroup(group);
    else if (change == u"removeGroupEntries")
        answer = table.removeGroupEntries(group);
    else if (change == u"removeType")
        answer = table.removeType(type);
    else if (change == u"setType")
        table.setType(group, type, entries);
    else if (change == u"setEntries")
        table.setEntries(type, entries);
    else if (change == u"setGroup")
        table.setGroup(type, group);
    else if (change == u"addEntries")
        answer = table.addEntries(type, entries);
    else if (change == u"addType")
        answer = table.addType(group, type, entries);
    else
        QFAIL("unknown change");
    QCOMPARE(answer, result);
    QCOMPARE(dumpFileTypes(table), after);
}

void tst_CFSFileTypes::copyIsIndependent()
{
    CFSFileTypes table = sample();
    const CFSFileTypes copy(table);
    QVERIFY(copy == table);
    QVERIFY(table.removeGroup(QStringLiteral("G1")));
    table.setEntries(QStringLiteral("T4"), {});
    QVERIFY(copy != table);
    QCOMPARE(dumpFileTypes(copy), QString::fromLatin1(sampleDump));
}

QTEST_GUILESS_MAIN(tst_CFSFileTypes)
#include "tst_CFSFileTypes.moc"
