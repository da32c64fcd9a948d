#include "diagnostics/CAsserter.h"
#include "diagnostics/CAsserterEx.h"

#include "common/CTestChild.h"

#include <QTest>

#include <iostream>
#include <sstream>
#include <stdexcept>
#include <typeinfo>

namespace {

QByteArray prompt(bool withThrow)
{
    return "\n\n##########################################################\n"
           "Assertion failed: \"x > 1\"\nFile            : ../../../src/x/F.cpp:12\n"
           "Line            : F::check\n\nA - Abort\nI - Ignore\nL - Always ignore this "
           "assertion\nG - Ignore all assertions\n" +
           QByteArray(withThrow ? "T - Throw an exception\n" : "") +
           "ENTER - Debug\n\nYour choice: \n";
}

// Stands in for the console: std::cin reads the given input, std::cout is collected.
struct Console
{
    explicit Console(const QByteArray& input) : in(input.toStdString())
    {
        std::cin.rdbuf(in.rdbuf());
        std::cout.rdbuf(out.rdbuf());
        std::cin.clear();
    }
    ~Console()
    {
        std::cin.rdbuf(oldIn);
        std::cout.rdbuf(oldOut);
        std::cin.clear();
    }
    QByteArray output() const { return QByteArray::fromStdString(out.str()); }
    QByteArray unread() const
    {
        const auto position = in.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in);
        return QByteArray::fromStdString(in.str()).mid(qsizetype(position));
    }

    std::stringstream in;
    std::stringstream out;
    std::streambuf* oldIn = std::cin.rdbuf();
    std::streambuf* oldOut = std::cout.rdbuf();
};

bool failAt(bool withThrow, bool* alwaysIgnore, bool conditionHolds = false)
{
    CAsserter plain(conditionHolds);
    CAsserterEx<std::runtime_error> extended(conditionHolds, "Assertion failed!");
    CAsserter& asserter = withThrow ? extended : plain;
    return asserter.assertFailed("x > 1", "F::check", "../../../src/x/F.cpp", 12, alwaysIgnore);
}

} // namespace

class tst_CAsserter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { CAsserter::ignoreAllAssertions = false; }
    void answers_data();
    void answers();
    void thrown_data();
    void thrown();
    void abortChoice();
};

void tst_CAsserter::answers_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("withThrow");
    QTest::addColumn<char>("effect");
    QTest::addColumn<QByteArray>("unread");
    QTest::newRow("I") << QByteArray("I\n") << true << 'I' << QByteArray();
    QTest::newRow("lower-case i") << QByteArray("i\n") << false << 'I' << QByteArray();
    QTest::newRow("L") << QByteArray("L\n") << true << 'L' << QByteArray();
    QTest::newRow("G") << QByteArray("G\n") << true << 'G' << QByteArray();
    QTest::newRow("ENTER") << QByteArray("\n") << true << 'D' << QByteArray();
    QTest::newRow("unknown letter") << QByteArray("x\n") << true << 'D' << QByteArray();
    QTest::newRow("T at CAsserter") << QByteArray("T\n") << false << 'D' << QByteArray();
    QTest::newRow("condition holds") << QByteArray("I\n") << true << 'H' << QByteArray("I\n");
    QTest::newRow("rest of line") << QByteArray("i, L\nL\n") << false << 'I' << QByteArray("L\n");
}

void tst_CAsserter::answers()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, withThrow);
    QFETCH(char, effect);
    QFETCH(QByteArray, unread);
    Console console(input);
    bool flag = false;
    QCOMPARE(failAt(withThrow, &flag, effect == 'H'), effect != 'D');
    QCOMPARE(flag, effect == 'L');
    QCOMPARE(CAsserter::ignoreAllAssertions, effect == 'G');
    QCOMPARE(console.output(), effect == 'H' ? QByteArray() : prompt(withThrow));
    QCOMPARE(console.unread(), unread);
}

void tst_CAsserter::thrown_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("text");
    const QByteArray runtimeError = typeid(std::runtime_error).name();
    const QByteArray logicError = typeid(std::logic_error).name();
    const QByteArray broken = "Error: Input stream broken";
    QTest::newRow("T") << QByteArray("t\n") << runtimeError << QByteArray("Assertion failed!");
    QTest::newRow("end of input") << QByteArray() << QByteArray(typeid(std::range_error).name())
                                  << QByteArray("Error: Found 'EOF' in standard input stream");
    QTest::newRow("broken stream") << QByteArray("I\n") << logicError << broken;
    QTest::newRow("answer without end of line") << QByteArray("i") << logicError << broken;
}

void tst_CAsserter::thrown()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, text);
    Console console(input);
    if (QTest::currentDataTag() == QByteArray("broken stream"))
        std::cin.setstate(std::ios::badbit);
    try {
        failAt(true, nullptr);
        QFAIL("nothing thrown");
    } catch (const std::exception& error) {
        QCOMPARE(QByteArray(typeid(error).name()), type);
        QCOMPARE(QByteArray(error.what()), text);
    }
}

void tst_CAsserter::abortChoice()
{
    if (CTestChild::isChild()) {
        failAt(true, nullptr);
        QFAIL("the process went on after A");
    }
    // The child reads its real standard input; its folder takes a core file.
    QProcessEnvironment environment = CTestChild::childEnvironment();
    environment.insert(QStringLiteral("QTEST_DISABLE_STACK_DUMP"), QStringLiteral("1"));
    const CChildOutcome child =
        CTestChild::runCase(QStringLiteral("abortChoice"), environment, {}, 30000, "ab\nI\n");
    QVERIFY(child.killed);
    QVERIFY2(child.output.contains(prompt(true)), child.output.constData());
    QVERIFY(!child.output.contains("FAIL"));
}

QTEST_GUILESS_MAIN(tst_CAsserter)
#include "tst_CAsserter.moc"
