#include "IniFile/CZipper.h"

#include "common/CTestEnvironment.h"

#include <QAtomicInt>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

const qint64 chunk = 4 * 1024 * 1024;

QRegularExpression record(const QString& text, const char* function = "CZipper::zip")
{
    return QRegularExpression(
        QStringLiteral("^\\[ -?\\d+ : [^\\]]+ \\] \\[ CZipper\\.cpp : \\d+ : ") +
        QRegularExpression::escape(QString::fromLatin1(function)) + QStringLiteral(" \\] ") +
        QRegularExpression::escape(text) + QLatin1Char('$'));
}

// What an independent reader (python3's zipfile) finds in an archive.
struct Contents
{
    bool valid = false;
    QStringList names;
    QList<qint64> sizes;
    // Names whose entries carry the UTF-8 flag.
    QStringList utf8Names;
};

Contents readArchive(const QString& archive)
{
    static const char* const script =
        "import json, sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "    infos = z.infolist()\n"
        "    print(json.dumps({'bad': z.testzip(), 'names': [i.filename for i in infos],\n"
        "        'sizes': [i.file_size for i in infos],\n"
        "        'utf8': [i.filename for i in infos if i.flag_bits & 0x800]}))\n";
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(script), archive});
    Contents contents;
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return contents;
    const QJsonObject result = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    contents.valid = result.value(QStringLiteral("bad")).isNull();
    for (const QJsonValue& name : result.value(QStringLiteral("names")).toArray())
        contents.names.append(name.toString());
    for (const QJsonValue& size : result.value(QStringLiteral("sizes")).toArray())
        contents.sizes.append(size.toInteger());
    for (const QJsonValue& name : result.value(QStringLiteral("utf8")).toArray())
        contents.utf8Names.append(name.toString());
    return contents;
}

// Info-ZIP's own test of every entry.
bool unzipTest(const QString& archive)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tqq"), archive});
    return unzip.waitForFinished(60000) && unzip.exitStatus() == QProcess::NormalExit &&
           unzip.exitCode() == 0;
}

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// Counts the messages that match a pattern, whatever QTest does with them afterwards.
class CMessageCounter
{
public:
    explicit CMessageCounter(const QRegularExpression& pattern) : pattern(pattern)
    {
        instance = this;
        previous = qInstallMessageHandler(&CMessageCounter::handle);
    }
    ~CMessageCounter()
    {
        qInstallMessageHandler(previous);
        instance = nullptr;
    }
    int count() const { return matches.loadRelaxed(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (instance->pattern.match(text).hasMatch())
            instance->matches.ref();
        instance->previous(type, context, text);
    }

    static CMessageCounter* instance;
    QRegularExpression pattern;
    QtMessageHandler previous = nullptr;
    QAtomicInt matches;
};

CMessageCounter* CMessageCounter::instance = nullptr;

struct Signals
{
    explicit Signals(CZipper& zipper)
        : error(&zipper, &CZipper::error), started(&zipper, &CZipper::zipStarted),
          finished(&zipper, &CZipper::zipFinished), progress(&zipper, &CZipper::zipProgress)
    {}
    QSignalSpy error;
    QSignalSpy started;
    QSignalSpy finished;
    QSignalSpy progress;
};

} // namespace

class tst_CZipper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void rootSource();
    void checkFailures_data();
    void checkFailures();
    void singleFile();
    void trailingSlash();
    void directoriesFirst();
    void emptyDirectory();
    void realLogFolder();
    void utf8Names_data();
    void utf8Names();
    void asciiNamesWithoutUtf8Flag();
    void zeroByteFile();
    void abortBeforeZip();
    void abortDuringLargeFile();
    void appendMode();
    void targetFolderMissing();
    void appendToNonArchive();
    void notAFile();
    void unreadableFile();
    void vanishingFile();
    void duplicateJob();
    void removeJob();
    void processEmptyTable();
    void processMissingSource();
    void twoPassesAppend();
    void failingJobDoesNotStopPass();
    void abortStopsPass();

