#include "fsapi/linux/CLinuxFSOperations.h"

#include "common/CExpect.h"
#include "common/CFaultyFSOperations.h"
#include "common/CLockHolder.h"
#include "common/CTestTree.h"
#include "fsapi/CFSOperations.h"
#include "fsapi/CRetryCounter.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/linux/CLinuxFSLock.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

// Testing the retry counter as a condition must not turn into arithmetic.
static_assert(!std::is_convertible_v<CRetryCounter, int>);

namespace {

using Ops = CFaultyFSOperations;
using Path = std::function<QString(const QString&)>;
using Call = std::function<bool(Ops&, const Path&)>;

#define OP(expression) [](Ops& o, const Path& p) -> bool { return expression; }

const QDateTime none;
const QDateTime fine = CFSOperationsTest::utc(2020, 1, 1);

// Root is not refused by permission bits.
const bool asRoot = ::geteuid() == 0;

// Neither null (which leaves a stamp alone) nor valid.
const QDateTime invalidTime(QDate(), QTime(1, 0));

} // namespace

// The plain operations, the checks of their arguments and the system's limits, and what a
// lock another process holds does to them.
class tst_CLinuxFSOperations : public CFSOperationsTest
{
    Q_OBJECT

private Q_SLOTS:
    void argumentChecks_data();
    void argumentChecks();
    void lengthLimits_data();
    void lengthLimits();
    void lockProbes();
    void operations_data();
    void operations();
    void timeStamps();
    void attributesIdentityAndLinks();
    void frontClass();
    void retryCounter();
};

void tst_CLinuxFSOperations::argumentChecks_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("emptyText");
    QTest::addColumn<Call>("call");
    const auto row = [](const char* function, const char* text, const Call& call) {
        QTest::addRow("%s %s", function, text)
            << QString::fromLatin1(function) << QString::fromLatin1(text) << call;
    };
    // p({}) is the path under test, p("name") a file that exists.
    row("tryExclusiveLock", "Empty path ...", OP(o.tryExclusiveLock(p({}))));
    row("copyFile", "Empty src path ...", OP(o.copyFile(p({}), p("src"), false, false, false)));
    row("copyFile", "Empty dest path ...", OP(o.copyFile(p("src"), p({}), true, false, true)));
    row("deleteFile", "Empty path ...", OP(o.deleteFile(p({}), true)));
    row("renameDirectory", "Empty dest path ...", OP(o.renameDirectory(p("src"), p({}))));
    row("safeMoveDirectory", "Empty safePath ...",
        OP(o.safeMoveDirectory(p("src"), p("dest"), p({}), true)));
    row("setTimeStamps", "Empty path ...", OP(o.setTimeStamps(p({}), none, none, fine, false)));
    row("getFSID", "Empty path ...", [](Ops& o, const Path& p) {
        QString id;
        return o.getFSID(p({}), id);
    });
}

void tst_CLinuxFSOperations::argumentChecks()
{
    QFETCH(QString, function);
    QFETCH(QString, emptyText);
    QFETCH(Call, call);
    const QString tree = QStringLiteral("important=keep;src=data");
    QVERIFY(CTestTree::make(root, tree));
    CFaultyFSOperations faulty;
    const QString tooLong = CTestTree::ofBytes(root, 4096, QStringLiteral("n"));
    const QString nameTooLong = root + QString(256, u'n');
    // The system would read these as "important" and "evil.txt".
    const QString cutShort = root + QStringLiteral("important") + QChar(u'\0') + ".bak";
    const QString otherName = root + QStringLiteral("evil.txt") + QChar(u'\0') + ".png";
    for (const QString& bad : {QString(), QString(""), tooLong, nameTooLong, cutShort, otherName}) {
        const QString text = bad.isEmpty()        ? emptyText
                             : bad == tooLong     ? "PathTooLong " + bad + " 4096"
                             : bad == nameTooLong ? "PathTooLong " + bad + " name 256"
                                                  : "Null character in path " +
                                                        QString(bad).replace(QChar(u'\0'), "\\0");
        expectRecord(QtCriticalMsg, function, QRegularExpression::escape(text));
        QVERIFY(!call(faulty, [&](const QString& relative) {
            return relative.isNull() ? bad : root + relative;
        }));
    }
    QCOMPARE(CTestTree::describe(root), tree);
}

