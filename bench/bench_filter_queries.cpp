// Question: how many entries a second can the default filter (its built-in rules plus 200 loaded
// rules over the nine categories) judge for the scanner module, does that rate hold with two
// threads asking at once, and what does the filter add to a scan of a 20,000-file tree?
//
// Rates are measured in thread CPU time as well as wall time: on a shared machine the CPU time
// is the steadier figure of what a query costs.

#include "CBenchSupport.h"

#include "IniFile/scanner/CDirIterator.h"
#include "fsFilter/CFSFilterFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

const quint32 scanner = CFSFilter::Scanner;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// 200 rules as users write them, spread over the nine categories, for several modules each.
QByteArray ruleFile()
{
    const char* const groups[9][2] = {{"directories", "directory"},
                                      {"files", "file"},
                                      {"paths", "path"},
                                      {"fileTypes", "fileType"},
                                      {"namePrefixes", "namePrefix"},
                                      {"nameSuffixes", "nameSuffix"},
                                      {"dirPatterns", "dirPattern"},
                                      {"filePatterns", "filePattern"},
                                      {"pathPatterns", "pathPattern"}};
    const auto value = [](int category, int i) -> QString {
        switch (category) {
        case 0:
            return QStringLiteral("build-%1/").arg(i);
        case 1:
            return QStringLiteral("Thumbs%1.db").arg(i);
        case 2:
            return QStringLiteral("/projects/old%1/notes.txt").arg(i);
        case 3:
            return QStringLiteral("tmp%1").arg(i);
        case 4:
            return QStringLiteral("~$%1").arg(i);
        case 5:
            return QStringLiteral(".part%1").arg(i);
        case 6:
            return QStringLiteral("cache[0-9]*-%1").arg(i);
        case 7:
            return QStringLiteral(".*\\.bak%1").arg(i);
        default:
            return QStringLiteral("/archive%1/.*\\.o").arg(i);
        }
    };
    QByteArray text;
    for (int category = 0; category < 9; ++category) {
        const int count = 22 + (category < 2 ? 1 : 0);
        text += QStringLiteral("[%1]\n").arg(QLatin1String(groups[category][0])).toUtf8();
        for (int i = 1; i <= count; ++i) {
            text += QStringLiteral("excludes\\%1\\%2=%3\nexcludes\\%1\\modules=%4\n"
                                   "excludes\\%1\\type=%5\n")
                        .arg(i)
                        .arg(QLatin1String(groups[category][1]), value(category, i))
                        .arg(i % 2 ? 0x47 : 0x03)
                        .arg(10 + i)
                        .toUtf8();
        }
        text += QStringLiteral("excludes\\size=%1\n").arg(count).toUtf8();
    }
    return text;
}

struct Query
{
    QString path;
    QString name;
    bool isDirectory;
};

// Entries in scan order: the files of one folder in a row, folders 1 to 8 deep.
std::vector<Query> makeEntries(const QString& space, int count)
{
    const char* const folders[] = {"Documents", "Projekte", "src",          "Фото",
                                   "2023",      "reports",  "node_modules", "build",
                                   "assets",    "Q3 Plan",  ".syncarium"};
    const char* const stems[] = {"report", "IMG_",   "main", "Übersicht", "notes",   "invoice",
                                 "data",   "README", "log",  "draft",     "qt_temp."};
    const char* const suffixes[] = {".docx",   ".JPG",  ".cpp", ".pdf", ".txt",
                                    ".tar.gz", ".xlsx", "",     ".log", ".md"};
    std::vector<Query> entries;
    entries.reserve(count);
    quint32 seed = 7;
    const auto next = [&seed](quint32 below) {
        seed = seed * 1103515245 + 12345;
        return (seed >> 16) % below;
    };
    while (int(entries.size()) < count) {
        QString path = space;
        const int depth = 1 + next(8);
        for (int d = 0; d < depth; ++d)
            path += QLatin1Char('/') + QString::fromUtf8(folders[next(50) == 0 ? 10 : next(10)]);
        const int files = 5 + next(40);
        for (int f = 0; f < files && int(entries.size()) < count; ++f) {
            const bool isDirectory = next(10) == 0;
            QString name = QString::fromUtf8(stems[next(50) == 0 ? 10 : next(10)]) +
                           QString::number(next(5000));
            if (!isDirectory)
                name += QString::fromUtf8(suffixes[next(10)]);
            entries.push_back({path, name, isDirectory});
        }
    }
    return entries;
}

