#include "IniFile/settings/CIniFileGuard.h"

#include "common/CExpect.h"
#include "common/CFaultInjection.h"
#include "common/CLockHolder.h"
#include "common/CTestChild.h"
#include "common/CTestEnvironment.h"
#include "common/CTestThreads.h"
#include "common/CTestTree.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void expectCritical(const char* function, const QString& pattern)
{
    CExpect::recordMatching(QtCriticalMsg, "CIniFileGuard.cpp",
                            "CIniFileGuard::" + QString::fromLatin1(function), pattern);
}

// The text QSettings writes for values, as another part of the client stores them.
QByteArray writtenByQSettings(const QVariantMap& values)
{
    const QTemporaryDir folder;
    const QString path = folder.filePath("written.ini");
    {
        QSettings settings(path, QSettings::IniFormat);
        for (auto value = values.cbegin(); value != values.cend(); ++value)
            settings.setValue(value.key(), value.value());
    }
    return CTestTree::content(path);
}

} // namespace

class tst_CIniFileGuard : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void valuesOfOtherTypes();
    void valuesOfOtherWriters_data();
    void valuesOfOtherWriters();
    void damagedFile_data();
    void damagedFile();
    void skippedLinesKeepEveryKey_data();
    void skippedLinesKeepEveryKey();
    void notARegularFile();
    void heldLock();
    void twoProcessesKeepTheirKeys();
    void deniedAsUser_data();
    void deniedAsUser();
    void failedWriteKeepsTheFile_data();
    void failedWriteKeepsTheFile();
    void failedSyncKeepsTheFile();
    void killedSaveLeavesOldOrNew();

private:
    QString iniPath() const { return environment->home() + ".config/Syncarium/Syncarium.ini"; }
    // A critical record of function: the pattern text, then the settings file, then tail.
    void expectCriticalOnFile(const char* function, const QString& text,
                              const char* tail = "") const
    {
        expectCritical(function, text + ": " + QRegularExpression::escape(iniPath()) + tail);
    }
    QStringList keysOf(const QByteArray& text);

    int copies = 0;
};

// What an independent reader finds in text; a path of its own each time, since QSettings keeps
// the files it read in a per-process cache.
QStringList tst_CIniFileGuard::keysOf(const QByteArray& text)
{
    const QString copy = dir + QString("keys-%1.ini").arg(++copies);
    return CTestTree::write(copy, text) ? QSettings(copy, QSettings::IniFormat).allKeys()
                                        : QStringList{"<no copy>"};
}

void tst_CIniFileGuard::valuesOfOtherTypes()
{
    const QUrl url("https://a.example/x?y=1,2#f");
    const QDateTime when(QDate(2024, 5, 6), QTime(7, 8, 9));
    expectCritical("change", "a value of type QVariantMap cannot be stored in the settings file, "
                             "it is left out: extra/map");
    CIniFileGuard(iniPath()).change({{"extra/url", url},
                                     {"extra/when", when},
                                     {"extra/map", QVariant(QVariantMap{{"a", 1}})},
                                     {"extra/size", QSize(3, 4)}});

    const QVariantMap extra = CIniFileGuard(iniPath()).groupValues("extra");
    QCOMPARE(extra.keys(), QStringList({"size", "url", "when"}));
    QCOMPARE(extra.value("url").toUrl(), url);
    QCOMPARE(extra.value("when"), QVariant(when));
    QCOMPARE(extra.value("size"), QVariant(QSize(3, 4)));
}

