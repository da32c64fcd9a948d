#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QTimer>

class QGridLayout;
class QLabel;
class QProgressBar;
class QSpacerItem;
class QStatusBar;
class QWidget;

// The log sender's only window: a zip icon, the name of the entry being packed and a progress
// bar. The program runs no event loop, so the window repaints only while a progress report is
// being handled. The widgets belong to the window's widget tree.
class SendLogFilesApp : public QMainWindow
{
    Q_OBJECT

public:
    explicit SendLogFilesApp(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~SendLogFilesApp() override;

public Q_SLOTS:
    void onCompressLogs(quint32 total, quint32 actual, qint64 bytes, QString fileName);

private:
    struct Form
    {
        QWidget* centralWidget = nullptr;
        QGridLayout* gridLayout = nullptr;
        QLabel* lblCopyFiles = nullptr;
        QSpacerItem* horizontalSpacer = nullptr;
        QLabel* lblTextCopyFiles = nullptr;
        QProgressBar* prgrBarCopyDialag = nullptr;
        QStatusBar* statusBar = nullptr;
    };

    void setupUi();
    void retranslateUi();
    void paintNow();

    Form ui;
    QElapsedTimer sincePaint;
    // Paints a skipped report once the frame interval is over and no later report came.
    QTimer latePaint;
};
