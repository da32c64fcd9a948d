// Question: how does CZipper::unzip compare with Info-ZIP's "unzip -q -o" on the same archive,
// in wall time, throughput and peak memory, for a tree of many small logs and for one big log?
//
// The archive is packed once with Info-ZIP. Each unpacking runs in a child process (so that its
// peak resident memory is its own) into a fresh folder, the two tools alternating run by run.

#include "CBenchSupport.h"

#include "IniFile/zip/CZipper.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <cstdio>

namespace {

int childUnzip(const QString& archive, const QString& target)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    CZipper zipper;
    return zipper.unzip(archive, target) ? 0 : 1;
}

bool pack(const QString& source, const QString& archive)
{
    if (QFileInfo::exists(archive))
        return true;
    QProcess zip;
    zip.setWorkingDirectory(source);
    zip.start(QStringLiteral("zip"), {QStringLiteral("-r"), QStringLiteral("-q"),
                                      QStringLiteral("-6"), archive, QStringLiteral(".")});
    return zip.waitForFinished(-1) && zip.exitStatus() == QProcess::NormalExit &&
           zip.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && qstrcmp(argv[1], "--child-unzip") == 0)
        return childUnzip(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("CZipper::unzip against unzip -q -o."));
    bench::addOptions(parser,
                      {QStringLiteral("small"), 0, 20000, 3, QStringLiteral("/tmp/sy-bench")},
                      QStringLiteral("small: --files small text logs; big: one log file of "
                                     "--size MiB (default 1024)."));
    parser.process(app);
    const bench::Options options = bench::options(parser);
    QString source;
    bench::CorpusStats stats;
    if (options.corpus == QLatin1String("small")) {
        source = options.work + QStringLiteral("/small-%1").arg(options.files);
        stats = bench::makeSmallFilesTree(source, options.files);
    } else if (options.corpus == QLatin1String("big")) {
        const int size = options.size > 0 ? options.size : 1024;
        source = options.work + QStringLiteral("/big-%1").arg(size);
        stats = bench::makeBigFileTree(source, size);
    } else {
        parser.showHelp(2);
    }
    const QString archive = source + QStringLiteral(".zip");
    if (!pack(source, archive)) {
        std::fprintf(stderr, "packing %s failed\n", qPrintable(archive));
        return 1;
    }
    std::printf("corpus: %s, %s in %d files (%s)\n", qPrintable(options.corpus),
                qPrintable(bench::mib(double(stats.bytes))), stats.files, qPrintable(archive));

    const QString target = options.work + QStringLiteral("/unzipped");
    bench::Tool zipper;
    zipper.name = QStringLiteral("CZipper::unzip");
    zipper.program = bench::selfPath();
    zipper.arguments = {QStringLiteral("--child-unzip"), archive, target};
    bench::Tool infozip;
    infozip.name = QStringLiteral("Info-ZIP unzip");
    infozip.program = QStringLiteral("unzip");
    infozip.arguments = {QStringLiteral("-q"), QStringLiteral("-o"), archive, QStringLiteral("-d"),
                         target};

    for (int run = 0; run < options.runs; ++run) {
        bench::Tool* order[2] = {&zipper, &infozip};
        if (run % 2)
            std::swap(order[0], order[1]);
        for (bench::Tool* tool : order) {
            bench::removePath(target);
            const bench::ChildResult result = bench::runChild(tool->program, tool->arguments);
            if (!result.ok || bench::measureTree(target).bytes != stats.bytes) {
                std::fprintf(stderr, "%s failed\n", qPrintable(tool->name));
                return 1;
            }
            tool->seconds.append(result.seconds);
            tool->cpuSeconds.append(result.cpuSeconds);
            tool->maxRssMiB = std::max(tool->maxRssMiB, result.maxRssMiB);
        }
        std::printf("run %d: %s %.2f s (cpu %.2f s), %s %.2f s (cpu %.2f s)\n", run + 1,
                    qPrintable(zipper.name), zipper.seconds.last(), zipper.cpuSeconds.last(),
                    qPrintable(infozip.name), infozip.seconds.last(), infozip.cpuSeconds.last());
        std::fflush(stdout);
    }
    bench::removePath(target);

    std::printf("\n%-18s %10s %10s %10s %12s\n", "tool", "median s", "cpu s", "MiB/s", "peak RSS");
    for (const bench::Tool* tool : {&zipper, &infozip}) {
        const double seconds = bench::median(tool->seconds);
        std::printf("%-18s %10.3f %10.3f %10.1f %8.1f MiB\n", qPrintable(tool->name), seconds,
                    bench::median(tool->cpuSeconds),
                    double(stats.bytes) / (1024.0 * 1024.0) / seconds, tool->maxRssMiB);
    }
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    return 0;
}