void tst_CIniFileGuard::valuesOfOtherWriters_data()
{
    QTest::addColumn<QVariantMap>("values");
    const QDateTime utc(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC);
    QTest::newRow("local time") << QVariantMap{
        {"dates/last", QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9, 10))}};
    QTest::newRow("UTC") << QVariantMap{{"dates/last", utc}};
    QTest::newRow("offset from UTC") << QVariantMap{
        {"dates/last", QDateTime(QDate(2030, 12, 31), QTime(23, 59), Qt::OffsetFromUTC, 3600)}};
    QTest::newRow("no date") << QVariantMap{{"dates/last", QDateTime()}};
    QTest::newRow("UTC beside a size")
        << QVariantMap{{"dates/last", utc}, {"gui/window", QSize(640, 480)}};
    QTest::newRow("point, rectangle, list")
        << QVariantMap{{"gui/at", QPoint(-3, 7)},
                       {"gui/frame", QRect(1, 2, 300, 400)},
                       {"gui/both", QVariantList{QSize(1, 2), QPoint(3, 4)}}};
    QTest::newRow("day and time of day")
        << QVariantMap{{"dates/day", QDate(2026, 12, 8)}, {"dates/time", QTime(1, 2, 3, 4)}};
    QTest::newRow("in fractions") << QVariantMap{{"gui/size", QSizeF(1.5, -2)},
                                                 {"gui/at", QPointF(0.25, 1e300)},
                                                 {"gui/frame", QRectF(1, 2, 3.5, 4)}};
}

