#include "diagnostics/CLog.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QReadWriteLock>
#include <QRegularExpression>

#include <atomic>
#include <utility>
#include <cstdio>

namespace {

std::atomic<CLog*> activeLog{nullptr};

// Held for reading while a record is handed to the active log, for writing while the active
// log is installed or removed: once removed, no thread is still inside the old one. Never
// destroyed, so that a CLog that outlives the static destructors can still stop.
QReadWriteLock& handlerLock()
{
    static QReadWriteLock* const lock = new QReadWriteLock;
    return *lock;
}

const char* const timeFormat = "dd.MM.yy hh:mm:ss:zzz";
const char* const fileTimeFormat = "yyyyMMddhhmmsszzz'_'";

struct Tags
{
    const char* longTag;
    const char* shortTag;
};

// Qt 6's info messages have no level of their own here; they count as debug messages.
bool isDebugType(QtMsgType type)
{
    return type == QtDebugMsg || type == QtInfoMsg;
}

Tags tagsFor(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg:
        return {" [Warning]  ", " [W] "};
    case QtCriticalMsg:
        return {" [Critical] ", " [C] "};
    case QtFatalMsg:
        return {" [Fatal]    ", " [F] "};
    default:
        return {" [Debug]    ", " [D] "};
    }
}

QString now()
{
    return QDateTime::currentDateTime().toString(QLatin1String(timeFormat));
}

QByteArray line(const QString& time, const char* tag, const QString& text)
{
    return time.toUtf8() + tag + text.toUtf8() + '\n';
}

void writeConsole(FILE* stream, const QString& time, const char* tag, const QString& text)
{
    std::fputs(line(time, tag, text).constData(), stream);
    std::fflush(stream);
}

// Capture 1: the record's thread bracket, 2: the thread number, 3: the description up to "::".
const QRegularExpression& threadBracket()
{
    static const QRegularExpression expression(
        QStringLiteral(R"((\[\s*(\-\d+|\d+)\s*\:\s*(?:(\w*)(?:\:\:\w*){0,1})\s\]))"));
    return expression;
}

} // namespace

CLog::CLog(const QString& fileName, QObject* parent)
    : QObject(parent), m_level(LogWarning), m_target(TargetConsole), m_fileMode(NewFilePerRun),
      m_fileName(fileName), m_currentFileName(fileName), m_splitByThread(false), shortTags(false)
{}

CLog::~CLog()
{
    stop();
}

bool CLog::setupLog(const QString& directory, quint32 level, quint32 target, quint32 fileMode,
                    bool splitByThread)
{
    {
        const QMutexLocker locker(&mutex);
        this->directory = directory;
        m_level = level;
        m_target = target;
        m_fileMode = fileMode;
        m_splitByThread = splitByThread;
        if ((target == TargetFile || target == TargetFileAndConsole) && !openMainFile())
            return false;
    }
    // Outside the writer's mutex: a record being handled holds the handler lock and waits for
    // that mutex.
    install();
    return true;
}

void CLog::configure(quint32 level, quint32 target, quint32 fileMode, bool splitByThread)
{
    const QMutexLocker locker(&mutex);
    m_level = level;
    m_target = target;
    m_fileMode = fileMode;
    m_splitByThread = splitByThread;
    if (target == TargetFile || target == TargetFileAndConsole)
        openMainFile();
}

quint32 CLog::setLevel(quint32 level)
{
    const QMutexLocker locker(&mutex);
    return std::exchange(m_level, level);
}

quint32 CLog::setTarget(quint32 target)
{
    const QMutexLocker locker(&mutex);
    return std::exchange(m_target, target);
}

quint32 CLog::setFileMode(quint32 fileMode)
{
    const QMutexLocker locker(&mutex);
    return std::exchange(m_fileMode, fileMode);
}

bool CLog::setSplitByThread(bool splitByThread)
{
    const QMutexLocker locker(&mutex);
    return std::exchange(m_splitByThread, splitByThread);
}

bool CLog::setShortTags(bool shortTags)
{
    const QMutexLocker locker(&mutex);
    return std::exchange(this->shortTags, shortTags);
}

quint32 CLog::level() const
{
    const QMutexLocker locker(&mutex);
    return m_level;
}

quint32 CLog::target() const
{
    const QMutexLocker locker(&mutex);
    return m_target;
}

quint32 CLog::fileMode() const
{
    const QMutexLocker locker(&mutex);
    return m_fileMode;
}

bool CLog::splitByThread() const
{
    const QMutexLocker locker(&mutex);
    return m_splitByThread;
}

QString CLog::fileName() const
{
    const QMutexLocker locker(&mutex);
    return m_fileName;
}

QString CLog::currentFileName() const
{
    const QMutexLocker locker(&mutex);
    return m_currentFileName;
}

QStringList CLog::threadFileNames() const
{
    const QMutexLocker locker(&mutex);
    return m_threadFileNames;
}

bool CLog::isEnabled(QtMsgType type) const
{
    const QMutexLocker locker(&mutex);
    return isEnabledLocked(type);
}

bool CLog::isEnabledLocked(QtMsgType type) const
{
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
        return m_level >= LogDebug;
    case QtWarningMsg:
        return m_level >= LogWarning;
    case QtCriticalMsg:
        return m_level >= LogCritical;
    case QtFatalMsg:
        return m_level >= LogFatal;
    }
    return false;
}

