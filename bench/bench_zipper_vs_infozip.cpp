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
#include <optional>

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

// The child side of a measurement, when the arguments ask for one.
std::optional<int> runAsChild(int argc, char** argv)
{
    const auto arg = [argv](int i) { return QString::fromLocal8Bit(argv[i]); };
    if (argc == 5 && qstrcmp(argv[1], "--child-zip") == 0)
        return bench::zipQuietly(arg(2), arg(3), arg(4).toInt());
    if (argc == 5 && qstrcmp(argv[1], "--child-zip-masked") == 0)
        return zipMasked(arg(2), arg(3), arg(4).toInt());
    if (argc == 6 && qstrcmp(argv[1], "--child-zip") == 0)
        return bench::zipQuietly(arg(2), arg(3), arg(4).toInt(), arg(5));
    if (argc == 3 && qstrcmp(argv[1], "--child-deflate") == 0)
        return deflateOnly(arg(2));
    return std::nullopt;
}

// The tree to pack, made under work; empty for a corpus the benchmark does not know.
QString makeSource(const bench::Options& options, bench::CorpusStats& stats)
{
    const QString& work = options.work;
    if (options.corpus == QLatin1String("logs")) {
        const int size = options.size > 0 ? options.size : 500;
        const QString source = work + QStringLiteral("/logs-%1").arg(size);
        stats = bench::makeLogCorpus(source, size);
        return source;
    }
    if (options.corpus == QLatin1String("small")) {
        const QString source = work + QStringLiteral("/small-%1").arg(options.files);
        stats = bench::makeSmallFilesTree(source, options.files);
        return source;
    }
    if (options.corpus == QLatin1String("big")) {
        const int size = options.size > 0 ? options.size : 2048;
        const QString source = work + QStringLiteral("/big-%1").arg(size);
        stats = bench::makeBigFileTree(source, size);
        return source;
    }
    return QString();
}

// The measured tools; the first five are compared with Info-ZIP.
struct Tools
{
    bench::Tool single;
    bench::Tool parallel;
    bench::Tool singleMasked;
    bench::Tool parallelMasked;
    bench::Tool deflate;
    bench::Tool infozip;
    // The parallel zip again with every fsync made a no-op by eatmydata: what syncing the
    // archive costs.
    bench::Tool unsynced;
    QString parallelTimes;

    static constexpr int compared = 5;
    // Masked runs and the runs without masking they are paired with.
    static constexpr int maskedPairs[2][2] = {{2, 0}, {3, 1}};
    int count() const { return unsynced.program.isEmpty() ? 6 : 7; }
    bench::Tool& at(int i)
    {
        bench::Tool* const all[7] = {&single,  &parallel, &singleMasked, &parallelMasked,
                                     &deflate, &infozip,  &unsynced};
        return *all[i];
    }
    const bench::Tool& at(int i) const { return const_cast<Tools*>(this)->at(i); }
};

