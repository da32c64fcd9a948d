#include "CBenchSupport.h"

#include "IniFile/zip/CZipper.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace {

// splitmix64: small, fast and the same on every machine.
class CRandom
{
public:
    explicit CRandom(quint64 seed) : state(seed) {}
    quint64 next()
    {
        quint64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<quint64>(n)); }

private:
    quint64 state;
};

const char* const threadNames[] = {"MainThread",    "CSyncThread",     "CWatcherThread",
                                   "CZipperThread", "CDatabaseThread", "CUploadThread"};
const char* const sourceFiles[] = {"CSync.cpp",    "CWatcher.cpp",     "CDatabase.cpp",
                                   "CUpload.cpp",  "CBasicThread.cpp", "CDirIterator.cpp",
                                   "CFSFilter.cpp"};
const char* const functions[] = {
    "CSync::run",        "CWatcher::onEvent",        "CDatabase::query",     "CUpload::send",
    "CBasicThread::run", "CDirIterator::dirIterate", "CFSFilter::isFiltered"};
const char* const folders[] = {"Documents", "Pictures", "Projekte", "Rechnungen 2026",
                               "Übersicht", "shared",   "backup",   "Музыка"};
const char* const stems[] = {"report", "invoice", "Größe",  "draft",
                             "photo",  "notes",   "budget", "meeting"};
const char* const extensions[] = {"docx", "pdf", "jpg", "txt", "xlsx", "odt", "png"};

template<typename T, int N>
const T& pick(CRandom& random, const T (&items)[N])
{
    return items[random.below(N)];
}

// Appends log lines of the client's record format until out holds size bytes.
class CLogText
{
public:
    explicit CLogText(quint64 seed) : random(seed) {}

    void fill(QByteArray& out, qint64 size)
    {
        char line[512];
        out.clear();
        out.reserve(size);
        while (out.size() < size) {
            tick();
            int n = std::snprintf(
                line, sizeof line, "2026-11-%02d %02d:%02d:%02d.%03d [ %d : %s ] [ %s : %d : %s ] ",
                day, hour, minute, second, millisecond, random.below(12), pick(random, threadNames),
                pick(random, sourceFiles), 40 + random.below(900), pick(random, functions));
            n += message(line + n, sizeof line - static_cast<size_t>(n));
            out.append(line, std::min<qint64>(n, size - out.size()));
        }
    }

private:
    void tick()
    {
        millisecond += random.below(400);
        if (millisecond >= 1000) {
            millisecond -= 1000;
            if (++second == 60) {
                second = 0;
                if (++minute == 60) {
                    minute = 0;
                    if (++hour == 24) {
                        hour = 0;
                        day = day % 28 + 1;
                    }
                }
            }
        }
    }

    int path(char* out, size_t size)
    {
        return std::snprintf(out, size, "/home/user/Syncarium/space%d/%s/%s_%04d.%s",
                             random.below(4), pick(random, folders), pick(random, stems),
                             random.below(3000), pick(random, extensions));
    }

    int keyWordLine(char* out, size_t size, const char* file)
    {
        const unsigned long long session = random.next();
        switch (random.below(6)) {
        case 0:
            return std::snprintf(out, size,
                                 "token refreshed for session %016llx, expires in %d s\n", session,
                                 600 + random.below(3000));
        case 1:
            return std::snprintf(out, size,
                                 "GET https://sync.example.com/api/v2/files?space=%d&access_token="
                                 "%016llx 200\n",
                                 random.below(4), session);
        case 2:
            return std::snprintf(out, size, "request header Authorization: Bearer %016llx\n",
                                 session);
        case 3:
            return std::snprintf(out, size, "key store opened, %d keys, path %s\n",
                                 random.below(40), file);
        case 4:
            return std::snprintf(out, size, "proxy https://proxy.example.com:3128/ used for %s\n",
                                 file);
        default:
            return std::snprintf(out, size,
                                 "password policy checked for space %d, token_count=%d\n",
                                 random.below(4), random.below(10));
        }
    }

