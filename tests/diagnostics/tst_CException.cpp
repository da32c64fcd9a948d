#include "diagnostics/CException.h"
#include "diagnostics/CSystemException.h"

#include <QTest>

#include <memory>
#include <sstream>
#include <stdexcept>

namespace {

const CCallSiteRecord outer{10, "Outer::run", "../../../src/x/Outer.cpp", nullptr};
const CCallSiteRecord inner{20, "Inner::work", "../../../src/x/Inner.cpp", nullptr};

// A fixed stack, so that texts do not depend on the test's own call depth.
CCallStack fixedStack()
{
    CCallStack stack(0, 5, "worker", "Basic Thread Implementation");
    stack.push(outer);
    stack.push(inner);
    return stack;
}

const QByteArray fixedTrace = "StackTrace:\n[worker]\t(ThreadID: 5)\nBasic Thread Implementation\n"
                              "(1)\t[../../../src/x/Inner.cpp:20]\tInner::work\n"
                              "(0)\t[../../../src/x/Outer.cpp:10]\tOuter::run\n";

// Counts its live instances, to see who owns the causes.
class CountedException : public CException
{
public:
    CountedException(const QString& details)
        : CException("Counted::make", "c.cpp", 3, details, fixedStack())
    {
        setName("CountedException::CountedException");
        registerDescription("Counted");
        ++live;
    }
    CountedException(const CountedException& other) : std::exception(other), CException(other)
    {
        ++live;
    }
    ~CountedException() override { --live; }
    CountedException* clone() const override { return new CountedException(*this); }

    static int live;
};
int CountedException::live = 0;

// A class of the family that enters an empty description.
class PlainException : public CException
{
public:
    PlainException() : CException("Plain::make", "p.cpp", 9, QString(), fixedStack())
    {
        setName("PlainException::PlainException");
        registerDescription("");
    }
    PlainException(const PlainException& other) = default;
    PlainException* clone() const override { return new PlainException(*this); }
};

void throwSystemError()
{
    SY_FUNCTION("Thrower::throwSystemError");
    throw CSystemException(SY_HERE, QStringLiteral("no disk"), CCallStack::current(), 28, -1);
}

} // namespace

class tst_CException : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whatText_data();
    void whatText();
    void emptyDetailsInCopyAndClone();
    void descriptionOfMostDerivedClass();
    void causeChain();
    void causeFromPointerIsOwned();
    void setCauseRecomposes();
    void systemErrorCodes_data();
    void systemErrorCodes();
    void whatIsCached();
    void catchByBaseClass();
    void streamOperator();
};

void tst_CException::whatText_data()
{
    QTest::addColumn<QString>("details");
    QTest::addColumn<QByteArray>("detailsLines");
    QTest::newRow("with details") << QStringLiteral("disk full")
                                  << QByteArray("Details:\ndisk full\n");
    QTest::newRow("non-ASCII details") << QStringLiteral("\u0444\u0430\u0439\u043b \u00e9")
                                       << QByteArray("Details:\n\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb "
                                                     "\xc3\xa9\n");
    QTest::newRow("empty details") << QString() << QByteArray();
}

void tst_CException::whatText()
{
    QFETCH(QString, details);
    QFETCH(QByteArray, detailsLines);
    const CException exception("Place::throwIt", "../../../src/x/Place.cpp", 77, details,
                               fixedStack());
    QCOMPARE(QByteArray(exception.what()),
             "CException::CException:\tThis is a CxException\n\tthrown at "
             "[../../../src/x/Place.cpp:77]\tPlace::throwIt\n" +
                 detailsLines + fixedTrace);
}

