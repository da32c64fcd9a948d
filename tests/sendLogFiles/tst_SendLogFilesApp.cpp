#include "sendLogFiles/SendLogFilesApp.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>

class tst_SendLogFilesApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formAfterConstruction();
    void layout();
    void whiteBackground();
    void progressReport_data();
    void progressReport();
    void zeroTotalShowsBusyBar();
    void reportProcessesPendingEvents();
    void burstOfReportsStillRepaints();
    void slotIsInvokableByName();
};

namespace {
QLabel* label(const SendLogFilesApp& window, const char* name)
{
    return window.findChild<QLabel*>(QLatin1String(name));
}

QProgressBar* bar(const SendLogFilesApp& window)
{
    return window.findChild<QProgressBar*>(QStringLiteral("prgrBarCopyDialag"));
}
} // namespace

void tst_SendLogFilesApp::formAfterConstruction()
{
    SendLogFilesApp window(nullptr, Qt::Tool | Qt::Popup);
    QCOMPARE(window.objectName(), QStringLiteral("SendLogFilesAppClass"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Preparing Logfiles"));
    QCOMPARE(int(window.windowFlags() & Qt::WindowType_Mask), 0x0B);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.size(), QSize(447, 130));
    QCOMPARE(window.minimumSize(), QSize(447, 130));
    QCOMPARE(window.maximumSize(), QSize(447, 130));
    QVERIFY(!window.isAnimated());
    QVERIFY(window.autoFillBackground());
    QVERIFY(!window.windowIcon().isNull());

    QLabel* text = label(window, "lblTextCopyFiles");
    QVERIFY(text);
    QCOMPARE(text->text(), QStringLiteral("Compress..."));
    QVERIFY(text->wordWrap());
    QVERIFY(text->autoFillBackground());

    QLabel* icon = label(window, "lblCopyFiles");
    QVERIFY(icon);
    QVERIFY(icon->text().isEmpty());
    QVERIFY(!icon->pixmap().isNull());
    QVERIFY(icon->hasScaledContents());
    QCOMPARE(icon->minimumSize(), QSize(64, 64));
    QCOMPARE(icon->maximumSize(), QSize(64, 64));

    QProgressBar* progress = bar(window);
    QVERIFY(progress);
    QCOMPARE(progress->minimum(), 0);
    QCOMPARE(progress->maximum(), 100);
    QCOMPARE(progress->value(), 24);
    QVERIFY(!progress->isTextVisible());
    QCOMPARE(progress->orientation(), Qt::Horizontal);
    QVERIFY(!progress->invertedAppearance());

    QStatusBar* status = window.findChild<QStatusBar*>(QStringLiteral("statusBar"));
    QVERIFY(status);
    QCOMPARE(window.statusBar(), status);
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralWidget"));
}

void tst_SendLogFilesApp::layout()
{
    SendLogFilesApp window;
    QGridLayout* grid = window.findChild<QGridLayout*>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(grid->parentWidget(), window.centralWidget());
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(grid->columnCount(), 3);
    QCOMPARE(grid->itemAtPosition(0, 0)->widget(), label(window, "lblCopyFiles"));
    QLayoutItem* spacer = grid->itemAtPosition(0, 1);
    QVERIFY(spacer && spacer->spacerItem());
    QCOMPARE(spacer->sizeHint(), QSize(16, 16));
    QCOMPARE(spacer->spacerItem()->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(grid->itemAtPosition(0, 2)->widget(), label(window, "lblTextCopyFiles"));
    int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(grid->indexOf(bar(window)), &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({1, 0, 1, 3}));
}

void tst_SendLogFilesApp::whiteBackground()
{
    SendLogFilesApp window;
    const QColor white(255, 255, 255, 255);
    for (const QPalette& palette :
         {window.palette(), label(window, "lblTextCopyFiles")->palette()}) {
        for (const QPalette::ColorGroup group :
             {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            QCOMPARE(palette.color(group, QPalette::Window), white);
            QCOMPARE(palette.color(group, QPalette::Base), white);
        }
    }
}

void tst_SendLogFilesApp::progressReport_data()
{
    QTest::addColumn<quint32>("total");
    QTest::addColumn<quint32>("actual");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("text");
    QTest::newRow("first entry") << 12u << 1u << QStringLiteral("logs_backup")
                                 << QStringLiteral("Kompremiere: logs_backup");
    QTest::newRow("last entry") << 12u << 12u << QStringLiteral("Syncarium2DataBase.err")
                                << QStringLiteral("Kompremiere: Syncarium2DataBase.err");
    QTest::newRow("placeholder in name") << 3u << 2u << QStringLiteral("100%2 done %1.log")
                                         << QStringLiteral("Kompremiere: 100%2 done %1.log");
    QTest::newRow("umlauts") << 5u << 3u << QStringLiteral("Übersicht-größe.log")
                             << QStringLiteral("Kompremiere: Übersicht-größe.log");
    QTest::newRow("empty name") << 1u << 1u << QString() << QStringLiteral("Kompremiere: ");
}

void tst_SendLogFilesApp::progressReport()
{
    QFETCH(quint32, total);
    QFETCH(quint32, actual);
    QFETCH(QString, fileName);
    QFETCH(QString, text);
    SendLogFilesApp window;
    window.onCompressLogs(total, actual, 4096, fileName);
    QVERIFY(window.isVisible());
    QCOMPARE(label(window, "lblTextCopyFiles")->text(), text);
    QCOMPARE(bar(window)->minimum(), 0);
    QCOMPARE(bar(window)->maximum(), int(total));
    QCOMPARE(bar(window)->value(), int(actual));
    QVERIFY(!label(window, "lblCopyFiles")->pixmap().isNull());
    QCOMPARE(window.size(), QSize(447, 130));
}

void tst_SendLogFilesApp::zeroTotalShowsBusyBar()
{
    SendLogFilesApp window;
    window.onCompressLogs(0, 0, 0, QStringLiteral("x"));
    QCOMPARE(bar(window)->minimum(), 0);
    QCOMPARE(bar(window)->maximum(), 0);
}

void tst_SendLogFilesApp::reportProcessesPendingEvents()
{
    SendLogFilesApp window;
    bool delivered = false;
    QMetaObject::invokeMethod(
        &window, [&delivered] { delivered = true; }, Qt::QueuedConnection);
    QVERIFY(!delivered);
    // No event loop runs here: only the report itself can deliver the queued call.
    window.onCompressLogs(1, 1, 0, QStringLiteral("a"));
    QVERIFY(delivered);
}

namespace {
// Counts the paint events a widget receives.
class CPaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
} // namespace

void tst_SendLogFilesApp::burstOfReportsStillRepaints()
{
    SendLogFilesApp window;
    QLabel* text = label(window, "lblTextCopyFiles");
    CPaintCounter counter;
    text->installEventFilter(&counter);
    window.onCompressLogs(1000, 1, 0, QStringLiteral("first.log"));
    QVERIFY(counter.paints > 0);
    for (quint32 actual = 2; actual < 1000; ++actual)
        window.onCompressLogs(1000, actual, 0, QStringLiteral("burst.log"));
    QCOMPARE(bar(window)->value(), 999);
    QCOMPARE(text->text(), QStringLiteral("Kompremiere: burst.log"));
    // Once a frame's time has passed, the next report is painted.
    QTest::qWait(100);
    const int before = counter.paints;
    window.onCompressLogs(1000, 1000, 0, QStringLiteral("last.log"));
    QVERIFY(counter.paints > before);
    QCOMPARE(text->text(), QStringLiteral("Kompremiere: last.log"));
}

void tst_SendLogFilesApp::slotIsInvokableByName()
{
    SendLogFilesApp window;
    QCOMPARE(QByteArray(window.metaObject()->className()), QByteArray("SendLogFilesApp"));
    QVERIFY(QMetaObject::invokeMethod(&window, "onCompressLogs", Qt::DirectConnection,
                                      Q_ARG(quint32, 7), Q_ARG(quint32, 6), Q_ARG(qint64, 0),
                                      Q_ARG(QString, QStringLiteral("z.log"))));
    QCOMPARE(bar(window)->value(), 6);
}

QTEST_MAIN(tst_SendLogFilesApp)
#include "tst_SendLogFilesApp.moc"
