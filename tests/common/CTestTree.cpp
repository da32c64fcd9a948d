#include "common/CTestTree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

bool CTestTree::make(const QString& root, const QString& tree)
{
    const QStringList entries = tree.split(u';', Qt::SkipEmptyParts);
    for (QString entry : entries) {
        entry.replace(QStringLiteral("%R"), root);
        int mode = -1;
        const qsizetype at = entry.lastIndexOf(u'@');
        if (at > 0) {
            mode = entry.mid(at + 1).toInt(nullptr, 8);
            entry.truncate(at);
        }
        const qsizetype arrow = entry.indexOf(QStringLiteral("->"));
        const qsizetype equals = entry.indexOf(u'=');
        const QString path = root + entry.left(arrow >= 0 ? arrow : equals);
        bool made = false;
        if (arrow >= 0) {
            made = QDir().mkpath(QFileInfo(path).absolutePath()) &&
                   QFile::link(entry.mid(arrow + 2), path);
        } else if (equals >= 0) {
            const QString value = entry.mid(equals + 1);
            made = write(path, value.startsWith(u'*') ? pattern(value.mid(1).toLongLong())
                                                      : value.toUtf8());
            mode = mode < 0 ? 0644 : mode;
        } else {
            made = QDir().mkpath(root + entry);
            mode = mode < 0 ? 0755 : mode;
        }
        if (!made || (mode >= 0 && ::chmod(QFile::encodeName(path).constData(), mode) != 0))
            return false;
    }
    return true;
}

QString CTestTree::describe(const QString& root, bool stamps)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status;
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        QString line = path.mid(root.size());
        const int mode = status.st_mode & 07777;
        if (S_ISLNK(status.st_mode)) {
            char target[4096];
            const ssize_t length =
                ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
            line += QStringLiteral("->") +
                    QFile::decodeName(QByteArray(target, qMax<ssize_t>(length, 0)))
                        .replace(root, QStringLiteral("%R"));
        } else if (S_ISDIR(status.st_mode)) {
            line += u'/';
            if (mode != 0755)
                line += u'@' + QString::number(mode, 8);
        } else if (stamps) {
            line += u'=' + QString::number(status.st_mode, 8);
        } else {
            const QByteArray bytes = content(path);
            line += u'=' + (bytes.size() > 32 && bytes == pattern(bytes.size())
                                ? u'*' + QString::number(bytes.size())
                                : QString::fromUtf8(bytes));
            if (mode != 0644)
                line += u'@' + QString::number(mode, 8);
        }
        if (stamps)
            line += QStringLiteral(" %1 %2")
                        .arg(status.st_size)
                        .arg(status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec);
        lines << line;
    }
    lines.sort();
    return lines.join(u';');
}

QByteArray CTestTree::pattern(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + i % 23);
    return bytes;
}

QByteArray CTestTree::content(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool CTestTree::write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
           file.write(content) == content.size();
}

QByteArray CTestTree::noise(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(data.data()),
                                  size / qsizetype(sizeof(quint32)));
    return data;
}

QString CTestTree::ofBytes(const QString& base, qsizetype bytes, const QString& fill, bool folders)
{
    const qsizetype unit = fill.toUtf8().size();
    QString path = base;
    qsizetype size = path.toUtf8().size();
    while (folders && bytes - size > 251) {
        path += fill.repeated(200 / unit) + u'/';
        size += 200 / unit * unit + 1;
    }
    const qsizetype units = (bytes - size) / unit;
    return path + fill.repeated(units) + QString(bytes - size - units * unit, u'a');
}

bool CTestTree::fill(const QString& folder, qint64 leave)
{
    QFile filler(folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    return filler.resize(std::max<qint64>(0, filler.size() - leave));
}

namespace {

// Walks by descriptors, so that any name and any depth can be made.
const char* const makeScript = R"(
import os, sys
root = os.fsencode(sys.argv[1])
for path in sys.argv[2:]:
    parts = bytes.fromhex(path).split(b'/')
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    for i, part in enumerate(parts):
        if i == len(parts) - 1:
            if part:
                f = os.open(part, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
                os.write(f, b'0123456789')
                os.close(f)
            break
        try:
            os.mkdir(part, dir_fd=fd)
        except FileExistsError:
            pass
        inner = os.open(part, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = inner
    os.close(fd)
)";

} // namespace

bool CTestTree::makeByName(const QString& root, const QList<QByteArray>& paths)
{
    QStringList arguments{QStringLiteral("-c"), QString::fromLatin1(makeScript), root};
    for (const QByteArray& path : paths)
        arguments.append(QString::fromLatin1(path.toHex()));
    return QProcess::execute(QStringLiteral("python3"), arguments) == 0;
}

void CTestTree::removeByName(const QString& path)
{
    QProcess::execute(QStringLiteral("python3"),
                      {QStringLiteral("-c"),
                       QStringLiteral("import shutil, sys; shutil.rmtree(sys.argv[1])"), path});
}

void CTestTree::unlock(const QString& root)
{
    QDirIterator it(root,
                    QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (!it.nextFileInfo().isSymLink())
            ::chmod(QFile::encodeName(it.filePath()).constData(), 0700);
    }
}
