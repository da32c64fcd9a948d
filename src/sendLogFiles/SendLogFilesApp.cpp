#include "sendLogFiles/SendLogFilesApp.h"

#include <QBrush>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QSpacerItem>
#include <QStatusBar>
#include <QWidget>

#include <climits>

namespace {
const int windowWidth = 447;
const int windowHeight = 130;
// Milliseconds between two paints of the progress: ten a second are as many as anyone reads,
// and each costs the text's layout and a repaint of the window.
const qint64 paintInterval = 100;
// Steps of the bar within one entry that reports its bytes.
const qint64 entrySteps = 1000;
// The font size the form's size was drawn for.
const int formPointSize = 9;

// The background is white whatever the desktop's theme, so the text is set black with it: a
// dark theme's light text would not read on it.
QPalette whitePalette()
{
    QPalette palette;
    QBrush white(QColor(255, 255, 255, 255));
    white.setStyle(Qt::SolidPattern);
    QBrush black(QColor(0, 0, 0, 255));
    black.setStyle(Qt::SolidPattern);
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setBrush(group, QPalette::Base, white);
        palette.setBrush(group, QPalette::Window, white);
        palette.setBrush(group, QPalette::WindowText, black);
        palette.setBrush(group, QPalette::Text, black);
    }
    return palette;
}
} // namespace

SendLogFilesApp::SendLogFilesApp(QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
{
    setupUi();
    latePaint.setSingleShot(true);
    connect(&latePaint, &QTimer::timeout, this, &SendLogFilesApp::showPending);
}

SendLogFilesApp::~SendLogFilesApp() = default;

bool SendLogFilesApp::showPainted(int timeout)
{
    ui.lblTextCopyFiles->installEventFilter(this);
    show();
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &firstPaint, &QEventLoop::quit);
    deadline.start(timeout);
    if (!painted)
        firstPaint.exec();
    ui.lblTextCopyFiles->removeEventFilter(this);
    return painted;
}

bool SendLogFilesApp::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui.lblTextCopyFiles && event->type() == QEvent::Paint) {
        painted = true;
        firstPaint.quit();
    }
    return QMainWindow::eventFilter(watched, event);
}

void SendLogFilesApp::onCompressLogs(quint32 total, quint32 actual, qint64 bytes, QString fileName)
{
    Q_UNUSED(bytes);
    report(total, actual, fileName);
}

void SendLogFilesApp::onEntryProgress(quint32 total, quint32 actual, qint64 done, qint64 size,
                                      QString fileName)
{
    // The bar counts entries; within a large one it moves by its bytes, so a long log does not
    // hold it still. The finer scale keeps the bar's range within an int.
    const qint64 steps = total == 0 ? 0 : qMin<qint64>(entrySteps, INT_MAX / total);
    const qint64 within = size > 0 ? qBound<qint64>(0, done, size) * steps / size : 0;
    // The bytes of a long log name it at once: the frame's end may be a report of a file before.
    report(total * steps, (qMax<qint64>(actual, 1) - 1) * steps + within, fileName,
           done > 0 && fileName != shownName);
}

void SendLogFilesApp::report(qint64 maximum, qint64 value, const QString& fileName, bool now)
{
    // Reports can come thousands of times a second; laying out each one would cost more than
    // the packing. A report inside a frame is only kept, and the frame's end shows the last
    // one kept: the next report may be a long file away.
    pending = {maximum, value, fileName};
    hasPending = true;
    if (!now && sincePaint.isValid() && !sincePaint.hasExpired(paintInterval)) {
        if (!latePaint.isActive())
            latePaint.start(int(qMax<qint64>(0, paintInterval - sincePaint.elapsed())));
        return;
    }
    showPending();
    // Where no event loop runs, this is the window's only chance to repaint and react to input.
    QCoreApplication::processEvents();
}

void SendLogFilesApp::showPending()
{
    if (!hasPending)
        return;
    hasPending = false;
    shownName = pending.fileName;
    sincePaint.start();
    latePaint.stop();
    setVisible(true);
    // The name has a line of its own at most: a long one loses its middle, which of a log's
    // name is the least telling part, and the tool tip keeps it whole.
    const QString shown = ui.lblTextCopyFiles->fontMetrics().elidedText(
        pending.fileName, Qt::ElideMiddle, ui.lblTextCopyFiles->contentsRect().width());
    // A single arg() replaces %1 only, so a "%2" in the file name is shown as it is.
    ui.lblTextCopyFiles->setText(tr("Kompremiere: %1").arg(shown, 0, QLatin1Char(' ')));
    ui.lblTextCopyFiles->setToolTip(shown == pending.fileName ? QString() : pending.fileName);
    ui.prgrBarCopyDialag->setMinimum(0);
    ui.prgrBarCopyDialag->setMaximum(static_cast<qint32>(pending.maximum));
    ui.prgrBarCopyDialag->setValue(static_cast<qint32>(pending.value));
}

