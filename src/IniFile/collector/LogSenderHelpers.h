#pragma once

#include "diagnostics/CException.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QString>
#include <QtGlobal>

// What the log sender names, measures and checks on its way: the partial archive's name and the
// note of where it is written, the folders the archive goes to and their room, and whether an
// entry can be staged.
namespace LogSenderHelpers {

QString partialName(const QString& archive);
const QRegularExpression& partialPattern();
QString partialNote(qint64 process);
// Where the partial archives of a run are written is noted in the runtime folder, under the
// run's process number and beside a lock it holds, so that a later run started anywhere can
// remove what a killed one left.
extern const QString partialNoteStem;
QString withSlash(const QString& folder);
QString fallbackFolder();
QString chooseOutputFolder();
QString escaped(const QString& path);
QString quoted(const QString& path);

// The free space of the file system that holds folder, and that file system's mount point.
struct TRoom
{
    QString folder;
    QString root;
    quint64 free = 0;
    bool known = false;
};

TRoom roomIn(const QString& folder);
QString dataSize(quint64 bytes);
QString roomText(const TRoom& room);

QString unstageable(const QFileInfo& entry);
bool holdsLogs(const QFileInfo& entry);
bool liesWithin(const QString& inner, const QString& outer);

// Runs one file operation; what it throws becomes the returned reason, empty on no throw.
template<typename Operation>
QString attempt(Operation operation, bool& result)
{
    result = false;
    try {
        result = operation();
        return QString();
    } catch (CException* exception) {
        const QString details = exception->details();
        delete exception;
        return details;
    } catch (const CException& exception) {
        return exception.details();
    } catch (...) {
        return QStringLiteral("unknown exception");
    }
}

} // namespace LogSenderHelpers
