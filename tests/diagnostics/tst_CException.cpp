#include "diagnostics/CException.h"
#include "diagnostics/CSystemException.h"

#include "threading/threads/CBasicThread.h"

#include <QRegularExpression>
#include <QTest>

#include <vector>

#include <memory>
#include <sstream>

namespace {

// A fixed stack, so that texts do not depend on the test's own call depth.
CCallStack fixedStack()
{
    static const CCallSiteRecord outer{10, "Outer::run", "../../../src/x/Outer.cpp", nullptr};
    static const CCallSiteRecord inner{20, "Inner::work", "../../../src/x/Inner.cpp", nullptr};
    CCallStack stack(0, 5, "worker", "Basic Thread Implementation");
    stack.push(outer);
    stack.push(inner);
    return stack;
}

const QByteArray fixedTrace = "StackTrace:\n[worker]\t(ThreadID: 5)\nBasic Thread Implementation\n"
                              "(1)\t[../../../src/x/Inner.cpp:20]\tInner::work\n"
                              "(0)\t[../../../src/x/Outer.cpp:10]\tOuter::run\n";

QByteArray baseText(const char* place, const QByteArray& details)
{
    return "CException::CException:\tThis is a CxException\n\tthrown at " + QByteArray(place) +
           "\n" + details + fixedTrace;
}

void throwSystemError()
{
    SY_FUNCTION("Thrower::throwSystemError");
    throw CSystemException(SY_HERE, QStringLiteral("no disk"), CCallStack::current(), 28, -1);
}

// Keeps an exception made on its own thread, with that thread's call stack.
class Thrower : public CBasicThread
{
public:
    explicit Thrower(std::unique_ptr<CException>& kept)
        : CBasicThread(false, nullptr, "Described::Thrower"), kept(kept)
    {}

protected:
    int runMethod() override
    {
        SY_FUNCTION("Thrower::runMethod");
        kept = std::make_unique<CException>(SY_HERE, QStringLiteral("late"), CCallStack::current());
        return 0;
    }

private:
    std::unique_ptr<CException>& kept;
};

} // namespace

class tst_CException : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whatText_data();
    void whatText();
    void causeChain();
    void thrownFromInstrumentedFunction();
    void outlivesItsThread();
};

void tst_CException::whatText_data()
{
    QTest::addColumn<QString>("details");
    QTest::addColumn<bool>("system");
    QTest::addColumn<int>("primary");
    QTest::addColumn<int>("secondary");
    QTest::addColumn<QByteArray>("middle");
    QTest::newRow("details") << QStringLiteral("disk full") << false << 0 << 0
                             << QByteArray("Details:\ndisk full\n");
    QTest::newRow("non-ASCII details")
        << QStringLiteral("\u0444\u0430\u0439\u043b \u00e9") << false << 0 << 0
        << QByteArray("Details:\n\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb \xc3\xa9\n");
    QTest::newRow("empty details") << QString() << false << 0 << 0 << QByteArray();
    QTest::newRow("system, codes unknown")
        << QStringLiteral("io") << true << -1 << -1
        << QByteArray("Details:\nio\nPrimaryErrorCode:\tUnknown\nSecondaryErrorCode:\tUnknown\n");
    QTest::newRow("system, codes known")
        << QStringLiteral("io") << true << 0 << 32
        << QByteArray("Details:\nio\nPrimaryErrorCode:\t0\nSecondaryErrorCode:\t32\n");
}

void tst_CException::whatText()
{
    QFETCH(QString, details);
    QFETCH(bool, system);
    QFETCH(int, primary);
    QFETCH(int, secondary);
    QFETCH(QByteArray, middle);
    const char* file = "../../../src/x/Place.cpp";
    const std::unique_ptr<CException> exception(
        system ? new CSystemException("Place::throwIt", file, 77, details, fixedStack(), primary,
                                      secondary)
               : new CException("Place::throwIt", file, 77, details, fixedStack()));
    const QByteArray head =
        (system ? "CSystemException::CSystemException:\tA System Error occurred"
                : "CException::CException:\tThis is a CxException") +
        QByteArray("\n\tthrown at [../../../src/x/Place.cpp:77]\tPlace::throwIt\n");
    const QByteArray expected = head + middle + fixedTrace;
    QCOMPARE(QByteArray(exception->what()), expected);
    // A copy reads empty details as the default text.
    const std::unique_ptr<CException> clone(exception->clone());
    QCOMPARE(bool(dynamic_cast<CSystemException*>(clone.get())), system);
    if (middle.isEmpty())
        middle = "Details:\nNo Additional Exception Information Available !\n";
    QCOMPARE(QByteArray(clone->what()), head + middle + fixedTrace);
    std::ostringstream stream;
    stream << *exception;
    QCOMPARE(QByteArray::fromStdString(stream.str()), expected);
}

void tst_CException::causeChain()
{
    const CException root("Root::f", "r.cpp", 1, QStringLiteral("root"), fixedStack());
    const CException middle("Middle::f", "m.cpp", 2, QStringLiteral("middle"), fixedStack(), root);
    const CException top("Top::f", "t.cpp", 3, QStringLiteral("top"), fixedStack(), middle);
    const QByteArray rootText = baseText("[r.cpp:1]\tRoot::f", "Details:\nroot\n");
    QCOMPARE(QByteArray(top.what()),
             baseText("[t.cpp:3]\tTop::f", "Details:\ntop\n") + "caused by\t" +
                 baseText("[m.cpp:2]\tMiddle::f", "Details:\nmiddle\n") + "caused by\t" + rootText);
    QVERIFY(top.cause() != &middle);
    QCOMPARE(QByteArray(top.cause()->cause()->what()), rootText);
}

void tst_CException::thrownFromInstrumentedFunction()
{
    const QString place =
        QStringLiteral(R"(\[\.\./\.\./\.\./tests/diagnostics/tst_CException\.cpp:\d+\]\t)"
                       R"(Thrower::throwSystemError\n)");
    const QRegularExpression expected(
        QStringLiteral(
            "^CSystemException::CSystemException:\tA System Error occurred\n\tthrown at ") +
        place +
        QStringLiteral(R"(Details:\nno disk\nPrimaryErrorCode:\t28\nSecondaryErrorCode:\tUnknown\n)"
                       R"(StackTrace:\n\[MainThread\]\t\(ThreadID: -1\)\n)"
                       R"(This is the Main thread we hope\n\(0\)\t)") +
        place + QLatin1Char('$'));
    // Composed after the throwing function has left: the text keeps the stack of the throw.
    try {
        throwSystemError();
        QFAIL("nothing thrown");
    } catch (const CException& exception) {
        QVERIFY2(expected.match(QString::fromUtf8(exception.what())).hasMatch(), exception.what());
    }
}

// The text is composed only after the thread object that threw is gone.
void tst_CException::outlivesItsThread()
{
    std::unique_ptr<CException> kept;
    {
        Thrower thrower(kept);
        QVERIFY(thrower.startThread());
        QVERIFY(thrower.wait(10000));
    }
    QVERIFY(kept);
    // Reuse the freed memory, so that a text pointing into it would show.
    std::vector<QByteArray> filler;
    for (int i = 0; i < 256; ++i)
        filler.emplace_back(int(qstrlen("Described::Thrower")), '#');
    const QByteArray text(kept->what());
    QVERIFY2(text.contains("StackTrace:\n[Described::Thrower]\t(ThreadID: "), text.constData());
    QVERIFY2(text.contains("]\tThrower::runMethod\n"), text.constData());
}

QTEST_GUILESS_MAIN(tst_CException)
#include "tst_CException.moc"
