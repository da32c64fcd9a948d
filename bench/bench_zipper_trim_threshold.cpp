// Question: does CZipper::zip still gain from glibc's heap thresholds being raised, that is,
// does a program that packs many small files need allocator settings of its own?
//
// The zipper keeps its deflate states and block buffers for the whole zip call; if it still
// handed memory back per entry, a tree of only small files would show it here as the default
// variant costing more than keep-heap-top (bench::keepHeapTop raises both thresholds).
//
// These are process-wide settings, so they are the program's choice (its main), not the
// library's: each variant runs in its own child process.

#include "CBenchSupport.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

#include <malloc.h>

namespace {

const char* const variants[] = {"default", "trim-only", "keep-heap-top"};

int childZip(const QString& source, const QString& target, const QString& variant)
{
    if (variant == QLatin1String("trim-only"))
        mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
    else if (variant == QLatin1String("keep-heap-top"))
        bench::keepHeapTop();
    return bench::zipQuietly(source, target);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--child-zip") == 0)
        return childZip(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                        QString::fromLocal8Bit(argv[4]));

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("CZipper::zip with and without glibc's heap thresholds raised."));
    bench::addOptions(parser,
                      {QStringLiteral("small"), 500, 20000, 3, QStringLiteral("/tmp/sy-bench")},
                      QStringLiteral("small: --files small text logs; logs: log-like tree of "
                                     "--size MiB."));
    parser.process(app);
    const bench::Options options = bench::options(parser);
    const QString& corpus = options.corpus;
    const int size = options.size;
    const int files = options.files;
    const int runs = options.runs;
    const QString& work = options.work;
    if (corpus != QLatin1String("small") && corpus != QLatin1String("logs"))
        parser.showHelp(2);

    const bool small = corpus == QLatin1String("small");
    const QString source = small ? work + QStringLiteral("/small-%1").arg(files)
                                 : work + QStringLiteral("/logs-%1").arg(size);
    const bench::CorpusStats stats =
        small ? bench::makeSmallFilesTree(source, files) : bench::makeLogCorpus(source, size);
    std::printf("corpus: %s, %s in %d files (%s)\n", qPrintable(corpus),
                qPrintable(bench::mib(double(stats.bytes))), stats.files, qPrintable(source));

    const QString archive = work + QStringLiteral("/trim.zip");
    QList<double> seconds[3];
    QList<double> cpu[3];
    double rss[3] = {0, 0, 0};
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < 3; ++k) {
            const int v = (k + run) % 3;
            bench::removePath(archive);
            const bench::ChildResult result =
                bench::runChild(bench::selfPath(), {QStringLiteral("--child-zip"), source, archive,
                                                    QString::fromLatin1(variants[v])});
            if (!result.ok) {
                std::fprintf(stderr, "variant %s failed\n", variants[v]);
                return 1;
            }
            seconds[v].append(result.seconds);
            cpu[v].append(result.cpuSeconds);
            rss[v] = std::max(rss[v], result.maxRssMiB);
        }
    }
    bench::removePath(archive);

    std::printf("\n%-16s %10s %10s %10s %12s %14s\n", "allocator", "median s", "cpu s", "MiB/s",
                "peak RSS", "cpu vs default");
    const double base = bench::median(cpu[0]);
    for (int v = 0; v < 3; ++v) {
        const double s = bench::median(seconds[v]);
        std::printf("%-16s %10.3f %10.3f %10.1f %8.1f MiB %14.3f\n", variants[v], s,
                    bench::median(cpu[v]), double(stats.bytes) / (1024.0 * 1024.0) / s, rss[v],
                    bench::median(cpu[v]) / base);
    }
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    return 0;
}
