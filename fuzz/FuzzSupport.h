#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

// Helpers shared by the fuzz targets of this folder.
namespace FuzzSupport {

// The library logs every refused input; millions of lines would only slow the fuzzer down.
inline void silenceMessages()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

// Ends the run the way a sanitizer does, so that libFuzzer keeps the input as a crash.
[[noreturn]] inline void finding(const QString& what)
{
    std::fprintf(stderr, "==FINDING== %s\n", qPrintable(what));
    std::fflush(stderr);
    std::abort();
}

// Every entry below root, links not followed, as sorted lines "<relative path> <kind>", leaving
// out skip (a path below root) and what lies beneath it. A file's size is part of its line so
// that a file overwritten with other content is seen too.
inline QStringList listTree(const QString& root, const QString& skip = QString())
{
    const QDir base(root);
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!skip.isEmpty() && (path == skip || path.startsWith(skip + QLatin1Char('/'))))
            continue;
        const QFileInfo info = it.fileInfo();
        QString kind;
        if (info.isSymLink())
            kind = QLatin1String("link to ") + info.symLinkTarget();
        else if (info.isDir())
            kind = QStringLiteral("folder");
        else
            kind = QLatin1String("file of ") + QString::number(info.size());
        lines.append(base.relativeFilePath(path) + QLatin1Char(' ') + kind);
    }
    lines.sort();
    return lines;
}

// The lines of after that are not in before and the other way round, for a finding's text.
inline QString difference(const QStringList& before, const QStringList& after)
{
    QStringList lines;
    for (const QString& line : after) {
        if (!before.contains(line))
            lines.append(QLatin1String("+ ") + line);
    }
    for (const QString& line : before) {
        if (!after.contains(line))
            lines.append(QLatin1String("- ") + line);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace FuzzSupport
