#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// Points HOME, the XDG folders and the working directory into one temporary folder, and the
// session bus at an address where nothing listens, so that a test never touches the real
// user's files or desktop. The previous working directory and variables are
// restored on destruction.
class CTestEnvironment
{
public:
    CTestEnvironment();
    ~CTestEnvironment();
    CTestEnvironment(const CTestEnvironment&) = delete;
    CTestEnvironment& operator=(const CTestEnvironment&) = delete;

    bool isValid() const { return dir.isValid(); }
    // Replaces environment by a new one for the next case; the old one goes first, so that the
    // new one saves the variables as they were before either. False when it has no folder.
    static bool renew(std::unique_ptr<CTestEnvironment>& environment)
    {
        environment.reset();
        environment = std::make_unique<CTestEnvironment>();
        return environment->isValid();
    }
    // Root of the temporary folder, ending with "/".
    QString root() const { return dir.path() + u'/'; }
    QString home() const { return root() + QStringLiteral("home/"); }
    // Creates root()/relative (with parents) and returns it ending with "/".
    QString makeDir(const QString& relative) const;
    // Writes content into root()/relative, creating the parent folders.
    QString writeFile(const QString& relative, const QByteArray& content) const;

private:
    QTemporaryDir dir;
    QString previousWorkingDirectory;
    QList<QPair<QByteArray, QByteArray>> previousVariables;
};

// A test program whose every case runs in a test environment of its own; dir is its root.
class CEnvironmentTest : public QObject
{
    Q_OBJECT

protected Q_SLOTS:
    // A program's own init calls it first.
    void init();

protected:
    std::unique_ptr<CTestEnvironment> environment;
    QString dir;
};