private:
    QString dir;
    std::unique_ptr<CTestEnvironment> environment;
};

void tst_CZipper::init()
{
    environment = std::make_unique<CTestEnvironment>();
    QVERIFY(environment->isValid());
    dir = environment->root();
}

void tst_CZipper::rootSource()
{
    CZipper zipper;
    Signals spies(zipper);
    QVERIFY(!zipper.zip(QStringLiteral("/"), dir + QStringLiteral("root.zip"), false));
    QCOMPARE(spies.error.size(), 1);
    QCOMPARE(spies.error.first().first().toUInt(), 0u);
    QCOMPARE(spies.started.size(), 0);
    QVERIFY(!QFileInfo::exists(dir + QStringLiteral("root.zip")));
}

void tst_CZipper::checkFailures_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("append");
    QTest::newRow("missing source") << "missing"
                                    << "new.zip" << false;
    QTest::newRow("new archive over an existing file") << "logs"
                                                       << "existing.zip" << false;
    QTest::newRow("append to a missing archive") << "logs"
                                                 << "new.zip" << true;
    QTest::newRow("target is a directory") << "logs"
                                           << "folder.zip" << false;
    QTest::newRow("append to a directory") << "logs"
                                           << "folder.zip" << true;
}

void tst_CZipper::checkFailures()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(bool, append);
    environment->writeFile(QStringLiteral("logs/a.log"), "a");
    environment->writeFile(QStringLiteral("existing.zip"), "not touched");
    environment->makeDir(QStringLiteral("folder.zip"));
    CZipper zipper;
    Signals spies(zipper);
    QVERIFY(!zipper.zip(dir + source, dir + target, append));
    QCOMPARE(spies.error.size(), 1);
    QCOMPARE(spies.error.first().first().toUInt(), 0u);
    QCOMPARE(spies.started.size(), 0);
    QCOMPARE(spies.progress.size(), 0);
    QVERIFY(!QFileInfo::exists(dir + QStringLiteral("new.zip")));
    QFile existing(dir + QStringLiteral("existing.zip"));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("not touched"));
    QVERIFY(QDir(dir + QStringLiteral("folder.zip")).isEmpty());
}

void tst_CZipper::singleFile()
{
    const QString source = environment->writeFile(QStringLiteral("a/b/log.txt"), "twelve bytes");
    const QString target = dir + QStringLiteral("single.zip");
    CZipper zipper;
    Signals spies(zipper);
    QVERIFY(zipper.zip(source, target, false));
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.started.size(), 1);
    QCOMPARE(spies.finished.size(), 1);
    QCOMPARE(spies.progress.size(), 1);
    QCOMPARE(spies.progress.first(),
             (QList<QVariant>{1u, 1u, qint64(12), QStringLiteral("log.txt")}));
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names, QStringList{QStringLiteral("log.txt")});
    QCOMPARE(contents.sizes, QList<qint64>{12});
    QVERIFY(unzipTest(target));
}

void tst_CZipper::trailingSlash()
{
    environment->writeFile(QStringLiteral("logs/sub/a.log"), "a");
    CZipper zipper;
    QVERIFY(zipper.zip(dir + QStringLiteral("logs/"), dir + QStringLiteral("slash.zip"), false));
    QVERIFY(zipper.zip(dir + QStringLiteral("logs"), dir + QStringLiteral("plain.zip"), false));
    const Contents slash = readArchive(dir + QStringLiteral("slash.zip"));
    QVERIFY(slash.valid);
    QCOMPARE(slash.names, (QStringList{QStringLiteral("sub/"), QStringLiteral("sub/a.log")}));
    QCOMPARE(readArchive(dir + QStringLiteral("plain.zip")).names, slash.names);
}

