// Question: how does CZipper::zip, with one compressing thread and with one per core, compare
// with Info-ZIP's "zip -r -q -6" on the same tree, in wall time, CPU time, peak memory and
// archive size? And how much of the one-thread time is zlib's own: a child that only reads every
// file, sums its CRC-32 and deflates it with CZipper's parameters, writing nothing, is the floor
// no zlib-based packer with one thread can go below.
//
// And what does masking credentials cost: each CZipper runs once more with masking on (a proxy
// password set, so that it is looked for too), paired with the same CZipper without masking in
// the same round.
//
// CZipper::zip reads every archive back before it returns; how much of its time that check takes
// is measured inside the parallel CZipper's child, from CZipper::verifyStarted to the end.
//
// Each packing runs in a child process that links only the library and sets nothing about the
// allocator, as any program using the library would; its peak resident memory is its own. The
// three alternate run by run on a warm page cache, and each CZipper run is paired with the
// Info-ZIP run of the same round. Every archive is checked by unzip -t, python3's zipfile and
// 7z t.

#include "CBenchSupport.h"

#include "IniFile/zip/CZipper.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <QDirIterator>
#include <QFile>

#include <cstdio>
#include <memory>

#include <zlib.h>

namespace {

// Reads and deflates every file below source as CZipper does with one thread, in blocks of
// 4 MiB, and throws the output away.
int deflateOnly(const QString& source)
{
    const uInt block = 4 * 1024 * 1024;
    z_stream stream = {};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        return 1;
    const uLong outputSize = deflateBound(&stream, block);
    const std::unique_ptr<Bytef[]> input(new Bytef[block]);
    const std::unique_ptr<Bytef[]> output(new Bytef[outputSize]);
    QDirIterator it(source, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        deflateReset(&stream);
        uLong crc = 0;
        int result = Z_OK;
        while (result != Z_STREAM_END) {
            const qint64 count = file.read(reinterpret_cast<char*>(input.get()), block);
            if (count < 0)
                return 1;
            crc = crc32(crc, input.get(), uInt(count));
            stream.next_in = input.get();
            stream.avail_in = uInt(count);
            stream.next_out = output.get();
            stream.avail_out = uInt(outputSize);
            result = deflate(&stream, count < qint64(block) ? Z_FINISH : Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END)
                return 1;
        }
    }
    deflateEnd(&stream);
    return 0;
}

int zipMasked(const QString& source, const QString& target, int workers)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    CZipper zipper;
    zipper.setWorkerCount(workers);
    zipper.setCredentialMasking(true, "Wint3r!");
    return zipper.zip(source, target, false) ? 0 : 1;
}

