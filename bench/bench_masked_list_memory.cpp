// Question: how much memory does a masked zip take when a log holds a credential in every
// record, as a verbose HTTP log that prints its Authorization header on each request does? Every
// value masked is a line of masked.txt; the zipper keeps those lines in a file beside the archive
// until it packs them, so its peak resident memory should not grow with the number of values.
//
// One log of --size MiB, one record of about 120 bytes a line, each with its own bearer token,
// is packed by CZipper with masking on and --workers threads, paired run by run with the same
// zip without masking. Each zip runs in a child process whose peak resident memory is its own.

#include "CBenchSupport.h"

#include "IniFile/zip/CZipper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {

int zipMasked(const QString& source, const QString& target, int workers)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    CZipper zipper;
    zipper.setWorkerCount(workers);
    zipper.setCredentialMasking(true);
    if (zipper.zip(source, target, false))
        return 0;
    std::fprintf(stderr, "%s\n", qPrintable(zipper.lastError()));
    return 1;
}

// The log, made once per size; returns the records it holds, one value each.
qint64 makeHeaderLog(const QString& dir, int sizeMiB)
{
    const QString path = dir + QStringLiteral("/http.log");
    const qint64 size = qint64(sizeMiB) * 1024 * 1024;
    const QString count = dir + QStringLiteral("/../http-%1.records").arg(sizeMiB);
    QFile made(count);
    if (QFileInfo(path).size() == size && made.open(QIODevice::ReadOnly))
        return made.readAll().toLongLong();
    QDir().mkpath(dir);
    QFile log(path);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    qint64 records = 0;
    QByteArray chunk;
    for (qint64 written = 0; written < size;) {
        chunk.clear();
        while (chunk.size() < 4 * 1024 * 1024) {
            const QByteArray number = QByteArray::number(records);
            chunk += "2026-12-07 09:15:02.123 [http] > GET /api/v2/files/" + number +
                     " HTTP/1.1 Authorization: Bearer tk" +
                     QByteArray::number(records * 2654435761u % 4294967296u, 36) + number + "\n";
            ++records;
        }
        const qint64 take = qMin<qint64>(chunk.size(), size - written);
        if (log.write(chunk.constData(), take) != take)
            return -1;
        written += take;
    }
    // The last record may have been cut: it still holds its value unless cut before it.
    if (!log.flush() || !made.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    made.write(QByteArray::number(records));
    return records;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--child-zip-masked") == 0)
        return zipMasked(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                         QString::fromLocal8Bit(argv[4]).toInt());
    if (argc == 5 && qstrcmp(argv[1], "--child-zip") == 0)
        return bench::zipQuietly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                 QString::fromLocal8Bit(argv[4]).toInt());

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Peak memory of a masked zip of a log with a credential in every record."));
    bench::addOptions(parser,
                      {QStringLiteral("headers"), 256, 0, 1, QStringLiteral("/tmp/sy-bench")},
                      QStringLiteral("headers: one log of --size MiB (default 256) with an "
                                     "Authorization header on every line."));
    const QCommandLineOption workersOption(QStringLiteral("workers"),
                                           QStringLiteral("Compressing threads (default 2)."),
                                           QStringLiteral("N"), QStringLiteral("2"));
    parser.addOption(workersOption);
    parser.process(app);
    const bench::Options options = bench::options(parser);
    const int workers = parser.value(workersOption).toInt();
    const QString source = options.work + QStringLiteral("/headers-%1").arg(options.size);
    const qint64 records = makeHeaderLog(source, options.size);
    if (records < 0) {
        std::fprintf(stderr, "could not write the log below %s\n", qPrintable(source));
        return 1;
    }
    std::printf("log: %d MiB, %lld records with a value each (%s), %d workers\n", options.size,
                records, qPrintable(source), workers);

    bench::Tool masked;
    masked.name = QStringLiteral("masked");
    masked.program = bench::selfPath();
    masked.archive = options.work + QStringLiteral("/headers-masked.zip");
    masked.arguments = {QStringLiteral("--child-zip-masked"), source, masked.archive,
                        QString::number(workers)};
    bench::Tool plain = masked;
    plain.name = QStringLiteral("not masked");
    plain.archive = options.work + QStringLiteral("/headers-plain.zip");
    plain.arguments = {QStringLiteral("--child-zip"), source, plain.archive,
                       QString::number(workers)};
    QList<double> timeRatios;
    QList<double> cpuRatios;
    for (int run = 0; run < options.runs; ++run) {
        for (bench::Tool* tool : {run % 2 ? &plain : &masked, run % 2 ? &masked : &plain}) {
            bench::removePath(tool->archive);
            const bench::ChildResult result = bench::runChild(tool->program, tool->arguments);
            if (!result.ok) {
                std::fprintf(stderr, "the %s zip failed\n", qPrintable(tool->name));
                return 1;
            }
            tool->seconds.append(result.seconds);
            tool->cpuSeconds.append(result.cpuSeconds);
            tool->maxRssMiB = std::max(tool->maxRssMiB, result.maxRssMiB);
            tool->archiveSize = QFileInfo(tool->archive).size();
            std::printf("run %d, %s: %.2f s (cpu %.2f s), peak RSS %.1f MiB\n", run + 1,
                        qPrintable(tool->name), result.seconds, result.cpuSeconds,
                        result.maxRssMiB);
            std::fflush(stdout);
        }
        timeRatios.append(masked.seconds.last() / plain.seconds.last());
        cpuRatios.append(masked.cpuSeconds.last() / plain.cpuSeconds.last());
    }
    for (const bench::Tool* tool : {&masked, &plain})
        std::printf("%-11s median %.2f s (cpu %.2f s), peak RSS %.1f MiB, archive %lld bytes\n",
                    qPrintable(tool->name), bench::median(tool->seconds),
                    bench::median(tool->cpuSeconds), tool->maxRssMiB, tool->archiveSize);
    std::printf("peak RSS masked / not masked: %.1f / %.1f MiB (%.0f bytes a value above it)\n",
                masked.maxRssMiB, plain.maxRssMiB,
                (masked.maxRssMiB - plain.maxRssMiB) * 1024 * 1024 / double(records));
    std::printf("paired time ratio masked / not masked: median %.3f (wall), %.3f (cpu)\n",
                bench::median(timeRatios), bench::median(cpuRatios));
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    bench::removePath(masked.archive);
    bench::removePath(plain.archive);
    return 0;
}
