#include "IniFile/CZipper.h"

#include "common/CTestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {
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

// One critical record of CZipper::unzip holding exactly text.
void expectCritical(const QString& text)
{
    QTest::ignoreMessage(
        QtCriticalMsg, QRegularExpression(QStringLiteral("^\\[ -?\\d+ : .* \\] \\[ CZipper\\.cpp : "
                                                         "\\d+ : CZipper::unzip \\] ") +
                                          QRegularExpression::escape(text) + QLatin1Char('$')));
}

using TProgress = QList<QVariant>;
TProgress progress(quint32 total, quint32 actual, qint64 bytes)
{
    return {QVariant::fromValue(total), QVariant::fromValue(actual), QVariant::fromValue(bytes),
            QVariant::fromValue(QString())};
}
} // namespace

// Spies on every signal unzip sends.
struct TSpies
{
    explicit TSpies(CZipper& zipper)
        : error(&zipper, &CZipper::error), started(&zipper, &CZipper::unzipStarted),
          finished(&zipper, &CZipper::unzipFinished), progress(&zipper, &CZipper::unzipProgress)
    {}
    QSignalSpy error;
    QSignalSpy started;
    QSignalSpy finished;
    QSignalSpy progress;
};

class tst_CZipperUnzip : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void treeIntoMissingFolder();
    void missingFolderEntry();
    void checkFailures_data();
    void checkFailures();
    void existingFileIsOverwritten();
    void roundTrip();
    void emptyFolderRoundTrip();
    void refused_data();
    void refused();
    void linkedFolderInTarget();
    void notAnArchive();
    void abortBeforeUnzip();
    void abortAfterFirstEntry();
    void unwritableTarget();

private:
    QString archive(const char* name) const
    {
        return env->root() + QStringLiteral("archives/") + QLatin1String(name) +
               QStringLiteral(".zip");
    }
    // An Info-ZIP archive of the folder d holding f.txt; extra are zip's options.
    QString infoZipArchive(const QStringList& extra);

    std::unique_ptr<CTestEnvironment> env;
    QString outside;
    QString target;
    int targets = 0;
};

void tst_CZipperUnzip::initTestCase()
{
    env = std::make_unique<CTestEnvironment>();
    QVERIFY(env->isValid());
    outside = env->makeDir(QStringLiteral("outside"));
    const QString script =
        qEnvironmentVariable("SY_TEST_DATA") + QStringLiteral("/IniFile/data/make_test_zips.py");
    QVERIFY2(QFileInfo::exists(script), qPrintable(script));
    QVERIFY(run(QStringLiteral("python3"),
                {script, env->makeDir(QStringLiteral("archives")), outside + QStringLiteral("x")}));
    env->writeFile(QStringLiteral("source/d/f.txt"), "seven b");
}

void tst_CZipperUnzip::init()
{
    // A folder that does not exist yet, two levels below the temporary root.
    target = env->root() + QStringLiteral("targets/t%1/").arg(++targets);
}

QString tst_CZipperUnzip::infoZipArchive(const QStringList& extra)
{
    const QString zipFile = env->root() + QStringLiteral("izip%1.zip").arg(targets);
    if (!run(QStringLiteral("zip"), extra + QStringList{zipFile, QStringLiteral("d")},
             env->root() + QStringLiteral("source")))
        return QString();
    return zipFile;
}

void tst_CZipperUnzip::treeIntoMissingFolder()
{
    const QString zipFile = infoZipArchive({QStringLiteral("-r"), QStringLiteral("-q")});
    QVERIFY(!zipFile.isEmpty());
    CZipper zipper;
    TSpies spies(zipper);
    QVERIFY(zipper.unzip(zipFile, target));
    QCOMPARE(treeOf(target), (QStringList{"d/", "d/f.txt"}));
    QCOMPARE(contents(target + QStringLiteral("d/f.txt")), QByteArray("seven b"));
    QCOMPARE(spies.started.count(), 1);
    QCOMPARE(spies.finished.count(), 1);
    QCOMPARE(spies.error.count(), 0);
    QCOMPARE(spies.progress.count(), 2);
    QCOMPARE(spies.progress.at(0), progress(2, 1, 0));
    QCOMPARE(spies.progress.at(1), progress(2, 2, 7));
}