void tst_CLinuxFSOperations::lengthLimits_data()
{
    // Linux counts a path's bytes, not its characters: 4,095 without the terminating zero, and
    // 255 for one name.
    QTest::addColumn<QString>("fill");
    QTest::newRow("ASCII") << QStringLiteral("p");
    QTest::newRow("four bytes each") << QStringLiteral("😀");
}

void tst_CLinuxFSOperations::lengthLimits()
{
    QFETCH(QString, fill);
    QVERIFY(CTestTree::write(path("source"), "data"));
    const QString longest = CTestTree::ofBytes(root, 4095, fill);
    QVERIFY(QDir().mkpath(QFileInfo(longest).path()));
    QVERIFY(ops.copyFile(path("source"), longest, false, false, false));
    QVERIFY(ops.fileExists(longest));
    QCOMPARE(CTestTree::content(longest), QByteArray("data"));
    const QString moved = longest.chopped(1) + u'b';
    QVERIFY(ops.moveFile(longest, moved, false, false));
    QVERIFY(ops.createFile(longest, none, none, fine, 0));
    QVERIFY(ops.deleteFile(longest, false));
    QVERIFY(ops.deleteFile(moved, false));
    // A directory may be as long as any path; empty, it is copied and cleaned like any other.
    QVERIFY(ops.createDirectory(longest, none, none, none, 0, false));
    QVERIFY(QFileInfo(longest).isDir());
    QVERIFY(ops.copyDirectory(longest, moved));
    QVERIFY(QFileInfo(moved).isDir());
    QVERIFY(ops.cleanDirectory(longest, false));
    QVERIFY(ops.deleteDirectory(longest, false));
    QVERIFY(ops.deleteDirectory(moved, true));
    // Without unnamed files the copy is written under a hidden name beside its destination
    // first; that name is longer than this destination's own.
    const QString folder = CTestTree::ofBytes(root, 4093, fill) + u'/';
    QVERIFY(QDir().mkpath(folder));
    CFaultyFSOperations withoutUnnamedFiles;
    withoutUnnamedFiles.noUnnamedFiles = true;
    QVERIFY(withoutUnnamedFiles.copyFile(path("source"), folder + u'x', false, false, false));
    QCOMPARE(CTestTree::describe(folder), QStringLiteral("x=data"));

    const auto expectTooLong = [](const char* function, const QString& path, const char* limit) {
        expectRecord(QtCriticalMsg, function,
                     QRegularExpression::escape("PathTooLong " + path + ' ' + limit));
    };
    const QString tooLong = CTestTree::ofBytes(root, 4096, fill);
    expectTooLong("copyFile", tooLong, "4096");
    QVERIFY(!ops.copyFile(path("source"), tooLong, false, false, false));
    expectTooLong("createDirectory", tooLong, "4096");
    QVERIFY(!ops.createDirectory(tooLong, none, none, none, 0, true));

    const QString longestName = CTestTree::ofBytes({}, 255, fill, false);
    QVERIFY(ops.createFile(path(longestName), none, none, fine, 0));
    QVERIFY(ops.renameFile(path(longestName), path("short"), false));
    QVERIFY(ops.createDirectory(path(longestName), none, none, none, 0, false));
    const QString nameTooLong = longestName + u'a';
    expectTooLong("renameFile", path(nameTooLong), "name 256");
    QVERIFY(!ops.renameFile(path("short"), path(nameTooLong), false));
    expectTooLong("createFile", path(longestName + "/" + nameTooLong), "name 256");
    QVERIFY(!ops.createFile(path(longestName + "/" + nameTooLong), none, none, fine, 0));
    QCOMPARE(CTestTree::describe(path(longestName + "/")), QString());
    QVERIFY(QFileInfo::exists(path("short")));
}