void CLog::handleMessage(QtMsgType type, const QString& text)
{
    const QMutexLocker locker(&mutex);
    if (isEnabledLocked(type))
        writeRecord(type, text);
}

void CLog::start()
{
    install();
}

void CLog::stop()
{
    // Before the writer's mutex, for the same reason as in setupLog.
    {
        const QWriteLocker handlerLocker(&handlerLock());
        qInstallMessageHandler(nullptr);
        CLog* self = this;
        activeLog.compare_exchange_strong(self, nullptr);
    }
    const QMutexLocker locker(&mutex);
    if (file.isOpen()) {
        writeBlock(file, "Stop logging: ");
        file.close();
    }
    for (auto& entry : threadFiles) {
        if (entry.second->isOpen()) {
            writeBlock(*entry.second, "Stop logging: ");
            entry.second->close();
        }
    }
    threadFiles.clear();
    m_threadFileNames.clear();
}

void CLog::changeLogLevel(quint32 level)
{
    const QMutexLocker locker(&mutex);
    if (level >= 5 || level == m_level)
        return;
    m_level = level;
    Q_EMIT logLevelChanged(level);
}

void CLog::messageHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    // Qt hands a record logged from inside this handler to its default output, so the lock is
    // never taken twice by one thread.
    const QReadLocker handlerLocker(&handlerLock());
    if (CLog* log = activeLog.load())
        log->handleMessage(type, text);
}

void CLog::install()
{
    const QWriteLocker handlerLocker(&handlerLock());
    qInstallMessageHandler(nullptr);
    activeLog.store(this);
    qInstallMessageHandler(&CLog::messageHandler);
}

void CLog::writeRecord(QtMsgType type, const QString& text)
{
    const QString message = text;
    if (isDebugType(type))
        Q_EMIT newLogMessage(message);
    const QString time = now();
    const Tags tags = tagsFor(type);
    FILE* consoleStream = isDebugType(type) ? stdout : stderr;
    switch (m_target) {
    case TargetOutput:
        writeConsole(stdout, time, tags.longTag, message);
        break;
    case TargetErrorOutput:
        writeConsole(stderr, time, tags.longTag, message);
        break;
    case TargetConsole:
        writeConsole(consoleStream, time, tags.longTag, message);
        break;
    case TargetFile:
        writeToFile(tags.longTag, tags.shortTag, message);
        break;
    case TargetFileAndConsole:
        writeToFile(tags.longTag, tags.shortTag, message);
        writeConsole(consoleStream, time, tags.longTag, message);
        break;
    default:
        break;
    }
}

void CLog::writeToFile(const char* longTag, const char* shortTag, const QString& text)
{
    QFile* destination = &file;
    QString message = text;
    if (m_splitByThread) {
        const QRegularExpressionMatch match = threadBracket().match(text);
        if (match.hasMatch()) {
            const QString description = match.captured(3);
            const auto key = static_cast<qint32>(qHash(description));
            const auto found = threadFiles.find(key);
            destination =
                found != threadFiles.end() ? found->second.get() : openThreadFile(description, key);
            if (!destination)
                return;
            if (shortTags)
                message.replace(match.captured(1), QStringLiteral("[%1]").arg(match.captured(2)));
        }
    }
    if (!destination->isOpen())
        return;
    destination->write(line(now(), shortTags ? shortTag : longTag, message));
    destination->flush();
}

QString CLog::freeTimedName(const QString& name) const
{
    // Two opens within the same millisecond would collide; the clock moves on meanwhile.
    QString timedName;
    do {
        timedName = QDateTime::currentDateTime().toString(QLatin1String(fileTimeFormat)) + name;
    } while (QFile::exists(directory + timedName));
    return timedName;
}

bool CLog::openMainFile()
{
    if (file.isOpen())
        file.close();
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Text;
    QString name = m_fileName;
    switch (m_fileMode) {
    case NewFilePerRun:
        name = freeTimedName(m_fileName);
        mode |= QIODevice::Append;
        break;
    case AppendToFile:
        mode |= QIODevice::Append;
        break;
    case OverwriteFile:
        mode |= QIODevice::Truncate;
        break;
    default:
        return false;
    }
    file.setFileName(directory + name);
    if (!file.open(mode))
        return false;
    if (m_fileMode == NewFilePerRun)
        m_currentFileName = name;
    writeBlock(file, "Start logging: ");
    return true;
}

QFile* CLog::openThreadFile(const QString& description, qint32 key)
{
    const QString name = description + QLatin1Char('_') + m_fileName;
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Text;
    QString fileName;
    switch (m_fileMode) {
    case NewFilePerRun:
        fileName = freeTimedName(name);
        mode |= QIODevice::Append;
        break;
    case AppendToFile:
        fileName = name;
        mode |= QIODevice::Append;
        break;
    case OverwriteFile:
        fileName = name;
        mode |= QIODevice::Truncate;
        break;
    default:
        return nullptr;
    }
    auto threadFile = std::make_unique<QFile>(directory + fileName);
    if (!threadFile->open(mode))
        return nullptr;
    writeBlock(*threadFile, "Start logging: ");
    m_threadFileNames.append(fileName);
    return threadFiles.emplace(key, std::move(threadFile)).first->second.get();
}

void CLog::writeBlock(QFile& file, const char* title)
{
    const QByteArray separator(80, '-');
    file.write(separator + '\n' + title + now().toUtf8() + '\n' + separator + '\n');
    file.flush();
}
