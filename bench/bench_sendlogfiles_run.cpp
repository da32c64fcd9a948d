// Question: what does the log sender's whole run cost on top of CZipper::zip alone, and how do
// both compare with Info-ZIP's "zip -r -q -6"? The target: the whole run, with the check of
// the written archive, takes at most 1.35 times as long as CZipper::zip's packing alone.
//
// The whole run is the built program itself on a virtual X display: the copy stage, the
// packing with a progress report per entry (the window repaints at its frame rate), the check
// of the written archive, placing the archive on the desktop and the two requests to a
// stand-in xdg-open. CZipper::zip alone packs the same log folder in a child process that also
// tells how long zip's check took (from verifyStarted on), so that its packing alone is known;
// Info-ZIP packs it too. The whole run once more with credential masking turned off in the
// settings tells what masking costs a run (target: at most 1.15 times the run without it). The
// four alternate run by run on a warm page cache; every run is a child process measured on its
// own.

#include "CBenchSupport.h"

#include "IniFile/collector/CArchiveSpace.h"
#include "IniFile/zip/CZipper.h"
#include "system/CFSVolumeInformation.h"
#include "system/CFileManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPair>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>
#include <ctime>

namespace {

// The whole run, its staging, window, placing and the check of the written archive included,
// may take this many times as long as CZipper::zip alone on the same log folder.
const double targetOverZipper = 1.35;
// The whole run with masking may take this many times as long as the run without it.
const double targetMasking = 1.15;

bool write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

// What the run does besides staging and packing: the room check before packing (with the
// estimate from the first MiB, which a run makes only when the sizes alone do not fit) and
// the request to show the archive, made on a session bus of the benchmark's own where no
// file manager answers, so that the call goes all the way to the bus and back.
void measureRoomAndHandOff(const QString& logs, const QString& desktop, const QString& work)
{
    const QString config = work + QStringLiteral("/bus.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                  "<policy context=\"default\"><allow send_destination=\"*\" "
                                  "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                                  "own=\"*\"/></policy></busconfig>\n")
                       .arg(work)
                       .toUtf8()) < 0 ||
        !file.flush())
        return;
    file.close();
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
               QStringLiteral("--nofork"), QStringLiteral("--nosyslog")});
    if (!bus.waitForStarted() || !bus.waitForReadyRead(10000)) {
        std::printf("room check and hand-off: no dbus-daemon to measure with\n");
        return;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    // A run compares the sizes alone with the free space; only where they do not fit does it
    // deflate the first MiB for an estimate, timed here on its own.
    QElapsedTimer timer;
    timer.start();
    CArchiveSpace space(logs);
    const bool fits = space.fitsInto(CFSVolumeInformation(desktop).freeBytesAvailable) &&
                      space.fitsInto(CFSVolumeInformation(work).freeBytesAvailable);
    const double roomMs = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    const quint64 estimate = space.estimate();
    const double estimateMs = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    const bool shown = CFileManager::showItem(desktop + QStringLiteral("logs.zip"));
    const double showMs = double(timer.nsecsElapsed()) / 1e6;
    bus.terminate();
    bus.waitForFinished(5000);
    std::printf("room check %.1f ms (%d entries, bound %s, fits: %s), estimate from the first "
                "MiB %.1f ms (%s), file-manager request %.1f ms (answered: %s); room check and "
                "request %.1f ms, target <= 50 ms: %s (with the estimate %.1f ms)\n",
                roomMs, space.entries(), qPrintable(bench::mib(double(space.upperBound()))),
                fits ? "yes" : "no", estimateMs, qPrintable(bench::mib(double(estimate))), showMs,
                shown ? "yes" : "no", roomMs + showMs, roomMs + showMs <= 50 ? "met" : "NOT met",
                roomMs + estimateMs + showMs);
}

// The client's folders as the program finds them, in a home of the benchmark's own.
struct ClientHome
{
    QString base;
    QString home;
    QString data;
    QString logs;
    QString desktop;
    QString settings;
};

ClientHome clientHome(const bench::Options& options)
{
    ClientHome client;
    const QString& work = options.work;
    client.base =
        options.corpus == QLatin1String("logs")
            ? work + QStringLiteral("/sendlogs-logs-%1").arg(options.size)
        : options.corpus == QLatin1String("mixed")
            ? work + QStringLiteral("/sendlogs-mixed-%1-%2").arg(options.files).arg(options.size)
            : work + QStringLiteral("/sendlogs-small-%1").arg(options.files);
    client.home = client.base + QStringLiteral("/home");
    client.data = client.home + QStringLiteral("/.local/share/Syncarium/");
    client.logs = client.data + QStringLiteral("logs");
    client.desktop = client.home + QStringLiteral("/Desktop/");
    client.settings = client.home + QStringLiteral("/.config/Syncarium/Syncarium.ini");
    return client;
}

