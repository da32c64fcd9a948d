#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
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
// bar, and in the status bar what happens once the entries are packed. The collection runs on
// a thread of its own while the program's thread handles the window's events. The widgets
// belong to the window's widget tree.
class SendLogFilesApp : public QMainWindow
{
    Q_OBJECT

public:
    explicit SendLogFilesApp(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~SendLogFilesApp() override;

    // Shows the window and handles its events until it has been painted once, at most timeout
    // milliseconds: a window that is mapped but not painted looks hung. True once painted.
    bool showPainted(int timeout);

public Q_SLOTS:
    void onCompressLogs(quint32 total, quint32 actual, qint64 bytes, QString fileName);
    // Entry actual of total starts being packed, or done of its size bytes are packed.
    void onEntryProgress(quint32 total, quint32 actual, qint64 done, qint64 size, QString fileName);
    // The archive is written and is being checked.
    void onVerifyStarted();
    // total credentials masked so far: shown beside the status text for the rest of the run.
    void onCredentialsMasked(qint64 total);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

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
        QLabel* lblMasked = nullptr;
    };

    void setupUi();
    void retranslateUi();
    // The height the content needs at the window's font.
    int neededHeight();
    // Shows fileName and the bar at value of maximum at once when a frame is due or now is set,
    // else at the frame's end.
    void report(qint64 maximum, qint64 value, const QString& fileName, bool now = false);
    // Lays out the last report kept, if any.
    void showPending();

    struct Report
    {
        qint64 maximum = 0;
        qint64 value = 0;
        QString fileName;
    };

    Form ui;
    Report pending;
    bool hasPending = false;
    // The name the label shows.
    QString shownName;
    QElapsedTimer sincePaint;
    // Shows the report kept last once the frame interval is over.
    QTimer latePaint;
    // Runs while showPainted() waits for the first paint of the status text.
    QEventLoop firstPaint;
    bool painted = false;
};
