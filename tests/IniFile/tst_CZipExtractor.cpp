#include "IniFile/CZipExtractor.h"

#include "common/CTestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <quazip/unzip.h>

#include <unistd.h>

using TStatus = CZipExtractor::TStatus;
Q_DECLARE_METATYPE(CZipExtractor::TStatus)

namespace {
// What unpacking a whole archive came to: the first status that was not Ok, with the
// extractor's details at that point.
struct TOutcome
{
    TStatus status = TStatus::Ok;
    int code = 0;
    QString reason;
    QString entryName;
    QString outputPath;
    int entries = 0;
    int closeCode = 0;
};

TOutcome unpack(
    const QString& zipFile, const QString& target,
    const std::function<bool()>& isAborted = [] { return false; })
{
    TOutcome outcome;
    CZipExtractor extractor(zipFile, target);
    outcome.status = extractor.open();
    if (outcome.status == TStatus::Ok) {
        for (bool more = extractor.goToFirstEntry(); more; more = extractor.goToNextEntry()) {
            outcome.status = extractor.extractEntry(isAborted);
            if (outcome.status != TStatus::Ok)
                break;
            ++outcome.entries;
        }
    }
    outcome.code = outcome.status == TStatus::Ok ? extractor.archiveError() : extractor.errorCode();
    outcome.reason = extractor.reason();
    outcome.entryName = extractor.entryName();
    outcome.outputPath = extractor.outputPath();
    outcome.closeCode = extractor.close();
    return outcome;
}

// Every path below folder, relative to it, folders ending with "/".
QStringList treeOf(const QString& folder)
{
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QString relative = QDir(folder).relativeFilePath(info.filePath());
        if (info.isDir() && !info.isSymLink())
            relative += QLatin1Char('/');
        paths.append(relative);
    }
    paths.sort();
    return paths;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool run(const QString& program, const QStringList& arguments, const QString& directory = {})
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return false;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments << process.readAllStandardError();
        return false;
    }
    return true;
}
} // namespace

class tst_CZipExtractor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void hostile_data();
    void hostile();
    void symbolicLinkEntryBecomesPlainFile();
    void linkedFolderInTarget();
    void linkedFileInTarget();
    void hardLinkInTargetIsReplaced();
    void existingFileIsOverwritten();
    void emptyArchive();
    void validArchives_data();
    void validArchives();
    void infoZipTree();
    void abortKeepsWhatWasWritten();
    void unwritableTarget();

private:
    QString archive(const char* name) const
    {
        return env->root() + QStringLiteral("archives/") + QLatin1String(name) +
               QStringLiteral(".zip");
    }
    QString freshTarget() { return env->makeDir(QStringLiteral("t%1").arg(++targets)); }

    std::unique_ptr<CTestEnvironment> env;
    QString outside;
    int targets = 0;
};

void tst_CZipExtractor::initTestCase()
{
    env = std::make_unique<CTestEnvironment>();
    QVERIFY(env->isValid());
    outside = env->makeDir(QStringLiteral("outside"));
    const QString script =
        qEnvironmentVariable("SY_TEST_DATA") + QStringLiteral("/IniFile/data/make_test_zips.py");
    QVERIFY2(QFileInfo::exists(script), qPrintable(script));
    QVERIFY(run(QStringLiteral("python3"),
                {script, env->makeDir(QStringLiteral("archives")), outside + QStringLiteral("x")}));
}

void tst_CZipExtractor::hostile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<TStatus>("status");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason");
    // What the target holds afterwards: refused archives leave nothing at all.
    QTest::addColumn<QStringList>("tree");
    const QStringList nothing;
    QTest::newRow("parent component")
        << "traversal" << TStatus::Refused << 0 << "\"..\" component" << nothing;
    QTest::newRow("inner parent components")
        << "inner-traversal" << TStatus::Refused << 0 << "\"..\" component" << nothing;
    QTest::newRow("absolute") << "absolute" << TStatus::Refused << 0 << "absolute" << nothing;
    QTest::newRow("backslash") << "backslash" << TStatus::Refused << 0 << "backslash" << nothing;
    QTest::newRow("newline") << "control" << TStatus::Refused << 0 << "control character"
                             << nothing;
    QTest::newRow("NUL") << "nul" << TStatus::Refused << 0 << "control character" << nothing;
    QTest::newRow("encrypted") << "encrypted" << TStatus::Refused << 0 << "encrypted" << nothing;
    QTest::newRow("bzip2") << "bzip2" << TStatus::Refused << 0 << "compression method 12"
                           << nothing;
    QTest::newRow("overlapping data")
        << "overlap" << TStatus::Refused << 0 << "overlaps" << nothing;
    QTest::newRow("end record counts too many")
        << "too-many-entries" << TStatus::OpenFailed << UNZ_BADZIPFILE << QString() << nothing;
    QTest::newRow("CRC mismatch") << "crc" << TStatus::EntryFailed << UNZ_CRCERROR << QString()
                                  << nothing;
    QTest::newRow("stored CRC mismatch")
        << "crc-stored" << TStatus::EntryFailed << UNZ_CRCERROR << QString() << nothing;
    QTest::newRow("declares no data")
        << "declared-zero" << TStatus::EntryFailed << UNZ_CRCERROR << QString() << nothing;
    QTest::newRow("stored, declares no data")
        << "stored-declared-zero" << TStatus::EntryFailed << UNZ_CRCERROR << QString() << nothing;
    QTest::newRow("declares less")
        << "declared-smaller" << TStatus::EntryFailed << UNZ_CRCERROR << QString() << nothing;
    QTest::newRow("declares more") << "declared-larger" << TStatus::Refused << 0
                                   << "holds 1000 bytes, its header declares 100000" << nothing;
    QTest::newRow("corrupt deflate data")
        << "corrupt-data" << TStatus::ReadFailed << 0 << QString() << nothing;
    QTest::newRow("through a stored link")
        << "symlink-then-through" << TStatus::Refused << 0 << "on disk, link is not a folder"
        << QStringList{QStringLiteral("link")};
}

