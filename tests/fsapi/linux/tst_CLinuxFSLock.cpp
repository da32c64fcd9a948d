#include "fsapi/linux/CLinuxFSLock.h"

#include "common/CExpect.h"
#include "common/CLockHolder.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "fsapi/CFSLock.h"
#include "fsapi/FileSystemExceptions.h"

#include <QTest>

#include <clocale>
#include <functional>
#include <memory>

#include <unistd.h>

namespace {

using L = CLinuxFSLock;
using namespace Exceptions;

QString errorText(int error)
{
    return L::getSystemErrorMsg(error) + " - system error code: " + QString::number(error);
}

void expectRecord(QtMsgType type, const char* function, const QString& text)
{
    CExpect::record(type, QStringLiteral("CLinuxFSLock.cpp"),
                    "CLinuxFSLock::" + QLatin1String(function), text);
}

// The error of an open with access and share, closing what it opened.
int tryOpen(const QString& path, quint32 access, quint32 share)
{
    int handle = -2;
    const int error = L::getFileHandle(path, handle, access, share);
    if ((handle != -1) == (error != 0))
        return -1;
    if (handle != -1)
        ::close(handle);
    return error;
}

using Thrower = std::function<void()>;

// What throws an exception of the file-system class T.
template<typename T>
Thrower thrower()
{
    return [] {
        SY_FUNCTION("tst_CLinuxFSLock::thrower");
        SY_THROW(T, QStringLiteral("File not found: /x/y"));
    };
}

} // namespace

Q_DECLARE_METATYPE(Thrower)

class tst_CLinuxFSLock : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void sharing_data();
    void sharing();
    void lockRequests();
    void refusedRequests();
    void otherErrorsThrow();
    void permissions();
    void frontClass();
    // The file-system exceptions the lock and the operations throw.
    void exceptionNameAndDescription_data();
    void exceptionNameAndDescription();
    void exceptionHierarchy();
    void exceptionCauseAndCloneKeepTheirClass();

private:
    QString file() const { return dir + "f ü.txt"; }
    QString folder() const { return dir + "d ü"; }
};

void tst_CLinuxFSLock::initTestCase()
{
    // Messages are compared in English whatever the caller's locale.
    std::setlocale(LC_MESSAGES, "C");
}

void tst_CLinuxFSLock::init()
{
    CEnvironmentTest::init();
    QVERIFY(CTestTree::make(dir, "f ü.txt=content;d ü/"));
}

// What another process may still open while this kind of lock is held.
void tst_CLinuxFSLock::sharing_data()
{
    QTest::addColumn<QString>("held");
    QTest::addColumn<quint32>("access");
    QTest::addColumn<quint32>("share");
    QTest::addColumn<bool>("granted");
    const quint32 all = L::ShareReadWrite | L::ShareDelete;
    QTest::newRow("exclusive: read") << "exclusive" << quint32(L::AccessRead) << all << false;
    QTest::newRow("read-write: read") << "readWrite" << quint32(L::AccessRead) << all << false;
    QTest::newRow("write: read") << "write" << quint32(L::AccessRead) << all << true;
    QTest::newRow("write: read denying reading")
        << "write" << quint32(L::AccessRead) << quint32(L::ShareWrite) << false;
    QTest::newRow("write: write") << "write" << quint32(L::AccessWrite) << all << false;
    QTest::newRow("delete: read and write")
        << "delete" << quint32(L::AccessRead | L::AccessWrite) << all << true;
    QTest::newRow("delete: read denying writing")
        << "delete" << quint32(L::AccessRead) << quint32(L::ShareRead) << true;
    QTest::newRow("delete: delete") << "delete" << quint32(L::AccessDelete) << all << false;
}

void tst_CLinuxFSLock::sharing()
{
    QFETCH(QString, held);
    QFETCH(quint32, access);
    QFETCH(quint32, share);
    QFETCH(bool, granted);
    QCOMPARE(tryOpen(file(), L::AccessAll, L::ShareNone), 0);
    {
        CLockHolder holder(file(), held);
        QVERIFY(holder.isLocked());
        QCOMPARE(tryOpen(file(), access, share), granted ? 0 : int(L::SharingViolation));
        // A refused open must not leave its bytes behind to block later requests.
        QCOMPARE(tryOpen(file(), access, share), granted ? 0 : int(L::SharingViolation));
    }
    QCOMPARE(tryOpen(file(), L::AccessAll, L::ShareNone), 0);
}

void tst_CLinuxFSLock::lockRequests()
{
    L lock;
    QVERIFY(lock.releaseLock());
    QVERIFY(lock.getWriteLock(file()));
    const int handle = lock.getHandle();
    QVERIFY(handle >= 0);
    expectRecord(QtWarningMsg, "getWriteLock", "getXXXLock called before, without release");
    QVERIFY(!lock.getWriteLock(file()));
    expectRecord(QtWarningMsg, "getDeleteLock", "getXXXLock called before, without release");
    QVERIFY(!lock.getDeleteLock(folder()));
    QCOMPARE(lock.getHandle(), handle);
    QCOMPARE(tryOpen(file(), L::AccessWrite, L::ShareReadWrite | L::ShareDelete),
             int(L::SharingViolation));

    // Two lock objects conflict like two processes; release and destruction free the object.
    L other;
    expectRecord(QtCriticalMsg, "checkSuccess", errorText(L::SharingViolation));
    QVERIFY(!other.getExclusiveLock(file()));
    QVERIFY(!other.isLocked());
    QVERIFY(lock.releaseLock());
    QVERIFY(!lock.isLocked());
    QCOMPARE(lock.getHandle(), -1);
    QVERIFY(other.getExclusiveLock(file()));
    {
        L scoped;
        QVERIFY(scoped.getDeleteLock(folder()));
    }
    QVERIFY(lock.getExclusiveLock(folder()));
}