void tst_CException::emptyDetailsInCopyAndClone()
{
    const CException original("F::f", "f.cpp", 1, QString(), fixedStack());
    QVERIFY(!QByteArray(original.what()).contains("Details:"));
    const QByteArray expected = "CException::CException:\tThis is a CxException\n\tthrown at "
                                "[f.cpp:1]\tF::f\nDetails:\nNo Additional Exception Information "
                                "Available !\n" +
                                fixedTrace;
    const CException copy(original);
    QCOMPARE(QByteArray(copy.what()), expected);
    const std::unique_ptr<CException> clone(original.clone());
    QCOMPARE(QByteArray(clone->what()), expected);
    QCOMPARE(clone->details(), QStringLiteral("No Additional Exception Information Available !"));
}

void tst_CException::descriptionOfMostDerivedClass()
{
    const CountedException counted(QStringLiteral("d"));
    QVERIFY(QByteArray(counted.what())
                .startsWith("CountedException::CountedException:\tCounted\n\tthrown at [c.cpp:3]"
                            "\tCounted::make\n"));
    const PlainException plain;
    QCOMPARE(QByteArray(plain.what()),
             "PlainException::PlainException\n\tthrown at\t\t[p.cpp:9]\tPlain::make\n" +
                 fixedTrace);
    const std::unique_ptr<CException> clone(plain.clone());
    QVERIFY(
        QByteArray(clone->what()).startsWith("PlainException::PlainException\n\tthrown at\t\t"));
    // The base class keeps its own text although subclasses entered theirs.
    const CException base(nullptr, nullptr, 0, QStringLiteral("b"), fixedStack());
    QVERIFY(QByteArray(base.what())
                .startsWith("CException::CException:\tThis is a CxException\n"
                            "\tthrown at [:0]\t\n"));
}

void tst_CException::causeChain()
{
    const CException root("Root::f", "r.cpp", 1, QStringLiteral("root"), fixedStack());
    const CException middle("Middle::f", "m.cpp", 2, QStringLiteral("middle"), fixedStack(), root);
    const CException top("Top::f", "t.cpp", 3, QStringLiteral("top"), fixedStack(), middle);
    const auto own = [](const char* place, const char* details) {
        return "CException::CException:\tThis is a CxException\n\tthrown at " + QByteArray(place) +
               "\nDetails:\n" + details + '\n' + fixedTrace;
    };
    const QByteArray rootText = own("[r.cpp:1]\tRoot::f", "root");
    const QByteArray middleText = own("[m.cpp:2]\tMiddle::f", "middle") + "caused by\t" + rootText;
    QCOMPARE(QByteArray(top.what()), own("[t.cpp:3]\tTop::f", "top") + "caused by\t" + middleText);
    QVERIFY(top.cause());
    QVERIFY(top.cause() != &middle);
    QCOMPARE(QByteArray(top.cause()->cause()->what()), rootText);
}

void tst_CException::causeFromPointerIsOwned()
{
    QCOMPARE(CountedException::live, 0);
    {
        const CException outer("O::f", "o.cpp", 1, QStringLiteral("o"), fixedStack(),
                               new CountedException(QStringLiteral("inner")));
        // The given object is gone; the exception keeps a clone of it.
        QCOMPARE(CountedException::live, 1);
        QVERIFY(QByteArray(outer.what()).contains("caused by\tCountedException::CountedException"));
        const CException copy(outer);
        QCOMPARE(CountedException::live, 2);
    }
    QCOMPARE(CountedException::live, 0);
    const CException noCause("O::f", "o.cpp", 1, QStringLiteral("o"), fixedStack(),
                             static_cast<CException*>(nullptr));
    QVERIFY(!noCause.cause());
}

void tst_CException::setCauseRecomposes()
{
    CException exception("F::f", "f.cpp", 1, QStringLiteral("d"), fixedStack());
    const QByteArray before = exception.what();
    QVERIFY(!before.contains("caused by"));
    exception.setCause(CountedException(QStringLiteral("first")));
    exception.setCause(CountedException(QStringLiteral("second")));
    QCOMPARE(CountedException::live, 1);
    const QByteArray after = exception.what();
    QVERIFY(after.startsWith(before + "caused by\tCountedException::CountedException"));
    QVERIFY(after.contains("second"));
    QVERIFY(!after.contains("first"));
}

