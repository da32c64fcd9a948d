#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A D-Bus session bus of the test's own, so that no test reaches the real desktop's bus. It
// activates no services; the stand-in file manager (sy_fake_filemanager) is started on it by
// hand. DBUS_SESSION_BUS_ADDRESS points to it while it lives.
class CPrivateSessionBus
{
public:
    CPrivateSessionBus();
    ~CPrivateSessionBus();
    CPrivateSessionBus(const CPrivateSessionBus&) = delete;
    CPrivateSessionBus& operator=(const CPrivateSessionBus&) = delete;

    // False with why() when dbus-daemon could not be started.
    bool isValid() const { return !busAddress.isEmpty(); }
    QString why() const { return failure; }

    // Starts the stand-in FileManager1 service, which appends "ShowItems <uris> <startup id>"
    // to record for each call; with hang it never answers. False when it did not come up.
    bool startFileManager(const QString& record, bool hang = false);
    void stopFileManager();

private:
    QTemporaryDir folder;
    QProcess daemon;
    std::unique_ptr<QProcess> fileManager;
    QString busAddress;
    QString failure;
    QByteArray previousAddress;
    bool hadAddress = false;
};