void tst_CLinuxFSLock::refusedRequests()
{
    // The system's limits in bytes: 4,095 for a path, 255 for a name ("日" is three bytes).
    const QString folder = dir + QString(85, QChar(0x65e5)) + u'/';
    const QString accepted = CTestTree::ofBytes(folder, 4095, QStringLiteral("d"));
    QVERIFY(CTestTree::write(accepted, "x"));
    L lock;
    QVERIFY(lock.getWriteLock(accepted));
    QVERIFY(lock.releaseLock());
    QVERIFY(lock.getWriteLock(folder));
    QVERIFY(lock.releaseLock());
    for (const QString& refused : {accepted + u'b', folder.chopped(1) + u'b'}) {
        expectRecord(QtCriticalMsg, "getWriteLock", "invalid path given");
        QVERIFY(!lock.getWriteLock(refused));
    }
    expectRecord(QtCriticalMsg, "getExclusiveLock", "invalid path given");
    QVERIFY(!lock.getExclusiveLock(QLatin1String("")));
    // The system would read this as the name before the null character.
    expectRecord(QtCriticalMsg, "getExclusiveLock", "invalid path given");
    QVERIFY(!lock.getExclusiveLock(file() + QChar(u'\0') + ".bak"));
    QVERIFY(!lock.isLocked());

    const std::pair<const char*, int> missing[] = {{"missing/f.txt", ENOENT},
                                                   {"f ü.txt/f.txt", ENOTDIR}};
    for (const auto& [relative, error] : missing) {
        expectRecord(QtCriticalMsg, "checkSuccess", errorText(error));
        QVERIFY(!lock.getExclusiveLock(dir + relative));
    }
    QVERIFY(!lock.isLocked());
    QCOMPARE(lock.getHandle(), -1);
    QCOMPARE(L::getSystemErrorMsg(98765), QStringLiteral("Unknown error 98765"));
}

void tst_CLinuxFSLock::otherErrorsThrow()
{
    const QString loop = dir + "loop";
    QVERIFY(QFile::link(loop, loop));
    L lock;
    QCOMPARE(CExpect::outcome([&] { return lock.getWriteLock(loop); }),
             "FileSystemException | " + errorText(ELOOP));
    QVERIFY(!lock.isLocked());
    QCOMPARE(CExpect::outcome([&] { return lock.checkSuccess(0); }).section(u' ', 0, 0),
             QStringLiteral("FileSystemException"));
}

void tst_CLinuxFSLock::permissions()
{
    if (::geteuid() == 0)
        QSKIP("root is not refused by permission bits");
    // An open only reads, whatever access its bytes claim: a read-only file opens for all.
    QVERIFY(QFile::setPermissions(file(), QFileDevice::ReadOwner));
    QCOMPARE(tryOpen(file(), L::AccessAll, L::ShareNone), 0);
    L lock;
    QVERIFY(lock.getExclusiveLock(file()));
    QVERIFY(lock.releaseLock());
    QVERIFY(QFile::setPermissions(file(), QFileDevice::WriteOwner));
    QCOMPARE(CExpect::outcome([&] { return lock.getWriteLock(file()); }),
             "FileSystemException | " + errorText(EACCES));
    QVERIFY(!lock.isLocked());
}

// The class callers name hands the requests to the platform's lock, and refuses them without one.
void tst_CLinuxFSLock::frontClass()
{
    CFSLock withoutPlatformLock(file(), nullptr);
    QVERIFY(!withoutPlatformLock.getExclusiveLock());
    QVERIFY(!withoutPlatformLock.isLocked());
    QVERIFY(withoutPlatformLock.releaseLock());
    CFSLock first(file());
    CFSLock second(first.path());
    QVERIFY(first.getDeleteLock());
    QVERIFY(first.isLocked());
    QVERIFY(second.getWriteLock());
    QVERIFY(second.releaseLock());
    CExpect::recordMatching(QtCriticalMsg, QStringLiteral("CLinuxFSLock.cpp"),
                            QStringLiteral("CLinuxFSLock::checkSuccess"), QStringLiteral(".*"));
    QVERIFY(!second.getExclusiveLock());
    QVERIFY(!second.isLocked());
    QVERIFY(first.releaseLock());
    QVERIFY(second.getExclusiveLock());
}

// Every class is made by the same table: the base, one class taking a cause and one without.
void tst_CLinuxFSLock::exceptionNameAndDescription_data()
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

void tst_CLinuxFSLock::exceptionNameAndDescription()
{
    QFETCH(Thrower, thrower);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, description);
    try {
        thrower();
        QFAIL("nothing thrown");
    } catch (const FileSystemException& exception) {
        QCOMPARE(QByteArray(exception.name()), name);
        QCOMPARE(QByteArray(exception.function()), QByteArray("tst_CLinuxFSLock::thrower"));
        const QByteArray what(exception.what());
        QVERIFY2(what.startsWith(name + ":\t" + description + "\n\tthrown at ["), what.constData());
        QVERIFY2(what.contains("Details:\nFile not found: /x/y\n"), what.constData());
    }
}

void tst_CLinuxFSLock::exceptionHierarchy()
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

void tst_CLinuxFSLock::exceptionCauseAndCloneKeepTheirClass()
{
    SY_FUNCTION("tst_CLinuxFSLock::exceptionCauseAndCloneKeepTheirClass");
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

QTEST_GUILESS_MAIN(tst_CLinuxFSLock)
#include "tst_CLinuxFSLock.moc"