void tst_CException::systemErrorCodes_data()
{
    QTest::addColumn<int>("primary");
    QTest::addColumn<int>("secondary");
    QTest::addColumn<QByteArray>("codeLines");
    QTest::newRow("both unknown") << -1 << -1
                                  << QByteArray("PrimaryErrorCode:\tUnknown\n"
                                                "SecondaryErrorCode:\tUnknown\n");
    QTest::newRow("both known") << 5 << 32
                                << QByteArray("PrimaryErrorCode:\t5\nSecondaryErrorCode:\t32\n");
    QTest::newRow("zero and negative") << 0 << -2
                                       << QByteArray("PrimaryErrorCode:\t0\n"
                                                     "SecondaryErrorCode:\t-2\n");
}

void tst_CException::systemErrorCodes()
{
    QFETCH(int, primary);
    QFETCH(int, secondary);
    QFETCH(QByteArray, codeLines);
    const CSystemException exception("S::f", "s.cpp", 4, QStringLiteral("io"), fixedStack(),
                                     primary, secondary);
    const QByteArray expected = "CSystemException::CSystemException:\tA System Error occurred\n"
                                "\tthrown at [s.cpp:4]\tS::f\nDetails:\nio\n" +
                                codeLines + fixedTrace;
    QCOMPARE(QByteArray(exception.what()), expected);
    const std::unique_ptr<CException> clone(exception.clone());
    QVERIFY(dynamic_cast<CSystemException*>(clone.get()));
    QCOMPARE(QByteArray(clone->what()), expected);
    QCOMPARE(static_cast<CSystemException*>(clone.get())->primaryErrorCode(), primary);
    QCOMPARE(static_cast<CSystemException*>(clone.get())->secondaryErrorCode(), secondary);
}

void tst_CException::whatIsCached()
{
    std::unique_ptr<CException> exception;
    {
        SY_FUNCTION("tst_CException::whatIsCached");
        exception.reset(new CException(SY_HERE, QStringLiteral("d"), CCallStack::current()));
    }
    const char* first = exception->what();
    const QByteArray text = first;
    QVERIFY(text.contains("]\ttst_CException::whatIsCached\n"));
    {
        SY_FUNCTION("tst_CException::somewhereElse");
        QCOMPARE(exception->what(), first);
    }
    QCOMPARE(QByteArray(exception->what()), text);
}

void tst_CException::catchByBaseClass()
{
    try {
        throwSystemError();
        QFAIL("nothing thrown");
    } catch (const CException& exception) {
        QCOMPARE(exception.function(), "Thrower::throwSystemError");
        QCOMPARE(exception.file(), "../../../tests/diagnostics/tst_CException.cpp");
        QCOMPARE(exception.name(), "CSystemException::CSystemException");
        const QByteArray text = exception.what();
        QVERIFY(text.startsWith("CSystemException::CSystemException:\tA System Error occurred\n"
                                "\tthrown at [../../../tests/diagnostics/tst_CException.cpp:"));
        QVERIFY(text.contains("Details:\nno disk\nPrimaryErrorCode:\t28\n"
                              "SecondaryErrorCode:\tUnknown\nStackTrace:\n[MainThread]\t"
                              "(ThreadID: -1)\nThis is the Main thread we hope\n(0)\t"));
        QVERIFY(text.endsWith("]\tThrower::throwSystemError\n"));
    }
    QVERIFY_THROWS_EXCEPTION(std::exception, throwSystemError());
}

void tst_CException::streamOperator()
{
    const CException exception("F::f", "f.cpp", 1, QStringLiteral("d"), fixedStack());
    std::ostringstream stream;
    stream << exception;
    QCOMPARE(QByteArray::fromStdString(stream.str()), QByteArray(exception.what()));
}

QTEST_GUILESS_MAIN(tst_CException)
#include "tst_CException.moc"
