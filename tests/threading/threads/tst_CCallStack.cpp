#include "threading/threads/CCallStack.h"

#include <QTest>

class tst_CCallStack : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void header_data();
    void header();
    void pushPopAndCopy();
    void guardPopsOnException();
};

void tst_CCallStack::header_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("implementation");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("number 0 is unknown")
        << 0 << QByteArray("w") << QByteArray("i") << QByteArray("[w]\t(ThreadID: Unknown)\ni\n");
    QTest::newRow("no name, no text")
        << 4 << QByteArray() << QByteArray()
        << QByteArray("[Unknown Thread]\t(ThreadID: 4)\nNo Thread Description Available!\n");
}

void tst_CCallStack::header()
{
    QFETCH(int, number);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, implementation);
    QFETCH(QByteArray, expected);
    CCallStack stack(0, number, name.isNull() ? nullptr : name.constData(),
                     implementation.isNull() ? nullptr : implementation.constData());
    QCOMPARE(QByteArray(stack.header()), expected);
}

void tst_CCallStack::pushPopAndCopy()
{
    static const CCallSiteRecord a{10, "A::a", "../../../src/x/A.cpp", nullptr};
    static const CCallSiteRecord b{20, "B::b", "../../../src/x/B.cpp", nullptr};
    static const CCallSiteRecord c{30, "C::c", "../../../src/x/C.cpp", "note\n"};
    CCallStack stack(8, 1, "t", "i");
    QCOMPARE(QByteArray(stack.trace()), QByteArray("No Stack Information Available !"));
    stack.push(a);
    stack.push(b);
    stack.pop();
    CCallStack copy(stack);
    stack.push(c);
    QCOMPARE(QByteArray(stack.trace()), QByteArray("(1)\t[../../../src/x/C.cpp:30]\tC::c\nnote\n"
                                                   "(0)\t[../../../src/x/A.cpp:10]\tA::a\n"));
    QCOMPARE(QByteArray(copy.trace()), QByteArray("(0)\t[../../../src/x/A.cpp:10]\tA::a\n"));
    QCOMPARE(QByteArray(copy.header()), QByteArray("[t]\t(ThreadID: 1)\ni\n"));
    stack.pop();
    stack.pop();
    stack.pop();
    QCOMPARE(stack.depth(), 0u);
}

void tst_CCallStack::guardPopsOnException()
{
    CCallStack& stack = CCallStack::current();
    const quint32 before = stack.depth();
    try {
        SY_FUNCTION("tst_CCallStack::guardPopsOnException");
        QCOMPARE(stack.depth(), before + 1);
        throw 1;
    } catch (int) {
    }
    QCOMPARE(stack.depth(), before);
    QCOMPARE(stack.threadNumber(), -1);
}

QTEST_GUILESS_MAIN(tst_CCallStack)
#include "tst_CCallStack.moc"