void tst_CZipper::directoriesFirst()
{
    environment->writeFile(QStringLiteral("logs/x.txt"), "xx");
    environment->writeFile(QStringLiteral("logs/sub/y.txt"), "yyy");
    const QString target = dir + QStringLiteral("tree.zip");
    CZipper zipper;
    Signals spies(zipper);
    QVERIFY(zipper.zip(dir + QStringLiteral("logs"), target, false));
    QCOMPARE(spies.progress.size(), 3);
    QCOMPARE(spies.progress.at(0), (QList<QVariant>{3u, 1u, qint64(0), QStringLiteral("sub")}));
    QStringList fileNames;
    for (int i = 1; i < 3; ++i) {
        QCOMPARE(spies.progress.at(i).at(0).toUInt(), 3u);
        QCOMPARE(spies.progress.at(i).at(1).toUInt(), quint32(i + 1));
        fileNames.append(spies.progress.at(i).at(3).toString());
        QCOMPARE(spies.progress.at(i).at(2).toLongLong(),
                 qint64(fileNames.last() == QLatin1String("x.txt") ? 2 : 3));
    }
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names.size(), 3);
    QCOMPARE(contents.names.first(), QStringLiteral("sub/"));
    QCOMPARE(QSet<QString>(contents.names.cbegin() + 1, contents.names.cend()),
             (QSet<QString>{QStringLiteral("x.txt"), QStringLiteral("sub/y.txt")}));
    QVERIFY(unzipTest(target));
}

void tst_CZipper::emptyDirectory()
{
    const QString source = environment->makeDir(QStringLiteral("empty"));
    const QString target = dir + QStringLiteral("empty.zip");
    CZipper zipper;
    Signals spies(zipper);
    QVERIFY(zipper.zip(source, target, false));
    QCOMPARE(spies.started.size(), 1);
    QCOMPARE(spies.finished.size(), 1);
    QCOMPARE(spies.progress.size(), 0);
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QVERIFY(contents.names.isEmpty());
}

void tst_CZipper::realLogFolder()
{
    const QString source = environment->makeDir(QStringLiteral("logs"));
    environment->writeFile(QStringLiteral("logs/empty.log"), QByteArray());
    environment->writeFile(QStringLiteral("logs/.hidden.log"), "hidden");
    environment->makeDir(QStringLiteral("logs/empty folder"));
    environment->makeDir(QStringLiteral("logs/.cache"));
    environment->writeFile(QStringLiteral("logs/old/Größe 1.log"), QByteArray(5000, 'g'));
    QVERIFY(QFile::link(source + QStringLiteral("old/Größe 1.log"),
                        source + QStringLiteral("link.log")));
    QVERIFY(QFile::link(source + QStringLiteral("old"), source + QStringLiteral("linked folder")));
    QVERIFY(QFile::link(dir + QStringLiteral("nowhere"), source + QStringLiteral("dangling")));
    const QString target = dir + QStringLiteral("logs.zip");
    CZipper zipper;
    Signals spies(zipper);
    QVERIFY(zipper.zip(source, target, false));
    QCOMPARE(spies.progress.size(), 6);
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.utf8Names, contents.names);
    QStringList dirNames = contents.names.mid(0, 3);
    QStringList fileNames = contents.names.mid(3);
    dirNames.sort();
    fileNames.sort();
    QCOMPARE(dirNames, (QStringList{QStringLiteral(".cache/"), QStringLiteral("empty folder/"),
                                    QStringLiteral("old/")}));
    QCOMPARE(fileNames, (QStringList{QStringLiteral(".hidden.log"), QStringLiteral("empty.log"),
                                     QStringLiteral("old/Größe 1.log")}));
    QVERIFY(unzipTest(target));
}

void tst_CZipper::utf8Names_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("umlauts") << QStringLiteral("Größe.log");
    QTest::newRow("spaces and umlauts in a folder") << QStringLiteral("Ordner ä ö/Über mich.txt");
    QTest::newRow("russian") << QStringLiteral("журнал/ошибки.log");
    QTest::newRow("japanese") << QStringLiteral("ログ/日本語.txt");
    QTest::newRow("hebrew") << QStringLiteral("יומן.log");
}

