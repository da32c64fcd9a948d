#include "fsapi/FileSystemExceptions.h"

#include <QTest>

#include <functional>
#include <memory>

using namespace Exceptions;

namespace {

using Thrower = std::function<void()>;

template<typename T>
Thrower thrower()
{
    return [] {
        SY_FUNCTION("tst_FileSystemExceptions::thrower");
        SY_THROW(T, QStringLiteral("File not found: /x/y"));
    };
}

} // namespace

Q_DECLARE_METATYPE(Thrower)

class tst_FileSystemExceptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nameAndDescription_data();
    void nameAndDescription();
    void hierarchy();
    void causeAndCloneKeepTheirClass();
};

// Every class is made by the same table: the base, one class taking a cause and one without.
void tst_FileSystemExceptions::nameAndDescription_data()
{
    QTest::addColumn<Thrower>("thrower");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("description");
    const auto row = [](const char* tag, const Thrower& thrower, const char* description) {
        QTest::newRow(tag) << thrower << QByteArray("Exceptions::") + tag + "::" + tag
                           << QByteArray(description);
    };
    row("FileSystemException", thrower<FileSystemException>(), "FileSystem Exceptions");
    row("FileDoesNotExist", thrower<FileDoesNotExist>(), "Specified file doesn't exist");
    row("NotAFile", thrower<NotAFile>(), "Specified path is not a file");
}

void tst_FileSystemExceptions::nameAndDescription()
{
    QFETCH(Thrower, thrower);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, description);
    try {
        thrower();
        QFAIL("nothing thrown");
    } catch (const FileSystemException& exception) {
        QCOMPARE(QByteArray(exception.name()), name);
        QCOMPARE(QByteArray(exception.function()), QByteArray("tst_FileSystemExceptions::thrower"));
        const QByteArray what(exception.what());
        QVERIFY2(what.startsWith(name + ":\t" + description + "\n\tthrown at ["), what.constData());
        QVERIFY2(what.contains("Details:\nFile not found: /x/y\n"), what.constData());
    }
}

void tst_FileSystemExceptions::hierarchy()
{
    QVERIFY_THROWS_EXCEPTION(DoesNotExist, thrower<FileDoesNotExist>()());
    QVERIFY_THROWS_EXCEPTION(DoesNotExist, thrower<DirectoryDoesNotExist>()());
    QVERIFY_THROWS_EXCEPTION(CException, thrower<FileDoesNotExist>()());
    try {
        thrower<NotAFile>()();
    } catch (const DoesNotExist&) {
        QFAIL("NotAFile caught as DoesNotExist");
    } catch (const FileSystemException&) {
    }
}

void tst_FileSystemExceptions::causeAndCloneKeepTheirClass()
{
    SY_FUNCTION("tst_FileSystemExceptions::causeAndCloneKeepTheirClass");
    const FileExists cause(SY_HERE, QStringLiteral("Destination already exists: /d"),
                           CCallStack::current());
    const FileDoesNotExist outer(SY_HERE, QStringLiteral("outer"), CCallStack::current(), cause);
    QVERIFY(outer.cause() && outer.cause() != &cause);
    QCOMPARE(QByteArray(outer.cause()->name()), QByteArray(cause.name()));
    QVERIFY(QByteArray(outer.what()).contains("caused by\tExceptions::FileExists::"));

    const FileSystemException& asBase = outer;
    const std::unique_ptr<CException> copy(asBase.clone());
    QVERIFY(dynamic_cast<FileDoesNotExist*>(copy.get()));
    QCOMPARE(QByteArray(copy->what()), QByteArray(outer.what()));
}

QTEST_GUILESS_MAIN(tst_FileSystemExceptions)
#include "tst_FileSystemExceptions.moc"
