#include "common/CExpect.h"

#include "diagnostics/CException.h"

#include <QRegularExpression>
#include <QTest>

void CExpect::recordMatchingFile(QtMsgType type, const QString& filePattern,
                                 const QString& function, const QString& pattern)
{
    QTest::ignoreMessage(type, QRegularExpression(QStringLiteral("^\\[ [^]]* \\] \\[ ") +
                                                      filePattern + QStringLiteral(" : \\d+ : ") +
                                                      QRegularExpression::escape(function) +
                                                      QStringLiteral(" \\] ") + pattern + u'$',
                                                  QRegularExpression::DotMatchesEverythingOption));
}

QString CExpect::outcome(const std::function<bool()>& call)
{
    try {
        return call() ? QStringLiteral("true") : QStringLiteral("false");
    } catch (const CException& exception) {
        return QString::fromLatin1(exception.name()).section(QStringLiteral("::"), -1) +
               QStringLiteral(" | ") + exception.details();
    }
}

CRecordCounter::CRecordCounter(const QString& pattern, int type)
{
    CRecordCounter::pattern = QRegularExpression(pattern);
    CRecordCounter::type = type;
    counted = 0;
    previous = qInstallMessageHandler(handle);
}

CRecordCounter::~CRecordCounter()
{
    qInstallMessageHandler(previous);
}

void CRecordCounter::handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if ((CRecordCounter::type < 0 || type == CRecordCounter::type) &&
        pattern.match(text).hasMatch())
        ++counted;
    previous(type, context, text);
}
