// Question: how does CZipper::zip compare with Info-ZIP's "zip -r -q -6" on the same tree, in
// wall time, throughput, peak memory and archive size?
//
// Each packing runs in a child process (so that its peak resident memory is its own), the two
// tools alternating run by run on a warm page cache. The CZipper child applies the allocator
// settings a packing program should choose (bench::keepHeapTop); --no-trim leaves glibc's
// defaults.

#include "CBenchSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>

namespace {

int childZip(const QString& source, const QString& target, bool trim)
{
    if (trim)
        bench::keepHeapTop();
    return bench::zipQuietly(source, target);
}

bool unzipTest(const QString& archive)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tqq"), archive});
    return unzip.waitForFinished(-1) && unzip.exitStatus() == QProcess::NormalExit &&
           unzip.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && qstrcmp(argv[1], "--child-zip") == 0)
        return childZip(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                        argc > 4 && qstrcmp(argv[4], "--trim") == 0);

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("CZipper::zip against zip -r -q -6."));
    bench::addOptions(parser,
                      {QStringLiteral("logs"), 0, 20000, 3, QStringLiteral("/tmp/sy-bench")},
                      QStringLiteral("logs: log-like tree of --size MiB (default 500); small: "
                                     "--files small text logs; big: one log file of --size MiB "
                                     "(default 2048)."));
    const QCommandLineOption noTrim(QStringLiteral("no-trim"),
                                    QStringLiteral("Leave glibc's heap thresholds as they are."));
    parser.addOption(noTrim);
    parser.process(app);
    const bench::Options options = bench::options(parser);
    const QString& corpus = options.corpus;
    int size = options.size;
    const int files = options.files;
    const int runs = options.runs;
    const QString& work = options.work;
    const bool trim = !parser.isSet(noTrim);

    QString source;
    bench::CorpusStats stats;
    if (corpus == QLatin1String("logs")) {
        size = size > 0 ? size : 500;
        source = work + QStringLiteral("/logs-%1").arg(size);
        stats = bench::makeLogCorpus(source, size);
    } else if (corpus == QLatin1String("small")) {
        source = work + QStringLiteral("/small-%1").arg(files);
        stats = bench::makeSmallFilesTree(source, files);
    } else if (corpus == QLatin1String("big")) {
        size = size > 0 ? size : 2048;
        source = work + QStringLiteral("/big-%1").arg(size);
        stats = bench::makeBigFileTree(source, size);
    } else {
        parser.showHelp(2);
    }
    std::printf("corpus: %s, %s in %d files and %d folders (%s)\n", qPrintable(corpus),
                qPrintable(bench::mib(double(stats.bytes))), stats.files, stats.dirs,
                qPrintable(source));

    bench::Tool zipper;
    zipper.name = trim ? QStringLiteral("CZipper::zip") : QStringLiteral("CZipper::zip (no trim)");
    zipper.program = bench::selfPath();
    zipper.archive = work + QStringLiteral("/czipper.zip");
    zipper.arguments = {QStringLiteral("--child-zip"), source, zipper.archive};
    if (trim)
        zipper.arguments.append(QStringLiteral("--trim"));
    bench::Tool infozip;
    infozip.name = QStringLiteral("Info-ZIP zip -6");
    infozip.program = QStringLiteral("zip");
    infozip.archive = work + QStringLiteral("/infozip.zip");
    infozip.arguments = {QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-6"),
                         infozip.archive, QStringLiteral(".")};
    infozip.workingDir = source;

    QList<double> ratios;
    QList<double> cpuRatios;
    for (int run = 0; run < runs; ++run) {
        bench::Tool* order[2] = {&zipper, &infozip};
        if (run % 2)
            std::swap(order[0], order[1]);
        for (bench::Tool* tool : order) {
            bench::removePath(tool->archive);
            const bench::ChildResult result =
                bench::runChild(tool->program, tool->arguments, tool->workingDir);
            if (!result.ok) {
                std::fprintf(stderr, "%s failed\n", qPrintable(tool->name));
                return 1;
            }
            tool->seconds.append(result.seconds);
            tool->cpuSeconds.append(result.cpuSeconds);
            tool->maxRssMiB = std::max(tool->maxRssMiB, result.maxRssMiB);
            tool->archiveSize = QFileInfo(tool->archive).size();
        }
        ratios.append(zipper.seconds.last() / infozip.seconds.last());
        cpuRatios.append(zipper.cpuSeconds.last() / infozip.cpuSeconds.last());
        std::printf("run %d: %s %.2f s (cpu %.2f s), %s %.2f s (cpu %.2f s), ratio %.3f\n", run + 1,
                    qPrintable(zipper.name), zipper.seconds.last(), zipper.cpuSeconds.last(),
                    qPrintable(infozip.name), infozip.seconds.last(), infozip.cpuSeconds.last(),
                    ratios.last());
        std::fflush(stdout);
    }

    std::printf("\n%-26s %10s %10s %10s %12s %14s %s\n", "tool", "median s", "cpu s", "MiB/s",
                "peak RSS", "archive bytes", "unzip -t");
    for (const bench::Tool* tool : {&zipper, &infozip}) {
        const double seconds = bench::median(tool->seconds);
        std::printf("%-26s %10.3f %10.3f %10.1f %8.1f MiB %14lld %s\n", qPrintable(tool->name),
                    seconds, bench::median(tool->cpuSeconds),
                    double(stats.bytes) / (1024.0 * 1024.0) / seconds, tool->maxRssMiB,
                    static_cast<long long>(tool->archiveSize),
                    unzipTest(tool->archive) ? "ok" : "FAILED");
    }
    std::printf("paired time ratio CZipper/Info-ZIP: median %.3f (wall), %.3f (cpu)\n",
                bench::median(ratios), bench::median(cpuRatios));
    std::printf("archive size ratio CZipper/Info-ZIP: %.4f\n",
                double(zipper.archiveSize) / double(infozip.archiveSize));
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    bench::removePath(zipper.archive);
    bench::removePath(infozip.archive);
    return 0;
}