// Values QSettings writes for plain types are read, and the file stays the user's.
void tst_CIniFileGuard::valuesOfOtherWriters()
{
    QFETCH(QVariantMap, values);
    QVERIFY(CTestTree::write(iniPath(), "[gui]\nfontSize=9\n" + writtenByQSettings(values)));
    for (int run = 0; run < 2; ++run) {
        CIniFileGuard guard(iniPath());
        QCOMPARE(guard.value("gui/fontSize").toString(), "9");
        for (auto value = values.cbegin(); value != values.cend(); ++value)
            QCOMPARE(guard.value(value.key()), value.value());
        if (run == 0)
            guard.change({{"gui/trayMessages", 0}});
        else
            QCOMPARE(guard.value("gui/trayMessages").toString(), "0");
    }
    QCOMPARE(QDir(QFileInfo(iniPath()).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Syncarium.ini"});
}

void tst_CIniFileGuard::damagedFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("damage");
    // Lines QSettings skips (with a format error): reported, and every key read.
    QTest::addColumn<bool>("skipped");

    const auto row = [](const char* tag, const QByteArray& content, bool skipped,
                        bool serialised = false) {
        QTest::newRow(tag) << content
                           << (serialised
                                   ? "the settings file holds a serialised value \\(@Variant, "
                                     "or @DateTime holding other than a date\\), which is "
                                     "not read; the defaults are used.*"
                                   : QString())
                           << skipped;
    };
    row("byte-order mark before an indented key", "\xEF\xBB\xBF\tscannStart=0\n[gui]\nfontSize=9\n",
        false);
    // QSettings reads every key of such files; the lines it skips are no reason to drop them.
    row("line without equals sign", "[general]\nscannStart=0\nthis is no key\n[gui]\nfontSize=9\n",
        true);
    row("unclosed section", "[general\nscannStart=0\n[gui]\nfontSize=9\n", true);
    row("binary", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01", 20), true);
    // Not read whole, so kept as a copy before a change replaces it.
    row("cut in a character", "[general]\nscannStart=0\n[gui]\nfontSize=9\nname=Gr\xC3", false);
    const QString utf16("[general]\nscannStart=0\n[gui]\nfontSize=9\n");
    row("UTF-16",
        QByteArray("\xFF\xFE") +
            QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2),
        true);
    // Decoding it would build a cursor, which ends a program without a GUI.
    row("serialised cursor",
        "[general]\nscannStart=0\n[communication]\nports=@Variant(\\0\\0\\0\\xJ\\0\\0\\0\\x5)\n",
        false, true);
    row("cut date", "[general]\nscannStart=0\ntrayMessages=@DateTime(\\0\\0\\0\\x10)\n", false,
        true);
    // A date in a named time zone would make Qt open a file of that name.
    row("date in a named time zone",
        "[general]\nscannStart=0\nx=@DateTime(\\0\\0\\0\\x10\\0\\0\\0\\0\\0\\0%"
        "\\x8b\\xe8\\x3\\x34\\xa6\\xa0\\x3\\0\\0\\0\\x2\\0/)\n",
        false, true);
    // Found by fuzzing: moved aside, it was copied as well.
    row("cut date beside NUL bytes",
        QByteArray("[general]\nscannStart=0\n[g\0\0ui]\nx=@DateTime(\\0\\0\\0\\x10)\n", 55), false,
        true);
    // Found by fuzzing: a key given twice holds the later value, as QSettings reads it, and is
    // no reason to take the file for damaged.
    row("date key given twice",
        "[general]\nscannStart=0\nx=@DateTime(\\0\\0\\0\\x10\\0\\0\\0\\0\\0\\0%=\\x8c\\0\\0\\0"
        "\\0\\x1)\nx=\"@DateTime(\\0\\0\\0\\x10\\0\\0\\0\\0\\0\\0%=\\x8c\\0\\0\\0\\0\\x1)\"\n"
        "[gui]\nfontSize=9\n",
        false);
    // A plain type's head with more data than the type holds.
    row("day with more behind it",
        "[general]\nscannStart=0\nx=@Variant(\\0\\0\\0\\xe\\0%\\x8e\\xc7\\0)\n", false, true);
    // A list of strings claiming a thousand million entries behind the date's marker.
    row("list behind a date's marker",
        "[general]\nscannStart=0\nx=@DateTime(\\0\\0\\0\\v\\0\\x40\\0\\0\\0)\n", false, true);
    // A list that claims two thousand million elements.
    row("serialised list, quoted",
        "[general]\nscannStart=0\ntrayMessages=\"@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\"\n",
        false, true);
}

void tst_CIniFileGuard::damagedFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, damage);
    QFETCH(bool, skipped);
    const QString path = iniPath();
    QVERIFY(CTestTree::write(path, content));
    const bool damaged = !damage.isEmpty();
    const bool copied = skipped || content.contains('\0') || content.endsWith('\xC3');
    if (damaged)
        expectCriticalOnFile("CIniFileGuard", damage);
    if (skipped)
        CExpect::record(QtWarningMsg, "CIniFileGuard.cpp", "CIniFileGuard::CIniFileGuard",
                        "the settings file has lines that are no keys (without \"=\"); they are "
                        "skipped and not kept when a change is saved: " +
                            path);
    const bool hasScanKey = content.contains("scannStart");
    {
        CIniFileGuard guard(path);
        QCOMPARE(guard.value("scannStart").toString(), hasScanKey && !damaged ? "0" : "");
        QCOMPARE(CTestTree::content(path), content);
        const QString aside = QRegularExpression::escape(path) + " -> " +
                              QRegularExpression::escape(path) + "\\.damaged-\\d{8}-\\d{6}";
        if (damaged)
            expectCritical("moveDamagedFileAside",
                           "the settings file could not be parsed and was moved aside: " + aside);
        else if (copied)
            expectCritical("keepCopy", "the settings file is not read whole, a copy is kept "
                                       "before it is replaced: " +
                                           aside);
        guard.change({{"General/trayMessages", 1}});
    }
    const QStringList aside =
        QDir(QFileInfo(path).path())
            .entryList({"Syncarium.ini.damaged-*"}, QDir::Files | QDir::Hidden);
    CIniFileGuard again(path);
    QCOMPARE(again.value("General/trayMessages").toString(), "1");
    if (damaged || copied) {
        QCOMPARE(aside.size(), 1);
        QCOMPARE(CTestTree::content(QFileInfo(path).path() + '/' + aside.first()), content);
    }
    if (damaged) {
        QCOMPARE(QSettings(path, QSettings::IniFormat).allKeys(),
                 QStringList{"General/trayMessages"});
    } else {
        QCOMPARE(aside.isEmpty(), !copied);
        QCOMPARE(again.value("scannStart").toString(), hasScanKey ? "0" : "");
        QCOMPARE(again.value("gui/fontSize").toString(), hasScanKey ? "9" : "");
    }
}

void tst_CIniFileGuard::skippedLinesKeepEveryKey_data()
{
    QTest::addColumn<QByteArray>("content");
    // Found by fuzzing: a key without a name beside lines without "=".
    QTest::newRow("key without a name")
        << QByteArray::fromBase64("W0dlbmVyYWxdCnNjYW5uU3RhcnQ9MAo9MgoKc2Nhbm5TdGFydFslR2VuZVtjb21t"
                                  "dW5pY3JhbG1tdW5pY3JhbF0KdXBhdGRhaW8=");
    QTest::newRow("unclosed section")
        << QByteArray("[gui\nfontSize=9\nno key ; comment\n[a]\nb=1\n");
    QTest::newRow("quoted line break") << QByteArray("[gui]\n\"no\nkey\"\nfontSize=9\n");
    // Found by fuzzing: the file is read without its mark, and QSettings drops a second one at
    // the start of what it reads, so the first section is a section.
    QTest::newRow("two byte-order marks")
        << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF[gui]\n\xEF\xBB\xBF[gui]\nfontSize=9\n");
}