void tst_CZipper::utf8Names()
{
    QFETCH(QString, path);
    environment->writeFile(QStringLiteral("logs/") + path, path.toUtf8());
    const QString target = dir + QStringLiteral("names.zip");
    CZipper zipper;
    QVERIFY(zipper.zip(dir + QStringLiteral("logs"), target, false));
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.utf8Names, contents.names);
    QCOMPARE(contents.names.last(), path);
    if (path.contains(QLatin1Char('/')))
        QCOMPARE(contents.names.first(), path.section(QLatin1Char('/'), 0, 0) + QLatin1Char('/'));
    QCOMPARE(contents.sizes.last(), qint64(path.toUtf8().size()));
    QVERIFY(unzipTest(target));
}

void tst_CZipper::asciiNamesWithoutUtf8Flag()
{
    environment->writeFile(QStringLiteral("Jürgen/logs/sub/a.log"), "a");
    const QString target = dir + QStringLiteral("ascii.zip");
    CZipper zipper;
    QVERIFY(zipper.zip(dir + QStringLiteral("Jürgen/logs"), target, false));
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names, (QStringList{QStringLiteral("sub/"), QStringLiteral("sub/a.log")}));
    QVERIFY(contents.utf8Names.isEmpty());
    QVERIFY(unzipTest(target));
}

void tst_CZipper::zeroByteFile()
{
    const QString source = environment->writeFile(QStringLiteral("zero.log"), QByteArray());
    const QString target = dir + QStringLiteral("zero.zip");
    CZipper zipper;
    Signals spies(zipper);
    QVERIFY(zipper.zip(source, target, false));
    QCOMPARE(spies.progress.size(), 1);
    QCOMPARE(spies.progress.first(),
             (QList<QVariant>{1u, 1u, qint64(0), QStringLiteral("zero.log")}));
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.sizes, QList<qint64>{0});
}

void tst_CZipper::abortBeforeZip()
{
    const QString source = environment->writeFile(QStringLiteral("a.log"), "a");
    const QString target = dir + QStringLiteral("aborted.zip");
    CZipper zipper;
    Signals spies(zipper);
    zipper.abort();
    QVERIFY(zipper.isAborted());
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("aborting ...")));
    QVERIFY(!zipper.zip(source, target, false));
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.started.size(), 0);
    QCOMPARE(spies.finished.size(), 0);
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(!zipper.isAborted());
    // The abort was consumed: the next call packs.
    QVERIFY(zipper.zip(source, target, false));
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names, QStringList{QStringLiteral("a.log")});
}

void tst_CZipper::abortDuringLargeFile()
{
    const qint64 size = 16 * chunk + 123;
    const QString source =
        environment->writeFile(QStringLiteral("big.bin"), randomBytes(size, 4711));
    const QString target = dir + QStringLiteral("big.zip");
    CZipper zipper;
    Signals spies(zipper);
    std::atomic<bool> done(false);
    // Random data deflates slowly, so the copy is still in its first chunks when the archive
    // starts to grow on disk.
    std::thread aborter([&] {
        for (int i = 0; i < 60000 && !done.load(); ++i) {
            if (QFileInfo(target).size() > 64 * 1024) {
                zipper.abort();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const CMessageCounter aborting(record(QStringLiteral("aborting ...")));
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("aborting ...")));
    const bool result = zipper.zip(source, target, false);
    done.store(true);
    aborter.join();
    QVERIFY(result);
    QCOMPARE(aborting.count(), 1);
    QVERIFY(!zipper.isAborted());
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.finished.size(), 1);
    QCOMPARE(spies.progress.size(), 1);
    const qint64 bytes = spies.progress.first().at(2).toLongLong();
    QVERIFY2(bytes > 0 && bytes < size, qPrintable(QString::number(bytes)));
    QCOMPARE(bytes % chunk, 0);
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names, QStringList{QStringLiteral("big.bin")});
    QCOMPARE(contents.sizes, QList<qint64>{bytes});
    QVERIFY(unzipTest(target));
}

