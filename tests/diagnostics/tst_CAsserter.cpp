#include "diagnostics/CAssert.h"
#include "diagnostics/CAsserter.h"
#include "diagnostics/CAsserterEx.h"
#include "threading/threads/CCallStack.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <iostream>
#include <sstream>
#include <stdexcept>

namespace {

const QByteArray choices = "A - Abort\nI - Ignore\nL - Always ignore this assertion\n"
                           "G - Ignore all assertions\n";

QByteArray prompt(const QByteArray& choiceText)
{
    return "\n\n##########################################################\n"
           "Assertion failed: \"x > 1\"\nFile            : ../../../src/x/F.cpp:12\n"
           "Line            : F::check\n\n" +
           choiceText + "\n\nYour choice: \n";
}

// Stands in for the console: std::cin reads the given input, std::cout is collected.
class Console
{
public:
    explicit Console(const QByteArray& input) : in(input.toStdString())
    {
        oldIn = std::cin.rdbuf(in.rdbuf());
        oldOut = std::cout.rdbuf(out.rdbuf());
        std::cin.clear();
    }
    ~Console()
    {
        std::cin.rdbuf(oldIn);
        std::cout.rdbuf(oldOut);
        std::cin.clear();
    }
    QByteArray output() const { return QByteArray::fromStdString(out.str()); }
    QByteArray unread()
    {
        std::string rest;
        std::getline(std::cin, rest, '\0');
        return QByteArray::fromStdString(rest);
    }

private:
    std::stringstream in;
    std::stringstream out;
    std::streambuf* oldIn;
    std::streambuf* oldOut;
};

bool failAt(CAsserter& asserter, bool* alwaysIgnore)
{
    return asserter.assertFailed("x > 1", "F::check", "../../../src/x/F.cpp", 12, alwaysIgnore);
}

// Two assertion sites, each with its own "always ignore" flag.
void siteOne()
{
    SY_FUNCTION("Sites::one");
    const bool first = false;
    SY_ASSERT(first);
}

void siteTwo()
{
    SY_FUNCTION("Sites::two");
    const bool connRes = false;
    SY_ASSERT(connRes);
}

} // namespace

class tst_CAsserter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void promptText_data();
    void promptText();
    void answers_data();
    void answers();
    void throwChoice();
    void restOfLineDiscarded();
    void endOfInput();
    void brokenStream_data();
    void brokenStream();
    void holdingConditionIsSilent();
    void alwaysIgnorePerSite();
    void ignoreAll();
    void siteGoesOnAfterDebugChoice();
    void abortChoice();
};

void tst_CAsserter::cleanup()
{
    CAsserter::ignoreAllAssertions = false;
}

void tst_CAsserter::promptText_data()
{
    QTest::addColumn<bool>("withThrow");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("CAsserter") << false << prompt(choices + "ENTER - Debug");
    QTest::newRow("CAsserterEx") << true
                                 << prompt(choices + "T - Throw an exception\nENTER - Debug");
}

void tst_CAsserter::promptText()
{
    QFETCH(bool, withThrow);
    QFETCH(QByteArray, expected);
    Console console("I\n");
    CAsserter plain(false);
    CAsserterEx<std::runtime_error> extended(false, "Assertion failed!");
    QVERIFY(failAt(withThrow ? extended : plain, nullptr));
    QCOMPARE(console.output(), expected);
}

void tst_CAsserter::answers_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("withThrow");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("alwaysIgnore");
    QTest::addColumn<bool>("ignoreAll");
    QTest::newRow("I") << QByteArray("I\n") << true << true << false << false;
    QTest::newRow("lower-case i") << QByteArray("i\n") << true << true << false << false;
    QTest::newRow("L") << QByteArray("L\n") << true << true << true << false;
    QTest::newRow("lower-case l") << QByteArray("l\n") << false << true << true << false;
    QTest::newRow("G") << QByteArray("G\n") << true << true << false << true;
    QTest::newRow("ENTER debugs") << QByteArray("\n") << true << false << false << false;
    QTest::newRow("unknown letter debugs") << QByteArray("x\n") << true << false << false << false;
    QTest::newRow("T at CAsserter debugs") << QByteArray("T\n") << false << false << false << false;
}

void tst_CAsserter::answers()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, withThrow);
    QFETCH(bool, result);
    QFETCH(bool, alwaysIgnore);
    QFETCH(bool, ignoreAll);
    Console console(input);
    CAsserter plain(false);
    CAsserterEx<std::runtime_error> extended(false, "Assertion failed!");
    bool flag = false;
    QCOMPARE(failAt(withThrow ? extended : plain, &flag), result);
    QCOMPARE(flag, alwaysIgnore);
    QCOMPARE(CAsserter::ignoreAllAssertions, ignoreAll);
    QVERIFY(console.output().endsWith("Your choice: \n"));
}

