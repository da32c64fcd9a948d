#pragma once

#include "diagnostics/ILogProducer.h"

#include <QFile>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <unordered_map>

enum TLogLevel
{
    LogNone = 0,
    LogFatal = 1,
    LogCritical = 2,
    LogWarning = 3,
    LogDebug = 4
};

enum TLogTarget
{
    TargetOutput = 0,
    TargetErrorOutput = 1,
    TargetConsole = 2,
    TargetFile = 3,
    TargetFileAndConsole = 4
};

enum TLogFileMode
{
    NewFilePerRun = 0,
    AppendToFile = 1,
    OverwriteFile = 2
};

// The optional log writer: installed as the process-wide message handler, it sends every message
// that passes its level to the console and/or a log file, optionally one extra file per thread.
// The last CLog installed receives the messages of every thread; installing, replacing and
// removing it wait for records being handled, so a stopped or destroyed CLog is never reached
// again. It owns its files.
class CLog : public QObject, public ILogProducer
{
    Q_OBJECT

public:
    explicit CLog(const QString& fileName = QStringLiteral("log.txt"), QObject* parent = nullptr);
    ~CLog() override;

    // directory must end with "/". False, with nothing installed, when the log file the target
    // needs cannot be opened.
    [[nodiscard]] bool setupLog(const QString& directory, quint32 level, quint32 target,
                                quint32 fileMode, bool splitByThread);
    void configure(quint32 level, quint32 target, quint32 fileMode, bool splitByThread);

    // Each setter returns the value it replaced.
    quint32 setLevel(quint32 level);
    quint32 setTarget(quint32 target);
    quint32 setFileMode(quint32 fileMode);
    bool setSplitByThread(bool splitByThread);
    bool setShortTags(bool shortTags);

    quint32 level() const;
    quint32 target() const;
    quint32 fileMode() const;
    bool splitByThread() const;
    QString fileName() const;
    // Name, without folder, of the main log file last opened.
    QString currentFileName() const;
    QStringList threadFileNames() const;

    bool isEnabled(QtMsgType type) const;

    QObject* logProducerObject() override { return this; }

    virtual void handleMessage(QtMsgType type, const QString& text);

public Q_SLOTS:
    void start();
    void stop();
    void changeLogLevel(quint32 level);

Q_SIGNALS:
    void newLogMessage(QString msg);
    void logLevelChanged(quint32 level);

private:
    static void messageHandler(QtMsgType type, const QMessageLogContext& context,
                               const QString& text);
    void install();
    bool isEnabledLocked(QtMsgType type) const;
    void writeRecord(QtMsgType type, const QString& text);
    void writeToFile(const char* longTag, const char* shortTag, const QString& text);
    bool openMainFile();
    QFile* openThreadFile(const QString& description, qint32 key);
    QString freeTimedName(const QString& name) const;
    static void writeBlock(QFile& file, const char* title);

    quint32 m_level;
    quint32 m_target;
    quint32 m_fileMode;
    mutable QRecursiveMutex mutex;
    QString m_fileName;
    QString m_currentFileName;
    QStringList m_threadFileNames;
    QFile file;
    std::unordered_map<qint32, std::unique_ptr<QFile>> threadFiles;
    bool m_splitByThread;
    QString directory;
    bool shortTags;
};