void tst_CZipper::appendMode()
{
    environment->writeFile(QStringLiteral("first/one.log"), "one");
    const QString second = environment->writeFile(QStringLiteral("second/two.log"), "two");
    const QString target = dir + QStringLiteral("append.zip");
    CZipper zipper;
    QVERIFY(zipper.zip(dir + QStringLiteral("first"), target, false));
    Signals spies(zipper);
    QVERIFY(zipper.zip(second, target, true));
    QCOMPARE(spies.progress.size(), 1);
    QCOMPARE(spies.progress.first(),
             (QList<QVariant>{1u, 1u, qint64(3), QStringLiteral("two.log")}));
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names, (QStringList{QStringLiteral("one.log"), QStringLiteral("two.log")}));
    QVERIFY(unzipTest(target));
}

void tst_CZipper::targetFolderMissing()
{
    const QString source = environment->writeFile(QStringLiteral("a.log"), "a");
    const QString target = dir + QStringLiteral("missing/a.zip");
    CZipper zipper;
    Signals spies(zipper);
    QTest::ignoreMessage(
        QtCriticalMsg,
        QRegularExpression(
            record(QStringLiteral("failed to create zip target: ") + target).pattern().chopped(1) +
            QStringLiteral(" -?\\d+$")));
    QVERIFY(!zipper.zip(source, target, false));
    QCOMPARE(spies.started.size(), 1);
    QCOMPARE(spies.finished.size(), 0);
    QCOMPARE(spies.error.size(), 1);
    QVERIFY(!QFileInfo::exists(target));
}

void tst_CZipper::appendToNonArchive()
{
    const QString source = environment->writeFile(QStringLiteral("a.log"), "a");
    const QString target = environment->writeFile(QStringLiteral("text.zip"), "plain text");
    CZipper zipper;
    Signals spies(zipper);
    QTest::ignoreMessage(
        QtCriticalMsg,
        QRegularExpression(
            record(QStringLiteral("failed to open zip target: ") + target).pattern().chopped(1) +
            QStringLiteral(" -?\\d+$")));
    QVERIFY(!zipper.zip(source, target, true));
    QCOMPARE(spies.started.size(), 1);
    QCOMPARE(spies.finished.size(), 0);
    QCOMPARE(spies.error.size(), 1);
}

void tst_CZipper::notAFile()
{
    const QString source = environment->makeDir(QStringLiteral("logs"));
    environment->writeFile(QStringLiteral("logs/a.log"), "a");
    QProcess mkfifo;
    mkfifo.start(QStringLiteral("mkfifo"), {source + QStringLiteral("pipe")});
    QVERIFY(mkfifo.waitForFinished(10000) && mkfifo.exitCode() == 0);
    const QString target = dir + QStringLiteral("pipe.zip");
    CZipper zipper;
    Signals spies(zipper);
    QTest::ignoreMessage(QtWarningMsg, record(QStringLiteral("skipping ") + source +
                                              QStringLiteral("pipe , not a file ...")));
    QVERIFY(zipper.zip(source, target, false));
    QCOMPARE(spies.progress.size(), 1);
    QCOMPARE(spies.progress.first().at(0).toUInt(), 2u);
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names, QStringList{QStringLiteral("a.log")});
}

void tst_CZipper::unreadableFile()
{
    const QString source = environment->makeDir(QStringLiteral("logs"));
    environment->makeDir(QStringLiteral("logs/sub"));
    const QString locked = environment->writeFile(QStringLiteral("logs/sub/locked.log"), "x");
    QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
    if (QFile(locked).open(QIODevice::ReadOnly))
        QSKIP("permission bits do not apply to this user");
    const QString target = dir + QStringLiteral("locked.zip");
    CZipper zipper;
    Signals spies(zipper);
    QTest::ignoreMessage(QtCriticalMsg,
                         record(QStringLiteral("failed to open sourceFile: ") + locked));
    QVERIFY(!zipper.zip(source, target, false));
    QCOMPARE(spies.started.size(), 1);
    QCOMPARE(spies.finished.size(), 0);
    QCOMPARE(spies.error.size(), 1);
    // What was written before the failure stays, as a complete archive.
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names, QStringList{QStringLiteral("sub/")});
    QVERIFY(unzipTest(target));
}