    int message(char* out, size_t size)
    {
        char file[160];
        path(file, sizeof file);
        // About 7% of a real client's lines hold a word a credential can follow (token, key,
        // auth, password, an address); a few of them hold one to mask.
        if (random.below(100) < 7)
            return keyWordLine(out, size, file);
        switch (random.below(8)) {
        case 0:
            return std::snprintf(out, size, "synced file %s size %d in %d ms\n", file,
                                 random.below(50000000), random.below(3000));
        case 1:
            return std::snprintf(out, size,
                                 "scanning complete. dirs %d files %d complete file size %lld\n",
                                 random.below(500), random.below(20000),
                                 static_cast<long long>(random.next() % 100000000000ull));
        case 2:
            return std::snprintf(out, size, "watcher event 0x%08x on %s\n",
                                 static_cast<unsigned>(random.next()), file);
        case 3:
            return std::snprintf(out, size,
                                 "connection to server 10.%d.%d.%d:%d established, session "
                                 "%016llx\n",
                                 random.below(256), random.below(256), random.below(256),
                                 1024 + random.below(60000),
                                 static_cast<unsigned long long>(random.next()));
        case 4:
            return std::snprintf(out, size, "retrying upload of %s (attempt %d of 5)\n", file,
                                 1 + random.below(5));
        case 5:
            return std::snprintf(out, size, "Thread ( %d %s ) setting running flag ...\n",
                                 random.below(12), pick(random, threadNames));
        case 6:
            return std::snprintf(out, size,
                                 "database query took %d ms: SELECT id, path, mtime FROM files "
                                 "WHERE space = %d AND path = '%s'\n",
                                 random.below(800), random.below(4), file);
        default:
            return std::snprintf(out, size, "file %s changed, mtime %lld, queued as job %d\n", file,
                                 1764000000000ll + random.below(100000000), random.below(100000));
        }
    }

    CRandom random;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Large files are written in pieces so that making them needs little memory.
void writeLog(const QString& path, qint64 size, quint64 seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    CLogText text(seed);
    QByteArray piece;
    for (qint64 left = size; left > 0;) {
        const qint64 n = std::min<qint64>(left, 16 * 1024 * 1024);
        text.fill(piece, n);
        if (file.write(piece) != piece.size())
            qFatal("cannot write %s", qPrintable(path));
        left -= n;
    }
}

// Crash dumps: structured records with stretches of noise.
QByteArray binaryDump(qint64 size, quint64 seed)
{
    CRandom random(seed);
    QByteArray out(size, Qt::Uninitialized);
    quint32 counter = 0;
    for (qint64 at = 0; at < size; at += 8) {
        quint64 word;
        if ((at / 4096) % 10 < 4)
            word = random.next();
        else
            word = (static_cast<quint64>(++counter) << 32) | static_cast<quint64>(random.below(64));
        std::memcpy(out.data() + at, &word, static_cast<size_t>(std::min<qint64>(8, size - at)));
    }
    return out;
}

bool isMade(const QString& dir)
{
    return QFileInfo::exists(dir + QStringLiteral(".complete-2"));
}

CorpusStats markMade(const QString& dir)
{
    writeFile(dir + QStringLiteral(".complete-2"), QByteArray());
    return measureTree(dir);
}

} // namespace

CorpusStats measureTree(const QString& dir)
{
    CorpusStats stats;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir()) {
            ++stats.dirs;
        } else {
            ++stats.files;
            stats.bytes += info.size();
        }
    }
    return stats;
}

CorpusStats makeLogCorpus(const QString& dir, int sizeMiB)
{
    if (isMade(dir))
        return measureTree(dir);
    removePath(dir);
    const qint64 total = qint64(sizeMiB) * 1024 * 1024;
    const QString root = dir + QLatin1Char('/');
    // About two thirds in three rotated logs, as a client that ran for weeks leaves them.
    writeLog(root + QStringLiteral("Syncarium.log"), total * 24 / 100, 1);
    writeLog(root + QStringLiteral("Syncarium.log.1"), total * 22 / 100, 2);
    writeLog(root + QStringLiteral("Syncarium.log.2"), total * 20 / 100, 3);
    for (int i = 0; i < 8; ++i)
        writeFile(root + QStringLiteral("dumps/crash_%1.dmp").arg(i),
                  binaryDump(total / 100, 100 + quint64(i)));
    writeFile(root + QStringLiteral("Größe-Übersicht.log"), QByteArray());
    writeFile(root + QStringLiteral("журнал ошибок.log"), QByteArray("started\n"));
    writeFile(root + QStringLiteral(".hidden/state.log"), QByteArray("hidden\n"));
    QDir().mkpath(root + QStringLiteral("empty folder"));
    CRandom random(7);
    qint64 small = total - total * 66 / 100 - 8 * (total / 100);
    for (int i = 0; small > 0; ++i) {
        const qint64 size = std::min<qint64>(small, 8 * 1024 + random.below(248 * 1024));
        const QString name = QStringLiteral("backup/2026-%1/Tag %2/thread-%3%4.log")
                                 .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                                 .arg(1 + (i / 12) % 28, 2, 10, QLatin1Char('0'))
                                 .arg(i)
                                 .arg(i % 7 == 0 ? QStringLiteral("-Wörter") : QString());
        writeLog(root + name, size, 1000 + quint64(i));
        small -= size;
    }
    return markMade(dir);
}