void tst_CZipperUnzip::missingFolderEntry()
{
    // -D leaves out the folder entries: d/f.txt alone.
    const QString zipFile =
        infoZipArchive({QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-D")});
    QVERIFY(!zipFile.isEmpty());
    CZipper zipper;
    TSpies spies(zipper);
    QVERIFY(zipper.unzip(zipFile, target.chopped(1)));
    QCOMPARE(treeOf(target), (QStringList{"d/", "d/f.txt"}));
    QCOMPARE(spies.progress.count(), 1);
    QCOMPARE(spies.progress.at(0), progress(1, 1, 7));
}

void tst_CZipperUnzip::checkFailures_data()
{
    QTest::addColumn<QString>("zipFile");
    QTest::newRow("missing archive") << QStringLiteral("nothing.zip");
    QTest::newRow("archive is a folder") << QStringLiteral("source/d");
    QTest::newRow("archive is a folder, with slash") << QStringLiteral("source/d/");
}

void tst_CZipperUnzip::checkFailures()
{
    QFETCH(QString, zipFile);
    CZipper zipper;
    TSpies spies(zipper);
    QVERIFY(!zipper.unzip(env->root() + zipFile, target));
    QCOMPARE(spies.error.count(), 1);
    QCOMPARE(spies.error.at(0).at(0).value<quint32>(), 0u);
    QCOMPARE(spies.started.count(), 0);
    QCOMPARE(spies.finished.count(), 0);
    QVERIFY(!QFileInfo::exists(target));
}

void tst_CZipperUnzip::existingFileIsOverwritten()
{
    const QString zipFile = infoZipArchive({QStringLiteral("-r"), QStringLiteral("-q")});
    QVERIFY(!zipFile.isEmpty());
    QVERIFY(QDir().mkpath(target + QStringLiteral("d")));
    QFile old(target + QStringLiteral("d/f.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    QVERIFY(old.write(QByteArray(10000, 'o')) == 10000);
    old.close();
    CZipper zipper;
    QVERIFY(zipper.unzip(zipFile, target));
    QCOMPARE(contents(target + QStringLiteral("d/f.txt")), QByteArray("seven b"));
}

void tst_CZipperUnzip::roundTrip()
{
    const QString source = env->makeDir(QStringLiteral("round/logs"));
    env->writeFile(QStringLiteral("round/logs/client.log"), QByteArray("line\n").repeated(100000));
    env->writeFile(QStringLiteral("round/logs/.hidden"), "h");
    env->writeFile(QStringLiteral("round/logs/leer.txt"), QByteArray());
    env->writeFile(QStringLiteral("round/logs/Größe/журнал 1.log"), "umlaut");
    env->makeDir(QStringLiteral("round/logs/empty"));
    const QString zipFile = env->root() + QStringLiteral("round/logs.zip");
    CZipper zipper;
    QVERIFY(zipper.zip(source, zipFile, false));
    TSpies spies(zipper);
    QVERIFY(zipper.unzip(zipFile, target));
    QCOMPARE(treeOf(target), treeOf(source));
    QCOMPARE(contents(target + QStringLiteral("client.log")),
             contents(source + QStringLiteral("client.log")));
    QCOMPARE(contents(target + QStringLiteral("Größe/журнал 1.log")), QByteArray("umlaut"));
    QCOMPARE(spies.progress.count(), 6);
    QCOMPARE(spies.finished.count(), 1);
    QCOMPARE(spies.error.count(), 0);
}

void tst_CZipperUnzip::emptyFolderRoundTrip()
{
    const QString source = env->makeDir(QStringLiteral("emptyRound/nothing"));
    const QString zipFile = env->root() + QStringLiteral("emptyRound/nothing.zip");
    CZipper zipper;
    QVERIFY(zipper.zip(source, zipFile, false));
    TSpies spies(zipper);
    QVERIFY(zipper.unzip(zipFile, target));
    QCOMPARE(treeOf(target), QStringList());
    QCOMPARE(spies.started.count(), 1);
    QCOMPARE(spies.finished.count(), 1);
    QCOMPARE(spies.progress.count(), 0);
    QCOMPARE(spies.error.count(), 0);
}

void tst_CZipperUnzip::refused_data()
{
    QTest::addColumn<QString>("name");
    // The critical record, with %1 for the target folder and %2 for the outside folder.
    QTest::addColumn<QString>("record");
    QTest::addColumn<QStringList>("tree");
    QTest::newRow("parent component")
        << "traversal"
        << "refusing entry: ../escaped.txt - its name holds a \"..\" component" << QStringList();
    QTest::newRow("absolute") << "absolute"
                              << "refusing entry: %2x/absolute.txt - its name is absolute"
                              << QStringList();
    QTest::newRow("NUL")
        << "nul"
        << "refusing entry: okay.txt\\x00../escaped.txt - its name holds a control character"
        << QStringList();
    QTest::newRow("backslash") << "backslash"
                               << "refusing entry: ..\\escaped.txt - its name holds a backslash"
                               << QStringList();
    QTest::newRow("encrypted") << "encrypted"
                               << "refusing entry: secret.txt - it is encrypted" << QStringList();
    QTest::newRow("bzip2")
        << "bzip2"
        << "refusing entry: packed.txt - its compression method 12 is not supported"
        << QStringList();
    QTest::newRow("overlapping data")
        << "overlap"
        << "refusing entry: f01.txt - its data overlaps another entry's" << QStringList();
    QTest::newRow("CRC mismatch") << "crc"
                                  << "error zipping file: %1bad-crc.txt -105" << QStringList();
    QTest::newRow("declares more")
        << "declared-larger"
        << "refusing entry: lying.txt - it holds 1000 bytes, its header declares 100000"
        << QStringList();
    QTest::newRow("end record counts too many")
        << "too-many-entries"
        << "failed to create zip target: %1 -103" << QStringList();
    QTest::newRow("corrupt deflate data") << "corrupt-data"
                                          << "failed to read: " << QStringList();
    QTest::newRow("through a stored link")
        << "symlink-then-through"
        << "refusing entry: link/through.txt - on disk, link is not a folder"
        << QStringList{QStringLiteral("link")};
}

void tst_CZipperUnzip::refused()
{
    QFETCH(QString, name);
    QFETCH(QString, record);
    QFETCH(QStringList, tree);
    expectCritical(
        record.replace(QLatin1String("%1"), target).replace(QLatin1String("%2"), outside));
    CZipper zipper;
    TSpies spies(zipper);
    QVERIFY(!zipper.unzip(archive(name.toLatin1().constData()), target));
    QCOMPARE(spies.error.count(), 1);
    QCOMPARE(spies.error.at(0).at(0).value<quint32>(), 0u);
    QCOMPARE(spies.started.count(), 1);
    QCOMPARE(spies.finished.count(), 0);
    QCOMPARE(treeOf(target), tree);
    QCOMPARE(treeOf(outside), QStringList());
}

void tst_CZipperUnzip::linkedFolderInTarget()
{
    const QString zipFile = infoZipArchive({QStringLiteral("-r"), QStringLiteral("-q")});
    QVERIFY(!zipFile.isEmpty());
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QFile::link(outside, target + QStringLiteral("d")));
    expectCritical(QStringLiteral("refusing entry: d/ - on disk, d is a symbolic link"));
    CZipper zipper;
    TSpies spies(zipper);
    QVERIFY(!zipper.unzip(zipFile, target));
    QCOMPARE(spies.error.count(), 1);
    QCOMPARE(treeOf(outside), QStringList());
}

void tst_CZipperUnzip::notAnArchive()
{
    const QString zipFile = env->writeFile(QStringLiteral("text.zip"), "just text");
    expectCritical(QStringLiteral("failed to create zip target: %1 -1000").arg(target));
    CZipper zipper;
    TSpies spies(zipper);
    QVERIFY(!zipper.unzip(zipFile, target));
    QCOMPARE(spies.error.count(), 1);
    QCOMPARE(spies.started.count(), 1);
    QCOMPARE(spies.finished.count(), 0);
    QVERIFY(QFileInfo(target).isDir());
}

void tst_CZipperUnzip::abortBeforeUnzip()
{
    const QString zipFile = infoZipArchive({QStringLiteral("-r"), QStringLiteral("-q")});
    QVERIFY(!zipFile.isEmpty());
    CZipper zipper;
    TSpies spies(zipper);
    zipper.abort();
    expectCritical(QStringLiteral("aborting ..."));
    QVERIFY(zipper.unzip(zipFile, target));
    QVERIFY(!zipper.isAborted());
    QCOMPARE(treeOf(target), QStringList());
    QCOMPARE(spies.progress.count(), 0);
    QCOMPARE(spies.finished.count(), 1);
    QCOMPARE(spies.error.count(), 0);
}

void tst_CZipperUnzip::abortAfterFirstEntry()
{
    const QString zipFile = infoZipArchive({QStringLiteral("-r"), QStringLiteral("-q")});
    QVERIFY(!zipFile.isEmpty());
    CZipper zipper;
    TSpies spies(zipper);
    connect(&zipper, &CZipper::unzipProgress, &zipper, &CZipper::abort);
    expectCritical(QStringLiteral("aborting ..."));
    QVERIFY(zipper.unzip(zipFile, target));
    QVERIFY(!zipper.isAborted());
    QCOMPARE(treeOf(target), QStringList{"d/"});
    QCOMPARE(spies.progress.count(), 1);
    QCOMPARE(spies.finished.count(), 1);
}

void tst_CZipperUnzip::unwritableTarget()
{
    if (::geteuid() == 0)
        QSKIP("root writes into read-only folders");
    const QString zipFile = infoZipArchive({QStringLiteral("-r"), QStringLiteral("-q")});
    QVERIFY(!zipFile.isEmpty());
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    expectCritical(QStringLiteral("failed to create target: %1d").arg(target));
    CZipper zipper;
    TSpies spies(zipper);
    const bool result = zipper.unzip(zipFile, target);
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
    QVERIFY(!result);
    QCOMPARE(spies.error.count(), 1);
}

QTEST_GUILESS_MAIN(tst_CZipperUnzip)
#include "tst_CZipperUnzip.moc"