// Whatever QSettings reads in a file with lines it skips is in the file after a change.
void tst_CIniFileGuard::skippedLinesKeepEveryKey()
{
    QFETCH(QByteArray, content);
    QVERIFY(CTestTree::write(iniPath(), content));
    const QStringList before =
        keysOf(content.startsWith("\xEF\xBB\xBF") ? content.mid(3) : content);
    CIniFileGuard(iniPath()).change({{"added/key", 1}});
    QStringList after = keysOf(CTestTree::content(iniPath()));
    QVERIFY2(after.removeAll("added/key") == 1, qPrintable(after.join(' ')));
    QCOMPARE(after, before);
}

// A folder at the path: see the settings' case without a settings file.
void tst_CIniFileGuard::notARegularFile()
{
    const QString path = iniPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    expectCriticalOnFile("CIniFileGuard",
                         "the settings path holds a FIFO, socket or device instead "
                         "of a settings file, the defaults are used and nothing "
                         "is saved");
    // Reading a FIFO waits for a writer: without the check this would not return.
    CIniFileGuard guard(path);
    QVERIFY(!guard.isOpen());
    guard.change({{"gui/fontSize", 12}});
    QVERIFY(!guard.contains("gui/fontSize"));
    QVERIFY(QFileInfo::exists(path) && !QFileInfo(path).isFile());
    QVERIFY(!QFileInfo::exists(path + ".lock"));
}

void tst_CIniFileGuard::heldLock()
{
    QVERIFY(CTestTree::write(iniPath(), "[gui]\nfontSize=9\n"));
    const QByteArray before = CTestTree::content(iniPath());
    CIniFileGuard guard(iniPath());

    CLockHolder holder(iniPath() + ".lock", QStringLiteral("QLockFile"));
    QVERIFY(holder.isLocked());

    // QSettings would wait for this lock without end.
    expectCriticalOnFile("save",
                         "could not lock the settings file within 3000 ms, the change is kept for "
                         "this run only",
                         ".*");
    guard.change({{"a/first", 0}});
    QCOMPARE(guard.value("a/first").toInt(), 0);
    QCOMPARE(CTestTree::content(iniPath()), before);

    holder.release();

    // The kept change goes into the file with the next one.
    guard.change({{"a/second", 0}});
    CIniFileGuard again(iniPath());
    QCOMPARE(again.value("a/first").toString(), "0");
    QCOMPARE(again.value("a/second").toString(), "0");
    QCOMPARE(again.value("gui/fontSize").toString(), "9");
}

// Two processes change the file a thousand times each: every key either wrote is in it.
void tst_CIniFileGuard::twoProcessesKeepTheirKeys()
{
    const int writes = 1000;
    const char* const prefixes[] = {"first", "second"};
    if (CTestChild::isChild()) {
        qputenv("XDG_RUNTIME_DIR", qgetenv("SY_TEST_RUNTIME"));
        CIniFileGuard guard(qEnvironmentVariable("SY_TEST_SETTINGS_FILE"));
        const QString prefix = qEnvironmentVariable("SY_TEST_WRITE_KEYS");
        for (int i = 0; i < writes; ++i)
            guard.change({{"stress/" + prefix + QString::number(i), i}});
        return;
    }
    // The working copies belong in the runtime folder, in memory on a desktop; on disk every
    // copy would cost the writers a flush to storage.
    std::unique_ptr<QTemporaryDir> runtime;
    if (QFileInfo("/dev/shm").isDir())
        runtime = std::make_unique<QTemporaryDir>("/dev/shm/sy-test-XXXXXX");
    QProcessEnvironment variables = CTestChild::childEnvironment();
    variables.insert("SY_TEST_SETTINGS_FILE", iniPath());
    variables.insert("SY_TEST_RUNTIME", runtime && runtime->isValid()
                                            ? runtime->path()
                                            : qEnvironmentVariable("XDG_RUNTIME_DIR"));
    const QString testCase = CTestChild::currentCase();
    CChildOutcome writers[2];
    QVERIFY(runOnThreads(
        2,
        [&](int i) {
            QProcessEnvironment own = variables;
            own.insert("SY_TEST_WRITE_KEYS", prefixes[i]);
            writers[i] = CTestChild::runCase(testCase, own);
        },
        310000));
    for (const CChildOutcome& writer : writers)
        QVERIFY2(writer.passed, writer.output.constData());

    QSettings file(iniPath(), QSettings::IniFormat);
    file.beginGroup("stress");
    QCOMPARE(file.childKeys().size(), 2 * writes);
    for (const char* prefix : prefixes) {
        for (int i = 0; i < writes; ++i)
            QCOMPARE(file.value(QLatin1String(prefix) + QString::number(i)).toInt(), i);
    }
}

