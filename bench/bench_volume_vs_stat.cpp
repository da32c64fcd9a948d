// Question: does CFSVolumeInformation(path) cost at most twice what "stat -f" takes for the same
// paths, and is the mount table left alone while it does not change?
//
// stat runs once over all paths as a child process (its start-up is measured separately and
// printed); the volume queries run in this process. CPU time (user plus system) is printed
// beside wall time: it is steadier on a busy machine. The read calls this process makes during
// the queries, from /proc/self/io, show whether the mount table was read again.

#include "CBenchSupport.h"

#include "system/CFSVolumeInformation.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>

#include <time.h>

namespace {

qint64 readCalls()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("syscr:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

double processCpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("CFSVolumeInformation(path) against stat -f over the same paths."));
    parser.addHelpOption();
    const QCommandLineOption pathsOption(QStringLiteral("paths"), QStringLiteral("Paths."),
                                         QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs per tool."),
                                        QStringLiteral("N"), QStringLiteral("7"));
    const QCommandLineOption workOption(QStringLiteral("work"),
                                        QStringLiteral("Folder that holds the tree."),
                                        QStringLiteral("dir"), QStringLiteral("/tmp/sy-bench"));
    parser.addOptions({pathsOption, runsOption, workOption});
    parser.process(app);
    const int count = parser.value(pathsOption).toInt();
    const int runs = parser.value(runsOption).toInt();
    const QString source = parser.value(workOption) + QStringLiteral("/small-%1").arg(count);
    bench::makeSmallFilesTree(source, count);

    QStringList paths;
    QDirIterator files(source, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        paths.append(files.next());
    paths.sort();
    paths = paths.mid(0, count);
    std::printf("paths: %lld files under %s\n", static_cast<long long>(paths.size()),
                qPrintable(source));

    QList<double> statSeconds;
    QList<double> startSeconds;
    QList<double> volumeSeconds;
    QList<double> ratio;
    QList<double> statCpuSeconds;
    QList<double> volumeCpuSeconds;
    QList<double> cpuRatio;
    qint64 reads = 0;
    int failures = 0;
    QStringList statArguments = {QStringLiteral("-f"), QStringLiteral("--")};
    statArguments += paths;
    for (int run = 0; run < runs; ++run) {
        const bench::ChildResult stat = bench::runChild(QStringLiteral("stat"), statArguments);
        const bench::ChildResult start =
            bench::runChild(QStringLiteral("stat"), {QStringLiteral("-f"), QStringLiteral("/")});
        if (!stat.ok || !start.ok)
            return 1;
        statSeconds.append(stat.seconds);
        startSeconds.append(start.seconds);
        statCpuSeconds.append(stat.cpuSeconds);

        const qint64 readsBefore = readCalls();
        const double cpuBefore = processCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        for (const QString& path : std::as_const(paths)) {
            const CFSVolumeInformation info(path);
            if (info.totalBytes == 0 || info.fileSystemName.isEmpty())
                ++failures;
        }
        volumeSeconds.append(double(timer.nsecsElapsed()) / 1e9);
        volumeCpuSeconds.append(processCpuSeconds() - cpuBefore);
        reads = std::max(reads, readCalls() - readsBefore);
        ratio.append(volumeSeconds.last() / stat.seconds);
        cpuRatio.append(volumeCpuSeconds.last() / stat.cpuSeconds);
    }

    const double perPath = 1e6 / double(paths.size());
    std::printf("\n%-40s %12s %12s %12s\n", "", "median ms", "us per path", "CPU ms");
    std::printf("%-40s %12.2f %12.2f %12.2f\n", "stat -f PATHS (process)",
                bench::median(statSeconds) * 1e3, bench::median(statSeconds) * perPath,
                bench::median(statCpuSeconds) * 1e3);
    std::printf("%-40s %12.2f\n", "stat -f / (its start-up)", bench::median(startSeconds) * 1e3);
    std::printf("%-40s %12.2f %12.2f %12.2f\n", "CFSVolumeInformation(path)",
                bench::median(volumeSeconds) * 1e3, bench::median(volumeSeconds) * perPath,
                bench::median(volumeCpuSeconds) * 1e3);
    std::printf("paired ratio CFSVolumeInformation / stat -f: median %.3f wall, %.3f CPU "
                "(goal: at most 2)\n",
                bench::median(ratio), bench::median(cpuRatio));
    std::printf("read calls during one run of %lld queries: at most %lld\n",
                static_cast<long long>(paths.size()), static_cast<long long>(reads));
    std::printf("failed queries: %d\n", failures);
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    return failures == 0 ? 0 : 1;
}