struct Run
{
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int filtered = 0;
};

Run ask(CFSFilter& filter, const QString& space, const std::vector<Query>& entries)
{
    Run run;
    QElapsedTimer timer;
    timer.start();
    const double cpu = threadCpuSeconds();
    for (const Query& entry : entries) {
        quint32 type = 0;
        if (filter.isFiltered(scanner, space, entry.path, entry.name, entry.isDirectory, type))
            ++run.filtered;
    }
    run.cpuSeconds = threadCpuSeconds() - cpu;
    run.wallSeconds = double(timer.nsecsElapsed()) / 1e9;
    return run;
}

double scan(const QString& root, CFSFilter* filter, double& cpuSeconds)
{
    CDirIterator scanner(root,
                         QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::System |
                             QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories, filter, root, CFSFilter::Scanner);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    QElapsedTimer timer;
    timer.start();
    const double cpu = processCpuSeconds();
    scanner.dirIterate(dirs, files, false, false);
    cpuSeconds = processCpuSeconds() - cpu;
    return double(timer.nsecsElapsed()) / 1e9;
}

// The default filter with 200 rules loaded from a file under work; null when it did not load.
std::unique_ptr<CFSFilter> loadFilter(const QString& work)
{
    QDir().mkpath(work);
    const QString ruleFileName = work + QStringLiteral("/filter-200.ini");
    QFile rules(ruleFileName);
    if (!rules.open(QIODevice::WriteOnly) || rules.write(ruleFile()) < 0)
        return nullptr;
    rules.close();
    CFSFilterFile file(ruleFileName);
    if (!file.load())
        return nullptr;
    std::unique_ptr<CFSFilter> filter = file.getFilter();
    int ruleCount = 0;
    for (const auto& list :
         {filter->excludesDirectory(), filter->excludesFile(), filter->excludesPath(),
          filter->excludesFileType(), filter->excludesNamePrefix(), filter->excludesNameSuffix(),
          filter->excludesDirPattern(), filter->excludesFilePattern(),
          filter->excludesPathPattern()}) {
        for (const CFSFilter::TSettings& settings : list)
            ruleCount += settings.size();
    }
    std::printf("filter: %d rules over 7 modules (built-in ones and 200 loaded)\n", ruleCount);

    return filter;
}

// Queries per second on one thread and, summed, on two.
void measureQueries(CFSFilter& filter, const QString& space, const std::vector<Query>& entries,
                    int runs)
{
    QList<double> oneWall;
    QList<double> oneCpu;
    QList<double> twoWall;
    QList<double> twoCpu;
    int filtered = 0;
    for (int run = 0; run < runs; ++run) {
        const Run one = ask(filter, space, entries);
        filtered = one.filtered;
        oneWall.append(entries.size() / one.wallSeconds);
        oneCpu.append(entries.size() / one.cpuSeconds);
        Run both[2];
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QThread> threads[2];
        for (int t = 0; t < 2; ++t) {
            threads[t].reset(QThread::create([&, t] { both[t] = ask(filter, space, entries); }));
            threads[t]->start();
        }
        for (auto& thread : threads)
            thread->wait();
        const double wall = double(timer.nsecsElapsed()) / 1e9;
        twoWall.append(2.0 * entries.size() / wall);
        twoCpu.append(entries.size() / both[0].cpuSeconds + entries.size() / both[1].cpuSeconds);
    }
    std::printf("queries: %zu entries (scanner module), %d filtered\n", entries.size(), filtered);
    std::printf("%-28s %16s %16s\n", "threads", "queries/s wall", "queries/s CPU");
    std::printf("%-28s %16.0f %16.0f\n", "1", bench::median(oneWall), bench::median(oneCpu));
    std::printf("%-28s %16.0f %16.0f\n", "2 (sum of both)", bench::median(twoWall),
                bench::median(twoCpu));
    std::printf("two threads / one thread: %.2f (wall), %.2f (CPU)\n",
                bench::median(twoWall) / bench::median(oneWall),
                bench::median(twoCpu) / bench::median(oneCpu));
}