void tst_CZipper::vanishingFile()
{
    const QString source = environment->makeDir(QStringLiteral("logs"));
    environment->writeFile(QStringLiteral("logs/a.log"), "a");
    environment->writeFile(QStringLiteral("logs/b.log"), "b");
    const QString target = dir + QStringLiteral("vanish.zip");
    CZipper zipper;
    Signals spies(zipper);
    QString removed;
    // Whichever file comes first removes the other one after the scan has listed it.
    connect(&zipper, &CZipper::zipProgress, this,
            [&](quint32, quint32, qint64, const QString& name) {
                if (!removed.isEmpty())
                    return;
                removed = source + (name == QLatin1String("a.log") ? QStringLiteral("b.log")
                                                                   : QStringLiteral("a.log"));
                QFile::remove(removed);
            });
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(record(QStringLiteral("skipping ")).pattern().chopped(1) +
                           QStringLiteral(".*/logs/[ab]\\.log , not a file \\.\\.\\.$")));
    QVERIFY(zipper.zip(source, target, false));
    QVERIFY(!QFileInfo::exists(removed));
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.progress.size(), 1);
    QCOMPARE(spies.progress.first().at(0).toUInt(), 2u);
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names.size(), 1);
    QVERIFY(!removed.endsWith(contents.names.first()));
}

void tst_CZipper::duplicateJob()
{
    CZipper zipper;
    QVERIFY(zipper.addZipJob(QStringLiteral("/a"), QStringLiteral("/t.zip")));
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("job already exists: /a /t.zip"),
                                               "CZipper::addZipJob"));
    QVERIFY(!zipper.addZipJob(QStringLiteral("/a"), QStringLiteral("/t.zip")));
    QVERIFY(zipper.addZipJob(QStringLiteral("/a"), QStringLiteral("/u.zip")));
    QVERIFY(!zipper.removeZipJob(QStringLiteral("/a"), QStringLiteral("/t.zip")));
    QVERIFY(zipper.removeZipJob(QStringLiteral("/a"), QStringLiteral("/u.zip")));
}

void tst_CZipper::removeJob()
{
    CZipper zipper;
    QVERIFY(zipper.addZipJob(QStringLiteral("/a"), QStringLiteral("/t.zip")));
    QVERIFY(!zipper.removeZipJob(QStringLiteral("/a"), QStringLiteral("/x.zip")));
    QVERIFY(!zipper.removeZipJob(QStringLiteral("/b"), QStringLiteral("/t.zip")));
    QVERIFY(zipper.removeZipJob(QStringLiteral("/a"), QStringLiteral("/t.zip")));
    QVERIFY(!zipper.removeZipJob(QStringLiteral("/a"), QStringLiteral("/t.zip")));
    QVERIFY(zipper.addZipJob(QStringLiteral("/a"), QStringLiteral("/t.zip")));
    QVERIFY(zipper.addZipJob(QStringLiteral("/b"), QStringLiteral("/t.zip")));
    zipper.clearZipJobs();
    QVERIFY(!zipper.removeZipJob(QStringLiteral("/a"), QStringLiteral("/t.zip")));
    QVERIFY(!zipper.removeZipJob(QStringLiteral("/b"), QStringLiteral("/t.zip")));
}

void tst_CZipper::processEmptyTable()
{
    CZipper zipper;
    QSignalSpy jobsStarted(&zipper, &CZipper::jobsStarted);
    QSignalSpy jobsFinished(&zipper, &CZipper::jobsFinished);
    Signals spies(zipper);
    QTest::ignoreMessage(QtWarningMsg,
                         record(QStringLiteral("nothing to do .."), "CZipper::processZipJobs"));
    zipper.processZipJobs();
    QCOMPARE(jobsStarted.size(), 1);
    QCOMPARE(jobsFinished.size(), 1);
    QCOMPARE(spies.started.size() + spies.error.size(), 0);
}

