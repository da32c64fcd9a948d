#include "system/CFileManager.h"

#include "common/CExpect.h"
#include "common/CPrivateSessionBus.h"
#include "common/CTestChild.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"

#include <QFile>
#include <QScopeGuard>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

void expectRecord(QtMsgType type, const QString& pattern)
{
    CExpect::recordMatching(type, QStringLiteral("CFileManagerLinux.cpp"),
                            QStringLiteral("CFileManagerLinux::showItem"), pattern);
}

} // namespace

// Every case runs against a session bus of the test's own: the real desktop is never asked.
class tst_CFileManagerLinux : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void showsTheFileSelected_data();
    void showsTheFileSelected();
    void withoutSessionBus();

private:
    std::unique_ptr<CTestEnvironment> environment;
    std::unique_ptr<CPrivateSessionBus> bus;
};

void tst_CFileManagerLinux::initTestCase()
{
    QVERIFY(CTestEnvironment::renew(environment));
    // Set before anything in this process connects, since Qt keeps one session connection.
    if (CTestChild::isChild()) {
        qputenv("DBUS_SESSION_BUS_ADDRESS",
                ("unix:path=" + environment->root() + "no-bus").toUtf8());
        return;
    }
    bus = std::make_unique<CPrivateSessionBus>();
    if (!bus->isValid())
        QSKIP(qPrintable(bus->why()));
}

void tst_CFileManagerLinux::cleanupTestCase()
{
    bus.reset();
    environment.reset();
}

void tst_CFileManagerLinux::showsTheFileSelected_data()
{
    QTest::addColumn<QString>("name");
    // The name in the call the file manager records; none: no call.
    QTest::addColumn<QByteArray>("encoded");
    // The file manager on the private bus: "answers", "hangs" (takes the call, never answers) or
    // "none".
    QTest::addColumn<QString>("manager");
    QTest::newRow("plain") << "logs_2026-12-07_09.15.00.zip"
                           << QByteArray("logs_2026-12-07_09.15.00.zip") << "answers";
    QTest::newRow("space and umlaut")
        << QStringLiteral("Müller logs.zip") << QByteArray("M%C3%BCller%20logs.zip") << "answers";
    QTest::newRow("percent and hash")
        << "100% #1.zip" << QByteArray("100%25%20%231.zip") << "answers";
    QTest::newRow("no file manager") << "logs.zip" << QByteArray() << "none";
    QTest::newRow("file manager that never answers")
        << "logs.zip" << QByteArray("logs.zip") << "hangs";
}

void tst_CFileManagerLinux::showsTheFileSelected()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, encoded);
    QFETCH(QString, manager);
    if (CTestChild::isChild())
        QSKIP("runs on the private bus only");
    const QString record = environment->root() + "calls";
    QFile::remove(record);
    QVERIFY(manager == "none" || bus->startFileManager(record, manager == "hangs"));
    const auto stop = qScopeGuard([this] { bus->stopFileManager(); });
    const QString file = environment->writeFile("Desktop/" + name, "PK");
    if (manager == "none")
        expectRecord(QtDebugMsg, "no file manager on the session bus to show .*logs\\.zip.*");
    if (manager == "hangs")
        expectRecord(QtWarningMsg, "the file manager did not show .*logs\\.zip.* : "
                                   "org\\.freedesktop\\.DBus\\.Error\\.NoReply .*");
    QCOMPARE(manager == "hangs" ? CFileManager::showItem(file, 300) : CFileManager::showItem(file),
             manager == "answers");
    const QByteArray folder = QUrl::fromLocalFile(environment->root()).toEncoded();
    QCOMPARE(CTestTree::content(record),
             encoded.isEmpty() ? QByteArray("<unreadable>")
                               : "ShowItems\t" + folder + "Desktop/" + encoded + "\t\n");
}

void tst_CFileManagerLinux::withoutSessionBus()
{
    if (!CTestChild::isChild()) {
        QVERIFY(CTestChild::run("withoutSessionBus"));
        return;
    }
    const QString file = environment->writeFile("Desktop/logs.zip", "PK");
    expectRecord(QtDebugMsg, "no session bus: .*");
    QVERIFY(!CFileManager::showItem(file));
}

QTEST_GUILESS_MAIN(tst_CFileManagerLinux)
#include "tst_CFileManagerLinux.moc"
