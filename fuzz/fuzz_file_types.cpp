// The input is a file-types file. Whatever table loading it gives, saving that table and loading
// the saved file must give the same table again; a table the writer refuses must leave no file.

#include "FuzzSupport.h"

#include "fsFilter/CFSFileTypesFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

struct TSandbox
{
    TSandbox()
    {
        if (!root.isValid())
            FuzzSupport::finding(QStringLiteral("no temporary folder"));
        input = root.filePath(QStringLiteral("input.ini"));
        saved = root.filePath(QStringLiteral("saved.ini"));
    }

    QTemporaryDir root;
    QString input;
    QString saved;
};

TSandbox& sandbox()
{
    static TSandbox instance;
    return instance;
}

QString describe(const CFSFileTypes& table)
{
    QStringList lines;
    const auto& groups = table.groupsByType();
    const auto& entries = table.entriesByType();
    for (auto it = groups.cbegin(); it != groups.cend(); ++it)
        lines.append(QStringLiteral("group [%1] = [%2]").arg(it.key(), it.value()));
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        lines.append(QStringLiteral("list [%1] = [%2]").arg(it.key(), it.value().join(u'|')));
    return lines.join(u'\n');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool silenced = (FuzzSupport::silenceMessages(), true);
    Q_UNUSED(silenced);
    const TSandbox& box = sandbox();
    {
        QFile input(box.input);
        if (!input.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            input.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            FuzzSupport::finding(QStringLiteral("could not write ") + box.input);
    }
    QFile::remove(box.saved);

    // A file may be refused as a whole (too large, a serialised value); then there is no table.
    CFSFileTypesFile first(box.input);
    if (!first.load())
        return 0;
    const std::unique_ptr<CFSFileTypes> table(first.getFileTypes());
    if (!table)
        FuzzSupport::finding(QStringLiteral("a loaded file gave no table"));

    CFSFileTypesFile writer(box.saved);
    writer.setFileTypes(table.get());
    if (!writer.save(false)) {
        if (QFileInfo::exists(box.saved))
            FuzzSupport::finding(QStringLiteral("a refused save left a file"));
        return 0;
    }
    CFSFileTypesFile second(box.saved);
    if (!second.load())
        FuzzSupport::finding(QStringLiteral("a saved file was not loaded"));
    const std::unique_ptr<CFSFileTypes> again(second.getFileTypes());
    if (!again || *again != *table)
        FuzzSupport::finding(QStringLiteral("the saved table differs:\n") + describe(*table) +
                             QStringLiteral("\n--- read back ---\n") +
                             (again ? describe(*again) : QStringLiteral("(none)")));
    return 0;
}
