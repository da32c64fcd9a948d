// Question: is CDirIterator's walk (as the zipper configures it) at least as fast as
// "find DIR -printf '%s\n'" over a tree of many small files?
//
// Both run as child processes, alternating. The scanner child also reports the time of the
// walk alone, without its process start-up (loading Qt), which find barely has.

#include "CBenchSupport.h"

#include "IniFile/scanner/CDirIterator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

int childScan(const QString& root, bool caching, const QString& report)
{
    CDirIterator scanner(root,
                         QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::System |
                             QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories, nullptr, QString(), 0);
    // The scanner's debug records would measure the terminal, not the walk.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 totalSize = 0;
    QElapsedTimer timer;
    timer.start();
    const bool ok = scanner.dirIterate(dirs, files, totalSize, caching, true);
    const qint64 nanoseconds = timer.nsecsElapsed();
    QFile out(report);
    if (!ok || !out.open(QIODevice::WriteOnly))
        return 1;
    out.write(QByteArray::number(double(nanoseconds) / 1e9, 'f', 6));
    std::printf("%lld\n", static_cast<long long>(totalSize));
    return 0;
}

double readSeconds(const QString& report)
{
    QFile in(report);
    return in.open(QIODevice::ReadOnly) ? in.readAll().toDouble() : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--child-scan") == 0)
        return childScan(QString::fromLocal8Bit(argv[2]), qstrcmp(argv[3], "cached") == 0,
                         QString::fromLocal8Bit(argv[4]));

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("CDirIterator against find -printf '%s\\n' on a small-files tree."));
    parser.addHelpOption();
    const QCommandLineOption filesOption(QStringLiteral("files"), QStringLiteral("Files."),
                                         QStringLiteral("N"), QStringLiteral("20000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs per tool."),
                                        QStringLiteral("N"), QStringLiteral("7"));
    const QCommandLineOption workOption(QStringLiteral("work"),
                                        QStringLiteral("Folder that holds the tree."),
                                        QStringLiteral("dir"), QStringLiteral("/tmp/sy-bench"));
    parser.addOptions({filesOption, runsOption, workOption});
    parser.process(app);
    const int files = parser.value(filesOption).toInt();
    const int runs = parser.value(runsOption).toInt();
    const QString work = parser.value(workOption);
    const QString source = work + QStringLiteral("/small-%1").arg(files);
    const bench::CorpusStats stats = bench::makeSmallFilesTree(source, files);
    std::printf("tree: %d files, %d folders (%s)\n", stats.files, stats.dirs, qPrintable(source));
    const QString report = work + QStringLiteral("/scan-time");

    const char* const modes[] = {"uncached", "cached"};
    QList<double> findWall;
    QList<double> scanWall[2];
    QList<double> scanInside[2];
    QList<double> ratio[2];
    double findRss = 0;
    double scanRss = 0;
    for (int run = 0; run < runs; ++run) {
        const bench::ChildResult find = bench::runChild(
            QStringLiteral("find"), {source, QStringLiteral("-printf"), QStringLiteral("%s\\n")});
        if (!find.ok)
            return 1;
        findWall.append(find.seconds);
        findRss = std::max(findRss, find.maxRssMiB);
        for (int m = 0; m < 2; ++m) {
            const bench::ChildResult scan =
                bench::runChild(bench::selfPath(), {QStringLiteral("--child-scan"), source,
                                                    QString::fromLatin1(modes[m]), report});
            if (!scan.ok)
                return 1;
            scanWall[m].append(scan.seconds);
            scanInside[m].append(readSeconds(report));
            ratio[m].append(scanInside[m].last() / find.seconds);
            scanRss = std::max(scanRss, scan.maxRssMiB);
        }
    }
    bench::removePath(report);

    std::printf("\n%-34s %12s %12s\n", "walk", "median ms", "entries/s");
    const double entries = stats.files + stats.dirs;
    const double findMs = bench::median(findWall) * 1000;
    std::printf("%-34s %12.1f %12.0f\n", "find -printf '%s\\n' (process)", findMs,
                entries / findMs * 1000);
    for (int m = 0; m < 2; ++m) {
        const double inside = bench::median(scanInside[m]) * 1000;
        const double wall = bench::median(scanWall[m]) * 1000;
        std::printf(
            "%-34s %12.1f %12.0f\n",
            qPrintable(QStringLiteral("CDirIterator %1 (walk)").arg(QLatin1String(modes[m]))),
            inside, entries / inside * 1000);
        std::printf(
            "%-34s %12.1f\n",
            qPrintable(QStringLiteral("CDirIterator %1 (process)").arg(QLatin1String(modes[m]))),
            wall);
        std::printf("paired ratio walk/find, %s: median %.3f\n", modes[m], bench::median(ratio[m]));
    }
    std::printf("peak RSS: find %.1f MiB, scanner %.1f MiB\n", findRss, scanRss);
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    return 0;
}