bool succeeds(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QString checkArchive(const QString& archive)
{
    const bool unzip = succeeds(QStringLiteral("unzip"), {QStringLiteral("-tqq"), archive});
    const bool python = succeeds(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is "
                        "not None)"),
         archive});
    const bool sevenZip = succeeds(QStringLiteral("7z"), {QStringLiteral("t"), archive});
    return QStringLiteral("unzip %1, zipfile %2, 7z %3")
        .arg(unzip ? "ok" : "FAILED", python ? "ok" : "FAILED", sevenZip ? "ok" : "FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--child-zip") == 0)
        return bench::zipQuietly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                 QString::fromLocal8Bit(argv[4]).toInt());
    if (argc == 5 && qstrcmp(argv[1], "--child-zip-masked") == 0)
        return zipMasked(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                         QString::fromLocal8Bit(argv[4]).toInt());
    if (argc == 6 && qstrcmp(argv[1], "--child-zip") == 0)
        return bench::zipQuietly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                 QString::fromLocal8Bit(argv[4]).toInt(),
                                 QString::fromLocal8Bit(argv[5]));
    if (argc == 3 && qstrcmp(argv[1], "--child-deflate") == 0)
        return deflateOnly(QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("CZipper::zip against zip -r -q -6."));
    bench::addOptions(parser,
                      {QStringLiteral("logs"), 0, 20000, 3, QStringLiteral("/tmp/sy-bench")},
                      QStringLiteral("logs: log-like tree of --size MiB (default 500); small: "
                                     "--files small text logs; big: one log file of --size MiB "
                                     "(default 2048)."));
    const QCommandLineOption workersOption(
        QStringLiteral("workers"),
        QStringLiteral("Compressing threads of the parallel CZipper (default: the cores)."),
        QStringLiteral("N"), QString::number(QThread::idealThreadCount()));
    parser.addOption(workersOption);
    parser.process(app);
    const bench::Options options = bench::options(parser);
    const QString& corpus = options.corpus;
    int size = options.size;
    const int runs = options.runs;
    const QString& work = options.work;
    const int workers = parser.value(workersOption).toInt();

    QString source;
    bench::CorpusStats stats;
    if (corpus == QLatin1String("logs")) {
        size = size > 0 ? size : 500;
        source = work + QStringLiteral("/logs-%1").arg(size);
        stats = bench::makeLogCorpus(source, size);
    } else if (corpus == QLatin1String("small")) {
        source = work + QStringLiteral("/small-%1").arg(options.files);
        stats = bench::makeSmallFilesTree(source, options.files);
    } else if (corpus == QLatin1String("big")) {
        size = size > 0 ? size : 2048;
        source = work + QStringLiteral("/big-%1").arg(size);
        stats = bench::makeBigFileTree(source, size);
    } else {
        parser.showHelp(2);
    }
    std::printf("corpus: %s, %s in %d files and %d folders (%s), %d cores\n", qPrintable(corpus),
                qPrintable(bench::mib(double(stats.bytes))), stats.files, stats.dirs,
                qPrintable(source), QThread::idealThreadCount());

    bench::Tool single;
    single.name = QStringLiteral("CZipper::zip workers=1");
    single.program = bench::selfPath();
    single.archive = work + QStringLiteral("/czipper-1.zip");
    single.arguments = {QStringLiteral("--child-zip"), source, single.archive, QStringLiteral("1")};
    bench::Tool parallel;
    parallel.name = QStringLiteral("CZipper::zip workers=%1").arg(workers);
    parallel.program = bench::selfPath();
    parallel.archive = work + QStringLiteral("/czipper-n.zip");
    const QString parallelTimes = work + QStringLiteral("/czipper-n.times");
    parallel.arguments = {QStringLiteral("--child-zip"), source, parallel.archive,
                          QString::number(workers), parallelTimes};
    bench::Tool singleMasked = single;
    singleMasked.name = single.name + QStringLiteral(" masked");
    singleMasked.archive = work + QStringLiteral("/czipper-1m.zip");
    singleMasked.arguments = {QStringLiteral("--child-zip-masked"), source, singleMasked.archive,
                              QStringLiteral("1")};
    bench::Tool parallelMasked = parallel;
    parallelMasked.name = parallel.name + QStringLiteral(" masked");
    parallelMasked.archive = work + QStringLiteral("/czipper-nm.zip");
    parallelMasked.arguments = {QStringLiteral("--child-zip-masked"), source,
                                parallelMasked.archive, QString::number(workers)};
    bench::Tool deflate;
    deflate.name = QStringLiteral("zlib alone, 1 thread");
    deflate.program = bench::selfPath();
    deflate.arguments = {QStringLiteral("--child-deflate"), source};
    bench::Tool infozip;
    infozip.name = QStringLiteral("Info-ZIP zip -6");
    infozip.program = QStringLiteral("zip");
    infozip.archive = work + QStringLiteral("/infozip.zip");
    infozip.arguments = {QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-6"),
                         infozip.archive, QStringLiteral(".")};
    infozip.workingDir = source;

    // The parallel zip again with every fsync made a no-op by eatmydata: what syncing the
    // archive costs.
    bench::Tool unsynced = parallel;
    unsynced.name = parallel.name + QStringLiteral(" no fsync");
    unsynced.program = QStandardPaths::findExecutable(QStringLiteral("eatmydata"));
    unsynced.archive = work + QStringLiteral("/czipper-nosync.zip");
    unsynced.arguments = QStringList{bench::selfPath(), QStringLiteral("--child-zip"), source,
                                     unsynced.archive, QString::number(workers)};

    bench::Tool* const tools[7] = {&single,  &parallel, &singleMasked, &parallelMasked,
                                   &deflate, &infozip,  &unsynced};
    const int toolCount = unsynced.program.isEmpty() ? 6 : 7;
    const int compared = 5;
    QList<double> syncRatios;
    QList<double> syncCpuRatios;
    // Masked runs and the runs without masking they are paired with.
    const int maskedPairs[2][2] = {{2, 0}, {3, 1}};
    QList<double> maskRatios[2];
    QList<double> maskCpuRatios[2];
    QList<double> ratios[compared];
    QList<double> cpuRatios[compared];
    QList<double> checkShares;
    QList<double> checkCpuShares;
    for (int run = 0; run < runs; ++run) {
        // Rotating the order spreads the effect of the page cache and of other load.
        for (int i = 0; i < toolCount; ++i) {
            bench::Tool* tool = tools[(i + run) % toolCount];
            if (!tool->archive.isEmpty())
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
            if (!tool->archive.isEmpty())
                tool->archiveSize = QFileInfo(tool->archive).size();
        }
        std::printf("run %d:", run + 1);
        for (int i = 0; i < compared; ++i) {
            ratios[i].append(tools[i]->seconds.last() / infozip.seconds.last());
            cpuRatios[i].append(tools[i]->cpuSeconds.last() / infozip.cpuSeconds.last());
            std::printf(" %s %.2f s (cpu %.2f s, ratio %.3f);", qPrintable(tools[i]->name),
                        tools[i]->seconds.last(), tools[i]->cpuSeconds.last(), ratios[i].last());
        }
        std::printf(" %s %.2f s (cpu %.2f s)\n", qPrintable(infozip.name), infozip.seconds.last(),
                    infozip.cpuSeconds.last());
        for (int pair = 0; pair < 2; ++pair) {
            const bench::Tool* masked = tools[maskedPairs[pair][0]];
            const bench::Tool* plain = tools[maskedPairs[pair][1]];
            maskRatios[pair].append(masked->seconds.last() / plain->seconds.last());
            maskCpuRatios[pair].append(masked->cpuSeconds.last() / plain->cpuSeconds.last());
        }
        if (toolCount == 7) {
            syncRatios.append(parallel.seconds.last() / unsynced.seconds.last());
            syncCpuRatios.append(parallel.cpuSeconds.last() / unsynced.cpuSeconds.last());
        }
        // The zip alone: the parallel run less its check.
        const QPair<double, double> check = bench::checkTimes(parallelTimes);
        checkShares.append(check.first / (parallel.seconds.last() - check.first));
        checkCpuShares.append(check.second / (parallel.cpuSeconds.last() - check.second));
        std::printf("  check in %s: %.2f s (cpu %.2f s)\n", qPrintable(parallel.name), check.first,
                    check.second);
        std::fflush(stdout);
    }

    std::printf("\n%-26s %9s %9s %9s %12s %14s %10s %10s  %s\n", "tool", "median s", "cpu s",
                "MiB/s", "peak RSS", "archive bytes", "size/IZ", "time/IZ", "checks");
    for (int i = 0; i < toolCount; ++i) {
        const bench::Tool* tool = tools[i];
        const double seconds = bench::median(tool->seconds);
        const QString ratio =
            i < compared ? QString::number(bench::median(ratios[i]), 'f', 3) : QStringLiteral("-");
        const bool archive = !tool->archive.isEmpty();
        std::printf("%-26s %9.3f %9.3f %9.1f %8.1f MiB %14s %10s %10s  %s\n",
                    qPrintable(tool->name), seconds, bench::median(tool->cpuSeconds),
                    double(stats.bytes) / (1024.0 * 1024.0) / seconds, tool->maxRssMiB,
                    archive ? qPrintable(QString::number(tool->archiveSize)) : "-",
                    archive ? qPrintable(QString::number(
                                  double(tool->archiveSize) / double(infozip.archiveSize), 'f', 4))
                            : "-",
                    qPrintable(ratio), archive ? qPrintable(checkArchive(tool->archive)) : "-");
    }
    for (int i = 0; i < compared; ++i)
        std::printf("paired time ratio %s / Info-ZIP: median %.3f (wall), %.3f (cpu)\n",
                    qPrintable(tools[i]->name), bench::median(ratios[i]),
                    bench::median(cpuRatios[i]));
    for (int pair = 0; pair < 2; ++pair)
        std::printf("paired time ratio %s / %s: median %.3f (wall), %.3f (cpu)\n",
                    qPrintable(tools[maskedPairs[pair][0]]->name),
                    qPrintable(tools[maskedPairs[pair][1]]->name), bench::median(maskRatios[pair]),
                    bench::median(maskCpuRatios[pair]));
    if (toolCount == 7)
        std::printf("paired time ratio %s / %s: median %.3f (wall), %.3f (cpu)\n",
                    qPrintable(parallel.name), qPrintable(unsynced.name),
                    bench::median(syncRatios), bench::median(syncCpuRatios));
    else
        std::printf("fsync cost not measured: eatmydata is not installed\n");
    std::printf("read-back check in %s: median %.3f (wall), %.3f (cpu) of the zip without it\n",
                qPrintable(parallel.name), bench::median(checkShares),
                bench::median(checkCpuShares));
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    for (const bench::Tool* tool : tools) {
        if (!tool->archive.isEmpty())
            bench::removePath(tool->archive);
    }
    return 0;
}
