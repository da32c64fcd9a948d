// The input is a log text: a first byte of options (file mode, short tags, level of the
// records, whether they pass through Qt's handler) and then records, one a line. CLog writes them
// split by thread; every per-thread file must be a plain name directly inside the log folder,
// and nothing may be written outside that folder.

#include "FuzzSupport.h"

#include "diagnostics/CLog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

const QString fileName = QStringLiteral("log.txt");
const int maxRecords = 64;

// root/sentinel beside the log folder root/logs/.
struct TSandbox
{
    TSandbox()
    {
        if (!root.isValid())
            FuzzSupport::finding(QStringLiteral("no temporary folder"));
        logs = root.path() + QStringLiteral("/logs/");
        QFile sentinel(root.path() + QStringLiteral("/sentinel"));
        if (!QDir().mkpath(logs) || !sentinel.open(QIODevice::WriteOnly) ||
            sentinel.write("sentinel") != 8)
            FuzzSupport::finding(QStringLiteral("could not prepare ") + root.path());
    }

    QTemporaryDir root;
    QString logs;
};

TSandbox& sandbox()
{
    static TSandbox instance;
    return instance;
}

// A thread file is named <description>_log.txt, behind a time stamp "yyyyMMddhhmmsszzz_" when
// each run gets new files.
void checkThreadFile(const TSandbox& box, const QString& name, quint32 mode)
{
    QString description = name;
    if (!description.endsWith(QLatin1Char('_') + fileName))
        FuzzSupport::finding(QStringLiteral("thread file without the log name: ") + name);
    description.chop(fileName.size() + 1);
    if (mode == NewFilePerRun) {
        if (description.size() < 18 || description.at(17) != QLatin1Char('_'))
            FuzzSupport::finding(QStringLiteral("thread file without a time stamp: ") + name);
        description.remove(0, 18);
    }
    if (description.contains(QLatin1Char('/')) || description.contains(QLatin1Char('\0')))
        FuzzSupport::finding(QStringLiteral("a thread description leaves its name: ") + name);
    const QFileInfo info(box.logs + name);
    if (!info.isFile() || info.isSymLink() || info.absolutePath() != QDir(box.logs).absolutePath())
        FuzzSupport::finding(QStringLiteral("thread file not inside the log folder: ") + name);
}

QtMsgType typeOf(std::uint8_t options)
{
    switch ((options >> 2) & 3) {
    case 0:
        return QtDebugMsg;
    case 1:
        return QtWarningMsg;
    case 2:
        return QtCriticalMsg;
    default:
        return QtInfoMsg;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::silenceMessages();
    sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const TSandbox& box = sandbox();
    const std::uint8_t options = data[0];
    const quint32 mode = options % 4 == 3 ? NewFilePerRun : options % 4;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));
    const QStringList before = FuzzSupport::listTree(box.root.path(), box.logs.chopped(1));

    QStringList names;
    {
        CLog log(fileName);
        if (!log.setupLog(box.logs, LogDebug, TargetFile, mode, true))
            FuzzSupport::finding(QStringLiteral("could not open the main log file"));
        log.setShortTags(options & 0x10);
        const QStringList records = text.split(QLatin1Char('\n'));
        for (int i = 0; i < records.size() && i < maxRecords; ++i) {
            if (options & 0x20)
                qWarning().noquote() << records.at(i);
            else
                log.handleMessage(typeOf(options), records.at(i));
        }
        names = log.threadFileNames();
        for (const QString& name : std::as_const(names))
            checkThreadFile(box, name, mode);
    }
    FuzzSupport::silenceMessages();

    const QStringList after = FuzzSupport::listTree(box.root.path(), box.logs.chopped(1));
    if (after != before)
        FuzzSupport::finding(QStringLiteral("written outside the log folder:\n") +
                             FuzzSupport::difference(before, after));
    const QStringList written = QDir(box.logs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                         QDir::Hidden | QDir::System);
    if (written.size() != names.size() + 1)
        FuzzSupport::finding(QStringLiteral("the log folder holds other files than the log's:\n") +
                             written.join(QLatin1Char('\n')));
    for (const QString& name : written) {
        if (!QFile::remove(box.logs + name))
            FuzzSupport::finding(QStringLiteral("could not remove ") + box.logs + name);
    }
    return 0;
}