void tst_CZipper::processMissingSource()
{
    const QString target = dir + QStringLiteral("missing.zip");
    CZipper zipper;
    QVERIFY(zipper.addZipJob(dir + QStringLiteral("missing"), target));
    QSignalSpy jobsFinished(&zipper, &CZipper::jobsFinished);
    Signals spies(zipper);
    zipper.processZipJobs();
    QCOMPARE(jobsFinished.size(), 1);
    QCOMPARE(spies.started.size() + spies.error.size(), 0);
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(!zipper.removeZipJob(dir + QStringLiteral("missing"), target));
}

void tst_CZipper::twoPassesAppend()
{
    const QString source = environment->makeDir(QStringLiteral("logs"));
    environment->writeFile(QStringLiteral("logs/first.log"), "first");
    const QString target = dir + QStringLiteral("jobs.zip");
    CZipper zipper;
    QVERIFY(zipper.addZipJob(source, target));
    zipper.processZipJobs();
    const Contents first = readArchive(target);
    QVERIFY(first.valid);
    QCOMPARE(first.names, QStringList{QStringLiteral("first.log")});
    QFile::remove(source + QStringLiteral("first.log"));
    environment->writeFile(QStringLiteral("logs/second.log"), "second");
    Signals spies(zipper);
    zipper.processZipJobs();
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.finished.size(), 1);
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names,
             (QStringList{QStringLiteral("first.log"), QStringLiteral("second.log")}));
    QVERIFY(unzipTest(target));
    // Finished jobs stay in the table.
    QVERIFY(zipper.removeZipJob(source, target));
}

void tst_CZipper::failingJobDoesNotStopPass()
{
    const QString first = environment->writeFile(QStringLiteral("a.log"), "a");
    const QString second = environment->writeFile(QStringLiteral("b.log"), "b");
    const QString folder = environment->makeDir(QStringLiteral("folder.zip"));
    const QString target = dir + QStringLiteral("b.zip");
    CZipper zipper;
    QVERIFY(zipper.addZipJob(first, folder));
    QVERIFY(zipper.addZipJob(second, target));
    Signals spies(zipper);
    QTest::ignoreMessage(
        QtCriticalMsg, record(QStringLiteral("failed to zip: ") + first + QLatin1Char(' ') + folder,
                              "CZipper::processZipJobs"));
    zipper.processZipJobs();
    QCOMPARE(spies.error.size(), 1);
    const Contents contents = readArchive(target);
    QVERIFY(contents.valid);
    QCOMPARE(contents.names, QStringList{QStringLiteral("b.log")});
    QVERIFY(zipper.removeZipJob(first, folder));
    QVERIFY(zipper.removeZipJob(second, target));
}

void tst_CZipper::abortStopsPass()
{
    const QString source = environment->writeFile(QStringLiteral("a.log"), "a");
    const QString target = dir + QStringLiteral("a.zip");
    CZipper zipper;
    QVERIFY(zipper.addZipJob(source, target));
    QSignalSpy jobsStarted(&zipper, &CZipper::jobsStarted);
    QSignalSpy jobsFinished(&zipper, &CZipper::jobsFinished);
    zipper.abort();
    QTest::ignoreMessage(QtCriticalMsg,
                         record(QStringLiteral("aborting ..."), "CZipper::processZipJobs"));
    zipper.processZipJobs();
    QCOMPARE(jobsStarted.size(), 1);
    QCOMPARE(jobsFinished.size(), 0);
    QVERIFY(!zipper.isAborted());
    QVERIFY(!QFileInfo::exists(target));
    zipper.processZipJobs();
    QCOMPARE(jobsFinished.size(), 1);
    QVERIFY(readArchive(target).valid);
}

QTEST_GUILESS_MAIN(tst_CZipper)
#include "tst_CZipper.moc"