void tst_CAsserter::throwChoice()
{
    Console console("t\n");
    CAsserterEx<std::runtime_error> asserter(false, "Assertion failed!");
    try {
        failAt(asserter, nullptr);
        QFAIL("nothing thrown");
    } catch (const std::runtime_error& error) {
        QCOMPARE(error.what(), "Assertion failed!");
    }
}

void tst_CAsserter::restOfLineDiscarded()
{
    Console console("i and more\nL\n");
    CAsserter asserter(false);
    bool flag = false;
    QVERIFY(failAt(asserter, &flag));
    QVERIFY(!flag);
    QCOMPARE(console.unread(), QByteArray("L\n"));
}

void tst_CAsserter::endOfInput()
{
    Console console("");
    CAsserter asserter(false);
    try {
        failAt(asserter, nullptr);
        QFAIL("nothing thrown");
    } catch (const std::range_error& error) {
        QCOMPARE(error.what(), "Error: Found 'EOF' in standard input stream");
    }
}

void tst_CAsserter::brokenStream_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("bad");
    QTest::newRow("bad stream") << QByteArray("I\n") << true;
    QTest::newRow("answer without end of line") << QByteArray("i") << false;
}

void tst_CAsserter::brokenStream()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, bad);
    Console console(input);
    if (bad)
        std::cin.setstate(std::ios::badbit);
    CAsserter asserter(false);
    try {
        failAt(asserter, nullptr);
        QFAIL("nothing thrown");
    } catch (const std::logic_error& error) {
        QCOMPARE(error.what(), "Error: Input stream broken");
    }
}

void tst_CAsserter::holdingConditionIsSilent()
{
    Console console("I\n");
    CAsserterEx<std::runtime_error> asserter(true, "Assertion failed!");
    bool flag = false;
    QVERIFY(failAt(asserter, &flag));
    CAsserter::ignoreAllAssertions = true;
    QVERIFY(failAt(asserter, &flag));
    QVERIFY(!flag);
    QVERIFY(console.output().isEmpty());
    QCOMPARE(console.unread(), QByteArray("I\n"));
}

void tst_CAsserter::alwaysIgnorePerSite()
{
    Console console("L\nI\n");
    siteOne();
    siteOne();
    QVERIFY(console.output().contains("Assertion failed: \"first\""));
    siteTwo();
    const QByteArray output = console.output();
    QCOMPARE(output.count("Your choice: "), 2);
    QVERIFY(output.contains("Assertion failed: \"connRes\"\nFile            : "
                            "../../../tests/diagnostics/tst_CAsserter.cpp:"));
    QVERIFY(output.contains("Line            : Sites::two\n"));
    QVERIFY(console.unread().isEmpty());
}

void tst_CAsserter::ignoreAll()
{
    Console console("g\n");
    siteTwo();
    siteTwo();
    siteOne();
    QCOMPARE(console.output().count("Your choice: "), 1);
    QVERIFY(CAsserter::ignoreAllAssertions);
}

void tst_CAsserter::siteGoesOnAfterDebugChoice()
{
    // No debugger is attached, so the break lets the site go on.
    Console console("\n\n");
    siteTwo();
    siteTwo();
    QCOMPARE(console.output().count("Your choice: "), 2);
}

void tst_CAsserter::abortChoice()
{
    if (qEnvironmentVariableIsSet("SY_ASSERTER_CHILD")) {
        // Reads the real standard input that the parent writes.
        CAsserterEx<std::runtime_error> asserter(false, "Assertion failed!");
        failAt(asserter, nullptr);
        QFAIL("the process went on after A");
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SY_ASSERTER_CHILD"), QStringLiteral("1"));
    // The abort is expected: no debugger stack dump, and any core file stays in a temporary
    // folder.
    environment.insert(QStringLiteral("QTEST_DISABLE_STACK_DUMP"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    const QTemporaryDir workDir;
    QVERIFY(workDir.isValid());
    child.setWorkingDirectory(workDir.path());
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("abortChoice")});
    QVERIFY(child.waitForStarted(10000));
    child.write("ab\nI\n");
    child.closeWriteChannel();
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    const QByteArray output = child.readAllStandardOutput();
    QVERIFY2(output.contains(prompt(choices + "T - Throw an exception\nENTER - Debug")),
             output.constData());
    QVERIFY(!output.contains("FAIL"));
}

QTEST_GUILESS_MAIN(tst_CAsserter)
#include "tst_CAsserter.moc"