void tst_CZipExtractor::hostile()
{
    QFETCH(QString, name);
    QFETCH(TStatus, status);
    QFETCH(int, code);
    QFETCH(QString, reason);
    QFETCH(QStringList, tree);
    const QString target = freshTarget();
    const TOutcome outcome = unpack(archive(name.toLatin1().constData()), target);
    QCOMPARE(outcome.status, status);
    if (code != 0)
        QCOMPARE(outcome.code, code);
    if (!reason.isEmpty())
        QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.reason));
    QCOMPARE(treeOf(target), tree);
    QCOMPARE(treeOf(outside), QStringList());
    QVERIFY(!QFileInfo::exists(env->root() + QStringLiteral("escaped.txt")));
}

void tst_CZipExtractor::symbolicLinkEntryBecomesPlainFile()
{
    const QString target = freshTarget();
    const TOutcome outcome = unpack(archive("symlink-entry"), target);
    QCOMPARE(outcome.status, TStatus::Ok);
    const QFileInfo link(target + QStringLiteral("link"));
    QVERIFY(link.isFile());
    QVERIFY(!link.isSymLink());
    QCOMPARE(contents(link.filePath()), (outside + QStringLiteral("x")).toUtf8());
}

void tst_CZipExtractor::linkedFolderInTarget()
{
    const QString target = freshTarget();
    QVERIFY(QFile::link(outside, target + QStringLiteral("d")));
    const TOutcome outcome = unpack(archive("streamed"), target);
    QCOMPARE(outcome.status, TStatus::Refused);
    QCOMPARE(outcome.entryName, QStringLiteral("d/one.txt"));
    QCOMPARE(outcome.reason, QStringLiteral("on disk, d is a symbolic link"));
    QCOMPARE(treeOf(outside), QStringList());
}

void tst_CZipExtractor::linkedFileInTarget()
{
    const QString target = freshTarget();
    const QString victim = env->writeFile(QStringLiteral("outside/victim.txt"), "keep");
    QVERIFY(QFile::link(victim, target + QStringLiteral("two.txt")));
    QVERIFY(QDir().mkpath(target + QStringLiteral("d")));
    const TOutcome outcome = unpack(archive("streamed"), target);
    QCOMPARE(outcome.status, TStatus::Refused);
    QCOMPARE(outcome.entryName, QStringLiteral("two.txt"));
    QCOMPARE(outcome.reason, QStringLiteral("on disk, two.txt is a symbolic link"));
    QCOMPARE(contents(victim), QByteArray("keep"));
    QVERIFY(QFileInfo(target + QStringLiteral("two.txt")).isSymLink());
    QVERIFY(QFile::remove(victim));
}

void tst_CZipExtractor::hardLinkInTargetIsReplaced()
{
    const QString target = freshTarget();
    const QString victim = env->writeFile(QStringLiteral("outside/hard.txt"), "keep");
    QVERIFY(::link(QFile::encodeName(victim).constData(),
                   QFile::encodeName(target + QStringLiteral("Größe.log")).constData()) == 0);
    const TOutcome outcome = unpack(archive("unicode"), target);
    QCOMPARE(outcome.status, TStatus::Ok);
    QCOMPARE(contents(target + QStringLiteral("Größe.log")), QByteArray("umlaut"));
    QCOMPARE(contents(victim), QByteArray("keep"));
    QVERIFY(QFile::remove(victim));
}

void tst_CZipExtractor::existingFileIsOverwritten()
{
    const QString target = freshTarget();
    env->writeFile(target.mid(env->root().size()) + QStringLiteral("d/one.txt"),
                   QByteArray(100000, 'o'));
    const TOutcome outcome = unpack(archive("streamed"), target);
    QCOMPARE(outcome.status, TStatus::Ok);
    QCOMPARE(contents(target + QStringLiteral("d/one.txt")), QByteArray("first ").repeated(1000));
}

void tst_CZipExtractor::emptyArchive()
{
    const QString target = freshTarget();
    CZipExtractor extractor(archive("empty"), target);
    QCOMPARE(extractor.open(), TStatus::Ok);
    QCOMPARE(extractor.entriesCount(), 0);
    QVERIFY(!extractor.goToFirstEntry());
    QCOMPARE(extractor.archiveError(), 0);
    QCOMPARE(extractor.close(), 0);
    QCOMPARE(treeOf(target), QStringList());
}