void tst_CIniFileGuard::deniedAsUser_data()
{
    // The folder loses its write permission, or else the file its read permission.
    QTest::addColumn<bool>("folder");
    QTest::newRow("read-only folder") << true;
    QTest::newRow("unreadable file") << false;
}

void tst_CIniFileGuard::deniedAsUser()
{
    QFETCH(bool, folder);
    if (::geteuid() == 0)
        QSKIP("root ignores permission bits; see failedWriteKeepsTheFile");
    const QString path = folder ? QFileInfo(iniPath()).path() : iniPath();
    const QByteArray content("[gui]\nfontSize=9\n");
    QVERIFY(CTestTree::write(iniPath(), content));
    QVERIFY(QFile::setPermissions(path, folder ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                               : QFileDevice::WriteOwner));
    if (folder) {
        expectCritical("save", "could not create the lock file of the settings, the change is kept "
                               "for this run only: .*Syncarium\\.ini\\.lock Permission denied");
    } else {
        expectCriticalOnFile("CIniFileGuard",
                             "could not read the settings file, the defaults are used", ".*");
        // Writing what could be read, nothing, would replace the user's file.
        expectCriticalOnFile(
            "save", "could not read the settings file, the change is kept for this run only", ".*");
    }
    CIniFileGuard guard(iniPath());
    QCOMPARE(guard.contains("gui/fontSize"), folder);
    guard.change({{"gui/fontSize", 12}});
    QCOMPARE(guard.value("gui/fontSize").toInt(), 12);
    CTestTree::unlock(environment->home());
    QCOMPARE(CTestTree::content(iniPath()), content);
    QCOMPARE(QDir(QFileInfo(iniPath()).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Syncarium.ini"});
}

void tst_CIniFileGuard::failedWriteKeepsTheFile_data()
{
    QTest::addColumn<int>("keys");
    // What is left free on a small file system once it is filled; -1: the folder is read-only.
    QTest::addColumn<int>("leave");
    // The critical record after "could not "; %1 stands for the settings file.
    QTest::addColumn<QString>("record");
    const QString lockFile =
        "create the lock file of the settings, the change is kept for this run only: %1\\.lock ";
    const QString write = "write the settings file, the previous file is kept and the change is "
                          "kept for this run only: %1 No space left on device";
    // Room for the lock file, not for a new copy of the settings.
    QTest::newRow("full disk") << 2000 << 2 * 4096 << write;
    // A file that fits in the writer's buffer: only its last flush meets the full disk.
    QTest::newRow("nearly full disk, small file") << 250 << 2 * 4096 << write;
    QTest::newRow("no room for the lock file") << 2000 << 0 << lockFile + "No space left on device";
    QTest::newRow("read-only folder") << 2000 << -1 << lockFile + "Read-only file system";
}

void tst_CIniFileGuard::failedWriteKeepsTheFile()
{
    QFETCH(int, keys);
    QFETCH(int, leave);
    QFETCH(QString, record);
    SY_IN_MOUNT_NAMESPACE();
    const QString folder = QFileInfo(iniPath()).path();
    QVERIFY(QDir().mkpath(folder));
    QByteArray content("[many]\n");
    for (int i = 0; i < keys; ++i)
        content += "key" + QByteArray::number(i) + "=value number " + QByteArray::number(i) + '\n';
    if (leave >= 0 && !CTestChild::mount({"-t", "tmpfs", "-o", "size=256k", "none", folder}))
        QSKIP("could not mount a tmpfs");
    QVERIFY(CTestTree::write(iniPath(), content));
    if (leave >= 0)
        QVERIFY(CTestTree::fill(folder, leave));
    else if (!CTestChild::mount({"--bind", folder, folder}) ||
             !CTestChild::mount({"-o", "remount,bind,ro", folder, folder}))
        QSKIP("could not mount the folder read-only");
    expectCritical("save", "could not " + record.arg(QRegularExpression::escape(iniPath())));
    {
        CIniFileGuard guard(iniPath());
        guard.change({{"communication/pollIntervall", 42}});
        QCOMPARE(guard.value("communication/pollIntervall").toInt(), 42);
    }
    QCOMPARE(CTestTree::content(iniPath()), content);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             leave >= 0 ? (QStringList{"Syncarium.ini", "filler"}) : QStringList{"Syncarium.ini"});
}

// The data of the new file that does not reach the disk must not get the file's name.
void tst_CIniFileGuard::failedSyncKeepsTheFile()
{
    if (CFaultInjection::isInjected()) {
        const QString path = CFaultInjection::folder() + "/Syncarium.ini";
        CIniFileGuard guard(path);
        expectCritical("save", "could not write the settings file, the previous file is kept and "
                               "the change is kept for this run only: " +
                                   QRegularExpression::escape(path) + " Input/output error");
        CFaultInjection::arm();
        guard.change({{"gui/fontSize", 12}});
        CFaultInjection::disarm();
        QCOMPARE(guard.value("gui/fontSize").toInt(), 12);
        return;
    }
    const QByteArray content("[gui]\nfontSize=9\n");
    QVERIFY(CTestTree::write(iniPath(), content));
    CFaultPlan plan;
    plan.calls = "fsync";
    plan.pathPrefix = QFileInfo(iniPath()).path();
    // From the first on: the lock file's sync comes before the new file's, and QLockFile does
    // not mind a failed one.
    plan.at = 1;
    plan.sticky = true;
    const CFaultOutcome outcome = CFaultInjection::runCurrentCase(plan);
    QVERIFY2(outcome.passed, outcome.output.constData());
    QCOMPARE(CTestTree::content(iniPath()), content);
    QCOMPARE(QDir(QFileInfo(iniPath()).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Syncarium.ini"});
}

// Killed at any call of a save, the file is the old one or the new one, whole, and the next save
// leaves nothing else beside it.
void tst_CIniFileGuard::killedSaveLeavesOldOrNew()
{
    if (CFaultInjection::isInjected()) {
        CIniFileGuard guard(CFaultInjection::folder() + "/Syncarium.ini");
        CFaultInjection::arm();
        guard.change({{"gui/fontSize", 12}});
        CFaultInjection::disarm();
        return;
    }
    const QByteArray old("[gui]\nfontSize=9\nkept=1\n");
    const QString folder = QFileInfo(iniPath()).path();
    CFaultPlan plan;
    plan.pathPrefix = folder;
    plan.kill = true;
    const int points = CFaultInjection::killSweep(
        plan,
        [&] { QVERIFY(QDir(folder).removeRecursively() && CTestTree::write(iniPath(), old)); },
        [&](int point) {
            const QByteArray now = CTestTree::content(iniPath());
            if (now != old) {
                const QString copy = dir + QString("killed-%1.ini").arg(point);
                QVERIFY(CTestTree::write(copy, now));
                QSettings read(copy, QSettings::IniFormat);
                QVERIFY2(read.value("gui/fontSize").toInt() == 12 &&
                             read.value("gui/kept") == "1" && read.status() == QSettings::NoError,
                         now.constData());
            }
            CIniFileGuard(iniPath()).change({{"gui/other", point}});
            const QStringList left =
                QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
            QVERIFY2(left == QStringList{"Syncarium.ini"}, qPrintable(left.join(' ')));
        });
    qInfo("kill points tried: %d", points);
    QVERIFY(points > 1);
}

QTEST_GUILESS_MAIN(tst_CIniFileGuard)
#include "tst_CIniFileGuard.moc"