// The logs to pack; false for a corpus the benchmark does not know.
bool makeCorpus(const bench::Options& options, const QString& logs, bench::CorpusStats& stats)
{
    if (options.corpus == QLatin1String("logs")) {
        stats = bench::makeLogCorpus(logs, options.size);
    } else if (options.corpus == QLatin1String("small")) {
        stats = bench::makeSmallFilesTree(logs, options.files);
    } else if (options.corpus == QLatin1String("mixed")) {
        // The long file comes after the small ones, in its own folder.
        bench::makeSmallFilesTree(logs + QStringLiteral("/a-small"), options.files);
        bench::makeBigFileTree(logs + QStringLiteral("/z-big"), options.size);
        stats = bench::measureTree(logs);
    } else {
        return false;
    }
    return true;
}

// The database's error log, the backups, the desktop and a stand-in xdg-open.
bool writeClientFolders(const ClientHome& client)
{
    bool written = write(client.data + QStringLiteral("mysql/data/Syncarium2DataBase.err"),
                         "[ERROR] InnoDB: page checksum mismatch\n") &&
                   write(client.home + QStringLiteral("/.config/user-dirs.dirs"),
                         "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n") &&
                   write(client.base + QStringLiteral("/bin/xdg-open"), "#!/bin/sh\n");
    for (int day = 1; day <= 3; ++day)
        written =
            written &&
            write(client.data + QStringLiteral("logs_backup/Syncarium_2026-12-0%1.log").arg(day),
                  QByteArray(64 * 1024, 'x'));
    const QFileDevice::Permissions owner =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QFile::setPermissions(client.base + QStringLiteral("/bin/xdg-open"), owner);
    QDir().mkpath(client.desktop);
    QDir().mkpath(client.base + QStringLiteral("/work"));
    QDir().mkpath(client.base + QStringLiteral("/runtime"));
    QFile::setPermissions(client.base + QStringLiteral("/runtime"), owner);
    return written;
}

