#pragma once

#include <QCommandLineParser>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Shared pieces of the benchmarks: deterministic corpora under /tmp, child processes measured
// with wait4() (wall time and peak resident memory of that child alone), and statistics.
namespace bench {

struct CorpusStats
{
    qint64 bytes = 0;
    int files = 0;
    int dirs = 0;
};

// Log-like tree of about sizeMiB: a few large rotated logs, many small logs in nested dated
// folders, some binary dumps, non-ASCII names, empty files and folders. Made once per size.
CorpusStats makeLogCorpus(const QString& dir, int sizeMiB);
// fileCount text logs of 1 to 7 KiB in 200 folders, and nothing else. Made once per count.
CorpusStats makeSmallFilesTree(const QString& dir, int fileCount);
// One log file of sizeMiB. Made once per size.
CorpusStats makeBigFileTree(const QString& dir, int sizeMiB);
CorpusStats measureTree(const QString& dir);

// The options the packing benchmarks share. addOptions() puts them on parser with a program's
// defaults and corpus help; options() reads them back after QCommandLineParser::process().
struct Options
{
    QString corpus;
    int size = 0;
    int files = 20000;
    int runs = 3;
    QString work = QStringLiteral("/tmp/sy-bench");
};
void addOptions(QCommandLineParser& parser, const Options& defaults, const QString& corpusHelp);
Options options(const QCommandLineParser& parser);

// One packing tool measured run by run: a child process and what its runs gave.
struct Tool
{
    QString name;
    QString program;
    QStringList arguments;
    QString workingDir;
    QString archive;
    QList<double> seconds;
    QList<double> cpuSeconds;
    double maxRssMiB = 0;
    qint64 archiveSize = 0;
};

// The child side of a CZipper measurement: packs source into a new archive at target without
// writing records, with workers compressing threads (0: one per core), and returns the process
// exit code. With times, writes there how long the check of the written archive took, wall and
// processor seconds, from CZipper::verifyStarted to the end of zip (0 when zip does not check):
// the packing alone is the rest of the child's time.
int zipQuietly(const QString& source, const QString& target, int workers = 0,
               const QString& times = QString());
// The check's wall and processor seconds a child wrote to times; both 0 when it wrote none.
QPair<double, double> checkTimes(const QString& times);

struct ChildResult
{
    bool ok = false;
    double seconds = 0;
    // User plus system time: steadier than wall time on a busy machine.
    double cpuSeconds = 0;
    double maxRssMiB = 0;
};

// Runs program with arguments in workingDir (empty: the current one), standard output to
// /dev/null, and measures it.
ChildResult runChild(const QString& program, const QStringList& arguments,
                     const QString& workingDir = QString());

QString selfPath();
double median(QList<double> values);
QString commandLine(int argc, char** argv);
QString mib(double bytes);
// Drops the file or tree if it exists.
void removePath(const QString& path);

// Applies the allocator settings a program that packs many small files should choose:
// glibc hands the deflate state of every entry back to the system and faults it in again at
// the next one unless the heap top is kept.
void keepHeapTop();

} // namespace bench