void tst_CZipExtractor::validArchives_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("data descriptors") << "streamed" << QStringList{"d/", "d/one.txt", "two.txt"}
                                      << "d/one.txt" << QByteArray("first ").repeated(1000);
    QTest::newRow("UTF-8 names") << "unicode"
                                 << QStringList{"Größe.log", "журнал/", "журнал/日本語.txt"}
                                 << "журнал/日本語.txt" << QByteArray("cjk");
    const QString a(100, QLatin1Char('a'));
    const QString b = a + QLatin1Char('/') + QString(100, QLatin1Char('b'));
    const QString c =
        b + QLatin1Char('/') + QString(100, QLatin1Char('c')) + QStringLiteral(".txt");
    QTest::newRow("name of 306 bytes")
        << "long-name" << QStringList{a + QLatin1Char('/'), b + QLatin1Char('/'), c} << c
        << QByteArray("long");
}

void tst_CZipExtractor::validArchives()
{
    QFETCH(QString, name);
    QFETCH(QStringList, tree);
    QFETCH(QString, file);
    QFETCH(QByteArray, data);
    const QString target = freshTarget();
    const TOutcome outcome = unpack(archive(name.toLatin1().constData()), target);
    QCOMPARE(outcome.status, TStatus::Ok);
    QCOMPARE(outcome.closeCode, 0);
    QCOMPARE(treeOf(target), tree);
    QCOMPARE(contents(target + file), data);
}

void tst_CZipExtractor::infoZipTree()
{
    const QString source = env->makeDir(QStringLiteral("izip/logs"));
    env->writeFile(QStringLiteral("izip/logs/client.log"), QByteArray("line\n").repeated(50000));
    env->writeFile(QStringLiteral("izip/logs/.hidden"), "h");
    env->writeFile(QStringLiteral("izip/logs/leer.txt"), QByteArray());
    env->writeFile(QStringLiteral("izip/logs/Ordner mit Größe/ß.log"), "sz");
    env->makeDir(QStringLiteral("izip/logs/empty"));
    QVERIFY(QFile::link(QStringLiteral("client.log"), source + QStringLiteral("current.log")));
    const QString zipFile = env->root() + QStringLiteral("izip/logs.zip");
    // -y stores the link as a link.
    QVERIFY(run(QStringLiteral("zip"),
                {QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-y"), zipFile,
                 QStringLiteral("logs")},
                env->root() + QStringLiteral("izip")));
    const QString target = freshTarget();
    const TOutcome outcome = unpack(zipFile, target);
    QCOMPARE(outcome.status, TStatus::Ok);
    QCOMPARE(outcome.entries, 8);
    QCOMPARE(treeOf(target + QStringLiteral("logs")),
             (QStringList{".hidden", "Ordner mit Größe/", "Ordner mit Größe/ß.log", "client.log",
                          "current.log", "empty/", "leer.txt"}));
    QCOMPARE(contents(target + QStringLiteral("logs/client.log")),
             QByteArray("line\n").repeated(50000));
    QCOMPARE(contents(target + QStringLiteral("logs/Ordner mit Größe/ß.log")), QByteArray("sz"));
    QVERIFY(!QFileInfo(target + QStringLiteral("logs/current.log")).isSymLink());
    QCOMPARE(contents(target + QStringLiteral("logs/current.log")), QByteArray("client.log"));
}

void tst_CZipExtractor::abortKeepsWhatWasWritten()
{
    const QString source = env->makeDir(QStringLiteral("big"));
    env->writeFile(QStringLiteral("big/big.log"), QByteArray("0123456789abcdef").repeated(655360));
    const QString zipFile = env->root() + QStringLiteral("big.zip");
    QVERIFY(run(QStringLiteral("zip"), {QStringLiteral("-q"), zipFile, QStringLiteral("big.log")},
                source));
    const QString target = freshTarget();
    int asked = 0;
    // The first question comes before the first chunk, the second after it.
    const TOutcome outcome = unpack(zipFile, target, [&asked] { return ++asked > 1; });
    QCOMPARE(outcome.status, TStatus::Ok);
    QCOMPARE(asked, 2);
    QCOMPARE(QFileInfo(target + QStringLiteral("big.log")).size(), qint64(4 * 1024 * 1024));
    QCOMPARE(outcome.closeCode, 0);
}

void tst_CZipExtractor::unwritableTarget()
{
    if (::geteuid() == 0)
        QSKIP("root writes into read-only folders");
    const QString target = freshTarget();
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const TOutcome outcome = unpack(archive("unicode"), target);
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
    QCOMPARE(outcome.status, TStatus::CreateFailed);
    QVERIFY2(outcome.reason.contains(QStringLiteral("Permission denied")),
             qPrintable(outcome.reason));
    QCOMPARE(outcome.outputPath, target + QStringLiteral("Größe.log"));
}

QTEST_GUILESS_MAIN(tst_CZipExtractor)
#include "tst_CZipExtractor.moc"