void setUpTools(Tools& tools, const QString& source, const QString& work, int workers)
{
    bench::Tool& single = tools.single;
    single.name = QStringLiteral("CZipper::zip workers=1");
    single.program = bench::selfPath();
    single.archive = work + QStringLiteral("/czipper-1.zip");
    single.arguments = {QStringLiteral("--child-zip"), source, single.archive, QStringLiteral("1")};
    bench::Tool& parallel = tools.parallel;
    parallel.name = QStringLiteral("CZipper::zip workers=%1").arg(workers);
    parallel.program = bench::selfPath();
    parallel.archive = work + QStringLiteral("/czipper-n.zip");
    tools.parallelTimes = work + QStringLiteral("/czipper-n.times");
    parallel.arguments = {QStringLiteral("--child-zip"), source, parallel.archive,
                          QString::number(workers), tools.parallelTimes};
    tools.singleMasked = single;
    tools.singleMasked.name = single.name + QStringLiteral(" masked");
    tools.singleMasked.archive = work + QStringLiteral("/czipper-1m.zip");
    tools.singleMasked.arguments = {QStringLiteral("--child-zip-masked"), source,
                                    tools.singleMasked.archive, QStringLiteral("1")};
    tools.parallelMasked = parallel;
    tools.parallelMasked.name = parallel.name + QStringLiteral(" masked");
    tools.parallelMasked.archive = work + QStringLiteral("/czipper-nm.zip");
    tools.parallelMasked.arguments = {QStringLiteral("--child-zip-masked"), source,
                                      tools.parallelMasked.archive, QString::number(workers)};
    tools.deflate.name = QStringLiteral("zlib alone, 1 thread");
    tools.deflate.program = bench::selfPath();
    tools.deflate.arguments = {QStringLiteral("--child-deflate"), source};
    bench::Tool& infozip = tools.infozip;
    infozip.name = QStringLiteral("Info-ZIP zip -6");
    infozip.program = QStringLiteral("zip");
    infozip.archive = work + QStringLiteral("/infozip.zip");
    infozip.arguments = {QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-6"),
                         infozip.archive, QStringLiteral(".")};
    infozip.workingDir = source;
    tools.unsynced = parallel;
    tools.unsynced.name = parallel.name + QStringLiteral(" no fsync");
    tools.unsynced.program = QStandardPaths::findExecutable(QStringLiteral("eatmydata"));
    tools.unsynced.archive = work + QStringLiteral("/czipper-nosync.zip");
    tools.unsynced.arguments = QStringList{bench::selfPath(), QStringLiteral("--child-zip"), source,
                                           tools.unsynced.archive, QString::number(workers)};
}

// The paired ratios of every run.
struct Ratios
{
    QList<double> sync;
    QList<double> syncCpu;
    QList<double> mask[2];
    QList<double> maskCpu[2];
    QList<double> overInfozip[Tools::compared];
    QList<double> cpuOverInfozip[Tools::compared];
    QList<double> checkShares;
    QList<double> checkCpuShares;
};

// One run of each tool, in an order rotated from run to run to spread the effect of the page
// cache and of other load; false when one failed.
bool runOnce(Tools& tools, Ratios& ratios, int run)
{
    const int toolCount = tools.count();
    for (int i = 0; i < toolCount; ++i) {
        bench::Tool& tool = tools.at((i + run) % toolCount);
        if (!tool.archive.isEmpty())
            bench::removePath(tool.archive);
        const bench::ChildResult result =
            bench::runChild(tool.program, tool.arguments, tool.workingDir);
        if (!result.ok) {
            std::fprintf(stderr, "%s failed\n", qPrintable(tool.name));
            return false;
        }
        tool.seconds.append(result.seconds);
        tool.cpuSeconds.append(result.cpuSeconds);
        tool.maxRssMiB = std::max(tool.maxRssMiB, result.maxRssMiB);
        if (!tool.archive.isEmpty())
            tool.archiveSize = QFileInfo(tool.archive).size();
    }
    const bench::Tool& infozip = tools.infozip;
    std::printf("run %d:", run + 1);
    for (int i = 0; i < Tools::compared; ++i) {
        const bench::Tool& tool = tools.at(i);
        ratios.overInfozip[i].append(tool.seconds.last() / infozip.seconds.last());
        ratios.cpuOverInfozip[i].append(tool.cpuSeconds.last() / infozip.cpuSeconds.last());
        std::printf(" %s %.2f s (cpu %.2f s, ratio %.3f);", qPrintable(tool.name),
                    tool.seconds.last(), tool.cpuSeconds.last(), ratios.overInfozip[i].last());
    }
    std::printf(" %s %.2f s (cpu %.2f s)\n", qPrintable(infozip.name), infozip.seconds.last(),
                infozip.cpuSeconds.last());
    for (int pair = 0; pair < 2; ++pair) {
        const bench::Tool& masked = tools.at(Tools::maskedPairs[pair][0]);
        const bench::Tool& plain = tools.at(Tools::maskedPairs[pair][1]);
        ratios.mask[pair].append(masked.seconds.last() / plain.seconds.last());
        ratios.maskCpu[pair].append(masked.cpuSeconds.last() / plain.cpuSeconds.last());
    }
    const bench::Tool& parallel = tools.parallel;
    if (toolCount == 7) {
        ratios.sync.append(parallel.seconds.last() / tools.unsynced.seconds.last());
        ratios.syncCpu.append(parallel.cpuSeconds.last() / tools.unsynced.cpuSeconds.last());
    }
    // The zip alone: the parallel run less its check.
    const QPair<double, double> check = bench::checkTimes(tools.parallelTimes);
    ratios.checkShares.append(check.first / (parallel.seconds.last() - check.first));
    ratios.checkCpuShares.append(check.second / (parallel.cpuSeconds.last() - check.second));
    std::printf("  check in %s: %.2f s (cpu %.2f s)\n", qPrintable(parallel.name), check.first,
                check.second);
    std::fflush(stdout);
    return true;
}

