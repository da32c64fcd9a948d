#include "common/CExpect.h"
#include "common/CFaultInjection.h"
#include "common/CFaultyFSOperations.h"
#include "common/CTestChild.h"
#include "common/CTestThreads.h"
#include "common/CTestTree.h"
#include "fsapi/CFSOperations.h"
#include "fsapi/FileSystemExceptions.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// The tree the fault cases start from, and the operation a case strikes on it below d.
const char faultTree[] = "in/;in/x=new version;out/;space/;space/file=old version";

bool runOperation(CLinuxFSOperations& o, const QString& operation, const QString& d)
{
    const QString file = d + "space/file";
    try {
        if (operation == "copyFile")
            return o.copyFile(file, d + "space/copy", false, false, false);
        if (operation == "safeCopyFile")
            return o.safeCopyFile(file, d + "space/copy", d + "space/~c", false, false, false);
        if (operation == "safeMoveFile")
            return o.safeMoveFile(file, d + "space/moved", d + "space/~m", false, false);
        if (operation == "safeDeleteFile")
            return o.safeDeleteFile(file, d + "space/~d", false);
        if (operation == "safeRenameFile")
            return o.safeRenameFile(file, d + "space/renamed", d + "space/~r", false);
        if (operation == "safeMoveDirectory")
            return o.safeMoveDirectory(d + "in", d + "out/in", d + "out/~in", false);
        if (operation == "safeRenameDirectory")
            return o.safeRenameDirectory(d + "in", d + "renamed", d + "~in");
        if (operation == "safeDeleteDirectory")
            return o.safeDeleteDirectory(d + "in", d + "~in", false);
        if (operation == "safeCleanDirectory")
            return o.safeCleanDirectory(d + "in", d + "~in", false);
        if (operation == "safeCreateDirectory")
            return o.safeCreateDirectory(d + "space/new", d + "space/~n", QDateTime(), QDateTime(),
                                         QDateTime(), 0, false);
        if (operation == "safeSetTimeStamps")
            return o.safeSetTimeStamps(file, d + "space/~t", QDateTime(),
                                       QDateTime::fromSecsSinceEpoch(1000000000),
                                       QDateTime::fromSecsSinceEpoch(1000000000), false);
        return CFSOperations().safeExchangeFile(d + "in", d + "out", d + "space", "x", "file",
                                                QDateTime(), QDateTime());
    } catch (const Exceptions::FileSystemException&) {
        return false;
    }
}

} // namespace

// The exchange, and what conflicts, failing calls, kills and file systems without rename flags
// or links leave behind.
class tst_CLinuxFSOperationsFailures : public CFSOperationsTest
{
    Q_OBJECT

private Q_SLOTS:
    void copyDirectory();
    void copyAfterACrash_data();
    void copyAfterACrash();
    void moveFileAcrossFileSystems();
    void withoutRenameFlags_data();
    void withoutRenameFlags();
    void exchange_data();
    void exchange();
    void exchangeRollsBack();
    void exchangesSideBySide();
    void failingCalls_data();
    void failingCalls();
    void killedSafeOperations_data();
    void killedSafeOperations();
};