void tst_CLinuxFSOperations::lockProbes()
{
    const QString tree = QStringLiteral("file=content;folder/");
    QVERIFY(CTestTree::make(root, tree));
    // Every kind keeps others from deleting, which both probes ask for.
    const std::pair<const char*, const char*> held[] = {
        {"file", "write"}, {"file", "delete"}, {"folder", "exclusive"}};
    for (const auto& [name, kind] : held) {
        CLockHolder holder(path(name), kind);
        QVERIFY(holder.isLocked());
        QVERIFY(!ops.tryExclusiveLock(path(name)));
        QVERIFY(!ops.tryWriteLock(path(name)));
    }
    QVERIFY(ops.tryExclusiveLock(path("file")));
    {
        CLinuxFSLock sameProcess;
        QVERIFY(sameProcess.getDeleteLock(path("folder")));
        QVERIFY(!ops.tryExclusiveLock(path("folder")));
        QVERIFY(!ops.tryWriteLock(path("folder")));
    }
    QVERIFY(ops.tryWriteLock(path("folder")));
    QCOMPARE(CTestTree::describe(root), tree);
    QCOMPARE(CExpect::outcome([&] { return ops.tryExclusiveLock(path("missing")); }),
             sys(ENOENT, "DoesNotExist"));
    // The probe needs no write permission: a running program can be probed.
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), path("program")));
    QVERIFY(QFile::setPermissions(
        path("program"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QProcess running;
    running.start(path("program"), {QStringLiteral("60")});
    QVERIFY(running.waitForStarted(30000));
    const bool probed = ops.tryExclusiveLock(path("program"));
    running.kill();
    QVERIFY(running.waitForFinished(30000));
    QVERIFY(probed);
    QVERIFY(QFile::remove(path("program")));
    if (asRoot)
        return;
    // The probe asks for write access: a read-only file loses its read-only attribute.
    QVERIFY(CTestTree::make(root, "read-only=x@444"));
    QVERIFY(ops.tryExclusiveLock(path("read-only")));
    QCOMPARE(CTestTree::describe(root), tree + ";read-only=x");
}

// Each row: the tree before, a lock another process holds during the call ("kind path"), the
// call, its outcome, the tree after (null: unchanged) and the records the call must write
// ("level function text", level "warning~" for a pattern).
void tst_CLinuxFSOperations::operations_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("held");
    QTest::addColumn<Call>("call");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<bool>("asUser");
    struct Options
    {
        Options(const char* after = nullptr, const QStringList& records = {}, const char* held = "",
                bool asUser = false)
            : after(after), records(records), held(held), asUser(asUser)
        {}
        const char* after;
        QStringList records;
        const char* held;
        bool asUser;
    };
    const auto row = [](const char* name, const char* before, const Call& call,
                        const QString& outcome, const Options& options = {}) {
        QTest::newRow(name) << QString::fromUtf8(before) << QString::fromLatin1(options.held)
                            << call << outcome
                            << (options.after ? QString::fromUtf8(options.after) : QString())
                            << options.records << options.asUser;
    };
    const QString locked = "Locked | File is locked: %R";
    const Options asUser{nullptr, {}, "", true};
    const auto held = [](const char* lock) { return Options{nullptr, {}, lock}; };
    const QString exists = "FileExists | Destination already exists: %R";
    const QString rollback = "FileSystemException | ERROR at ROLLBACK: %R";
    const QString badTime = "InvalidParameter | Timestamp is invalid";

    // A link is looked at itself; whatever keeps a path from being looked up throws.
    const char* const probed = "file.txt=x;folder/;linkToFolder->%Rfolder";
    row("fileExists of a file", probed, OP(o.fileExists(p("file.txt"))), "true");
    row("fileExists of a folder", probed, OP(o.fileExists(p("folder"))),
        "NotAFile | %Rfolder is a directory");
    row("fileExists of a link to a folder", probed, OP(o.fileExists(p("linkToFolder"))), "true");
    row("fileExists of a missing file", probed, OP(o.fileExists(p("missing"))), "false");
    row("fileExists below a file", probed, OP(o.fileExists(p("file.txt/child"))), "false");
    row("fileExists in a closed folder", "closed/f=x;closed/@0", OP(o.fileExists(p("closed/f"))),
        sys(EACCES), asUser);
    row("directoryExists of a file", probed, OP(o.directoryExists(p("file.txt"))),
        "NotADirectory | %Rfile.txt is not a directory");
    row("directoryExists of a folder", probed, OP(o.directoryExists(p("folder"))), "true");
    row("directoryExists of a link to a folder", probed, OP(o.directoryExists(p("linkToFolder"))),
        "NotADirectory | %RlinkToFolder is not a directory");
    row("directoryExists of a missing folder", probed, OP(o.directoryExists(p("missing"))),
        "false");
    row("directoryExists in a closed folder", "closed/d/;closed/@0",
        OP(o.directoryExists(p("closed/d"))), sys(EACCES), asUser);

    row("copyFile onto a file", "new=n;old=o",
        OP(o.copyFile(p("new"), p("old"), true, false, false)), exists + "old");
    row("copyFile onto a dangling link, failIfExists", "new=n;old->%Rnot yet",
        OP(o.copyFile(p("new"), p("old"), true, false, true)), exists + "old");
    row("copyFile into a missing folder", "f=data",
        OP(o.copyFile(p("f"), p("a/b/f"), false, false, false)),
        QStringLiteral("DoesNotExist | Specified path doesn't exist: %Ra/b/f"));
    row("copyFile into a missing folder, force", "f=data",
        OP(o.copyFile(p("f"), p("a/b/f"), true, false, false)), "true",
        {"a/;a/b/;a/b/f=data;f=data"});
    row("copyFile of a FIFO", "",
        [](Ops& o, const Path& p) {
            const auto removeFifo = qScopeGuard([&] { QFile::remove(p("fifo")); });
            return ::mkfifo(QFile::encodeName(p("fifo")).constData(), 0600) == 0 &&
                   o.copyFile(p("fifo"), p("x"), true, false, false);
        },
        sys(EINVAL), {""});
    row("copyFile of a locked file", "in use=busy",
        OP(o.copyFile(p("in use"), p("copy"), false, true, false)), locked + "in use",
        held("write in use"));
    row(
        "copyFile onto a full disk", "big=*100000",
        [](Ops& o, const Path& p) {
            o.diskFull = true;
            return o.copyFile(p("big"), p("copy"), true, false, false);
        },
        sys(ENOSPC));
    row("copyFile of an unreadable file", "secret=s@0",
        OP(o.copyFile(p("secret"), p("copy"), false, false, false)), sys(EACCES),
        {"secret=<unreadable>@0", {}, "", true});

    row("createFile on a file", "present=keep", OP(o.createFile(p("present"), none, none, none, 0)),
        exists + "present");
    row("createDirectory whose rollback fails", "",
        OP(o.failing("setAttributes %Rd")
               .failing("deleteDirectory %Rd")
               .createDirectory(p("d"), none, none, none, FSAttributes::ReadOnly, false)),
        "false",
        {"d/",
         {"critical createDirectory could not set attributes",
          "critical createDirectory ERROR at ROLLBACK: deleteDirectory returned false - %Rd"}});

    row("renameFile", "dir/f=payload", OP(o.renameFile(p("dir/f"), p("dir/renamed ünï"), false)),
        "true", {"dir/;dir/renamed ünï=payload"});
    row("renameFile to another folder", "dir/f=payload;other/",
        OP(o.renameFile(p("dir/f"), p("other/f"), false)),
        QStringLiteral("InvalidParameter | Paths not equal"));
    row("moveFile, force", "f=payload", OP(o.moveFile(p("f"), p("new/parent/f"), true, false)),
        "true", {"new/;new/parent/;new/parent/f=payload"});
    row("moveFile, overwrite", "f=payload;old=old", OP(o.moveFile(p("f"), p("old"), 0, true)),
        "true", {"old=payload"});
    row("moveDirectory onto a folder", "tree/f=x;occupied/",
        OP(o.moveDirectory(p("tree"), p("occupied"), false)),
        "DirectoryExists | Destination already exists: %Roccupied");
    row("moveDirectory of a missing folder", "", OP(o.moveDirectory(p("missing"), p("x"), true)),
        "DirectoryDoesNotExist | Source doesn't exists: %Rmissing");

    row("deleteFile of a link", "link->%Rtarget;target=kept@444",
        OP(o.deleteFile(p("link"), false)), "true", {"target=kept@444"});
    row("moveFile of a read-only file onto a file", "f=x@444;old=o",
        OP(o.moveFile(p("f"), p("old"), false, false)), exists + "old");
    row("deleteFile of a read-only file in a closed folder", "closed/f=x@444;closed/@555",
        OP(o.deleteFile(p("closed/f"), false)), sys(EACCES), asUser);
    row("deleteFile, force, of a locked read-only file", "busy=x@444",
        OP(o.deleteFile(p("busy"), true)), locked + "busy", held("delete busy"));
    row("moveFile onto a locked file", "f=new;old=old", OP(o.moveFile(p("f"), p("old"), 0, true)),
        locked + "old", held("delete old"));
    row("deleteDirectory, force, with a locked file inside", "d/a=a;d/sub/b=b;d/sub/c=c;d/z=z",
        OP(o.deleteDirectory(p("d"), true)), locked + "d/sub/b", held("delete d/sub/b"));
    row("setTimeStamps of a locked file", "f=x", OP(o.setTimeStamps(p("f"), none, none, fine, 0)),
        locked + "f", held("write f"));
    row("setAttributes of a locked file", "f=x",
        OP(o.setAttributes(p("f"), FSAttributes::ReadOnly)), locked + "f", held("exclusive f"));
    row("tryExclusiveLock of a file its owner may not write", "f=x@464",
        OP(o.tryExclusiveLock(p("f"))), "true", asUser);
    row("deleteFile of a file its owner may not write", "f=x@464", OP(o.deleteFile(p("f"), 0)),
        "true", {"", {}, "", true});
    row("deleteDirectory of a folder its owner may not list", "d/@300",
        OP(o.deleteDirectory(p("d"), false)), sys(EACCES), asUser);
    row("deleteFile of a missing file", "", OP(o.deleteFile(p("missing"), false)),
        "FileDoesNotExist | File not found: %Rmissing",
        {nullptr, {"critical deleteFile Failed to remove readonly attribute for %Rmissing"}});
    row("copyFile, without checkLock, of a file held exclusively", "in use=busy",
        OP(o.copyFile(p("in use"), p("copy"), false, false, false)), locked + "in use",
        held("exclusive in use"));
    row("copyFile of a file held against writing", "in use=busy",
        OP(o.copyFile(p("in use"), p("copy"), false, false, false)), "true",
        {"copy=busy;in use=busy", {}, "write in use"});
    const QString folderLocked = "Locked | Directory is locked: %Rd";
    row("moveDirectory with a held file inside", "d/sub/b=b",
        OP(o.moveDirectory(p("d"), p("e"), false)), folderLocked,
        {nullptr, {"critical moveDirectory Directory locked"}, "delete d/sub/b"});
    row("renameDirectory with a held file inside", "d/b=b", OP(o.renameDirectory(p("d"), p("e"))),
        folderLocked, {nullptr, {"critical moveDirectory Directory locked"}, "write d/b"});
    row("safeMoveDirectory with a held file inside", "d/sub/b=b",
        OP(o.safeMoveDirectory(p("d"), p("e"), p("~d"), false)), folderLocked,
        {nullptr, {"critical safeMoveDirectory Directory locked"}, "exclusive d/sub/b"});
    row("deleteFile of a locked file", "busy=x", OP(o.deleteFile(p("busy"), false)),
        locked + "busy", held("delete busy"));
    row("deleteDirectory of a full folder keeps every file", "full/a=a;full/sub/b=b",
        OP(o.deleteDirectory(p("full/"), false)),
        "DirectoryNotEmpty | Could not delete directory: %Rfull/");
    row("deleteDirectory, force",
        "out/keep=k;full/a=a@444;full/sub/deeper/b.=b;full/sub/.hidden=h;full/sub/...=d;"
        "full/sub/line\nbreak=n;full/sub/deeper/@555;full/out->%Rout/",
        OP(o.deleteDirectory(p("full"), true)), "true", {"out/;out/keep=k"});
    row("deleteDirectory of a locked folder", "busy/", OP(o.deleteDirectory(p("busy"), true)),
        "Locked | Directory is locked: %Rbusy",
        {nullptr, {"critical deleteDirectory Directory locked"}, "write busy"});
    row("cleanDirectory of a subfolder", "d/sub/ファイル=f", OP(o.cleanDirectory(p("d/"), false)),
        "DirectoryNotEmpty | Could not delete directory: %Rd/sub");
    row("cleanDirectory, force", "d/top=t@444;d/..hidden=h;d/sub/ファイル=f",
        OP(o.cleanDirectory(p("d/"), true)), "true", {"d/"});
    row("cleanDirectory of a missing folder", "", OP(o.cleanDirectory(p("missing"), true)), "false",
        {nullptr, {"critical cleanDirectory directory doesn't exists"}});
    row("cleanDirectory of a locked folder", "d/f=x", OP(o.cleanDirectory(p("d"), true)), "false",
        {nullptr, {"critical cleanDirectory tryWirteLock failed"}, "exclusive d"});

    row("setTimeStamps of an invalid time", "f=x",
        OP(o.setTimeStamps(p("f"), none, invalidTime, fine, 0)), badTime);
    row("createDirectory with an invalid time", "",
        OP(o.createDirectory(p("a/b/c"), none, none, invalidTime, 0, true)), badTime);
    row("createDirectory before 1970", "",
        OP(o.createDirectory(p("a/b/c"), none, none, utc(1901, 12, 14), 0, true)), "true",
        {"a/;a/b/;a/b/c/"});

    row("safeDeleteFile", "f=x", OP(o.safeDeleteFile(p("f"), p("~safe"), false)), "true", {""});
    const QString backAt = "critical %1 rolled back: the object is back at %R";
    const QString leftAt =
        "critical %1 ERROR at ROLLBACK: the object is left at %R%2 and not back at %R%3 - %4";
    row("safeDeleteFile whose deletion fails", "k/f=*5000@640",
        OP(o.failing("deleteFile %Rk/~safe").safeDeleteFile(p("k/f"), p("k/~safe"), true)), "false",
        {nullptr, {backAt.arg("safeDeleteFile") + "k/f"}});
    row("safeDeleteFile whose deletion throws", "k/f=*5000@640",
        OP(o.failing("deleteFile %Rk/~safe", Fault::Throw)
               .safeDeleteFile(p("k/f"), p("k/~safe"), true)),
        rollback + "k/f", {nullptr, {backAt.arg("safeDeleteFile") + "k/f"}});
    row("safeDeleteFile whose way back fails", "k/f=*5000@640",
        OP(o.failing("deleteFile %Rk/~safe")
               .failing("moveFile %Rk/~safe -> %Rk/f")
               .safeDeleteFile(p("k/f"), p("k/~safe"), true)),
        rollback + "k/f",
        {"k/;k/~safe=*5000@640",
         {leftAt.arg("safeDeleteFile", "k/~safe", "k/f", "the move answered false")}});
    row("safeDeleteFile of a read-only file whose deletion fails", "k/f=x@444",
        OP(o.failing("deleteFile %Rk/~safe").safeDeleteFile(p("k/f"), p("k/~safe"), false)),
        "false", {nullptr, {backAt.arg("safeDeleteFile") + "k/f"}});
    row("safeDeleteFile with a taken safe name", "f=mine;~safe=theirs",
        OP(o.safeDeleteFile(p("f"), p("~safe"), false)),
        QStringLiteral("FileSystemException | Could not rename file to safe name: %Rf"));
    row("safeCopyFile", "src=copy me", OP(o.safeCopyFile(p("src"), p("dest"), p("~d"), 0, 0, 0)),
        "true", {"dest=copy me;src=copy me"});
    row("safeCopyFile onto a file", "src=new;dest=old",
        OP(o.safeCopyFile(p("src"), p("dest"), p("~d"), 0, 0, 0)), exists + "dest");
    row("safeCopyFile whose move throws", "src=s",
        OP(o.failing("moveFile %R~d -> %Rdest", Fault::Throw)
               .safeCopyFile(p("src"), p("dest"), p("~d"), 0, 0, 0)),
        "false",
        {nullptr, {"warning~ safeCopyFile Exceptions::FileSystemException::.*injected fault.*"}});
    row("safeMoveFile whose placing fails", "f=*10000@600",
        OP(o.failing("moveFile %R~s -> %Rn/d").safeMoveFile(p("f"), p("n/d"), p("~s"), 0, 0)),
        "false", {"f=*10000@600;n/", {backAt.arg("safeMoveFile") + "f"}});
    row("safeCreateDirectory whose time fails", "",
        OP(o.failing("setTimeStamps %Rd")
               .safeCreateDirectory(p("d"), p("~d"), none, none, fine, 0, 0)),
        "false", {nullptr, {"critical safeCreateDirectory could not set TimeStamp"}});
    row("safeSetTimeStamps with a taken safe name", "f=x;~s=taken",
        OP(o.safeSetTimeStamps(p("f"), p("~s"), none, none, fine, false)), "true",
        {nullptr,
         {"critical safeSetTimeStamps could not rename file/dir to safename before setting "
          "timestamps -> now set timestamps to original file/dir"}});
}

void tst_CLinuxFSOperations::operations()
{
    QFETCH(QString, before);
    QFETCH(QString, held);
    QFETCH(Call, call);
    QFETCH(QString, outcome);
    QFETCH(QString, after);
    QFETCH(QStringList, records);
    QFETCH(bool, asUser);
    if (asUser && asRoot)
        QSKIP("root is not refused by permission bits");
    QVERIFY(CTestTree::make(root, before));
    const QString expectedAfter = after.isNull() ? CTestTree::describe(root) : after;
    std::unique_ptr<CLockHolder> holder;
    if (!held.isEmpty()) {
        holder =
            std::make_unique<CLockHolder>(path(held.section(u' ', 1)), held.section(u' ', 0, 0));
        QVERIFY(holder->isLocked());
    }
    for (const QString& record : std::as_const(records)) {
        const QString level = record.section(u' ', 0, 0);
        const QString function = record.section(u' ', 1, 1);
        const QString text = record.section(u' ', 2);
        expectRecord(level.startsWith(u'w') ? QtWarningMsg : QtCriticalMsg, function,
                     level.endsWith(u'~')
                         ? QString(text).replace("%R", QRegularExpression::escape(root))
                         : QRegularExpression::escape(QString(text).replace("%R", root)));
    }
    CFaultyFSOperations faulty;
    faulty.root = root;
    const Path p = [this](const QString& relative) { return path(relative); };
    QCOMPARE(CExpect::outcome([&] { return call(faulty, p); }),
             QString(outcome).replace(QStringLiteral("%R"), root));
    holder.reset();
    QCOMPARE(CTestTree::describe(root), expectedAfter);
}

void tst_CLinuxFSOperations::timeStamps()
{
    QVERIFY(CTestTree::make(root, "stamped=x;folder/"));
    const QString file = path("stamped");
    const QDateTime accessed = utc(2001, 9, 9, 1, 46, 40);
    const QDateTime written = utc(2011, 1, 24, 15, 30, 0, 123);
    QVERIFY(ops.setTimeStamps(file, none, accessed, written, false));
    QCOMPARE(QFileInfo(file).lastRead().toUTC(), accessed);
    QCOMPARE(modified(file), written);
    const QDateTime early = utc(1969, 12, 31, 23, 59, 59, 999);
    QVERIFY(ops.setTimeStamps(file, none, none, early, false));
    QCOMPARE(modified(file), early);

    // A link gets the times itself; what it points to keeps its own.
    QVERIFY(CTestTree::make(root, "outside=o;link->%Routside"));
    const QDateTime outsideWritten = modified(path("outside"));
    QVERIFY(ops.setTimeStamps(path("link"), none, none, early, false));
    QCOMPARE(modified(path("outside")), outsideWritten);
    struct stat status;
    QCOMPARE(::lstat(QFile::encodeName(path("link")).constData(), &status), 0);
    QCOMPARE(status.st_mtim.tv_sec, time_t(-1));
    QVERIFY(QFile::remove(path("link")) && QFile::remove(path("outside")));

    // A null stamp is left as it is, and a local time means the same instant. A lock that
    // lets others write does not keep the stamps from being written.
    CLockHolder holder(file, QStringLiteral("delete"));
    QVERIFY(holder.isLocked());
    QVERIFY(ops.setTimeStamps(file, written, none, accessed.toOffsetFromUtc(5 * 3600), false));
    QCOMPARE(QFileInfo(file).lastRead().toUTC(), accessed);
    QCOMPARE(modified(file), accessed);
    QVERIFY(ops.safeSetTimeStamps(path("folder"), path("~s"), none, none, written, true));
    QCOMPARE(modified(path("folder")), written);

    // New objects take their times and attributes.
    QVERIFY(ops.createFile(path("ro ☃"), none, accessed, written, FSAttributes::ReadOnly));
    QCOMPARE(QFileInfo(path("ro ☃")).lastRead().toUTC(), accessed);
    QCOMPARE(modified(path("ro ☃")), written);
    QVERIFY(ops.createDirectory(path("a/b"), none, none, written, 0, true));
    QCOMPARE(modified(path("a/b")), written);
    QVERIFY(ops.safeCreateDirectory(path("safe"), path("~safe"), none, none, written,
                                    FSAttributes::ReadOnly, false));
    QCOMPARE(modified(path("safe")), written);
    QCOMPARE(CTestTree::describe(root), "a/;a/b/;folder/;ro ☃=@444;safe/@555;stamped=x");
}

void tst_CLinuxFSOperations::attributesIdentityAndLinks()
{
    QVERIFY(CTestTree::make(root, "f=x@664;folder/;other=x;symbolic->%Rf"));
    const QString file = path("f");
    QVERIFY(ops.setAttributes(file, FSAttributes::Hidden | FSAttributes::System));
    QVERIFY(ops.setAttributes(path("folder"), FSAttributes::ReadOnly));
    // A link has no attributes of its own, and its target is left alone.
    QVERIFY(ops.setAttributes(path("symbolic"), FSAttributes::ReadOnly));
    QCOMPARE(CTestTree::describe(root), "f=x@664;folder/@555;other=x;symbolic->%Rf");
    QVERIFY(ops.setAttributes(file, FSAttributes::ReadOnly));
    QCOMPARE(CTestTree::describe(root), "f=x@444;folder/@555;other=x;symbolic->%Rf");
    QVERIFY(ops.removeAttributes(file, FSAttributes::ReadOnly));
    QVERIFY(ops.removeAttributes(path("folder"), FSAttributes::ReadOnly));
    QCOMPARE(CTestTree::describe(root), QStringLiteral("f=x;folder/;other=x;symbolic->%Rf"));

    QVERIFY(::link(QFile::encodeName(file).constData(),
                   QFile::encodeName(path("hardLink")).constData()) == 0);
    const auto id = [this](const char* relative) {
        QString value;
        return ops.getFSID(path(relative), value) ? value : QString();
    };
    QVERIFY(!id("f").isEmpty());
    QCOMPARE(id("hardLink"), id("f"));
    QVERIFY(id("other") != id("f"));
    QVERIFY(id("symbolic") != id("f"));
    QString unused;
    QCOMPARE(CExpect::outcome([&] { return ops.getFSID(path("missing"), unused); }),
             "DoesNotExist | Specified path doesn't exist: " + path("missing"));
    QVERIFY(ops.isSymbolicLink(path("symbolic")));
    QVERIFY(!ops.isSymbolicLink(file));
    QVERIFY(!ops.isSymbolicLink(path("missing")));

    // A link is not held open by whoever holds its target.
    CLockHolder holder(file, QStringLiteral("exclusive"));
    QVERIFY(holder.isLocked());
    QVERIFY(ops.tryExclusiveLock(path("symbolic")));
}

// The class callers name answers false without a platform's operations, and passes on the
// platform's answers and exceptions unchanged.
void tst_CLinuxFSOperations::frontClass()
{
    CFSOperations withoutImplementation(nullptr);
    QVERIFY(!withoutImplementation.fileExists(root));
    QVERIFY(!withoutImplementation.createDirectory(root + "d", {}, {}, {}, 0, false));
    QCOMPARE(CTestTree::describe(root), QString());
    CFSOperations front;
    QVERIFY(front.createDirectory(root + "d", {}, {}, {}, 0, false));
    QVERIFY(front.directoryExists(root + "d"));
    QCOMPARE(CExpect::outcome([&] { return front.fileExists(root + "d"); }),
             "NotAFile | " + root + "d is a directory");
}
// Each attempt asked for uses one of the retries + 1 up while one is left; asking for none
// uses none up.
void tst_CLinuxFSOperations::retryCounter()
{
    CRetryCounter once(true, 0);
    QVERIFY(once);
    once = true;
    QVERIFY(!once);
    CRetryCounter counter(false, 2);
    QVERIFY(!counter);
    QCOMPARE(counter.getRemaining(), 3u);
    // What is asked for, what the counter answers then, and what remains.
    const std::tuple<bool, bool, quint32> steps[] = {
        {true, true, 2}, {false, false, 2}, {true, true, 1}, {true, false, 0}, {true, false, 0}};
    for (const auto& [ask, answer, remaining] : steps) {
        counter = ask;
        QCOMPARE(bool(counter), answer);
        QCOMPARE(counter.getRemaining(), remaining);
    }
}

QTEST_GUILESS_MAIN(tst_CLinuxFSOperations)
#include "tst_CLinuxFSOperations.moc"
