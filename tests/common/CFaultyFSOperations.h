#pragma once

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "fsapi/linux/CLinuxFSOperations.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QString>

enum class Fault
{
    ReturnFalse,
    Throw
};

// Faults on request: a call keyed "operation path" ("moveFile src -> dest", "%R" the root)
// answers false or throws; a full disk fails every copy after its first chunk.
class CFaultyFSOperations : public CLinuxFSOperations
{
public:
    QString root;
    bool diskFull = false;
    // The process dies after the first chunk of a copy, as if killed.
    bool crashMidCopy = false;
    bool noUnnamedFiles = false;

    CFaultyFSOperations& failing(const QString& call, Fault fault = Fault::ReturnFalse)
    {
        faults.insert(QString(call).replace(QStringLiteral("%R"), root), fault);
        return *this;
    }
    bool deleteFile(const QString& path, bool force) override
    {
        return !inject("deleteFile " + path) && CLinuxFSOperations::deleteFile(path, force);
    }
    bool deleteDirectory(const QString& path, bool force) override
    {
        return !inject("deleteDirectory " + path) &&
               CLinuxFSOperations::deleteDirectory(path, force);
    }
    bool moveFile(const QString& src, const QString& dest, bool force, bool overwrite) override
    {
        return !inject("moveFile " + src + " -> " + dest) &&
               CLinuxFSOperations::moveFile(src, dest, force, overwrite);
    }
    bool setAttributes(const QString& path, quint32 attributes) override
    {
        return !inject("setAttributes " + path) &&
               CLinuxFSOperations::setAttributes(path, attributes);
    }
    bool setTimeStamps(const QString& path, const QDateTime& creation, const QDateTime& lastAccess,
                       const QDateTime& lastWrite, bool isDirectory) override
    {
        return !inject("setTimeStamps " + path) &&
               CLinuxFSOperations::setTimeStamps(path, creation, lastAccess, lastWrite,
                                                 isDirectory);
    }

protected:
    qint64 copyChunk(int from, int to, qint64 length) override;
    int openTemporary(const QByteArray& folder) override;

private:
    bool inject(const QString& call);

    QHash<QString, Fault> faults;
};

// What the file operations' test programs share: a folder of files for each case, below a
// test environment, and the records and errors the operations report.
class CFSOperationsTest : public CEnvironmentTest
{
    Q_OBJECT

public:
    // A record of a CLinuxFSOperations function, from whichever of the class's files holds it.
    static void expectRecord(QtMsgType type, const QString& function, const QString& pattern)
    {
        CExpect::recordMatchingFile(type, QStringLiteral("CLinuxFSOperations(_\\w+)?\\.cpp"),
                                    "CLinuxFSOperations::" + function, pattern);
    }
    // A critical record of the exchange of CFSOperations.
    static void expectExchangeRecord(const QString& pattern)
    {
        CExpect::recordMatching(QtCriticalMsg, QStringLiteral("CFSOperations.cpp"),
                                QStringLiteral("CFSOperations::internalSafeExchangeFile"), pattern);
    }
    // "<exceptionClass> | <the system's text> - system error code: <error>".
    static QString sys(int error, const char* exceptionClass = "FileSystemException");
    static QDateTime modified(const QString& path)
    {
        return QFileInfo(path).lastModified().toUTC();
    }
    static QDateTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int ms = 0)
    {
        return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), Qt::UTC);
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

protected:
    QString path(const QString& relative) const { return root + relative; }

    // The case's folder, ending with "/".
    QString root;
    CLinuxFSOperations ops;
};