void tst_CLinuxFSOperationsFailures::copyDirectory()
{
    // Files keep their content, mode and time; links are copied as links, so that nothing
    // outside the tree is read.
    const QString tree = "top.txt=top@444;run.sh=#!/bin/sh@755;sub/large=*3145745@640;"
                         "sub/deeper/Журнал ログ.txt=deep;none/;toOutsideFolder->%Routside/;"
                         "relative->top.txt";
    QVERIFY(CTestTree::make(path("tree/"), QString(tree).replace("%R", root)));
    QVERIFY(CTestTree::make(root, "outside/private.txt=private"));
    const QDateTime written = utc(2011, 1, 24, 15, 30, 0, 250);
    QVERIFY(ops.setTimeStamps(path("tree/sub/large"), {}, {}, written, false));
    QVERIFY(ops.copyDirectory(path("tree/"), path("copy")));
    QCOMPARE(CTestTree::describe(path("copy/")), CTestTree::describe(path("tree/")));
    QCOMPARE(CTestTree::describe(path("tree/")).count(u';'), 8);
    QCOMPARE(modified(path("copy/sub/large")), written);

    // Into an existing destination the tree is merged, and nothing there is overwritten. The
    // entries listed before the conflict are copied, those after it are not; which ones come
    // first is up to the file system, so only what is there is checked, not what is missing.
    QVERIFY(CTestTree::make(path("other/"), "top.txt=mine"));
    QCOMPARE(CExpect::outcome([&] { return ops.copyDirectory(path("tree/"), path("other/")); }),
             "FileExists | Destination already exists: " + path("other/top.txt"));
    const QStringList source = CTestTree::describe(path("tree/")).split(u';');
    QStringList merged = CTestTree::describe(path("other/")).split(u';');
    QVERIFY(merged.removeOne(QStringLiteral("top.txt=mine")));
    for (const QString& entry : std::as_const(merged))
        QVERIFY2(source.contains(entry), qPrintable(entry));

    QCOMPARE(CExpect::outcome([&] { return ops.copyDirectory(path("missing"), path("x")); }),
             "FileDoesNotExist | File not found: " + path("missing"));
    if (::geteuid() == 0)
        return;
    // What can be read is copied; the copy answers false for the rest.
    QVERIFY(CTestTree::make(path("part/"), "readable/f=r;closed/f=c;closed/@0"));
    QVERIFY(!ops.copyDirectory(path("part/"), path("partCopy")));
    QCOMPARE(CTestTree::describe(path("partCopy/")), QStringLiteral("readable/;readable/f=r"));
}

// A kill at each call of a copy into an unnamed file is swept below; here the copy under a
// hidden name, which a killed copy leaves behind.
void tst_CLinuxFSOperationsFailures::copyAfterACrash_data()
{
    QTest::addColumn<bool>("safe");
    QTest::newRow("copyFile") << false;
    QTest::newRow("safeCopyFile") << true;
}

void tst_CLinuxFSOperationsFailures::copyAfterACrash()
{
    QFETCH(bool, safe);
    QVERIFY(CTestTree::make(root, "big=*100000"));
    const auto copy = [&](CFaultyFSOperations& o) {
        o.noUnnamedFiles = true;
        return safe ? o.safeCopyFile(path("big"), path("copy"), path("~copy"), false, false, false)
                    : o.copyFile(path("big"), path("copy"), false, false, false);
    };
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        CFaultyFSOperations crashing;
        crashing.crashMidCopy = true;
        try {
            copy(crashing);
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    // Nothing half-written under a name a later copy takes for a finished one; the hidden
    // file the killed copy wrote goes with a later copy into the folder once it is old.
    const QStringList left = QDir(root).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left.size(), 2);
    QVERIFY(left.at(0).startsWith(".syncarium-copy-") && left.at(1) == "big");
    QVERIFY(ops.setTimeStamps(root + left.at(0), {}, {},
                              QDateTime::currentDateTimeUtc().addSecs(-120), false));
    CFaultyFSOperations ops;
    QVERIFY(copy(ops));
    QCOMPARE(CTestTree::describe(root), QStringLiteral("big=*100000;copy=*100000"));
}

void tst_CLinuxFSOperationsFailures::moveFileAcrossFileSystems()
{
    QTemporaryDir other(QStringLiteral("/dev/shm/tst_CLinuxFSOperations-XXXXXX"));
    if (!other.isValid() || QStorageInfo(other.path()).device() == QStorageInfo(root).device())
        QSKIP("no second writable file system");
    QVERIFY(CTestTree::make(root, "stay=not moved"));
    QCOMPARE(
        CExpect::outcome([&] { return ops.moveFile(path("stay"), other.filePath("m"), 1, 1); }),
        sys(EXDEV));
    QCOMPARE(CTestTree::describe(root), "stay=not moved");
    QCOMPARE(CTestTree::describe(other.path() + u'/'), QString());
}

// NFS, CIFS and FUSE file systems know no rename flags, some no hard links either: moves that
// must not replace still move, and still refuse a taken name.
void tst_CLinuxFSOperationsFailures::withoutRenameFlags_data()
{
    QTest::addColumn<bool>("onFuse");
    QTest::addColumn<bool>("noLinks");
    QTest::newRow("no rename flags") << false << false;
    QTest::newRow("no rename flags, no links") << false << true;
    QTest::newRow("bindfs") << true << false;
}