void printSummary(const Tools& tools, const Ratios& ratios, const bench::CorpusStats& stats)
{
    std::printf("\n%-26s %9s %9s %9s %12s %14s %10s %10s  %s\n", "tool", "median s", "cpu s",
                "MiB/s", "peak RSS", "archive bytes", "size/IZ", "time/IZ", "checks");
    for (int i = 0; i < tools.count(); ++i) {
        const bench::Tool& tool = tools.at(i);
        const double seconds = bench::median(tool.seconds);
        const QString ratio = i < Tools::compared
                                  ? QString::number(bench::median(ratios.overInfozip[i]), 'f', 3)
                                  : QStringLiteral("-");
        const bool archive = !tool.archive.isEmpty();
        std::printf("%-26s %9.3f %9.3f %9.1f %8.1f MiB %14s %10s %10s  %s\n", qPrintable(tool.name),
                    seconds, bench::median(tool.cpuSeconds),
                    double(stats.bytes) / (1024.0 * 1024.0) / seconds, tool.maxRssMiB,
                    archive ? qPrintable(QString::number(tool.archiveSize)) : "-",
                    archive
                        ? qPrintable(QString::number(
                              double(tool.archiveSize) / double(tools.infozip.archiveSize), 'f', 4))
                        : "-",
                    qPrintable(ratio), archive ? qPrintable(checkArchive(tool.archive)) : "-");
    }
    for (int i = 0; i < Tools::compared; ++i)
        std::printf("paired time ratio %s / Info-ZIP: median %.3f (wall), %.3f (cpu)\n",
                    qPrintable(tools.at(i).name), bench::median(ratios.overInfozip[i]),
                    bench::median(ratios.cpuOverInfozip[i]));
    for (int pair = 0; pair < 2; ++pair)
        std::printf("paired time ratio %s / %s: median %.3f (wall), %.3f (cpu)\n",
                    qPrintable(tools.at(Tools::maskedPairs[pair][0]).name),
                    qPrintable(tools.at(Tools::maskedPairs[pair][1]).name),
                    bench::median(ratios.mask[pair]), bench::median(ratios.maskCpu[pair]));
    if (tools.count() == 7)
        std::printf("paired time ratio %s / %s: median %.3f (wall), %.3f (cpu)\n",
                    qPrintable(tools.parallel.name), qPrintable(tools.unsynced.name),
                    bench::median(ratios.sync), bench::median(ratios.syncCpu));
    else
        std::printf("fsync cost not measured: eatmydata is not installed\n");
    std::printf("read-back check in %s: median %.3f (wall), %.3f (cpu) of the zip without it\n",
                qPrintable(tools.parallel.name), bench::median(ratios.checkShares),
                bench::median(ratios.checkCpuShares));
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> child = runAsChild(argc, argv))
        return *child;

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
    const int workers = parser.value(workersOption).toInt();

    bench::CorpusStats stats;
    const QString source = makeSource(options, stats);
    if (source.isEmpty())
        parser.showHelp(2);
    std::printf("corpus: %s, %s in %d files and %d folders (%s), %d cores\n",
                qPrintable(options.corpus), qPrintable(bench::mib(double(stats.bytes))),
                stats.files, stats.dirs, qPrintable(source), QThread::idealThreadCount());

    Tools tools;
    setUpTools(tools, source, options.work, workers);
    Ratios ratios;
    for (int run = 0; run < options.runs; ++run) {
        if (!runOnce(tools, ratios, run))
            return 1;
    }
    printSummary(tools, ratios, stats);
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    for (int i = 0; i < 7; ++i) {
        if (!tools.at(i).archive.isEmpty())
            bench::removePath(tools.at(i).archive);
    }
    return 0;
}