void SendLogFilesApp::onVerifyStarted()
{
    // The last entry packed stays in view while the archive is checked.
    showPending();
    ui.statusBar->showMessage(tr("Checking the archive..."));
}

void SendLogFilesApp::onCredentialsMasked(qint64 total)
{
    ui.lblMasked->setText(total == 1 ? tr("1 credential masked")
                                     : tr("%1 credentials masked").arg(total));
    ui.lblMasked->show();
}

void SendLogFilesApp::setupUi()
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("SendLogFilesAppClass"));
    setPalette(whitePalette());
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/icons/images/logo/syncarium_icon.png"), QSize(),
                 QIcon::Normal, QIcon::Off);
    setWindowIcon(icon);
    setAutoFillBackground(true);
    setAnimated(false);

    ui.centralWidget = new QWidget(this);
    ui.centralWidget->setObjectName(QStringLiteral("centralWidget"));
    ui.gridLayout = new QGridLayout(ui.centralWidget);
    ui.gridLayout->setSpacing(6);
    ui.gridLayout->setContentsMargins(11, 11, 11, 11);
    ui.gridLayout->setObjectName(QStringLiteral("gridLayout"));

    ui.lblCopyFiles = new QLabel(ui.centralWidget);
    ui.lblCopyFiles->setObjectName(QStringLiteral("lblCopyFiles"));
    ui.lblCopyFiles->setMinimumSize(64, 64);
    ui.lblCopyFiles->setMaximumSize(64, 64);
    // The icon takes the image drawn for the screen's density (zip@2x.png beside zip.png)
    // rather than the small one scaled up.
    ui.lblCopyFiles->setPixmap(QIcon(QStringLiteral(":/images/icons/images/zip.png"))
                                   .pixmap(QSize(64, 64), devicePixelRatio()));
    ui.lblCopyFiles->setScaledContents(true);
    ui.gridLayout->addWidget(ui.lblCopyFiles, 0, 0, 1, 1);

    ui.horizontalSpacer = new QSpacerItem(16, 16, QSizePolicy::Fixed, QSizePolicy::Minimum);
    ui.gridLayout->addItem(ui.horizontalSpacer, 0, 1, 1, 1);

    ui.lblTextCopyFiles = new QLabel(ui.centralWidget);
    ui.lblTextCopyFiles->setObjectName(QStringLiteral("lblTextCopyFiles"));
    ui.lblTextCopyFiles->setPalette(whitePalette());
    ui.lblTextCopyFiles->setAutoFillBackground(true);
    ui.lblTextCopyFiles->setWordWrap(true);
    ui.gridLayout->addWidget(ui.lblTextCopyFiles, 0, 2, 1, 1);

    ui.prgrBarCopyDialag = new QProgressBar(ui.centralWidget);
    ui.prgrBarCopyDialag->setObjectName(QStringLiteral("prgrBarCopyDialag"));
    ui.prgrBarCopyDialag->setValue(24);
    ui.prgrBarCopyDialag->setTextVisible(false);
    ui.prgrBarCopyDialag->setOrientation(Qt::Horizontal);
    ui.prgrBarCopyDialag->setInvertedAppearance(false);
    ui.gridLayout->addWidget(ui.prgrBarCopyDialag, 1, 0, 1, 3);

    setCentralWidget(ui.centralWidget);
    ui.statusBar = new QStatusBar(this);
    ui.statusBar->setObjectName(QStringLiteral("statusBar"));
    setStatusBar(ui.statusBar);
    // A permanent widget, so that the status messages that follow leave the count in view.
    ui.lblMasked = new QLabel(ui.statusBar);
    ui.lblMasked->setObjectName(QStringLiteral("lblMasked"));
    ui.lblMasked->hide();
    ui.statusBar->addPermanentWidget(ui.lblMasked);

    retranslateUi();
    // The form's size holds at the font it was drawn for, at which the content is already a
    // little taller than the window; a larger font adds what its text and bars need more, so
    // that no line is cut. The user cannot resize the window either way.
    QFont drawnFor = font();
    drawnFor.setPointSize(formPointSize);
    setFont(drawnFor);
    const int formNeeds = neededHeight();
    setFont(QFont());
    const QSize size(qMax(windowWidth, minimumSizeHint().width()),
                     windowHeight + qMax(0, neededHeight() - formNeeds));
    resize(size);
    setMinimumSize(size);
    setMaximumSize(size);
    QMetaObject::connectSlotsByName(this);
}

int SendLogFilesApp::neededHeight()
{
    // Room for the text and the name on a line each.
    ui.lblTextCopyFiles->setMinimumHeight(2 * ui.lblTextCopyFiles->fontMetrics().lineSpacing());
    return minimumSizeHint().height();
}

void SendLogFilesApp::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("SendLogFilesAppClass", "Preparing Logfiles"));
    // The label shows the pixmap; an empty text leaves it in place.
    ui.lblCopyFiles->setText(QString());
    ui.lblTextCopyFiles->setText(
        QCoreApplication::translate("SendLogFilesAppClass", "Compress..."));
}