// Starts a virtual X display and points every child at it and at the client's home; false when
// the display did not start.
bool startDisplay(QProcess& xvfb, const QString& server, const ClientHome& client)
{
    xvfb.start(server,
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    QByteArray display;
    while (xvfb.waitForStarted(10000) && !display.contains('\n') && xvfb.waitForReadyRead(15000))
        display += xvfb.readAllStandardOutput();
    if (display.trimmed().isEmpty())
        return false;
    // Every child inherits this environment; only the program looks at it.
    qputenv("DISPLAY", ":" + display.trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("HOME", QFile::encodeName(client.home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(client.home + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(client.home + QStringLiteral("/.local/share")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(client.base + QStringLiteral("/runtime")));
    qputenv("PATH", QFile::encodeName(client.base + QStringLiteral("/bin:")) + qgetenv("PATH"));
    // A bus where nothing listens: the program falls back to its stand-in xdg-open, and no
    // real file manager is ever asked.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            QFile::encodeName(QStringLiteral("unix:path=") + client.base +
                              QStringLiteral("/no-session-bus")));
    return true;
}

// The four measured tools and their runs' paired ratios.
struct Runs
{
    bench::Tool whole;
    bench::Tool unmasked;
    bench::Tool zipper;
    bench::Tool infozip;
    QString zipperArchive;
    QString zipperTimes;
    QString infozipArchive;
    QList<double> overZipper;
    QList<double> cpuOverZipper;
    // Against the packing alone: CZipper::zip up to the check of the written archive.
    QList<double> packingSeconds;
    QList<double> packingCpuSeconds;
    QList<double> overPacking;
    QList<double> cpuOverPacking;
    QList<double> overUnmasked;
    QList<double> cpuOverUnmasked;
};

void setUpTools(Runs& runs, const QString& program, const ClientHome& client, const QString& work)
{
    runs.whole.name = QStringLiteral("sendLogFiles (whole run)");
    runs.whole.program = program;
    runs.whole.workingDir = client.base + QStringLiteral("/work");
    runs.unmasked = runs.whole;
    runs.unmasked.name = QStringLiteral("sendLogFiles, no masking");
    runs.zipper.name = QStringLiteral("CZipper::zip alone");
    runs.zipper.program = bench::selfPath();
    runs.zipperArchive = work + QStringLiteral("/sendlogs-czipper.zip");
    runs.zipperTimes = work + QStringLiteral("/sendlogs-czipper-check");
    runs.zipper.arguments = {QStringLiteral("--child-zip"), client.logs, runs.zipperArchive,
                             runs.zipperTimes};
    runs.infozip.name = QStringLiteral("Info-ZIP zip -6");
    runs.infozip.program = QStringLiteral("zip");
    runs.infozipArchive = work + QStringLiteral("/sendlogs-infozip.zip");
    runs.infozip.arguments = {QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-6"),
                              runs.infozipArchive, QStringLiteral(".")};
    runs.infozip.workingDir = client.logs;
}

// What a run leaves: the copies in the log folder and the archive on the desktop.
void reset(const Runs& runs, const ClientHome& client)
{
    bench::removePath(client.logs + QStringLiteral("/Syncarium2DataBase.err"));
    bench::removePath(client.logs + QStringLiteral("/logs_backup"));
    bench::removePath(runs.zipperArchive);
    bench::removePath(runs.zipperTimes);
    bench::removePath(runs.infozipArchive);
    bench::removePath(client.settings);
    for (const QString& name : QDir(client.desktop).entryList(QDir::Files))
        bench::removePath(client.desktop + name);
}

QString archiveOf(const Runs& runs, const bench::Tool* tool, const ClientHome& client)
{
    if (tool == &runs.zipper)
        return runs.zipperArchive;
    if (tool == &runs.infozip)
        return runs.infozipArchive;
    const QStringList placed = QDir(client.desktop).entryList({QStringLiteral("logs_*.zip")});
    return placed.size() == 1 ? client.desktop + placed.constFirst() : QString();
}

// One run of each tool, in an order that rotates from run to run; false when one failed.
bool runOnce(Runs& runs, int run, const ClientHome& client)
{
    bench::Tool* order[4] = {&runs.whole, &runs.unmasked, &runs.zipper, &runs.infozip};
    std::rotate(order, order + run % 4, order + 4);
    bool ok = true;
    for (bench::Tool* tool : order) {
        reset(runs, client);
        if (tool == &runs.unmasked &&
            !write(client.settings, "[logSender]\nmaskCredentials=false\n")) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(client.settings));
            ok = false;
            continue;
        }
        const bench::ChildResult result =
            bench::runChild(tool->program, tool->arguments, tool->workingDir);
        const QString archive = archiveOf(runs, tool, client);
        if (!result.ok || archive.isEmpty()) {
            std::fprintf(stderr, "%s failed\n", qPrintable(tool->name));
            ok = false;
            continue;
        }
        tool->seconds.append(result.seconds);
        tool->cpuSeconds.append(result.cpuSeconds);
        tool->maxRssMiB = std::max(tool->maxRssMiB, result.maxRssMiB);
        tool->archiveSize = QFileInfo(archive).size();
        if (tool == &runs.zipper) {
            const QPair<double, double> check = bench::checkTimes(runs.zipperTimes);
            runs.packingSeconds.append(result.seconds - check.first);
            runs.packingCpuSeconds.append(result.cpuSeconds - check.second);
        }
    }
    if (!ok)
        return false;
    const bench::Tool& whole = runs.whole;
    runs.overZipper.append(whole.seconds.last() / runs.zipper.seconds.last());
    runs.cpuOverZipper.append(whole.cpuSeconds.last() / runs.zipper.cpuSeconds.last());
    runs.overPacking.append(whole.seconds.last() / runs.packingSeconds.last());
    runs.cpuOverPacking.append(whole.cpuSeconds.last() / runs.packingCpuSeconds.last());
    runs.overUnmasked.append(whole.seconds.last() / runs.unmasked.seconds.last());
    runs.cpuOverUnmasked.append(whole.cpuSeconds.last() / runs.unmasked.cpuSeconds.last());
    std::printf(
        "run %d: whole %.2f s (cpu %.2f), CZipper %.2f s (cpu %.2f, packing alone "
        "%.2f s), no masking %.2f s (cpu %.2f), Info-ZIP %.2f s (cpu %.2f), whole/CZipper %.3f, "
        "whole/packing %.3f\n",
        run + 1, whole.seconds.last(), whole.cpuSeconds.last(), runs.zipper.seconds.last(),
        runs.zipper.cpuSeconds.last(), runs.packingSeconds.last(), runs.unmasked.seconds.last(),
        runs.unmasked.cpuSeconds.last(), runs.infozip.seconds.last(),
        runs.infozip.cpuSeconds.last(), runs.overZipper.last(), runs.overPacking.last());
    std::fflush(stdout);
    return true;
}

void printSummary(const Runs& runs, const bench::CorpusStats& stats)
{
    std::printf("\n%-26s %10s %10s %10s %12s %14s\n", "tool", "median s", "cpu s", "MiB/s",
                "peak RSS", "archive bytes");
    for (const bench::Tool* tool : {&runs.whole, &runs.unmasked, &runs.zipper, &runs.infozip}) {
        const double seconds = bench::median(tool->seconds);
        std::printf("%-26s %10.3f %10.3f %10.1f %8.1f MiB %14lld\n", qPrintable(tool->name),
                    seconds, bench::median(tool->cpuSeconds),
                    double(stats.bytes) / (1024.0 * 1024.0) / seconds, tool->maxRssMiB,
                    static_cast<long long>(tool->archiveSize));
    }
    const double extra = bench::median(runs.whole.seconds) - bench::median(runs.zipper.seconds);
    std::printf("paired ratio whole run/CZipper::zip: median %.3f (wall), %.3f (cpu)\n",
                bench::median(runs.overZipper), bench::median(runs.cpuOverZipper));
    // Until CZipper::zip checks what it wrote, its packing alone is all of it.
    const double wallRatio = bench::median(runs.overPacking);
    std::printf("paired ratio whole run/CZipper::zip's packing alone (before its check): "
                "median %.3f (wall), %.3f (cpu); target <= %.2f (wall): %s\n",
                wallRatio, bench::median(runs.cpuOverPacking), targetOverZipper,
                wallRatio <= targetOverZipper ? "met" : "NOT met");
    const double maskingRatio = bench::median(runs.overUnmasked);
    std::printf("paired ratio whole run/whole run without masking: median %.3f (wall), %.3f "
                "(cpu); target <= %.2f (wall): %s\n",
                maskingRatio, bench::median(runs.cpuOverUnmasked), targetMasking,
                maskingRatio <= targetMasking ? "met" : "NOT met");
    std::printf("whole run over CZipper::zip: %.3f s, %.1f us per entry (%d entries)\n", extra,
                extra * 1e6 / std::max(1, stats.files + stats.dirs), stats.files + stats.dirs);
    std::printf("whole run/Info-ZIP: %.3f (wall)\n",
                bench::median(runs.whole.seconds) / bench::median(runs.infozip.seconds));
}

int main(int argc, char** argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--child-zip") == 0)
        return bench::zipQuietly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                 0, QString::fromLocal8Bit(argv[4]));

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The log sender's whole run against CZipper::zip and zip -r -q -6."));
    bench::addOptions(parser,
                      {QStringLiteral("logs"), 500, 20000, 3, QStringLiteral("/tmp/sy-bench")},
                      QStringLiteral("logs: log-like tree of --size MiB; small: --files small "
                                     "text logs; mixed: --files small logs and one log of "
                                     "--size MiB."));
    const QCommandLineOption programOption(
        QStringLiteral("program"), QStringLiteral("The built sendLogFiles."),
        QStringLiteral("path"), QStringLiteral(SY_SENDLOGFILES_PROGRAM));
    parser.addOption(programOption);
    parser.process(app);
    const bench::Options options = bench::options(parser);
    const QString program = parser.value(programOption);
    const QString server = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (server.isEmpty() || !QFileInfo(program).isExecutable()) {
        std::fprintf(stderr, "needs Xvfb and the built sendLogFiles (%s)\n", qPrintable(program));
        return 1;
    }

    const ClientHome client = clientHome(options);
    bench::CorpusStats stats;
    if (!makeCorpus(options, client.logs, stats))
        parser.showHelp(2);
    if (!writeClientFolders(client)) {
        std::fprintf(stderr, "could not write the client's folders under %s\n",
                     qPrintable(client.base));
        return 1;
    }
    std::printf("corpus: %s, %s in %d files and %d folders (%s)\n", qPrintable(options.corpus),
                qPrintable(bench::mib(double(stats.bytes))), stats.files, stats.dirs,
                qPrintable(client.logs));

    QProcess xvfb;
    if (!startDisplay(xvfb, server, client)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    Runs runs;
    setUpTools(runs, program, client, options.work);
    bool ok = true;
    for (int run = 0; run < options.runs && ok; ++run)
        ok = runOnce(runs, run, client);
    reset(runs, client);
    measureRoomAndHandOff(client.logs, client.desktop, options.work);
    xvfb.terminate();
    xvfb.waitForFinished(10000);
    if (!ok)
        return 1;
    printSummary(runs, stats);
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    return 0;
}