void tst_CLinuxFSOperationsFailures::withoutRenameFlags()
{
    QFETCH(bool, onFuse);
    QFETCH(bool, noLinks);
    const auto moves = [](CLinuxFSOperations& o, const QString& d) {
        QVERIFY(CTestTree::make(d, "a=first;b=second;folder/;taken/;taken/x=x"));
        QVERIFY(o.moveFile(d + "a", d + "moved", false, false));
        QCOMPARE(CExpect::outcome([&] { return o.moveFile(d + "moved", d + "b", false, false); }),
                 "FileExists | Destination already exists: " + d + "b");
        QVERIFY(o.safeMoveFile(d + "moved", d + "safe moved", d + "~s", false, false));
        QVERIFY(o.safeDeleteFile(d + "b", d + "~d", false));
        QVERIFY(o.safeCopyFile(d + "safe moved", d + "copy", d + "~c", false, false, false));
        QVERIFY(o.renameDirectory(d + "folder", d + "renamed"));
        QCOMPARE(CExpect::outcome([&] { return o.renameDirectory(d + "renamed", d + "taken"); }),
                 "DirectoryExists | Destination already exists: " + d + "taken");
        QCOMPARE(CTestTree::describe(d), "copy=first;renamed/;safe moved=first;taken/;taken/x=x");
    };
    if (CFaultInjection::isInjected()) {
        CFaultInjection::arm();
        moves(ops, CFaultInjection::folder() + u'/');
        return;
    }
    if (!onFuse) {
        CFaultPlan plan;
        plan.pathPrefix = root.chopped(1);
        plan.noRenameFlags = true;
        plan.noLinks = noLinks;
        const CFaultOutcome outcome = CFaultInjection::runCurrentCase(plan);
        QVERIFY2(outcome.passed, outcome.output.constData());
        return;
    }
    if (!QFileInfo::exists(QStringLiteral("/dev/fuse")) ||
        QStandardPaths::findExecutable(QStringLiteral("bindfs")).isEmpty())
        QSKIP("no /dev/fuse or no bindfs here");
    SY_IN_MOUNT_NAMESPACE();
    QVERIFY(CTestTree::make(root, "store/;fuse/"));
    QCOMPARE(QProcess::execute(QStringLiteral("bindfs"), {root + "store", root + "fuse"}), 0);
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {root + "fuse"}); });
    moves(ops, root + "fuse/");
}

void tst_CLinuxFSOperationsFailures::exchange_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("new file") << "";
    QTest::newRow("replacing a file") << "space/Документы/report 1.txt=old version@400";
    QTest::newRow("in place of a template") << "space/Документы/report 1.txt.syncarium=template";
    QTest::newRow("replacing a file with a template")
        << "space/Документы/report 1.txt=old;space/Документы/report 1.txt.syncarium=template@444";
}

void tst_CLinuxFSOperationsFailures::exchange()
{
    QFETCH(QString, before);
    QVERIFY(CTestTree::make(root, before + ";in/x7=new version;out/;space/Документы/"));
    const QDateTime written = utc(2011, 1, 24, 15, 30);
    QVERIFY(CFSOperations().safeExchangeFile(root + "in", root + "out", root + "space/Документы",
                                             "x7", "report 1.txt", written.addDays(-1), written));
    QCOMPARE(CTestTree::describe(root),
             "in/;out/;space/;space/Документы/;space/Документы/report 1.txt=new version");
    QCOMPARE(modified(root + "space/Документы/report 1.txt"), written);
}

