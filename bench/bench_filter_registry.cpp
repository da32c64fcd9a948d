// Question: how many queries a second do four threads get through the registry, each asking
// getSpaceFilter(space)->isFileFilteredRelative(...) across 100 spaces, while a fifth thread
// replaces one space's filter every millisecond? The figure shows what the registry's lock and
// the rule copies of a replacement cost the threads that only read.

#include "CBenchSupport.h"

#include "fsFilter/CFSFilterConfig.h"
#include "fsFilter/CFileSystemFilter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Replacing a filter logs a debug record every millisecond; only the others are shown.
void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

struct Entry
{
    QString relativePath;
    QString name;
};

// Names as a scan meets them: mostly ordinary files, some of the client's working files (which
// the built-in rules filter without a report), nested a few folders deep.
std::vector<Entry> entries()
{
    std::vector<Entry> result;
    for (int i = 0; i < 1000; ++i) {
        const QString folder = QStringLiteral("/projects/p%1/src/module%2/").arg(i % 17).arg(i % 5);
        QString name;
        switch (i % 10) {
        case 0:
            name = QStringLiteral("qt_temp.%1").arg(i);
            break;
        case 1:
            name = QStringLiteral("notes%1.syncarium").arg(i);
            break;
        default:
            name = QStringLiteral("file_%1.cpp").arg(i);
        }
        result.push_back({folder, name});
    }
    return result;
}

// A fresh configuration under work: the default filter file, and a filter loaded for each of
// the spaces; false (said on stderr when it is the folder or the file) when one could not be made.
bool setUpSpaces(const QString& work, quint32 spaces)
{
    bench::removePath(work);
    if (!QDir().mkpath(work)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(work));
        return false;
    }
    CFSFilterConfig::instance()->setBaseFolder(work);
    QDir().mkpath(work + QStringLiteral("fsConfig/filter"));
    QFile defaults(CFSFilterConfig::instance()->defaultFilterFile());
    if (!defaults.open(QIODevice::WriteOnly) || defaults.write("[options]\nscanner=419\n") < 0 ||
        !defaults.flush()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(defaults.fileName()));
        return false;
    }
    defaults.close();
    CFileSystemFilter* registry = CFileSystemFilter::instance();
    for (quint32 space = 0; space < spaces; ++space) {
        if (!registry->loadSpaceFilter(space, QStringLiteral("/spaces/%1").arg(space)))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption queriesOption(QStringLiteral("queries"),
                                           QStringLiteral("queries in all (default 1000000)"),
                                           QStringLiteral("n"), QStringLiteral("1000000"));
    const QCommandLineOption threadsOption(QStringLiteral("threads"),
                                           QStringLiteral("querying threads (default 4)"),
                                           QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption spacesOption(QStringLiteral("spaces"),
                                          QStringLiteral("spaces (default 100)"),
                                          QStringLiteral("n"), QStringLiteral("100"));
    parser.addOptions({queriesOption, threadsOption, spacesOption});
    parser.process(app);
    const qint64 queries = parser.value(queriesOption).toLongLong();
    const int threads = parser.value(threadsOption).toInt();
    const quint32 spaces = parser.value(spacesOption).toUInt();
    if (queries <= 0 || threads <= 0 || spaces == 0) {
        std::fprintf(stderr, "queries, threads and spaces must be positive\n");
        return 2;
    }
    qInstallMessageHandler(quietHandler);

    const QString work = QStringLiteral("/tmp/sy-bench-filter-registry/");
    if (!setUpSpaces(work, spaces))
        return 1;
    CFileSystemFilter* registry = CFileSystemFilter::instance();
    const std::vector<Entry> corpus = entries();
    std::atomic<bool> done{false};
    std::atomic<qint64> filtered{0};
    QSemaphore ready;
    QSemaphore start;
    std::vector<std::unique_ptr<QThread>> workers;
    for (int t = 0; t < threads; ++t) {
        const qint64 share = queries / threads + (t < queries % threads ? 1 : 0);
        workers.emplace_back(QThread::create([&, t, share] {
            ready.release();
            start.acquire();
            qint64 hits = 0;
            quint32 type = 0;
            for (qint64 i = 0; i < share; ++i) {
                const Entry& entry = corpus[size_t((i * 7 + t) % qint64(corpus.size()))];
                const quint32 space = quint32((i + t * 13) % spaces);
                if (registry->getSpaceFilter(space)->isFileFilteredRelative(
                        CFSFilter::Scanner, entry.relativePath, entry.name, type))
                    ++hits;
            }
            filtered += hits;
        }));
    }
    int replacements = 0;
    std::unique_ptr<QThread> replacer(QThread::create([&] {
        ready.release();
        start.acquire();
        while (!done.load()) {
            auto filter = std::make_unique<CFSPlatformFilter>();
            filter->addExcludeFile(CFSFilter::Scanner, 9,
                                   QStringLiteral("never_%1.txt").arg(replacements));
            registry->addSpaceFilter(quint32(replacements) % spaces, std::move(filter));
            ++replacements;
            QThread::usleep(1000);
        }
    }));

    for (auto& worker : workers)
        worker->start();
    replacer->start();
    ready.acquire(threads + 1);
    QElapsedTimer timer;
    timer.start();
    start.release(threads + 1);
    for (auto& worker : workers)
        worker->wait();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    done = true;
    replacer->wait();

    std::printf("%lld queries by %d threads across %u spaces in %.3f s: %.0f queries/s\n",
                static_cast<long long>(queries), threads, spaces, seconds,
                double(queries) / seconds);
    std::printf("filtered (silently, built-in rules): %lld; space filters replaced meanwhile: %d\n",
                static_cast<long long>(filtered.load()), replacements);
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    CFileSystemFilter::destroy();
    bench::removePath(work);
    return 0;
}
