// Input: a filter file. It is loaded, saved to another file and loaded again; the second filter
// must hold exactly the rules and options of the first.

#include "iniText/CSerialisedValueCheck.h"
#include "fsFilter/CFSFilterFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

using TList = CFSFilter::TSettings (CFSFilter::*)(quint32) const;
const TList lists[] = {&CFSFilter::excludesDirectory,  &CFSFilter::excludesFile,
                       &CFSFilter::excludesPath,       &CFSFilter::excludesFileType,
                       &CFSFilter::excludesNamePrefix, &CFSFilter::excludesNameSuffix,
                       &CFSFilter::excludesDirPattern, &CFSFilter::excludesFilePattern,
                       &CFSFilter::excludesPathPattern};

// Rules per category and module as sorted "type value" lines (a save orders them by value),
// then the options.
QStringList describe(const CFSFilter& filter)
{
    QStringList result;
    for (const TList list : lists) {
        for (quint32 module = 1; module <= 0x40; module <<= 1) {
            QStringList rules;
            for (const CFSFilterSetting& setting : (filter.*list)(module))
                rules.append(QString::number(setting.type) + QLatin1Char(' ') + setting.value);
            rules.sort();
            result += rules;
            result.append(QStringLiteral("--"));
        }
    }
    const CFSFilter::TOptions options = filter.moduleOptions();
    for (auto it = options.cbegin(); it != options.cend(); ++it)
        result.append(QStringLiteral("%1=%2").arg(it.key()).arg(it.value()));
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(quiet);
    const QTemporaryDir dir;
    if (!dir.isValid())
        std::abort();
    const QString input = dir.filePath(QStringLiteral("input.ini"));
    QFile file(input);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();

    // A file holding a serialised value is refused as a whole; any other file loads.
    CFSFilterFile first(input);
    if (!first.load()) {
        if (CSerialisedValueCheck::mayHoldSerialisedValue(QByteArray::fromRawData(
                reinterpret_cast<const char*>(data), qsizetype(size))))
            return 0;
        std::abort();
    }
    first.setFileName(dir.filePath(QStringLiteral("saved.ini")));
    if (!first.save(false))
        std::abort();
    CFSFilterFile second(first.fileName());
    if (!second.load())
        std::abort();
    if (describe(*first.getFilter()) != describe(*second.getFilter()))
        std::abort();
    return 0;
}
