#include "sendLogFiles/SendLogFilesApp.h"

#include <QLabel>
#include <QProgressBar>
#include <QTest>

class tst_SendLogFilesApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void afterConstruction();
    void progressReport_data();
    void progressReport();
    void skippedReportIsPaintedWhenTheNextIsLate();
};

// Keeps the text a label showed at each of its paints.
class CPaintedTexts : public QObject
{
public:
    QStringList texts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            texts.append(static_cast<QLabel*>(watched)->text());
        return false;
    }
};

namespace {
QLabel* text(const SendLogFilesApp& window)
{
    return window.findChild<QLabel*>("lblTextCopyFiles");
}

QProgressBar* bar(const SendLogFilesApp& window)
{
    return window.findChild<QProgressBar*>("prgrBarCopyDialag");
}
} // namespace

void tst_SendLogFilesApp::afterConstruction()
{
    SendLogFilesApp window(nullptr, Qt::Tool | Qt::Popup);
    QCOMPARE(window.windowTitle(), "Preparing Logfiles");
    QVERIFY(!window.isVisible());
    QCOMPARE(window.size(), QSize(447, 130));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(text(window)->text(), "Compress...");
    QLabel* icon = window.findChild<QLabel*>("lblCopyFiles");
    QVERIFY(icon && !icon->pixmap().isNull());
    QCOMPARE(bar(window)->maximum(), 100);
    QCOMPARE(bar(window)->value(), 24);
    QVERIFY(!bar(window)->isTextVisible());
}

void tst_SendLogFilesApp::progressReport_data()
{
    QTest::addColumn<quint32>("total");
    QTest::addColumn<quint32>("actual");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("first entry") << 12u << 1u << "logs_backup";
    QTest::newRow("placeholders in the name") << 3u << 2u << "100%2 done %1.log";
    QTest::newRow("umlauts") << 5u << 3u << "Übersicht-größe.log";
    QTest::newRow("nothing in total: busy bar") << 0u << 0u << "x";
}

void tst_SendLogFilesApp::progressReport()
{
    QFETCH(quint32, total);
    QFETCH(quint32, actual);
    QFETCH(QString, fileName);
    SendLogFilesApp window;
    bool delivered = false;
    QMetaObject::invokeMethod(
        &window, [&delivered] { delivered = true; }, Qt::QueuedConnection);
    window.onCompressLogs(total, actual, 4096, fileName);
    QVERIFY(window.isVisible());
    QCOMPARE(text(window)->text(), "Kompremiere: " + fileName);
    QCOMPARE(bar(window)->maximum(), int(total));
    QCOMPARE(bar(window)->value(), int(actual));
    QCOMPARE(window.size(), QSize(447, 130));
    // No event loop runs: only the report itself can deliver the queued call.
    QVERIFY(delivered);
}

// Many small entries, then a long file: the report before the long file was skipped for the
// frame rate and must be painted while the long file is packed, not after it.
void tst_SendLogFilesApp::skippedReportIsPaintedWhenTheNextIsLate()
{
    SendLogFilesApp window;
    CPaintedTexts painted;
    text(window)->installEventFilter(&painted);
    for (quint32 entry = 1; entry <= 800; ++entry)
        window.onCompressLogs(801, entry, 2048, QString("small-%1.log").arg(entry));
    // The packing of the long file runs elsewhere; here only the events go on.
    QTRY_VERIFY_WITH_TIMEOUT(!painted.texts.isEmpty() &&
                                 painted.texts.constLast() == "Kompremiere: small-800.log",
                             5000);
    QCOMPARE(bar(window)->value(), 800);
}

QTEST_MAIN(tst_SendLogFilesApp)
#include "tst_SendLogFilesApp.moc"