void tst_CLinuxFSOperationsFailures::exchangeRollsBack()
{
    const QString tree = faultTree;
    QVERIFY(CTestTree::make(root, tree));
    // A failure that throws is logged and answered with false; failing calls are swept below.
    expectExchangeRecord("Exceptions::FileDoesNotExist::.*Source doesn't exists: .*");
    QVERIFY(!CFSOperations().safeExchangeFile(root + "in", root + "out", root + "space", "missing",
                                              "new", QDateTime(), QDateTime()));

    // An empty name is refused before anything is touched, and so is one with a null character,
    // which the system would read as "file" and replace that file.
    const auto exchangeInto = [this](const QString& name) {
        return CFSOperations().safeExchangeFile(root + "in", root + "out", root + "space", "x",
                                                name, QDateTime(), QDateTime());
    };
    expectExchangeRecord(QStringLiteral("Empty path \\.\\.\\."));
    expectExchangeRecord(QRegularExpression::escape(
        QStringLiteral("XChgIn: %1in XChgOut: %1out XChgSrcName: x").arg(root)));
    expectExchangeRecord(
        QRegularExpression::escape("OriginalPath: " + root + "space OriginalName: "));
    QVERIFY(!exchangeInto(QString()));
    expectExchangeRecord(QRegularExpression::escape("Null character in path file\\0other"));
    QVERIFY(!exchangeInto(QStringLiteral("file") + QChar(u'\0') + "other"));
    QCOMPARE(CTestTree::describe(root), tree);
}

// Each exchange parks under its own name: two threads exchanging two files of one folder keep
// both, and leave no parked name behind.
void tst_CLinuxFSOperationsFailures::exchangesSideBySide()
{
    QVERIFY(CTestTree::make(root, "in/;out/;space/"));
    const auto exchange = [this](const QString& name) {
        for (int round = 0; round < 150; ++round) {
            const QByteArray version = name.toUtf8() + QByteArray::number(round);
            if (!CTestTree::write(root + "in/" + name, version) ||
                !CFSOperations().safeExchangeFile(root + "in", root + "out/" + name, root + "space",
                                                  name, name, QDateTime(), QDateTime()) ||
                CTestTree::content(root + "space/" + name) != version)
                return false;
        }
        return true;
    };
    bool exchanged[2] = {false, false};
    QVERIFY(runOnThreads(
        2, [&](int i) { exchanged[i] = exchange(i == 0 ? "a" : "b"); }, 120000));
    QVERIFY(exchanged[0] && exchanged[1]);
    QCOMPARE(CTestTree::describe(root + "space/"), QStringLiteral("a=a149;b=b149"));
}

// A write error that only fsync or close reports (NFS, FUSE, quotas), or any other failing
// rename, link, unlink or fsync, fails the operation and leaves the tree as it was, or the
// operation succeeds; a copy or exchange tried again once the fault is gone succeeds. Only a
// failed sync of the folder after the exchange's replacing rename keeps the new version.
void tst_CLinuxFSOperationsFailures::failingCalls_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("calls");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("noLinks");
    const QString copy = "copyFile", safeCopy = "safeCopyFile", exchange = "safeExchangeFile";
    QTest::newRow("copyFile, close EIO") << copy << "close" << EIO << false;
    QTest::newRow("copyFile, fsync ENOSPC") << copy << "fsync" << ENOSPC << false;
    QTest::newRow("copyFile, hidden name, close ENOSPC") << copy << "close" << ENOSPC << true;
    QTest::newRow("safeCopyFile, close EIO") << safeCopy << "close" << EIO << false;
    QTest::newRow("safeCopyFile, hidden name, fsync EIO") << safeCopy << "fsync" << EIO << true;
    QTest::newRow("safeCopyFile, rename EINVAL") << safeCopy << "rename,link" << EINVAL << false;
    QTest::newRow("exchange, rename EIO") << exchange << "rename" << EIO << false;
    QTest::newRow("exchange, rename ENOSPC") << exchange << "rename" << ENOSPC << false;
    QTest::newRow("exchange, fsync EIO") << exchange << "fsync" << EIO << false;
}