// A scan of a tree of fileCount files under work, with the filter and without.
void measureScan(CFSFilter& filter, const QString& work, int fileCount, int runs)
{
    const QString tree = work + QStringLiteral("/small-%1").arg(fileCount);
    const bench::CorpusStats stats = bench::makeSmallFilesTree(tree, fileCount);
    QList<double> plainWall;
    QList<double> filteredWall;
    QList<double> plainCpu;
    QList<double> filteredCpu;
    QList<double> pairedWall;
    QList<double> pairedCpu;
    for (int run = 0; run < runs + 2; ++run) {
        double cpuPlain = 0;
        double cpuFiltered = 0;
        const double wallPlain = scan(tree, nullptr, cpuPlain);
        const double wallFiltered = scan(tree, &filter, cpuFiltered);
        plainWall.append(wallPlain);
        filteredWall.append(wallFiltered);
        plainCpu.append(cpuPlain);
        filteredCpu.append(cpuFiltered);
        pairedWall.append(wallFiltered / wallPlain);
        pairedCpu.append(cpuFiltered / cpuPlain);
    }
    std::printf("\nscan of %d files, %d folders (%s), median of %d:\n", stats.files, stats.dirs,
                qPrintable(tree), runs + 2);
    std::printf("%-28s %10s %10s\n", "scan", "wall ms", "CPU ms");
    std::printf("%-28s %10.1f %10.1f\n", "without a filter", bench::median(plainWall) * 1000,
                bench::median(plainCpu) * 1000);
    std::printf("%-28s %10.1f %10.1f\n", "with the default filter",
                bench::median(filteredWall) * 1000, bench::median(filteredCpu) * 1000);
    std::printf("filtered / unfiltered (paired median): %.3f (wall), %.3f (CPU)\n",
                bench::median(pairedWall), bench::median(pairedCpu));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Queries of the default filter, alone and on two threads, and its cost in "
                       "a scan."));
    parser.addHelpOption();
    const QCommandLineOption queriesOption(QStringLiteral("queries"), QStringLiteral("Queries."),
                                           QStringLiteral("N"), QStringLiteral("1000000"));
    const QCommandLineOption filesOption(QStringLiteral("files"),
                                         QStringLiteral("Files of the scanned tree."),
                                         QStringLiteral("N"), QStringLiteral("20000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption workOption(QStringLiteral("work"),
                                        QStringLiteral("Folder that holds the tree."),
                                        QStringLiteral("dir"), QStringLiteral("/tmp/sy-bench"));
    parser.addOptions({queriesOption, filesOption, runsOption, workOption});
    parser.process(app);
    const int queries = parser.value(queriesOption).toInt();
    const int fileCount = parser.value(filesOption).toInt();
    const int runs = parser.value(runsOption).toInt();
    const QString work = parser.value(workOption);
    // The scanner's debug records would measure the terminal, not the filter.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    const std::unique_ptr<CFSFilter> filter = loadFilter(work);
    if (!filter)
        return 1;
    const QString space = QStringLiteral("/home/user/Syncarium/Space");
    measureQueries(*filter, space, makeEntries(space, queries), runs);
    measureScan(*filter, work, fileCount, runs);
    std::printf("reproduce: %s\n", qPrintable(bench::commandLine(argc, argv)));
    return 0;
}
