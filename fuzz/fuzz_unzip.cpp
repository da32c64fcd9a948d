// The input is a zip archive, unpacked with CZipper::unzip into a fresh folder. Whatever the
// archive holds, nothing may be written beside or above that folder (the working directory
// included) and no symbolic link may appear inside it.

#include "FuzzSupport.h"

#include "IniFile/zip/CZipper.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// root/archive.zip, root/outer/sentinel, root/outer/inner/sentinel and the target
// root/outer/inner/target: a name with up to three ".." steps lands in the listing. The working
// directory stays as it is: libFuzzer writes its findings relative to it.
struct TSandbox
{
    TSandbox()
    {
        if (!root.isValid())
            FuzzSupport::finding(QStringLiteral("no temporary folder"));
        inner = root.path() + QStringLiteral("/outer/inner");
        target = inner + QStringLiteral("/target");
        archive = root.path() + QStringLiteral("/archive.zip");
        if (!QDir().mkpath(inner) || !writeFile(root.path() + QStringLiteral("/outer/sentinel")) ||
            !writeFile(inner + QStringLiteral("/sentinel")))
            FuzzSupport::finding(QStringLiteral("could not prepare ") + root.path());
    }

    static bool writeFile(const QString& path, const QByteArray& content = "sentinel")
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(content) == content.size();
    }

    QTemporaryDir root;
    QString inner;
    QString target;
    QString archive;
};

TSandbox& sandbox()
{
    static TSandbox instance;
    return instance;
}

void checkTarget(const QString& target)
{
    QDirIterator it(target, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().isSymLink())
            FuzzSupport::finding(QStringLiteral("a symbolic link was unpacked: ") + path);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::silenceMessages();
    sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TSandbox& box = sandbox();
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!TSandbox::writeFile(box.archive, input))
        FuzzSupport::finding(QStringLiteral("could not write ") + box.archive);
    const QStringList before = FuzzSupport::listTree(box.root.path(), box.target);

    CZipper zipper;
    zipper.unzip(box.archive, box.target);

    const QStringList after = FuzzSupport::listTree(box.root.path(), box.target);
    if (after != before)
        FuzzSupport::finding(QStringLiteral("written outside the target folder:\n") +
                             FuzzSupport::difference(before, after));
    checkTarget(box.target);
    if (QFileInfo::exists(box.target) && !QDir(box.target).removeRecursively())
        FuzzSupport::finding(QStringLiteral("could not remove what was unpacked in ") + box.target);
    return 0;
}