void tst_CLinuxFSOperationsFailures::failingCalls()
{
    QFETCH(QString, operation);
    QFETCH(QString, calls);
    QFETCH(int, error);
    QFETCH(bool, noLinks);
    if (CFaultInjection::isInjected()) {
        const QString folder = CFaultInjection::folder() + u'/';
        CFaultInjection::arm();
        const bool done = runOperation(ops, operation, folder);
        CFaultInjection::disarm();
        // The answer, for the parent to compare with what is on disk.
        QVERIFY(CTestTree::write(folder + (done ? "true" : "false"), {}));
        return;
    }
    CFaultPlan plan;
    plan.calls = calls;
    plan.pathPrefix = root.chopped(1);
    plan.error = error;
    plan.noLinks = noLinks;
    const QString before = faultTree;
    const QString after = operation == "safeExchangeFile"
                              ? "in/;out/;space/;space/file=new version"
                              : "in/;in/x=new version;out/;space/;space/copy=old version;"
                                "space/file=old version";
    for (plan.at = 1;; ++plan.at) {
        QVERIFY(QDir(root).removeRecursively() && QDir().mkpath(root));
        QVERIFY(CTestTree::make(root, before));
        const CFaultOutcome outcome = CFaultInjection::runCurrentCase(plan);
        QVERIFY2(outcome.passed, outcome.output.constData());
        const bool done = QFile::remove(root + "true");
        QVERIFY(done || QFile::remove(root + "false"));
        const QString tree = CTestTree::describe(root);
        QVERIFY2(done ? tree == after : tree == before || (calls == "fsync" && tree == after),
                 qPrintable(QString::number(plan.at) + ": " + tree));
        if (outcome.calls < plan.at)
            break;
        if (tree == before) {
            QVERIFY(runOperation(ops, operation, root));
            QCOMPARE(CTestTree::describe(root), after);
        }
    }
    QVERIFY(plan.at > 1);
}

void tst_CLinuxFSOperationsFailures::killedSafeOperations_data()
{
    QTest::addColumn<QString>("operation");
    // What the user's file may hold after a kill; none: a folder is moved or removed.
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QString>("after");
    const QStringList old{"old version"};
    const QString in = "in/;in/x=new version;";
    const QString space = "space/;space/file=old version";
    const auto row = [](const char* operation, const QStringList& versions, const QString& after) {
        QTest::newRow(operation) << QString(operation) << versions << after;
    };
    row("safeMoveFile", old, in + "out/;space/;space/moved=old version");
    row("safeCopyFile", old, in + "out/;space/;space/copy=old version;space/file=old version");
    row("safeDeleteFile", {"old version", QString()}, in + "out/;space/");
    row("safeExchangeFile", {"old version", "new version"},
        "in/;out/;space/;space/file=new version");
    row("safeRenameFile", old, in + "out/;space/;space/renamed=old version");
    row("safeMoveDirectory", {}, "out/;out/in/;out/in/x=new version;" + space);
    row("safeRenameDirectory", {}, "out/;renamed/;renamed/x=new version;" + space);
    row("safeDeleteDirectory", {}, "out/;" + space);
    row("safeCleanDirectory", {}, "in/;out/;" + space);
    row("safeCreateDirectory", {}, in + "out/;" + space + ";space/new/");
    row("safeSetTimeStamps", old, faultTree);
}

// A safe operation killed before any of its system calls leaves the user's file whole, old or
// new, and the next call of the operation leaves exactly the state before or after it: no
// safe, parked or hidden name behind.
void tst_CLinuxFSOperationsFailures::killedSafeOperations()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, versions);
    QFETCH(QString, after);
    if (CFaultInjection::isInjected()) {
        CFaultInjection::arm();
        runOperation(ops, operation, CFaultInjection::folder() + u'/');
        return;
    }
    CFaultPlan plan;
    plan.pathPrefix = root.chopped(1);
    const auto prepare = [&] {
        QDir(root).removeRecursively();
        QVERIFY(QDir().mkpath(root) && CTestTree::make(root, faultTree));
    };
    const auto check = [&](int at) {
        if (!versions.isEmpty()) {
            // A moved or renamed file may be at its new name already.
            QString user = root + "space/file";
            for (const char* name : {"space/moved", "space/renamed"})
                if (QFileInfo::exists(root + name))
                    user = root + name;
            const QString content =
                QFileInfo::exists(user) ? QString::fromUtf8(CTestTree::content(user)) : QString();
            QVERIFY2(versions.contains(content), qPrintable(QString::number(at) + ": " + content));
        }
        runOperation(ops, operation, root);
        const QString tree = CTestTree::describe(root);
        QVERIFY2(tree == after || tree == QLatin1String(faultTree),
                 qPrintable(QString::number(at) + ": " + tree));
    };
    const int points = CFaultInjection::killSweep(plan, prepare, check);
    qInfo("%s: %d kill points", qPrintable(operation), points);
    QVERIFY(points > 0);
}

QTEST_GUILESS_MAIN(tst_CLinuxFSOperationsFailures)
#include "tst_CLinuxFSOperationsFailures.moc"
