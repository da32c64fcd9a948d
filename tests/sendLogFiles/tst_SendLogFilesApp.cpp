#include "sendLogFiles/SendLogFilesApp.h"

#include "common/CTestChild.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTest>

#include <algorithm>
#include <cmath>

class tst_SendLogFilesApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void afterConstruction();
    void progressReport_data();
    void progressReport();
    void skippedReportIsPaintedWhenTheNextIsLate();
    void longFileNamedByItsFirstBytes();
    void readableUnderADarkTheme();
    void checkingShownInTheStatusBar();
    void largeFontAtTwiceTheDensity();
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

double luminance(const QColor& color)
{
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

// The contrast ratio of the web's accessibility guidelines: 1 for equal colours, 21 for black
// on white.
double contrast(const QColor& one, const QColor& other)
{
    const double a = luminance(one);
    const double b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
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
    // Shown before anything long starts, the window is painted at once rather than at the
    // first progress report.
    CPaintedTexts painted;
    text(window)->installEventFilter(&painted);
    QVERIFY(window.showPainted(5000));
    QVERIFY(window.isVisible());
    QVERIFY(!painted.texts.isEmpty());
    QCOMPARE(painted.texts.constFirst(), "Compress...");
}

void tst_SendLogFilesApp::progressReport_data()
{
    QTest::addColumn<quint32>("total");
    QTest::addColumn<quint32>("actual");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("first entry") << 12u << 1u << "logs_backup";
    QTest::newRow("placeholders and umlauts in the name") << 3u << 2u << "100%2 done %1 Größe.log";
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
    QElapsedTimer reporting;
    reporting.start();
    for (quint32 entry = 1; entry <= 800; ++entry) {
        window.onCompressLogs(801, entry, 2048, QString("small-%1.log").arg(entry));
        // Within one frame only the first report is laid out.
        if (entry == 50 && !reporting.hasExpired(30))
            QCOMPARE(text(window)->text(), "Kompremiere: small-1.log");
    }
    // The packing of the long file runs elsewhere; here only the events go on.
    QTRY_VERIFY_WITH_TIMEOUT(!painted.texts.isEmpty() &&
                                 painted.texts.constLast() == "Kompremiere: small-800.log",
                             5000);
    QCOMPARE(bar(window)->value(), 800);
}

// The first bytes of a long file name it at once, even within the frame of the file before:
// the bar moves for the long file, and its name must be the one shown.
void tst_SendLogFilesApp::longFileNamedByItsFirstBytes()
{
    SendLogFilesApp window;
    window.onCompressLogs(3, 1, 2048, "small.log");
    window.onEntryProgress(3, 2, 0, 48 << 20, "big.log");
    QCOMPARE(text(window)->text(), "Kompremiere: small.log");
    window.onEntryProgress(3, 2, 4 << 20, 48 << 20, "big.log");
    QCOMPARE(text(window)->text(), "Kompremiere: big.log");
    QCOMPARE(bar(window)->value(), 1000 + 1000 / 12);
}

// A dark desktop theme gives light text; on the window's white it must still read.
void tst_SendLogFilesApp::readableUnderADarkTheme()
{
    const QPalette previous = QApplication::palette();
    const auto restore = qScopeGuard([&previous] { QApplication::setPalette(previous); });
    QPalette dark;
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        dark.setColor(group, QPalette::Window, QColor(0x20, 0x20, 0x20));
        dark.setColor(group, QPalette::Base, QColor(0x20, 0x20, 0x20));
        dark.setColor(group, QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
        dark.setColor(group, QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
    }
    QApplication::setPalette(dark);
    SendLogFilesApp window(nullptr, Qt::Tool | Qt::Popup);
    QStatusBar* status = window.findChild<QStatusBar*>("statusBar");
    for (const QWidget* widget :
         {static_cast<const QWidget*>(text(window)), static_cast<const QWidget*>(status)}) {
        for (const QPalette::ColorGroup group :
             {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QPalette& palette = widget->palette();
            const QColor foreground = palette.color(group, widget->foregroundRole());
            const QColor background = palette.color(group, widget->backgroundRole());
            QVERIFY2(contrast(foreground, background) >= 7,
                     qPrintable(QString("%1, group %2: %3 on %4")
                                    .arg(widget->objectName())
                                    .arg(int(group))
                                    .arg(foreground.name(), background.name())));
        }
    }
}

void tst_SendLogFilesApp::checkingShownInTheStatusBar()
{
    SendLogFilesApp window;
    window.onCompressLogs(2, 2, 10, "last.log");
    const QLabel* masked = window.findChild<QLabel*>("lblMasked");
    QVERIFY(masked && masked->isHidden());
    window.onCredentialsMasked(1);
    QCOMPARE(masked->text(), "1 credential masked");
    window.onCredentialsMasked(2);
    window.onVerifyStarted();
    QCOMPARE(window.findChild<QStatusBar*>("statusBar")->currentMessage(),
             "Checking the archive...");
    // The count of masked credentials stays in view beside it.
    QCOMPARE(masked->text(), "2 credentials masked");
    QVERIFY(!masked->isHidden());
    // The entry last packed stays in view while the archive is checked.
    QCOMPARE(text(window)->text(), "Kompremiere: last.log");
}

// At twice the density and a large font, the icon is its own image drawn for it, and the window
// grows as far as the label needs to show its lines whole; a long name loses its middle, and
// the tool tip keeps it.
void tst_SendLogFilesApp::largeFontAtTwiceTheDensity()
{
    if (!CTestChild::isChild()) {
        qputenv("QT_SCALE_FACTOR", "2");
        const auto restore = qScopeGuard([] { qunsetenv("QT_SCALE_FACTOR"); });
        QVERIFY(CTestChild::run("largeFontAtTwiceTheDensity"));
        return;
    }
    QFont large = QApplication::font();
    large.setPointSize(18);
    QApplication::setFont(large);
    SendLogFilesApp window;
    const QPixmap icon = window.findChild<QLabel*>("lblCopyFiles")->pixmap();
    QCOMPARE(icon.devicePixelRatio(), 2);
    QCOMPARE(icon.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
             QImage(":/images/icons/images/zip@2x.png")
                 .convertToFormat(QImage::Format_ARGB32_Premultiplied));
    const QString name = "Syncarium_" + QString(300, 'x') + "_2026-12-05.log";
    window.onCompressLogs(2, 1, 0, name);
    const QLabel* label = text(window);
    QCOMPARE(label->toolTip(), name);
    QVERIFY(
        label->text().contains(QRegularExpression("^Kompremiere: Syncarium_x+\u2026.*\\.log$")));
    QVERIFY(label->heightForWidth(label->width()) <= label->height());
    QVERIFY(window.centralWidget()->rect().contains(label->geometry()) && window.height() > 130);
}

QTEST_MAIN(tst_SendLogFilesApp)
#include "tst_SendLogFilesApp.moc"
