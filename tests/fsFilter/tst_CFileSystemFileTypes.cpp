#include "fsFilter/CFileSystemFileTypes.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"

#include <QDir>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

void expectLoadLog(const QString& root)
{
    CExpect::record(QtDebugMsg, QStringLiteral("CFileSystemFileTypes.cpp"),
                    QStringLiteral("CFileSystemFileTypes::initialize"),
                    "loading default file types file " + root + "work/default.ini");
}

void expectLoadFailure(const QString& root, const QString& reason)
{
    expectLoadLog(root);
    CExpect::record(QtCriticalMsg, QStringLiteral("CFSFileTypesFile.cpp"),
                    QStringLiteral("CFSFileTypesFile::load"),
                    "Error loading file types file: default.ini " + reason);
    CExpect::record(QtCriticalMsg, QStringLiteral("CFileSystemFileTypes.cpp"),
                    QStringLiteral("CFileSystemFileTypes::initialize"),
                    QStringLiteral("failed to load default file types file ..."));
}

} // namespace

class tst_CFileSystemFileTypes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void withoutTableNothingAnswers();
    void initializeLoadsFromTheWorkingDirectory();
    void failedInitializeKeepsTheTable();
    void readersAndWritersTogether();

private:
    // The process's table, loaded from the given default.ini in the working directory.
    CFileSystemFileTypes* initialized(const QByteArray& content);

    std::unique_ptr<CTestEnvironment> env;
};

CFileSystemFileTypes* tst_CFileSystemFileTypes::initialized(const QByteArray& content)
{
    env->writeFile(QStringLiteral("work/default.ini"), content);
    CFileSystemFileTypes* types = CFileSystemFileTypes::instance();
    expectLoadLog(env->root());
    return types->initialize() ? types : nullptr;
}

void tst_CFileSystemFileTypes::init()
{
    QVERIFY(CTestEnvironment::renew(env));
}

void tst_CFileSystemFileTypes::cleanup()
{
    CFileSystemFileTypes::destroy();
    QVERIFY(!CFileSystemFileTypes::exists());
    env.reset();
}

void tst_CFileSystemFileTypes::withoutTableNothingAnswers()
{
    CFileSystemFileTypes* types = CFileSystemFileTypes::instance();
    types->setType(QStringLiteral("G1"), QStringLiteral("T1"), {QStringLiteral("a")});
    types->setEntries(QStringLiteral("T1"), {QStringLiteral("a")});
    types->setGroup(QStringLiteral("T1"), QStringLiteral("G1"));
    QVERIFY(!types->addType(QStringLiteral("G1"), QStringLiteral("T1"), {}));
    QVERIFY(!types->addEntries(QStringLiteral("T1"), {}));
    QStringList out{QStringLiteral("stale")};
    QString group = QStringLiteral("stale");
    QVERIFY(!types->groups(out));
    QVERIFY(out.isEmpty());
    QVERIFY(!types->types(out));
    QVERIFY(!types->typesOfGroup(QStringLiteral("G1"), out));
    QVERIFY(!types->entriesOfType(QStringLiteral("T1"), out));
    QVERIFY(!types->groupOfType(QStringLiteral("T1"), group));
    QVERIFY(group.isEmpty());
    QVERIFY(!types->hasType(QStringLiteral("T1")));
    QVERIFY(!types->hasGroup(QStringLiteral("G1")));
    QVERIFY(!types->removeType(QStringLiteral("T1")));
    QVERIFY(!types->removeGroup(QStringLiteral("G1")));
    QVERIFY(!types->removeGroupEntries(QStringLiteral("G1")));
}

void tst_CFileSystemFileTypes::initializeLoadsFromTheWorkingDirectory()
{
    CFileSystemFileTypes* types = initialized("[G1]\nT1=a,b\nT2=c\n[G2]\nT3=d\n");
    QVERIFY(types);
    QStringList out;
    QVERIFY(types->groups(out));
    QCOMPARE(out, QStringList({QStringLiteral("G1"), "G2"}));
    QVERIFY(types->typesOfGroup(QStringLiteral("G1"), out));
    QCOMPARE(out, QStringList({QStringLiteral("T1"), "T2"}));
    QVERIFY(types->entriesOfType(QStringLiteral("T1"), out));
    QCOMPARE(out, QStringList({QStringLiteral("a"), "b"}));
    QVERIFY(types->removeGroupEntries(QStringLiteral("G1")));
    QVERIFY(!types->hasType(QStringLiteral("T1")));
    QString group;
    QVERIFY(types->groupOfType(QStringLiteral("T1"), group));
    QCOMPARE(group, QStringLiteral("G1"));
    QVERIFY(types->removeGroup(QStringLiteral("G2")));
    QVERIFY(types->hasType(QStringLiteral("T3")));
    QVERIFY(!types->hasGroup(QStringLiteral("G2")));
}

// A failed load keeps the table held before, or none.
void tst_CFileSystemFileTypes::failedInitializeKeepsTheTable()
{
    // The file next to the home folder is not the one in the working directory.
    env->writeFile(QStringLiteral("default.ini"), "[G1]\nT1=a\n");
    expectLoadFailure(env->root(), QStringLiteral("not found."));
    QVERIFY(!CFileSystemFileTypes::instance()->initialize());
    QVERIFY(!CFileSystemFileTypes::instance()->hasType(QStringLiteral("T1")));
    CFileSystemFileTypes* types = initialized("[G1]\nT1=a\n");
    QVERIFY(types);
    const QString path = env->root() + "work/default.ini";
    QVERIFY(QFile::remove(path));
    QVERIFY(QDir().mkpath(path));
    expectLoadFailure(env->root(), QStringLiteral("is not a regular file."));
    QVERIFY(!types->initialize());
    QVERIFY(types->hasType(QStringLiteral("T1")));
}

// Readers never see a type without its list while a writer moves it between groups; the
// checks run in the threads and are counted, the threads are joined with bounded waits.
void tst_CFileSystemFileTypes::readersAndWritersTogether()
{
    CFileSystemFileTypes* types = initialized("[G1]\nT1=a\n");
    QVERIFY(types);
    const int rounds = 2000;
    std::atomic<int> failures{0};
    QSemaphore start;
    const auto reader = [&] {
        start.acquire();
        for (int i = 0; i < rounds; ++i) {
            QString group;
            QStringList entries;
            if (!types->groupOfType(QStringLiteral("T1"), group) ||
                !types->entriesOfType(QStringLiteral("T1"), entries) || entries.isEmpty())
                ++failures;
        }
    };
    const auto writer = [&] {
        start.acquire();
        for (int i = 0; i < rounds; ++i) {
            types->setType(QStringLiteral("G") + QString::number(i % 3), QStringLiteral("T1"),
                           {QString::number(i)});
            types->addEntries(QStringLiteral("T") + QString::number(i), {QStringLiteral("x")});
        }
    };
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back(QThread::create(reader));
    threads.emplace_back(QThread::create(writer));
    for (const auto& thread : threads)
        thread->start();
    start.release(int(threads.size()));
    for (const auto& thread : threads)
        QVERIFY(thread->wait(60000));
    QCOMPARE(failures.load(), 0);
    QStringList all;
    QVERIFY(types->types(all));
    QCOMPARE(all.size(), rounds); // T0 to T1999, T1 among them
}

QTEST_GUILESS_MAIN(tst_CFileSystemFileTypes)
#include "tst_CFileSystemFileTypes.moc"
