// Question: does CFSVolumeInformation(path) cost at most twice what "stat -f" takes for the same
// paths, and is the mount table left alone while it does not change?
//
// stat runs once over all paths as a child process (its start-up is measured separately and
// printed); the volume queries run in this process. The read calls this process makes during
// the queries, from /proc/self/io, show whether the mount table was read again.

#include "CBenchSupport.h"

#include "system/CFSVolumeInformation.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>

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

        const qint64 readsBefore = readCalls();
        QElapsedTimer timer;
        timer.start();
        for (const QString& path : std::as_const(paths)) {
            const CFSVolumeInformation info(path);
            if (info.totalBytes == 0 || info.fileSystemName.isEmpty())
                ++failures;
        }
        volumeSeconds.append(double(timer.nsecsElapsed()) / 1e9);
        reads = std::max(reads, readCalls() - readsBefore);
        ratio.append(volumeSeconds.last() / stat.seconds);
    }

    const double perPath = 1e6 / double(paths.size());
    std::printf("\n%-40s %12s %12s\n", "", "median ms", "us per path");
    std::printf("%-40s %12.2f %12.2f\n", "stat -f PATHS (process)",
                bench::median(statSeconds) * 1e3, bench::median(statSeconds) * perPath);
    std::printf("%-40s %12.2f\n", "stat -f / (its start-up)", bench::median(startSeconds) * 1e3);
    std::printf("%-40s %12.2f %12.2f\n", "CFSVolumeInformation(path)",
                bench::median(volumeSeconds) * 1e3, bench::median(volumeSeconds) * perPath);
    std::printf("paired ratio CFSVolumeInformation / stat -f: median %.3f (goal: at most 2)\n",
                bench::median(ratio));
    std::printf("read calls during one run of %lld queries: at most %lld\n",
                static_cast<long long>(paths.size()), static_cast<long long>(reads));
    std::printf("failed queries: %d\n", failures);
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    return failures == 0 ? 0 : 1;
}