CorpusStats makeSmallFilesTree(const QString& dir, int fileCount)
{
    if (isMade(dir))
        return measureTree(dir);
    removePath(dir);
    CRandom random(11);
    CLogText text(12);
    QByteArray content;
    for (int i = 0; i < fileCount; ++i) {
        text.fill(content, 1024 + random.below(6 * 1024));
        writeFile(dir + QStringLiteral("/space%1/folder%2/log-%3.txt")
                            .arg(i % 10)
                            .arg((i / 10) % 20)
                            .arg(i),
                  content);
    }
    return markMade(dir);
}

CorpusStats makeBigFileTree(const QString& dir, int sizeMiB)
{
    if (isMade(dir))
        return measureTree(dir);
    removePath(dir);
    writeLog(dir + QStringLiteral("/Syncarium.log"), qint64(sizeMiB) * 1024 * 1024, 21);
    return markMade(dir);
}

ChildResult runChild(const QString& program, const QStringList& arguments,
                     const QString& workingDir)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    const QByteArray cwd = QFile::encodeName(workingDir);

    ChildResult result;
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, STDOUT_FILENO) < 0)
            _exit(126);
        if (!cwd.isEmpty() && chdir(cwd.constData()) != 0)
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    const auto toSeconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    result.cpuSeconds = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
    return result;
}

QString selfPath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

QString commandLine(int argc, char** argv)
{
    QStringList parts;
    for (int i = 0; i < argc; ++i)
        parts.append(QString::fromLocal8Bit(argv[i]));
    return parts.join(QLatin1Char(' '));
}

QString mib(double bytes)
{
    return QString::number(bytes / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MiB");
}

void removePath(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        QDir(path).removeRecursively();
    else if (info.exists() || info.isSymLink())
        QFile::remove(path);
}

void keepHeapTop()
{
    // Setting either threshold turns off glibc's own adjustment of both, so the mmap
    // threshold is raised too: the 4 MiB chunk buffers then come from the heap and are
    // reused instead of being mapped and faulted in for every chunk.
    mallopt(M_MMAP_THRESHOLD, 8 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
}

void addOptions(QCommandLineParser& parser, const Options& defaults, const QString& corpusHelp)
{
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("corpus"), corpusHelp, QStringLiteral("name"), defaults.corpus},
        {QStringLiteral("size"), QStringLiteral("Size of the log corpus or the big file, MiB."),
         QStringLiteral("MiB"), QString::number(defaults.size)},
        {QStringLiteral("files"), QStringLiteral("Files of the small-files tree."),
         QStringLiteral("N"), QString::number(defaults.files)},
        {QStringLiteral("runs"), QStringLiteral("Runs per tool."), QStringLiteral("N"),
         QString::number(defaults.runs)},
        {QStringLiteral("work"), QStringLiteral("Folder that holds the corpora."),
         QStringLiteral("dir"), defaults.work},
    });
}

Options options(const QCommandLineParser& parser)
{
    Options result;
    result.corpus = parser.value(QStringLiteral("corpus"));
    result.size = parser.value(QStringLiteral("size")).toInt();
    result.files = parser.value(QStringLiteral("files")).toInt();
    result.runs = parser.value(QStringLiteral("runs")).toInt();
    result.work = parser.value(QStringLiteral("work"));
    return result;
}

int zipQuietly(const QString& source, const QString& target, int workers, const QString& times)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    CZipper zipper;
    zipper.setWorkerCount(workers);
    QElapsedTimer wall;
    std::clock_t checkCpu = 0;
    qint64 checkStart = -1;
    QObject::connect(&zipper, &CZipper::verifyStarted, [&] {
        checkStart = wall.nsecsElapsed();
        checkCpu = std::clock();
    });
    wall.start();
    const bool zipped = zipper.zip(source, target, false);
    if (times.isEmpty())
        return zipped ? 0 : 1;
    const double checkSeconds = checkStart < 0 ? 0 : double(wall.nsecsElapsed() - checkStart) / 1e9;
    const double checkCpuSeconds =
        checkStart < 0 ? 0 : double(std::clock() - checkCpu) / CLOCKS_PER_SEC;
    QFile file(times);
    const QByteArray line =
        QByteArray::number(checkSeconds) + ' ' + QByteArray::number(checkCpuSeconds) + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(line) != line.size() || !file.flush())
        return 1;
    return zipped ? 0 : 1;
}

QPair<double, double> checkTimes(const QString& times)
{
    QFile file(times);
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0};
    const QList<QByteArray> fields = file.readAll().trimmed().split(' ');
    return fields.size() == 2 ? qMakePair(fields.at(0).toDouble(), fields.at(1).toDouble())
                              : qMakePair(0.0, 0.0);
}

} // namespace bench
