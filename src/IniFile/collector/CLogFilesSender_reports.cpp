#include "IniFile/collector/CLogFilesSender.h"

#include "IniFile/zip/CZipper.h"
#include "diagnostics/CAssert.h"
#include "threading/threads/CCallStack.h"

// The zipper's signals come on the packing thread and reach this object's in order.
void CLogFilesSender::relayReports(CZipper& zipper)
{
    SY_FUNCTION("CLogFilesSender::relayReports");
    using TKind = TReport::TKind;
    const auto finished = [this] { relay({TKind::Finished, 0, 0, 0, 0, QString()}); };
    bool connResult = connect(&zipper, &CZipper::error, this, finished, Qt::DirectConnection);
    SY_ASSERT(connResult);
    connResult = connect(&zipper, &CZipper::zipFinished, this, finished, Qt::DirectConnection);
    SY_ASSERT(connResult);
    connResult = connect(
        &zipper, &CZipper::zipProgress, this,
        [this](quint32 total, quint32 actual, qint64 bytes, const QString& fileName) {
            relay({TKind::Progress, total, actual, bytes, 0, fileName});
        },
        Qt::DirectConnection);
    SY_ASSERT(connResult);
    connResult = connect(
        &zipper, &CZipper::entryProgress, this,
        [this](quint32 total, quint32 actual, qint64 done, qint64 size, const QString& fileName) {
            relay({TKind::Entry, total, actual, done, size, fileName});
        },
        Qt::DirectConnection);
    SY_ASSERT(connResult);
    connResult = connect(
        &zipper, &CZipper::verifyStarted, this,
        [this] {
            relay({TKind::VerifyStarted, 0, 0, 0, 0, QString()});
        },
        Qt::DirectConnection);
    SY_ASSERT(connResult);
    connResult = connect(
        &zipper, &CZipper::credentialsMasked, this,
        [this](qint64 total) {
            relay({TKind::Masked, 0, 0, total, 0, QString()});
        },
        Qt::DirectConnection);
    SY_ASSERT(connResult);
}

void CLogFilesSender::relay(TReport report)
{
    const std::lock_guard<std::mutex> locker(m_reportsLock);
    m_reports.push_back(std::move(report));
}

void CLogFilesSender::deliverReports()
{
    {
        const std::lock_guard<std::mutex> locker(m_reportsLock);
        m_delivered.swap(m_reports);
    }
    for (const TReport& report : m_delivered) {
        switch (report.kind) {
        case TReport::TKind::Finished:
            Q_EMIT zipFinished();
            break;
        case TReport::TKind::Progress:
            Q_EMIT zipProgress(report.total, report.actual, report.first, report.fileName);
            break;
        case TReport::TKind::Entry:
            Q_EMIT entryProgress(report.total, report.actual, report.first, report.second,
                                 report.fileName);
            break;
        case TReport::TKind::VerifyStarted:
            Q_EMIT verifyStarted();
            break;
        case TReport::TKind::Masked:
            Q_EMIT credentialsMasked(report.first);
            break;
        }
    }
    m_delivered.clear();
}
